// The whole client against a device over a pseudo-terminal.
//
// BM_PushCliAgainstBareResponder: the simulated device pushes a 4 MiB file in 65000-byte
// chunks, in each round to `orvane-cli listen` (which checks and stores every chunk)
// and right after to a responder that acknowledges every TRANS frame at once and
// stores nothing. The second is the bound the link itself sets; the client should reach
// at least 80% of it. Times are the device's own (push_start to push_done); the counters
// give the medians and the spread of the per-round ratio.
//
// BM_ProbeRoundTrip: a PERIPHERAL_ECHO written on the device side of a pseudo-terminal
// until its echo is back, through the headless client's serial service (serial read,
// protocol queue, reply write). Reports p50 and p99 over 1000 probes.

#include "LinkBenchSupport.h"
#include "apps/orvane-cli/HeadlessClient.h"
#include "common/Result.h"
#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "protocol/TransWire.h"
#include "support/DevsimProcess.h"
#include "support/TestData.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace orvane;
using namespace orvane::bench;

namespace {

// One push of `file` by the simulator; the device-side time in milliseconds (push_start
// to push_done), or the reason it failed.
Result<double, QString> timePush(DevsimProcess& device, const QString& file) {
    device.command(QStringLiteral("file ") + file);
    const auto done = device.waitFor(QStringLiteral("push_done"), {}, pushWaitMs);
    if (!done || !done->value(QStringLiteral("ok")).toBool()) {
        return fail(done ? done->value(QStringLiteral("reason")).toString()
                         : QStringLiteral("no push_done"));
    }
    return double(done->value(QStringLiteral("elapsedUs")).toInteger()) / 1000.0;
}

// The second of two pushes: the first warms up whoever holds the link (a fresh process
// pays for its first file, folder and history row). They are a moment apart, as items
// pushed by a user are, so that the second does not run into the first one's
// after-work (its history row, its file's way to the disk).
Result<double, QString> timeWarmPush(DevsimProcess& device, PushSetup& setup) {
    if (auto first = timePush(device, setup.nextName()); !first) {
        return first;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return timePush(device, setup.nextName());
}

// Waits for a probe answered by whoever holds the link now, not one already reported.
bool waitForAnsweredProbe(DevsimProcess& device) {
    device.skipPending();
    return device.waitFor(QStringLiteral("probe_matched"), {}, 15000).has_value();
}

// `orvane-cli listen` on the simulator's link, with its own data directory, for as long
// as this object lives.
class CliListener {
public:
    CliListener(const QString& link, const QString& dataHome) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        process_.setProcessEnvironment(env);
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start(QStringLiteral(ORVANE_CLI_PATH), {QStringLiteral("listen"), link});
    }
    ~CliListener() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }

private:
    QProcess process_;
};

// Each round times a push to orvane-cli and one to the bare responder, one after the
// other on the same simulator, so that both sides of a pair meet the same machine; the
// ratio of each pair is what the client reaches of the bound the link sets.
void BM_PushCliAgainstBareResponder(benchmark::State& state) {
    PushSetup setup;
    DevsimProcess device({QStringLiteral("--interval"), QStringLiteral("200"),
                          QStringLiteral("--chunk-size"), QStringLiteral("65000")});
    if (!device.waitFor(QStringLiteral("plugged"))) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    const QString dataHome = setup.dir.filePath(QStringLiteral("data"));
    std::vector<double> cliMs;
    std::vector<double> bareMs;
    std::vector<double> ratios;
    for (auto _ : state) {
        Result<double, QString> cli = fail(QStringLiteral("orvane-cli did not answer probes"));
        {
            CliListener listener(device.link, dataHome);
            if (waitForAnsweredProbe(device)) {
                cli = timeWarmPush(device, setup);
            }
        }
        Result<double, QString> bare = fail(QStringLiteral("the responder did not answer"));
        {
            BareResponder responder(device.link);
            if (responder.isRunning() && waitForAnsweredProbe(device)) {
                bare = timeWarmPush(device, setup);
            }
        }
        if (!cli || !bare) {
            state.SkipWithError(
                qPrintable(QStringLiteral("push failed: ") + (cli ? bare.error() : cli.error())));
            return;
        }
        cliMs.push_back(cli.value());
        bareMs.push_back(bare.value());
        ratios.push_back(bare.value() / cli.value());
        state.SetIterationTime((cli.value() + bare.value()) / 1000.0);
    }
    state.counters["cli_ms"] = median(cliMs);
    state.counters["bare_ms"] = median(bareMs);
    state.counters["cli_MBps"] = double(pushBytes) / 1e3 / median(cliMs);
    state.counters["bare_MBps"] = double(pushBytes) / 1e3 / median(bareMs);
    state.counters["ratio_pct_median"] = 100.0 * median(ratios);
    state.counters["ratio_pct_min"] = 100.0 * *std::min_element(ratios.begin(), ratios.end());
    state.counters["ratio_pct_max"] = 100.0 * *std::max_element(ratios.begin(), ratios.end());
}
BENCHMARK(BM_PushCliAgainstBareResponder)
    ->Iterations(15)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// PERIPHERAL_ECHO payload: TLV type u16, length u32, value.
