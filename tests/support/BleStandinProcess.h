#pragma once

// The BlueZ stand-in (tools/ble-standin) as a child process of a test: a private system
// bus with a fake BlueZ on it. Needs ORVANE_BLE_STANDIN_PATH (the script's path). When the
// machine lacks dbus-daemon or python3-dbusmock, skipReason() says so and the test skips.

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace orvane {

class BleStandinProcess {
public:
    static constexpr int startMs = 10000;
    static constexpr int missingModules = 77; // the script's exit status without its modules

    explicit BleStandinProcess(const QStringList& args) {
        if (!QFileInfo(QStringLiteral("/usr/bin/python3")).isExecutable()) {
            skip_ = QStringLiteral("/usr/bin/python3 is not installed");
            return;
        }
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
            skip_ = QStringLiteral("dbus-daemon is not installed");
            return;
        }
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("/usr/bin/python3"),
                      QStringList{QStringLiteral(ORVANE_BLE_STANDIN_PATH)} + args);
        const QDeadlineTimer deadline(startMs);
        while (!process.canReadLine() && !deadline.hasExpired() &&
               process.state() != QProcess::NotRunning) {
            process.waitForReadyRead(50);
        }
        const QByteArray line = process.readLine().trimmed();
        if (line.startsWith("READY ")) {
            address = QString::fromUtf8(line.mid(6));
            return;
        }
        process.waitForFinished(1000);
        skip_ = process.exitCode() == missingModules
                    ? QStringLiteral("python3-dbusmock or dbus-daemon is missing")
                    : QString();
        error_ = QStringLiteral("the BlueZ stand-in did not start");
    }
    ~BleStandinProcess() {
        if (process.state() == QProcess::NotRunning) {
            return;
        }
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    QString skipReason() const { return skip_; }
    QString error() const { return error_; }
    bool isReady() const { return !address.isEmpty(); }

    void command(const QString& line) {
        process.write(line.toUtf8() + '\n');
        process.waitForBytesWritten(1000);
    }

    // The environment in which a client finds the stand-in instead of the machine's BlueZ.
    QProcessEnvironment clientEnvironment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address);
        env.insert(QStringLiteral("BLUETOOTH_FORCE_DBUS_LE_VERSION"), QStringLiteral("5.66"));
        return env;
    }

    // Points this process's own Qt Bluetooth at the stand-in.
    void useInThisProcess() const {
        const QProcessEnvironment env = clientEnvironment();
        for (const char* name : {"DBUS_SYSTEM_BUS_ADDRESS", "BLUETOOTH_FORCE_DBUS_LE_VERSION"}) {
            qputenv(name, env.value(QString::fromLatin1(name)).toUtf8());
        }
    }

    QProcess process;
    QString address;

private:
    QString skip_;
    QString error_;
};

} // namespace orvane
