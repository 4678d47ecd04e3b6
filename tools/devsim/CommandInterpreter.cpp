#include "CommandInterpreter.h"

#include "Device.h"
#include "EventPrinter.h"
#include "protocol/TransWire.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <cerrno>
#include <unistd.h>

namespace orvane::devsim {

namespace {

const QString helpText =
    QStringLiteral("commands: text <words>, file <path>, image <path>, noise <n>, damage, drop, "
                   "silence on|off, unplug, replug, quit");

} // namespace

CommandInterpreter::CommandInterpreter(Device& device, EventPrinter& events, QObject* parent)
    : QObject(parent)
    , device_(device)
    , events_(events)
    , notifier_(STDIN_FILENO, QSocketNotifier::Read) {
    connect(&notifier_, &QSocketNotifier::activated, this, &CommandInterpreter::readInput);
}

void CommandInterpreter::readInput() {
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (n <= 0) {
        // End of input: keep running (the device lives on without a console).
        notifier_.setEnabled(false);
        return;
    }
    pending_.append(buffer, n);
    qsizetype newline;
    while ((newline = pending_.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(pending_.left(newline)).trimmed();
        pending_.remove(0, newline + 1);
        if (!line.isEmpty()) {
            execute(line);
        }
    }
}

void CommandInterpreter::execute(const QString& line) {
    const qsizetype space = line.indexOf(u' ');
    const QString command = line.left(space < 0 ? line.size() : space);
    const QString argument = space < 0 ? QString() : line.mid(space + 1).trimmed();
    const auto refuse = [&](const QString& why) {
        events_.report(QStringLiteral("command_error"), why + QStringLiteral("; ") + helpText,
                       {{QStringLiteral("command"), line}});
    };

    if (command == QStringLiteral("text") && !argument.isEmpty()) {
        device_.push(PushItem::text(argument));
    } else if ((command == QStringLiteral("file") || command == QStringLiteral("image")) &&
               !argument.isEmpty()) {
        const quint16 type =
            command == QStringLiteral("file") ? TransWire::dataTypeFile : TransWire::dataTypeImage;
        auto item = PushItem::fromFile(argument, type);
        if (!item) {
            refuse(item.error());
            return;
        }
        device_.push(std::move(item).value());
    } else if (command == QStringLiteral("noise")) {
        bool ok = false;
        const int count = argument.toInt(&ok);
        if (!ok || count <= 0 || count > 1000000) {
            refuse(QStringLiteral("noise needs a byte count from 1 to 1000000"));
            return;
        }
        device_.sendNoise(count);
    } else if (command == QStringLiteral("damage")) {
        device_.damageNextChunk();
        events_.report(QStringLiteral("fault_armed"),
                       QStringLiteral("the next pushed chunk will be damaged"),
                       {{QStringLiteral("fault"), command}});
    } else if (command == QStringLiteral("drop")) {
        device_.dropNextReply();
        events_.report(QStringLiteral("fault_armed"),
                       QStringLiteral("the next reply to the client will be dropped"),
                       {{QStringLiteral("fault"), command}});
    } else if (command == QStringLiteral("silence") &&
               (argument == QStringLiteral("on") || argument == QStringLiteral("off"))) {
        device_.setSilent(argument == QStringLiteral("on"));
    } else if (command == QStringLiteral("unplug")) {
        device_.unplug();
    } else if (command == QStringLiteral("replug")) {
        device_.unplug();
        device_.plug();
    } else if (command == QStringLiteral("quit")) {
        QCoreApplication::quit();
    } else if (command == QStringLiteral("help")) {
        events_.report(QStringLiteral("help"), helpText);
    } else {
        refuse(QStringLiteral("not understood: ") + line);
    }
}

} // namespace orvane::devsim
