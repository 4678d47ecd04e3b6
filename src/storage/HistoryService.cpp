#include "storage/HistoryService.h"

#include "common/SystemErrorText.h"
#include "storage/ClipboardRecordMapping.h"

#include <QCoreApplication>
#include <QFile>
#include <QMetaObject>

#include <cerrno>
#include <unistd.h>

namespace orvane {

namespace {

const QString notStored = QStringLiteral("历史记录未保存: ");

// More than the rows the duplicate check looks at, so that a row is never hashed twice
// while it can still count.
constexpr std::size_t keptFingerprints = 2 * historyCapacity;

} // namespace

HistoryService::HistoryService(DataDirectory directory, std::shared_ptr<WorkQueue> queue)
    : directory_(std::move(directory))
    , queue_(queue ? std::move(queue)
                   : std::make_shared<WorkQueue>(QStringLiteral("com.orvane.app.history"))) {}

HistoryService::~HistoryService() {
    queue_->stop();
}

template <typename Fn>
void HistoryService::answer(const QPointer<QObject>& context, Fn fn) {
    // The guard is looked at on the context's own thread only, where it cannot be
    // destroyed meanwhile.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [context, fn = std::move(fn)] {
            if (context) {
                fn();
            }
        },
        Qt::QueuedConnection);
}

void HistoryService::post(std::function<void()> task) {
    queue_->post(std::move(task));
}

void HistoryService::attach(std::shared_ptr<AppStore> store) {
    post([this, store = std::move(store)] {
        store_ = store;
        fingerprints_.clear();
    });
}

void HistoryService::load(QObject* context, OnLoaded done) {
    post([this, context = QPointer<QObject>(context), done = std::move(done)] {
        QList<ClipboardEntry> entries;
        if (store_) {
            if (auto rows = store_->listClipboardRecords(historyCapacity)) {
                for (const ClipboardRecord& row : rows.value()) {
                    entries.append(ClipboardRecordMapping::entryFromRecord(row));
                    remember(row.id, entries.back().fingerprint);
                }
            }
        }
        answer(context, [done, entries = std::move(entries)] { done(entries); });
    });
}

void HistoryService::add(ClipboardEntry entry, Duplicates duplicates, QObject* context,
                         OnAdded done) {
    post([this, entry = std::move(entry), duplicates, context = QPointer<QObject>(context),
          done = std::move(done)] {
        const Added added = addNow(entry, duplicates);
        if (done) {
            answer(context, [done, added] { done(added); });
        }
    });
}

HistoryService::Added HistoryService::addNow(const ClipboardEntry& entry, Duplicates duplicates) {
    Q_ASSERT(queue_->isCurrentThread());
    if (!store_) {
        return {};
    }
    const QString fingerprint = entry.fingerprintOrCompute();
    if (duplicates == Duplicates::skipRecent && hasRecentDuplicate(fingerprint)) {
        return {};
    }
    // Stores an inline image as a file first, so that the row refers to it.
    auto record = ClipboardRecordMapping::recordFromEntry(entry, directory_);
    if (!record) {
        return {std::nullopt, notStored + record.error().description()};
    }
    auto added = store_->addClipboardRecord(record.value());
    if (!added) {
        return {std::nullopt, notStored + added.error().description()};
    }
    remember(added.value(), fingerprint);
    return {added.value(), {}};
}

bool HistoryService::hasRecentDuplicate(const QString& fingerprint) {
    auto recent = store_->recentClipboardRecords(duplicateWindowMs);
    if (!recent) {
        return false; // stored rather than lost
    }
    for (const ClipboardRecord& row : recent.value()) {
        auto known = fingerprints_.find(row.id);
        if (known == fingerprints_.end()) {
            // Written by another program: read once, then kept.
            known = fingerprints_.emplace(row.id, recordFingerprint(row)).first;
        }
        if (known->second == fingerprint) {
            return true;
        }
    }
    return false;
}

void HistoryService::remember(qint64 id, const QString& fingerprint) {
    Q_ASSERT(queue_->isCurrentThread());
    fingerprints_[id] = fingerprint;
    while (fingerprints_.size() > keptFingerprints) {
        fingerprints_.erase(fingerprints_.begin()); // row ids grow: the oldest go
    }
}

void HistoryService::flushReceivedFiles(ClipboardEntry entry, QObject* context, OnWarning warn) {
    post([entry = std::move(entry), context = QPointer<QObject>(context), warn = std::move(warn)] {
        // One that is gone already (replaced by a later one of the same name) needs nothing.
        for (const QString& path : entry.files) {
            QFile file(path);
            QString reason;
            if (!file.open(QIODevice::ReadOnly)) {
                if (!file.exists()) {
                    continue;
                }
                reason = file.errorString();
            } else if (::fsync(file.handle()) != 0) {
                reason = systemErrorText(errno);
            } else {
                continue;
            }
            answer(context,
                   [warn, line = QStringLiteral("文件未能写入磁盘: %1: %2").arg(path, reason)] {
                       warn(line);
                   });
        }
    });
}

void HistoryService::remove(qint64 id) {
    post([this, id] {
        fingerprints_.erase(id);
        if (store_) {
            (void)store_->deleteClipboardRecord(id);
        }
    });
}

void HistoryService::clear() {
    post([this] {
        fingerprints_.clear();
        if (store_) {
            (void)store_->clearClipboardRecords();
        }
    });
}

} // namespace orvane
