#pragma once

#include "ui/ScreenArea.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace orvane {

class ClipboardImageCache;
class FloatingWindow;
class MainView;
class StatusItem;
class TrayAvailability;

// How the window was last opened: from the tray icon, or by starting the program again
// from the application menu.
enum class PanelPresentationSource { menuBar, dock };

// The program on the desktop: the tray icon and its menu, the one window and when it
// shows and hides, and the program-wide notifications. Views and the application model
// listen to its three signals; the model's shutdown is plugged in as the shutdown hook.
//
// Main thread only.
class AppShell : public QObject {
    Q_OBJECT

public:
    // withTray false: no tray host, so the window is an ordinary one that opens at start
    // and whose closing quits.
    AppShell(bool withTray, ClipboardImageCache& images, QObject* parent = nullptr);
    ~AppShell() override;

    // Without a tray, takes one up when `availability` reports a host that appeared later:
    // the icon shows there and the window becomes the tray's. `availability` must outlive
    // the shell.
    void watchTray(TrayAvailability& availability);
    // Without a tray, offers the program's own StatusNotifier item, for a panel that
    // starts later; once a panel takes it, the window becomes the item's as with a late
    // tray. `item` must outlive the shell.
    void watchStatusItem(StatusItem& item);

    // Called exactly once when the program quits, after orvaneWillTerminate.
    void setShutdownHook(std::function<void()> hook) { shutdownHook_ = std::move(hook); }

    FloatingWindow* window() const { return window_; }
    MainView* mainView() const { return mainView_; }
    QSystemTrayIcon* trayIcon() const { return tray_; }
    // Whether the program's own StatusNotifier item stands in for the tray icon.
    bool hasStatusItem() const { return statusItemAdopted_; }
    QMenu* contextMenu() const { return menu_.get(); }
    PanelPresentationSource presentationSource() const { return presentationSource_; }
    bool isQuitting() const { return quitting_; }

    // The screens as QScreen reports them.
    static ScreenLayout currentScreenLayout();

public slots:
    // Shows the tray icon, when there is one, and the window. A start at login with a
    // tray leaves the window to the icon: nobody asked for it then.
    void start(bool atLogin = false);
    void showMainWindow(orvane::PanelPresentationSource source);
    void hideMainWindow();
    // A raised flag or a hidden window shows; otherwise an open tray window hides.
    void toggleMenuBarPanel(bool showSettings);
    // The tray icon's left click: shows, never hides.
    void presentMainWindow(bool showSettings);
    void openSettings();
    // Notifies, runs the shutdown hook and ends the event loop; repeated calls do nothing.
    void requestQuit();

signals:
    void orvaneHideTransientUI();
    void orvaneDidBecomeActive();
    void orvaneWillTerminate();

private:
    void installTray();
    void buildMenu();
    // Where the window goes, in the available areas of `screens`.
    QRect frameFor(PanelPresentationSource source, const ScreenLayout& screens, QSize size) const;
    void adoptTray();
    void adoptStatusItem();
    // A click on the own item: as on the tray icon, by the position the panel gives.
    void presentFromStatusItem(QPoint at);
    void popUpMenu(QPoint at);
    // The notifications and the shutdown hook, once; the event loop may already be ending.
    void finishQuit();

    bool withTray_;
    FloatingWindow* window_ = nullptr;
    MainView* mainView_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    StatusItem* statusItem_ = nullptr;
    bool statusItemAdopted_ = false;
    // Where the own item was clicked, while the window opens from that click.
    QPoint statusItemClick_;
    std::unique_ptr<QMenu> menu_;
    PanelPresentationSource presentationSource_ = PanelPresentationSource::dock;
    std::function<void()> shutdownHook_;
    bool started_ = false;
    bool quitting_ = false;
    bool finished_ = false;
};

} // namespace orvane
