#pragma once

#include <QProcessEnvironment>
#include <QString>

namespace orvane {

// Qt's Wayland clipboard sees changes only while one of the application's windows has
// focus, which defeats a clipboard watcher. Until a data-control backend exists, the
// application runs through XWayland in a Wayland session, where clipboard changes
// reach X11 clients whatever has focus. A platform the user chose is left alone.
namespace XWaylandFallback {

struct Decision {
    bool useXcb = false; // set QT_QPA_PLATFORM=xcb before the GUI application exists
    QString logLine;     // one line for the log; empty when there is nothing to say
};

Decision decide(const QProcessEnvironment& environment);

// decide() for this process, applied: sets QT_QPA_PLATFORM when needed. Call it before
// the QGuiApplication is created. Returns the line to log, possibly empty.
QString applyToProcess();

} // namespace XWaylandFallback

} // namespace orvane
