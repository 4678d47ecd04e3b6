#include "ui/BluetoothSettingsLauncher.h"

#include <QProcess>
#include <QStandardPaths>

namespace orvane {

namespace {

const BluetoothSettingsLauncher::Tool gnomeTool{QStringLiteral("gnome-control-center"),
                                                {QStringLiteral("bluetooth")}};
// Plasma 6 names the program systemsettings, Plasma 5 (Debian 12) systemsettings5 as well.
const BluetoothSettingsLauncher::Tool kdeTool{QStringLiteral("systemsettings"),
                                              {QStringLiteral("kcm_bluetooth")}};
const BluetoothSettingsLauncher::Tool kde5Tool{QStringLiteral("systemsettings5"),
                                               {QStringLiteral("kcm_bluetooth")}};
const BluetoothSettingsLauncher::Tool bluemanTool{QStringLiteral("blueman-manager"), {}};

} // namespace

BluetoothSettingsLauncher::BluetoothSettingsLauncher()
    : BluetoothSettingsLauncher(
          [](const QString& program) { return QStandardPaths::findExecutable(program); },
          [](const QString& path, const QStringList& arguments) {
              return QProcess::startDetached(path, arguments);
          }) {}

BluetoothSettingsLauncher::BluetoothSettingsLauncher(Finder find, Starter start)
    : find_(std::move(find))
    , start_(std::move(start)) {}

QList<BluetoothSettingsLauncher::Tool>
BluetoothSettingsLauncher::candidates(const QString& currentDesktop) {
    const QStringList desktops = currentDesktop.toUpper().split(u':', Qt::SkipEmptyParts);
    const bool kde = desktops.contains(QStringLiteral("KDE"));
    // GNOME's tool only works inside GNOME-like sessions (Unity and Budgie use it too), so
    // elsewhere the desktop-neutral blueman comes before it.
    const bool gnome = desktops.contains(QStringLiteral("GNOME")) ||
                       desktops.contains(QStringLiteral("UNITY")) ||
                       desktops.contains(QStringLiteral("BUDGIE"));
    if (kde) {
        return {kdeTool, kde5Tool, bluemanTool, gnomeTool};
    }
    if (gnome) {
        return {gnomeTool, bluemanTool, kdeTool, kde5Tool};
    }
    return {bluemanTool, gnomeTool, kdeTool, kde5Tool};
}

bool BluetoothSettingsLauncher::open(const QString& currentDesktop) const {
    for (const Tool& tool : candidates(currentDesktop)) {
        const QString path = find_(tool.program);
        if (!path.isEmpty() && start_(path, tool.arguments)) {
            return true;
        }
    }
    return false;
}

bool BluetoothSettingsLauncher::open() const {
    return open(qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
}

} // namespace orvane
