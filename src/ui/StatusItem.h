#pragma once

#include <QIcon>
#include <QPoint>
#include <QString>

#include <functional>

class QMenu;

namespace orvane {

// The program's own item in a StatusNotifier panel. Qt decides once per run whether such a
// panel exists, so a panel started after the program (at login, or restarted) never gets
// Qt's tray icon; this item is offered to it instead.
class StatusItem {
public:
    struct Handlers {
        // The first time a panel took the item; later panels (a restarted one) are not
        // reported.
        std::function<void()> registered;
        // A click on the item, at the screen position the panel gives (null when it gives
        // none).
        std::function<void(QPoint)> activated;
        // The panel asks for the item's menu at that position (null: none given).
        std::function<void(QPoint)> contextMenuRequested;
    };

    virtual ~StatusItem() = default;

    // From now on registers the item with every StatusNotifier watcher that appears, the
    // one already there included. `menu` (which must outlive the offer) is also shown to
    // panels that draw the menu themselves. Handlers run on the main thread.
    virtual void offer(const QIcon& icon, const QString& toolTip, QMenu* menu,
                       Handlers handlers) = 0;
    // Takes the item out of every panel and stops offering it: Qt's own tray icon has
    // found a place.
    virtual void withdraw() = 0;
};

} // namespace orvane
