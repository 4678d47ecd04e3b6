// orvane-cli as the remote of a running orvane: against a stand-in that serves the
// program's session-bus interface on a private bus, as its arguments script it.

#include "support/EventLoopWait.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <signal.h>

namespace {

constexpr int waitMs = 10000;
constexpr int missingModules = 77;

class OrvaneCliRemoteTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (cli_.state() != QProcess::NotRunning) {
            cli_.kill();
            cli_.waitForFinished(3000);
        }
        // The end of its input ends the stand-in, and dbus-run-session then ends the bus.
        standin_.closeWriteChannel();
        if (standin_.state() != QProcess::NotRunning && !standin_.waitForFinished(5000)) {
            standin_.kill();
            standin_.waitForFinished(3000);
        }
    }

    // Starts the stand-in on a bus of its own; false (with the test skipped or failed)
    // when it does not come up.
    bool startStandin(const QStringList& args) {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-run-session")).isEmpty()) {
            [] {
                GTEST_SKIP() << "dbus-run-session is not installed";
            }();
            return false;
        }
        standin_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        standin_.start(QStringLiteral("dbus-run-session"),
                       QStringList{"--", "/usr/bin/python3", ORVANE_STANDIN_PATH} + args);
        const QByteArray ready = nextRecord("READY ");
        if (ready.isEmpty()) {
            standin_.waitForFinished(2000);
            if (standin_.exitCode() == missingModules) {
                [] {
                    GTEST_SKIP() << "python3-dbus or python3-gi is missing";
                }();
                return false;
            }
            ADD_FAILURE() << "the stand-in did not start";
            return false;
        }
        address_ = QString::fromUtf8(ready);
        return true;
    }

    // What follows `prefix` on the stand-in's next line that starts with it.
    QByteArray nextRecord(const QByteArray& prefix) {
        QDeadlineTimer deadline(waitMs);
        for (;;) {
            while (standin_.canReadLine()) {
                const QByteArray line = standin_.readLine().trimmed();
                if (line.startsWith(prefix)) {
                    return line.mid(prefix.size());
                }
            }
            if (deadline.hasExpired() || standin_.state() == QProcess::NotRunning) {
                return {};
            }
            standin_.waitForReadyRead(50);
        }
    }

    QJsonArray nextCall(const QByteArray& method) {
        for (QByteArray call; !(call = nextRecord("CALL ")).isEmpty();) {
            const QJsonArray array = QJsonDocument::fromJson(call).array();
            if (array.first().toString() == QString::fromLatin1(method)) {
                return array;
            }
        }
        return {};
    }

    void command(const QByteArray& line) {
        standin_.write(line + '\n');
        standin_.waitForBytesWritten(1000);
        nextRecord("DONE");
    }

    void startCli(const QStringList& args, const QByteArray& input = {},
                  const QString& path = QString()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
        env.insert(QStringLiteral("XDG_DATA_HOME"), home_.path());
        if (!path.isEmpty()) {
            env.insert(QStringLiteral("PATH"), path);
        }
        cli_.setProcessEnvironment(env);
        cli_.start(QStringLiteral(ORVANE_CLI_PATH), args);
        ASSERT_TRUE(cli_.waitForStarted(3000));
        cli_.write(input);
        cli_.waitForBytesWritten(3000);
        cli_.closeWriteChannel();
    }

    int runCli(const QStringList& args, const QByteArray& input = {},
               const QString& path = QString()) {
        startCli(args, input, path);
        return finishCli();
    }

    int finishCli() {
        if (!cli_.waitForFinished(waitMs) || cli_.exitStatus() != QProcess::NormalExit) {
            return -1;
        }
        stderr_ += QString::fromUtf8(cli_.readAllStandardError());
        stdout_ = cli_.readAllStandardOutput();
        return cli_.exitCode();
    }

    bool waitForLog(const QString& text) {
        QDeadlineTimer deadline(waitMs);
        while (!stderr_.contains(text)) {
            if (deadline.hasExpired() || cli_.state() == QProcess::NotRunning) {
                return false;
            }
            cli_.waitForReadyRead(50);
            stderr_ += QString::fromUtf8(cli_.readAllStandardError());
        }
        return true;
    }

    QTemporaryDir home_;
    QProcess standin_;
    QProcess cli_;
    QString address_;
    QString stderr_;
    QByteArray stdout_;
};

