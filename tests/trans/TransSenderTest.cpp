#include "trans/TransSender.h"

#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "protocol/TransWire.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <thread>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

struct Reply {
    quint16 type = FrameType::GENERAL_REPLY;
    quint32 sn = 0;
    QByteArray payload;
};

Reply ok(quint32 sn) {
    return {FrameType::GENERAL_REPLY, sn, QByteArray("\x00\x03", 2)};
}
Reply failure(quint32 sn, char status = 1) {
    return {FrameType::GENERAL_REPLY, sn, QByteArray(1, status) + '\x03'};
}

// Plays the device for the sender: every frame the sender writes is decoded and recorded,
// and the replies chosen for it are offered back through consumeFrame, the way the router
// would hand them over. By default it answers like a well-behaved device that echoes sn.
class ScriptedDevice {
public:
    explicit ScriptedDevice(std::shared_ptr<TransSender> sender)
        : sender_(std::move(sender)) {}

    // Replies for one received frame; `index` counts the frames received so far.
    std::function<QList<Reply>(const DecodedFrame& frame, int index)> script;
    quint32 bufferSize = 0x2840;
    QList<DecodedFrame> received;

    QList<Reply> standardReplies(const DecodedFrame& frame) const {
        if (frame.header.type == FrameType::DEVICE_QUERY) {
            QByteArray rsp(6, '\0');
            TransWire::storeLEUInt32(rsp, 0, bufferSize);
            return {Reply{FrameType::DEVICE_QUERY_RSP, frame.header.sn, rsp}};
        }
        return {ok(frame.header.sn)};
    }

    void deliver(const Reply& reply) {
        const QByteArray frame =
            ProtocolWire::buildPacket(FrameChannel::trans, reply.type, reply.sn, reply.payload);
        const auto decoded = ProtocolWire::validateFrameDetailed(frame);
        ASSERT_TRUE(decoded.ok());
        EXPECT_TRUE(sender_->consumeFrame(decoded->header, decoded->payload));
    }

    TransSender::FrameWriter writer() {
        return [this](const QByteArray& frame) -> Status<TransSender::WriteError> {
            const auto decoded = ProtocolWire::validateFrameDetailed(frame);
            EXPECT_TRUE(decoded.ok());
            if (!decoded.ok()) {
                return fail(TransSender::WriteError(QStringLiteral("bad frame")));
            }
            EXPECT_EQ(decoded->header.channel, FrameChannel::trans);
            const int index = int(received.size());
            received.append(decoded.value());
            const QList<Reply> replies =
                script ? script(decoded.value(), index) : standardReplies(decoded.value());
            for (const Reply& reply : replies) {
                deliver(reply);
            }
            return Done{};
        };
    }

    QList<quint16> types() const {
        QList<quint16> out;
        for (const DecodedFrame& f : received) {
            out.append(f.header.type);
        }
        return out;
    }
    QList<quint32> sns() const {
        QList<quint32> out;
        for (const DecodedFrame& f : received) {
            out.append(f.header.sn);
        }
        return out;
    }
    QList<DecodedFrame> ofType(quint16 type) const {
        QList<DecodedFrame> out;
        for (const DecodedFrame& f : received) {
            if (f.header.type == type) {
                out.append(f);
            }
        }
        return out;
    }

    // The payload reassembled from the MIDDLE_PACKETs, each checked against its indices
    // and checksum.
    QByteArray reassembled() const {
        QByteArray out;
        for (const DecodedFrame& f : ofType(FrameType::MIDDLE_PACKET)) {
            const auto head = TransWire::parseCommPacketHead(f.payload);
            EXPECT_TRUE(head.ok());
            EXPECT_EQ(head->flag, TransWire::middleFlagChecked);
            const MiddleChunk chunk = TransWire::splitMiddleChunk(f.payload, head->flag);
            EXPECT_TRUE(chunk.checksumOk());
            EXPECT_EQ(head->startIndex, quint32(out.size()));
            EXPECT_EQ(head->endIndex, quint32(out.size() + chunk.data.size() - 1));
            out.append(chunk.data.toByteArray());
        }
        return out;
    }

private:
    std::shared_ptr<TransSender> sender_;
};

