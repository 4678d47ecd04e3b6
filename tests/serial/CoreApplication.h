#pragma once

#include <QCoreApplication>

namespace orvane::testing {

// Signals queued across threads and QSignalSpy::wait need an application object; the
// first test that asks creates one for the whole test program.
inline QCoreApplication& coreApplication() {
    if (auto* existing = QCoreApplication::instance()) {
        return *existing;
    }
    static int argc = 1;
    static char name[] = "orvane_serial_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

} // namespace orvane::testing
