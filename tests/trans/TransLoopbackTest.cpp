// The sender against this system's own receiver, playing the device: every frame the sender
// writes crosses a link thread to a TransHandler, and the handler's replies come back
// through a SerialProtocolRouter that holds the sender weakly, as in the application.

#include "protocol/FrameType.h"
#include "protocol/PeripheralHandler.h"
#include "protocol/ProtocolWire.h"
#include "protocol/TransWire.h"
#include "storage/DataDirectoryFiles.h"
#include "storage/TemporaryDataHome.h"
#include "support/TestData.h"
#include "trans/SerialProtocolRouter.h"
#include "trans/TransHandler.h"
#include "trans/TransSender.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QRegularExpression>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

quint16 frameType(const QByteArray& frame) {
    const auto header = ProtocolWire::parseHeader(frame);
    return header ? header->type : 0xFFFF;
}

// A link with the device at the far end: frames written by the sender are queued and
// handled on the link's own thread, like bytes crossing a serial port.
class LoopbackLink {
public:
    // Hooks for faults, run on the link thread. `tamper` may change a frame on its way to
    // the device; `dropReply` loses a reply on its way back. Both see the frame's position
    // among the frames of its type (0 for the first MIDDLE_PACKET, ...).
    std::function<QByteArray(const QByteArray& frame, int indexOfType)> tamper;
    std::function<bool(const QByteArray& request, int indexOfType)> dropReply;

    LoopbackLink(TransHandler& device, const SerialProtocolRouter& clientRouter)
        : device_(device)
        , clientRouter_(clientRouter)
        , thread_([this](std::stop_token stop) { run(stop); }) {}

    ~LoopbackLink() {
        thread_.request_stop();
        thread_.join();
    }

    TransSender::FrameWriter writer() {
        return [this](const QByteArray& frame) -> Status<TransSender::WriteError> {
            {
                std::lock_guard guard(mutex_);
                queue_.push_back(frame);
            }
            ready_.notify_all();
            return Done{};
        };
    }

    QList<QByteArray> routedBack() const {
        std::lock_guard guard(mutex_);
        return unexpectedReplies_;
    }

private:
    void run(std::stop_token stop) {
        QMap<quint16, int> seen;
        for (;;) {
            QByteArray frame;
            {
                std::unique_lock guard(mutex_);
                if (!ready_.wait(guard, stop, [this] { return !queue_.empty(); })) {
                    return;
                }
                frame = queue_.front();
                queue_.pop_front();
            }
            const quint16 type = frameType(frame);
            const int index = seen[type]++;
            if (tamper) {
                frame = tamper(frame, index);
            }
            const QList<QByteArray> replies = device_.handleFrame(frame);
            if (dropReply && dropReply(frame, index)) {
                continue;
            }
            for (const QByteArray& reply : replies) {
                // While a send runs the router must hand every reply to it.
                const QList<QByteArray> back = clientRouter_.handle(reply);
                std::lock_guard guard(mutex_);
                unexpectedReplies_.append(back);
            }
        }
    }

    TransHandler& device_;
    const SerialProtocolRouter& clientRouter_;
    mutable std::mutex mutex_;
    std::condition_variable_any ready_;
    std::deque<QByteArray> queue_;
    QList<QByteArray> unexpectedReplies_;
    std::jthread thread_;
};

class TransLoopbackTest : public TemporaryDataHome {
protected:
    void SetUp() override {
        TemporaryDataHome::SetUp();
        const auto logTo = [this](const QString& prefix) {
            return [this, prefix](const QString& line) {
                std::lock_guard guard(logMutex);
                logs.append(prefix + line);
            };
        };
        device = std::make_shared<TransHandler>(
            logTo("DEV "), logTo("DEV WRN "),
            [this](const ClipboardEntry& entry) {
                std::lock_guard guard(logMutex);
                delivered.append(entry);
                return Status<QString>(Done{});
            },
            std::make_shared<DataDirectoryFiles>(DataDirectory::standard()));
        // The client's own receiver only answers the device's transfers; none happen here.
        clientReceiver = std::make_shared<TransHandler>(
            logTo("RCV "), logTo("RCV WRN "),
            [](const ClipboardEntry&) { return Status<QString>(Done{}); },
            std::make_shared<DataDirectoryFiles>(DataDirectory::standard()));
        sender = std::make_shared<TransSender>(logTo("SND "), TransSenderTimings{0ms, 1000ms});
        router = std::make_unique<SerialProtocolRouter>(
            clientReceiver, std::make_shared<PeripheralHandler>(logTo("PER ")), sender);
        link = std::make_unique<LoopbackLink>(*device, *router);
    }

    void TearDown() override {
        link.reset();
        TemporaryDataHome::TearDown();
    }

    Status<TransSender::SendError> send(const SendJob& job, std::stop_token stop = {}) {
        return sender->send(
            job, link->writer(), [this](int p) { progress.append(p); }, stop);
    }

    QList<ClipboardEntry> deliveredEntries() {
        std::lock_guard guard(logMutex);
        return delivered;
    }

    std::mutex logMutex;
    QStringList logs;
    QList<ClipboardEntry> delivered;
    QList<int> progress;
    std::shared_ptr<TransHandler> device;
    std::shared_ptr<TransHandler> clientReceiver;
    std::shared_ptr<TransSender> sender;
    std::unique_ptr<SerialProtocolRouter> router;
    std::unique_ptr<LoopbackLink> link;
};

