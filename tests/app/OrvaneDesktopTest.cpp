// The desktop program itself, end to end: `orvane --port` against the simulated device, on
// a private X server and a private session bus, with a scratch data directory. What the
// device pushes is read back from the X clipboard by another client (xclip), what xclip
// copies joins the history, and the history database holds all of it after the program
// has quit.
#include "storage/AppStore.h"
#include "support/DevsimProcess.h"
#include "support/EventLoopWait.h"
#include "support/XvfbServer.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QXmlStreamReader>

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tuple>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace orvane {
namespace {

constexpr int waitMs = 30000; // generous: the sanitizer builds start slowly

const QString service = QStringLiteral("org.orvane.Orvane");
const QString objectPath = QStringLiteral("/org/orvane/Orvane");
const QString interface = QStringLiteral("org.orvane.Orvane1");

// The members of org.orvane.Orvane1 in an introspection document: name and signature each,
// a method's in and out arguments apart (their order among each other is free).
QStringList interfaceMembers(const QString& xml) {
    QStringList members;
    QXmlStreamReader reader(xml);
    bool inside = false;
    QString member, in, out;
    const auto flush = [&] {
        if (!member.isEmpty()) {
            members.append(member + QStringLiteral("(") + in + QStringLiteral(")(") + out +
                           QStringLiteral(")"));
            member.clear();
        }
        in.clear();
        out.clear();
    };
    while (!reader.atEnd()) {
        reader.readNext();
        const auto attributes = reader.attributes();
        const QString tag = reader.name().toString();
        if (tag == QStringLiteral("interface")) {
            flush();
            inside =
                reader.isStartElement() && attributes.value(QStringLiteral("name")) == interface;
        }
        if (!inside || !reader.isStartElement()) {
            continue;
        }
        const QString name = attributes.value(QStringLiteral("name")).toString();
        const QString type = attributes.value(QStringLiteral("type")).toString();
        if (tag == QStringLiteral("method") || tag == QStringLiteral("signal")) {
            flush();
            member = tag + QLatin1Char(' ') + name;
        } else if (tag == QStringLiteral("arg")) {
            // A signal's arguments all go out, whether the document says so or not.
            const bool isOut =
                member.startsWith(QStringLiteral("signal")) ||
                attributes.value(QStringLiteral("direction")) == QStringLiteral("out");
            (isOut ? out : in) += type;
        } else if (tag == QStringLiteral("property")) {
            flush();
            members.append(QStringLiteral("property ") + name + QLatin1Char(' ') + type +
                           QLatin1Char(' ') +
                           attributes.value(QStringLiteral("access")).toString());
        }
    }
    flush();
    members.sort();
    return members;
}

// Hears the program's signals, in the order they came.
class SignalLog : public QObject {
    Q_OBJECT

public:
    QList<QDBusMessage> heard;

    // The first `member` heard whose first argument is `first` (any when not given).
    std::optional<QDBusMessage> find(const QString& member, const QVariant& first = {}) const {
        for (const QDBusMessage& signal : heard) {
            if (signal.member() == member &&
                (!first.isValid() || signal.arguments().value(0) == first)) {
                return signal;
            }
        }
        return std::nullopt;
    }
    bool waitFor(const QString& member, const QVariant& first = {}) {
        return test::waitUntil([&] { return find(member, first).has_value(); }, waitMs);
    }

public slots:
    void hear(const QDBusMessage& signal) { heard.append(signal); }
};

class OrvaneDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"xclip", "dbus-daemon"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
                GTEST_SKIP() << tool << " is not installed";
            }
        }
        QString whyNot;
        xserver = XvfbServer::start(&whyNot);
        if (!xserver) {
            GTEST_SKIP() << whyNot.toStdString();
        }
        busDaemon.start(QStringLiteral("dbus-daemon"),
                        {QStringLiteral("--session"), QStringLiteral("--nofork"),
                         QStringLiteral("--print-address=1")});
        ASSERT_TRUE(test::waitUntil([&] { return busDaemon.canReadLine(); }, 10000));
        address = QString::fromUtf8(busDaemon.readLine().trimmed());

        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), xserver->display());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        // No BlueZ there: the program never reaches the machine's Bluetooth.
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address);
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        relaxStringChecksForX(env);
    }

    void TearDown() override {
        if (HasFailure()) {
            std::fprintf(stderr, "orvane said:\n%s\n", program.readAll().constData());
        }
        for (QProcess* process : {&copier, &program, &busDaemon}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(10000)) {
                    process->kill();
                    process->waitForFinished(5000);
                }
            }
        }
    }

    // What another X client reads from the clipboard as `target`.
    QByteArray xclipRead(const QString& target) {
        QProcess xclip;
        xclip.setProcessEnvironment(env);
        xclip.start(QStringLiteral("xclip"),
                    {QStringLiteral("-o"), QStringLiteral("-selection"),
                     QStringLiteral("clipboard"), QStringLiteral("-t"), target});
        test::waitUntil([&] { return xclip.state() == QProcess::NotRunning; }, 5000);
        return xclip.readAllStandardOutput();
    }

    bool clipboardHolds(const QString& target, const std::function<bool(const QByteArray&)>& ok) {
        return test::waitUntil([&] { return ok(xclipRead(target)); }, waitMs);
    }

    QTemporaryDir home;
    std::unique_ptr<XvfbServer> xserver;
    QString address;
    QProcess busDaemon;
    QProcess program;
    QProcess copier;
    QProcessEnvironment env;
};

