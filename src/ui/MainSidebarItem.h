#pragma once

#include <QList>
#include <QString>

namespace orvane {

// The sidebar's entries, in their order on screen.
enum class MainSidebarItem { clipboard, settings };

inline QList<MainSidebarItem> allMainSidebarItems() {
    return {MainSidebarItem::clipboard, MainSidebarItem::settings};
}

inline QString mainSidebarItemRawValue(MainSidebarItem item) {
    return item == MainSidebarItem::clipboard ? QStringLiteral("clipboard")
                                              : QStringLiteral("settings");
}

inline QString mainSidebarItemTitle(MainSidebarItem item) {
    return item == MainSidebarItem::clipboard ? QStringLiteral("剪贴板") : QStringLiteral("设置");
}

inline QString mainSidebarItemSymbol(MainSidebarItem item) {
    return item == MainSidebarItem::clipboard ? QStringLiteral("list.clipboard")
                                              : QStringLiteral("gearshape");
}

} // namespace orvane
