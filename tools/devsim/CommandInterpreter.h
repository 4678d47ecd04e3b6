#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>

namespace orvane::devsim {

class Device;
class EventPrinter;

// Reads commands from standard input, one per line, and runs them on the device:
//
//   text <words...>   push a text            silence on|off  stop or resume probes
//   file <path>       push a file            unplug          close the line, remove the link
//   image <path>      push an image file     replug          a new line behind the same link
//   noise <n>         send n noise bytes     help            list the commands
//   damage            damage the next pushed chunk           quit            end the program
//   drop              drop the next reply to the client
class CommandInterpreter : public QObject {
    Q_OBJECT

public:
    CommandInterpreter(Device& device, EventPrinter& events, QObject* parent = nullptr);

    // Runs one command line.
    void execute(const QString& line);

private:
    void readInput();

    Device& device_;
    EventPrinter& events_;
    QSocketNotifier notifier_;
    QByteArray pending_;
};

} // namespace orvane::devsim
