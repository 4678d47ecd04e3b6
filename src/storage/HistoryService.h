#pragma once

#include "clipboard/ClipboardEntry.h"
#include "common/WorkQueue.h"
#include "storage/AppStore.h"
#include "storage/DataDirectory.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace orvane {

// The clipboard history as both programs keep it: the history rows of the store and the
// image files they refer to, worked on by one queue ("com.orvane.app.history") so that
// nothing on the caller's side waits for SQLite or the disk. Work runs in the order it
// was asked for; every answer runs on the main thread, and only while the `context`
// object given with the call (an object of the main thread) still exists.
//
// Any thread may call it. Destroying it finishes what is queued.
class HistoryService {
public:
    // The same content is not stored again within this many milliseconds.
    static constexpr qint64 duplicateWindowMs = 1500;

    enum class Duplicates {
        store,      // every entry becomes a row
        skipRecent, // unless one of the newest rows, made within the window, has its content
    };

    // What became of an add: the new row, or nothing when it was not stored; a failure
    // comes with the line to show ("历史记录未保存: …").
    struct Added {
        std::optional<qint64> rowID;
        QString failure;
    };
    using OnAdded = std::function<void(const Added&)>;
    using OnLoaded = std::function<void(const QList<ClipboardEntry>&)>;
    using OnWarning = std::function<void(const QString&)>;

    // Without `queue` the service makes its own.
    explicit HistoryService(DataDirectory directory, std::shared_ptr<WorkQueue> queue = nullptr);
    ~HistoryService();

    HistoryService(const HistoryService&) = delete;
    HistoryService& operator=(const HistoryService&) = delete;

    // From here on the history lives in `store`; until then (or with none) nothing is
    // stored and loads come back empty.
    void attach(std::shared_ptr<AppStore> store);

    // The stored history, newest first, at most historyCapacity entries; empty when it
    // cannot be read.
    void load(QObject* context, OnLoaded done);
    // Stores `entry` (an image held only in memory is saved as a file first). `done` may
    // be empty.
    void add(ClipboardEntry entry, Duplicates duplicates, QObject* context, OnAdded done);
    // Flushes the files a received entry names to the disk, ahead of any row that
    // refers to them; failures are reported as "文件未能写入磁盘: …".
    void flushReceivedFiles(ClipboardEntry entry, QObject* context, OnWarning warn);
    void remove(qint64 id);
    void clear();

private:
    void post(std::function<void()> task);
    Added addNow(const ClipboardEntry& entry, Duplicates duplicates);
    bool hasRecentDuplicate(const QString& fingerprint);
    void remember(qint64 id, const QString& fingerprint);
    template <typename Fn>
    static void answer(const QPointer<QObject>& context, Fn fn);

    DataDirectory directory_;
    // Worker only: the store, and the fingerprints of the rows written or read, by row id.
    std::shared_ptr<AppStore> store_;
    std::map<qint64, QString> fingerprints_;
    std::shared_ptr<WorkQueue> queue_; // last: stopping it runs what still uses the above
};

} // namespace orvane
