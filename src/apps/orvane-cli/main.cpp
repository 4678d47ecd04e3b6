// orvane-cli: the link stack of the application without a desktop, for headless machines
// and scripts.
//
//   orvane-cli listen <port> [--json]                          hold the link, report items
//   orvane-cli send <port> (--text T | --file P | --image P)   send one item and exit
//   orvane-cli scan [--json] [--seconds N]                     list BLE peripherals
// listen and send take --ble ADDRESS instead of <port> to hold the link over BLE.

#include "apps/orvane-cli/BleLink.h"
#include "apps/orvane-cli/DeliveryReport.h"
#include "apps/orvane-cli/HeadlessClient.h"
#include "apps/orvane-cli/ProgressBar.h"
#include "apps/orvane-cli/ScanCommand.h"
#include "apps/orvane-cli/TerminationSignals.h"
#include "clipboard/ClipboardEntry.h"
#include "serial/SerialDiagnostics.h"
#include "trans/TransPayload.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <optional>
#include <thread>

using namespace orvane;

namespace {

constexpr int exitFailure = 1;
constexpr int exitUsage = 2;
constexpr int exitInterrupted = 130;

void printErr(const QString& line) {
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

void printOut(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

// With --ble, the link runs over this peripheral instead of the port.
std::unique_ptr<BleLink> attachBle(HeadlessClient& client, const QString& address) {
    if (address.isEmpty()) {
        return nullptr;
    }
    return std::make_unique<BleLink>(
        client.service(), address,
        [](const QString& status) { printErr(QStringLiteral("蓝牙: ") + status); },
        [](const QString& line) { printErr(QStringLiteral("警告: ") + line); });
}

// Link state on standard error, as the user would see it in the window.
void reportLinkState(HeadlessClient& client, bool verbose) {
    SerialService& service = client.service();
    QObject::connect(&service, &SerialService::statusTextChanged, &client,
                     [&service] { printErr(QStringLiteral("状态: ") + service.statusText()); });
    QObject::connect(&service, &SerialService::isConnectedChanged, &client, [&service] {
        const QString link = service.selectedBluetoothDeviceID().isEmpty()
                                 ? service.selectedPath()
                                 : service.selectedBluetoothDeviceID();
        printErr(service.isConnected() ? QStringLiteral("已连接 ") + link
                                       : QStringLiteral("连接已断开 ") + link);
    });
    QObject::connect(&service, &SerialService::connectHintChanged, &client, [&service] {
        if (!service.connectHint().isEmpty()) {
            printErr(QStringLiteral("提示: ") + service.connectHint());
        }
    });
    QObject::connect(&client, &HeadlessClient::warning, &client,
                     [](const QString& line) { printErr(QStringLiteral("警告: ") + line); });
    if (verbose) {
        QObject::connect(&client, &HeadlessClient::logLine, &client,
                         [](const QString& line) { printErr(line); });
    }
}

int runListen(const QString& port, const QString& ble, bool json, bool verbose) {
    TerminationSignals termination;
    if (!termination.isInstalled()) {
        printErr(QStringLiteral("cannot install the SIGINT/SIGTERM handlers"));
        return exitFailure;
    }
    HeadlessClient client(port);
    reportLinkState(client, verbose);
    const std::unique_ptr<BleLink> bleLink = attachBle(client, ble);
    QObject::connect(
        &client, &HeadlessClient::itemDelivered, &client, [json](const ClipboardEntry& entry) {
            printOut(json ? DeliveryReport::jsonLine(entry) : DeliveryReport::textLine(entry));
        });
    QObject::connect(&termination, &TerminationSignals::received, &client, [&client] {
        client.stop();
        QCoreApplication::exit(0);
    });
    printErr(QStringLiteral("监听 %1 (Ctrl-C 结束)").arg(ble.isEmpty() ? client.portPath() : ble));
    client.start();
    return QCoreApplication::exec();
}

// The item to send, as the history would hold it, turned into a transfer job.
Result<SendJob, QString> buildJob(const QCommandLineParser& parser, const QCommandLineOption& text,
                                  const QCommandLineOption& file, const QCommandLineOption& image) {
    ClipboardEntry entry;
    entry.timestamp = QDateTime::currentMSecsSinceEpoch();
    Result<SendJob, TransPayloadError> job =
        fail(TransPayloadError(TransError::Code::emptyPayload));
    if (parser.isSet(text)) {
        entry.kind = ClipboardKind::text;
        entry.text = parser.value(text);
        job = TransPayload::textJob(entry);
    } else if (parser.isSet(file)) {
        const QString path = QFileInfo(parser.value(file)).absoluteFilePath();
        entry.kind = ClipboardKind::files;
        entry.files = {path};
        entry.text = path;
        job = TransPayload::fileJob(entry);
    } else {
        entry.kind = ClipboardKind::image;
        entry.imagePath = QFileInfo(parser.value(image)).absoluteFilePath();
        job = TransPayload::imageJob(entry);
    }
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

int runSend(const QString& port, const QString& ble, const SendJob& job, int waitSeconds,
            bool verbose) {
    TerminationSignals termination;
    HeadlessClient client(port);
    reportLinkState(client, verbose);
    const std::unique_ptr<BleLink> bleLink = attachBle(client, ble);
    ProgressBar bar(QStringLiteral("发送"), stderr);
    std::optional<std::jthread> worker; // joined before the client goes away

    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &client, [&client] {
        const QString hint = client.service().connectHint();
        printErr(TransError(TransError::Code::serialClosed).errorDescription() +
                 (hint.isEmpty() ? QString() : QStringLiteral(" · ") + hint));
        client.stop();
        QCoreApplication::exit(exitFailure);
    });

    auto startSend = [&] {
        if (worker || !client.service().isConnected()) {
            return;
        }
        deadline.stop();
        worker.emplace([&client, &bar, job](std::stop_token stop) {
            auto result = client.send(
                job,
                [&client, &bar](int percent) {
                    QMetaObject::invokeMethod(
                        &client, [&bar, percent] { bar.update(percent); }, Qt::QueuedConnection);
                },
                stop);
            QMetaObject::invokeMethod(
                &client,
                [&client, &bar, result, size = job.payload.size()] {
                    bar.finish();
                    client.stop();
                    if (result) {
                        printErr(QStringLiteral("已发送 %1 B").arg(size));
                        QCoreApplication::exit(0);
                        return;
                    }
                    printErr(describe(result.error()));
                    const bool cancelled = std::holds_alternative<SendCancelled>(result.error());
                    QCoreApplication::exit(cancelled ? exitInterrupted : exitFailure);
                },
                Qt::QueuedConnection);
        });
    };
    QObject::connect(&client.service(), &SerialService::isConnectedChanged, &client, startSend);
    QObject::connect(&termination, &TerminationSignals::received, &client, [&] {
        if (worker) {
            worker->request_stop(); // the send ends as cancelled and exits from there
            return;
        }
        client.stop();
        QCoreApplication::exit(exitInterrupted);
    });

    deadline.start(waitSeconds * 1000);
    client.start();
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvane-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Orvane without a desktop: holds the serial link to a KVM device.\n"
        "  listen <port>   answer the device, receive what it pushes and report each item\n"
        "  send <port>     send one item (--text, --file or --image) and exit\n"
        "  scan            list the BLE peripherals in range (--seconds, --json)\n"
        "listen and send take --ble ADDRESS instead of <port> to use a BLE bridge."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("listen, send or scan"));
    parser.addPositionalArgument(QStringLiteral("port"),
                                 QStringLiteral("the serial device, e.g. /dev/ttyACM0"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("listen: one JSON object per received item"));
    const QCommandLineOption text(QStringLiteral("text"), QStringLiteral("send: this text"),
                                  QStringLiteral("text"));
    const QCommandLineOption file(QStringLiteral("file"), QStringLiteral("send: this file"),
                                  QStringLiteral("path"));
    const QCommandLineOption image(QStringLiteral("image"),
                                   QStringLiteral("send: this image (PNG or JPEG)"),
                                   QStringLiteral("path"));
    const QCommandLineOption wait(
        QStringLiteral("wait"),
        QStringLiteral("send: seconds to wait for the link before giving up (default 10)"),
        QStringLiteral("seconds"), QStringLiteral("10"));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("protocol log lines on standard error"));
    const QCommandLineOption ble(
        QStringLiteral("ble"),
        QStringLiteral("listen, send: the BLE bridge to use instead of a port"),
        QStringLiteral("address"));
    const QCommandLineOption seconds(QStringLiteral("seconds"),
                                     QStringLiteral("scan: how long to scan (default 10)"),
                                     QStringLiteral("seconds"), QStringLiteral("10"));
    parser.addOptions({json, text, file, image, wait, verbose, ble, seconds});
    parser.process(app);

    QStringList args = parser.positionalArguments();
    if (args.size() == 1 && args[0] == "scan") {
        bool ok = false;
        const int scanSeconds = parser.value(seconds).toInt(&ok);
        if (!ok || scanSeconds < 1) {
            printErr(QStringLiteral("--seconds needs a number of seconds"));
            return exitUsage;
        }
        return runScan(parser.isSet(json), scanSeconds);
    }
    if (args.size() == 1 && parser.isSet(ble)) {
        args.append(QString()); // the link is the BLE bridge, no port
    }
    if (args.size() != 2 || (args[0] != "listen" && args[0] != "send") ||
        parser.isSet(ble) == !args[1].isEmpty()) {
        printErr(QStringLiteral("usage: orvane-cli listen (<port> | --ble ADDRESS) [--json] | "
                                "orvane-cli send (<port> | --ble ADDRESS) (--text TEXT | --file "
                                "PATH | --image PATH) | orvane-cli scan [--json] [--seconds N]"));
        return exitUsage;
    }
    const QString port = args[1];
    int result = 0;
    if (args[0] == "listen") {
        if (parser.isSet(text) || parser.isSet(file) || parser.isSet(image)) {
            printErr(QStringLiteral("listen does not take --text, --file or --image"));
            return exitUsage;
        }
        result = runListen(port, parser.value(ble), parser.isSet(json), parser.isSet(verbose));
    } else {
        bool ok = false;
        const int waitSeconds = parser.value(wait).toInt(&ok);
        if (!ok || waitSeconds < 0) {
            printErr(QStringLiteral("--wait needs a number of seconds"));
            return exitUsage;
        }
        if (int(parser.isSet(text)) + int(parser.isSet(file)) + int(parser.isSet(image)) != 1) {
            printErr(QStringLiteral("send needs exactly one of --text, --file, --image"));
            return exitUsage;
        }
        auto job = buildJob(parser, text, file, image);
        if (!job) {
            printErr(job.error());
            return exitFailure;
        }
        result = runSend(port, parser.value(ble), job.value(), waitSeconds, parser.isSet(verbose));
    }
    SerialDiagnostics::flush();
    return result;
}
