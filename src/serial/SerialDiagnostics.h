#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace orvane {

// The developer's diagnostics log, usable from any thread. Lines are emitted on the logging
// categories of LogCategories.h; once DiagnosticsMessageHandler is installed every line a
// category lets through goes to the system log (standard error; with an sd-daemon level
// prefix when the journal reads it, plain in a terminal) and to `serial.log`, a size-capped
// text file in the log directory. Error lines are also handed to the installed UI callback,
// whatever the logging rules say, so that the user sees them in the debug log.
//
// File writes happen on one worker thread ("com.orvane.serial.logfile") in the order the
// calls were made; callers never wait for the disk. File failures are ignored: the system
// log still receives every line.
namespace SerialDiagnostics {

// (direction, summary, hex rows); called on the thread that logged the error.
using UILineCallback = std::function<void(const QString& direction, const QString& summary,
                                          const QStringList& hexRows)>;

inline constexpr char fileQueueName[] = "com.orvane.serial.logfile";
inline constexpr char logFileName[] = "serial.log";
inline constexpr char subsystem[] = "com.orvane.linux";
inline constexpr char category[] = "serial";
// Past this size the file is cut to its last maxLogFileBytes / 2 bytes.
inline constexpr qint64 maxLogFileBytes = 524288;
// Lines waiting for the file beyond this many are dropped (and counted in the file) rather
// than letting a stuck disk grow the queue without bound.
inline constexpr int maxQueuedLines = 20000;

// An information line on the serial category.
void info(const QString& message);
// A warning on the serial category; also calls the UI callback, when one is installed, with
// ("ERR", message, {}).
void error(const QString& message);

// Writes one line of `categoryName` ("serial", "ble", …) to standard error and queues it
// for serial.log, stamped "ERR" or "INFO". The message handler's way out; callers log
// through a category instead.
void write(bool isError, const QString& categoryName, const QString& message);

// Installs or (with an empty function) removes the UI callback. The callback may itself log.
void setOnUILine(UILineCallback callback);

// The directory that holds serial.log. Empty (the default) means the application data
// directory, $XDG_DATA_HOME/Orvane, resolved at each write. Lines already queued are
// written to the directory in force when they are written.
void setLogDirectory(const QString& directory);
QString logDirectory();
QString logFilePath();

// Waits until every line queued before this call has been handed to the file (or dropped
// by a failed write). Returns false when that did not happen within `timeoutMs`.
bool flush(int timeoutMs = 2000);

// Cuts the file at `path` to its last maxBytes / 2 bytes when it is larger than
// `maxBytes`. The cut may fall inside a line. Failures leave the file as it was.
void trimLogFile(const QString& path, qint64 maxBytes);

// Whether info lines reach standard error (on by default; error lines always do). A
// command-line program turns them off unless asked to be verbose; serial.log keeps them.
void setInfoOnStandardError(bool enabled);

// Whether `fd` is the stream that the journal reads: `journalStream` is the value of
// JOURNAL_STREAM ("<device>:<inode>", set by the service manager), which a child inherits
// even when its standard error has since been pointed elsewhere, hence the comparison.
bool isJournalStream(int fd, const QByteArray& journalStream);
bool standardErrorIsJournal();

// The system log line for one message line, without the newline: "com.orvane.linux/serial: "
// (or another category) and the message, behind "<6>" or "<3>" for the journal, which takes
// it as the priority.
QByteArray systemLogLine(bool isError, const QString& message, bool forJournal,
                         const QString& categoryName = QLatin1String(category));

} // namespace SerialDiagnostics

} // namespace orvane
