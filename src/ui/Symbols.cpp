#include "ui/Symbols.h"

#include <QHash>
#include <QPainter>

namespace orvane::Symbols {

namespace {

struct Mapping {
    const char* themeName; // empty: always the bundled drawing
    const char* resource;
};

const QHash<QString, Mapping>& mappings() {
    static const QHash<QString, Mapping> table{
        {QStringLiteral("list.clipboard"), {"edit-paste-symbolic", ":/icons/clipboard.svg"}},
        {QStringLiteral("gearshape"), {"preferences-system-symbolic", ":/icons/settings.svg"}},
        {QStringLiteral("photo"), {"image-x-generic-symbolic", ":/icons/photo.svg"}},
        {QStringLiteral("checkmark.circle.fill"), {"", ":/icons/success.svg"}},
        {QStringLiteral("xmark.circle.fill"), {"", ":/icons/error.svg"}},
        {QStringLiteral("exclamationmark.triangle.fill"), {"", ":/icons/warning.svg"}},
        {QStringLiteral("orvane"), {"orvane", ":/icons/orvane.svg"}},
    };
    return table;
}

} // namespace

QIcon icon(const QString& symbol) {
    const auto it = mappings().constFind(symbol);
    Q_ASSERT(it != mappings().constEnd());
    if (it == mappings().constEnd()) {
        return {};
    }
    const QIcon bundled(QString::fromLatin1(it->resource));
    if (*it->themeName == '\0') {
        return bundled;
    }
    return QIcon::fromTheme(QString::fromLatin1(it->themeName), bundled);
}

QPixmap tinted(const QString& symbol, int size, const QColor& color, qreal devicePixelRatio) {
    QPixmap pixmap = icon(symbol).pixmap(QSize(size, size), devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    return pixmap;
}

} // namespace orvane::Symbols
