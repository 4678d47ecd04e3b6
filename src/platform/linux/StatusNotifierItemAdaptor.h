#pragma once

#include "platform/linux/StatusNotifierTypes.h"

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QPoint>

#include <functional>

namespace orvane {

// The org.kde.StatusNotifierItem interface of the item's object: its fixed properties,
// the program's icon and tooltip, and the clicks a panel forwards.
//
// Main thread only (the bus delivers calls on the thread of the object).
class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(QList<orvane::StatusNotifierPixmap> IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ emptyName)
    Q_PROPERTY(QList<orvane::StatusNotifierPixmap> OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ emptyName)
    Q_PROPERTY(QList<orvane::StatusNotifierPixmap> AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ emptyName)
    Q_PROPERTY(orvane::StatusNotifierToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    using PointHandler = std::function<void(QPoint)>;

    StatusNotifierItemAdaptor(QObject* object, PointHandler activated, PointHandler contextMenu);

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("orvane"); }
    QString title() const { return QStringLiteral("Orvane"); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString iconName() const { return {}; }
    StatusNotifierPixmaps iconPixmap() const { return pixmaps_; }
    QString emptyName() const { return {}; }
    StatusNotifierPixmaps noPixmaps() const { return {}; }
    StatusNotifierToolTip toolTip() const { return toolTip_; }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return menuPath_; }
    void setMenuPath(const QDBusObjectPath& path) { menuPath_ = path; }

    // Each tells the panels the new value.
    void setIcon(StatusNotifierPixmaps pixmaps);
    void setToolTip(const QString& text);

public slots:
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void ContextMenu(int x, int y);
    void Scroll(int delta, const QString& orientation);

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    PointHandler activated_;
    PointHandler contextMenu_;
    StatusNotifierPixmaps pixmaps_;
    StatusNotifierToolTip toolTip_;
    // Without an exported menu a panel asks for it through ContextMenu.
    QDBusObjectPath menuPath_{QStringLiteral("/NO_DBUSMENU")};
};

} // namespace orvane
