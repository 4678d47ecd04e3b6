#pragma once

// The simulated device (orvane-devsim) as a child process of a test, with its JSON
// events read from standard output. Needs ORVANE_DEVSIM_PATH (the program's path).

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>
#include <optional>

namespace orvane {

class DevsimProcess {
public:
    static constexpr int waitMs = 3000; // default bound for every wait

    explicit DevsimProcess(const QStringList& extraArgs) {
        link = dir.filePath(QStringLiteral("kvm"));
        process.start(QStringLiteral(ORVANE_DEVSIM_PATH),
                      QStringList{QStringLiteral("--link"), link, QStringLiteral("--json")} +
                          extraArgs);
    }
    ~DevsimProcess() {
        process.terminate();
        if (!process.waitForFinished(waitMs)) {
            process.kill();
            process.waitForFinished(waitMs);
        }
    }

    // The next event of `kind` (after those already returned) that satisfies `match`.
    std::optional<QJsonObject> waitFor(const QString& kind,
                                       const std::function<bool(const QJsonObject&)>& match = {},
                                       int timeoutMs = waitMs) {
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            while (process.canReadLine()) {
                events.append(QJsonDocument::fromJson(process.readLine()).object());
            }
            for (; cursor < events.size(); ++cursor) {
                const QJsonObject& event = events[cursor];
                if (event.value(QStringLiteral("event")).toString() == kind &&
                    (!match || match(event))) {
                    return events[cursor++];
                }
            }
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning) {
                return std::nullopt;
            }
            process.waitForReadyRead(20);
        }
    }

    // Passes over every event reported so far, so that the next wait sees only new ones.
    void skipPending() {
        while (process.canReadLine() || process.waitForReadyRead(0)) {
            while (process.canReadLine()) {
                events.append(QJsonDocument::fromJson(process.readLine()).object());
            }
        }
        cursor = events.size();
    }

    // Written at once: without an event loop running, QProcess would hold the line back.
    void command(const QString& line) {
        process.write(line.toUtf8() + '\n');
        process.waitForBytesWritten(waitMs);
    }

    QTemporaryDir dir;
    QString link;
    QProcess process;
    QList<QJsonObject> events;
    qsizetype cursor = 0;
};

} // namespace orvane
