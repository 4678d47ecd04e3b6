// The application model on a real X server: items pushed by the simulated device are on
// the X clipboard, as another program reads them, and in the stored history.
#include "app/AppModel.h"
#include "clipboard/QtClipboardTimers.h"
#include "platform/linux/QtClipboardIO.h"
#include "support/DevsimProcess.h"
#include "support/EventLoopWait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

namespace orvane {
namespace {

bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    return test::waitUntil(done, timeoutMs);
}

// What another X client reads for `target`, while this process keeps serving it.
QByteArray xclipRead(const QString& target) {
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"),
                {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                 QStringLiteral("-t"), target});
    waitUntil([&] { return xclip.state() == QProcess::NotRunning; }, 5000);
    return xclip.readAllStandardOutput();
}

TEST(AppModelX11Test, PushedTextImageAndFileLandOnTheXClipboardAndInTheHistory) {
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    const QString image = dir.filePath(QStringLiteral("shot.png"));
    QImage pixels(8, 6, QImage::Format_RGB32);
    pixels.fill(Qt::red);
    ASSERT_TRUE(pixels.save(image));
    const QString file = dir.filePath(QStringLiteral("notes.txt"));
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("notes\n");
    }

    // Pushed one at a time below: an item the device pushed on its own could replace the
    // clipboard's content while another X client reads the one before.
    DevsimProcess device({"--interval", "100"});
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(device.link); }));
    QtClipboardIO io;
    QtClipboardTimers timers;
    AppModel::Parts parts;
    parts.serialPlatform = ProtocolStack::singlePortPlatform(device.link);
    parts.clipboardIO = &io;
    parts.clipboardTimers = &timers;
    AppModel model(std::move(parts));
    QCoreApplication::processEvents();
    model.selectSerialPort(device.link);

    // Each one in turn is the clipboard's content; the history keeps all three.
    // One at a time, each read by another X client while it is the clipboard's content.
    const auto push = [&](const QString& command, ClipboardKind kind, qsizetype count) {
        device.command(command);
        return waitUntil([&] {
            const auto& history = model.clipboardState().history;
            return history.size() >= count && history[0].kind == kind;
        });
    };
    ASSERT_TRUE(waitUntil([&] { return model.serial().isConnected(); }));
    ASSERT_TRUE(push(QStringLiteral("text 剪贴板 text"), ClipboardKind::text, 1));
    const QByteArray text = xclipRead(QStringLiteral("UTF8_STRING"));
    ASSERT_TRUE(push(QStringLiteral("image ") + image, ClipboardKind::image, 2));
    const QByteArray png = xclipRead(QStringLiteral("image/png"));
    ASSERT_TRUE(push(QStringLiteral("file ") + file, ClipboardKind::files, 3));
    const QByteArray uris = xclipRead(QStringLiteral("text/uri-list"));
    const QString received = model.clipboardState().history[0].files.value(0);
    EXPECT_EQ(QString::fromUtf8(text), QStringLiteral("剪贴板 text"));
    EXPECT_EQ(QImage::fromData(png).size(), QSize(8, 6));
    EXPECT_TRUE(QString::fromUtf8(uris).contains(QUrl::fromLocalFile(received).toString()));
    EXPECT_TRUE(received.endsWith(QStringLiteral("notes.txt")));

    // The rows are written in the background.
    EXPECT_TRUE(test::waitUntil(
        [&] {
            auto rows = model.store()->listClipboardRecords(30);
            return rows && rows->size() == 3;
        },
        5000));
    model.shutdown();
}

} // namespace
} // namespace orvane
