#pragma once

#include "platform/linux/DBusMenuTypes.h"

#include <QDBusAbstractAdaptor>
#include <QDBusVariant>
#include <QPointer>
#include <QStringList>

class QAction;
class QMenu;

namespace orvane {

// A QMenu as com.canonical.dbusmenu, for panels that draw an item's menu themselves from
// its Menu property instead of asking the item to pop it up. The entries keep the ids of
// their places in the menu (the menu itself is 0); a click triggers the action.
//
// Main thread only (the bus delivers calls on the thread of the object).
class DBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    DBusMenuAdaptor(QObject* object, QMenu* menu);

    uint version() const { return 3; }
    QString textDirection() const;
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   orvane::DBusMenuLayoutItem& layout);
    QList<orvane::DBusMenuItemProperties> GetGroupProperties(const QList<int>& ids,
                                                             const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    bool AboutToShow(int id);

signals:
    void LayoutUpdated(uint revision, int parent);

private:
    // Null for the menu itself (id 0) and for an id that names nothing.
    QAction* actionOf(int id) const;
    QVariantMap propertiesOf(int id, const QStringList& names) const;

    QPointer<QMenu> menu_;
    uint revision_ = 1;
};

} // namespace orvane
