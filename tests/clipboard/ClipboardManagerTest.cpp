#include "clipboard/ClipboardManager.h"

#include "clipboard/ClipboardConversions.h"
#include "support/FakeClipboardIO.h"
#include "support/FakeClipboardTimers.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QStringList>
#include <QThreadPool>

#include <gtest/gtest.h>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

ClipboardContent imageContent(const QByteArray& bytes) {
    return {ClipboardKind::image, QStringLiteral("[截图]"), {}, bytes};
}

QStringList texts(const ClipboardState& state) {
    QStringList result;
    for (const ClipboardEntry& entry : state.history) {
        result.append(entry.text);
    }
    return result;
}

ClipboardEntry textEntry(qint64 id, const QString& text) {
    ClipboardEntry entry;
    entry.id = id;
    entry.text = text;
    entry.timestamp = 1000 + id;
    return entry;
}

class ClipboardManagerTest : public ::testing::Test {
protected:
    using Load = std::function<QList<ClipboardEntry>()>;

    // The stored history comes in as the application hands it over: read before the
    // start, or read in the background and handed over on the main thread later.
    void start(Load load = {}, bool loadAsync = false) {
        if (load && !loadAsync) {
            manager.historyLoaded(load());
        }
        manager.start([this] { ++changes; },
                      [this](const ClipboardEntry& entry) {
                          persisted.append(entry);
                          if (persistID) {
                              manager.noteStored(entry.id, *persistID);
                          }
                      });
        if (load && loadAsync) {
            runInBackground([this, load] {
                QList<ClipboardEntry> entries = load();
                QMetaObject::invokeMethod(
                    &manager, [this, entries] { manager.historyLoaded(entries); },
                    Qt::QueuedConnection);
            });
        }
        timers.advance(100ms); // the start-up capture
    }
    void runInBackground(std::function<void()> job) {
        switch (background) {
        case Background::inlined:
            job();
            break;
        case Background::deferred:
            deferredJobs.push_back(std::move(job));
            break;
        case Background::threads:
            QThreadPool::globalInstance()->start(std::move(job));
            break;
        }
    }
    // Another program copies; the next poll and the capture delay pass.
    void copyText(const QString& text) {
        io.copyText(text);
        timers.advance(ClipboardManager::pollInterval);
    }

    FakeClipboardIO io;
    FakeClipboardTimers timers;
    QStringList logLines;
    // How background work runs: right away, when the test says so, or on real threads.
    enum class Background { inlined, deferred, threads } background = Background::inlined;
    std::vector<std::function<void()>> deferredJobs;
    ClipboardManager manager{io, timers, [this](const QString& line) { logLines.append(line); },
                             [this](std::function<void()> job) {
                                 runInBackground(std::move(job));
                             }};
    QList<ClipboardEntry> persisted;
    std::optional<qint64> persistID;
    int changes = 0;
};

TEST_F(ClipboardManagerTest, RecordsEachNewCopyOnceNewestFirstAndKeepsThirty) {
    start();
    EXPECT_EQ(io.reads, 1); // the start-up capture found nothing usable
    copyText("A");
    copyText("A");
    io.copyText("A"); // the same text again, with a change notice
    timers.advance(1s);
    copyText("B");
    copyText("A");
    EXPECT_EQ(texts(manager.state()), (QStringList{"A", "B", "A"}));
    EXPECT_EQ(manager.state().current, manager.state().history.front());
    EXPECT_GT(manager.state().current.timestamp, FakeClipboardTimers::startWallMs);
    EXPECT_LT(manager.state().current.timestamp, timers.nowMs());
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(persisted.size(), 3);

    for (int i = 0; i < 40; ++i) {
        copyText(QString::number(i));
    }
    ASSERT_EQ(manager.state().history.size(), historyCapacity);
    EXPECT_EQ(manager.state().history.front().text, "39");
    EXPECT_EQ(manager.state().history.back().text, "10");
}

TEST_F(ClipboardManagerTest, ReadsOnlyAfterAChangeAndTheCaptureDelay) {
    start();
    const int readsAtStart = io.reads;
    timers.advance(2s);
    EXPECT_EQ(io.reads, readsAtStart); // no change, no read

    io.copyText("late");
    timers.advance(ClipboardManager::pollInterval - 100ms); // exactly to the next poll
    timers.advance(ClipboardManager::captureDelay - 1ms);
    EXPECT_EQ(io.reads, readsAtStart);
    timers.advance(1ms);
    EXPECT_EQ(io.reads, readsAtStart + 1);
    EXPECT_EQ(manager.state().current.text, "late");
}