TEST_F(OrvaneDesktopTest, PushedItemsReachTheXClipboardAndCopiedTextTheHistory) {
    const QString image = home.filePath(QStringLiteral("shot.png"));
    QImage pixels(12, 7, QImage::Format_RGB32);
    pixels.fill(Qt::blue);
    ASSERT_TRUE(pixels.save(image));
    const QString file = home.filePath(QStringLiteral("notes.txt"));
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("notes from the device\n");
    }
    DevsimProcess device({"--interval", "200"});
    ASSERT_TRUE(test::waitUntil([&] { return QFile::exists(device.link); }, 5000));

    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(ORVANE_DESKTOP_PATH), {QStringLiteral("--port"), device.link});
    ASSERT_TRUE(program.waitForStarted(5000));
    std::optional<QJsonObject> answering;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            answering = device.waitFor(QStringLiteral("client_answering"), {}, 10);
            return answering.has_value();
        },
        waitMs));

    const QString text = QStringLiteral("从设备推送 · pushed text");
    device.command(QStringLiteral("text ") + text);
    EXPECT_TRUE(clipboardHolds(QStringLiteral("UTF8_STRING"),
                               [&](const QByteArray& read) { return read == text.toUtf8(); }));

    device.command(QStringLiteral("image ") + image);
    EXPECT_TRUE(clipboardHolds(QStringLiteral("image/png"), [&](const QByteArray& read) {
        return QImage::fromData(read).size() == QSize(12, 7);
    }));

    device.command(QStringLiteral("file ") + file);
    QString received;
    EXPECT_TRUE(clipboardHolds(QStringLiteral("text/uri-list"), [&](const QByteArray& read) {
        received = QUrl(QString::fromUtf8(read).trimmed()).toLocalFile();
        return received.endsWith(QStringLiteral("/notes.txt"));
    }));
    QFile landed(received);
    ASSERT_TRUE(landed.open(QIODevice::ReadOnly)) << received.toStdString();
    EXPECT_EQ(landed.readAll(), QByteArray("notes from the device\n"));
    EXPECT_TRUE(received.startsWith(home.filePath(QStringLiteral("data/Orvane/files/"))));
    const QByteArray gnome = "copy\n" + QUrl::fromLocalFile(received).toEncoded();
    EXPECT_TRUE(clipboardHolds(QStringLiteral("x-special/gnome-copied-files"),
                               [&](const QByteArray& read) { return read == gnome; }));

    // Copied by another program: xclip serves it in the foreground until it is ended.
    const QString copied = QStringLiteral("copied with xclip · 复制");
    copier.setProcessEnvironment(env);
    copier.start(QStringLiteral("xclip"),
                 {QStringLiteral("-i"), QStringLiteral("-quiet"), QStringLiteral("-selection"),
                  QStringLiteral("clipboard")});
    ASSERT_TRUE(copier.waitForStarted(5000));
    copier.write(copied.toUtf8());
    copier.closeWriteChannel();

    // The history is in the database; the program writes it as items arrive.
    const QString database = home.filePath(QStringLiteral("data/Orvane/data.db"));
    std::unique_ptr<AppStore> store;
    QList<ClipboardRecord> rows;
    EXPECT_TRUE(test::waitUntil(
        [&] {
            if (!store) {
                auto opened = AppStore::open(database);
                if (!opened) {
                    return false;
                }
                store = std::move(opened.value());
            }
            auto listed = store->listClipboardRecords(30);
            rows = listed ? listed.value() : QList<ClipboardRecord>();
            return rows.size() >= 4;
        },
        waitMs));
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[0].kind, QStringLiteral("text"));
    EXPECT_EQ(rows[0].text, copied);
    EXPECT_EQ(rows[1].kind, QStringLiteral("files"));
    EXPECT_EQ(QJsonDocument::fromJson(rows[1].filesJSON.toUtf8()).array().first().toString(),
              received);
    EXPECT_EQ(rows[2].kind, QStringLiteral("image"));
    EXPECT_EQ(QImage(rows[2].imagePath).size(), QSize(12, 7));
    EXPECT_EQ(rows[3].kind, QStringLiteral("text"));
    EXPECT_EQ(rows[3].text, text);
    store.reset();

    // It quits in order on SIGTERM, and its port setting is saved.
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(waitMs));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    auto reopened = AppStore::open(database);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened.value()->getSettings()->serialPort, device.link);
}

