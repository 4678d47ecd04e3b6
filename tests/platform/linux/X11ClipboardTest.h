#pragma once

#include "platform/linux/QtClipboardIO.h"

#include <QBuffer>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <memory>
#include <vector>

QString xvfbUnavailableReason(); // from the GUI test main

// Tests against the private X server, with xclip (and a Qt client for several formats at
// once) as the other programs on the clipboard.
class X11ClipboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!xvfbUnavailableReason().isEmpty()) {
            GTEST_SKIP() << "no private X server: " << xvfbUnavailableReason().toStdString();
        }
        if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty()) {
            GTEST_SKIP() << "xclip is not installed";
        }
        ASSERT_TRUE(dir.isValid());
        io = std::make_unique<orvane::QtClipboardIO>();
        // Tests share the server when they run in one process: start from nothing.
        ASSERT_EQ(io->writeContent({}).error(), orvane::ClipboardError::emptyContent());
    }

    void TearDown() override {
        for (auto& owner : owners) {
            owner->kill();
            owner->waitForFinished(5000);
        }
    }

    // xclip takes the clipboard with one format; returns once it holds it and the change
    // was noticed. xclip stays in the foreground, so it is known to have taken over once
    // the previous owner let go and the offer reads back.
    void xclipOffer(const QString& type, const QByteArray& bytes) {
        const quint64 before = io->changeCount();
        auto xclip = std::make_unique<QProcess>();
        xclip->setStandardOutputFile(QProcess::nullDevice());
        xclip->setStandardErrorFile(QProcess::nullDevice());
        xclip->start(QStringLiteral("xclip"),
                     {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                      QStringLiteral("clipboard"), QStringLiteral("-t"), type,
                      QStringLiteral("-i")});
        ASSERT_TRUE(xclip->waitForStarted(5000));
        xclip->write(bytes);
        xclip->closeWriteChannel();
        if (!owners.empty()) {
            QProcess* previous = owners.back().get();
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return previous->state() == QProcess::NotRunning; }, 5000))
                << "the previous owner kept the clipboard";
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return xclipRead(type) == bytes; }, 5000))
            << "xclip did not take the clipboard";
        owners.push_back(std::move(xclip));
        waitForChangeFrom(before);
    }

    // A Qt client takes the clipboard with several formats ("<type>=<value>").
    void ownerOffer(const QStringList& formats) {
        const quint64 before = io->changeCount();
        auto owner = std::make_unique<QProcess>();
        owner->start(QStringLiteral(ORVANE_CLIPBOARD_OWNER_PATH), formats);
        ASSERT_TRUE(owner->waitForReadyRead(10000)) << owner->readAllStandardError().data();
        ASSERT_EQ(owner->readLine().trimmed(), "ready");
        if (!owners.empty()) {
            QProcess* previous = owners.back().get();
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return previous->state() == QProcess::NotRunning; }, 5000));
        }
        owners.push_back(std::move(owner));
        waitForChangeFrom(before);
    }

    void waitForChangeFrom(quint64 before) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return io->changeCount() != before; }, 5000))
            << "the clipboard change was not noticed";
    }

    // What another client reads from the clipboard as `type`; empty when it gets nothing.
    // Our event loop keeps running meanwhile, as it must to answer while we own it.
    QByteArray xclipRead(const QString& type) {
        QProcess xclip;
        xclip.start(QStringLiteral("xclip"),
                    {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                     QStringLiteral("-o"), QStringLiteral("-t"), type});
        EXPECT_TRUE(QTest::qWaitFor([&] { return xclip.state() == QProcess::NotRunning; }, 10000));
        if (xclip.exitStatus() != QProcess::NormalExit || xclip.exitCode() != 0) {
            return {};
        }
        return xclip.readAllStandardOutput();
    }

    static QByteArray encoded(const char* format, int width = 64, int height = 48) {
        QImage image(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                image.setPixel(x, y, qRgb(x * 4, y * 5, (x + y) * 2));
            }
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        EXPECT_TRUE(image.save(&buffer, format)) << format;
        return bytes;
    }

    QString touch(const QString& name) {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        return path;
    }

    QTemporaryDir dir;
    std::unique_ptr<orvane::QtClipboardIO> io;
    std::vector<std::unique_ptr<QProcess>> owners;
};
