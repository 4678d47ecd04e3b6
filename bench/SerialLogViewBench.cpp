// The serial log under a flood: 100,000 lines reach the log view through the real store
// in the batches the serial service hands over, each followed by the event-loop passes
// that put it in, lay out and paint the view, as on the main thread. Reports the longest
// pass and the 99th percentile (target: none over 16 ms), the longest batch in all its
// passes, and the memory the view and the store hold for the 100,000 lines (target for
// the view: under 64 MB). Offscreen platform.

#include "serial/SerialLogEntry.h"
#include "serial/SerialLogStore.h"
#include "ui/SerialLogTextView.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <benchmark/benchmark.h>
#include <ctime>
#include <malloc.h>

using namespace orvane;

namespace {

constexpr int totalLines = 100000;

// Heap in use (small blocks and mmap'd ones): unlike the resident size, it falls when
// memory is freed, so the runs do not hide each other's growth.
double heapMiB() {
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / 1048576.0;
}

// Main-thread CPU time: on a shared machine the wall clock also counts other processes.
double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double percentile(QList<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[qsizetype(double(values.size() - 1) * p)];
}

// What a received frame looks like in the log: a summary line and its hex row.
SerialLogEntry frameEntry(int n) {
    return SerialLogEntry::make(
        QStringLiteral("RX"), QStringLiteral("PERIPHERAL_ECHO · sn=%1 · 24 B").arg(n % 65536),
        {QStringLiteral("AA 55 01 %1 00 0C 48 41 4C 56 45 58 2D 50 52 4F 42 45 00 00 1F 3C")
             .arg(n % 256, 2, 16, QLatin1Char('0'))});
}

// Lines per batch: 2 is a probe and its reply appended one by one, 40 a busy read of the
// port, 2000 what piles up over one 500 ms batching interval when every line waits.
void BM_LogViewFlood(benchmark::State& state) {
    const int linesPerBatch = int(state.range(0));
    const int maximumLines = int(state.range(1));
    const int entriesPerBatch = linesPerBatch / 2;
    for (auto _ : state) {
        SerialLogStore store;
        SerialLogTextView view;
        view.setMaximumLines(maximumLines);
        view.resize(584, 240);
        view.show();
        QObject::connect(&store, &SerialLogStore::delta, &view, &SerialLogTextView::appendDelta);
        QCoreApplication::processEvents();

        QList<QList<SerialLogEntry>> batches;
        for (int n = 0; n < totalLines / 2; n += entriesPerBatch) {
            QList<SerialLogEntry> batch;
            for (int i = n; i < std::min(n + entriesPerBatch, totalLines / 2); ++i) {
                batch.append(frameEntry(i));
            }
            batches.append(batch);
        }
        const double heapBefore = heapMiB();
        QList<double> wallMs;
        QList<double> cpuMs;
        wallMs.reserve(batches.size());
        cpuMs.reserve(batches.size());
        QList<double> batchTotalMs;
        QElapsedTimer timer;
        for (const auto& batch : batches) {
            double total = 0;
            double cpuStart = threadCpuMs();
            timer.start();
            // Handed over from within the event loop, as the service's batch timer does.
            QMetaObject::invokeMethod(
                &store, [&store, &batch] { store.append(batch); }, Qt::QueuedConnection);
            QCoreApplication::processEvents();
            // A burst larger than the view's slice goes in over further passes of the loop;
            // each pass is one stretch in which the window cannot answer.
            for (;;) {
                const double passMs = double(timer.nsecsElapsed()) / 1e6;
                wallMs.append(passMs);
                cpuMs.append(threadCpuMs() - cpuStart);
                total += passMs;
                if (!view.hasPendingLines()) {
                    break;
                }
                cpuStart = threadCpuMs();
                timer.start();
                QCoreApplication::processEvents();
            }
            batchTotalMs.append(total);
        }
        const double heapAfter = heapMiB();
        state.counters["batches"] = double(batchTotalMs.size());
        state.counters["passes"] = double(wallMs.size());
        state.counters["batch_total_max_ms"] = percentile(batchTotalMs, 1.0);
        state.counters["wall_max_ms"] = percentile(wallMs, 1.0);
        state.counters["wall_p99_ms"] = percentile(wallMs, 0.99);
        state.counters["cpu_max_ms"] = percentile(cpuMs, 1.0);
        // Which pass was the slowest (the first pays for fonts and glyph caches).
        state.counters["cpu_max_at"] =
            double(std::max_element(cpuMs.begin(), cpuMs.end()) - cpuMs.begin());
        state.counters["cpu_p99_ms"] = percentile(cpuMs, 0.99);
        state.counters["cpu_median_ms"] = percentile(cpuMs, 0.5);
        state.counters["cpu_over16"] =
            double(std::count_if(cpuMs.begin(), cpuMs.end(), [](double ms) { return ms > 16; }));
        state.counters["wall_over16"] =
            double(std::count_if(wallMs.begin(), wallMs.end(), [](double ms) { return ms > 16; }));
        state.counters["viewLines"] = double(view.document()->blockCount());
        state.counters["storeAndView_MiB"] = heapAfter - heapBefore;
        state.counters["storeText_MiB"] =
            double(store.plainText().size()) * sizeof(QChar) / 1048576.0;
    }
}
BENCHMARK(BM_LogViewFlood)
    ->ArgNames({"lines", "max"})
    ->Args({2, SerialLogTextView::defaultMaximumLines})
    ->Args({40, SerialLogTextView::defaultMaximumLines})
    ->Args({400, SerialLogTextView::defaultMaximumLines})
    ->Args({2000, SerialLogTextView::defaultMaximumLines})
    ->Args({40, 0})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The view alone: its memory for 100,000 lines, fed in 40-line deltas.
void BM_LogViewMemory(benchmark::State& state) {
    const int maximumLines = int(state.range(0));
    for (auto _ : state) {
        QStringList deltas;
        for (int n = 0; n < totalLines / 2; n += 20) {
            QString delta;
            for (int i = n; i < n + 20; ++i) {
                delta += frameEntry(i).rendered();
            }
            deltas.append(delta);
        }
        const double heapBefore = heapMiB();
        {
            SerialLogTextView view;
            view.setMaximumLines(maximumLines);
            view.resize(584, 240);
            view.show();
            for (const QString& delta : deltas) {
                view.appendDelta(delta);
                QCoreApplication::processEvents();
            }
            state.counters["view_MiB"] = heapMiB() - heapBefore;
            state.counters["viewLines"] = double(view.document()->blockCount());
        }
    }
}
BENCHMARK(BM_LogViewMemory)
    ->ArgName("max")
    ->Arg(SerialLogTextView::defaultMaximumLines)
    ->Arg(0)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The store alone: what it keeps for 100,000 lines (50,000 entries of two lines), and that
// it stays bounded far beyond its limit, where each overflow drops a tenth of it.
void BM_LogStoreMemory(benchmark::State& state) {
    const int entryCount = int(state.range(0));
    for (auto _ : state) {
        const double heapBefore = heapMiB();
        double maxMs = 0;
        {
            SerialLogStore store;
            for (int n = 0; n < entryCount; n += 20) {
                QList<SerialLogEntry> batch;
                for (int i = n; i < n + 20; ++i) {
                    batch.append(frameEntry(i));
                }
                const double cpuStart = threadCpuMs();
                store.append(batch);
                maxMs = std::max(maxMs, threadCpuMs() - cpuStart);
            }
            state.counters["store_MiB"] = heapMiB() - heapBefore;
            state.counters["entries"] = double(store.entries().size());
            state.counters["cpu_max_append_ms"] = maxMs;
        }
    }
}
BENCHMARK(BM_LogStoreMemory)
    ->ArgName("entries")
    ->Arg(50000)
    ->Arg(250000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
