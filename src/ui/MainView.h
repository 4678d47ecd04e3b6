#pragma once

#include "ui/MainSidebarItem.h"

#include <QWidget>

class QStackedWidget;

namespace orvane {

class ClipboardImageCache;
class ClipboardPanelView;
class MainSidebarView;

// The window's content: the sidebar, a divider, and the page the sidebar selects. It
// keeps the selection and the application's "settings requested" flag (showSettings) in
// step: setting the flag selects the settings page, and choosing a page in the sidebar
// reports the flag (showSettingsChanged).
class MainView : public QWidget {
    Q_OBJECT

public:
    explicit MainView(ClipboardImageCache& images, QWidget* parent = nullptr);

    ClipboardPanelView* clipboardPanel() const { return clipboardPanel_; }
    MainSidebarView* sidebar() const { return sidebar_; }
    MainSidebarItem sidebarItem() const;

    // Installs the settings page. Until one is installed the sidebar offers the
    // clipboard only and showSettings cannot switch away from it.
    void setSettingsPanel(QWidget* panel);
    bool hasSettingsPanel() const { return settingsPanel_ != nullptr; }

    bool showSettings() const { return showSettings_; }

public slots:
    void setShowSettings(bool show);

signals:
    void showSettingsChanged(bool show);

private:
    void select(MainSidebarItem item);

    MainSidebarView* sidebar_;
    QStackedWidget* pages_;
    ClipboardPanelView* clipboardPanel_;
    QWidget* settingsPanel_ = nullptr;
    bool showSettings_ = false;
};

} // namespace orvane
