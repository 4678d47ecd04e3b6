// The entry point of test programs that need a display: a private Xvfb server and a
// QGuiApplication on it for the whole run. Without Xvfb the application runs offscreen
// and the tests that need X skip with the reason (see xvfbUnavailableReason()).

#include "support/XvfbServer.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

namespace {
QString unavailableReason;
}

// Empty when the tests run on a private X server.
QString xvfbUnavailableReason() {
    return unavailableReason;
}

int main(int argc, char** argv) {
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
