#pragma once

#include "apps/orvane-cli/RunningProgram.h"
#include "apps/orvane-cli/SendReport.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariant>

#include <functional>
#include <optional>

namespace orvane {

// One send handed to the running program: waits for its link, starts the job with one of
// its Send methods, reports the job's progress and end like a send of our own, and
// cancels the job on SIGINT/SIGTERM. Main thread.
class ProgramSend : public QObject {
    Q_OBJECT

public:
    // How long a cancelled job may take to say that it ended.
    static constexpr int cancelGraceMs = 5000;

    ProgramSend(RunningProgram& program, SendReport& report, QString method, QVariant argument);

    // Runs the event loop until the job ends; the exit code.
    int exec(int waitSeconds);

private:
    void start();
    void cancel();
    void onProgress(uint job, int percent);
    void onFinished(uint job, const QString& outcome, const QString& message, quint64 bytes);
    void finish(int exitCode);
    void fail(const QString& message, int exitCode);

    RunningProgram& program_;
    SendReport& report_;
    const QString method_;
    const QVariant argument_;
    std::optional<uint> job_;
    // The program's signals are subscribed to before the job exists; those of a job not yet
    // known wait here until the method's reply names it.
    QList<std::function<void()>> early_;
    QTimer deadline_;
    bool started_ = false;
    bool done_ = false;
};

} // namespace orvane
