#include "serial/SerialLogStore.h"

#include <QSignalSpy>
#include <QTimeZone>

#include <gtest/gtest.h>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace orvane {
namespace {

SerialLogEntry entryAt(const QString& direction, const QString& summary,
                       const QStringList& rows = {}) {
    SerialLogEntry entry = SerialLogEntry::make(direction, summary, rows);
    // 13:04:05.067 local time, whatever the machine's zone.
    entry.timestamp = QDateTime(QDate(2024, 3, 9), QTime(13, 4, 5, 67));
    return entry;
}

using SerialLogStoreTest = ::testing::Test;

TEST_F(SerialLogStoreTest, RendersTimeDirectionSummaryThenOneLinePerHexRow) {
    SerialLogStore store;
    QSignalSpy deltas(&store, &SerialLogStore::delta);
    store.append({entryAt("RX", "ECHO sn=1 len=4", {"57 AB 00 01", "02 03"})});

    const QString expected = "13:04:05.067 RX ECHO sn=1 len=4\n57 AB 00 01\n02 03\n";
    EXPECT_EQ(store.plainText(), expected);
    ASSERT_EQ(deltas.count(), 1);
    EXPECT_EQ(deltas[0][0].toString(), expected);
}

TEST_F(SerialLogStoreTest, RendersInLocalTimeWhateverTheStampsZone) {
    SerialLogEntry entry = entryAt("SYS", "x");
    const QDateTime local = entry.timestamp;
    entry.timestamp = local.toUTC();
    EXPECT_EQ(entry.rendered(), "13:04:05.067 SYS x\n");
}

TEST_F(SerialLogStoreTest, OneDeltaPerBatchAndEntriesKeepTheirOrder) {
    SerialLogStore store;
    QSignalSpy deltas(&store, &SerialLogStore::delta);
    QSignalSpy hasLogs(&store, &SerialLogStore::hasLogsChanged);

    store.append({entryAt("TX", "a"), entryAt("WRN", "b")});
    store.append({entryAt("BT RX", "c")});

    ASSERT_EQ(deltas.count(), 2);
    EXPECT_EQ(deltas[0][0].toString(), "13:04:05.067 TX a\n13:04:05.067 WRN b\n");
    EXPECT_EQ(deltas[1][0].toString(), "13:04:05.067 BT RX c\n");
    EXPECT_EQ(store.plainText(), deltas[0][0].toString() + deltas[1][0].toString());
    ASSERT_EQ(store.entries().size(), 3);
    EXPECT_EQ(store.entries()[2].summary, "c");
    // Only the first append changes hasLogs.
    ASSERT_EQ(hasLogs.count(), 1);
    EXPECT_TRUE(hasLogs[0][0].toBool());
    EXPECT_TRUE(store.property("hasLogs").toBool());
}

TEST_F(SerialLogStoreTest, EmptyAppendSendsNothing) {
    SerialLogStore store;
    QSignalSpy deltas(&store, &SerialLogStore::delta);
    QSignalSpy hasLogs(&store, &SerialLogStore::hasLogsChanged);
    store.append({});
    EXPECT_EQ(deltas.count(), 0);
    EXPECT_EQ(hasLogs.count(), 0);
    EXPECT_FALSE(store.hasLogs());
}

TEST_F(SerialLogStoreTest, ClearResetsAndTheNextAppendStartsAfresh) {
    SerialLogStore store;
    store.append({entryAt("RX", "old")});
    QSignalSpy resets(&store, &SerialLogStore::reset);
    QSignalSpy hasLogs(&store, &SerialLogStore::hasLogsChanged);

    store.clear();
    ASSERT_EQ(resets.count(), 1);
    EXPECT_EQ(resets[0][0].toString(), QString());
    EXPECT_TRUE(store.entries().isEmpty());
    EXPECT_TRUE(store.plainText().isEmpty());
    EXPECT_FALSE(store.hasLogs());

    store.append({entryAt("ERR", "new")});
    EXPECT_EQ(store.plainText(), "13:04:05.067 ERR new\n");
    EXPECT_TRUE(store.hasLogs());
    ASSERT_EQ(hasLogs.count(), 2);
    EXPECT_FALSE(hasLogs[0][0].toBool());
    EXPECT_TRUE(hasLogs[1][0].toBool());
}

TEST_F(SerialLogStoreTest, EveryEntryGetsItsOwnId) {
    const SerialLogEntry a = SerialLogEntry::make("SYS", "same");
    const SerialLogEntry b = SerialLogEntry::make("SYS", "same");
    EXPECT_FALSE(a.id.isNull());
    EXPECT_NE(a.id, b.id);
}

TEST_F(SerialLogStoreTest, BeyondItsLimitDropsTheOldestEntriesWithTheirText) {
    SerialLogStore store(nullptr, 10);
    QSignalSpy deltas(&store, &SerialLogStore::delta);
    QSignalSpy resets(&store, &SerialLogStore::reset);
    // Long rows too, so that the text's pieces fill, overflow and are cut mid-piece.
    const auto rows = [](int i) {
        return QStringList{QStringLiteral("AA %1").arg(i) +
                           QString((i % 4) * SerialLogStore::textSegmentChars / 3, QChar('x'))};
    };
    const auto expectedText = [&store] {
        QString expected;
        for (const SerialLogEntry& entry : store.entries()) {
            expected += entry.rendered();
        }
        return expected;
    };
    for (int i = 0; i < 12; ++i) {
        store.append({entryAt("RX", QString::number(i), rows(i))});
        if (i == 5) {
            EXPECT_EQ(store.plainText(), expectedText());
        }
    }
    // Past 10 the oldest go, a tenth more than needed at a time.
    ASSERT_EQ(store.entries().size(), 10);
    EXPECT_EQ(store.entries().front().summary, "2");
    EXPECT_EQ(store.plainText(), expectedText());
    // Every append still reaches views as its delta, and nothing is reset.
    EXPECT_EQ(deltas.count(), 12);
    EXPECT_EQ(deltas.last()[0].toString(), "13:04:05.067 RX 11\nAA 11" + rows(11)[0].mid(5) + "\n");
    EXPECT_EQ(resets.count(), 0);
    EXPECT_TRUE(store.hasLogs());

    // A lower limit cuts at once, keeping the newest; a higher one keeps what is there.
    store.setMaximumEntries(4);
    const qsizetype kept = store.entries().size();
    ASSERT_LE(kept, 4);
    EXPECT_EQ(store.entries().back().summary, "11");
    EXPECT_EQ(store.plainText(), expectedText());
    store.setMaximumEntries(100);
    for (int i = 12; i < 40; ++i) {
        store.append({entryAt("RX", QString::number(i), rows(i))});
    }
    EXPECT_EQ(store.entries().size(), kept + 28);
    EXPECT_EQ(store.plainText(), expectedText());
    EXPECT_EQ(resets.count(), 0);

    store.clear();
    store.append({entryAt("SYS", "fresh")});
    EXPECT_EQ(store.plainText(), "13:04:05.067 SYS fresh\n");
}

} // namespace
} // namespace orvane
