#pragma once

#include "apps/orvane-cli/CliInvocation.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace orvane {

// One orvane-cli command: what it is called, what it takes, and what it does. A command
// accepts the options common to all (--verbose, --dev-dir) plus its own; any other option
// on its command line is a usage error.
struct CliCommand {
    QString name;
    QString arguments;      // shown after the name in --help, e.g. "<port> [--json]"
    QString summary;        // one line in --help
    QStringList positional; // names of the arguments that follow the command name
    QList<QCommandLineOption> options;
    // Runs on the main thread with the application object in place; returns the exit code.
    std::function<int(const CliInvocation&)> run;
    // How many of the positional arguments, from the last, may be left out.
    int optionalArguments = 0;
};

// --ble, for the commands that can hold the link over a BLE bridge instead of a port: with
// it, the command takes no <port>.
inline QCommandLineOption bleOption() {
    return QCommandLineOption(QStringLiteral("ble"),
                              QStringLiteral("the BLE bridge to use instead of a serial port"),
                              QStringLiteral("address"));
}

// --json, one description for every command that offers it.
inline QCommandLineOption jsonOption() {
    return QCommandLineOption(
        QStringLiteral("json"),
        QStringLiteral("JSON on standard output: one object per received item (listen), per "
                       "progress step and for the result (send), for the program (status); one "
                       "array (ports, history)"));
}

} // namespace orvane
