#include "clipboard/ClipboardManager.h"

#include "clipboard/ClipboardConversions.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <mutex>

namespace orvane {

namespace {

// Images smaller than this are not worth a trip to another thread.
constexpr qsizetype offThreadImageBytes = 256 * 1024;

} // namespace

struct ClipboardManager::PendingCapture {
    ClipboardContent content;
    qint64 timestamp = 0;
    bool offThread = false;

    // Makes the entry (without its id) and its fingerprint, once; from any thread.
    void prepare() {
        std::lock_guard lock(mutex);
        if (prepared) {
            return;
        }
        entry = ClipboardConversions::entryFromContent(content, 0, timestamp);
        prepared = true;
    }
    bool isPrepared() {
        std::lock_guard lock(mutex);
        return prepared;
    }

    std::mutex mutex;
    bool prepared = false; // the entry is guarded by the mutex until then
    ClipboardEntry entry;
};

ClipboardManager::ClipboardManager(ClipboardIO& io, ClipboardTimers& timers, Log log,
                                   BackgroundRunner background, QObject* parent)
    : QObject(parent)
    , io_(io)
    , timers_(timers)
    , log_(std::move(log))
    , background_(std::move(background)) {
    if (!background_) {
        background_ = [](std::function<void()> job) {
            QThreadPool::globalInstance()->start(std::move(job));
        };
    }
}

ClipboardManager::~ClipboardManager() {
    stopListening();
}

void ClipboardManager::assertOwnerThread() const {
    Q_ASSERT(QThread::currentThread() == thread());
}

void ClipboardManager::stop() {
    assertOwnerThread();
    pollTimer_.reset();
    stopListening();
}

void ClipboardManager::stopListening() {
    if (listening_) {
        io_.setSettledChangeListener({});
        listening_ = false;
    }
}

void ClipboardManager::start(OnChanged onChanged, Persist persist) {
    assertOwnerThread();
    onChanged_ = std::move(onChanged);
    persist_ = std::move(persist);

    // Whatever is on the clipboard now is captured once below, not again by the poll.
    lastChangeCount_ = io_.changeCount();
    pollTimer_.reset();
    listening_ = io_.announcesSettledChanges();
    if (listening_) {
        // An announced change goes through the same gate as a poll: the send sessions
        // and the own-write bookkeeping of lastChangeCount_ apply to it unchanged.
        io_.setSettledChangeListener([this] { pollClipboard(); });
    } else {
        pollTimer_ = timers_.start(pollInterval, true, [this] { pollClipboard(); });
    }
    captureCurrent();
}

void ClipboardManager::pollClipboard() {
    assertOwnerThread();
    // The counter stays unread during a send, so a change made meanwhile is seen by the
    // first poll after it.
    if (sendSessionDepth_ != 0) {
        return;
    }
    const quint64 count = io_.changeCount();
    if (count == lastChangeCount_) {
        return;
    }
    lastChangeCount_ = count;
    captureCurrent();
}

void ClipboardManager::captureCurrent() {
    if (listening_) {
        // The backend announces a change only once its content is complete.
        finishCapture();
        return;
    }
    const quint64 key = nextCaptureKey_++;
    delayedCaptures_[key] = timers_.start(captureDelay, false, [this, key] {
        delayedCaptures_.erase(key);
        finishCapture();
    });
}

void ClipboardManager::finishCapture() {
    assertOwnerThread();
    const ClipboardReading reading = io_.readContent();
    if (reading.secret) {
        if (log_) {
            log_(QStringLiteral("Clipboard: content marked secret by a password manager was "
                                "not recorded"));
        }
        return;
    }
    if (!reading.content.kind) {
        return;
    }
    auto capture = std::make_shared<PendingCapture>();
    capture->content = reading.content;
    capture->timestamp = timers_.nowMs();
    capture->offThread =
        capture->content.imagePNG && capture->content.imagePNG->size() >= offThreadImageBytes;
    pendingCaptures_.push_back(capture);
    if (capture->offThread) {
        QPointer<ClipboardManager> self(this);
        background_([capture, self] {
            capture->prepare();
            // The guard is looked at on the main thread only.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self] {
                    if (self) {
                        self->drainCaptures(false);
                    }
                },
                Qt::QueuedConnection);
        });
    }
    drainCaptures(false);
}