class TransSenderTest : public ::testing::Test {
protected:
    // Short waits so that silence plays out in milliseconds.
    std::shared_ptr<TransSender> makeSender(std::chrono::milliseconds replyWait = 20ms) {
        return std::make_shared<TransSender>([this](const QString& line) { logs.append(line); },
                                             TransSenderTimings{0ms, replyWait});
    }

    Status<TransSender::SendError> run(TransSender& sender, ScriptedDevice& device,
                                       const SendJob& job, std::stop_token stop = {}) {
        return sender.send(
            job, device.writer(), [this](int p) { progress.append(p); }, stop);
    }

    static TransError transError(const Status<TransSender::SendError>& result) {
        EXPECT_FALSE(result.ok());
        EXPECT_TRUE(std::holds_alternative<TransError>(result.error()));
        return std::get<TransError>(result.error());
    }

    QStringList logs;
    QList<int> progress;
};

QByteArray pattern(qsizetype size) {
    QByteArray out(size, '\0');
    for (qsizetype i = 0; i < size; ++i) {
        out[i] = char((i * 7 + i / 251) & 0xFF);
    }
    return out;
}

TEST_F(TransSenderTest, TextTransferWritesTheProtocolFramesInOrder) {
    auto sender = makeSender(5s);
    ScriptedDevice device(sender);
    const SendJob job{TransWire::dataTypeText, QByteArray("abc"), QString()};

    ASSERT_TRUE(run(*sender, device, job).ok());

    EXPECT_EQ(device.types(), (QList<quint16>{FrameType::START_REQUEST, FrameType::DEVICE_QUERY,
                                              FrameType::FIRST_PACKET, FrameType::MIDDLE_PACKET,
                                              FrameType::FINISH_PACKET}));
    EXPECT_EQ(device.sns(), (QList<quint32>{0, 0, 1, 2, 3}));
    EXPECT_TRUE(device.received[0].payload.isEmpty());
    EXPECT_TRUE(device.received[1].payload.isEmpty());
    EXPECT_TRUE(device.received[4].payload.isEmpty());

    const QByteArray header = TransWire::buildTransHeader(0, "abc", QString());
    EXPECT_EQ(device.received[2].payload, QByteArray(1, '\x01') + header + header);
    EXPECT_EQ(device.received[2].payload.size(), 105);
    EXPECT_EQ(device.received[3].payload, TransWire::buildTransMiddlePayload("abc", 0, 2, true));

    // round(52 * 100 / 55) = 95 for the header; the only chunk reaches 100 % but is held
    // at 99 until the device has confirmed the end.
    EXPECT_EQ(progress, (QList<int>{0, 1, 3, 5, 95, 99, 99, 100}));
    EXPECT_EQ(logs.first(), "TRANS TX START_REQUEST payload=0 sn=0");
    EXPECT_TRUE(logs.contains("TRANS TX FIRST_PACKET payload=105 sn=1"));
    EXPECT_TRUE(logs.contains("TRANS TX MIDDLE_PACKET payload=16 sn=2"));
    EXPECT_EQ(logs.last(), "TRANS send complete");

    EXPECT_FALSE(sender->isBusy());
    EXPECT_FALSE(sender->consumeFrame(WireHeader{}, QByteArray("\x00\x03", 2)));
}

TEST_F(TransSenderTest, ImageOf104BytesReportsTheDocumentedProgress) {
    auto sender = makeSender(5s);
    ScriptedDevice device(sender);
    const SendJob job{TransWire::dataTypeImage, pattern(104), QString()};

    ASSERT_TRUE(run(*sender, device, job).ok());

    EXPECT_EQ(progress, (QList<int>{0, 1, 3, 5, 33, 99, 99, 100}));
    EXPECT_EQ(device.reassembled(), job.payload);
}

