#pragma once

#include "common/Result.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;

namespace orvane::devsim {

// The simulated USB cable: a pseudo-terminal pair whose master side is the device and
// whose slave side is what the client opens, reached through a stable symlink. Both sides
// run raw, like the device's CDC line. Unplugging closes the pair (the client sees a
// hang-up) and removes the symlink; plugging again makes a new pair behind the same path.
class PtyLink : public QObject {
    Q_OBJECT

public:
    explicit PtyLink(QString linkPath, QObject* parent = nullptr);
    ~PtyLink() override;

    // Opens a new pair and points the link path at its slave. Refuses to replace anything
    // at the link path that is not a symlink. Fails with a readable reason.
    Status<QString> plug();
    void unplug();
    bool isPlugged() const { return masterFd_ >= 0; }
    QString slavePath() const { return slavePath_; }

    // Queues `bytes` for the client and writes as much as the line takes now; the rest goes
    // out as the client reads. False when unplugged.
    bool write(const QByteArray& bytes);

    // Throws away what the client has not read yet. A real device's bytes are lost while
    // nobody holds the port open; without this a client that opens the line late would
    // first read minutes of stale probes.
    void discardUnread();

signals:
    void bytesReceived(const QByteArray& bytes);

private:
    void readAvailable();
    void flushOutbox();
    void removeSymlinkIfOurs();

    QString linkPath_;
    QString slavePath_;
    int masterFd_ = -1;
    // Kept open by us so that the master never sees a hang-up while no client has the
    // slave open.
    int slaveFd_ = -1;
    QByteArray outbox_;
    std::unique_ptr<QSocketNotifier> readNotifier_;
    std::unique_ptr<QSocketNotifier> writeNotifier_;
};

} // namespace orvane::devsim
