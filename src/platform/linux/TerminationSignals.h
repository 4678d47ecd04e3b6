#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace orvane {

// Turns SIGINT and SIGTERM into a Qt signal on the main thread. The handler only writes the
// signal number to a pipe (the one thing a signal handler may safely do); a socket notifier
// reads it back inside the event loop. One instance per process.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // False when the pipe or the handlers could not be installed.
    bool isInstalled() const { return notifier_ != nullptr; }

signals:
    void received(int signalNumber);

private:
    void readPipe();

    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace orvane
