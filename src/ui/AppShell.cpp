#include "ui/AppShell.h"

#include "ui/ClipboardPanelView.h"
#include "ui/DockLayout.h"
#include "ui/FloatingWindow.h"
#include "ui/MainView.h"
#include "ui/StatusItem.h"
#include "ui/Symbols.h"
#include "ui/TrayAvailability.h"
#include "ui/TrayPlacement.h"
#include "ui/WindowSizeConfigurator.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QScreen>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>

namespace orvane {

namespace {

// Spelled out: QKeySequence::Quit is empty on platforms whose theme names no quit key.
const QKeySequence quitKey(Qt::CTRL | Qt::Key_Q);

} // namespace

AppShell::AppShell(bool withTray, ClipboardImageCache& images, QObject* parent)
    : QObject(parent)
    , withTray_(withTray) {
    window_ = new FloatingWindow(withTray ? FloatingWindow::Mode::floating
                                          : FloatingWindow::Mode::standalone);
    window_->setWindowIcon(Symbols::icon(QStringLiteral("orvane")));
    mainView_ = new MainView(images, window_);
    window_->setContent(mainView_);

    auto* quitShortcut = new QShortcut(quitKey, window_);
    connect(quitShortcut, &QShortcut::activated, this, &AppShell::requestQuit);
    connect(window_, &FloatingWindow::windowHidden, this, &AppShell::orvaneHideTransientUI);
    connect(window_, &FloatingWindow::closeRequested, this, &AppShell::requestQuit);
    connect(this, &AppShell::orvaneHideTransientUI, mainView_->clipboardPanel(),
            &ClipboardPanelView::hideTransientUI);
    connect(this, &AppShell::orvaneDidBecomeActive, this,
            [this] { window_->sizeConfigurator().apply(); });
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
        if (s == Qt::ApplicationActive && !quitting_) {
            emit orvaneDidBecomeActive();
        }
    });
    // Session logout and any other end of the event loop pass through here too.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &AppShell::finishQuit);

    if (withTray_) {
        installTray();
    }
}

AppShell::~AppShell() {
    if (statusItem_) {
        statusItem_->withdraw();
    }
    delete window_;
}

ScreenLayout AppShell::currentScreenLayout() {
    ScreenLayout layout;
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (QScreen* screen : screens) {
        layout.screens.append(ScreenArea{screen->geometry(), screen->availableGeometry()});
    }
    layout.primary = int(screens.indexOf(QGuiApplication::primaryScreen()));
    return layout;
}

void AppShell::buildMenu() {
    if (menu_) {
        return;
    }
    menu_ = std::make_unique<QMenu>();
    QAction* settings = menu_->addAction(QStringLiteral("设置"));
    settings->setObjectName(QStringLiteral("settings"));
    connect(settings, &QAction::triggered, this, &AppShell::openSettings);
    menu_->addSeparator();
    QAction* quit = menu_->addAction(QStringLiteral("退出"));
    quit->setObjectName(QStringLiteral("quit"));
    quit->setShortcut(quitKey);
    connect(quit, &QAction::triggered, this, &AppShell::requestQuit);
}

void AppShell::installTray() {
    buildMenu();
    tray_ = new QSystemTrayIcon(Symbols::icon(QStringLiteral("orvane")), this);
    tray_->setToolTip(QStringLiteral("Orvane"));
    tray_->setContextMenu(menu_.get());
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    presentMainWindow(false);
                }
            });
}

void AppShell::watchTray(TrayAvailability& availability) {
    if (tray_) {
        return;
    }
    availability.setAppearedHandler([this] { adoptTray(); });
    if (availability.isAvailable()) {
        adoptTray();
    }
}

void AppShell::watchStatusItem(StatusItem& item) {
    if (tray_ || statusItem_) {
        return;
    }
    statusItem_ = &item;
    buildMenu();
    item.offer(Symbols::icon(QStringLiteral("orvane")), QStringLiteral("Orvane"), menu_.get(),
               {[this] { adoptStatusItem(); }, [this](QPoint at) { presentFromStatusItem(at); },
                [this](QPoint at) {
                    popUpMenu(at);
                }});
}

void AppShell::adoptStatusItem() {
    Q_ASSERT(QThread::currentThread() == thread());
    if (tray_ || statusItemAdopted_ || quitting_) {
        return;
    }
    statusItemAdopted_ = true;
    withTray_ = true;
    buildMenu();
    window_->setMode(FloatingWindow::Mode::floating);
}

