// The TRANS sender pushing a file to the simulated device over a pseudo-terminal, with
// the production pacing. The protocol is stop-and-wait with a 150 ms pause before every
// frame, so its ceiling is one 10240-byte chunk per (150 ms + round trip): about 68 kB/s.
// Reports the throughput reached, the time per frame (pause plus round trip) and the
// share of the ceiling that the pacing leaves to the round trip.

#include "protocol/TransWire.h"
#include "support/ClientLink.h"
#include "support/DevsimProcess.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace orvane;

namespace {

constexpr double pauseSeconds = 0.150;
constexpr double chunkBytes = 10240;

void BM_SendFileToDevice(benchmark::State& state) {
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    DevsimProcess device({"--interval", "1000"});
    if (!device.waitFor("plugged")) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    ClientLink client(device.link);
    if (!client.open()) {
        state.SkipWithError("cannot open the simulator's link");
        return;
    }
    const qsizetype size = state.range(0);
    const SendJob job{TransWire::dataTypeFile, QByteArray(size, 'x'), QStringLiteral("bench.bin")};
    const int chunks = int((size + qsizetype(chunkBytes) - 1) / qsizetype(chunkBytes));

    // START_REQUEST, DEVICE_QUERY, FIRST_PACKET, the chunks and FINISH_PACKET, each
    // paced by the pause and answered before the next.
    const int frames = chunks + 4;
    double seconds = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        if (!client.send(job)) {
            state.SkipWithError("the send failed");
            return;
        }
        seconds += double(clock.nsecsElapsed()) / 1e9;
    }
    const double perFrame = seconds / double(state.iterations()) / frames;
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["ms_per_frame"] = perFrame * 1000;
    state.counters["round_trip_ms"] = (perFrame - pauseSeconds) * 1000;
    state.counters["ceiling_kB/s"] = chunkBytes / pauseSeconds / 1000;
    state.counters["share_of_ceiling"] = pauseSeconds / perFrame;
}
BENCHMARK(BM_SendFileToDevice)
    ->Arg(200 * 1024)
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