TEST_F(OrvaneCliRemoteTest, SendGoesThroughTheProgramHoldingTheNamedPortOnceItsLinkIsUp) {
    // The program holds a port that the user names through a symbolic link.
    const QString port = home_.filePath("ttyACM7");
    QFile(port).open(QIODevice::WriteOnly);
    QFile::link(port, home_.filePath("by-id-kvm"));
    if (!startStandin({"--port", port, "--state", "connecting", "--progress", "0,25,70,100"})) {
        return;
    }
    startCli({"send", home_.filePath("by-id-kvm"), "--text", "剪贴板 ✓", "--json"});
    ASSERT_TRUE(waitForLog("尚未连接"));
    command(R"(set LinkState "connected")");
    ASSERT_EQ(finishCli(), 0) << stderr_.toStdString();
    EXPECT_EQ(nextCall("SendText").at(1).toString(), "剪贴板 ✓");
    EXPECT_EQ(stdout_.toStdString(), std::string(R"({"progress":0})"
                                                 "\n"
                                                 R"({"progress":25})"
                                                 "\n"
                                                 R"({"progress":70})"
                                                 "\n"
                                                 R"({"progress":100})"
                                                 "\n"
                                                 R"({"bytes":13,"result":"sent"})"
                                                 "\n"));
    EXPECT_EQ(stderr_.count("经由正在运行的 orvane 发送"), 1) << stderr_.toStdString();

    // Another port is ours to open: the program is left alone.
    stderr_.clear();
    EXPECT_EQ(runCli({"send", home_.filePath("ttyUSB3"), "--text", "x", "--wait", "1"}), 1);
    EXPECT_TRUE(stderr_.contains("直接打开 " + home_.filePath("ttyUSB3"))) << stderr_.toStdString();
}

TEST_F(OrvaneCliRemoteTest, RefusalsArePrintedAndNotifiedWithoutATerminal) {
    if (!startStandin({"--error", "Busy:正在发送另一项", "--notifications"})) {
        return;
    }
    EXPECT_EQ(runCli({"send", "--file", "relative.bin"}), 1);
    EXPECT_EQ(nextCall("SendFile").at(1).toString(), QDir::current().filePath("relative.bin"));
    EXPECT_TRUE(stderr_.contains("正在发送另一项")) << stderr_.toStdString();
    const QJsonObject notice = QJsonDocument::fromJson(nextRecord("NOTIFY ")).object();
    EXPECT_EQ(notice.value("app").toString(), "Orvane");
    EXPECT_EQ(notice.value("icon").toString(), "orvane");
    EXPECT_EQ(notice.value("body").toString(), "正在发送另一项");

    // Text that is not UTF-8 never reaches the program.
    stderr_.clear();
    EXPECT_EQ(runCli({"send", "--text", "-"}, QByteArray("ok \xC3\x28", 5)), 1);
    EXPECT_TRUE(stderr_.contains("UTF-8")) << stderr_.toStdString();
    EXPECT_TRUE(QJsonDocument::fromJson(nextRecord("NOTIFY "))
                    .object()
                    .value("body")
                    .toString()
                    .contains("UTF-8"));
}

TEST_F(OrvaneCliRemoteTest, ASuccessWithoutATerminalIsAPassingNotification) {
    if (!startStandin({"--notifications"})) {
        return;
    }
    EXPECT_EQ(runCli({"send", "--text", "hi"}), 0) << stderr_.toStdString();
    const QJsonObject notice = QJsonDocument::fromJson(nextRecord("NOTIFY ")).object();
    EXPECT_EQ(notice.value("summary").toString(), "已发送到 KVM");
    EXPECT_TRUE(notice.value("transient").toBool());
}

TEST_F(OrvaneCliRemoteTest, InterruptCancelsTheProgramsJob) {
    if (!startStandin({"--outcome", "hold", "--progress", "10"})) {
        return;
    }
    startCli({"send", "--text", "-", "--json"}, "第一行\n第二行");
    EXPECT_EQ(nextCall("SendText").at(1).toString(), "第一行\n第二行");
    ASSERT_TRUE(cli_.waitForReadyRead(waitMs)); // the first progress value
    ::kill(pid_t(cli_.processId()), SIGINT);
    EXPECT_FALSE(nextCall("Cancel").isEmpty());
    ASSERT_EQ(finishCli(), 130) << stderr_.toStdString();
    EXPECT_TRUE(stdout_.endsWith(R"({"error":"已取消发送","result":"failed"})"
                                 "\n"))
        << stdout_.toStdString();
}

