#include "apps/orvane-cli/SendCommand.h"

#include "apps/orvane-cli/CliExitCode.h"
#include "apps/orvane-cli/Console.h"
#include "apps/orvane-cli/HeadlessClient.h"
#include "apps/orvane-cli/LinkReport.h"
#include "apps/orvane-cli/ProgramSend.h"
#include "apps/orvane-cli/RunningProgram.h"
#include "apps/orvane-cli/SendReport.h"
#include "clipboard/ClipboardEntry.h"
#include "common/Utf8.h"
#include "platform/linux/TerminationSignals.h"
#include "trans/TransPayload.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
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
const QString entryOption = QStringLiteral("entry");
const QString waitOption = QStringLiteral("wait");
// --text with this value reads the text from standard input.
const QString standardInput = QStringLiteral("-");

int usageError(const QString& message) {
    Console::error(QStringLiteral("orvane-cli: send: ") + message);
    return CliExitCode::usage;
}

// The text to send: the option's value, or standard input read to its end.
Result<QString, QString> textToSend(const CliInvocation& invocation) {
    const QString value = invocation.value(textOption);
    if (value != standardInput) {
        return value;
    }
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly)) {
        return fail(QStringLiteral("无法读取标准输入"));
    }
    std::optional<QString> text = decodeUtf8Strict(input.readAll());
    if (!text) {
        return fail(QStringLiteral("标准输入不是有效的 UTF-8 文本，没有发送"));
    }
    return std::move(*text);
}

// The item to send, as the history would hold it, turned into a transfer job.
Result<SendJob, QString> buildJob(const CliInvocation& invocation, const QString& text) {
    ClipboardEntry entry;
    entry.timestamp = QDateTime::currentMSecsSinceEpoch();
    if (invocation.isSet(textOption)) {
        entry.kind = ClipboardKind::text;
        entry.text = text;
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

// The running program's method for the item, and its argument.
std::pair<QString, QVariant> programCall(const CliInvocation& invocation, const QString& text) {
    if (invocation.isSet(textOption)) {
        return {QStringLiteral("SendText"), text};
    }
    if (invocation.isSet(entryOption)) {
        return {QStringLiteral("SendEntry"), invocation.value(entryOption).toLongLong()};
    }
    // The program does not share our working directory.
    const bool file = invocation.isSet(fileOption);
    return {file ? QStringLiteral("SendFile") : QStringLiteral("SendImage"),
            QFileInfo(invocation.value(file ? fileOption : imageOption)).absoluteFilePath()};
}

int sendDirectly(const CliInvocation& invocation, SendReport& report, const QString& text,
                 int waitSeconds);

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
            int(invocation.isSet(imageOption)) + int(invocation.isSet(entryOption)) !=
        1) {
        return usageError(QStringLiteral("give exactly one of --text, --file, --image, --entry"));
    }
    if (invocation.isSet(entryOption)) {
        invocation.value(entryOption).toLongLong(&ok);
        if (!ok) {
            return usageError(QStringLiteral("--entry takes a history entry's id, not \"%1\"")
                                  .arg(invocation.value(entryOption)));
        }
    }

    SendReport report(invocation.isSet(QStringLiteral("json")));
    QString text;
    if (invocation.isSet(textOption)) {
        auto read = textToSend(invocation);
        if (!read) {
            report.failed(read.error());
            return CliExitCode::failure;
        }
        text = std::move(read).value();
    }

    const QString port = invocation.arguments().value(0);
    const QString ble = invocation.value(QStringLiteral("ble"));
    const bool named = !port.isEmpty() || !ble.isEmpty();
    // The program holding the link is the only one that can use it; a link it does not
    // hold is ours to open.
    if (const auto program = RunningProgram::findHolding(port, ble)) {
        Console::info(
            QStringLiteral("经由正在运行的 orvane 发送%1").arg(program->linkDescription()));
        const auto [method, argument] = programCall(invocation, text);
        return ProgramSend(*program, report, method, argument).exec(waitSeconds);
    }
    if (invocation.isSet(entryOption)) {
        report.failed(QStringLiteral(
            "--entry 只能经由正在运行的 orvane 发送，它没有运行或没有打开所给的连接"));
        return CliExitCode::failure;
    }
    if (!named) {
        report.failed(QStringLiteral("no port given and no running orvane "
                                     "(orvane-cli send <port> or --ble ADDRESS)"));
        return CliExitCode::usage;
    }
    Console::info(QStringLiteral("直接打开 %1 发送").arg(ble.isEmpty() ? port : ble));
    return sendDirectly(invocation, report, text, waitSeconds);
}

int sendDirectly(const CliInvocation& invocation, SendReport& report, const QString& text,
                 int waitSeconds) {
    auto built = buildJob(invocation, text);
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
        QStringLiteral("[<port> | --ble ADDRESS] (--text TEXT | --file PATH | --image PATH | "
                       "--entry ID) [--wait SECONDS] [--json]"),
        QStringLiteral("wait for the link, send one item and exit"),
        {QStringLiteral("port")},
        {
            QCommandLineOption(textOption,
                               QStringLiteral("this text; - reads it from standard input"),
                               QStringLiteral("text")),
            QCommandLineOption(fileOption, QStringLiteral("this file"), QStringLiteral("path")),
            QCommandLineOption(imageOption, QStringLiteral("this image (PNG or JPEG)"),
                               QStringLiteral("path")),
            QCommandLineOption(entryOption,
                               QStringLiteral("the history entry with this id (needs the "
                                              "running orvane; orvane-cli history lists them)"),
                               QStringLiteral("id")),
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
        1,
    };
}

} // namespace orvane
