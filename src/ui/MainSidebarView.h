#pragma once

#include "ui/MainSidebarItem.h"

#include <QHash>
#include <QWidget>

class QToolButton;

namespace orvane {

// The narrow icon column at the window's left edge: one button per MainSidebarItem.
class MainSidebarView : public QWidget {
    Q_OBJECT

public:
    static constexpr int sidebarWidth = 56;

    explicit MainSidebarView(QWidget* parent = nullptr);

    MainSidebarItem selection() const { return selection_; }
    // Emits selectionChanged only when the selection actually changes.
    void setSelection(MainSidebarItem item);

    // Hides an item's button (an item whose page is not installed).
    void setItemAvailable(MainSidebarItem item, bool available);

signals:
    void selectionChanged(MainSidebarItem item);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateButtons();

    MainSidebarItem selection_ = MainSidebarItem::clipboard;
    QHash<MainSidebarItem, QToolButton*> buttons_;
};

} // namespace orvane
