#include "X11ClipboardTest.h"
#include "clipboard/ClipboardManager.h"
#include "support/FakeClipboardTimers.h"

using namespace orvane;
using namespace std::chrono_literals;

namespace {

// The manager on the real clipboard; its clock is fake, so polls happen when the test
// moves it, after the X server has delivered the change notices.
class X11ClipboardManagerTest : public X11ClipboardTest {
protected:
    void SetUp() override {
        X11ClipboardTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        manager = std::make_unique<ClipboardManager>(*io, timers, [](const QString&) {});
        manager->start({}, {});
        timers.advance(1s);
    }

    void poll() { timers.advance(ClipboardManager::pollInterval + ClipboardManager::captureDelay); }

    QStringList texts() const {
        QStringList result;
        for (const ClipboardEntry& entry : manager->state().history) {
            result.append(entry.kind == ClipboardKind::image ? QStringLiteral("<image>")
                                                             : entry.text);
        }
        return result;
    }

    FakeClipboardTimers timers;
    std::unique_ptr<ClipboardManager> manager;
};

TEST_F(X11ClipboardManagerTest, RecordsOtherClientsCopiesOnce) {
    xclipOffer("UTF8_STRING", "one");
    poll();
    xclipOffer("UTF8_STRING", "one");
    poll();
    xclipOffer("image/png", encoded("PNG"));
    poll();
    const QString file = touch("f.txt");
    xclipOffer("text/uri-list", QUrl::fromLocalFile(file).toEncoded());
    poll();
    EXPECT_EQ(texts(), (QStringList{file, "<image>", "one"}));
    EXPECT_EQ(manager->state().current.files, QStringList{file});
}

TEST_F(X11ClipboardManagerTest, OwnWritesAreNotRecordedTwice) {
    xclipOffer("UTF8_STRING", "older");
    poll();
    xclipOffer("UTF8_STRING", "newer");
    poll();
    ASSERT_TRUE(manager->applyEntry(manager->state().history.at(1)));
    EXPECT_EQ(xclipRead("UTF8_STRING"), "older"); // also lets late notices arrive
    poll();
    poll();
    EXPECT_EQ(texts(), (QStringList{"older", "newer", "older"}));

    ClipboardEntry received;
    received.text = "from device";
    ASSERT_TRUE(manager->receiveRemote(received));
    EXPECT_EQ(xclipRead("UTF8_STRING"), "from device");
    poll();
    poll();
    EXPECT_EQ(texts(), (QStringList{"from device", "older", "newer", "older"}));
}

TEST_F(X11ClipboardManagerTest, SendSessionsSuspendCapture) {
    manager->beginSendSession();
    xclipOffer("UTF8_STRING", "during send");
    poll();
    poll();
    EXPECT_TRUE(manager->state().history.isEmpty());
    manager->releaseSendSession();
    timers.advance(ClipboardManager::sendSessionReleaseDelay);
    poll();
    EXPECT_EQ(texts(), QStringList{"during send"});
}

} // namespace
