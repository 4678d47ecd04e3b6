#pragma once

#include "app/SendController.h"
#include "clipboard/ClipboardEntry.h"
#include "common/Result.h"
#include "link/LinkState.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <map>

namespace orvane {

class AppModel;

// What other programs of the session may ask of the running program: sends of a text, a file,
// an image or a history entry as numbered jobs, cancelling them, the history, the window; and
// what they may hear: each job's progress and end, the items the device pushed, the link.
//
// It keeps the window's rules, with one difference: a send asked for while another one is
// under way is refused, where a click in the window replaces the running one. Its sends go
// through the window's send controller, so the window shows their progress and banner; texts
// and files sent this way do not join the history. Job events are queued, so a caller hears
// them after the answer that gave it the job. Main thread; nothing it does touches the disk.
class RemoteControl : public QObject {
    Q_OBJECT

public:
    enum class Refusal { busy, notConnected, notFound, invalidArgument, tooLarge };
    struct Refused {
        Refusal kind;
        QString message; // the program's own text, for people
    };
    using Job = quint32;

    enum class LinkInUse { none, serial, ble };
    struct LinkValues {
        LinkInUse link = LinkInUse::none;
        LinkPhase phase = LinkPhase::closed;
        QString port;       // the serial port's path, the BLE bridge's address
        QString deviceName; // the bridge's name, the serial port's product; "" if unknown
        QString statusText; // the link's status line as the window shows it
        bool sending = false;
        friend bool operator==(const LinkValues&, const LinkValues&) = default;
    };

    RemoteControl(AppModel& model, std::function<void()> showWindow, QObject* parent = nullptr);

    Result<Job, Refused> sendText(const QString& text);
    // `path` must be absolute; what is there is only looked at on the send's own thread.
    Result<Job, Refused> sendFile(const QString& path);
    Result<Job, Refused> sendImage(const QString& path);
    Result<Job, Refused> sendEntry(qint64 id);
    // A job that has ended is left alone; one never handed out is notFound.
    Status<Refused> cancel(Job job);

    // The history on screen, newest first.
    QList<ClipboardEntry> history() const;
    void showWindow();
    const LinkValues& linkValues() const { return linkValues_; }

signals:
    void jobProgress(quint32 job, int percent);
    // `bytes` is the payload's size when sent, otherwise 0.
    void jobFinished(quint32 job, orvane::SendController::Outcome outcome, const QString& message,
                     quint64 bytes);
    void itemReceived(const orvane::ClipboardEntry& entry);
    void linkValuesChanged();

private:
    Result<Job, Refused> start(const ClipboardEntry& entry);
    static Status<Refused> checkPath(const QString& path);
    void refreshLinkValues();
    LinkValues currentLinkValues() const;

    AppModel& model_;
    std::function<void()> showWindow_;
    Job lastJob_ = 0;
    // Jobs not yet ended, with their send's number.
    std::map<Job, quint64> running_;
    LinkValues linkValues_;
};

} // namespace orvane
