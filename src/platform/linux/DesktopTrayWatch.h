#pragma once

#include "ui/TrayAvailability.h"

#include <QAbstractNativeEventFilter>
#include <QDBusConnection>
#include <QObject>

class QDBusServiceWatcher;

namespace orvane {

// Notices a tray host that starts after the program: a StatusNotifier watcher that takes
// its name on the session bus, or an X11 tray that announces its selection with a MANAGER
// message on the root window. Either only prompts a fresh look through
// QSystemTrayIcon::isSystemTrayAvailable(), so the host reported is one that Qt can put
// the icon in. Driven by events alone: with no host appearing it costs nothing.
//
// Main thread only.
class DesktopTrayWatch : public QObject,
                         public QAbstractNativeEventFilter,
                         public TrayAvailability {
    Q_OBJECT

public:
    explicit DesktopTrayWatch(QDBusConnection bus = QDBusConnection::sessionBus(),
                              QObject* parent = nullptr);
    ~DesktopTrayWatch() override;

    bool isAvailable() const override { return available_; }
    void setAppearedHandler(std::function<void()> handler) override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void recheck();
    void stopWatching();

    bool available_ = false;
    quint32 managerAtom_ = 0;
    bool filtering_ = false;
    QDBusServiceWatcher* busWatcher_ = nullptr;
    std::function<void()> appeared_;
};

} // namespace orvane
