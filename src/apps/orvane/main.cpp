// The Orvane desktop program: a tray icon and one floating window with the clipboard
// history. One instance per desktop session; starting it again shows the running one.

#include "apps/orvane/StoreHistory.h"
#include "apps/orvane/TerminationSignals.h"
#include "platform/linux/XWaylandFallback.h"
#include "ui/AppShell.h"
#include "ui/ClipboardImageCache.h"
#include "ui/ClipboardPanelView.h"
#include "ui/MainView.h"
#include "ui/SingleInstance.h"

#include <QApplication>
#include <QDebug>
#include <QSystemTrayIcon>

using namespace orvane;

int main(int argc, char** argv) {
    // Decided before any Qt application object exists: the platform is chosen then.
    const QString platformLine = XWaylandFallback::applyToProcess();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("orvane"));
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Claim::secondary:
        if (!instance.failureReason().isEmpty()) {
            qWarning().noquote() << "running instance did not answer:" << instance.failureReason();
        }
        return 0;
    case SingleInstance::Claim::noBus:
        qWarning().noquote() << "no session bus, running without the single-instance check:"
                             << instance.failureReason();
        break;
    case SingleInstance::Claim::primary:
        break;
    }
    if (!platformLine.isEmpty()) {
        qInfo().noquote() << "SYS" << platformLine;
    }

    AppShell shell(QSystemTrayIcon::isSystemTrayAvailable(), ClipboardImageCache::shared());
    QObject::connect(&instance, &SingleInstance::activationRequested, &shell,
                     [&shell] { shell.showMainWindow(PanelPresentationSource::dock); });
    TerminationSignals signals_;
    QObject::connect(&signals_, &TerminationSignals::received, &shell, &AppShell::requestQuit);

    ClipboardPanelView& panel = *shell.mainView()->clipboardPanel();
    panel.setSendAvailable(false);
    std::unique_ptr<StoreHistory> history;
    if (auto store = AppStore::open()) {
        history = std::make_unique<StoreHistory>(std::move(store.value()), panel);
        QObject::connect(&shell, &AppShell::orvaneDidBecomeActive, history.get(),
                         &StoreHistory::reload);
    } else {
        qWarning().noquote() << "配置存储不可用: " + store.error().description();
    }

    shell.start();
    return app.exec();
}
