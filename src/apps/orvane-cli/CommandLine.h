#pragma once

#include "apps/orvane-cli/CliCommand.h"

#include <QCommandLineParser>
#include <QList>
#include <QStringList>

namespace orvane {

// orvane-cli's command line: finds the command, refuses what it does not take (unknown
// options, options of another command, wrong argument counts) with exit code 2, answers
// --help and --version, and runs the command.
class CommandLine {
public:
    explicit CommandLine(QList<CliCommand> commands);

    // `arguments` includes the program name first, as QCoreApplication::arguments() has it.
    int run(const QStringList& arguments);

    QString helpText() const;

private:
    int usageError(const QString& message, const CliCommand* command = nullptr) const;
    const CliCommand* find(const QString& name) const;
    // The commands that take the option called `name`.
    QStringList ownersOf(const QString& name) const;

    QList<CliCommand> commands_;
    QList<QCommandLineOption> commonOptions_;
    QCommandLineParser parser_;
};

} // namespace orvane
