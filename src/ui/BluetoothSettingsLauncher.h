#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace orvane {

// Opens the desktop's own Bluetooth settings: GNOME's settings, KDE's system settings
// module or blueman, whichever is installed, the current desktop's own tool first.
class BluetoothSettingsLauncher {
public:
    struct Tool {
        QString program;
        QStringList arguments;
        friend bool operator==(const Tool&, const Tool&) = default;
    };

    // Finds a program on PATH (empty when absent); starts one detached (false on failure).
    using Finder = std::function<QString(const QString& program)>;
    using Starter = std::function<bool(const QString& path, const QStringList& arguments)>;

    // The system's PATH lookup and process start.
    BluetoothSettingsLauncher();
    BluetoothSettingsLauncher(Finder find, Starter start);

    // The tools to try, in order, for XDG_CURRENT_DESKTOP (a colon-separated list).
    static QList<Tool> candidates(const QString& currentDesktop);

    // Starts the first installed tool; false when none is installed or none would start.
    bool open(const QString& currentDesktop) const;
    // The same for the session this process runs in.
    bool open() const;

private:
    Finder find_;
    Starter start_;
};

} // namespace orvane
