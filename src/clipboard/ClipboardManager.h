#pragma once

#include "clipboard/ClipboardEntry.h"
#include "clipboard/ClipboardError.h"
#include "clipboard/ClipboardIO.h"
#include "clipboard/ClipboardState.h"
#include "clipboard/ClipboardTimers.h"
#include "common/Result.h"

#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace orvane {

// Watches the system clipboard and keeps the bounded history of what was copied, newest
// first; puts history entries and entries received from the device onto the clipboard
// without recording its own writes as new local changes.
//
// Persistence is not its business: start() is given callbacks that store an entry and
// announce a new entry; the stored history is handed in through historyLoaded() and the
// row id of a stored entry through noteStored(), whenever the store has them. While the application
// sends clipboard content to the device it brackets the send with
// beginSendSession/releaseSendSession, and the manager leaves the clipboard alone meanwhile.
//
// Threads: lives on the main thread; every public call, every timer and every callback
// happens there. The fingerprint of a large captured image is computed by the background
// runner, so that hashing a screenshot does not hold up the main thread; captures still enter the
// history in the order they were read, and before any later change made through the public calls.
class ClipboardManager : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds pollInterval{500};
    // The change is read a little after it was seen, once the writer has finished
    // offering all of its formats.
    static constexpr std::chrono::milliseconds captureDelay{80};
    // Capture resumes this long after the last send session was released, so that
    // back-to-back sends keep it suspended without a gap.
    static constexpr std::chrono::milliseconds sendSessionReleaseDelay{400};

    // Called after the history gained an entry.
    using OnChanged = std::function<void()>;
    // Starts storing an entry; once stored, its row id is handed to noteStored(). An
    // entry that is not stored (a failure included) keeps its local id.
    using Persist = std::function<void(const ClipboardEntry&)>;
    // Receives technical log lines.
    using Log = std::function<void(const QString&)>;
    // Runs a job on some background thread.
    using BackgroundRunner = std::function<void(std::function<void()>)>;

    // `io` and `timers` must outlive the manager. Without `background` large captured
    // images are prepared on Qt's global thread pool.
    ClipboardManager(ClipboardIO& io, ClipboardTimers& timers, Log log,
                     BackgroundRunner background = {}, QObject* parent = nullptr);
    ~ClipboardManager() override;

    // Installs the callbacks (replacing earlier ones), takes what is on the clipboard now
    // as already seen, starts watching and captures the current content once. A backend
    // that announces settled changes is not polled: each change it announces is captured
    // at once, without the capture delay.
    void start(OnChanged onChanged, Persist persist);
    // The stored history, newest first, read while the manager may have run for a while.
    // What was copied or received meanwhile and is not among it stays in front.
    void historyLoaded(const QList<ClipboardEntry>& entries);
    // The entry with the local id `localID` was stored as row `rowID`.
    void noteStored(qint64 localID, qint64 rowID);
    // Stops watching the clipboard (the application is quitting); the history stays.
    void stop();

    const ClipboardState& state() const { return state_; }

    // Puts a history entry on the clipboard and makes it the newest entry again (a new
    // entry with a new id and time, unless it is the current one already).
    Status<ClipboardError> applyEntry(const ClipboardEntry& entry);
    // Puts an entry received from the device on the clipboard and at the head of the
    // history, always, keeping its id when it has one.
    Status<ClipboardError> receiveRemote(const ClipboardEntry& entry);

    std::optional<ClipboardEntry> entryByID(qint64 id) const;
    // True when an entry was removed. The stored row is the caller's to delete.
    bool removeHistoryItem(qint64 id);
    void clearHistory();

    void beginSendSession();
    void releaseSendSession();

    int sendSessionDepth() const { return sendSessionDepth_; }
    // The last id handed out; new local ids count up from it.
    qint64 nextID() const { return nextID_; }

signals:
    // The current entry or the history changed.
    void stateChanged();

private:
    struct PendingCapture;

    void pollClipboard();
    void stopListening();
    void captureCurrent();
    void finishCapture();
    void drainCaptures(bool finishAll);
    void applyContent(const ClipboardContent& content, bool force);
    void applyPrepared(ClipboardEntry entry, bool force);
    void insertReceivedEntry(ClipboardEntry entry);
    void pushHead(ClipboardEntry entry);
    void persistHead();
    void historyFromLoad(const QList<ClipboardEntry>& entries);
    void endOneSendSession();
    void assertOwnerThread() const;

    ClipboardIO& io_;
    ClipboardTimers& timers_;
    Log log_;
    BackgroundRunner background_;

    ClipboardState state_;
    qint64 nextID_ = 0;
    QString currentFingerprint_;
    QString skipFingerprint_;
    std::unique_ptr<ClipboardTimers::Timer> pollTimer_;
    // The backend announces its changes and is listened to rather than polled.
    bool listening_ = false;
    quint64 lastChangeCount_ = 0;
    OnChanged onChanged_;
    Persist persist_;
    int sendSessionDepth_ = 0;
    std::unique_ptr<ClipboardTimers::Timer> sendSessionReleaseTimer_;
    // Captures waiting out their delay, by start order.
    std::map<quint64, std::unique_ptr<ClipboardTimers::Timer>> delayedCaptures_;
    quint64 nextCaptureKey_ = 0;
    // Content read from the clipboard, oldest first, whose entry is still being made
    // (a large image's fingerprint is computed off the main thread). Captures
    // join the history strictly in this order.
    std::deque<std::shared_ptr<PendingCapture>> pendingCaptures_;
};

} // namespace orvane
