#include "apps/orvane-cli/ProgressBar.h"

#include <unistd.h>

namespace orvane {

namespace {
constexpr int barWidth = 30;
}

ProgressBar::ProgressBar(QString label, std::FILE* stream)
    : label_(std::move(label))
    , stream_(stream)
    , interactive_(::isatty(::fileno(stream)) == 1) {}

void ProgressBar::update(int percent) {
    percent = qBound(0, percent, 100);
    if (percent == shown_ || (!interactive_ && percent / 10 == shown_ / 10 && shown_ >= 0)) {
        return;
    }
    shown_ = percent;
    draw(percent);
}

void ProgressBar::draw(int percent) {
    const int filled = percent * barWidth / 100;
    const QString bar =
        QString(filled, QLatin1Char('#')) + QString(barWidth - filled, QLatin1Char('-'));
    const QByteArray line = QStringLiteral("%1 [%2] %3%").arg(label_, bar).arg(percent, 3).toUtf8();
    if (interactive_) {
        std::fprintf(stream_, "\r%s", line.constData());
        open_ = true;
    } else {
        std::fprintf(stream_, "%s\n", line.constData());
    }
    std::fflush(stream_);
}

void ProgressBar::finish() {
    if (open_) {
        std::fputc('\n', stream_);
        std::fflush(stream_);
        open_ = false;
    }
}

} // namespace orvane
