// The orvane-cli program, run as a process against the simulated device (orvane-devsim)
// over a pseudo-terminal, with its own data directory.

#include "storage/AppStore.h"
#include "support/DevsimProcess.h"
#include "support/TestData.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace orvane;

namespace {

constexpr int waitMs = 15000;

class OrvaneCliTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dataHome_.isValid() && work_.isValid()); }

    void TearDown() override {
        if (cli_.state() != QProcess::NotRunning) {
            cli_.kill();
            cli_.waitForFinished(3000);
        }
    }

    void startCli(const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome_.path());
        cli_.setProcessEnvironment(env);
        cli_.start(QStringLiteral(ORVANE_CLI_PATH), args);
        ASSERT_TRUE(cli_.waitForStarted(3000));
    }

    // Runs the program to its end; the exit code, or -1 when it crashed or did not end.
    int runCli(const QStringList& args) {
        startCli(args);
        if (!cli_.waitForFinished(waitMs) || cli_.exitStatus() != QProcess::NormalExit) {
            return -1;
        }
        stderr_ = QString::fromUtf8(cli_.readAllStandardError());
        stdout_ = cli_.readAllStandardOutput();
        return cli_.exitCode();
    }

    // Waits until the program's standard error has said `text` `times` times in all.
    bool waitForLog(const QString& text, int times = 1, int timeoutMs = waitMs) {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            log_ += QString::fromUtf8(cli_.readAllStandardError());
            if (log_.count(text) >= times) {
                return true;
            }
            if (deadline.hasExpired() || cli_.state() == QProcess::NotRunning) {
                return false;
            }
            cli_.waitForReadyRead(50);
        }
    }

    // The next JSON line on the program's standard output.
    std::optional<QJsonObject> nextItem() {
        QDeadlineTimer deadline(waitMs);
        while (!cli_.canReadLine()) {
            if (deadline.hasExpired() || cli_.state() == QProcess::NotRunning) {
                return std::nullopt;
            }
            cli_.waitForReadyRead(50);
        }
        const auto document = QJsonDocument::fromJson(cli_.readLine());
        EXPECT_TRUE(document.isObject());
        return document.object();
    }

    QString writeWorkFile(const QString& name, const QByteArray& content) {
        const QString path = writeTestFile(work_, name, content);
        EXPECT_FALSE(path.isEmpty()) << name.toStdString();
        return path;
    }

    // What the program holds under today's received-files directory.
    QStringList receivedFiles() const {
        return QDir(QFileInfo(receivedFilePath(QStringLiteral("x"))).path())
            .entryList(QDir::Files | QDir::Hidden);
    }

    QString receivedFilePath(const QString& name) const {
        return dataHome_.path() + "/Orvane/files/" + QDate::currentDate().toString("yyyy-MM-dd") +
               "/" + name;
    }

    QTemporaryDir dataHome_;
    QTemporaryDir work_;
    QProcess cli_;
    QString stderr_;
    QByteArray stdout_;
    QString log_; // standard error of a running program, as far as read
};