TEST_F(OrvaneDesktopTest, OtherProgramsSendAndListenThroughTheRunningProgram) {
    const QString big = home.filePath(QStringLiteral("big.bin"));
    {
        QFile out(big);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(QByteArray(4 << 20, 'b'));
    }
    const QString fifo = home.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    DevsimProcess device({"--interval", "200", "--buffer-size", "1024"});
    ASSERT_TRUE(test::waitUntil([&] { return QFile::exists(device.link); }, 5000));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(ORVANE_DESKTOP_PATH), {QStringLiteral("--port"), device.link});
    ASSERT_TRUE(program.waitForStarted(5000));

    QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("client"));
    SignalLog log;
    for (const char* name : {"JobProgress", "JobFinished", "ItemReceived"}) {
        ASSERT_TRUE(bus.connect(service, objectPath, interface, QString::fromLatin1(name), &log,
                                SLOT(hear(QDBusMessage))));
    }
    const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
    ASSERT_TRUE(bus.connect(service, objectPath, properties, QStringLiteral("PropertiesChanged"),
                            &log, SLOT(hear(QDBusMessage))));
    const auto call = [&](const QString& method, const QVariantList& arguments = {},
                          const QString& on = interface) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, objectPath, on, method);
        message.setArguments(arguments);
        return bus.call(message, QDBus::Block, 10000);
    };
    const auto property = [&](const QString& name) {
        const QDBusMessage reply = call(QStringLiteral("Get"), {interface, name}, properties);
        return reply.arguments().value(0).value<QDBusVariant>().variant().toString();
    };
    ASSERT_TRUE(test::waitUntil(
        [&] { return property(QStringLiteral("LinkState")) == QStringLiteral("connected"); },
        waitMs));
    EXPECT_EQ(property(QStringLiteral("Link")), QStringLiteral("serial"));

    // What the program says of itself is what the interface file says.
    const QDBusMessage introspection = call(QStringLiteral("Introspect"), {},
                                            QStringLiteral("org.freedesktop.DBus.Introspectable"));
    QFile file(QStringLiteral(ORVANE_SOURCE_DIR "/resources/dbus/org.orvane.Orvane1.xml"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList declared = interfaceMembers(QString::fromUtf8(file.readAll()));
    EXPECT_EQ(declared.size(), 17);
    EXPECT_EQ(interfaceMembers(introspection.arguments().value(0).toString()), declared);

    device.skipPending();
    const QDBusMessage text = call(QStringLiteral("SendText"), {QStringLiteral("hello 你好")});
    ASSERT_EQ(text.type(), QDBusMessage::ReplyMessage) << text.errorMessage().toStdString();
    const QVariant textJob = text.arguments().value(0);
    ASSERT_TRUE(log.waitFor(QStringLiteral("JobFinished"), textJob));
    EXPECT_EQ(log.find(QStringLiteral("JobFinished"), textJob)->arguments(),
              (QVariantList{textJob, QStringLiteral("sent"), QStringLiteral("发送成功 · 文本"),
                            qulonglong(12)}));
    EXPECT_TRUE(log.find(QStringLiteral("JobProgress"), textJob));
    EXPECT_TRUE(log.find(QStringLiteral("PropertiesChanged"), interface)); // Sending
    const auto received = device.waitFor(QStringLiteral("receive_done"), {}, 5000);
    ASSERT_TRUE(received);
    // The event's own text quotes what arrived.
    EXPECT_TRUE(received->value(QStringLiteral("text"))
                    .toString()
                    .contains(QStringLiteral(": \"hello 你好\"")));

    // A send under way is not replaced by a second request; Cancel ends it.
    const QVariant fileJob = call(QStringLiteral("SendFile"), {big}).arguments().value(0);
    ASSERT_TRUE(log.waitFor(QStringLiteral("JobProgress"), fileJob));
    const QDBusMessage busy = call(QStringLiteral("SendText"), {QStringLiteral("later")});
    EXPECT_EQ(busy.errorName(), QStringLiteral("org.orvane.Orvane1.Error.Busy"));
    EXPECT_EQ(busy.errorMessage(), QStringLiteral("另一个剪贴板传输正在进行中"));
    EXPECT_EQ(call(QStringLiteral("Cancel"), {fileJob}).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(log.waitFor(QStringLiteral("JobFinished"), fileJob));
    EXPECT_EQ(log.find(QStringLiteral("JobFinished"), fileJob)->arguments().value(1),
              QStringLiteral("cancelled"));

    // A FIFO is not waited on. (The sender may still be unwinding the cancelled send.)
    QDBusMessage fromFifo;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            fromFifo = call(QStringLiteral("SendFile"), {fifo});
            return fromFifo.type() == QDBusMessage::ReplyMessage;
        },
        waitMs));
    const QVariant fifoJob = fromFifo.arguments().value(0);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(log.waitFor(QStringLiteral("JobFinished"), fifoJob));
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(log.find(QStringLiteral("JobFinished"), fifoJob)->arguments().value(1),
              QStringLiteral("failed"));

    // A pushed item is announced with the id the history keeps for it, which SendEntry takes.
    device.command(QStringLiteral("text 从设备来"));
    ASSERT_TRUE(log.waitFor(QStringLiteral("ItemReceived")));
    const auto head = [](const QDBusArgument& entry) {
        qint64 id = 0;
        qint64 time = 0;
        quint64 size = 0;
        QString kind, text;
        QStringList paths;
        // Read to its end: a structure left open keeps its reader alive.
        entry.beginStructure();
        entry >> id >> kind >> text >> paths >> size >> time;
        entry.endStructure();
        return std::tuple(id, kind, text);
    };
    const auto pushed = log.find(QStringLiteral("ItemReceived"));
    ASSERT_EQ(pushed->signature(), QStringLiteral("(xssastx)"));
    const auto [id, kind, pushedText] = head(pushed->arguments().value(0).value<QDBusArgument>());
    EXPECT_EQ(kind, QStringLiteral("text"));
    EXPECT_EQ(pushedText, QStringLiteral("从设备来"));
    const QDBusMessage listed = call(QStringLiteral("ListHistory"));
    ASSERT_EQ(listed.signature(), QStringLiteral("a(xssastx)"));
    const QDBusArgument entries = listed.arguments().value(0).value<QDBusArgument>();
    entries.beginArray();
    ASSERT_FALSE(entries.atEnd());
    EXPECT_EQ(std::get<0>(head(entries)), id);
    entries.endArray();
    EXPECT_EQ(call(QStringLiteral("SendEntry"), {id}).type(), QDBusMessage::ReplyMessage);
}

