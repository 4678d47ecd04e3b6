#include "apps/orvane-cli/LinkReport.h"

#include "apps/orvane-cli/Console.h"
#include "apps/orvane-cli/PortsCommand.h"
#include "link/LinkStateText.h"
#include "serial/SerialDiagnostics.h"

#include <QFileInfo>

namespace orvane::LinkReport {

void follow(HeadlessClient& client, bool verbose) {
    SerialDiagnostics::setInfoOnStandardError(verbose);
    SerialService& service = client.service();
    QObject::connect(&service, &SerialService::statusTextChanged, &client, [&service] {
        Console::info(QStringLiteral("状态: ") + service.statusText());
    });
    if (BleConnection* ble = client.ble()) {
        QObject::connect(&ble->link(), &BleLink::stateChanged, &client, [ble] {
            Console::info(QStringLiteral("状态: ") + LinkStateText::word(ble->link().state()));
        });
    }
    QObject::connect(&client, &HeadlessClient::connectedChanged, &client, [&client] {
        const QString link = client.linkName();
        Console::info(client.isConnected() ? QStringLiteral("已连接 ") + link
                                           : QStringLiteral("连接已断开 ") + link);
    });
    QObject::connect(&service, &SerialService::connectHintChanged, &client, [&service] {
        if (!service.connectHint().isEmpty()) {
            Console::info(QStringLiteral("提示: ") + service.connectHint());
        }
    });
    QObject::connect(&client, &HeadlessClient::warning, &client, [](const QString& line) {
        Console::warning(QStringLiteral("警告: ") + line);
    });
    if (verbose) {
        QObject::connect(&client, &HeadlessClient::logLine, &client,
                         [](const QString& line) { Console::info(line); });
    }
}

void noteIfMissing(const QString& port, const QString& deviceDirectory, const QString& then) {
    if (QFileInfo::exists(port)) {
        return;
    }
    QStringList present;
    for (const SerialPortInfo& info : portDiscoveryIn(deviceDirectory).listPortsOnce()) {
        present.append(info.displayName());
    }
    const QString ports = present.isEmpty()
                              ? QStringLiteral("%1 中没有串口").arg(deviceDirectory)
                              : QStringLiteral("现有串口: ") + present.join(QStringLiteral(", "));
    Console::warning(QStringLiteral("串口 %1 不存在 · %2 · %3").arg(port, ports, then));
}

void attachBle(HeadlessClient& client, const QString& address) {
    if (address.isEmpty()) {
        return;
    }
    client.useBle(
        address, [](const QString& status) { Console::info(QStringLiteral("蓝牙: ") + status); },
        [](const QString& line) { Console::warning(QStringLiteral("警告: ") + line); });
}

} // namespace orvane::LinkReport
