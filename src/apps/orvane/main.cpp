// The Orvane program. Until the tray application lands it opens the data directory
// and the store the way the application does at start-up, and reports what it finds:
// the settings in force and the clipboard history, newest first.

#include "platform/linux/XWaylandFallback.h"
#include "storage/AppFiles.h"
#include "storage/AppStore.h"
#include "storage/ClipboardRecordMapping.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTextStream>

using namespace orvane;

namespace {

QString yesNo(bool value) {
    return value ? QStringLiteral("on") : QStringLiteral("off");
}

QString kindName(ClipboardKind kind) {
    return clipboardKindRawValue(kind);
}

} // namespace

int main(int argc, char** argv) {
    // Decided before any Qt application object exists: the platform is chosen then.
    const QString platformLine = XWaylandFallback::applyToProcess();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Orvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);

    out << "Orvane " << QCoreApplication::applicationVersion() << "\n";
    if (!platformLine.isEmpty()) {
        out << "SYS " << platformLine << "\n";
    }
    const auto dataDir = AppFiles::appDataDir();
    if (!dataDir) {
        err << "配置存储不可用: " << dataDir.error().description() << "\n";
        return 1;
    }
    out << "data directory: " << dataDir.value() << "\n";

    auto store = AppStore::open();
    if (!store) {
        err << "配置存储不可用: " << store.error().description() << "\n";
        return 1;
    }
    const auto settings = store.value()->getSettings();
    if (!settings) {
        err << "配置存储不可用: " << settings.error().description() << "\n";
        return 1;
    }
    const AppSettings& s = settings.value();
    out << "serial port: " << (s.serialPort.isEmpty() ? QStringLiteral("-") : s.serialPort) << " @ "
        << s.baudRate << " baud\n"
        << "bluetooth device: "
        << (s.bluetoothDeviceID.isEmpty()
                ? QStringLiteral("-")
                : s.bluetoothDeviceName + " (" + s.bluetoothDeviceID + ")")
        << "\n"
        << "start at login: " << yesNo(s.autostart)
        << ", serial debug log: " << yesNo(s.serialDebugLogEnabled) << "\n";

    const auto records = store.value()->listClipboardRecords(AppStore::historyCapacity);
    if (!records) {
        err << "history unavailable: " << records.error().description() << "\n";
        return 1;
    }
    out << "clipboard history: " << records->size() << " entries\n";
    for (const ClipboardRecord& record : records.value()) {
        const ClipboardEntry entry = ClipboardRecordMapping::entryFromRecord(record);
        QString preview = entry.text.simplified();
        if (preview.size() > 60) {
            preview = preview.first(59) + QChar(0x2026);
        }
        out << "  #" << entry.id << "  "
            << QDateTime::fromMSecsSinceEpoch(entry.timestamp).toString(Qt::ISODate) << "  "
            << kindName(entry.kind) << "  " << entry.dataSize << " B  " << preview << "\n";
    }
    return 0;
}
