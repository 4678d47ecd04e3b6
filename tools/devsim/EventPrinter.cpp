#include "EventPrinter.h"

#include <QDateTime>
#include <QJsonDocument>

namespace orvane::devsim {

EventPrinter::EventPrinter(bool json, std::FILE* out)
    : json_(json)
    , out_(out) {}

void EventPrinter::report(const QString& kind, const QString& text, const QJsonObject& fields) {
    const QDateTime now = QDateTime::currentDateTime();
    QByteArray line;
    if (json_) {
        QJsonObject object = fields;
        object.insert(QStringLiteral("event"), kind);
        object.insert(QStringLiteral("time"), now.toString(Qt::ISODateWithMs));
        object.insert(QStringLiteral("text"), text);
        line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    } else {
        line = (now.toString(QStringLiteral("HH:mm:ss.zzz ")) + text).toUtf8();
    }
    line.append('\n');
    std::fwrite(line.constData(), 1, size_t(line.size()), out_);
    // Whoever reads our output (a terminal, a pipe, a test) should see each event at once.
    std::fflush(out_);
}

} // namespace orvane::devsim
