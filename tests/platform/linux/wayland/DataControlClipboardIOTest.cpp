// Runs under tests/support/run-under-sway: a private headless compositor, wl-clipboard
// as the other program, and no window of ours anywhere, so nothing here has focus.

#include "platform/linux/wayland/DataControlClipboardIO.h"

#include "clipboard/ClipboardManager.h"
#include "clipboard/QtClipboardTimers.h"
#include "platform/linux/wayland/DataControlSession.h"
#include "support/EventLoopWait.h"
#include "support/TestData.h"

#include <QBuffer>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>
#include <unistd.h>
#include <wayland-client.h>

using namespace orvane;
using orvane::test::waitUntil;

namespace {

constexpr int waitMs = 10'000;

QByteArray run(const QString& program, const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(waitMs)) << program.toStdString();
    return process.readAllStandardOutput();
}

// wl-copy leaves a process behind that serves the data until the clipboard changes.
void copyElsewhere(const QByteArray& data, const QStringList& options = {}) {
    QProcess process;
    QTemporaryDir dir;
    const QString path = writeTestFile(dir, QStringLiteral("data"), data);
    process.setStandardInputFile(path);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QStringLiteral("wl-copy"), options);
    ASSERT_TRUE(process.waitForFinished(waitMs));
}

QByteArray paste(const QString& type) {
    return run(QStringLiteral("wl-paste"), {QStringLiteral("-n"), QStringLiteral("-t"), type});
}

class DataControlClipboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
            GTEST_SKIP() << "needs a compositor (tests/support/run-under-sway)";
        }
        // Focus goes to an empty workspace: whatever follows works without it.
        run(QStringLiteral("swaymsg"), {QStringLiteral("workspace"), QStringLiteral("2")});
    }

    std::unique_ptr<DataControlClipboardIO> startIO(DataControlThread::Limits limits = {}) {
        auto io = std::make_unique<DataControlClipboardIO>([](const QString&) {}, limits);
        const std::optional<QString> failure = io->start();
        EXPECT_FALSE(failure) << failure->toStdString();
        // The compositor reports the clipboard as it is once the device exists.
        EXPECT_TRUE(changedAfter(*io, 0));
        return io;
    }

    // Waits until the backend has seen a clipboard change after `count`.
    static bool changedAfter(const DataControlClipboardIO& io, quint64 count) {
        return waitUntil([&] { return io.changeCount() != count; }, waitMs);
    }
};

TEST_F(DataControlClipboardTest, CopiesElsewhereReachTheHistoryAndOwnWritesAreNotSeenAgain) {
    auto io = startIO();
    QtClipboardTimers timers;
    ClipboardManager manager(*io, timers, {});
    manager.start([] {}, [](const ClipboardEntry&) {});

    copyElsewhere(QByteArray("别处复制的文字\r\n第二行"));
    ASSERT_TRUE(waitUntil(
        [&] {
            return !manager.state().history.isEmpty() &&
                   manager.state().history.first().text == u"别处复制的文字\n第二行";
        },
        waitMs));

    // Our write comes back from the compositor as a new selection: one change, ours.
    ClipboardEntry remote;
    remote.kind = ClipboardKind::text;
    remote.text = QStringLiteral("from the device");
    ASSERT_TRUE(manager.receiveRemote(remote));
    const quint64 afterWrite = io->changeCount();
    copyElsewhere(QByteArray("later"));
    ASSERT_TRUE(changedAfter(*io, afterWrite));
    ASSERT_TRUE(
        waitUntil([&] { return manager.state().history.first().text == u"later"; }, waitMs));
    EXPECT_EQ(io->changeCount(), afterWrite + 1);
    QStringList texts;
    for (const ClipboardEntry& entry : manager.state().history) {
        texts.append(entry.text);
    }
    // Anything older came from the clipboard as the test found it.
    EXPECT_EQ(texts.mid(0, 3),
              QStringList({QStringLiteral("later"), QStringLiteral("from the device"),
                           QStringLiteral("别处复制的文字\n第二行")}));
}

TEST_F(DataControlClipboardTest, CopiedFilesAndImagesElsewhereReachTheHistory) {
    auto io = startIO();
    QtClipboardTimers timers;
    ClipboardManager manager(*io, timers, {});
    manager.start([] {}, [](const ClipboardEntry&) {});
    const auto newest = [&] {
        return manager.state().history.value(0);
    };

    QTemporaryDir dir;
    const QStringList files{writeTestFile(dir, QStringLiteral("报告 1.txt"), "a"),
                            writeTestFile(dir, QStringLiteral("b#2.txt"), "b")};
    const QByteArray uriList = QUrl::fromLocalFile(files[0]).toEncoded() + "\r\n" +
                               QUrl::fromLocalFile(files[1]).toEncoded() + "\r\n";
    copyElsewhere(uriList, {QStringLiteral("-t"), QStringLiteral("text/uri-list")});
    ASSERT_TRUE(waitUntil([&] { return newest().files == files; }, waitMs));
    EXPECT_EQ(newest().kind, ClipboardKind::files);

    copyElsewhere("copy\n" + QUrl::fromLocalFile(files[1]).toEncoded(),
                  {QStringLiteral("-t"), QStringLiteral("x-special/gnome-copied-files")});
    ASSERT_TRUE(waitUntil([&] { return newest().files == QStringList{files[1]}; }, waitMs));

    QImage image(64, 48, QImage::Format_ARGB32);
    image.fill(Qt::magenta);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "PNG"));
    copyElsewhere(png, {QStringLiteral("-t"), QStringLiteral("image/png")});
    ASSERT_TRUE(waitUntil([&] { return newest().kind == ClipboardKind::image; }, waitMs));
    ASSERT_TRUE(newest().imageData);
    EXPECT_EQ(QImage::fromData(*newest().imageData).size(), image.size());
}

