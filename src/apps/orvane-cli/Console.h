#pragma once

#include <QByteArray>
#include <QString>

namespace orvane {

// orvane-cli's own lines. Results for scripts go to standard output; everything about the
// link and the transfer goes to standard error, one line each, with a journal priority
// prefix ("<6>", "<4>", "<3>") only when standard error is the journal.
namespace Console {

void info(const QString& line);
void warning(const QString& line);
void error(const QString& line);

// Written as given and flushed at once, so a reader sees every line as it happens.
void out(const QByteArray& bytes);

} // namespace Console

} // namespace orvane