TEST_F(TransSenderTest, FileTravelsInDeviceSizedChunksWithContiguousIndices) {
    auto sender = makeSender(5s);
    ScriptedDevice device(sender);
    const SendJob job{TransWire::dataTypeFile, pattern(25000), QStringLiteral("report.pdf")};

    ASSERT_TRUE(run(*sender, device, job).ok());

    const QList<DecodedFrame> chunks = device.ofType(FrameType::MIDDLE_PACKET);
    ASSERT_EQ(chunks.size(), 3);
    const QList<std::pair<quint32, quint32>> expected{{0, 10239}, {10240, 20479}, {20480, 24999}};
    for (int i = 0; i < 3; ++i) {
        const auto head = TransWire::parseCommPacketHead(chunks[i].payload);
        ASSERT_TRUE(head.ok());
        EXPECT_EQ(head->startIndex, expected[i].first);
        EXPECT_EQ(head->endIndex, expected[i].second);
    }
    EXPECT_EQ(device.reassembled(), job.payload);
    EXPECT_EQ(device.sns(), (QList<quint32>{0, 0, 1, 2, 3, 4, 5}));

    const auto first =
        TransWire::parseFirstTransReq(device.ofType(FrameType::FIRST_PACKET)[0].payload);
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(first->header.fileName, "report.pdf");
    EXPECT_EQ(first->header.dataType, TransWire::dataTypeFile);
    EXPECT_EQ(first->header.totalFileSize, 25052u);

    // Header share round(5200/25052) = 0 -> 5; chunks reach 10292, 20532, 25052 bytes.
    EXPECT_EQ(progress, (QList<int>{0, 1, 3, 5, 5, 41, 82, 99, 99, 100}));
}

TEST_F(TransSenderTest, ChunkSizeFollowsTheAdvertisedBufferSize) {
    const QList<std::pair<quint32, qsizetype>> cases{{64, 64},   {100, 36}, {50000, 10240},
                                                     {0, 10240}, {30, 30},  {10304, 10240}};
    for (const auto& [advertised, chunk] : cases) {
        SCOPED_TRACE(advertised);
        auto sender = makeSender(5s);
        ScriptedDevice device(sender);
        device.bufferSize = advertised;
        const SendJob job{TransWire::dataTypeFile, pattern(12000), QStringLiteral("a.bin")};

        ASSERT_TRUE(run(*sender, device, job).ok());
        const QList<DecodedFrame> chunks = device.ofType(FrameType::MIDDLE_PACKET);
        ASSERT_FALSE(chunks.isEmpty());
        EXPECT_EQ(chunks.first().payload.size(), chunk + TransWire::middleOverhead);
        EXPECT_EQ(chunks.size(), (12000 + chunk - 1) / chunk);
        EXPECT_EQ(device.reassembled(), job.payload);
    }
}

TEST_F(TransSenderTest, SilentDeviceGetsElevenStartRequestsThenTimeout) {
    auto sender = makeSender();
    ScriptedDevice device(sender);
    device.script = [](const DecodedFrame&, int) {
        return QList<Reply>{};
    };

    const auto result = run(*sender, device, SendJob{0, "hello", {}});

    EXPECT_EQ(transError(result).code(), TransError::Code::transferTimeout);
    EXPECT_EQ(transError(result).errorDescription(), "传输超时");
    EXPECT_EQ(device.received.size(), 11);
    for (const DecodedFrame& f : device.received) {
        EXPECT_EQ(f.header.type, FrameType::START_REQUEST);
        EXPECT_EQ(f.header.sn, 0u);
    }
    const QStringList timeouts = logs.filter("TRANS timeout");
    EXPECT_EQ(timeouts, (QStringList{"TRANS timeout state=waitStart sn=0 retry=1/10",
                                     "TRANS timeout state=waitStart sn=0 retry=10/10"}));
    EXPECT_EQ(logs.last(), "TRANS 超时放弃 state=waitStart sn=0（已重试 10 次）");
    EXPECT_EQ(progress, (QList<int>{0, 1}));
    EXPECT_FALSE(sender->isBusy());
    EXPECT_FALSE(sender->consumeFrame(WireHeader{}, {}));
}

