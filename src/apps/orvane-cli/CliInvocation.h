#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

namespace orvane {

// A parsed command line, as one command sees it: its positional arguments (after the
// command name) and the options given.
class CliInvocation {
public:
    CliInvocation(const QCommandLineParser& parser, QStringList arguments)
        : parser_(parser)
        , arguments_(std::move(arguments)) {}

    const QStringList& arguments() const { return arguments_; }
    bool isSet(const QString& option) const { return parser_.isSet(option); }
    // The value given, else the option's default.
    QString value(const QString& option) const { return parser_.value(option); }

    bool verbose() const { return isSet(QStringLiteral("verbose")); }
    // Where serial ports are looked for: /dev unless --dev-dir names another directory.
    QString deviceDirectory() const { return value(QStringLiteral("dev-dir")); }

private:
    const QCommandLineParser& parser_;
    QStringList arguments_;
};

} // namespace orvane
