#include "apps/orvane-cli/ShowCommand.h"

#include "apps/orvane-cli/CliExitCode.h"
#include "apps/orvane-cli/Console.h"
#include "apps/orvane-cli/RunningProgram.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace orvane {

namespace {

// The orvane installed with us first, so that a build tree or a package in another
// prefix starts its own program; then whatever PATH finds.
QString findProgram() {
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/orvane");
    if (QFileInfo(beside).isExecutable()) {
        return beside;
    }
    return QStandardPaths::findExecutable(QStringLiteral("orvane"));
}

int runShow(const CliInvocation&) {
    if (const auto program = RunningProgram::find()) {
        const RunningProgram::Reply reply = program->call(QStringLiteral("ShowWindow"));
        if (!reply.error) {
            return CliExitCode::success;
        }
        Console::error(reply.error->text());
        return CliExitCode::failure;
    }
    const QString path = findProgram();
    if (path.isEmpty()) {
        Console::error(QStringLiteral("orvane 没有运行，也没有找到 orvane 程序"));
        return CliExitCode::failure;
    }
    // Detached: the window outlives this command.
    if (!QProcess::startDetached(path, {})) {
        Console::error(QStringLiteral("无法启动 %1").arg(path));
        return CliExitCode::failure;
    }
    Console::info(QStringLiteral("已启动 %1").arg(path));
    return CliExitCode::success;
}

} // namespace

CliCommand showCommand() {
    return CliCommand{
        QStringLiteral("show"),
        QString(),
        QStringLiteral("show the running orvane's window; start orvane when it does not run"),
        {},
        {},
        runShow,
    };
}

} // namespace orvane