TEST_F(OrvaneCliTest, ListenReportsPushedItemsAndEndsCleanlyOnSigterm) {
    const QByteArray fileContent = patternedBytes(25000);
    const QByteArray imageContent = QByteArray("\x89PNG\r\n\x1a\n", 8) + patternedBytes(3000);
    const QString file = writeWorkFile("report.bin", fileContent);
    const QString image = writeWorkFile("shot.png", imageContent);
    DevsimProcess device({"--interval", "100", "--push-text", "你好，欢迎使用", "--push-file", file,
                          "--push-image", image});
    ASSERT_TRUE(device.waitFor("plugged"));
    startCli({"listen", device.link, "--json"});

    const auto text = nextItem();
    ASSERT_TRUE(text);
    EXPECT_EQ(text->value("kind").toString(), "text");
    EXPECT_EQ(text->value("text").toString(), "你好，欢迎使用");
    EXPECT_EQ(text->value("size").toInteger(), QByteArray("你好，欢迎使用").size());

    const auto received = nextItem();
    ASSERT_TRUE(received);
    EXPECT_EQ(received->value("kind").toString(), "files");
    EXPECT_EQ(received->value("size").toInteger(), fileContent.size());
    EXPECT_EQ(received->value("path").toString(), receivedFilePath("report.bin"));
    EXPECT_EQ(readTestFile(receivedFilePath("report.bin")), fileContent);

    const auto picture = nextItem();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->value("kind").toString(), "image");
    const QString imagePath = picture->value("path").toString();
    EXPECT_TRUE(imagePath.startsWith(dataHome_.path() + "/Orvane/clipboard_images/"));
    EXPECT_EQ(readTestFile(imagePath), imageContent);

    // Probes keep being answered while the link is held.
    ASSERT_TRUE(device.waitFor("probe_matched"));
    ASSERT_TRUE(device.waitFor("probe_matched"));

    cli_.terminate();
    ASSERT_TRUE(cli_.waitForFinished(5000));
    const QString errors = QString::fromUtf8(cli_.readAllStandardError());
    EXPECT_EQ(cli_.exitStatus(), QProcess::NormalExit) << errors.toStdString();
    EXPECT_EQ(cli_.exitCode(), 0) << errors.toStdString();
    // The program let go of the link: the device's probes go unanswered.
    EXPECT_TRUE(device.waitFor(
        "client_answering", [](const QJsonObject& e) { return !e.value("answering").toBool(); },
        5000));

    // Every item reached the history before the program ended, newest first.
    auto store = AppStore::open(dataHome_.path() + "/Orvane/data.db");
    ASSERT_TRUE(store);
    const auto records = store.value()->listClipboardRecords(-1);
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 3);
    EXPECT_EQ((*records)[0].kind, "image");
    EXPECT_EQ((*records)[0].imagePath, imagePath);
    EXPECT_EQ((*records)[1].kind, "files");
    EXPECT_EQ((*records)[1].text, receivedFilePath("report.bin"));
    EXPECT_EQ((*records)[2].kind, "text");
    EXPECT_EQ((*records)[2].text, "你好，欢迎使用");
}

TEST_F(OrvaneCliTest, SendDeliversTextFileAndImageToTheDevice) {
    QTemporaryDir saved;
    ASSERT_TRUE(saved.isValid());
    DevsimProcess device({"--interval", "200", "--save-dir", saved.path()});
    ASSERT_TRUE(device.waitFor("plugged"));

    ASSERT_EQ(runCli({"send", device.link, "--text", "剪贴板 text ✓"}), 0) << stderr_.toStdString();
    const auto text = device.waitFor("receive_done");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->value("dataType").toInt(), 0);
    EXPECT_EQ(readTestFile(text->value("savedTo").toString()), QByteArray("剪贴板 text ✓"));
    EXPECT_TRUE(stderr_.contains("发送 [")) << stderr_.toStdString();

    const QByteArray content = patternedBytes(40000);
    ASSERT_EQ(runCli({"send", device.link, "--file", writeWorkFile("data.bin", content)}), 0)
        << stderr_.toStdString();
    const auto file = device.waitFor("receive_done");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->value("fileName").toString(), "data.bin");
    EXPECT_EQ(readTestFile(file->value("savedTo").toString()), content);

    const QByteArray picture = QByteArray("\x89PNG\r\n\x1a\n", 8) + patternedBytes(5000);
    ASSERT_EQ(runCli({"send", device.link, "--image", writeWorkFile("p.png", picture)}), 0)
        << stderr_.toStdString();
    const auto image = device.waitFor("receive_done");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->value("dataType").toInt(), 1);
    EXPECT_EQ(readTestFile(image->value("savedTo").toString()), picture);
}