QByteArray readAll(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

TEST_F(TransLoopbackTest, TextImageAndFileArriveAsSent) {
    const QString text = QStringLiteral("剪贴板 clipboard ") + QString(3000, QChar('x'));
    ASSERT_TRUE(send(SendJob{TransWire::dataTypeText, text.toUtf8(), {}}).ok());
    const QByteArray image = patternedBytes(104);
    ASSERT_TRUE(send(SendJob{TransWire::dataTypeImage, image, {}}).ok());
    const QByteArray file = patternedBytes(3 * 10240 + 17);
    ASSERT_TRUE(send(SendJob{TransWire::dataTypeFile, file, QStringLiteral("report.pdf")}).ok());

    const QList<ClipboardEntry> entries = deliveredEntries();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0].kind, ClipboardKind::text);
    EXPECT_EQ(entries[0].text, text);
    EXPECT_EQ(entries[1].kind, ClipboardKind::image);
    ASSERT_TRUE(entries[1].imagePath.has_value());
    EXPECT_EQ(readAll(*entries[1].imagePath), image);
    EXPECT_EQ(entries[2].kind, ClipboardKind::files);
    ASSERT_EQ(entries[2].files.size(), 1);
    EXPECT_EQ(QFileInfo(entries[2].files[0]).fileName(), "report.pdf");
    EXPECT_EQ(readAll(entries[2].files[0]), file);

    EXPECT_TRUE(link->routedBack().isEmpty());
    EXPECT_TRUE(logs.filter("timeout").isEmpty());
    EXPECT_TRUE(logs.filter(" WRN ").isEmpty()) << logs.join('\n').toStdString();
}

TEST_F(TransLoopbackTest, DamagedChunkAndLostReplyAreRepairedByResends) {
    const QByteArray file = patternedBytes(4 * 10240 + 100);
    // Chunk two arrives with one byte changed under a valid frame: the device finds the
    // chunk checksum wrong and answers with a failure.
    link->tamper = [](const QByteArray& frame, int index) {
        if (frameType(frame) != FrameType::MIDDLE_PACKET || index != 1) {
            return frame;
        }
        const auto decoded = ProtocolWire::validateFrameDetailed(frame);
        QByteArray payload = decoded->payload;
        payload[TransWire::middleHeadLength + 500] =
            char(payload[TransWire::middleHeadLength + 500] ^ 0x40);
        return ProtocolWire::buildPacket(decoded->header.channel, decoded->header.type,
                                         decoded->header.sn, payload);
    };
    // The acknowledgement of chunk four is lost after the device stored it.
    link->dropReply = [](const QByteArray& request, int index) {
        return frameType(request) == FrameType::MIDDLE_PACKET && index == 4;
    };

    ASSERT_TRUE(send(SendJob{TransWire::dataTypeFile, file, QStringLiteral("data.bin")}).ok());

    const QList<ClipboardEntry> entries = deliveredEntries();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(readAll(entries[0].files[0]), file);
    // The damaged chunk was refused once and sent again, the lost reply cost one silent wait.
    EXPECT_EQ(logs.filter(QRegularExpression("^DEV WRN MIDDLE_PACKET pkg_crc")).size(), 1)
        << logs.join('\n').toStdString();
    EXPECT_EQ(logs.filter("SND TRANS TX MIDDLE_PACKET payload=10253 sn=3").size(), 2);
    EXPECT_EQ(logs.filter("SND TRANS timeout state=data").size(), 1);
    EXPECT_EQ(progress.last(), 100);
    EXPECT_TRUE(link->routedBack().isEmpty());
}

TEST_F(TransLoopbackTest, CancelledSendLeavesTheDeviceReadyForTheNextOne) {
    const QByteArray first = patternedBytes(5 * 10240);
    std::stop_source stopSource;
    link->tamper = [&](const QByteArray& frame, int index) {
        if (frameType(frame) == FrameType::MIDDLE_PACKET && index == 2) {
            stopSource.request_stop();
        }
        return frame;
    };
    const auto cancelled =
        send(SendJob{TransWire::dataTypeFile, first, QStringLiteral("first.bin")},
             stopSource.get_token());
    ASSERT_FALSE(cancelled.ok());
    EXPECT_TRUE(std::holds_alternative<SendCancelled>(cancelled.error()));
    EXPECT_TRUE(deliveredEntries().isEmpty());
    link->tamper = nullptr;

    // With no send running, TRANS frames reach the client's own receiver again.
    const QList<QByteArray> direct = router->handle(
        ProtocolWire::buildPacket(FrameChannel::trans, FrameType::DEVICE_QUERY, 7, QByteArray()));
    ASSERT_EQ(direct.size(), 1);
    EXPECT_EQ(frameType(direct[0]), FrameType::DEVICE_QUERY_RSP);

    const QByteArray second = patternedBytes(2 * 10240 + 1);
    ASSERT_TRUE(send(SendJob{TransWire::dataTypeFile, second, QStringLiteral("second.bin")}).ok());
    const QList<ClipboardEntry> entries = deliveredEntries();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(QFileInfo(entries[0].files[0]).fileName(), "second.bin");
    EXPECT_EQ(readAll(entries[0].files[0]), second);
}

} // namespace
