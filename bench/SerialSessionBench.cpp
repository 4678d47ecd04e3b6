// The serial session over a pseudo-terminal pair: what an idle open link costs, how long
// a frame takes from the device to the queue and a reply back, and how fast a stream of
// frames is taken in.

#include "platform/linux/PosixSerialPortIO.h"
#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "serial/PseudoTerminalPort.h"
#include "serial/SerialPortSession.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace orvane;
using namespace std::chrono_literals;
using orvane::testing::PseudoTerminalPort;
using Clock = std::chrono::steady_clock;

namespace {

SerialPortSession::Log quietLog() {
    return {[](const QString&) {},
            [](const QString&) {
            }};
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Signals the waiting benchmark thread whenever the session queued something.
struct PendingSignal {
    std::mutex mutex;
    std::condition_variable arrived;
    bool flag = false;

    void notify() {
        {
            std::lock_guard lock(mutex);
            flag = true;
        }
        arrived.notify_one();
    }
    bool wait(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex);
        const bool got = arrived.wait_for(lock, limit, [this] { return flag; });
        flag = false;
        return got;
    }
};

// A pseudo-terminal port with an open session on it; `error` says what went wrong.
struct OpenLink {
    PseudoTerminalPort port;
    std::optional<SerialPortSession> session;
    PendingSignal pending;
    const char* error = nullptr;

    OpenLink() {
        if (!port.plug()) {
            error = "no pseudo-terminal";
            return;
        }
        session.emplace(port.path(), 2000000, std::make_unique<PosixSerialPortIO>(), quietLog());
        session->setOnPendingData([this] { pending.notify(); });
        if (!session->open().ok()) {
            error = "open failed";
        }
    }
    ~OpenLink() {
        if (session) {
            session->close(true);
        }
    }
};

// CPU time of the whole process (only the session's threads run) across `seconds` of a
// silent line, as a percentage of one core.
void BM_IdleOpenSessionCpu(benchmark::State& state) {
    OpenLink link;
    if (link.error) {
        state.SkipWithError(link.error);
        return;
    }
    const auto seconds = std::chrono::seconds(state.range(0));
    double percent = 0;
    for (auto _ : state) {
        const double before = processCpuSeconds();
        const auto start = Clock::now();
        std::this_thread::sleep_for(seconds);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        percent = (processCpuSeconds() - before) / wall * 100.0;
    }
    state.counters["cpu_percent_of_core"] = percent;
}
BENCHMARK(BM_IdleOpenSessionCpu)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Device frame written on the master -> frame queued by the session -> reply written by the
// session -> reply read on the master.
void BM_FrameRoundTrip(benchmark::State& state) {
    OpenLink link;
    if (link.error) {
        state.SkipWithError(link.error);
        return;
    }
    auto& port = link.port;
    auto& session = *link.session;
    auto& pending = link.pending;
    const QByteArray probe =
        ProtocolWire::buildPacket(0x01, FrameType::PERIPHERAL_ECHO, 1, QByteArray(16, 'p'));
    std::vector<double> micros;
    for (auto _ : state) {
        const auto start = Clock::now();
        port.writeFromDevice(probe);
        QList<QByteArray> frames;
        while (frames.isEmpty() && pending.wait(1000ms)) {
            frames = session.takePendingData().frames;
        }
        if (frames.isEmpty()) {
            state.SkipWithError("frame not queued");
            break;
        }
        session.write(frames.front());
        if (port.readOnDevice(probe.size(), 1000ms).size() != probe.size()) {
            state.SkipWithError("reply not read");
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    if (!micros.empty()) {
        std::sort(micros.begin(), micros.end());
        state.counters["p50_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
        state.counters["max_us"] = micros.back();
    }
}
BENCHMARK(BM_FrameRoundTrip)->Iterations(2000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A stream of frames with `range(0)`-byte payloads written by the device as fast as the
// pseudo-terminal takes them, until every frame was queued.
void BM_BulkReceive(benchmark::State& state) {
    OpenLink link;
    if (link.error) {
        state.SkipWithError(link.error);
        return;
    }
    auto& port = link.port;
    auto& session = *link.session;
    auto& pending = link.pending;
    const QByteArray frame = ProtocolWire::buildPacket(0x06, FrameType::MIDDLE_PACKET, 1,
                                                       QByteArray(state.range(0), 'd'));
    constexpr int framesPerRound = 2048;
    QByteArray stream;
    for (int i = 0; i < framesPerRound; ++i) {
        stream += frame;
    }
    qint64 bytes = 0;
    for (auto _ : state) {
        std::thread device([&] { port.writeFromDevice(stream, 30000ms); });
        qsizetype received = 0;
        while (received < framesPerRound && pending.wait(2000ms)) {
            received += session.takePendingData().frames.size();
        }
        device.join();
        if (received != framesPerRound) {
            state.SkipWithError("frames lost");
            break;
        }
        bytes += stream.size();
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_BulkReceive)
    ->Arg(4096)
    ->Arg(65536)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