TEST_F(OrvaneCliRemoteTest, ListenPrintsPushedItemsUntilTheProgramEnds) {
    if (!startStandin({})) {
        return;
    }
    startCli({"listen", "--json"});
    ASSERT_TRUE(waitForLog("经由正在运行的 orvane 监听"));
    command(R"(push [5, "text", "你好", [], 6, 1700000000000])");
    command(R"(push [6, "files", "", ["/r/a.bin", "/r/b c.bin"], 40, 1700000000000])");
    command("vanish");
    ASSERT_EQ(finishCli(), 1);
    EXPECT_TRUE(stderr_.contains("orvane 已退出")) << stderr_.toStdString();
    const QList<QByteArray> lines = stdout_.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2) << stdout_.toStdString();
    const QJsonObject text = QJsonDocument::fromJson(lines[0]).object();
    EXPECT_EQ(text.value("kind").toString(), "text");
    EXPECT_EQ(text.value("text").toString(), "你好");
    EXPECT_EQ(text.value("size").toInt(), 6);
    const QJsonObject files = QJsonDocument::fromJson(lines[1]).object();
    EXPECT_EQ(files.value("path").toString(), "/r/a.bin");
    EXPECT_EQ(files.value("paths").toArray().size(), 2);
}

TEST_F(OrvaneCliRemoteTest, StatusHistoryEntryAndShow) {
    if (!startStandin({"--link", "ble", "--port", "C0:FF:EE:00:00:01", "--device-name", "KVM-A",
                       "--history",
                       R"([[9, "text", "一\n二", [], 7, 1700000000000],
                           [4, "image", "", ["/i/s.png"], 300, 1690000000000]])"})) {
        return;
    }
    ASSERT_EQ(runCli({"status", "--json"}), 0);
    const QJsonObject status = QJsonDocument::fromJson(stdout_).object();
    EXPECT_EQ(status.value("link").toString(), "ble");
    EXPECT_EQ(status.value("deviceName").toString(), "KVM-A");
    EXPECT_EQ(status.value("linkState").toString(), "connected");

    ASSERT_EQ(runCli({"history"}), 0);
    const QList<QByteArray> lines = stdout_.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith("9 text 7 B ") && lines[0].endsWith(" 一 二"))
        << lines[0].data();
    EXPECT_TRUE(lines[1].endsWith("/i/s.png"));

    // The bridge's address, as the user may spell it.
    ASSERT_EQ(runCli({"send", "--ble", "c0:ff:ee:00:00:01", "--entry", "4"}), 0);
    EXPECT_EQ(nextCall("SendEntry").at(1).toInt(), 4);
    EXPECT_EQ(runCli({"send", "--entry", "5"}), 1);
    EXPECT_TRUE(stderr_.contains("没有这条记录"));

    ASSERT_EQ(runCli({"show"}), 0);
    EXPECT_FALSE(nextCall("ShowWindow").isEmpty());
}

TEST_F(OrvaneCliRemoteTest, WithoutTheProgramShowStartsItAndSendNeedsAPort) {
    // An older program on the bus, without the interface, counts as none.
    if (!startStandin({"--old"})) {
        return;
    }
    EXPECT_EQ(runCli({"status"}), 1);
    EXPECT_EQ(runCli({"send", "--text", "x"}), 2);
    EXPECT_TRUE(stderr_.contains("no running orvane")) << stderr_.toStdString();

    const QString marker = home_.filePath("started");
    QFile fake(home_.filePath("orvane"));
    ASSERT_TRUE(fake.open(QIODevice::WriteOnly));
    fake.write("#!/bin/sh\ntouch '" + marker.toUtf8() + "'\n");
    fake.close();
    fake.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_EQ(runCli({"show"}, {}, home_.path() + ":/usr/bin:/bin"), 0) << stderr_.toStdString();
    EXPECT_TRUE(orvane::test::waitUntil([&] { return QFileInfo::exists(marker); }, waitMs));
}

} // namespace
