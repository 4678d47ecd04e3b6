#include "serial/SerialConnectionController.h"
#include "serial/SerialStatusText.h"

// The controller's watch for other programs that open the connected port: a tty may be open
// in several processes, and one that does not lock it (a terminal program with default
// settings) reads from the same line; whatever it reads is lost to us. The link stays up,
// the user is told who it is for as long as it lasts.
//
// Finding the other openers means reading every process's descriptors, which costs in
// proportion to everything running on the machine, so it is done only when the kernel
// reports that the port's node was opened or closed, not on a timer.

namespace orvane {

void SerialConnectionController::setOpenWatch(OpenWatchFactory makeWatch, QueuePoster post) {
    Q_ASSERT(!makeWatch || post);
    makeOpenWatch_ = std::move(makeWatch);
    postToQueue_ = std::move(post);
}

void SerialConnectionController::checkOtherOpenersLocked() {
    if (!isLinkLiveLocked()) {
        return;
    }
    const QString path = session_->path();
    const QStringList openers = devices_.otherOpeners(path);
    const SerialHint hint =
        openers.isEmpty() ? SerialHint{} : SerialHint::sharedPort(openers.first(), path);
    if (hint == sharedOpenerHint_) {
        return;
    }
    const SerialHint previous = std::exchange(sharedOpenerHint_, hint);
    if (!hint.isEmpty()) {
        host_.log(QStringLiteral("WRN"), SerialStatusText::hint(hint));
        setConnectHintLocked(hint);
    } else if (connectHintLocked_ == previous) {
        setConnectHintLocked({});
    }
}

void SerialConnectionController::followOtherOpenersLocked() {
    if (!isLinkLiveLocked()) {
        return;
    }
    if (!makeOpenWatch_) {
        checkOtherOpenersLocked(); // nothing tells us when to look
    } else if (!openWatch_) {
        // The node went away under a session that has reopened the path since, or watching
        // failed last time.
        armOpenWatchLocked();
    } else if (std::exchange(openerRecheckDue_, false)) {
        checkOtherOpenersLocked();
    }
}

void SerialConnectionController::armOpenWatchLocked() {
    closeOpenWatchLocked();
    if (makeOpenWatch_ && isLinkLiveLocked()) {
        std::unique_ptr<SerialPortOpenWatch> watch = makeOpenWatch_();
        const quint64 generation = ++openWatchGeneration_;
        auto onEvents = [this, generation,
                         post = postToQueue_](const SerialPortOpenWatch::Events& events) {
            post([this, generation, events] { handleOpenWatchEventsLocked(generation, events); });
        };
        // Our own session opened the node before this, so its open is not reported.
        if (watch && watch->start(session_->path(), std::move(onEvents))) {
            openWatch_ = std::move(watch);
        }
    }
    // Whoever had the port open before we watched it.
    checkOtherOpenersLocked();
}

void SerialConnectionController::closeOpenWatchLocked() {
    openWatch_.reset();
    openerRecheckDue_ = false;
}

void SerialConnectionController::handleOpenWatchEventsLocked(
    quint64 generation, const SerialPortOpenWatch::Events& events) {
    assertOnQueue();
    if (!openWatch_ || generation != openWatchGeneration_) {
        return; // reported before its watch was closed
    }
    if (events.gone) {
        closeOpenWatchLocked();
        return;
    }
    if (events.opened) {
        // The kernel reports an open before the new descriptor shows in /proc, so a look
        // right now may miss it; the next periodic check looks once more.
        openerRecheckDue_ = true;
        checkOtherOpenersLocked();
    } else if (events.closed && !sharedOpenerHint_.isEmpty()) {
        checkOtherOpenersLocked();
    }
}

} // namespace orvane
