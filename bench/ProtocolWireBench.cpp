// Throughput of the frame checksum and of frame extraction driven the way the
// serial session drains its receive buffer.

#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace orvane;
namespace PW = orvane::ProtocolWire;

namespace {

QByteArray randomBytes(qsizetype n, quint32 seed = 1) {
    QRandomGenerator rng(seed);
    QByteArray out(n, Qt::Uninitialized);
    auto* words = reinterpret_cast<quint32*>(out.data());
    rng.fillRange(words, n / 4);
    return out;
}

void BM_McAddCRC(benchmark::State& state) {
    const QByteArray data = randomBytes(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(PW::mcAddCRC(data));
    }
    state.SetBytesProcessed(state.iterations() * data.size());
}
BENCHMARK(BM_McAddCRC)->Arg(64 << 10)->Arg(50 << 20)->Unit(benchmark::kMicrosecond);

void BM_McAddCRCFile(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath("payload.bin");
    const qsizetype size = 50 << 20;
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(randomBytes(size)) != size) {
            state.SkipWithError("cannot write the test file");
            return;
        }
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(PW::mcAddCRC(path, size).value());
    }
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_McAddCRCFile)->Unit(benchmark::kMillisecond);

// The serial session's drain: drop bytes before the first sync pair, extract while
// frames come out and the buffer shrinks, at most 4096 passes.
int drainLikeSession(QByteArray& rx, QList<QByteArray>& frames, QList<FrameIssue>& issues) {
    static const QByteArray sync = QByteArray::fromHex("57AB");
    for (int pass = 0; pass < 4096; ++pass) {
        const qsizetype at = rx.indexOf(sync);
        if (at < 0) {
            if (rx.size() >= 2) {
                rx = quint8(rx.back()) == 0x57 ? rx.last(1) : QByteArray();
            }
            break;
        }
        rx.remove(0, at);
        const qsizetype before = rx.size();
        auto frame = PW::extractFrame(rx, issues);
        if (!frame) {
            break;
        }
        frames.append(std::move(*frame));
        if (rx.size() >= before) {
            break;
        }
    }
    return int(frames.size());
}

QByteArray frameWithPayload(quint32 sn, qsizetype payload) {
    return PW::buildPacket(FrameChannel::trans, FrameType::MIDDLE_PACKET, sn,
                           randomBytes(payload, sn + 1));
}

void runDrain(benchmark::State& state, const QByteArray& burst, int expectedFrames) {
    qint64 frames = 0;
    for (auto _ : state) {
        QByteArray rx = burst;
        QList<QByteArray> out;
        QList<FrameIssue> issues;
        const int got = drainLikeSession(rx, out, issues);
        if (got != expectedFrames) {
            state.SkipWithError("unexpected frame count");
            return;
        }
        frames += got;
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * burst.size());
    state.counters["frames/s"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}

void BM_ExtractMaxFrames(benchmark::State& state) {
    // Eight maximum-size frames (65557 bytes each) arriving as one burst.
    QByteArray burst;
    for (int i = 0; i < 8; ++i) {
        burst.append(frameWithPayload(quint32(i), PW::maxPayloadLength));
    }
    runDrain(state, burst, 8);
}
BENCHMARK(BM_ExtractMaxFrames)->Unit(benchmark::kMicrosecond);

void BM_ExtractSmallFrames(benchmark::State& state) {
    // A 64 KiB burst of 27-byte frames (6-byte payloads), as an ECHO flood looks.
    QByteArray burst;
    int count = 0;
    while (burst.size() + 27 <= (64 << 10)) {
        burst.append(frameWithPayload(quint32(count++), 6));
    }
    runDrain(state, burst, count);
}
BENCHMARK(BM_ExtractSmallFrames)->Unit(benchmark::kMicrosecond);

void BM_ExtractFramesBetweenNoise(benchmark::State& state) {
    // 64 KiB of 200-byte frames, each preceded by 40 bytes of noise holding stray 0x57s.
    QByteArray noise = randomBytes(40, 99);
    noise[5] = char(0x57);
    noise[20] = char(0x57);
    noise.replace(char(0xAB), char(0xAC));
    QByteArray burst;
    int count = 0;
    while (burst.size() + 40 + 221 <= (64 << 10)) {
        burst.append(noise);
        burst.append(frameWithPayload(quint32(count++), 200));
    }
    runDrain(state, burst, count);
}
BENCHMARK(BM_ExtractFramesBetweenNoise)->Unit(benchmark::kMicrosecond);

} // namespace