TEST_F(OrvaneDesktopTest, OrvaneCliGoesThroughTheRunningProgramWithTheOutputOfADirectSend) {
    const QString notes = home.filePath(QStringLiteral("notes.bin"));
    const QString big = home.filePath(QStringLiteral("big.bin"));
    for (const auto& [path, size] : {std::pair(notes, 5000), std::pair(big, 400000)}) {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(QByteArray(size, 'n'));
    }
    const QString fifo = home.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // The program holds `held`; `spare` is an identical device for the direct comparison.
    DevsimProcess held({"--interval", "200", "--buffer-size", "1024"});
    DevsimProcess spare({"--interval", "200", "--buffer-size", "1024"});
    ASSERT_TRUE(test::waitUntil(
        [&] { return QFile::exists(held.link) && QFile::exists(spare.link); }, 5000));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(ORVANE_DESKTOP_PATH), {QStringLiteral("--port"), held.link});
    ASSERT_TRUE(program.waitForStarted(5000));

    struct Run {
        int exitCode = -1;
        QByteArray out, err;
    };
    const auto cli = [&](const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(ORVANE_CLI_PATH), arguments);
        process.waitForFinished(waitMs);
        return Run{process.exitCode(), process.readAllStandardOutput(),
                   process.readAllStandardError()};
    };
    ASSERT_TRUE(test::waitUntil(
        [&] {
            return cli({QStringLiteral("status"), QStringLiteral("--json")})
                .out.contains("\"connected\"");
        },
        waitMs));

    // No port named: through the program. Another port: directly. The same lines either way.
    const Run viaProgram =
        cli({QStringLiteral("send"), QStringLiteral("--file"), notes, QStringLiteral("--json")});
    EXPECT_EQ(viaProgram.exitCode, 0) << viaProgram.err.toStdString();
    EXPECT_TRUE(viaProgram.err.contains("经由正在运行的 orvane")) << viaProgram.err.toStdString();
    const Run direct = cli({QStringLiteral("send"), spare.link, QStringLiteral("--file"), notes,
                            QStringLiteral("--json")});
    EXPECT_EQ(direct.exitCode, 0) << direct.err.toStdString();
    EXPECT_TRUE(direct.err.contains("直接打开")) << direct.err.toStdString();
    EXPECT_GT(viaProgram.out.count("\"progress\""), 2);
    EXPECT_EQ(viaProgram.out, direct.out);
    EXPECT_TRUE(held.waitFor(QStringLiteral("receive_done"), {}, 5000));

    // listen hears what the device pushes, while the program puts it on the clipboard.
    QProcess listener;
    listener.setProcessEnvironment(env);
    listener.start(QStringLiteral(ORVANE_CLI_PATH),
                   {QStringLiteral("listen"), QStringLiteral("--json")});
    ASSERT_TRUE(test::waitUntil([&] { return listener.readAllStandardError().size() > 0; }, 5000));
    held.command(QStringLiteral("text 推送给脚本"));
    ASSERT_TRUE(test::waitUntil([&] { return listener.canReadLine(); }, waitMs));
    EXPECT_EQ(QJsonDocument::fromJson(listener.readLine()).object().value("text").toString(),
              QStringLiteral("推送给脚本"));
    EXPECT_TRUE(clipboardHolds(QStringLiteral("UTF8_STRING"), [](const QByteArray& read) {
        return read == QStringLiteral("推送给脚本").toUtf8();
    }));
    listener.terminate();
    ASSERT_TRUE(listener.waitForFinished(waitMs));
    EXPECT_EQ(listener.exitCode(), 0);

    // A second send while one runs is refused; Ctrl-C cancels the running one.
    QProcess sender;
    sender.setProcessEnvironment(env);
    sender.start(QStringLiteral(ORVANE_CLI_PATH),
                 {QStringLiteral("send"), QStringLiteral("--file"), big, QStringLiteral("--json")});
    ASSERT_TRUE(test::waitUntil([&] { return sender.canReadLine(); }, waitMs));
    const Run busy = cli({QStringLiteral("send"), QStringLiteral("--text"), QStringLiteral("x")});
    EXPECT_EQ(busy.exitCode, 1);
    EXPECT_TRUE(busy.err.contains("另一个剪贴板传输正在进行中")) << busy.err.toStdString();
    ::kill(pid_t(sender.processId()), SIGINT);
    ASSERT_TRUE(sender.waitForFinished(waitMs));
    EXPECT_EQ(sender.exitCode(), 130);

    // A FIFO is refused, not waited on (the cancelled send may still be unwinding).
    Run fromFifo;
    EXPECT_TRUE(test::waitUntil(
        [&] {
            fromFifo = cli({QStringLiteral("send"), QStringLiteral("--file"), fifo});
            return !fromFifo.err.contains("另一个剪贴板传输正在进行中");
        },
        waitMs));
    EXPECT_EQ(fromFifo.exitCode, 1);
    EXPECT_TRUE(fromFifo.err.contains(fifo.toUtf8())) << fromFifo.err.toStdString();
}

} // namespace
} // namespace orvane

#include "OrvaneDesktopTest.moc"