TEST_F(ClipboardManagerTest, AdoptsTheStoredRowID) {
    persistID = 77;
    start();
    copyText("stored");
    EXPECT_EQ(manager.state().current.id, 77);
    EXPECT_EQ(manager.state().history.front().id, 77);
    EXPECT_EQ(manager.nextID(), 77);

    persistID = std::nullopt;
    copyText("not stored");
    EXPECT_EQ(manager.state().current.id, 78);
}

TEST_F(ClipboardManagerTest, ImagesDeduplicateByTheirBytesHoweverHeld) {
    start();
    io.copy(imageContent(QByteArray("\x89PNG fake image bytes")));
    timers.advance(500ms);
    const ClipboardEntry image = manager.state().current;
    ASSERT_EQ(image.kind, ClipboardKind::image);
    EXPECT_EQ(image.dataSize, ClipboardEntry::computeDataSize(image));

    // The fingerprint that made it current must be the entry's own: after the text is
    // removed the image is current again and a fresh copy of it is no new entry.
    copyText("T");
    ASSERT_TRUE(manager.removeHistoryItem(manager.state().current.id));
    io.copy(imageContent(QByteArray("\x89PNG fake image bytes")));
    timers.advance(500ms);
    EXPECT_EQ(manager.state().history.size(), 1);
}

TEST_F(ClipboardManagerTest, ImagesPreparedInTheBackgroundKeepTheirPlace) {
    background = Background::deferred;
    start();
    const QByteArray screenshot(512 * 1024, 'x');
    io.copy(imageContent(screenshot));
    timers.advance(500ms);
    copyText("copied after the screenshot");
    EXPECT_TRUE(manager.state().history.isEmpty()); // waits for the image before it
    ASSERT_EQ(deferredJobs.size(), 1u);
    deferredJobs.front()();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(texts(manager.state()), (QStringList{"copied after the screenshot", "[截图]"}));
    EXPECT_EQ(manager.state().history.back().computeFingerprint(),
              ClipboardConversions::entryFromContent(imageContent(screenshot), 0, 0)
                  .computeFingerprint());

    // A change made through the manager comes after a capture still in preparation.
    io.copy(imageContent(screenshot + "2"));
    timers.advance(500ms);
    ASSERT_TRUE(manager.receiveRemote(textEntry(0, "from device")));
    EXPECT_EQ(texts(manager.state()).mid(0, 2), (QStringList{"from device", "[截图]"}));
    EXPECT_EQ(manager.state().history.size(), 4);
    for (auto& job : deferredJobs) {
        job(); // a late result changes nothing more
    }
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(manager.state().history.size(), 4);
}

TEST_F(ClipboardManagerTest, SendSessionsSuspendCaptureUntilTheLastReleaseHasPassed) {
    start();
    manager.beginSendSession();
    copyText("during send");
    timers.advance(2s);
    EXPECT_TRUE(manager.state().history.isEmpty());

    // release, begin again within the delay: still one session, no gap
    manager.releaseSendSession();
    timers.advance(300ms);
    manager.beginSendSession();
    EXPECT_EQ(manager.sendSessionDepth(), 1);
    timers.advance(1s);
    EXPECT_TRUE(manager.state().history.isEmpty());

    // overlapping sessions
    manager.beginSendSession();
    manager.releaseSendSession();
    manager.releaseSendSession();
    EXPECT_EQ(manager.sendSessionDepth(), 1);
    timers.advance(399ms);
    EXPECT_EQ(manager.sendSessionDepth(), 1);
    timers.advance(1ms);
    EXPECT_EQ(manager.sendSessionDepth(), 0);
    timers.advance(ClipboardManager::pollInterval + ClipboardManager::captureDelay);
    EXPECT_EQ(texts(manager.state()), QStringList{"during send"});
}

