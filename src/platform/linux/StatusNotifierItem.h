#pragma once

#include "ui/StatusItem.h"

#include <QDBusConnection>
#include <QObject>

class QDBusServiceWatcher;

namespace orvane {

class StatusNotifierItemAdaptor;

// The program's item on the session bus: object /StatusNotifierItem (its menu at /MenuBar)
// under a name of its own, registered with org.kde.StatusNotifierWatcher when offered and again
// each time a watcher takes that name (a panel that starts late or restarts). Driven by the bus's
// name announcements alone: with no panel coming it costs nothing.
//
// Main thread only.
class StatusNotifierItem : public QObject, public StatusItem {
    Q_OBJECT

public:
    explicit StatusNotifierItem(QDBusConnection bus = QDBusConnection::sessionBus(),
                                QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    void offer(const QIcon& icon, const QString& toolTip, QMenu* menu, Handlers handlers) override;
    void withdraw() override;

    // The bus name the item is registered under; empty before it is offered.
    QString serviceName() const { return serviceName_; }

private:
    void registerWithWatcher();

    QDBusConnection bus_;
    QString serviceName_;
    StatusNotifierItemAdaptor* adaptor_ = nullptr;
    // The object the menu is exported on, when there is a menu.
    QObject* menuObject_ = nullptr;
    QDBusServiceWatcher* watcher_ = nullptr;
    Handlers handlers_;
    bool reported_ = false;
};

} // namespace orvane
