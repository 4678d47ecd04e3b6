#include "serial/SerialDiagnostics.h"

#include "common/LogCategories.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane::SerialDiagnostics {

namespace {

// Bytes handed to one open/append/close of the file; keeps a burst of lines from holding
// the file open for long while still avoiding an open per line under load.
constexpr qsizetype maxBatchBytes = 64 * 1024;

std::mutex uiLineMutex;
UILineCallback uiLine;

std::mutex directoryMutex;
QString directoryOverride;

std::mutex stderrMutex;
std::atomic<bool> infoOnStandardError{true};

QString resolvedDirectory() {
    {
        std::lock_guard lock(directoryMutex);
        if (!directoryOverride.isEmpty()) {
            return directoryOverride;
        }
    }
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base.isEmpty() ? QString() : base + QStringLiteral("/Orvane");
}

void writeSystemLog(bool isError, const QString& categoryName, const QString& message) {
    if (!isError && !infoOnStandardError.load(std::memory_order_relaxed)) {
        return;
    }
    const bool journal = standardErrorIsJournal();
    QByteArray out;
    // One prefixed line per message line, so a multi-line message keeps its level in the
    // journal.
    const QStringList lines = message.split(u'\n');
    for (const QString& line : lines) {
        out += systemLogLine(isError, line, journal, categoryName);
        out += '\n';
    }
    std::lock_guard lock(stderrMutex);
    const char* data = out.constData();
    qsizetype left = out.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, data, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return; // nowhere to log a failing standard error
        }
        data += n;
        left -= n;
    }
}

void appendToFile(const QByteArray& bytes) {
    const QString dir = resolvedDirectory();
    if (dir.isEmpty()) {
        return;
    }
    QDir().mkpath(dir);
    const QString path = dir + u'/' + QLatin1String(logFileName);
    QFile file(path);
    // Append creates the file when it is missing, which is the "whole file" case.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        return;
    }
    file.write(bytes);
    file.close();
    trimLogFile(path, maxLogFileBytes);
}

// The one writer behind fileQueueName. Lines are stamped when logged and written in the
// order they were queued.
class LogFileWriter {
public:
    ~LogFileWriter() {
        std::unique_ptr<QThread> thread;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            thread = std::move(thread_);
        }
        wake_.notify_all();
        if (thread && !thread->wait(QDeadlineTimer(2000))) {
            // A writer stuck in the file system must not abort the process at exit.
            (void)thread.release();
        }
    }

    void enqueue(QByteArray line) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            if (static_cast<int>(queue_.size()) >= maxQueuedLines) {
                ++dropped_;
                return;
            }
            queue_.push_back(std::move(line));
            ++queued_;
            startLocked();
        }
        wake_.notify_one();
    }

    bool flush(int timeoutMs) {
        std::unique_lock lock(mutex_);
        const std::uint64_t target = queued_;
        return written_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return done_ >= target; });
    }

private:
    void startLocked() {
        if (thread_) {
            return;
        }
        thread_.reset(QThread::create([this] { run(); }));
        thread_->setObjectName(QLatin1String(fileQueueName));
        thread_->start(QThread::LowPriority);
    }

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) {
                return; // stopping with nothing left to write
            }
            QByteArray batch;
            std::uint64_t taken = 0;
            if (dropped_ > 0) {
                batch += stampedLine("ERR", QStringLiteral("serial.log: %1 lines dropped, the "
                                                           "writer could not keep up")
                                                .arg(dropped_));
                dropped_ = 0;
            }
            while (!queue_.empty() && batch.size() < maxBatchBytes) {
                batch += queue_.front();
                queue_.pop_front();
                ++taken;
            }
            lock.unlock();
            appendToFile(batch);
            lock.lock();
            done_ += taken;
            written_.notify_all();
        }
    }

public:
    static QByteArray stampedLine(const char* level, const QString& message) {
        return (QDateTime::currentDateTimeUtc().toString(Qt::ISODate) + QStringLiteral(" [") +
                QLatin1String(level) + QStringLiteral("] ") + message + u'\n')
            .toUtf8();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable written_;
    std::deque<QByteArray> queue_;
    std::uint64_t queued_ = 0;
    std::uint64_t done_ = 0;
    quint64 dropped_ = 0;
    bool stopping_ = false;
    std::unique_ptr<QThread> thread_;
};

LogFileWriter& writer() {
    static LogFileWriter instance;
    return instance;
}

} // namespace

void setInfoOnStandardError(bool enabled) {
    infoOnStandardError.store(enabled, std::memory_order_relaxed);
}

bool isJournalStream(int fd, const QByteArray& journalStream) {
    const qsizetype colon = journalStream.indexOf(':');
    if (colon <= 0) {
        return false;
    }
    bool deviceOk = false;
    bool inodeOk = false;
    const qulonglong device = journalStream.left(colon).toULongLong(&deviceOk);
    const qulonglong inode = journalStream.mid(colon + 1).toULongLong(&inodeOk);
    struct stat info {};
    if (!deviceOk || !inodeOk || ::fstat(fd, &info) != 0) {
        return false;
    }
    return info.st_dev == device && info.st_ino == inode;
}

bool standardErrorIsJournal() {
    // Checked at each write: standard error may be redirected while the program runs.
    static const QByteArray journalStream = qgetenv("JOURNAL_STREAM");
    return !journalStream.isEmpty() && isJournalStream(STDERR_FILENO, journalStream);
}

QByteArray systemLogLine(bool isError, const QString& message, bool forJournal,
                         const QString& categoryName) {
    QByteArray line;
    if (forJournal) {
        line = isError ? QByteArrayLiteral("<3>") : QByteArrayLiteral("<6>");
    }
    return line + subsystem + '/' + categoryName.toUtf8() + ": " + message.toUtf8();
}

void write(bool isError, const QString& categoryName, const QString& message) {
    writeSystemLog(isError, categoryName, message);
    writer().enqueue(LogFileWriter::stampedLine(isError ? "ERR" : "INFO", message));
}

void info(const QString& message) {
    qCInfo(lcSerial).noquote() << message;
}

void error(const QString& message) {
    qCWarning(lcSerial).noquote() << message;
    UILineCallback callback;
    {
        std::lock_guard lock(uiLineMutex);
        callback = uiLine;
    }
    // Called outside the lock: the callback may log again or replace itself.
    if (callback) {
        callback(QStringLiteral("ERR"), message, QStringList());
    }
}

void setOnUILine(UILineCallback callback) {
    std::lock_guard lock(uiLineMutex);
    uiLine = std::move(callback);
}

void setLogDirectory(const QString& directory) {
    std::lock_guard lock(directoryMutex);
    directoryOverride = directory;
}

QString logDirectory() {
    return resolvedDirectory();
}

QString logFilePath() {
    const QString dir = resolvedDirectory();
    return dir.isEmpty() ? QString() : dir + u'/' + QLatin1String(logFileName);
}

bool flush(int timeoutMs) {
    return writer().flush(timeoutMs);
}

void trimLogFile(const QString& path, qint64 maxBytes) {
    const QFileInfo info(path);
    if (!info.exists()) {
        return;
    }
    const qint64 size = info.size();
    if (size <= maxBytes) {
        return;
    }
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        return;
    }
    const qint64 keep = maxBytes / 2;
    if (!in.seek(size - keep)) {
        return;
    }
    const QByteArray tail = in.read(keep);
    in.close();
    // Replaced as a whole so that a failure half-way never leaves a truncated log.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        return;
    }
    out.write(tail);
    out.commit();
}

} // namespace orvane::SerialDiagnostics