// Moves finished captures into the history, oldest first, stopping at one still being
// prepared in the background unless `finishAll`, which prepares it right here: a change
// through the public calls must come after every capture read before it.
void ClipboardManager::drainCaptures(bool finishAll) {
    while (!pendingCaptures_.empty()) {
        const std::shared_ptr<PendingCapture> capture = pendingCaptures_.front();
        if (capture->offThread && !finishAll && !capture->isPrepared()) {
            return;
        }
        capture->prepare();
        pendingCaptures_.pop_front();
        applyPrepared(capture->entry, false);
    }
}

void ClipboardManager::applyContent(const ClipboardContent& content, bool force) {
    applyPrepared(ClipboardConversions::entryFromContent(content, 0, timers_.nowMs()), force);
}

void ClipboardManager::applyPrepared(ClipboardEntry entry, bool force) {
    entry.id = ++nextID_;
    if (!force && entry.fingerprint == skipFingerprint_) {
        return;
    }
    if (entry.fingerprint == currentFingerprint_) {
        return;
    }
    // entryFromContent has sized and fingerprinted the entry already.
    pushHead(std::move(entry));
    persistHead();
    emit stateChanged();
    if (onChanged_) {
        onChanged_();
    }
}

void ClipboardManager::insertReceivedEntry(ClipboardEntry entry) {
    const qint64 candidate = ++nextID_;
    if (entry.id > 0) {
        nextID_ = std::max(nextID_, entry.id);
    } else {
        entry.id = candidate;
    }
    entry.dataSize = ClipboardEntry::computeDataSize(entry);
    entry.fingerprint = entry.fingerprintOrCompute();
    pushHead(std::move(entry));
    persistHead();
    emit stateChanged();
    if (onChanged_) {
        onChanged_();
    }
}

void ClipboardManager::pushHead(ClipboardEntry entry) {
    currentFingerprint_ = entry.fingerprint;
    state_.current = entry;
    state_.history.prepend(std::move(entry));
    if (state_.history.size() > historyCapacity) {
        state_.history.resize(historyCapacity);
    }
}

void ClipboardManager::persistHead() {
    if (!persist_ || state_.history.isEmpty()) {
        return;
    }
    persist_(state_.history.front());
}

void ClipboardManager::noteStored(qint64 localID, qint64 rowID) {
    assertOwnerThread();
    if (rowID <= 0 || localID == rowID) {
        return;
    }
    bool found = false;
    for (ClipboardEntry& entry : state_.history) {
        if (entry.id == localID) {
            entry.id = rowID;
            found = true;
            break;
        }
    }
    if (!found) {
        return; // deleted or pushed out meanwhile
    }
    if (state_.current.id == localID) {
        state_.current.id = rowID;
    }
    nextID_ = std::max(nextID_, rowID);
    emit stateChanged();
}

void ClipboardManager::historyLoaded(const QList<ClipboardEntry>& entries) {
    assertOwnerThread();
    if (entries.isEmpty()) {
        return;
    }
    historyFromLoad(entries);
    if (onChanged_) {
        onChanged_();
    }
}

void ClipboardManager::historyFromLoad(const QList<ClipboardEntry>& entries) {
    assertOwnerThread();
    drainCaptures(true);
    // What was copied or received while a background load ran is newer than anything the
    // load read. Whatever of it the load did not see stays in front, so an item copied
    // right after start does not drop out of the list while it sits in the store.
    QList<ClipboardEntry> newer;
    for (const ClipboardEntry& held : std::as_const(state_.history)) {
        const bool seen = std::any_of(entries.begin(), entries.end(), [&](const auto& loaded) {
            return loaded.id == held.id && loaded.timestamp == held.timestamp;
        });
        if (!seen) {
            newer.append(held);
        }
    }
    state_.history = newer;
    qint64 largestID = 0;
    for (const ClipboardEntry& held : std::as_const(newer)) {
        largestID = std::max(largestID, held.id);
    }
    for (const ClipboardEntry& loaded : entries) {
        if (state_.history.size() == historyCapacity) {
            break;
        }
        ClipboardEntry entry = loaded;
        entry.dataSize = ClipboardEntry::computeDataSize(entry);
        entry.fingerprint = entry.fingerprintOrCompute();
        largestID = std::max(largestID, entry.id);
        state_.history.append(std::move(entry));
    }
    if (newer.isEmpty() && !state_.history.isEmpty()) {
        state_.current = state_.history.front();
        currentFingerprint_ = state_.current.fingerprint;
    }
    // Never lower: an entry captured while the load ran may have been given a row id
    // above the loaded ones, and handing that id out again would make a later local id
    // name a stored row of other content.
    nextID_ = std::max(nextID_, largestID);
    emit stateChanged();
}