TEST_F(OrvaneCliTest, SendFailsClearlyWithoutALinkOrAnItem) {
    const QString missing = work_.filePath("no-such-port");
    EXPECT_EQ(runCli({"send", missing, "--text", "x", "--wait", "1", "--dev-dir", work_.path()}),
              1);
    EXPECT_TRUE(stderr_.contains("串口未连接")) << stderr_.toStdString();
    // Said once, at the start, with the ports that do exist (none here).
    EXPECT_EQ(stderr_.count("串口 " + missing + " 不存在 · " + work_.path() + " 中没有串口"), 1)
        << stderr_.toStdString();

    // Interrupted while waiting for the link: 130, and the script hears why.
    startCli({"send", missing, "--text", "x", "--wait", "30", "--json"});
    ASSERT_TRUE(waitForLog("不存在")) << log_.toStdString();
    cli_.terminate();
    ASSERT_TRUE(cli_.waitForFinished(5000));
    EXPECT_EQ(cli_.exitCode(), 130);
    EXPECT_EQ(QJsonDocument::fromJson(cli_.readAllStandardOutput()).object().value("error"),
              "已取消");

    EXPECT_EQ(runCli({"send", missing, "--file", work_.filePath("none"), "--json"}), 1);
    EXPECT_TRUE(stderr_.contains("文件不存在")) << stderr_.toStdString();
    const auto result = QJsonDocument::fromJson(stdout_).object();
    EXPECT_EQ(result.value("result").toString(), "failed");
    EXPECT_TRUE(result.value("error").toString().contains("文件不存在"));
}

// Usage errors end with 2 before anything is opened; --help lists the exit codes.
TEST_F(OrvaneCliTest, CommandLineRefusesWhatTheCommandDoesNotTake) {
    const QString port = work_.filePath("p");
    EXPECT_EQ(runCli({"send", port, "--text", "a", "--file", "b"}), 2);
    EXPECT_EQ(runCli({"sing", port}), 2);
    EXPECT_EQ(runCli({"listen", port, "--no-such-option"}), 2);
    EXPECT_TRUE(stderr_.contains("no-such-option")) << stderr_.toStdString();
    EXPECT_EQ(runCli({"listen", port, "--text", "a"}), 2);
    EXPECT_TRUE(stderr_.contains("--text is not an option of listen")) << stderr_.toStdString();
    EXPECT_EQ(runCli({"ports", "--wait", "3"}), 2);
    EXPECT_EQ(runCli({"ports", port}), 2);
    EXPECT_EQ(runCli({"listen"}), 2);
    for (const char* wait : {"0", "3601", "-1", "abc", "99999999999"}) {
        EXPECT_EQ(runCli({"send", port, "--text", "a", "--wait", wait}), 2) << wait;
    }
    EXPECT_EQ(runCli({"--help"}), 0);
    const QString help = QString::fromUtf8(stdout_);
    for (const char* code : {"0 ", "1 ", "2 ", "130 "}) {
        EXPECT_TRUE(help.contains(QStringLiteral("  ") + code)) << code;
    }
    EXPECT_TRUE(help.contains("ports [--json]"));
}

TEST_F(OrvaneCliTest, SendJsonReportsEveryProgressValueInOrderThenTheResult) {
    QTemporaryDir saved;
    ASSERT_TRUE(saved.isValid());
    DevsimProcess device({"--interval", "200", "--save-dir", saved.path()});
    ASSERT_TRUE(device.waitFor("plugged"));
    const QByteArray picture = QByteArray("\x89PNG\r\n\x1a\n", 8) + patternedBytes(96);
    ASSERT_EQ(runCli({"send", device.link, "--image", writeWorkFile("p.png", picture), "--json"}),
              0)
        << stderr_.toStdString();
    QList<int> progress;
    QJsonObject result;
    for (const QByteArray& line : stdout_.split('\n')) {
        if (line.isEmpty()) {
            continue;
        }
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        ASSERT_TRUE(result.isEmpty()) << "a line after the result: " << line.toStdString();
        if (object.contains("progress")) {
            progress.append(object.value("progress").toInt());
        } else {
            result = object;
        }
    }
    EXPECT_EQ(progress, (QList<int>{0, 1, 3, 5, 33, 99, 99, 100}));
    EXPECT_EQ(result.value("result").toString(), "sent");
    EXPECT_EQ(result.value("bytes").toInteger(), picture.size());
    EXPECT_FALSE(stderr_.contains("发送 [")) << "no progress bar besides the JSON";
    const auto received = device.waitFor("receive_done");
    ASSERT_TRUE(received);
    EXPECT_EQ(readTestFile(received->value("savedTo").toString()), picture);
}

