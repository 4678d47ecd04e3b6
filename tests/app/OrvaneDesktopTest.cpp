// The desktop program itself, end to end: `orvane --port` against the simulated device, on
// a private X server and a private session bus, with a scratch data directory. What the
// device pushes is read back from the X clipboard by another client (xclip), what xclip
// copies joins the history, and the history database holds all of it after the program
// has quit.
#include "storage/AppStore.h"
#include "support/DevsimProcess.h"
#include "support/EventLoopWait.h"
#include "support/XvfbServer.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace orvane {
namespace {

constexpr int waitMs = 30000; // generous: the sanitizer builds start slowly

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
        bus.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
        ASSERT_TRUE(test::waitUntil([&] { return bus.canReadLine(); }, 10000));
        const QString address = QString::fromUtf8(bus.readLine().trimmed());

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
        for (QProcess* process : {&copier, &program, &bus}) {
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
    QProcess bus;
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

} // namespace
} // namespace orvane
