// Figures for the clipboard through the compositor's data control, with the clipboard
// manager on top as the application runs it: how soon another program's copy is in the
// history, how long the main thread stalls while a large image is read and recorded, and
// what the backend costs while nothing happens. Runs under tests/support/run-under-sway
// (scripts/measure-wayland-clipboard) and prints one line per figure.
//
// Usage: orvane_figures_wayland_clipboard [COPIES [IMAGE_MB [IDLE_SECONDS]]]

#include "clipboard/ClipboardManager.h"
#include "clipboard/QtClipboardTimers.h"
#include "platform/linux/wayland/DataControlClipboardIO.h"
#include "platform/linux/wayland/DataControlFormats.h"
#include "platform/linux/wayland/DataControlThread.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace orvane;
using Clock = std::chrono::steady_clock;

namespace {

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The longest gap between turns of the main thread's event loop while it runs: a 1 ms
// timer that notes how late each of its firings comes.
class StallWatch {
public:
    StallWatch() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const Clock::time_point now = Clock::now();
            longest_ = std::max(longest_, msBetween(last_, now));
            last_ = now;
        });
    }
    void start() {
        longest_ = 0;
        last_ = Clock::now();
        timer_.start();
    }
    double stop() {
        timer_.stop();
        return std::max(longest_, msBetween(last_, Clock::now()));
    }

private:
    QTimer timer_;
    Clock::time_point last_;
    double longest_ = 0;
};

// Runs the event loop until `done` holds (checked whenever the history changes) or
// `timeoutMs` pass. No sleeping between checks, so that what is timed is not delayed.
bool runUntil(ClipboardManager& manager, const std::function<bool()>& done, int timeoutMs) {
    if (done()) {
        return true;
    }
    QEventLoop loop;
    const auto connection = QObject::connect(&manager, &ClipboardManager::stateChanged, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    // An object of its own rather than a single shot: it must not go off later, in the
    // idle window.
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    timeout.start(timeoutMs);
    loop.exec();
    QObject::disconnect(connection);
    return done();
}

void pause(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Context switches of one thread of this process: each one it made of its own accord is
// one time it went to sleep, so one wakeup to come.
struct Switches {
    long long voluntary = 0;
    long long forced = 0;
};

Switches switchesOf(const QString& taskDir) {
    QFile status(taskDir + QStringLiteral("/status"));
    Switches result;
    if (!status.open(QIODevice::ReadOnly)) {
        return result;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("voluntary_ctxt_switches:")) {
            result.voluntary = line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        } else if (line.startsWith("nonvoluntary_ctxt_switches:")) {
            result.forced = line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
    }
    return result;
}

// The /proc directory of this process's thread named `name`; empty when there is none
// or more than one.
QString taskNamed(const QByteArray& name) {
    QString found;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid) + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name) {
            if (!found.isEmpty()) {
                return {};
            }
            found = tasks.filePath(tid);
        }
    }
    return found;
}

