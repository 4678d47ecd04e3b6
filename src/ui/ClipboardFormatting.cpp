#include "ui/ClipboardFormatting.h"

#include <QTimeZone>

namespace orvane::ClipboardFormatting {

QString formatDataSize(qint64 bytes) {
    constexpr qint64 kib = 1024;
    constexpr qint64 mib = 1024 * 1024;
    if (bytes < kib) {
        return QString::number(bytes) + QStringLiteral(" B");
    }
    if (bytes < mib) {
        return QString::asprintf("%.1f KB", static_cast<double>(bytes) / kib);
    }
    return QString::asprintf("%.1f MB", static_cast<double>(bytes) / mib);
}

QString formatTime(qint64 ms, const QDateTime& now) {
    if (ms < 1) {
        return QStringLiteral("--");
    }
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(ms, now.timeZone());
    const QDate today = now.date();
    if (when.date() == today) {
        return when.toString(QStringLiteral("HH:mm:ss"));
    }
    if (when.date() == today.addDays(-1)) {
        return QStringLiteral("昨天 ") + when.toString(QStringLiteral("HH:mm"));
    }
    return when.toString(QStringLiteral("MM-dd HH:mm"));
}

QString preview(const ClipboardEntry& entry) {
    switch (entry.kind) {
    case ClipboardKind::text: {
        const QString trimmed = entry.text.trimmed();
        return trimmed.isEmpty() ? QStringLiteral("空文本") : trimmed;
    }
    case ClipboardKind::files:
        return entry.files.join(QStringLiteral(" · "));
    case ClipboardKind::image:
        return QStringLiteral("截图");
    }
    return {};
}

QString previewPanelText(const QString& text) {
    if (text.size() <= previewPanelMaxChars) {
        return text;
    }
    qsizetype cut = previewPanelMaxChars;
    const qsizetype lineEnd = text.lastIndexOf(QLatin1Char('\n'), cut - 1);
    if (lineEnd >= previewPanelMaxChars * 3 / 4) {
        cut = lineEnd;
    } else if (text.at(cut - 1).isHighSurrogate()) {
        --cut; // never half a character
    }
    return text.left(cut) + QStringLiteral("\n…（预览仅显示前 %1 个字符，全文共 %2 个字符）")
                                .arg(cut)
                                .arg(text.size());
}

} // namespace orvane::ClipboardFormatting
