#include "apps/orvane-cli/PortsCommand.h"

#include "apps/orvane-cli/CliExitCode.h"
#include "apps/orvane-cli/Console.h"
#include "platform/linux/LinuxSerialDeviceSource.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace orvane {

namespace {

int runPorts(const CliInvocation& invocation) {
    const SerialPortDiscovery discovery = portDiscoveryIn(invocation.deviceDirectory());
    const bool json = invocation.isSet(QStringLiteral("json"));
    QJsonArray array;
    QByteArray lines;
    for (const SerialPortInfo& port : discovery.listPortsOnce()) {
        const bool free = discovery.canOpenPort(port.path);
        const std::optional<QString> holder =
            free ? std::nullopt : discovery.describePortOccupier(port.path);
        if (json) {
            array.append(QJsonObject{
                {QStringLiteral("path"), port.path},
                {QStringLiteral("label"), port.label},
                {QStringLiteral("free"), free},
                {QStringLiteral("holder"), holder ? QJsonValue(*holder) : QJsonValue()},
            });
            continue;
        }
        const QString state = free     ? QStringLiteral("可以打开")
                              : holder ? QStringLiteral("%1 占用").arg(*holder)
                                       : QStringLiteral("无法打开");
        lines += (port.displayName() + QStringLiteral(" · ") + state + u'\n').toUtf8();
    }
    if (json) {
        Console::out(QJsonDocument(array).toJson(QJsonDocument::Compact) + '\n');
    } else if (lines.isEmpty()) {
        Console::info(QStringLiteral("没有找到串口 (%1)").arg(invocation.deviceDirectory()));
    } else {
        Console::out(lines);
    }
    return CliExitCode::success;
}

} // namespace

SerialPortDiscovery portDiscoveryIn(const QString& directory) {
    LinuxSerialDeviceSource::Config config;
    config.directories.first().directory = directory;
    return SerialPortDiscovery(std::make_shared<LinuxSerialDeviceSource>(config));
}

CliCommand portsCommand() {
    return CliCommand{
        QStringLiteral("ports"),
        QStringLiteral("[--json]"),
        QStringLiteral("list the serial ports, whether each can be opened and who holds it"),
        {},
        {jsonOption()},
        runPorts,
    };
}

} // namespace orvane