TEST_F(TransSenderTest, DroppedRepliesAreRecoveredByResendingTheSameFrame) {
    auto sender = makeSender();
    ScriptedDevice device(sender);
    device.bufferSize = 64 + 64;
    int queryCount = 0;
    int firstChunkCount = 0;
    device.script = [&](const DecodedFrame& f, int) -> QList<Reply> {
        if (f.header.type == FrameType::DEVICE_QUERY && ++queryCount == 1) {
            return {ok(f.header.sn)}; // the RSP is lost; only a plain acknowledgement arrives
        }
        if (f.header.type == FrameType::MIDDLE_PACKET && f.header.sn == 3 &&
            ++firstChunkCount <= 4) {
            return {};
        }
        return device.standardReplies(f);
    };
    const SendJob job{TransWire::dataTypeFile, pattern(150), QStringLiteral("x")};

    ASSERT_TRUE(run(*sender, device, job).ok());

    // The resent DEVICE_QUERY carries one more than the START reply's sn.
    const QList<DecodedFrame> queries = device.ofType(FrameType::DEVICE_QUERY);
    ASSERT_EQ(queries.size(), 2);
    EXPECT_EQ(queries[0].header.sn, 0u);
    EXPECT_EQ(queries[1].header.sn, 1u);
    EXPECT_EQ(device.ofType(FrameType::FIRST_PACKET)[0].header.sn, 2u);

    // 64-byte chunks at sn 3, 4, 5; the first went out five times, byte for byte the same.
    const QList<DecodedFrame> chunks = device.ofType(FrameType::MIDDLE_PACKET);
    ASSERT_EQ(chunks.size(), 7);
    for (int i = 1; i < 5; ++i) {
        EXPECT_EQ(chunks[i].header.sn, 3u);
        EXPECT_EQ(chunks[i].payload, chunks[0].payload);
    }
    EXPECT_EQ(chunks[5].header.sn, 4u);
    EXPECT_EQ(chunks[6].header.sn, 5u);
    EXPECT_EQ(device.ofType(FrameType::FINISH_PACKET)[0].header.sn, 6u);
    EXPECT_EQ(chunks[0].payload.sliced(9, 64) + chunks[5].payload.sliced(9, 64) +
                  chunks[6].payload.sliced(9, 22),
              job.payload);

    EXPECT_EQ(logs.filter("TRANS timeout"),
              (QStringList{"TRANS timeout state=waitQuery sn=1 retry=1/10",
                           "TRANS timeout state=data sn=3 retry=1/10"}));
    // Resends report no progress of their own.
    EXPECT_EQ(progress, (QList<int>{0, 1, 3, 5, 26, 57, 89, 99, 99, 100}));
}

TEST_F(TransSenderTest, TenTimeoutsOnOneFrameAreToleratedAndCountersResetPerFrame) {
    auto sender = makeSender();
    ScriptedDevice device(sender);
    QMap<quint16, int> seen;
    // Every frame is ignored ten times before it is answered: each frame has its own budget.
    device.script = [&](const DecodedFrame& f, int) -> QList<Reply> {
        if (++seen[f.header.type] <= 10) {
            return {};
        }
        return device.standardReplies(f);
    };
    const SendJob job{TransWire::dataTypeText, QByteArray("hi"), QString()};

    const auto result = run(*sender, device, job);

    ASSERT_TRUE(result.ok());
    EXPECT_EQ(logs.filter("retry=10/10").size(), 5);
    EXPECT_TRUE(logs.contains("TRANS timeout state=waitFinish sn=4 retry=10/10"));
    for (const quint16 type :
         {FrameType::START_REQUEST, FrameType::DEVICE_QUERY, FrameType::FIRST_PACKET,
          FrameType::MIDDLE_PACKET, FrameType::FINISH_PACKET}) {
        EXPECT_EQ(device.ofType(type).size(), 11);
    }
}