QByteArray probePayload() {
    const QByteArray value("bench\0", 6);
    QByteArray payload(6, '\0');
    payload[0] = char(FrameType::PERIPHERAL_ECHO & 0xFF);
    payload[1] = char(FrameType::PERIPHERAL_ECHO >> 8);
    TransWire::storeLEUInt32(payload, 2, quint32(value.size()));
    return payload + value;
}

// Serves the event loop until `done` holds or `timeoutMs` passes.
bool spinUntil(const std::function<bool()>& done, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents();
    }
    return done();
}

void BM_ProbeRoundTrip(benchmark::State& state) {
    application();
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 || !makeRaw(slave) ||
        !makeRaw(master) || ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const QString link = dir.filePath(QStringLiteral("kvm"));
    if (::symlink(::ttyname(slave), QFile::encodeName(link).constData()) != 0) {
        state.SkipWithError("cannot link the pseudo-terminal");
        ::close(master);
        ::close(slave);
        return;
    }
    {
        HeadlessClient client(link);
        client.start();
        if (!spinUntil([&] { return client.service().isConnected(); }, 15000)) {
            state.SkipWithError("the service did not connect");
        } else {
            // Probed from a thread of its own while the main thread serves the event loop,
            // as it would in the program.
            std::vector<double> samplesMs;
            std::atomic<bool> finished = false;
            std::atomic<bool> ok = true;
            const int samples = int(state.range(0));
            std::thread prober([&] {
                QByteArray buffer;
                for (int sn = 1; sn <= samples && ok; ++sn) {
                    const QByteArray probe = ProtocolWire::buildPacket(FrameChannel::peripheral,
                                                                       FrameType::PERIPHERAL_ECHO,
                                                                       quint32(sn), probePayload());
                    QElapsedTimer clock;
                    clock.start();
                    if (!writeAll(master, probe)) {
                        ok = false;
                        break;
                    }
                    const auto echo = readFrame(master, buffer, QDeadlineTimer(2000));
                    if (!echo || *echo != probe) {
                        ok = false;
                        break;
                    }
                    samplesMs.push_back(double(clock.nsecsElapsed()) / 1e6);
                }
                finished = true;
            });
            for (auto _ : state) {
                spinUntil([&] { return finished.load(); }, 60000);
            }
            prober.join();
            if (!ok || int(samplesMs.size()) != samples) {
                state.SkipWithError("a probe was not echoed back unchanged");
            } else {
                std::sort(samplesMs.begin(), samplesMs.end());
                state.counters["p50_ms"] = samplesMs[samplesMs.size() / 2];
                state.counters["p99_ms"] = samplesMs[samplesMs.size() * 99 / 100];
                state.counters["max_ms"] = samplesMs.back();
            }
        }
        client.stop();
        spinUntil([] { return false; }, 200);
    }
    ::unlink(QFile::encodeName(link).constData());
    ::close(master);
    ::close(slave);
}
BENCHMARK(BM_ProbeRoundTrip)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
