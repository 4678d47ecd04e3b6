#include "apps/orvane-cli/StatusCommand.h"

#include "apps/orvane-cli/CliExitCode.h"
#include "apps/orvane-cli/Console.h"
#include "apps/orvane-cli/RunningProgram.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace orvane {

namespace {

int runStatus(const CliInvocation& invocation) {
    const bool json = invocation.isSet(QStringLiteral("json"));
    const auto program = RunningProgram::find();
    if (!program) {
        if (json) {
            Console::out(R"({"running":false})"
                         "\n");
        }
        Console::error(QStringLiteral("orvane 没有运行"));
        return CliExitCode::failure;
    }
    const auto value = [&program](const char* name) {
        return program->property(QString::fromLatin1(name));
    };
    if (json) {
        const QJsonObject object{
            {QStringLiteral("running"), true},
            {QStringLiteral("link"), value("Link")},
            {QStringLiteral("linkState"), value("LinkState")},
            {QStringLiteral("port"), value("Port")},
            {QStringLiteral("deviceName"), value("DeviceName")},
            {QStringLiteral("statusText"), value("StatusText")},
            {QStringLiteral("sending"), program->isSending()},
            {QStringLiteral("version"), value("Version")},
        };
        Console::out(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
        return CliExitCode::success;
    }
    const QString lines =
        QStringLiteral("orvane %1\n"
                       "连接: %2 · %3\n"
                       "端口: %4\n"
                       "设备: %5\n"
                       "状态: %6\n"
                       "发送中: %7\n")
            .arg(value("Version"), value("Link"), value("LinkState"), value("Port"),
                 value("DeviceName"), value("StatusText"),
                 program->isSending() ? QStringLiteral("是") : QStringLiteral("否"));
    Console::out(lines.toUtf8());
    return CliExitCode::success;
}

} // namespace

CliCommand statusCommand() {
    return CliCommand{
        QStringLiteral("status"),
        QStringLiteral("[--json]"),
        QStringLiteral("the running orvane's link, its state and version (exit code 1 when "
                       "orvane does not run)"),
        {},
        {jsonOption()},
        runStatus,
    };
}

} // namespace orvane