TEST_F(TransSenderTest, FailureRepliesAreAnsweredByThreeResendsThenTheSendFails) {
    for (const int failuresSent : {3, 4}) {
        SCOPED_TRACE(failuresSent);
        logs.clear();
        progress.clear();
        auto sender = makeSender(5s);
        ScriptedDevice device(sender);
        int secondChunk = 0;
        device.script = [&](const DecodedFrame& f, int) -> QList<Reply> {
            if (f.header.type == FrameType::MIDDLE_PACKET) {
                const auto head = TransWire::parseCommPacketHead(f.payload);
                if (head->startIndex == 64 && ++secondChunk <= failuresSent) {
                    // A device may answer with an sn of its own; the resend echoes it.
                    return {failure(100 + secondChunk, 7)};
                }
            }
            return device.standardReplies(f);
        };
        device.bufferSize = 128;
        const SendJob job{TransWire::dataTypeText, pattern(200), QString()};

        const auto result = run(*sender, device, job);

        QList<DecodedFrame> second;
        for (const DecodedFrame& f : device.ofType(FrameType::MIDDLE_PACKET)) {
            if (TransWire::parseCommPacketHead(f.payload)->startIndex == 64) {
                second.append(f);
            }
        }
        ASSERT_EQ(second.size(), 4);
        EXPECT_EQ(second[0].header.sn, 3u);
        for (int i = 1; i < 4; ++i) {
            EXPECT_EQ(second[i].header.sn, quint32(100 + i));
            EXPECT_EQ(second[i].payload, second[0].payload);
        }
        if (failuresSent == 3) {
            ASSERT_TRUE(result.ok());
            // The device's own sn carries on from the accepted reply.
            const QList<DecodedFrame> chunks = device.ofType(FrameType::MIDDLE_PACKET);
            ASSERT_EQ(chunks.size(), 7);
            EXPECT_EQ(chunks[5].header.sn, 104u);
            EXPECT_EQ(chunks[6].header.sn, 105u);
            EXPECT_EQ(device.ofType(FrameType::FINISH_PACKET)[0].header.sn, 106u);
            EXPECT_EQ(progress, (QList<int>{0, 1, 3, 5, 21, 46, 71, 97, 99, 99, 100}));
        } else {
            EXPECT_EQ(transError(result), TransError::transferFailed(QStringLiteral("rsp_code=7")));
            EXPECT_EQ(transError(result).errorDescription(), "传输失败: rsp_code=7");
            EXPECT_EQ(device.ofType(FrameType::FINISH_PACKET).size(), 0);
            EXPECT_EQ(progress.last(), 71); // nothing is reported for the failure
            EXPECT_FALSE(sender->isBusy());
        }
    }
}

TEST_F(TransSenderTest, RepeatedAcknowledgementDoesNotAdvanceTwice) {
    auto sender = makeSender();
    ScriptedDevice device(sender);
    device.bufferSize = 64 + 64;
    bool lost = false;
    device.script = [&](const DecodedFrame& f, int) -> QList<Reply> {
        if (f.header.type == FrameType::MIDDLE_PACKET && f.header.sn == 4 && !lost) {
            // Chunk two never reaches the device; only the stale duplicate of chunk one's
            // acknowledgement is there to be mistaken for its reply.
            lost = true;
            device.received.removeLast();
            return {};
        }
        if (f.header.type == FrameType::MIDDLE_PACKET) {
            return {ok(f.header.sn), ok(f.header.sn)};
        }
        return device.standardReplies(f);
    };
    const SendJob job{TransWire::dataTypeText, pattern(300), QString()};

    ASSERT_TRUE(run(*sender, device, job).ok());

    // Taking the duplicate as an acknowledgement would have left a hole in the indices.
    EXPECT_EQ(device.reassembled(), job.payload);
    EXPECT_EQ(device.ofType(FrameType::MIDDLE_PACKET).size(), 5);
    EXPECT_EQ(device.ofType(FrameType::FINISH_PACKET).size(), 1);
    EXPECT_EQ(logs.filter("TRANS timeout").size(), 1);
}

TEST_F(TransSenderTest, RepliesWithoutTheMarkerByteOrOutOfPlaceAreIgnored) {
    auto sender = makeSender();
    ScriptedDevice device(sender);
    device.script = [&](const DecodedFrame& f, int) -> QList<Reply> {
        QList<Reply> noise{
            {FrameType::GENERAL_REPLY, f.header.sn, QByteArray("\x01\x01", 2)}, // marker 0x01
            {FrameType::GENERAL_REPLY, f.header.sn, QByteArray(1, '\x01')},     // too short
            {FrameType::START_REQUEST, 9, {}}, // the device's own request: swallowed
        };
        if (f.header.type != FrameType::DEVICE_QUERY) {
            // Only valid while the query is outstanding.
            noise.append({FrameType::DEVICE_QUERY_RSP, f.header.sn, QByteArray(4, '\x10')});
        } else {
            noise.append({FrameType::DEVICE_QUERY_RSP, f.header.sn, QByteArray(3, '\x10')});
        }
        return noise + device.standardReplies(f);
    };
    const SendJob job{TransWire::dataTypeText, QByteArray("marker"), QString()};

    ASSERT_TRUE(run(*sender, device, job).ok());

    // Any of the noise taken as a reply would have caused a resend or a wrong chunk size.
    EXPECT_EQ(device.types(), (QList<quint16>{FrameType::START_REQUEST, FrameType::DEVICE_QUERY,
                                              FrameType::FIRST_PACKET, FrameType::MIDDLE_PACKET,
                                              FrameType::FINISH_PACKET}));
    EXPECT_EQ(device.reassembled(), job.payload);
    EXPECT_TRUE(logs.filter("timeout").isEmpty());

    // With only marker-0x02 replies the transfer works as well.
    auto sender2 = makeSender(5s);
    ScriptedDevice device2(sender2);
    device2.script = [&](const DecodedFrame& f, int) -> QList<Reply> {
        QList<Reply> replies = device2.standardReplies(f);
        if (replies[0].type == FrameType::GENERAL_REPLY) {
            replies[0].payload[1] = '\x02';
        }
        return replies;
    };
    EXPECT_TRUE(run(*sender2, device2, job).ok());
}

