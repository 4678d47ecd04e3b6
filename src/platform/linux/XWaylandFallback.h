#pragma once

#include <QProcessEnvironment>
#include <QString>

#include <optional>

namespace orvane {

// Qt's Wayland clipboard sees changes only while one of the application's windows has
// focus, which defeats a clipboard watcher. Where the compositor offers clipboard data
// control, the clipboard goes through that instead and the window stays native. Elsewhere
// the application runs through XWayland in a Wayland session, where clipboard changes
// reach X11 clients whatever has focus. A platform the user chose is left alone.
namespace XWaylandFallback {

// What was found before deciding.
struct Findings {
    // The data-control manager interface the compositor offers (with a seat); empty: none.
    QString dataControl;
    // Qt's Wayland platform plugin is installed.
    bool waylandPlugin = false;
};

struct Decision {
    QString platform;         // QT_QPA_PLATFORM to set before the GUI application exists
    bool dataControl = false; // the clipboard goes through data control
    QString logLine;          // one line for the log; empty when there is nothing to say
};

Decision decide(const QProcessEnvironment& environment, const Findings& findings = {});

// Whether Qt's Wayland platform plugin is installed.
bool waylandPluginInstalled();

// decide() for this process, applied: sets QT_QPA_PLATFORM when needed. Call it before
// the QGuiApplication is created.
Decision applyToProcess(const Findings& findings);

} // namespace XWaylandFallback

} // namespace orvane
