// The history service with a real store and data directory under a temporary home; the
// store's clock is the test's, so "recent" is decided in milliseconds.
#include "storage/HistoryService.h"

#include "clipboard/ClipboardConversions.h"
#include "storage/TemporaryDataHome.h"
#include "support/EventLoopWait.h"

#include <QDir>
#include <QObject>

#include <future>

using namespace orvane;

namespace {

class HistoryServiceTest : public TemporaryDataHome {
protected:
    void SetUp() override {
        TemporaryDataHome::SetUp();
        auto store = AppStore::open(home_.filePath("data.db"), [this] { return nowMs; });
        ASSERT_TRUE(bool(store));
        service.attach(std::shared_ptr<AppStore>(std::move(store.value())));
    }

    // Adds and waits for the answer.
    HistoryService::Added add(const ClipboardEntry& entry) {
        std::optional<HistoryService::Added> answer;
        service.add(entry, HistoryService::Duplicates::skipRecent, &context,
                    [&](const HistoryService::Added& added) { answer = added; });
        EXPECT_TRUE(test::waitUntil([&] { return answer.has_value(); }, 5000));
        return answer.value_or(HistoryService::Added{});
    }
    QList<ClipboardEntry> load() {
        std::optional<QList<ClipboardEntry>> loaded;
        service.load(&context, [&](const QList<ClipboardEntry>& entries) { loaded = entries; });
        EXPECT_TRUE(test::waitUntil([&] { return loaded.has_value(); }, 5000));
        return loaded.value_or(QList<ClipboardEntry>());
    }
    ClipboardEntry text(const QString& text) {
        return ClipboardConversions::entryFromContent({ClipboardKind::text, text, {}, {}}, 0,
                                                      nowMs);
    }

    qint64 nowMs = 1'700'000'000'000;
    QObject context;
    std::shared_ptr<WorkQueue> queue =
        std::make_shared<WorkQueue>(QStringLiteral("com.orvane.test.history"));
    HistoryService service{DataDirectory::at(home_.filePath("data")), queue};
};

TEST_F(HistoryServiceTest, WorkHappensInTheOrderAskedAndLoadsNewestFirst) {
    const auto first = add(text("first"));
    nowMs += 10;
    const auto second = add(text("second"));
    ASSERT_TRUE(first.rowID && second.rowID);
    service.remove(*first.rowID);
    nowMs += 10;
    add(text("third"));
    const QList<ClipboardEntry> loaded = load();
    ASSERT_EQ(loaded.size(), 2);
    EXPECT_EQ(loaded[0].text, "third");
    EXPECT_EQ(loaded[1].id, *second.rowID);
    EXPECT_EQ(loaded[1].fingerprint, text("second").fingerprint);
    service.clear();
    EXPECT_TRUE(load().isEmpty());
}

TEST_F(HistoryServiceTest, SkipsTheSameContentWithinOneAndAHalfSeconds) {
    EXPECT_TRUE(add(text("twice")).rowID);
    nowMs += 1400;
    EXPECT_FALSE(add(text("twice")).rowID);
    nowMs += 200;
    EXPECT_TRUE(add(text("twice")).rowID);
}

TEST_F(HistoryServiceTest, RecognisesAnImageByItsKeptFingerprintEvenWithItsFileGone) {
    const ClipboardEntry image = ClipboardConversions::entryFromContent(
        {ClipboardKind::image, {}, {}, QByteArray("\x89PNG some image")}, 0, nowMs);
    ASSERT_TRUE(add(image).rowID);
    QDir images(home_.filePath("data/clipboard_images"));
    const QStringList saved = images.entryList(QDir::Files);
    ASSERT_EQ(saved.size(), 1);
    ASSERT_TRUE(images.remove(saved.front()));
    nowMs += 100;
    const auto again = add(image);
    EXPECT_FALSE(again.rowID);
    EXPECT_TRUE(again.failure.isEmpty());
}

TEST_F(HistoryServiceTest, CallsReturnWhileTheQueueIsBusy) {
    std::promise<void> release;
    queue->post([gate = release.get_future().share()] { gate.wait(); });
    bool added = false;
    bool loaded = false;
    service.add(text("queued"), HistoryService::Duplicates::store, &context,
                [&](const HistoryService::Added&) { added = true; });
    service.load(&context, [&](const QList<ClipboardEntry>&) { loaded = true; });
    QCoreApplication::processEvents();
    EXPECT_FALSE(added || loaded);
    release.set_value();
    EXPECT_TRUE(test::waitUntil([&] { return added && loaded; }, 5000));
}

TEST_F(HistoryServiceTest, AnswersAreDroppedOnceTheirContextIsGone) {
    auto owner = std::make_unique<QObject>();
    bool answered = false;
    service.add(text("orphan"), HistoryService::Duplicates::store, owner.get(),
                [&](const HistoryService::Added&) { answered = true; });
    owner.reset();
    // The add itself still happens; its answer would have come before the load's.
    EXPECT_EQ(load().size(), 1);
    EXPECT_FALSE(answered);
}

} // namespace