// A port of our own making: the test keeps the master side and lets go of the slave, so
// that nothing but a deliberate holder has it open.
struct IdlePseudoTerminal {
    explicit IdlePseudoTerminal(const QString& linkPath) {
        int slave = -1;
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
            linked = ::symlink(::ttyname(slave), QFile::encodeName(linkPath).constData()) == 0;
            ::close(slave);
        }
    }
    ~IdlePseudoTerminal() {
        if (master >= 0) {
            ::close(master);
        }
    }
    int master = -1;
    bool linked = false;
};

TEST_F(OrvaneCliTest, PortsListsCandidatesWithWhetherTheyOpenAndWhoHoldsThem) {
    const QString dir = work_.path();
    IdlePseudoTerminal free(dir + "/ttyACM0");
    IdlePseudoTerminal held(dir + "/ttyUSB3");
    IdlePseudoTerminal other(dir + "/console0"); // not a serial port name
    ASSERT_TRUE(free.linked && held.linked && other.linked);
    QProcess holder;
    holder.start(QStringLiteral("flock"), {"--exclusive", dir + "/ttyUSB3", "sleep", "30"});
    ASSERT_TRUE(holder.waitForStarted(3000));
    QThread::msleep(300);

    ASSERT_EQ(runCli({"ports", "--json", "--dev-dir", dir}), 0) << stderr_.toStdString();
    const QJsonArray ports = QJsonDocument::fromJson(stdout_).array();
    ASSERT_EQ(ports.size(), 2) << stdout_.toStdString();
    const QJsonObject first = ports[0].toObject();
    EXPECT_EQ(first.value("path").toString(), dir + "/ttyACM0");
    EXPECT_EQ(first.value("label").toString(), dir + "/ttyACM0");
    EXPECT_TRUE(first.value("free").toBool());
    EXPECT_TRUE(first.value("holder").isNull());
    const QJsonObject second = ports[1].toObject();
    EXPECT_EQ(second.value("path").toString(), dir + "/ttyUSB3");
    EXPECT_FALSE(second.value("free").toBool());
    EXPECT_TRUE(QStringList({"flock", "sleep"}).contains(second.value("holder").toString()))
        << second.value("holder").toString().toStdString();

    ASSERT_EQ(runCli({"ports", "--dev-dir", dir}), 0);
    const QString text = QString::fromUtf8(stdout_);
    EXPECT_TRUE(text.contains(dir + "/ttyACM0 · 可以打开")) << text.toStdString();
    EXPECT_TRUE(text.contains(QRegularExpression("ttyUSB3 · (flock|sleep) 占用")))
        << text.toStdString();
    holder.kill();
    holder.waitForFinished(3000);
}

