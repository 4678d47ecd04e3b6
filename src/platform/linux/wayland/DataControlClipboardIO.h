#pragma once

#include "clipboard/ClipboardIO.h"
#include "platform/linux/wayland/DataControlThread.h"

#include <QObject>

#include <functional>
#include <memory>

namespace orvane {

// The clipboard through the compositor's data-control protocol, which sees every copy
// and sets the clipboard whether or not one of our windows has focus. A thread of its own
// reads each new offer as it appears; changeCount() and readContent() answer from what it
// read last, and each new offer is announced once it has been read, so the manager neither
// polls nor waits on another program.
//
// Threads: every call on the thread that created the object (the main thread).
class DataControlClipboardIO : public QObject, public ClipboardIO {
    Q_OBJECT
public:
    using Log = std::function<void(const QString&)>;

    explicit DataControlClipboardIO(Log log, DataControlThread::Limits limits = {},
                                    QObject* parent = nullptr);
    ~DataControlClipboardIO() override;

    // Connects and starts watching. Fails with a reason when the compositor lacks data
    // control; the object is then of no use.
    std::optional<QString> start();

    quint64 changeCount() const override { return changeCount_; }
    ClipboardReading readContent() override;
    // Takes effect once the connection's thread gets to it; our data comes back from the
    // compositor as the new selection, which is not counted as a change again.
    Status<ClipboardError> writeContent(const ClipboardContent& content) override;
    bool announcesSettledChanges() const override { return true; }
    void setSettledChangeListener(std::function<void()> listener) override;

private:
    void selectionRead(ClipboardReading reading, quint64 generation);

    Log log_;
    std::function<void()> settledChange_;
    std::unique_ptr<DataControlThread> thread_;
    ClipboardReading current_;
    quint64 changeCount_ = 0;
    quint64 writeGeneration_ = 0;
    bool lost_ = false;
};

} // namespace orvane
