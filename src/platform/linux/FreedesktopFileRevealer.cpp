#include "platform/linux/FreedesktopFileRevealer.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QThread>

namespace orvane {

namespace {

const QString service = QStringLiteral("org.freedesktop.FileManager1");
const QString objectPath = QStringLiteral("/org/freedesktop/FileManager1");
// A file manager started by the call may take a while to answer; the fallback after this
// long beats a click that seems to do nothing.
constexpr int callTimeoutMs = 5000;

} // namespace

FreedesktopFileRevealer::FreedesktopFileRevealer(QDBusConnection connection, OpenUrl openDirectory,
                                                 QObject* parent)
    : QObject(parent)
    , connection_(std::move(connection))
    , openDirectory_(std::move(openDirectory)) {
    if (!openDirectory_) {
        openDirectory_ = [](const QUrl& url) {
            QDesktopServices::openUrl(url);
        };
    }
}

void FreedesktopFileRevealer::reveal(const QString& path) {
    Q_ASSERT(QThread::currentThread() == thread());
    if (!connection_.isConnected() || !QFileInfo::exists(path)) {
        openDirectoryOf(path);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, objectPath, service, QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, path] {
        watcher->deleteLater();
        if (watcher->isError()) {
            openDirectoryOf(path);
        }
    });
}

void FreedesktopFileRevealer::openDirectoryOf(const QString& path) {
    openDirectory_(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

} // namespace orvane