// Under the journal each line carries its priority; in a terminal or a file lines are plain
// and the protocol lines appear only with --verbose.
TEST_F(OrvaneCliTest, StandardErrorIsPrefixedOnlyForTheJournal) {
    DevsimProcess device({"--interval", "200"});
    ASSERT_TRUE(device.waitFor("plugged"));
    const QString errFile = work_.filePath("stderr.txt");
    const auto runTo = [&](const QStringList& args, bool journal) {
        QFile(errFile).open(QIODevice::WriteOnly | QIODevice::Truncate);
        struct stat info {};
        EXPECT_EQ(::stat(QFile::encodeName(errFile).constData(), &info), 0);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", dataHome_.path());
        env.remove("JOURNAL_STREAM");
        if (journal) {
            env.insert(
                "JOURNAL_STREAM",
                QStringLiteral("%1:%2").arg(qulonglong(info.st_dev)).arg(qulonglong(info.st_ino)));
        }
        QProcess cli;
        cli.setProcessEnvironment(env);
        cli.setStandardErrorFile(errFile, QIODevice::Append);
        cli.start(QStringLiteral(ORVANE_CLI_PATH), args);
        EXPECT_TRUE(cli.waitForFinished(waitMs));
        return QString::fromUtf8(readTestFile(errFile)).split('\n', Qt::SkipEmptyParts);
    };

    const QStringList plain = runTo({"send", device.link, "--text", "a"}, false);
    ASSERT_FALSE(plain.isEmpty());
    for (const QString& line : plain) {
        EXPECT_FALSE(line.startsWith('<')) << line.toStdString();
        EXPECT_FALSE(line.contains("com.orvane.linux/serial")) << line.toStdString();
    }
    const QStringList verbose = runTo({"send", device.link, "--text", "a", "--verbose"}, false);
    EXPECT_TRUE(verbose.join('\n').contains("com.orvane.linux/serial: SYS "))
        << verbose.join('\n').toStdString();

    const QStringList journal =
        runTo({"send", work_.filePath("gone"), "--text", "a", "--wait", "1", "--verbose"}, true);
    ASSERT_FALSE(journal.isEmpty());
    for (const QString& line : journal) {
        EXPECT_TRUE(QRegularExpression("^<[346]>").match(line).hasMatch()) << line.toStdString();
    }
    EXPECT_TRUE(journal.contains("<3>串口未连接 · 等待 " + work_.filePath("gone") + " 重新枚举…"))
        << journal.join('\n').toStdString();
}

TEST_F(OrvaneCliTest, SendToAPortHeldByAnotherProgramNamesTheHolder) {
    DevsimProcess device({"--interval", "200"});
    ASSERT_TRUE(device.waitFor("plugged"));
    QProcess holder;
    holder.start(QStringLiteral("flock"), {"--exclusive", device.link, "sleep", "30"});
    ASSERT_TRUE(holder.waitForStarted(3000));
    QThread::msleep(300);

    EXPECT_EQ(runCli({"send", device.link, "--text", "x", "--wait", "4"}), 1);
    EXPECT_TRUE(stderr_.contains("串口未连接")) << stderr_.toStdString();
    EXPECT_TRUE(stderr_.contains("占用 " + device.link)) << stderr_.toStdString();
    holder.kill();
    holder.waitForFinished(3000);
}

TEST_F(OrvaneCliTest, ListenComesBackAfterTheDeviceIsUnpluggedWhileIdle) {
    DevsimProcess device({"--interval", "100"});
    ASSERT_TRUE(device.waitFor("plugged"));
    startCli({"listen", device.link, "--json"});
    ASSERT_TRUE(waitForLog("已连接 " + device.link)) << log_.toStdString();

    device.command("unplug");
    ASSERT_TRUE(device.waitFor("unplugged"));
    ASSERT_TRUE(waitForLog("连接已断开 " + device.link)) << log_.toStdString();
    device.command("replug");
    ASSERT_TRUE(device.waitFor("plugged"));
    ASSERT_TRUE(waitForLog("已连接 " + device.link, 2)) << log_.toStdString();
    ASSERT_TRUE(device.waitFor("probe_matched", {}, waitMs));

    device.command("text 又回来了");
    const auto text = nextItem();
    ASSERT_TRUE(text);
    EXPECT_EQ(text->value("kind").toString(), "text");
    EXPECT_EQ(text->value("text").toString(), "又回来了");
}

