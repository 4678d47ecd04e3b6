#include "bluetooth/BLEUUIDs.h"

namespace orvane::BLEUUIDs {

QString canonical(const QString& uuid) {
    QString text = uuid.trimmed().toUpper();
    if (text.startsWith(u'{') && text.endsWith(u'}')) {
        text = text.mid(1, text.size() - 2);
    }
    if (text.startsWith(QStringLiteral("0X"))) {
        text = text.mid(2);
    }
    bool ok = false;
    if ((text.size() == 4 || text.size() == 8) && (text.toUInt(&ok, 16), ok)) {
        return text.rightJustified(8, u'0') + QStringLiteral("-0000-1000-8000-00805F9B34FB");
    }
    return text;
}

} // namespace orvane::BLEUUIDs
