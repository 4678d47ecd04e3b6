#include "apps/orvane-cli/ScanCommand.h"

#include "apps/orvane-cli/CliExitCode.h"
#include "apps/orvane-cli/Console.h"
#include "bluetooth/BluetoothService.h"
#include "platform/linux/QtBluetoothCentral.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>

namespace orvane {

namespace {

// The adapter reports its state at once; this only bounds a BlueZ that hangs.
constexpr int stateWaitMs = 5000;
constexpr int minScanSeconds = 1;
constexpr int maxScanSeconds = 3600;
const QString secondsOption = QStringLiteral("seconds");

struct Found {
    BLEUARTDevice device;
    QString bridge; // the bridge service's UUID as advertised, or empty
};

void printLine(std::FILE* stream, const QByteArray& line) {
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

QByteArray describe(const Found& found, bool json) {
    if (json) {
        QJsonObject object = found.device.toJson();
        object.insert(QStringLiteral("bridge"),
                      found.bridge.isEmpty() ? QJsonValue() : QJsonValue(found.bridge));
        return QJsonDocument(object).toJson(QJsonDocument::Compact);
    }
    QString line =
        QStringLiteral("%1  %2 dBm  %3")
            .arg(found.device.id)
            .arg(found.device.rssi, 4)
            .arg(found.device.name.isEmpty() ? QStringLiteral("(无名称)") : found.device.name);
    if (!found.bridge.isEmpty()) {
        line += QStringLiteral("  [UART %1]").arg(found.bridge);
    }
    return line.toUtf8();
}

int runScan(bool json, int seconds) {
    BluetoothService service(std::make_unique<QtBluetoothCentral>(), BluetoothService::Callbacks{});
    // In order of first sighting, kept across the service's own 10-second scans.
    QList<Found> found;
    service.setOnAdvertisement([&found](const BluetoothCentral::Advertisement& advertisement) {
        QString bridge;
        for (const QString& uuid : advertisement.serviceUUIDs) {
            if (BluetoothService::isBridgeService(uuid)) {
                bridge = uuid;
            }
        }
        for (Found& known : found) {
            if (known.device.id == advertisement.id) {
                known.bridge = bridge.isEmpty() ? known.bridge : bridge;
                return;
            }
        }
        const QString name =
            advertisement.peripheralName.value_or(advertisement.localName.value_or(QString()));
        found.append({{advertisement.id, name, advertisement.rssi}, bridge});
    });
    QObject::connect(&service, &BluetoothService::devicesChanged, &service, [&] {
        for (const BLEUARTDevice& device : service.devices()) {
            for (Found& known : found) {
                if (known.device.id == device.id) {
                    known.device = device;
                }
            }
        }
    });

    int result = 0;
    bool started = false;
    const auto finish = [&](int code) {
        result = code;
        QCoreApplication::exit(code);
    };
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &service, [&] {
        if (!started) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(service.statusText()));
            finish(CliExitCode::failure);
            return;
        }
        service.stopScan();
        for (const Found& item : found) {
            printLine(stdout, describe(item, json));
        }
        std::fprintf(stderr, "%s\n", qUtf8Printable(service.statusText()));
        finish(CliExitCode::success);
    });
    QObject::connect(&service, &BluetoothService::statusTextChanged, &service, [&] {
        // Once the adapter has answered, any state but "on" is final for a scan. The state
        // the text tells of, not the central's, which may be a report ahead.
        const BluetoothCentral::State state = service.adapterState();
        if (!started && state != BluetoothCentral::State::poweredOn &&
            state != BluetoothCentral::State::unknown) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(service.statusText()));
            finish(CliExitCode::failure);
        }
    });
    QObject::connect(&service, &BluetoothService::isScanningChanged, &service, [&] {
        if (service.isScanning()) {
            if (!started) {
                started = true;
                deadline.start(seconds * 1000);
            }
        } else if (started && deadline.isActive()) {
            service.startScan(); // the service's scan is shorter than asked: go on
        }
    });
    deadline.start(stateWaitMs);
    QCoreApplication::exec();
    return result;
}

int runScanCommand(const CliInvocation& invocation) {
    bool ok = false;
    const int seconds = invocation.value(secondsOption).toInt(&ok);
    if (!ok || seconds < minScanSeconds || seconds > maxScanSeconds) {
        Console::error(
            QStringLiteral("orvane-cli: scan: --seconds takes whole seconds from %1 to %2, not "
                           "\"%3\"")
                .arg(minScanSeconds)
                .arg(maxScanSeconds)
                .arg(invocation.value(secondsOption)));
        return CliExitCode::usage;
    }
    return runScan(invocation.isSet(QStringLiteral("json")), seconds);
}

} // namespace

CliCommand scanCommand() {
    return CliCommand{
        QStringLiteral("scan"),
        QStringLiteral("[--seconds N] [--json]"),
        QStringLiteral("list the BLE peripherals in range and the UART bridge each offers"),
        {},
        {
            QCommandLineOption(secondsOption,
                               QStringLiteral("how long to scan, %1 to %2 seconds (default 10)")
                                   .arg(minScanSeconds)
                                   .arg(maxScanSeconds),
                               QStringLiteral("seconds"), QStringLiteral("10")),
            jsonOption(),
        },
        runScanCommand,
    };
}

} // namespace orvane
