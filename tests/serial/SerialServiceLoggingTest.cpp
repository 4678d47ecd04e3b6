#include "common/LogCategories.h"
#include "platform/linux/LinuxSerialDeviceSource.h"
#include "serial/DiagnosticsMessageHandler.h"
#include "serial/SerialDiagnostics.h"
#include "serial/SerialService.h"

#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace orvane {
namespace {

Q_LOGGING_CATEGORY(lcForeign, "elsewhere.test")

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A logging rule is the developer's switch for standard error and serial.log; the debug
// log view belongs to the user and keeps every line.
TEST(SerialServiceLogging, ARuleQuietensItsCategoryButNeverTheDebugLogView) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    DiagnosticsMessageHandler::install();
    SerialDiagnostics::setLogDirectory(dir.path());
    LinuxSerialDeviceSource::Config config;
    config.directories = {{dir.path(), {"ttyNONE*"}}};
    SerialService::Platform platform;
    platform.devices = std::make_shared<LinuxSerialDeviceSource>(config);
    // Never activated, so no port is ever opened.
    platform.openSession = [](const QString&, qint64) -> std::unique_ptr<SerialPortSession> {
        return nullptr;
    };
    SerialService service(std::move(platform));

    const QString stderrPath = dir.filePath("stderr.txt");
    const int capture = ::open(stderrPath.toLocal8Bit().constData(),
                               O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(capture, 0);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(capture, STDERR_FILENO);
    QLoggingCategory::setFilterRules(QStringLiteral("com.orvane.ble.info=false"));
    service.appendLog(QStringLiteral("BT RX"), QStringLiteral("sn=1 · 9 B"), {"AA"}, lcBle());
    service.appendLog(QStringLiteral("SYS"), QStringLiteral("TRANS send complete"), {}, lcTrans());
    QLoggingCategory::setFilterRules(QString());
    service.appendLog(QStringLiteral("BT TX"), QStringLiteral("sn=2 · 9 B"), {"BB"}, lcBle());
    qCWarning(lcForeign) << "not ours";
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(capture);
    ASSERT_TRUE(SerialDiagnostics::flush());
    SerialDiagnostics::setLogDirectory({});

    const QByteArray err = readAll(stderrPath);
    EXPECT_TRUE(err.startsWith("com.orvane.linux/trans: SYS TRANS send complete\n"
                               "com.orvane.linux/ble: BT TX sn=2 · 9 B\n"))
        << err.constData();
    EXPECT_FALSE(err.contains("BT RX"));
    EXPECT_TRUE(err.contains("not ours")); // handed on to Qt's own handler
    const QByteArray file = readAll(dir.filePath("serial.log"));
    EXPECT_FALSE(file.contains("BT RX"));
    EXPECT_TRUE(file.contains("[INFO] SYS TRANS send complete\n"));
    EXPECT_TRUE(file.contains("[INFO] BT TX sn=2 · 9 B\n"));
    EXPECT_FALSE(file.contains("not ours"));

    const auto viewLines = [&] {
        QStringList lines;
        for (const auto& entry : service.logStore().entries()) {
            lines.append(entry.direction + ' ' + entry.summary);
        }
        return lines;
    };
    const QStringList expected{"BT RX sn=1 · 9 B", "SYS TRANS send complete", "BT TX sn=2 · 9 B"};
    EXPECT_TRUE(QTest::qWaitFor([&] { return viewLines() == expected; }, 5000))
        << viewLines().join('|').toStdString();
}

} // namespace
} // namespace orvane