TEST_F(DataControlClipboardTest, WritesAreWhatOtherProgramsPaste) {
    auto io = startIO();
    // wl-paste runs while this thread waits for it: the backend answers on its own.
    ClipboardContent text{ClipboardKind::text, QStringLiteral("粘贴 me"), {}, std::nullopt};
    ASSERT_TRUE(io->writeContent(text));
    EXPECT_EQ(paste(QStringLiteral("text/plain;charset=utf-8")),
              QStringLiteral("粘贴 me").toUtf8());
    EXPECT_EQ(paste(QStringLiteral("UTF8_STRING")), QStringLiteral("粘贴 me").toUtf8());

    QTemporaryDir dir;
    const QString file = writeTestFile(dir, QStringLiteral("a b.txt"), "x");
    ASSERT_TRUE(io->writeContent({ClipboardKind::files, file, {file}, std::nullopt}));
    const QByteArray url = QUrl::fromLocalFile(file).toEncoded();
    EXPECT_EQ(paste(QStringLiteral("text/uri-list")).trimmed(), url);
    EXPECT_EQ(paste(QStringLiteral("x-special/gnome-copied-files")), "copy\n" + url);

    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "JPEG"));
    ASSERT_TRUE(io->writeContent({ClipboardKind::image, QStringLiteral("[截图]"), {}, jpeg}));
    EXPECT_EQ(paste(QStringLiteral("image/jpeg")), jpeg);
    const QByteArray png = paste(QStringLiteral("image/png"));
    EXPECT_TRUE(png.startsWith("\x89PNG"));
    EXPECT_EQ(QImage::fromData(png).size(), image.size());
    // Reading our own image back yields the JPEG that was written, not the PNG.
    EXPECT_EQ(io->readContent().content.imagePNG, jpeg);
}

TEST_F(DataControlClipboardTest, SecretCopiesAreNotReadAndLargeImagesArrive) {
    auto io = startIO();
    quint64 count = io->changeCount();
    copyElsewhere("secret", {QStringLiteral("-t"), QStringLiteral("x-kde-passwordManagerHint")});
    ASSERT_TRUE(changedAfter(*io, count));
    EXPECT_TRUE(io->readContent().secret);
    EXPECT_FALSE(io->readContent().content.kind);

    // A screenshot-sized image comes through the pipe whole.
    const QByteArray image = "\x89PNG\r\n\x1a\n" + patternedBytes(20 << 20);
    count = io->changeCount();
    copyElsewhere(image, {QStringLiteral("-t"), QStringLiteral("image/png")});
    ASSERT_TRUE(changedAfter(*io, count));
    const ClipboardReading reading = io->readContent();
    ASSERT_EQ(reading.content.kind, ClipboardKind::image);
    EXPECT_TRUE(reading.content.imagePNG == image);
}

// A second client whose source never answers: the request to send stays undispatched,
// so the pipe to it is never written to nor closed.
class SilentSource : public DataControlSession::Handler {
public:
    SilentSource()
        : display_(wl_display_connect(nullptr)) {
        const auto globals = DataControlDiscovery::find(display_);
        EXPECT_TRUE(globals);
        session_ = DataControlSession::create(display_, *globals, *this);
        source_ = session_->setSelection({QByteArrayLiteral("text/plain")});
        wl_display_flush(display_);
    }
    ~SilentSource() override {
        session_->destroySource(source_);
        session_.reset();
        wl_display_disconnect(display_);
    }

private:
    void offerCreated(DataControlSession::Offer*) override {}
    void offerType(DataControlSession::Offer*, const char*) override {}
    void selectionChanged(DataControlSession::Offer*) override {}
    void primarySelectionChanged(DataControlSession::Offer*) override {}
    void deviceFinished() override {}
    void sendRequested(DataControlSession::Source*, const char*, int fd) override { ::close(fd); }
    void sourceCancelled(DataControlSession::Source*) override {}

    wl_display* display_;
    std::unique_ptr<DataControlSession> session_;
    DataControlSession::Source* source_ = nullptr;
};

TEST_F(DataControlClipboardTest, ASourceThatNeverAnswersHoldsUpNothing) {
    DataControlThread::Limits limits;
    limits.readStall = std::chrono::milliseconds(300);
    auto io = startIO(limits);
    quint64 count = io->changeCount();
    SilentSource silent;
    ASSERT_TRUE(changedAfter(*io, count)); // given up: nothing readable
    EXPECT_FALSE(io->readContent().content.kind);

    count = io->changeCount();
    copyElsewhere("after the silent one");
    ASSERT_TRUE(changedAfter(*io, count));
    EXPECT_EQ(io->readContent().content.text, u"after the silent one");
}

} // namespace
