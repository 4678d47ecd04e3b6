#pragma once

#include <QByteArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Points XDG_DATA_HOME at a fresh temporary directory for one test, so the data
// directory is real but private to the test, and restores the old value afterwards.
class TemporaryDataHome : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        hadValue_ = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        oldValue_ = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", home_.path().toLocal8Bit());
    }
    void TearDown() override {
        if (hadValue_) {
            qputenv("XDG_DATA_HOME", oldValue_);
        } else {
            qunsetenv("XDG_DATA_HOME");
        }
    }

    QString dataDir() const { return home_.filePath("Orvane"); }

    QTemporaryDir home_;

private:
    bool hadValue_ = false;
    QByteArray oldValue_;
};