void AppShell::presentFromStatusItem(QPoint at) {
    if (!statusItemAdopted_) {
        return;
    }
    statusItemClick_ = at;
    presentMainWindow(false);
    statusItemClick_ = {};
}

void AppShell::popUpMenu(QPoint at) {
    if (!statusItemAdopted_ || quitting_) {
        return;
    }
    // A panel that gives no position leaves the pointer on the item it was asked from.
    menu_->popup(at.isNull() ? QCursor::pos() : at);
}

void AppShell::adoptTray() {
    Q_ASSERT(QThread::currentThread() == thread());
    if (tray_ || statusItemAdopted_ || quitting_) {
        return;
    }
    if (statusItem_) {
        statusItem_->withdraw();
    }
    withTray_ = true;
    installTray();
    if (started_) {
        tray_->show();
    }
    window_->setMode(FloatingWindow::Mode::floating);
}

void AppShell::start(bool atLogin) {
    started_ = true;
    if (tray_) {
        tray_->show();
    }
    if (!tray_ || !atLogin) {
        showMainWindow(PanelPresentationSource::dock);
    }
}

void AppShell::showMainWindow(PanelPresentationSource source) {
    Q_ASSERT(QThread::currentThread() == thread());
    if (quitting_) {
        return;
    }
    presentationSource_ = source;
    window_->sizeConfigurator().apply();
    if (window_->mode() == FloatingWindow::Mode::floating) {
        const QSize size = window_->size();
        const ScreenLayout screens = currentScreenLayout();
        window_->move(frameFor(source, screens, size).topLeft());
    }
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->show();
    window_->raise();
    window_->activateWindow();
    emit orvaneDidBecomeActive();
}

QRect AppShell::frameFor(PanelPresentationSource source, const ScreenLayout& screens,
                         QSize size) const {
    if (source != PanelPresentationSource::menuBar || (!tray_ && !statusItemAdopted_)) {
        return DockLayout::frameBesideDock(screens, size, TrayPlacement::dockMargin);
    }
    // The own item's panel passes the click's position with the click.
    if (!tray_ && !statusItemClick_.isNull()) {
        return TrayPlacement::frameNearPointer(screens, statusItemClick_, size);
    }
    const QRect icon = tray_ ? tray_->geometry() : QRect();
    if (icon.isValid()) {
        return TrayPlacement::frameForIcon(screens, icon, size);
    }
    // A StatusNotifier host keeps its icon's place to itself, and Qt drops the position
    // its Activate call carries; the pointer, asked now, is still on the icon just
    // clicked (or on the tray menu's entry, beside it).
    return TrayPlacement::frameNearPointer(screens, QCursor::pos(), size);
}

void AppShell::hideMainWindow() {
    if (window_->mode() == FloatingWindow::Mode::floating) {
        window_->hideWindow();
    }
}

void AppShell::toggleMenuBarPanel(bool showSettings) {
    mainView_->setShowSettings(showSettings);
    if (window_->isVisible() && presentationSource_ == PanelPresentationSource::menuBar &&
        !showSettings) {
        hideMainWindow();
    } else {
        showMainWindow(PanelPresentationSource::menuBar);
    }
}

void AppShell::presentMainWindow(bool showSettings) {
    mainView_->setShowSettings(showSettings);
    showMainWindow(PanelPresentationSource::menuBar);
}

void AppShell::openSettings() {
    mainView_->setShowSettings(true);
    // After the menu has closed, so that its closing does not take activation from the
    // window just shown.
    QTimer::singleShot(0, this, [this] { toggleMenuBarPanel(true); });
}

void AppShell::requestQuit() {
    Q_ASSERT(QThread::currentThread() == thread());
    if (quitting_) {
        return;
    }
    quitting_ = true;
    finishQuit();
    // exit() rather than quit(): quit() first offers every window a close event, and one
    // that refused it would cancel the quit the user asked for.
    QCoreApplication::exit(0);
}

void AppShell::finishQuit() {
    if (finished_) {
        return;
    }
    finished_ = true;
    quitting_ = true;
    if (tray_) {
        tray_->hide();
    }
    emit orvaneWillTerminate();
    if (shutdownHook_) {
        shutdownHook_();
    }
}

} // namespace orvane
