#pragma once

#include "apps/orvane-cli/ProgressBar.h"

#include <QString>

namespace orvane {

// How `orvane-cli send` reports a transfer. For people: a progress bar and the result on
// standard error. For scripts (--json): one JSON object per line on standard output,
// {"progress": N} for every value the sender reports, in order, then {"result": "sent",
// "bytes": N} or {"result": "failed", "error": "…"}; the reason of a failure still goes
// to standard error as well. A failure is also shown as a desktop notification when no
// terminal is attached to standard error (a file manager action). Main thread only.
class SendReport {
public:
    explicit SendReport(bool json);

    void progress(int percent);
    void sent(qint64 bytes);
    void failed(const QString& error);

private:
    bool json_;
    bool notify_;
    ProgressBar bar_;
};

} // namespace orvane
