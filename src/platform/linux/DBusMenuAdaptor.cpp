#include "platform/linux/DBusMenuAdaptor.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>

namespace orvane {

DBusMenuAdaptor::DBusMenuAdaptor(QObject* object, QMenu* menu)
    : QDBusAbstractAdaptor(object)
    , menu_(menu) {
    registerDBusMenuTypes();
}

QString DBusMenuAdaptor::textDirection() const {
    return QGuiApplication::layoutDirection() == Qt::RightToLeft ? QStringLiteral("rtl")
                                                                 : QStringLiteral("ltr");
}

QAction* DBusMenuAdaptor::actionOf(int id) const {
    if (!menu_ || id <= 0) {
        return nullptr;
    }
    const QList<QAction*> actions = menu_->actions();
    return id <= actions.size() ? actions[id - 1] : nullptr;
}

QVariantMap DBusMenuAdaptor::propertiesOf(int id, const QStringList& names) const {
    QVariantMap properties;
    if (id == 0) {
        properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    } else if (const QAction* action = actionOf(id)) {
        if (action->isSeparator()) {
            properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
        } else {
            // The panel marks the access key with an underscore, Qt with an ampersand.
            const QString text = action->text();
            QString label;
            for (qsizetype i = 0; i < text.size(); ++i) {
                if (text[i] == QLatin1Char('_')) {
                    label += QStringLiteral("__");
                } else if (text[i] != QLatin1Char('&')) {
                    label += text[i];
                } else if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) {
                    label += text[++i];
                } else {
                    label += QLatin1Char('_');
                }
            }
            properties.insert(QStringLiteral("label"), label);
        }
        properties.insert(QStringLiteral("enabled"), action->isEnabled());
        properties.insert(QStringLiteral("visible"), action->isVisible());
    }
    if (!names.isEmpty()) {
        for (auto it = properties.begin(); it != properties.end();) {
            it = names.contains(it.key()) ? std::next(it) : properties.erase(it);
        }
    }
    return properties;
}

uint DBusMenuAdaptor::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                DBusMenuLayoutItem& layout) {
    layout = {parentId, propertiesOf(parentId, propertyNames), {}};
    // The entries are all leaves: only the menu itself has children.
    if (parentId == 0 && recursionDepth != 0 && menu_) {
        for (int id = 1; id <= menu_->actions().size(); ++id) {
            layout.children.append({id, propertiesOf(id, propertyNames), {}});
        }
    }
    return revision_;
}

QList<DBusMenuItemProperties>
DBusMenuAdaptor::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames) {
    QList<DBusMenuItemProperties> result;
    for (const int id : ids) {
        if (id == 0 || actionOf(id)) {
            result.append({id, propertiesOf(id, propertyNames)});
        }
    }
    return result;
}

QDBusVariant DBusMenuAdaptor::GetProperty(int id, const QString& name) {
    return QDBusVariant(propertiesOf(id, {name}).value(name));
}

void DBusMenuAdaptor::Event(int id, const QString& eventId, const QDBusVariant&, uint) {
    QAction* action = actionOf(id);
    if (!action || eventId != QLatin1String("clicked") || action->isSeparator() ||
        !action->isEnabled()) {
        return;
    }
    // After the call has returned: the action may end the program.
    QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
}

bool DBusMenuAdaptor::AboutToShow(int) {
    return false;
}

} // namespace orvane
