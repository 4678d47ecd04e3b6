#include "serial/SerialDiagnostics.h"

#include "serial/DiagnosticsMessageHandler.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvane {
namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// A filler of `size` bytes made of numbered lines, so a cut can be located exactly.
QByteArray numberedBytes(qsizetype size) {
    QByteArray out;
    for (int i = 0; out.size() < size; ++i) {
        out += QByteArray::number(i).rightJustified(9, '0') + '\n';
    }
    out.truncate(size);
    return out;
}

class SerialDiagnosticsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        DiagnosticsMessageHandler::install();
        SerialDiagnostics::setLogDirectory(dir_.filePath("logs"));
    }
    void TearDown() override {
        ASSERT_TRUE(SerialDiagnostics::flush());
        SerialDiagnostics::setOnUILine({});
        SerialDiagnostics::setLogDirectory({});
    }
    QString logPath() const { return dir_.filePath("logs/serial.log"); }

    QTemporaryDir dir_;
};

TEST_F(SerialDiagnosticsTest, WritesStampedLevelLinesCreatingTheDirectory) {
    SerialDiagnostics::info(QStringLiteral("port opened /dev/ttyACM0"));
    SerialDiagnostics::error(QStringLiteral("打开失败"));
    ASSERT_TRUE(SerialDiagnostics::flush());

    const QStringList lines = QString::fromUtf8(readAll(logPath())).split(u'\n');
    ASSERT_EQ(lines.size(), 3); // two lines and the empty rest after the final newline
    EXPECT_TRUE(lines[2].isEmpty());
    const QRegularExpression info(
        QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ \[INFO\] port opened /dev/ttyACM0$)"));
    const QRegularExpression err(
        QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ \[ERR\] 打开失败$)"));
    EXPECT_TRUE(info.match(lines[0]).hasMatch()) << lines[0].toStdString();
    EXPECT_TRUE(err.match(lines[1]).hasMatch()) << lines[1].toStdString();
}

TEST_F(SerialDiagnosticsTest, DefaultDirectoryIsTheApplicationDataDirectory) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QByteArray old = qgetenv("XDG_DATA_HOME");
    const bool had = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    SerialDiagnostics::setLogDirectory({});

    EXPECT_EQ(SerialDiagnostics::logFilePath(), home.filePath("Orvane/serial.log"));
    SerialDiagnostics::info(QStringLiteral("into the data directory"));
    ASSERT_TRUE(SerialDiagnostics::flush());
    EXPECT_TRUE(
        readAll(home.filePath("Orvane/serial.log")).endsWith("] into the data directory\n"));

    if (had) {
        qputenv("XDG_DATA_HOME", old);
    } else {
        qunsetenv("XDG_DATA_HOME");
    }
}

TEST_F(SerialDiagnosticsTest, WriteThatPassesTheLimitCutsToTheLastHalf) {
    ASSERT_TRUE(QDir().mkpath(dir_.filePath("logs")));
    // Exactly at the limit after the write: kept whole.
    const QByteArray line = QByteArrayLiteral(" [INFO] fits\n");
    const qsizetype stampLength = 20; // "2024-01-01T00:00:00Z"
    const QByteArray filler =
        numberedBytes(SerialDiagnostics::maxLogFileBytes - stampLength - line.size());
    writeFile(logPath(), filler);
    SerialDiagnostics::info(QStringLiteral("fits"));
    ASSERT_TRUE(SerialDiagnostics::flush());
    EXPECT_EQ(QFileInfo(logPath()).size(), SerialDiagnostics::maxLogFileBytes);

    // One more byte: the file is 524289 bytes after the next write and is cut.
    writeFile(logPath(),
              numberedBytes(SerialDiagnostics::maxLogFileBytes - stampLength - line.size() + 1));
    SerialDiagnostics::info(QStringLiteral("fits"));
    ASSERT_TRUE(SerialDiagnostics::flush());
    const QByteArray after = readAll(logPath());
    EXPECT_EQ(after.size(), 262144);
    EXPECT_TRUE(after.endsWith(line));
}

TEST(SerialDiagnosticsTrim, KeepsTheLastHalfByteExactlyAndLeavesSmallFilesAlone) {
    QTemporaryDir dir;
    const QString path = dir.filePath("serial.log");
    const QByteArray content = numberedBytes(524289);
    writeFile(path, content);
    SerialDiagnostics::trimLogFile(path, 524288);
    EXPECT_EQ(readAll(path), content.right(262144));

    writeFile(path, content.left(524288));
    SerialDiagnostics::trimLogFile(path, 524288);
    EXPECT_EQ(readAll(path).size(), 524288);

    SerialDiagnostics::trimLogFile(dir.filePath("missing.log"), 10); // no crash, no file
    EXPECT_FALSE(QFile::exists(dir.filePath("missing.log")));
}

