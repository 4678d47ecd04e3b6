#pragma once

namespace orvane {

// The Qt message handler behind the diagnostics log: messages on the "com.orvane.*"
// categories go to SerialDiagnostics::write (standard error in "com.orvane.linux/<name>: "
// form, and serial.log); every other category, Qt's own included, goes on to the handler
// that was in place before. Warnings and worse count as errors, the rest as information.
//
// Installed once per process by the program's composition root, before anything logs;
// later calls do nothing.
class DiagnosticsMessageHandler final {
public:
    static void install();

    DiagnosticsMessageHandler() = delete;
};

} // namespace orvane
