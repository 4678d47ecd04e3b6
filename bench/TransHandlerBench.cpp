// Receiver throughput on MIDDLE_PACKETs built in memory (memory and file storage), the
// end-of-transfer checksum of a 50 MiB file, and the peak resident memory while a 200 MiB
// file streams to disk. Run the peak-memory case on its own, since the figure is the
// process's high-water mark:
//   orvane_bench_trans --benchmark_filter=PeakRSS

#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "protocol/TransWire.h"
#include "storage/DataDirectoryFiles.h"
#include "trans/TransHandler.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

using namespace orvane;
namespace PW = orvane::ProtocolWire;
namespace TW = orvane::TransWire;

namespace {

constexpr qsizetype kChunk = 10240; // what this system's own DEVICE_QUERY_RSP allows

QByteArray randomBytes(qsizetype n, quint32 seed = 1) {
    QRandomGenerator rng(seed);
    QByteArray out(n, '\0');
    rng.fillRange(reinterpret_cast<quint32*>(out.data()), n / 4);
    return out;
}

// A private data directory for the files the receiver writes.
struct DataHome {
    QTemporaryDir dir;
    DataHome() { qputenv("XDG_DATA_HOME", dir.path().toLocal8Bit()); }
};

std::unique_ptr<TransHandler> makeHandler() {
    return std::make_unique<TransHandler>(
        [](const QString&) {}, [](const QString&) {},
        [](const ClipboardEntry&) -> Status<QString> { return Done{}; },
        std::make_shared<DataDirectoryFiles>(DataDirectory::standard()));
}

QByteArray firstPacket(quint16 dataType, qint64 size, quint32 checksum, const QString& name) {
    QByteArray header = TW::buildTransHeader(dataType, {}, name);
    TW::storeLEUInt32(header, 40, quint32(size + TW::transHeaderLength));
    TW::storeLEUInt32(header, 44, checksum);
    TW::storeLEUInt32(header, 48, PW::mcAddCRC(QByteArrayView(header).first(48)));
    return PW::buildPacket(FrameChannel::trans, FrameType::FIRST_PACKET, 1,
                           TW::buildFirstTransReqPayload(header));
}

QList<QByteArray> middlePackets(const QByteArray& payload) {
    QList<QByteArray> frames;
    quint32 sn = 2;
    for (qsizetype at = 0; at < payload.size(); at += kChunk) {
        const QByteArray chunk = payload.mid(at, kChunk);
        frames.append(PW::buildPacket(
            FrameChannel::trans, FrameType::MIDDLE_PACKET, sn++,
            TW::buildTransMiddlePayload(chunk, quint32(at), quint32(at + chunk.size() - 1), true)));
    }
    return frames;
}

bool accepted(const QList<QByteArray>& replies) {
    return replies.size() == 1 && replies[0].size() == 23 && replies[0][17] == '\0';
}

void receiveAll(benchmark::State& state, quint16 dataType, qsizetype size) {
    DataHome home;
    const QByteArray payload = randomBytes(size);
    const QList<QByteArray> frames = middlePackets(payload);
    auto handler = makeHandler();
    if (!accepted(handler->handleFrame(
            firstPacket(dataType, size, PW::mcAddCRC(payload), QStringLiteral("bench.bin"))))) {
        state.SkipWithError("FIRST_PACKET refused");
        return;
    }
    for (auto _ : state) {
        for (const QByteArray& frame : frames) {
            benchmark::DoNotOptimize(handler->handleFrame(frame));
        }
    }
    state.SetBytesProcessed(state.iterations() * size);
}

void BM_ReceiveMiddleMemory(benchmark::State& state) {
    receiveAll(state, TW::dataTypeImage, 10 << 20);
}
BENCHMARK(BM_ReceiveMiddleMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReceiveMiddleFile(benchmark::State& state) {
    receiveAll(state, TW::dataTypeFile, 50 << 20);
}
BENCHMARK(BM_ReceiveMiddleFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The checksum pass over a received 50 MiB file, flush included. The chunks arrive last
// to first, so the checksum cannot be kept up on the way and the file is read back.
void BM_PayloadChecksumFile50MiB(benchmark::State& state) {
    DataHome home;
    const qsizetype size = 50 << 20;
    const QByteArray payload = randomBytes(size);
    auto handler = makeHandler();
    handler->handleFrame(firstPacket(TW::dataTypeFile, size, PW::mcAddCRC(payload), "sum.bin"));
    const QList<QByteArray> frames = middlePackets(payload);
    for (auto frame = frames.crbegin(); frame != frames.crend(); ++frame) {
        handler->handleFrame(*frame);
    }
    const ReceiveSession session = handler->session();
    for (auto _ : state) {
        auto sum = TransHandler::payloadChecksum(session);
        if (!sum || *sum != PW::mcAddCRC(payload)) {
            state.SkipWithError("checksum failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_PayloadChecksumFile50MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole FINISH_PACKET of a 50 MiB file received in order: flush, checksum (kept up
// while the chunks arrived), delivery, reply.
void BM_FinishPacketFile50MiB(benchmark::State& state) {
    DataHome home;
    const qsizetype size = 50 << 20;
    const QByteArray payload = randomBytes(size);
    const QList<QByteArray> frames = middlePackets(payload);
    const QByteArray first = firstPacket(TW::dataTypeFile, size, PW::mcAddCRC(payload), "fin.bin");
    const QByteArray finish = PW::buildPacket(FrameChannel::trans, FrameType::FINISH_PACKET, 9, {});
    auto handler = makeHandler();
    for (auto _ : state) {
        state.PauseTiming();
        handler->handleFrame(first);
        for (const QByteArray& frame : frames) {
            handler->handleFrame(frame);
        }
        state.ResumeTiming();
        if (!accepted(handler->handleFrame(finish))) {
            state.SkipWithError("FINISH_PACKET refused");
            return;
        }
    }
}
BENCHMARK(BM_FinishPacketFile50MiB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// A 200 MiB file received chunk by chunk, each frame built just before it is handed over,
// as a serial link delivers them. Reports the process's peak resident set.
void BM_ReceiveFile200MiB_PeakRSS(benchmark::State& state) {
    DataHome home;
    const qint64 size = qint64(200) << 20;
    const QByteArray pattern = randomBytes(kChunk * 7);
    // The payload is the pattern repeated; its checksum is built up as the chunks go out.
    const auto chunkAt = [&](qint64 at) {
        const qsizetype n = qsizetype(std::min<qint64>(kChunk, size - at));
        return QByteArrayView(pattern).sliced(qsizetype((at / kChunk) % 7) * kChunk, n);
    };
    quint32 checksum = 0;
    for (qint64 at = 0; at < size; at += kChunk) {
        checksum = PW::mcAddCRCUpdate(checksum, chunkAt(at), quint64(at));
    }
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    for (auto _ : state) {
        auto handler = makeHandler();
        handler->handleFrame(firstPacket(TW::dataTypeFile, size, checksum, "large.bin"));
        quint32 sn = 2;
        for (qint64 at = 0; at < size; at += kChunk) {
            const QByteArrayView chunk = chunkAt(at);
            const QByteArray frame =
                PW::buildPacket(FrameChannel::trans, FrameType::MIDDLE_PACKET, sn++,
                                TW::buildTransMiddlePayload(chunk, quint32(at),
                                                            quint32(at + chunk.size() - 1), true));
            if (!accepted(handler->handleFrame(frame))) {
                state.SkipWithError("MIDDLE_PACKET refused");
                return;
            }
        }
        if (!accepted(handler->handleFrame(
                PW::buildPacket(FrameChannel::trans, FrameType::FINISH_PACKET, sn, {})))) {
            state.SkipWithError("FINISH_PACKET refused");
            return;
        }
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["peak_rss_MiB"] = double(after.ru_maxrss) / 1024.0;
    state.counters["rss_before_MiB"] = double(before.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_ReceiveFile200MiB_PeakRSS)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

} // namespace
