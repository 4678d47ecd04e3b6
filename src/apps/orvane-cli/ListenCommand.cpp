#include "apps/orvane-cli/ListenCommand.h"

#include "apps/orvane-cli/CliExitCode.h"
#include "apps/orvane-cli/Console.h"
#include "apps/orvane-cli/DeliveryReport.h"
#include "apps/orvane-cli/HeadlessClient.h"
#include "apps/orvane-cli/LinkReport.h"
#include "platform/linux/TerminationSignals.h"

#include <QCoreApplication>

namespace orvane {

namespace {

int runListen(const CliInvocation& invocation) {
    TerminationSignals termination;
    if (!termination.isInstalled()) {
        Console::error(QStringLiteral("cannot install the SIGINT/SIGTERM handlers"));
        return CliExitCode::failure;
    }
    const bool json = invocation.isSet(QStringLiteral("json"));
    const QString ble = invocation.value(QStringLiteral("ble"));
    HeadlessClient client(invocation.arguments().value(0));
    if (ble.isEmpty()) {
        LinkReport::noteIfMissing(client.portPath(), invocation.deviceDirectory(),
                                  QStringLiteral("等待它出现"));
    }
    LinkReport::attachBle(client, ble);
    LinkReport::follow(client, invocation.verbose());
    QObject::connect(
        &client, &HeadlessClient::itemDelivered, &client, [json](const ClipboardEntry& entry) {
            Console::out(json ? DeliveryReport::jsonLine(entry) : DeliveryReport::textLine(entry));
        });
    // Stopping is how listening ends, so it is a success.
    QObject::connect(&termination, &TerminationSignals::received, &client, [&client] {
        client.stop();
        QCoreApplication::exit(CliExitCode::success);
    });
    Console::info(
        QStringLiteral("监听 %1 (Ctrl-C 结束)").arg(ble.isEmpty() ? client.portPath() : ble));
    client.start();
    return QCoreApplication::exec();
}

} // namespace

CliCommand listenCommand() {
    return CliCommand{
        QStringLiteral("listen"),
        QStringLiteral("(<port> | --ble ADDRESS) [--json]"),
        QStringLiteral("hold the link until interrupted, answer the device and report each item "
                       "it pushes"),
        {QStringLiteral("port")},
        {bleOption(), jsonOption()},
        runListen,
    };
}

} // namespace orvane