Status<ClipboardError> ClipboardManager::applyEntry(const ClipboardEntry& entry) {
    assertOwnerThread();
    drainCaptures(true);
    auto content = ClipboardConversions::contentFromEntry(entry);
    if (!content) {
        return fail(content.error());
    }
    skipFingerprint_ = entry.fingerprintOrCompute();
    Status<ClipboardError> written = io_.writeContent(*content);
    if (written) {
        lastChangeCount_ = io_.changeCount();
        applyContent(*content, true);
    }
    skipFingerprint_.clear();
    return written;
}

Status<ClipboardError> ClipboardManager::receiveRemote(const ClipboardEntry& entry) {
    assertOwnerThread();
    drainCaptures(true);
    auto content = ClipboardConversions::contentFromEntry(entry);
    if (!content) {
        return fail(content.error());
    }
    if (Status<ClipboardError> written = io_.writeContent(*content); !written) {
        return written;
    }
    lastChangeCount_ = io_.changeCount();
    insertReceivedEntry(entry);
    if (entry.kind == ClipboardKind::image && content->imagePNG && !content->imagePNG->isEmpty()) {
        // Stays set: the image written here is not to come back as a local copy.
        skipFingerprint_ = currentFingerprint_;
    }
    return Done{};
}

std::optional<ClipboardEntry> ClipboardManager::entryByID(qint64 id) const {
    assertOwnerThread();
    std::optional<ClipboardEntry> found;
    if (state_.current.id == id) {
        found = state_.current;
    } else {
        const auto it = std::find_if(state_.history.cbegin(), state_.history.cend(),
                                     [id](const ClipboardEntry& e) { return e.id == id; });
        if (it == state_.history.cend()) {
            return std::nullopt;
        }
        found = *it;
    }
    found->dataSize = ClipboardEntry::computeDataSize(*found);
    return found;
}

bool ClipboardManager::removeHistoryItem(qint64 id) {
    assertOwnerThread();
    drainCaptures(true);
    const auto it = std::find_if(state_.history.cbegin(), state_.history.cend(),
                                 [id](const ClipboardEntry& e) { return e.id == id; });
    if (it == state_.history.cend()) {
        return false;
    }
    state_.history.erase(it);
    if (state_.current.id == id) {
        if (state_.history.isEmpty()) {
            state_.current = ClipboardEntry();
            currentFingerprint_.clear();
        } else {
            state_.current = state_.history.front();
            state_.current.dataSize = ClipboardEntry::computeDataSize(state_.current);
            currentFingerprint_ = state_.current.fingerprint;
        }
    }
    emit stateChanged();
    return true;
}

void ClipboardManager::clearHistory() {
    assertOwnerThread();
    drainCaptures(true);
    state_.current = ClipboardEntry();
    state_.history.clear();
    currentFingerprint_.clear();
    emit stateChanged();
}

void ClipboardManager::beginSendSession() {
    assertOwnerThread();
    if (sendSessionReleaseTimer_) {
        sendSessionReleaseTimer_.reset();
        endOneSendSession();
    }
    ++sendSessionDepth_;
}

void ClipboardManager::releaseSendSession() {
    assertOwnerThread();
    if (sendSessionReleaseTimer_) {
        sendSessionReleaseTimer_.reset();
        endOneSendSession();
    }
    sendSessionReleaseTimer_ = timers_.start(sendSessionReleaseDelay, false, [this] {
        sendSessionReleaseTimer_.reset();
        endOneSendSession();
        // Without polling nobody else would look at a change announced during the
        // session: this stands in for the first poll after it.
        if (listening_) {
            pollClipboard();
        }
    });
}

void ClipboardManager::endOneSendSession() {
    sendSessionDepth_ = std::max(sendSessionDepth_ - 1, 0);
}

} // namespace orvane
