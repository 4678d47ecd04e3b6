#pragma once

#include <QString>

#include <cstdio>

namespace orvane {

// A one-line progress bar redrawn in place on a terminal ("\r"); on anything else (a pipe,
// a log file) one line per ten percent so that the output stays readable.
class ProgressBar {
public:
    ProgressBar(QString label, std::FILE* stream);

    // 0..100; values that do not move the bar are ignored.
    void update(int percent);
    // Ends the bar's line.
    void finish();

private:
    void draw(int percent);

    QString label_;
    std::FILE* stream_;
    bool interactive_;
    int shown_ = -1;
    bool open_ = false;
};

} // namespace orvane
