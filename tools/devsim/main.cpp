// orvane-devsim: a simulated KVM device on a pseudo-terminal, for trying the client
// without hardware. See --help and the "help" command.

#include "CommandInterpreter.h"
#include "Device.h"
#include "EventPrinter.h"
#include "PushItem.h"
#include "protocol/ProtocolWire.h"
#include "protocol/TransWire.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace orvane;
using namespace orvane::devsim;

namespace {

int quitPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 0;
    [[maybe_unused]] const auto written = ::write(quitPipe[1], &byte, 1);
}

// Ctrl-C and kill end the event loop normally, so the link symlink is removed on the way out.
void quitOnSignals(QCoreApplication& app) {
    if (::pipe(quitPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGHUP, onSignal);
}

// A number option, decimal or 0x-prefixed hexadecimal, within [min, max].
bool numberOption(const QCommandLineParser& parser, const QString& name, qint64 min, qint64 max,
                  qint64& out) {
    bool ok = false;
    out = parser.value(name).toLongLong(&ok, 0);
    if (!ok || out < min || out > max) {
        std::fprintf(stderr, "orvane-devsim: --%s must be a number from %lld to %lld\n",
                     qPrintable(name), min, max);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvane-devsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated KVM device on a pseudo-terminal. The client opens the --link path.\n"
        "Commands on standard input: text <words>, file <path>, image <path>, noise <n>,\n"
        "damage, drop, silence on|off, unplug, replug, quit."));
    parser.addHelpOption();
    parser.addVersionOption();
    const auto option = [](const char* name, const char* description,
                           const char* valueName = nullptr, const char* defaultValue = nullptr) {
        QCommandLineOption result(QString::fromLatin1(name), QString::fromLatin1(description));
        if (valueName) {
            result.setValueName(QString::fromLatin1(valueName));
        }
        if (defaultValue) {
            result.setDefaultValue(QString::fromLatin1(defaultValue));
        }
        return result;
    };
    parser.addOptions({
        option("link", "Symlink to create for the client to open (required).", "path"),
        option("interval", "Milliseconds between liveness probes.", "ms", "1000"),
        option("buffer-size", "Buffer size advertised in DEVICE_QUERY_RSP.", "bytes", "0x2840"),
        option("chunk-size", "Payload bytes per pushed MIDDLE_PACKET.", "bytes", "10240"),
        option("reply-timeout", "Milliseconds to wait for the client's reply before resending.",
               "ms", "2000"),
        option("save-dir", "Write every item received from the client into this directory.", "dir"),
        option("push-text", "Push this text once the client answers probes.", "text"),
        option("push-file", "Push this file once the client answers probes.", "path"),
        option("push-image", "Push this image file once the client answers probes.", "path"),
        option("json", "Print one JSON object per event instead of readable lines."),
    });
    parser.process(app);

    Device::Options options;
    options.linkPath = parser.value(QStringLiteral("link"));
    if (options.linkPath.isEmpty()) {
        std::fprintf(stderr, "orvane-devsim: --link is required (see --help)\n");
        return 2;
    }
    // A MIDDLE_PACKET carries 13 bytes besides the chunk, within the 65536-byte frame payload.
    const qint64 maxChunk = ProtocolWire::maxPayloadLength - TransWire::middleOverhead;
    qint64 interval = 0, bufferSize = 0, chunkSize = 0, replyTimeout = 0;
    if (!numberOption(parser, QStringLiteral("interval"), 10, 3600000, interval) ||
        !numberOption(parser, QStringLiteral("buffer-size"), 0, 0xFFFFFFFF, bufferSize) ||
        !numberOption(parser, QStringLiteral("chunk-size"), 1, maxChunk, chunkSize) ||
        !numberOption(parser, QStringLiteral("reply-timeout"), 10, 3600000, replyTimeout)) {
        return 2;
    }
    options.probeIntervalMs = int(interval);
    options.bufferSize = quint32(bufferSize);
    options.chunkSize = int(chunkSize);
    options.replyTimeoutMs = int(replyTimeout);
    options.saveDir = parser.value(QStringLiteral("save-dir"));

    QList<PushItem> pushes;
    for (const QString& text : parser.values(QStringLiteral("push-text"))) {
        pushes.append(PushItem::text(text));
    }
    for (const auto& [name, type] : {std::pair{"push-file", TransWire::dataTypeFile},
                                     std::pair{"push-image", TransWire::dataTypeImage}}) {
        for (const QString& path : parser.values(QString::fromLatin1(name))) {
            auto item = PushItem::fromFile(path, type);
            if (!item) {
                std::fprintf(stderr, "orvane-devsim: %s\n", qPrintable(item.error()));
                return 2;
            }
            pushes.append(std::move(item).value());
        }
    }

    EventPrinter events(parser.isSet(QStringLiteral("json")));
    Device device(options, events);
    if (!device.plug()) {
        return 1;
    }
    for (PushItem& item : pushes) {
        device.push(std::move(item));
    }
    CommandInterpreter commands(device, events);
    quitOnSignals(app);
    const int status = app.exec();
    device.unplug();
    return status;
}
