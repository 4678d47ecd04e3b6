#include "apps/orvane-cli/SendCommand.h"

#include "apps/orvane-cli/CliExitCode.h"
#include "apps/orvane-cli/Console.h"
#include "apps/orvane-cli/HeadlessClient.h"
#include "apps/orvane-cli/LinkReport.h"
#include "apps/orvane-cli/SendReport.h"
#include "clipboard/ClipboardEntry.h"
#include "platform/linux/TerminationSignals.h"
#include "trans/TransPayload.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QTimer>

#include <optional>
#include <thread>

namespace orvane {

namespace {

constexpr int minWaitSeconds = 1;
constexpr int maxWaitSeconds = 3600;

const QString textOption = QStringLiteral("text");
const QString fileOption = QStringLiteral("file");
const QString imageOption = QStringLiteral("image");
const QString waitOption = QStringLiteral("wait");

int usageError(const QString& message) {
    Console::error(QStringLiteral("orvane-cli: send: ") + message);
    return CliExitCode::usage;
}

// The item to send, as the history would hold it, turned into a transfer job.
Result<SendJob, QString> buildJob(const CliInvocation& invocation) {
    ClipboardEntry entry;
    entry.timestamp = QDateTime::currentMSecsSinceEpoch();
    if (invocation.isSet(textOption)) {
        entry.kind = ClipboardKind::text;
        entry.text = invocation.value(textOption);
    } else if (invocation.isSet(fileOption)) {
        const QString path = QFileInfo(invocation.value(fileOption)).absoluteFilePath();
        entry.kind = ClipboardKind::files;
        entry.files = {path};
        entry.text = path;
    } else {
        entry.kind = ClipboardKind::image;
        entry.imagePath = QFileInfo(invocation.value(imageOption)).absoluteFilePath();
    }
    auto job = TransPayload::jobFor(entry);
    if (!job) {
        return fail(job.error().description());
    }
    return std::move(job).value();
}

QString describe(const TransSender::SendError& error) {
    if (const auto* trans = std::get_if<TransError>(&error)) {
        return trans->errorDescription();
    }
    return QStringLiteral("已取消");
}

int runSend(const CliInvocation& invocation) {
    bool ok = false;
    const int waitSeconds = invocation.value(waitOption).toInt(&ok);
    if (!ok || waitSeconds < minWaitSeconds || waitSeconds > maxWaitSeconds) {
        return usageError(QStringLiteral("--wait takes whole seconds from %1 to %2, not \"%3\"")
                              .arg(minWaitSeconds)
                              .arg(maxWaitSeconds)
                              .arg(invocation.value(waitOption)));
    }
    if (int(invocation.isSet(textOption)) + int(invocation.isSet(fileOption)) +
            int(invocation.isSet(imageOption)) !=
        1) {
        return usageError(QStringLiteral("give exactly one of --text, --file, --image"));
    }

    SendReport report(invocation.isSet(QStringLiteral("json")));
    auto built = buildJob(invocation);
    if (!built) {
        report.failed(built.error());
        return CliExitCode::failure;
    }
    const SendJob job = std::move(built).value();

    TerminationSignals termination;
    const QString ble = invocation.value(QStringLiteral("ble"));
    HeadlessClient client(invocation.arguments().value(0));
    if (ble.isEmpty()) {
        LinkReport::noteIfMissing(client.portPath(), invocation.deviceDirectory(),
                                  QStringLiteral("最多等待 %1 秒").arg(waitSeconds));
    }
    LinkReport::attachBle(client, ble);
    LinkReport::follow(client, invocation.verbose());
    std::optional<std::jthread> worker; // joined before the client goes away

    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &client, [&client, &report] {
        const QString hint = client.service().connectHint();
        report.failed(TransError(TransError::Code::serialClosed).errorDescription() +
                      (hint.isEmpty() ? QString() : QStringLiteral(" · ") + hint));
        client.stop();
        QCoreApplication::exit(CliExitCode::failure);
    });

    auto startSend = [&] {
        if (worker || !client.isConnected()) {
            return;
        }
        deadline.stop();
        worker.emplace([&client, &report, &job](std::stop_token stop) {
            // Progress and the result are queued to the main thread in the order they
            // happen, so the result always comes after the last progress value.
            auto result = client.send(
                job,
                [&client, &report](int percent) {
                    QMetaObject::invokeMethod(
                        &client, [&report, percent] { report.progress(percent); },
                        Qt::QueuedConnection);
                },
                stop);
            QMetaObject::invokeMethod(
                &client,
                [&client, &report, result, size = job.payload.size()] {
                    client.stop();
                    if (result) {
                        report.sent(size);
                        QCoreApplication::exit(CliExitCode::success);
                        return;
                    }
                    report.failed(describe(result.error()));
                    const bool cancelled = std::holds_alternative<SendCancelled>(result.error());
                    QCoreApplication::exit(cancelled ? CliExitCode::interrupted
                                                     : CliExitCode::failure);
                },
                Qt::QueuedConnection);
        });
    };
    QObject::connect(&client, &HeadlessClient::connectedChanged, &client, startSend);
    QObject::connect(&termination, &TerminationSignals::received, &client, [&] {
        if (worker) {
            worker->request_stop(); // the send ends as cancelled and exits from there
            return;
        }
        report.failed(describe(SendCancelled{}));
        client.stop();
        QCoreApplication::exit(CliExitCode::interrupted);
    });

    deadline.start(waitSeconds * 1000);
    client.start();
    return QCoreApplication::exec();
}

} // namespace

CliCommand sendCommand() {
    return CliCommand{
        QStringLiteral("send"),
        QStringLiteral("(<port> | --ble ADDRESS) (--text TEXT | --file PATH | --image PATH) "
                       "[--wait SECONDS] [--json]"),
        QStringLiteral("wait for the link, send one item and exit"),
        {QStringLiteral("port")},
        {
            QCommandLineOption(textOption, QStringLiteral("this text"), QStringLiteral("text")),
            QCommandLineOption(fileOption, QStringLiteral("this file"), QStringLiteral("path")),
            QCommandLineOption(imageOption, QStringLiteral("this image (PNG or JPEG)"),
                               QStringLiteral("path")),
            QCommandLineOption(waitOption,
                               QStringLiteral("seconds to wait for the link before giving up, "
                                              "%1 to %2 (default 10)")
                                   .arg(minWaitSeconds)
                                   .arg(maxWaitSeconds),
                               QStringLiteral("seconds"), QStringLiteral("10")),
            bleOption(),
            jsonOption(),
        },
        runSend,
    };
}

} // namespace orvane