TEST_F(ClipboardManagerTest, AppliedEntriesAreWrittenAndNotRecordedAgain) {
    start();
    copyText("old");
    copyText("new");
    const qint64 oldID = manager.state().history.at(1).id;

    ASSERT_TRUE(manager.applyEntry(manager.state().current));
    EXPECT_EQ(io.writes, 1);
    EXPECT_EQ(manager.state().history.size(), 2); // already current: nothing new

    ASSERT_TRUE(manager.applyEntry(*manager.entryByID(oldID)));
    EXPECT_EQ(io.content.text, "old");
    timers.advance(2s); // the write's own change notice is not a copy
    EXPECT_EQ(texts(manager.state()), (QStringList{"old", "new", "old"}));
    EXPECT_NE(manager.state().current.id, oldID);

    io.failWrites = ClipboardError::writeFailed("setData text/plain failed");
    const auto failed = manager.applyEntry(*manager.entryByID(oldID));
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().description(), "写入剪贴板失败: setData text/plain failed");
    EXPECT_EQ(manager.state().history.size(), 3);

    ClipboardEntry broken;
    broken.kind = ClipboardKind::image;
    broken.imagePath = "/nonexistent/image.png";
    EXPECT_EQ(manager.applyEntry(broken).error(), ClipboardError::emptyContent());
}

TEST_F(ClipboardManagerTest, ReceivedEntriesKeepOrGetIDsAndAreNotRecordedAgain) {
    start();
    copyText("local");
    const qint64 before = manager.nextID();
    ASSERT_TRUE(manager.receiveRemote(textEntry(0, "from device")));
    EXPECT_EQ(manager.state().current.id, before + 1);
    ASSERT_TRUE(manager.receiveRemote(textEntry(500, "stored already")));
    EXPECT_EQ(manager.state().current.id, 500);
    EXPECT_GE(manager.nextID(), 500);
    ASSERT_TRUE(manager.receiveRemote(textEntry(0, "from device")));
    timers.advance(2s);
    EXPECT_EQ(texts(manager.state()),
              (QStringList{"from device", "stored already", "from device", "local"}));

    // A received image stays unrecorded when its bytes come back as a local copy.
    const QByteArray bytes("\xFF\xD8\xFF jpeg bytes");
    ClipboardEntry image = ClipboardConversions::entryFromContent(imageContent(bytes), 0, 5);
    ASSERT_TRUE(manager.receiveRemote(image));
    copyText("between");
    io.copy(imageContent(bytes));
    timers.advance(1s);
    EXPECT_EQ(manager.state().history.size(), 6);
    EXPECT_EQ(manager.state().current.text, "between");
}

TEST_F(ClipboardManagerTest, RemovingAndClearing) {
    start();
    copyText("first");
    copyText("second");
    EXPECT_FALSE(manager.removeHistoryItem(12345));
    ASSERT_TRUE(manager.removeHistoryItem(manager.state().current.id));
    EXPECT_EQ(manager.state().current.text, "first");
    ASSERT_TRUE(manager.removeHistoryItem(manager.state().current.id));
    EXPECT_EQ(manager.state().current, ClipboardEntry());

    io.copyText("first"); // the same content is captured again once it is gone
    timers.advance(1s);
    EXPECT_EQ(texts(manager.state()), QStringList{"first"});

    manager.clearHistory();
    EXPECT_EQ(manager.state(), ClipboardState());
    io.copyText("first");
    timers.advance(1s);
    EXPECT_EQ(texts(manager.state()), QStringList{"first"});
}

TEST_F(ClipboardManagerTest, SecretsAreNeitherRecordedNorPersistedButLogged) {
    start();
    io.copy({ClipboardKind::text, "hunter2", {}, {}}, true);
    timers.advance(1s);
    EXPECT_TRUE(manager.state().history.isEmpty());
    EXPECT_TRUE(persisted.isEmpty());
    ASSERT_EQ(logLines.size(), 1);
    EXPECT_FALSE(logLines.front().contains("hunter2"));
}

TEST_F(ClipboardManagerTest, LoadsTheStoredHistoryRightAway) {
    io.copyText("on the clipboard at start");
    start([] { return QList<ClipboardEntry>{textEntry(9, "nine"), textEntry(4, "four")}; });
    EXPECT_EQ(texts(manager.state()), (QStringList{"on the clipboard at start", "nine", "four"}));
    EXPECT_EQ(manager.state().history.at(1).dataSize, 4);
    EXPECT_EQ(changes, 1); // the capture only; the load itself announces nothing
    EXPECT_EQ(manager.state().current.id, 10);
}

