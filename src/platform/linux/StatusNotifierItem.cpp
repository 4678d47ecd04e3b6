#include "platform/linux/StatusNotifierItem.h"

#include "platform/linux/DBusMenuAdaptor.h"
#include "platform/linux/StatusNotifierItemAdaptor.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDebug>
#include <QThread>

namespace orvane {

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString menuPath = QStringLiteral("/MenuBar");

} // namespace

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , bus_(std::move(bus)) {}

StatusNotifierItem::~StatusNotifierItem() {
    withdraw();
}

void StatusNotifierItem::offer(const QIcon& icon, const QString& toolTip, QMenu* menu,
                               Handlers handlers) {
    Q_ASSERT(QThread::currentThread() == thread());
    if (adaptor_ || !bus_.isConnected()) {
        return;
    }
    handlers_ = std::move(handlers);
    registerStatusNotifierTypes();
    adaptor_ = new StatusNotifierItemAdaptor(
        this,
        [this](QPoint at) {
            if (handlers_.activated) {
                handlers_.activated(at);
            }
        },
        [this](QPoint at) {
            if (handlers_.contextMenuRequested) {
                handlers_.contextMenuRequested(at);
            }
        });
    adaptor_->setIcon(statusNotifierPixmaps(icon));
    adaptor_->setToolTip(toolTip);
    if (menu) {
        menuObject_ = new QObject(this);
        new DBusMenuAdaptor(menuObject_, menu);
        if (bus_.registerObject(menuPath, menuObject_, QDBusConnection::ExportAdaptors)) {
            adaptor_->setMenuPath(QDBusObjectPath(menuPath));
        } else {
            qWarning().noquote() << "StatusNotifier item: object path" << menuPath << "is taken";
        }
    }
    if (!bus_.registerObject(itemPath, this, QDBusConnection::ExportAdaptors)) {
        qWarning().noquote() << "StatusNotifier item: object path" << itemPath << "is taken";
        return;
    }
    // A name of its own, so that withdrawing takes the item out of the panel. Qt's own
    // tray item numbers its names from 1.
    serviceName_ =
        QStringLiteral("org.kde.StatusNotifierItem-%1-0").arg(QCoreApplication::applicationPid());
    if (!bus_.registerService(serviceName_)) {
        qWarning().noquote() << "StatusNotifier item: bus name refused:" << bus_.lastError().name();
        serviceName_ = bus_.baseService();
    }
    watcher_ = new QDBusServiceWatcher(watcherService, bus_,
                                       QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this,
            &StatusNotifierItem::registerWithWatcher);
    registerWithWatcher();
}

void StatusNotifierItem::withdraw() {
    Q_ASSERT(QThread::currentThread() == thread());
    delete watcher_;
    watcher_ = nullptr;
    if (adaptor_) {
        bus_.unregisterObject(itemPath);
        delete adaptor_;
        adaptor_ = nullptr;
    }
    if (menuObject_) {
        bus_.unregisterObject(menuPath);
        delete menuObject_;
        menuObject_ = nullptr;
    }
    if (!serviceName_.isEmpty() && serviceName_ != bus_.baseService()) {
        bus_.unregisterService(serviceName_);
    }
    serviceName_.clear();
    handlers_ = {};
}

void StatusNotifierItem::registerWithWatcher() {
    Q_ASSERT(QThread::currentThread() == thread());
    QDBusMessage call = QDBusMessage::createMethodCall(
        watcherService, QStringLiteral("/StatusNotifierWatcher"), watcherService,
        QStringLiteral("RegisterStatusNotifierItem"));
    call << serviceName_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* reply) {
                reply->deleteLater();
                if (reply->isError()) {
                    // No watcher yet: the name watch announces the one that comes.
                    if (reply->error().type() != QDBusError::ServiceUnknown) {
                        qWarning().noquote()
                            << "StatusNotifier watcher refused the item:" << reply->error().name();
                    }
                    return;
                }
                if (!reported_ && adaptor_) {
                    reported_ = true;
                    if (handlers_.registered) {
                        handlers_.registered();
                    }
                }
            });
}

} // namespace orvane