TEST_F(OrvaneCliTest, ListenAnswersTheDeviceOverAGarbageStoreAndStartsItAfresh) {
    const QString database = dataHome_.path() + "/Orvane/data.db";
    ASSERT_TRUE(QDir().mkpath(dataHome_.path() + "/Orvane"));
    ASSERT_FALSE(writeTestFile(work_, "garbage", QByteArray(4096, 'g')).isEmpty());
    ASSERT_TRUE(QFile::copy(work_.filePath("garbage"), database));
    DevsimProcess device({"--interval", "100"});
    ASSERT_TRUE(device.waitFor("plugged"));
    startCli({"listen", device.link, "--json"});
    ASSERT_TRUE(waitForLog("已移至 " + database + ".damaged-")) << log_.toStdString();
    ASSERT_TRUE(device.waitFor("probe_matched", {}, waitMs));

    device.command("text 照常收到");
    const auto text = nextItem();
    ASSERT_TRUE(text);
    EXPECT_EQ(text->value("text").toString(), "照常收到");
    cli_.terminate();
    ASSERT_TRUE(cli_.waitForFinished(5000));
    const QStringList aside =
        QDir(dataHome_.path() + "/Orvane").entryList({"data.db.damaged-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readTestFile(dataHome_.path() + "/Orvane/" + aside[0]), QByteArray(4096, 'g'));
    auto store = AppStore::open(database);
    ASSERT_TRUE(store);
    EXPECT_EQ(store.value()->listClipboardRecords(-1)->size(), 1);
}

// Runs on the production timings: a device silent for over 10 s is noticed by the next
// ECHO check, which comes every 10 s.
TEST_F(OrvaneCliTest, ListenReopensTheLinkOfADeviceThatFellSilent) {
    DevsimProcess device({"--interval", "200"});
    ASSERT_TRUE(device.waitFor("plugged"));
    startCli({"listen", device.link, "--verbose"});
    ASSERT_TRUE(waitForLog("已连接 " + device.link)) << log_.toStdString();
    ASSERT_TRUE(device.waitFor("probe_matched", {}, waitMs));

    device.command("silence on");
    ASSERT_TRUE(waitForLog("ECHO 超时", 1, 30000)) << log_.toStdString();
    EXPECT_TRUE(waitForLog(" · 重连串口 · " + device.link)) << log_.toStdString();
    EXPECT_TRUE(waitForLog("端口已打开", 2)) << log_.toStdString();
    // Probes flow again once the device speaks, and the link carries them.
    device.command("silence off");
    EXPECT_TRUE(device.waitFor("probe_matched", {}, waitMs));
    EXPECT_EQ(log_.count("ECHO 超时"), 1) << log_.toStdString();
}

TEST_F(OrvaneCliTest, UnplugDuringAPushLeavesNoPartialFileAndTheNextPushArrives) {
    // Small chunks stretch the push to many round trips, so the unplug lands inside it.
    const QByteArray content = patternedBytes(2 * 1024 * 1024);
    const QString file = writeWorkFile("big.bin", content);
    DevsimProcess device({"--interval", "200", "--chunk-size", "1024"});
    ASSERT_TRUE(device.waitFor("plugged"));
    startCli({"listen", device.link, "--json"});
    ASSERT_TRUE(waitForLog("已连接 " + device.link)) << log_.toStdString();
    ASSERT_TRUE(device.waitFor("probe_matched", {}, waitMs));

    device.command("file " + file);
    ASSERT_TRUE(device.waitFor("push_progress", {}, waitMs));
    device.command("unplug");
    const auto aborted = device.waitFor("push_done");
    ASSERT_TRUE(aborted);
    ASSERT_FALSE(aborted->value("ok").toBool()) << "the push ended before the unplug";

    // The program lets go of the half-written file once it sees the link go.
    const QDeadlineTimer cleaned(5000);
    while (!receivedFiles().isEmpty() && !cleaned.hasExpired()) {
        QThread::msleep(50);
    }
    EXPECT_TRUE(receivedFiles().isEmpty()) << receivedFiles().join(", ").toStdString();

    device.command("replug");
    ASSERT_TRUE(device.waitFor("plugged"));
    ASSERT_TRUE(device.waitFor("probe_matched", {}, waitMs));
    device.command("file " + file);
    const auto done = device.waitFor("push_done", {}, 60000);
    ASSERT_TRUE(done);
    EXPECT_TRUE(done->value("ok").toBool()) << done->value("reason").toString().toStdString();

    const auto received = nextItem();
    ASSERT_TRUE(received);
    EXPECT_EQ(received->value("kind").toString(), "files");
    EXPECT_EQ(received->value("path").toString(), receivedFilePath("big.bin"));
    EXPECT_TRUE(readTestFile(receivedFilePath("big.bin")) == content);
    EXPECT_EQ(receivedFiles(), QStringList{"big.bin"});
}

} // namespace