TEST_F(ClipboardManagerTest, BackgroundLoadReplacesTheHistoryOnTheMainThread) {
    background = Background::threads;
    QSignalSpy stateChanges(&manager, &ClipboardManager::stateChanged);
    start([] { return QList<ClipboardEntry>{textEntry(30, "stored")}; }, true);
    ASSERT_TRUE(stateChanges.wait(5000));
    EXPECT_EQ(texts(manager.state()), QStringList{"stored"});
    EXPECT_EQ(changes, 1);
    copyText("next");
    EXPECT_EQ(manager.state().current.id, 31);
}

TEST_F(ClipboardManagerTest, BackgroundLoadKeepsWhatWasCopiedWhileItRan) {
    background = Background::deferred;
    QList<ClipboardEntry> stored{textEntry(30, "stored")};
    start([&] { return stored; }, true);
    persistID = 31;
    copyText("fresh");
    const ClipboardEntry fresh = manager.state().current;
    stored.prepend(fresh); // this load read the store after the copy was saved
    persistID = 32;
    copyText("fresher"); // ...and before this one was
    for (auto& job : deferredJobs) {
        job();
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(texts(manager.state()), (QStringList{"fresher", "fresh", "stored"}));
    EXPECT_EQ(manager.state().current.text, "fresher");
}

} // namespace

// A backend that announces each change by another program once it has read it.
class AnnouncingClipboardIO : public FakeClipboardIO {
public:
    bool announcesSettledChanges() const override { return true; }
    void setSettledChangeListener(std::function<void()> newListener) override {
        listener = std::move(newListener);
    }
    void announceText(const QString& text) {
        copyText(text);
        if (listener) {
            listener();
        }
    }

    std::function<void()> listener;
};

class AnnouncedChangesTest : public ::testing::Test {
protected:
    AnnouncingClipboardIO io;
    FakeClipboardTimers timers;
    ClipboardManager manager{io, timers, {}, [](std::function<void()> job) {
                                 job();
                             }};
};

TEST_F(AnnouncedChangesTest, CapturedAtOnceWithoutPollingAndOwnWritesStaySilent) {
    io.copyText("there at start");
    manager.start({}, {});
    EXPECT_EQ(timers.active(), 0);
    EXPECT_EQ(texts(manager.state()), QStringList{"there at start"});

    io.announceText("A");
    EXPECT_EQ(texts(manager.state()), (QStringList{"A", "there at start"}));

    // Nothing announced, nothing read: no poll stands in for the backend.
    io.copyText("unannounced");
    timers.advance(5s);
    EXPECT_EQ(io.reads, 2);

    // An announcement that brings no new count (our own write seen late) reads nothing.
    ASSERT_TRUE(manager.receiveRemote(textEntry(0, "from device")));
    io.listener();
    EXPECT_EQ(io.reads, 2);
    io.announceText("A");
    EXPECT_EQ(texts(manager.state()), (QStringList{"A", "from device", "A", "there at start"}));

    manager.stop();
    EXPECT_FALSE(io.listener);
}

TEST_F(AnnouncedChangesTest, SendSessionsHoldCaptureAsPollingDoes) {
    manager.start({}, {});
    manager.beginSendSession();
    io.announceText("during send");
    manager.releaseSendSession();
    timers.advance(300ms);
    manager.beginSendSession(); // within the delay: no gap
    timers.advance(1s);
    EXPECT_TRUE(manager.state().history.isEmpty());
    manager.releaseSendSession();
    timers.advance(399ms);
    EXPECT_TRUE(manager.state().history.isEmpty());
    timers.advance(1ms);
    EXPECT_EQ(texts(manager.state()), QStringList{"during send"});

    // A change followed by a write of ours within the session is lost, as with polling.
    manager.beginSendSession();
    io.announceText("overwritten");
    ASSERT_TRUE(manager.receiveRemote(textEntry(0, "sent back")));
    manager.releaseSendSession();
    timers.advance(1s);
    EXPECT_EQ(texts(manager.state()), (QStringList{"sent back", "during send"}));
}
