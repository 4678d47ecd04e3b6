#include "apps/orvane-cli/ProgramSend.h"

#include "apps/orvane-cli/CliExitCode.h"
#include "apps/orvane-cli/Console.h"
#include "platform/linux/TerminationSignals.h"
#include "protocol/TransError.h"

#include <QCoreApplication>

namespace orvane {

ProgramSend::ProgramSend(RunningProgram& program, SendReport& report, QString method,
                         QVariant argument)
    : program_(program)
    , report_(report)
    , method_(std::move(method))
    , argument_(std::move(argument)) {
    deadline_.setSingleShot(true);
}

int ProgramSend::exec(int waitSeconds) {
    TerminationSignals termination;
    connect(&termination, &TerminationSignals::received, this, &ProgramSend::cancel);
    connect(&program_, &RunningProgram::jobProgress, this, &ProgramSend::onProgress);
    connect(&program_, &RunningProgram::jobFinished, this, &ProgramSend::onFinished);
    connect(&program_, &RunningProgram::vanished, this,
            [this] { fail(QStringLiteral("orvane 已退出，发送没有完成"), CliExitCode::failure); });
    connect(&program_, &RunningProgram::propertyChanged, this, [this](const QString& name) {
        if (name == u"LinkState" && program_.isConnected()) {
            start();
        }
    });
    connect(&deadline_, &QTimer::timeout, this, [this] {
        const QString status = program_.property(QStringLiteral("StatusText"));
        fail(TransError(TransError::Code::serialClosed).errorDescription() +
                 (status.isEmpty() ? QString() : QStringLiteral(" · ") + status),
             CliExitCode::failure);
    });
    if (program_.isConnected()) {
        // From inside the event loop, so that an early end can leave it.
        QTimer::singleShot(0, this, &ProgramSend::start);
    } else {
        Console::info(QStringLiteral("orvane 尚未连接设备 · 最多等待 %1 秒").arg(waitSeconds));
        deadline_.start(waitSeconds * 1000);
    }
    return QCoreApplication::exec();
}

void ProgramSend::start() {
    if (started_ || done_) {
        return;
    }
    started_ = true;
    deadline_.stop();
    const RunningProgram::Reply reply = program_.call(method_, {argument_});
    if (reply.error) {
        const QString message = reply.error->text();
        fail(message, CliExitCode::failure);
        return;
    }
    job_ = reply.arguments.value(0).toUInt();
    const QList<std::function<void()>> early = std::exchange(early_, {});
    for (const auto& replay : early) {
        replay();
    }
}

void ProgramSend::cancel() {
    if (done_) {
        return;
    }
    if (!job_) {
        fail(QStringLiteral("已取消"), CliExitCode::interrupted);
        return;
    }
    program_.call(QStringLiteral("Cancel"), {*job_});
    // The job's end reports the cancellation; a program that never says so does not keep
    // us waiting.
    QTimer::singleShot(cancelGraceMs, this,
                       [this] { fail(QStringLiteral("已取消"), CliExitCode::interrupted); });
}

void ProgramSend::onProgress(uint job, int percent) {
    if (!job_) {
        early_.append([this, job, percent] { onProgress(job, percent); });
        return;
    }
    if (job == *job_ && !done_) {
        report_.progress(percent);
    }
}

void ProgramSend::onFinished(uint job, const QString& outcome, const QString& message,
                             quint64 bytes) {
    if (!job_) {
        early_.append(
            [this, job, outcome, message, bytes] { onFinished(job, outcome, message, bytes); });
        return;
    }
    if (job != *job_ || done_) {
        return;
    }
    if (outcome == u"sent") {
        report_.sent(qint64(bytes));
        finish(CliExitCode::success);
    } else if (outcome == u"cancelled") {
        fail(message, CliExitCode::interrupted);
    } else {
        fail(message, CliExitCode::failure);
    }
}

void ProgramSend::finish(int exitCode) {
    done_ = true;
    deadline_.stop();
    QCoreApplication::exit(exitCode);
}

void ProgramSend::fail(const QString& message, int exitCode) {
    if (done_) {
        return;
    }
    report_.failed(message);
    finish(exitCode);
}

} // namespace orvane