TEST_F(TransSenderTest, MarkerlessRepliesAloneLeaveTheDeviceSilent) {
    auto sender = makeSender();
    ScriptedDevice device(sender);
    device.script = [](const DecodedFrame& f, int) -> QList<Reply> {
        return {{FrameType::GENERAL_REPLY, f.header.sn, QByteArray("\x00\x01", 2)}};
    };
    const auto result = run(*sender, device, SendJob{0, "x", {}});
    EXPECT_EQ(transError(result).code(), TransError::Code::transferTimeout);
    EXPECT_EQ(device.received.size(), 11);
}

TEST_F(TransSenderTest, CancellationMidTransferEndsTheSendAndReleasesTheSender) {
    auto sender = makeSender(5s);
    ScriptedDevice device(sender);
    device.bufferSize = 64 + 64;
    std::stop_source stopSource;
    device.script = [&](const DecodedFrame& f, int) -> QList<Reply> {
        if (f.header.type == FrameType::MIDDLE_PACKET && f.header.sn == 3) {
            stopSource.request_stop(); // the user cancels while chunk two is on its way
        }
        return device.standardReplies(f);
    };
    const SendJob job{TransWire::dataTypeText, pattern(300), QString()};

    const auto result = run(*sender, device, job, stopSource.get_token());

    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(std::holds_alternative<SendCancelled>(result.error()));
    EXPECT_EQ(device.types().last(), FrameType::MIDDLE_PACKET);
    EXPECT_EQ(device.ofType(FrameType::MIDDLE_PACKET).size(), 2);
    EXPECT_EQ(device.ofType(FrameType::FINISH_PACKET).size(), 0);
    EXPECT_FALSE(progress.contains(100));
    EXPECT_FALSE(sender->isBusy());
    EXPECT_FALSE(sender->consumeFrame(WireHeader{}, QByteArray("\x00\x03", 2)));

    // The sender is usable again at once.
    progress.clear();
    device.received.clear();
    device.script = nullptr;
    ASSERT_TRUE(run(*sender, device, job).ok());
    EXPECT_EQ(device.reassembled(), job.payload);
}

TEST_F(TransSenderTest, CancellationInterruptsALongWaitForAReply) {
    // Real pacing: the cancellation, not the reply wait, must end this send.
    auto sender = std::make_shared<TransSender>(nullptr, TransSenderTimings{150ms, 60s});
    ScriptedDevice device(sender);
    device.script = [](const DecodedFrame&, int) {
        return QList<Reply>{};
    };
    std::atomic<bool> written = false;
    auto writer = device.writer();

    std::optional<Status<TransSender::SendError>> result;
    std::jthread worker([&](std::stop_token stop) {
        result = sender->send(
            SendJob{0, "abc", {}},
            [&](const QByteArray& frame) {
                auto r = writer(frame);
                written = true;
                written.notify_all();
                return r;
            },
            nullptr, stop);
    });
    written.wait(false);
    const auto started = std::chrono::steady_clock::now();
    worker.request_stop();
    worker.join();

    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
    ASSERT_TRUE(result.has_value());
    ASSERT_FALSE(result->ok());
    EXPECT_TRUE(std::holds_alternative<SendCancelled>(result->error()));
    EXPECT_EQ(device.received.size(), 1);
    EXPECT_FALSE(sender->isBusy());
}

