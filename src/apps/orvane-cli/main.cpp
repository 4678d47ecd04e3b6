// orvane-cli: the link stack of the application without a desktop, for headless machines
// and scripts. Each command lives in a unit of its own; this file only lists them.

#include "apps/orvane-cli/CommandLine.h"
#include "apps/orvane-cli/HistoryCommand.h"
#include "apps/orvane-cli/ListenCommand.h"
#include "apps/orvane-cli/PortsCommand.h"
#include "apps/orvane-cli/ScanCommand.h"
#include "apps/orvane-cli/SendCommand.h"
#include "apps/orvane-cli/ShowCommand.h"
#include "apps/orvane-cli/StatusCommand.h"
#include "serial/DiagnosticsMessageHandler.h"
#include "serial/SerialDiagnostics.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    orvane::DiagnosticsMessageHandler::install();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvane-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));

    orvane::CommandLine commandLine({orvane::listenCommand(), orvane::sendCommand(),
                                     orvane::statusCommand(), orvane::historyCommand(),
                                     orvane::showCommand(), orvane::portsCommand(),
                                     orvane::scanCommand()});
    const int result = commandLine.run(QCoreApplication::arguments());
    orvane::SerialDiagnostics::flush();
    return result;
}