double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) {
        return t.tv_sec * 1000.0 + t.tv_usec / 1000.0;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Another program copying text: a connection of its own, which offers the text as any
// other program would (without our marker).
void offerText(DataControlThread& other, const QString& text, quint64 generation) {
    auto formats = DataControlFormats::offerFor({ClipboardKind::text, text, {}, {}});
    if (!formats) {
        return;
    }
    formats->removeIf([](const DataControlFormats::OfferedFormat& format) {
        return format.mimeType == DataControlFormats::ownSourceMarker;
    });
    other.setSelection(std::move(*formats), generation);
}

// A PNG of noise, which does not compress: about `megabytes` MB of file.
QByteArray noisePNG(int megabytes) {
    const int width = 2048;
    const int height = std::max(1, megabytes * 1024 * 1024 / 4 / width);
    QImage image(width, height, QImage::Format_ARGB32);
    auto* words = reinterpret_cast<quint32*>(image.bits());
    QRandomGenerator::global()->fillRange(words, image.sizeInBytes() / 4);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG", 100); // stored rather than squeezed: quick to make
    return png;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int copies = std::max(1, args.size() > 1 ? args.at(1).toInt() : 50);
    const int imageMB = std::max(1, args.size() > 2 ? args.at(2).toInt() : 20);
    const int idleSeconds = args.size() > 3 ? args.at(3).toInt() : 10;
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::puts("SKIP: needs a compositor (tests/support/run-under-sway)");
        return 77;
    }

    DataControlClipboardIO io(
        [](const QString& line) { std::printf("log: %s\n", qPrintable(line)); });
    if (const std::optional<QString> failure = io.start()) {
        std::printf("no data control: %s\n", qPrintable(*failure));
        return 1;
    }
    QtClipboardTimers timers;
    ClipboardManager manager(io, timers, {});
    Clock::time_point recordedAt;
    manager.start([&] { recordedAt = Clock::now(); }, {});

    // (a) Text copied by another client, from just before its selection is set.
    auto other = std::make_unique<DataControlThread>(
        DataControlThread::Limits{}, DataControlThread::Callbacks{[](ClipboardReading, quint64) {},
                                                                  [](QString) {
                                                                  }});
    if (const std::optional<QString> failure = other->start()) {
        std::printf("second client: %s\n", qPrintable(*failure));
        return 1;
    }
    pause(200);
    std::vector<double> latencies;
    for (int i = 0; i < copies; ++i) {
        const QString text = QStringLiteral("copy %1 of %2").arg(i).arg(copies);
        const Clock::time_point offered = Clock::now();
        offerText(*other, text, quint64(i) + 1);
        if (!runUntil(
                manager, [&] { return manager.state().current.text == text; }, 5000)) {
            std::printf("copy %d was not recorded within 5 s\n", i);
            return 1;
        }
        latencies.push_back(msBetween(offered, recordedAt));
        pause(20); // the other client reads its own offer back meanwhile
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("text copy to history: median %.2f ms, max %.2f ms over %d copies\n",
                latencies[latencies.size() / 2], latencies.back(), copies);

    // (b) A large PNG copied by wl-copy, another process. The second client goes first: it
    // would read the image too, and its clipboard with it (an empty one is no capture).
    other.reset();
    pause(300);
    QTemporaryDir dir;
    const QByteArray png = noisePNG(imageMB);
    const QString pngPath = dir.filePath(QStringLiteral("noise.png"));
    {
        QFile file(pngPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size()) {
            std::puts("cannot write the image file");
            return 1;
        }
    }
    QProcess copier;
    copier.setStandardInputFile(pngPath);
    copier.setStandardOutputFile(QProcess::nullDevice());
    copier.setStandardErrorFile(QProcess::nullDevice());
    StallWatch watch;
    watch.start();
    const Clock::time_point spawned = Clock::now();
    copier.start(QStringLiteral("wl-copy"),
                 {QStringLiteral("--type"), QStringLiteral("image/png")});
    const bool recorded = runUntil(
        manager,
        [&] {
            const ClipboardEntry& head = manager.state().current;
            return head.kind == ClipboardKind::image && head.imageData &&
                   head.imageData->size() == png.size();
        },
        60'000);
    const double longestStall = watch.stop();
    if (!recorded) {
        std::puts("the image was not recorded within 60 s");
        return 1;
    }
    std::printf("%.1f MB PNG copy to history: %.0f ms (from spawning wl-copy); longest main-thread "
                "stall %.2f ms; held in %.1f MB\n",
                png.size() / 1e6, msBetween(spawned, recordedAt), longestStall,
                manager.state().current.imageData->capacity() / 1e6);
    copier.waitForFinished(5000);

    // (c) Idle: wl-copy keeps serving the image, nothing changes for a while.
    pause(500);
    const QString backendTask = taskNamed(DataControlThread::threadName);
    const QString mainTask = QStringLiteral("/proc/self/task/%1").arg(gettid());
    if (backendTask.isEmpty()) {
        std::puts("cannot find the backend's thread");
        return 1;
    }
    const Switches backendBefore = switchesOf(backendTask);
    const Switches mainBefore = switchesOf(mainTask);
    const double cpuBefore = cpuMs();
    pause(idleSeconds * 1000);
    const double cpuUsed = cpuMs() - cpuBefore;
    const Switches backendAfter = switchesOf(backendTask);
    const Switches mainAfter = switchesOf(mainTask);
    std::printf("idle %d s: process CPU %.1f ms; backend thread woke %lld times (%lld forced "
                "switches); main thread woke %lld times (the timer ending the wait included)\n",
                idleSeconds, cpuUsed, backendAfter.voluntary - backendBefore.voluntary,
                backendAfter.forced - backendBefore.forced,
                mainAfter.voluntary - mainBefore.voluntary);
    return 0;
}