TEST_F(TransSenderTest, CancelledBeforeTheFirstFrameWritesNothing) {
    auto sender = makeSender();
    ScriptedDevice device(sender);
    std::stop_source stopSource;
    stopSource.request_stop();
    const auto result = run(*sender, device, SendJob{0, "abc", {}}, stopSource.get_token());
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(std::holds_alternative<SendCancelled>(result.error()));
    EXPECT_TRUE(device.received.isEmpty());
    EXPECT_EQ(progress, QList<int>{0});
    EXPECT_FALSE(sender->isBusy());
}

TEST_F(TransSenderTest, SecondSendWhileOneRunsFailsAtOnceWithSendBusy) {
    auto sender = makeSender(5s);
    ScriptedDevice device(sender);
    std::optional<Status<TransSender::SendError>> second;
    std::optional<Status<TransSender::SendError>> third;
    device.script = [&](const DecodedFrame& f, int) -> QList<Reply> {
        if (f.header.type == FrameType::FIRST_PACKET) {
            EXPECT_TRUE(sender->isBusy());
            second = sender->send(SendJob{0, "other", {}}, device.writer(), nullptr);
            // ... and from another thread as well.
            std::thread([&] {
                third = sender->send(SendJob{0, "third", {}}, device.writer(), nullptr);
            }).join();
        }
        return device.standardReplies(f);
    };
    const SendJob job{TransWire::dataTypeText, QByteArray("first"), QString()};

    ASSERT_TRUE(run(*sender, device, job).ok());

    ASSERT_TRUE(second.has_value() && third.has_value());
    EXPECT_EQ(transError(*second).code(), TransError::Code::sendBusy);
    EXPECT_EQ(transError(*second).errorDescription(), "另一个剪贴板传输正在进行中");
    EXPECT_EQ(transError(*third).code(), TransError::Code::sendBusy);
    // The running send went on undisturbed: nothing of the refused ones reached the link.
    EXPECT_EQ(device.ofType(FrameType::START_REQUEST).size(), 1);
    EXPECT_EQ(device.reassembled(), job.payload);
    EXPECT_EQ(progress.last(), 100);
}

TEST_F(TransSenderTest, WriterFailuresEndTheSend) {
    auto sender = makeSender();
    int writes = 0;
    const auto closedAtThird = [&](const QByteArray&) -> Status<TransSender::WriteError> {
        if (++writes == 3) {
            return fail(TransSender::WriteError(TransError(TransError::Code::serialClosed)));
        }
        return Done{};
    };
    // Nothing answers, but the link fails before the second timeout resend.
    auto result = sender->send(SendJob{0, "abc", {}}, closedAtThird, nullptr);
    ASSERT_FALSE(result.ok());
    ASSERT_TRUE(std::holds_alternative<TransError>(result.error()));
    EXPECT_EQ(std::get<TransError>(result.error()).code(), TransError::Code::serialClosed);
    EXPECT_EQ(writes, 3);
    EXPECT_FALSE(sender->isBusy());

    const auto ioError = [](const QByteArray&) -> Status<TransSender::WriteError> {
        return fail(TransSender::WriteError(QStringLiteral("Input/output error")));
    };
    result = sender->send(SendJob{0, "abc", {}}, ioError, nullptr);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(std::get<TransError>(result.error()),
              TransError::transferFailed(QStringLiteral("Input/output error")));
    EXPECT_FALSE(sender->isBusy());
}

TEST_F(TransSenderTest, ConsumeFrameTakesFramesOnlyWhileASendRuns) {
    auto sender = makeSender(5s);
    WireHeader header;
    header.channel = FrameChannel::trans;
    header.type = FrameType::START_REQUEST;
    EXPECT_FALSE(sender->consumeFrame(header, {}));

    // A frame left over from before a send must not be taken as a reply during it.
    ScriptedDevice device(sender);
    header.type = FrameType::GENERAL_REPLY;
    EXPECT_FALSE(sender->consumeFrame(header, QByteArray("\x01\x03", 2)));
    ASSERT_TRUE(run(*sender, device, SendJob{0, "abc", {}}).ok());
    EXPECT_EQ(device.received.size(), 5);
    EXPECT_FALSE(sender->consumeFrame(header, QByteArray("\x00\x03", 2)));
}

} // namespace
