#include "ui/MainView.h"

#include "ui/ClipboardPanelView.h"
#include "ui/MainSidebarView.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QStackedWidget>

namespace orvane {

MainView::MainView(ClipboardImageCache& images, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("mainView"));
    setMinimumSize(536, 719);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    sidebar_ = new MainSidebarView(this);
    sidebar_->setItemAvailable(MainSidebarItem::settings, false);
    layout->addWidget(sidebar_);
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::VLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setForegroundRole(QPalette::Midlight);
    layout->addWidget(divider);
    pages_ = new QStackedWidget(this);
    clipboardPanel_ = new ClipboardPanelView(images, pages_);
    pages_->addWidget(clipboardPanel_);
    layout->addWidget(pages_, 1);

    connect(sidebar_, &MainSidebarView::selectionChanged, this, [this](MainSidebarItem item) {
        select(item);
        const bool show = item == MainSidebarItem::settings;
        if (show != showSettings_) {
            showSettings_ = show;
            emit showSettingsChanged(show);
        }
    });
}

MainSidebarItem MainView::sidebarItem() const {
    return sidebar_->selection();
}

void MainView::setSettingsPanel(QWidget* panel) {
    Q_ASSERT(panel && !settingsPanel_);
    settingsPanel_ = panel;
    pages_->addWidget(panel);
    sidebar_->setItemAvailable(MainSidebarItem::settings, true);
    if (showSettings_) {
        select(MainSidebarItem::settings);
    }
}

void MainView::setShowSettings(bool show) {
    if (show == showSettings_) {
        return;
    }
    showSettings_ = show;
    // Only a raised flag moves the sidebar; a cleared one leaves the page the user is on.
    if (show && settingsPanel_) {
        sidebar_->setSelection(MainSidebarItem::settings);
    }
    emit showSettingsChanged(show);
}

void MainView::select(MainSidebarItem item) {
    if (item == MainSidebarItem::settings && settingsPanel_) {
        pages_->setCurrentWidget(settingsPanel_);
    } else {
        pages_->setCurrentWidget(clipboardPanel_);
    }
}

} // namespace orvane