TEST_F(SerialDiagnosticsTest, KeepsEachThreadsLinesInOrder) {
    constexpr int threads = 4;
    constexpr int perThread = 400;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i) {
                SerialDiagnostics::info(QStringLiteral("t%1 %2").arg(t).arg(i));
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    ASSERT_TRUE(SerialDiagnostics::flush(10000));

    std::vector<int> next(threads, 0);
    int total = 0;
    const QRegularExpression pattern(QStringLiteral(R"(\[INFO\] t(\d) (\d+)$)"));
    for (const QString& line :
         QString::fromUtf8(readAll(logPath())).split(u'\n', Qt::SkipEmptyParts)) {
        const auto match = pattern.match(line);
        ASSERT_TRUE(match.hasMatch()) << line.toStdString();
        const int t = match.captured(1).toInt();
        EXPECT_EQ(match.captured(2).toInt(), next[t]) << line.toStdString();
        next[t] = match.captured(2).toInt() + 1;
        ++total;
    }
    EXPECT_EQ(total, threads * perThread);
}

TEST_F(SerialDiagnosticsTest, ErrorsReachTheUICallbackOnTheCallingThread) {
    struct Call {
        QString direction, summary;
        QStringList rows;
        std::thread::id thread;
    };
    std::vector<Call> calls;
    SerialDiagnostics::setOnUILine(
        [&](const QString& direction, const QString& summary, const QStringList& rows) {
            calls.push_back({direction, summary, rows, std::this_thread::get_id()});
        });

    SerialDiagnostics::info(QStringLiteral("only for the developer"));
    std::thread([] { SerialDiagnostics::error(QStringLiteral("read failed")); }).join();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].direction, QStringLiteral("ERR"));
    EXPECT_EQ(calls[0].summary, QStringLiteral("read failed"));
    EXPECT_TRUE(calls[0].rows.isEmpty());
    EXPECT_NE(calls[0].thread, std::this_thread::get_id());

    SerialDiagnostics::setOnUILine({});
    SerialDiagnostics::error(QStringLiteral("nobody listens"));
    EXPECT_EQ(calls.size(), 1u);
}

TEST_F(SerialDiagnosticsTest, SystemLogLinesCarryTheLevelPrefixOnlyForTheJournal) {
    EXPECT_EQ(SerialDiagnostics::systemLogLine(false, QStringLiteral("a"), true),
              QByteArray("<6>com.orvane.linux/serial: a"));
    EXPECT_EQ(SerialDiagnostics::systemLogLine(true, QStringLiteral("b"), true),
              QByteArray("<3>com.orvane.linux/serial: b"));
    EXPECT_EQ(SerialDiagnostics::systemLogLine(true, QStringLiteral("b"), false),
              QByteArray("com.orvane.linux/serial: b"));

    const QString capturePath = dir_.filePath("stderr.txt");
    const int capture = ::open(capturePath.toLocal8Bit().constData(),
                               O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(capture, 0);
    struct stat info {};
    ASSERT_EQ(::fstat(capture, &info), 0);
    const QByteArray stream = QByteArray::number(qulonglong(info.st_dev)) + ':' +
                              QByteArray::number(qulonglong(info.st_ino));
    EXPECT_TRUE(SerialDiagnostics::isJournalStream(capture, stream));
    EXPECT_FALSE(SerialDiagnostics::isJournalStream(capture, stream + '1'));
    EXPECT_FALSE(SerialDiagnostics::isJournalStream(capture, "garbage"));
    EXPECT_FALSE(SerialDiagnostics::isJournalStream(capture, ""));

    // What really reaches a standard error that is not the journal: plain lines, one per
    // message line, and info lines only while they are wanted.
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(capture, STDERR_FILENO);
    SerialDiagnostics::error(QStringLiteral("first\nsecond"));
    SerialDiagnostics::info(QStringLiteral("ok"));
    SerialDiagnostics::setInfoOnStandardError(false);
    SerialDiagnostics::info(QStringLiteral("quiet"));
    SerialDiagnostics::error(QStringLiteral("loud"));
    SerialDiagnostics::setInfoOnStandardError(true);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(capture);
    EXPECT_EQ(readAll(capturePath), QByteArray("com.orvane.linux/serial: first\n"
                                               "com.orvane.linux/serial: second\n"
                                               "com.orvane.linux/serial: ok\n"
                                               "com.orvane.linux/serial: loud\n"));
    // The file keeps every line.
    ASSERT_TRUE(SerialDiagnostics::flush());
    EXPECT_TRUE(readAll(logPath()).contains("[INFO] quiet"));
}

} // namespace
} // namespace orvane
