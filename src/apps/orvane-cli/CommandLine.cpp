#include "apps/orvane-cli/CommandLine.h"

#include "apps/orvane-cli/CliExitCode.h"
#include "apps/orvane-cli/Console.h"

#include <QCoreApplication>
#include <QSet>

#include <algorithm>

namespace orvane {

namespace {

QString optionName(const QCommandLineOption& option) {
    return option.names().constLast();
}

bool takes(const CliCommand& command, const QString& name) {
    for (const QCommandLineOption& option : command.options) {
        if (option.names().contains(name)) {
            return true;
        }
    }
    return false;
}

} // namespace

CommandLine::CommandLine(QList<CliCommand> commands)
    : commands_(std::move(commands)) {
    commonOptions_ = {
        QCommandLineOption(QStringLiteral("verbose"),
                           QStringLiteral("the protocol log lines on standard error too")),
        QCommandLineOption(QStringLiteral("dev-dir"),
                           QStringLiteral("where to look for serial ports (default /dev)"),
                           QStringLiteral("directory"), QStringLiteral("/dev")),
    };

    QString description = QStringLiteral(
        "Orvane without a desktop: holds the serial or BLE link to a KVM device. When the "
        "desktop program\norvane runs, send and listen go through it (on the session bus) "
        "unless another link is\nnamed; standard error says which way was taken.\n\n"
        "Commands:\n");
    for (const CliCommand& command : std::as_const(commands_)) {
        description += QStringLiteral("  %1 %2\n      %3\n")
                           .arg(command.name, command.arguments, command.summary);
    }
    description += QStringLiteral(
        "\nExit codes:\n"
        "  0    success (listen: stopped by SIGINT or SIGTERM)\n"
        "  1    the operation failed\n"
        "  2    usage error: unknown command or option, an option of another command,\n"
        "       a missing or invalid argument\n"
        "  130  interrupted by SIGINT or SIGTERM before the operation finished");
    parser_.setApplicationDescription(description);
    parser_.addHelpOption();
    parser_.addVersionOption();
    parser_.addPositionalArgument(QStringLiteral("command"),
                                  QStringLiteral("one of the commands above"),
                                  QStringLiteral("<command> [<port>]"));
    for (const QCommandLineOption& option : std::as_const(commonOptions_)) {
        parser_.addOption(option);
    }
    // Each option once, described with the commands that take it.
    QSet<QString> added;
    for (const CliCommand& command : std::as_const(commands_)) {
        for (const QCommandLineOption& option : command.options) {
            const QString name = optionName(option);
            if (added.contains(name)) {
                continue;
            }
            added.insert(name);
            QCommandLineOption described(option.names(),
                                         ownersOf(name).join(QStringLiteral(", ")) +
                                             QStringLiteral(": ") + option.description(),
                                         option.valueName(), option.defaultValues().value(0));
            parser_.addOption(described);
        }
    }
}

int CommandLine::run(const QStringList& arguments) {
    if (!parser_.parse(arguments)) {
        return usageError(parser_.errorText());
    }
    if (parser_.isSet(QStringLiteral("help"))) {
        Console::out(helpText().toUtf8());
        return CliExitCode::success;
    }
    if (parser_.isSet(QStringLiteral("version"))) {
        Console::out((QCoreApplication::applicationName() + u' ' +
                      QCoreApplication::applicationVersion() + u'\n')
                         .toUtf8());
        return CliExitCode::success;
    }
    const QStringList positional = parser_.positionalArguments();
    if (positional.isEmpty()) {
        return usageError(QStringLiteral("no command given"));
    }
    const CliCommand* command = find(positional.first());
    if (!command) {
        return usageError(QStringLiteral("unknown command \"%1\"").arg(positional.first()));
    }
    const QStringList rest = positional.mid(1);
    QStringList expected = command->positional;
    if (takes(*command, QStringLiteral("ble")) && parser_.isSet(QStringLiteral("ble"))) {
        // The BLE bridge takes the place of the port.
        expected.removeAll(QStringLiteral("port"));
        if (rest.size() == command->positional.size()) {
            return usageError(QStringLiteral("give either <port> or --ble, not both"), command);
        }
    }
    const qsizetype least = std::max<qsizetype>(0, expected.size() - command->optionalArguments);
    if (rest.size() < least || rest.size() > expected.size()) {
        return usageError(
            expected.isEmpty()
                ? QStringLiteral("%1 takes no arguments").arg(command->name)
                : QStringLiteral("%1 takes %2%3")
                      .arg(command->name,
                           least < expected.size() ? QStringLiteral("at most ") : QString(),
                           u'<' + expected.join(QStringLiteral("> <")) + u'>'),
            command);
    }
    for (const QString& name : parser_.optionNames()) {
        bool common = false;
        for (const QCommandLineOption& option : std::as_const(commonOptions_)) {
            common = common || option.names().contains(name);
        }
        if (!common && !takes(*command, name)) {
            return usageError(
                QStringLiteral("--%1 is not an option of %2 (it belongs to %3)")
                    .arg(name, command->name, ownersOf(name).join(QStringLiteral(", "))),
                command);
        }
    }
    return command->run(CliInvocation(parser_, rest));
}

QString CommandLine::helpText() const {
    return parser_.helpText();
}

int CommandLine::usageError(const QString& message, const CliCommand* command) const {
    Console::error(QStringLiteral("orvane-cli: ") + message);
    Console::error(
        command ? QStringLiteral("usage: orvane-cli %1 %2").arg(command->name, command->arguments)
                : QStringLiteral("usage: orvane-cli <command> [options] "
                                 "(orvane-cli --help lists them)"));
    return CliExitCode::usage;
}

const CliCommand* CommandLine::find(const QString& name) const {
    for (const CliCommand& command : commands_) {
        if (command.name == name) {
            return &command;
        }
    }
    return nullptr;
}

QStringList CommandLine::ownersOf(const QString& name) const {
    QStringList owners;
    for (const CliCommand& command : commands_) {
        if (takes(command, name)) {
            owners.append(command.name);
        }
    }
    return owners;
}

} // namespace orvane
