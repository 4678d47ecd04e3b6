// Notification reassembly in BluetoothService: a stream of frames arriving in 20-byte
// (the default ATT MTU) and 244-byte (the largest LE data length) notifications, through
// the core's receive path into whole frames. The fastest BLE links carry about 200 kB/s;
// the target is 50 times that, 10 MB/s.

#include "bluetooth/BLEUUIDs.h"
#include "bluetooth/BluetoothService.h"
#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"

#include <QCoreApplication>

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstddef>

// Counts every allocation of the process, Qt's included, to show what the receive path
// allocates per notification.
extern "C" void* __libc_malloc(std::size_t size);
namespace {
std::atomic<long long> allocations{0};
}
extern "C" void* malloc(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

using namespace orvane;

namespace {

// A central that is always ready and does nothing.
class IdleCentral final : public BluetoothCentral {
public:
    void setDelegate(Delegate*) override {}
    State state() const override { return State::poweredOn; }
    std::optional<QString> canonicalIdentifier(const QString& text) const override { return text; }
    void scanForPeripherals() override {}
    void stopScan() override {}
    bool isKnownPeripheral(const QString&) override { return true; }
    QStringList connectedPeripherals(const QStringList&) override { return {}; }
    bool isPeripheralConnected(const QString&) override { return false; }
    void connectPeripheral(const QString&) override {}
    void cancelPeripheralConnection(const QString&) override {}
    void discoverServices(const QString&, const QStringList&) override {}
    void discoverCharacteristics(const QString&, const QString&, const QStringList&) override {}
    void setNotifyValue(const QString&, const Characteristic&, bool) override {}
    int maximumWriteLength(const QString&, const Characteristic&) override { return 20; }
    void writeWithoutResponse(const QString&, const Characteristic&, QByteArrayView) override {}
};

void reassembly(benchmark::State& state) {
    const int notificationSize = int(state.range(0));
    const int payloadSize = int(state.range(1));
    int argc = 0;
    static QCoreApplication* app = new QCoreApplication(argc, nullptr); // main-thread checks
    Q_UNUSED(app);

    const QString id = QStringLiteral("AA:BB:CC:DD:EE:FF");
    const QString service = BLEUUIDs::canonical(BluetoothService::nordicServiceUUID);
    const QString rx = BLEUUIDs::canonical(BluetoothService::nordicRXCharacteristicUUID);
    const QString tx = BLEUUIDs::canonical(BluetoothService::nordicTXCharacteristicUUID);
    BluetoothService ble(std::make_unique<IdleCentral>(), {});
    qint64 frames = 0;
    ble.connect(id, [&frames](const QByteArray&) { ++frames; });
    ble.didConnect(id, QString());
    ble.didDiscoverCharacteristics(id, service, {rx, tx});

    // 64 frames cut into notifications once, outside the timed loop, as the stack hands
    // them over ready-made.
    QByteArray stream;
    for (quint32 sn = 0; sn < 64; ++sn) {
        stream += ProtocolWire::buildPacket(0x06, FrameType::MIDDLE_PACKET, sn,
                                            QByteArray(payloadSize, char('a' + sn % 26)));
    }
    QList<QByteArray> notifications;
    for (qsizetype at = 0; at < stream.size(); at += notificationSize) {
        notifications.append(stream.mid(at, notificationSize));
    }
    const BluetoothCentral::Characteristic notify{service, tx};
    const long long allocationsBefore = allocations.load();
    for (auto _ : state) {
        for (const QByteArray& notification : notifications) {
            ble.didUpdateValue(id, notify, notification);
        }
    }
    const double allocated = double(allocations.load() - allocationsBefore);
    if (frames != qint64(state.iterations()) * 64) {
        state.SkipWithError("frames were lost");
    }
    state.SetBytesProcessed(qint64(state.iterations()) * stream.size());
    state.counters["frames/s"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    // One allocation per frame is the frame handed over; anything beyond that would be per
    // notification.
    state.counters["allocs/frame"] = allocated / double(frames);
    state.counters["notifications/s"] = benchmark::Counter(
        double(state.iterations()) * double(notifications.size()), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(reassembly)->ArgNames({"notification", "payload"})->ArgsProduct({{20, 244}, {32, 4096}});
