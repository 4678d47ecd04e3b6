// The entry point of every test program: one QCoreApplication for the whole run, so
// queued calls, QSignalSpy::wait and Qt's per-thread data behave as in the application
// (and Qt's main-thread data is released at exit instead of being reported as a leak).

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
