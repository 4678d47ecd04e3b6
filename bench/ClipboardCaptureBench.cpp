// Capturing a 3840x2160 screenshot that another X client (xclip) holds as image/png:
// the X transfer and PNG check, the entry with its fingerprint, and the manager's whole
// capture, all of which run on the main thread. Runs on a private Xvfb server.

#include "clipboard/ClipboardConversions.h"
#include "clipboard/ClipboardManager.h"
#include "platform/linux/QtClipboardIO.h"
#include "support/FakeClipboardTimers.h"
#include "support/XvfbServer.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <benchmark/benchmark.h>
#include <cstdio>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

// A desktop-like screenshot: flat panels and window chrome, a text column and a
// photograph-like area, which is what makes real screenshots large.
QByteArray screenshotPNG() {
    QImage image(3840, 2160, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient wallpaper(0, 0, 3840, 2160);
    wallpaper.setColorAt(0, QColor(30, 60, 110));
    wallpaper.setColorAt(1, QColor(120, 40, 90));
    painter.fillRect(image.rect(), wallpaper);
    painter.fillRect(0, 0, 3840, 56, QColor(40, 40, 44));
    painter.fillRect(200, 160, 1800, 1700, Qt::white);
    painter.fillRect(200, 160, 1800, 60, QColor(230, 230, 232));
    painter.setPen(Qt::black);
    QFont font = painter.font();
    font.setPixelSize(26);
    painter.setFont(font);
    for (int line = 0; line < 50; ++line) {
        painter.drawText(240, 270 + line * 32,
                         QStringLiteral("%1  The quick brown fox jumps over the lazy dog, "
                                        "again and again, line after line.")
                             .arg(line));
    }
    painter.end();
    QRandomGenerator random(42);
    for (int y = 300; y < 1500; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 2200; x < 3600; ++x) {
            const int noise = int(random.bounded(24));
            row[x] = qRgb((x / 7 + noise) & 0xFF, (y / 5 + noise) & 0xFF, ((x + y) / 11) & 0xFF);
        }
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

// The real clipboard, except that every look at the counter reports a change, so each
// poll of the manager goes on to a capture.
class EverChangingClipboard : public ClipboardIO {
public:
    explicit EverChangingClipboard(ClipboardIO& real)
        : real_(real) {}
    quint64 changeCount() const override { return ++count_; }
    ClipboardReading readContent() override { return real_.readContent(); }
    Status<ClipboardError> writeContent(const ClipboardContent& content) override {
        return real_.writeContent(content);
    }

private:
    ClipboardIO& real_;
    mutable quint64 count_ = 0;
};

QtClipboardIO* io = nullptr;
qint64 pngSize = 0;

void BM_ReadScreenshot(benchmark::State& state) {
    for (auto _ : state) {
        ClipboardReading reading = io->readContent();
        if (!reading.content.imagePNG || reading.content.imagePNG->size() != pngSize) {
            state.SkipWithError("the screenshot did not read back");
            return;
        }
        benchmark::DoNotOptimize(reading);
    }
    state.SetBytesProcessed(state.iterations() * pngSize);
}

// The entry with its fingerprint, as the manager makes it.
void BM_EntryAndFingerprint(benchmark::State& state) {
    const ClipboardContent content = io->readContent().content;
    for (auto _ : state) {
        ClipboardEntry entry = ClipboardConversions::entryFromContent(content, 1, 2);
        benchmark::DoNotOptimize(entry);
    }
}

// The manager's capture as far as it runs on the main thread: the poll, the read after
// the capture delay and handing the image over; with `inlined` background work also the
// entry and its fingerprint. Waiting for the entry to reach the history is not timed.
void managerCapture(benchmark::State& state, bool inlined) {
    EverChangingClipboard clipboard(*io);
    FakeClipboardTimers timers;
    ClipboardManager::BackgroundRunner runner;
    if (inlined) {
        runner = [](std::function<void()> job) {
            job();
        };
    }
    ClipboardManager manager(clipboard, timers, {}, runner);
    manager.start({}, {});
    timers.advance(100ms);
    if (!QTest::qWaitFor([&] { return manager.state().history.size() == 1; }, 10000)) {
        state.SkipWithError("nothing was captured");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        manager.clearHistory(); // the same screenshot counts as new again
        state.ResumeTiming();
        timers.advance(ClipboardManager::pollInterval);
        state.PauseTiming();
        if (!QTest::qWaitFor([&] { return manager.state().history.size() == 1; }, 10000)) {
            state.SkipWithError("nothing was captured");
            return;
        }
        state.ResumeTiming();
    }
}

void BM_ManagerCaptureMainThread(benchmark::State& state) {
    managerCapture(state, false);
}

void BM_ManagerCaptureAllOnMainThread(benchmark::State& state) {
    managerCapture(state, true);
}

} // namespace

BENCHMARK(BM_ReadScreenshot)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EntryAndFingerprint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManagerCaptureMainThread)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManagerCaptureAllOnMainThread)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QString whyNot;
    auto server = XvfbServer::start(&whyNot);
    if (!server) {
        std::fprintf(stderr, "clipboard capture benchmark: %s\n", qPrintable(whyNot));
        return 1;
    }
    qputenv("DISPLAY", server->display().toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    int result = 0;
    {
        QGuiApplication app(argc, argv);
        QtClipboardIO clipboard;
        io = &clipboard;
        const QByteArray png = screenshotPNG();
        pngSize = png.size();
        std::printf("screenshot: 3840x2160, %lld bytes of PNG\n", static_cast<long long>(pngSize));

        QProcess xclip;
        xclip.setStandardOutputFile(QProcess::nullDevice());
        xclip.start(QStringLiteral("xclip"),
                    {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                     QStringLiteral("clipboard"), QStringLiteral("-t"), QStringLiteral("image/png"),
                     QStringLiteral("-i")});
        xclip.write(png);
        xclip.closeWriteChannel();
        if (!xclip.waitForStarted(5000) ||
            !QTest::qWaitFor([] { return io->changeCount() != 0; }, 10000)) {
            std::fprintf(stderr, "xclip did not take the clipboard\n");
            return 1;
        }
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        xclip.kill();
        xclip.waitForFinished(5000);
        io = nullptr;
    }
    return result;
}
