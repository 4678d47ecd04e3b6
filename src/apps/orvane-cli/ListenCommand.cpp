#include "apps/orvane-cli/ListenCommand.h"

#include "apps/orvane-cli/CliExitCode.h"
#include "apps/orvane-cli/Console.h"
#include "apps/orvane-cli/DeliveryReport.h"
#include "apps/orvane-cli/HeadlessClient.h"
#include "apps/orvane-cli/LinkReport.h"
#include "apps/orvane-cli/RunningProgram.h"
#include "platform/linux/TerminationSignals.h"

#include <QCoreApplication>

namespace orvane {

namespace {

void print(const ClipboardEntry& entry, bool json) {
    Console::out(json ? DeliveryReport::jsonLine(entry) : DeliveryReport::textLine(entry));
}

// The program holds the link, stores what arrives and puts it on the clipboard; we only
// report it.
int listenThroughProgram(RunningProgram& program, TerminationSignals& termination, bool json) {
    QObject::connect(&program, &RunningProgram::itemReceived, &program,
                     [json](const ClipboardEntry& entry) { print(entry, json); });
    QObject::connect(&program, &RunningProgram::vanished, &program, [] {
        Console::error(QStringLiteral("orvane 已退出，监听结束"));
        QCoreApplication::exit(CliExitCode::failure);
    });
    QObject::connect(&termination, &TerminationSignals::received, &program,
                     [] { QCoreApplication::exit(CliExitCode::success); });
    Console::info(QStringLiteral("经由正在运行的 orvane 监听%1 (Ctrl-C 结束)")
                      .arg(program.linkDescription()));
    return QCoreApplication::exec();
}

int runListen(const CliInvocation& invocation) {
    TerminationSignals termination;
    if (!termination.isInstalled()) {
        Console::error(QStringLiteral("cannot install the SIGINT/SIGTERM handlers"));
        return CliExitCode::failure;
    }
    const bool json = invocation.isSet(QStringLiteral("json"));
    const QString port = invocation.arguments().value(0);
    const QString ble = invocation.value(QStringLiteral("ble"));
    const bool named = !port.isEmpty() || !ble.isEmpty();
    if (const auto program = RunningProgram::findHolding(port, ble)) {
        return listenThroughProgram(*program, termination, json);
    }
    if (!named) {
        Console::error(QStringLiteral("orvane-cli: listen: no port given and no running orvane "
                                      "(orvane-cli listen <port> or --ble ADDRESS)"));
        return CliExitCode::usage;
    }
    HeadlessClient client(port);
    if (ble.isEmpty()) {
        LinkReport::noteIfMissing(client.portPath(), invocation.deviceDirectory(),
                                  QStringLiteral("等待它出现"));
    }
    LinkReport::attachBle(client, ble);
    LinkReport::follow(client, invocation.verbose());
    QObject::connect(&client, &HeadlessClient::itemDelivered, &client,
                     [json](const ClipboardEntry& entry) { print(entry, json); });
    // Stopping is how listening ends, so it is a success.
    QObject::connect(&termination, &TerminationSignals::received, &client, [&client] {
        client.stop();
        QCoreApplication::exit(CliExitCode::success);
    });
    Console::info(QStringLiteral("直接打开 %1 监听 (Ctrl-C 结束)")
                      .arg(ble.isEmpty() ? client.portPath() : ble));
    client.start();
    return QCoreApplication::exec();
}

} // namespace

CliCommand listenCommand() {
    return CliCommand{
        QStringLiteral("listen"),
        QStringLiteral("[<port> | --ble ADDRESS] [--json]"),
        QStringLiteral("hold the link until interrupted, answer the device and report each item "
                       "it pushes"),
        {QStringLiteral("port")},
        {bleOption(), jsonOption()},
        runListen,
        1,
    };
}

} // namespace orvane
