// The entry point of test programs that need a display: a private Xvfb server and a
// QGuiApplication on it for the whole run. Without Xvfb the application runs offscreen
// and the tests that need X skip with the reason (see xvfbUnavailableReason()).

#include "support/XvfbServer.h"

#include <QGuiApplication>

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {
QString unavailableReason;
}

// Empty when the tests run on a private X server.
QString xvfbUnavailableReason() {
    return unavailableReason;
}

int main(int argc, char** argv) {
#if defined(__SANITIZE_ADDRESS__)
    // libxkbcommon-x11, which Qt's X11 platform uses, copies the server's atom names with
    // strndup from buffers that are not NUL-terminated. That is correct, but the sanitizer
    // suite's strict string checks report it inside the system library: run once more
    // without them (child processes inherit the relaxed options).
    const char* options = std::getenv("ASAN_OPTIONS");
    const std::string strict = "strict_string_checks=1";
    if (options && std::string(options).find(strict) != std::string::npos) {
        std::string relaxed(options);
        relaxed.replace(relaxed.find(strict), strict.size(), "strict_string_checks=0");
        setenv("ASAN_OPTIONS", relaxed.c_str(), 1);
        execv("/proc/self/exe", argv);
        return 127;
    }
#endif
    ::testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<XvfbServer> server;
    // Listing the tests needs no display.
    if (!GTEST_FLAG_GET(list_tests)) {
        server = XvfbServer::start(&unavailableReason);
    } else {
        unavailableReason = QStringLiteral("listing only");
    }
    if (server) {
        qputenv("DISPLAY", server->display().toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int result = 0;
    {
        QGuiApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
