// Drives the real orvane-devsim program: the test plays the client on the slave side of
// the simulator's pseudo-terminal and follows the simulator's JSON events.

#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "protocol/TransWire.h"
#include "support/DevsimProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace orvane;

namespace {

constexpr int waitMs = DevsimProcess::waitMs;
using Devsim = DevsimProcess;

// The client's end of the line: the symlink opened as a raw serial port.
class Peer {
public:
    explicit Peer(const QString& path) {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) {
            termios tio{};
            ::tcgetattr(fd, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(fd, TCSANOW, &tio);
        }
    }
    ~Peer() {
        if (fd >= 0) {
            ::close(fd);
        }
    }

    // The next valid frame, or nothing within `timeoutMs` (or on hang-up).
    std::optional<DecodedFrame> readFrame(int timeoutMs = waitMs) {
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            QList<FrameIssue> issues;
            const qsizetype before = buffer.size();
            const auto frame = ProtocolWire::extractFrame(buffer, issues);
            droppedBytes += before - buffer.size() - (frame ? frame->size() : 0);
            if (frame) {
                lastFrame = *frame;
                return ProtocolWire::validateFrameDetailed(*frame).value();
            }
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, int(deadline.remainingTime())) <= 0 || !(p.revents & POLLIN)) {
                return std::nullopt;
            }
            char chunk[4096];
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n <= 0) {
                return std::nullopt;
            }
            buffer.append(chunk, n);
        }
    }

    // Reads for `ms`, echoing probes; afterwards only an incomplete frame may be buffered.
    void drain(int ms) {
        while (readTransFrame(ms)) {
        }
    }

    // The next TRANS frame; probes met on the way are echoed, as the client does.
    std::optional<DecodedFrame> readTransFrame(int timeoutMs = waitMs) {
        const QDeadlineTimer deadline(timeoutMs);
        while (auto frame = readFrame(int(deadline.remainingTime()))) {
            if (frame->header.channel == FrameChannel::trans) {
                return frame;
            }
            write(lastFrame);
        }
        return std::nullopt;
    }

    void write(const QByteArray& bytes) {
        ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    }
    void send(quint16 type, quint32 sn, const QByteArray& payload = {}) {
        write(ProtocolWire::buildPacket(FrameChannel::trans, type, sn, payload));
    }
    void reply(quint32 sn, bool ok) {
        send(FrameType::GENERAL_REPLY, sn, TransWire::buildGeneralReplyPayload(ok));
    }

    int fd = -1;
    QByteArray buffer;
    QByteArray lastFrame;
    qsizetype droppedBytes = 0; // bytes that were not part of any valid frame
};

QByteArray generalReply(bool ok) {
    return TransWire::buildGeneralReplyPayload(ok);
}

// Sends one TRANS request and returns the device's reply (type and payload checked by the
// caller), requiring the reply to reuse the request's sn.
std::optional<DecodedFrame> request(Peer& peer, quint16 type, quint32 sn,
                                    const QByteArray& payload = {}, int timeoutMs = waitMs) {
    peer.send(type, sn, payload);
    auto reply = peer.readTransFrame(timeoutMs);
    if (reply) {
        EXPECT_EQ(reply->header.sn, sn);
    }
    return reply;
}

QString slaveOf(const QString& link) {
    return QFileInfo(link).symLinkTarget();
}

} // namespace

TEST(Devsim, ProbesAreCheckedForMatchesMismatchesAndLosses) {
    Devsim sim({QStringLiteral("--interval"), QStringLiteral("100")});
    ASSERT_TRUE(sim.waitFor(QStringLiteral("plugged")));
    Peer peer(sim.link);
    ASSERT_GE(peer.fd, 0);

    auto probe = peer.readFrame();
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->header.channel, FrameChannel::peripheral);
    EXPECT_EQ(probe->header.type, FrameType::PERIPHERAL_ECHO);
    const auto tlv = ProtocolWire::parseEchoTLV(probe->payload);
    ASSERT_TRUE(tlv);
    EXPECT_EQ(tlv->value, QByteArray("devsim\0", 7));
    peer.write(peer.lastFrame);
    const quint32 matchedSn = probe->header.sn;
    EXPECT_TRUE(sim.waitFor(QStringLiteral("probe_matched"), [&](const QJsonObject& e) {
        return e[QStringLiteral("sn")].toInteger() == matchedSn;
    }));
    EXPECT_TRUE(sim.waitFor(QStringLiteral("client_answering"), [](const QJsonObject& e) {
        return e[QStringLiteral("answering")].toBool();
    }));

    // Same sn, changed value: the frame is valid but not what was sent.
    probe = peer.readFrame();
    ASSERT_TRUE(probe);
    QByteArray changed = probe->payload;
    changed[6] = 'D';
    peer.write(ProtocolWire::buildPacket(FrameChannel::peripheral, FrameType::PERIPHERAL_ECHO,
                                         probe->header.sn, changed));
    const quint32 changedSn = probe->header.sn;
    EXPECT_TRUE(sim.waitFor(QStringLiteral("probe_mismatch"), [&](const QJsonObject& e) {
        return e[QStringLiteral("sn")].toInteger() == changedSn;
    }));

    // No more echoes: the next probe goes missing and the client counts as gone.
    EXPECT_TRUE(sim.waitFor(QStringLiteral("probe_missing")));
    EXPECT_TRUE(sim.waitFor(QStringLiteral("client_answering"), [](const QJsonObject& e) {
        return !e[QStringLiteral("answering")].toBool();
    }));

    // Silence: no probe arrives any more.
    sim.command(QStringLiteral("silence on"));
    ASSERT_TRUE(sim.waitFor(QStringLiteral("silence")));
    while (peer.readFrame(100)) {
    }
    EXPECT_FALSE(peer.readFrame(300));
}

TEST(Devsim, PushedTextArrivesAsATransSequenceAndDamagedChunksAreResent) {
    const QString text = QStringLiteral("héllo, devsim");
    Devsim sim({QStringLiteral("--interval"), QStringLiteral("50"), QStringLiteral("--chunk-size"),
                QStringLiteral("4"), QStringLiteral("--push-text"), text});
    ASSERT_TRUE(sim.waitFor(QStringLiteral("plugged")));
    sim.command(QStringLiteral("damage"));
    ASSERT_TRUE(sim.waitFor(QStringLiteral("fault_armed")));
    Peer peer(sim.link);
    ASSERT_GE(peer.fd, 0);

    QList<quint16> steps;
    std::optional<TransHeader> header;
    QByteArray assembled;
    int failedChunks = 0;
    quint32 lastSn = 0;
    while (auto frame = peer.readTransFrame()) {
        const quint16 type = frame->header.type;
        bool ok = true;
        if (!steps.isEmpty()) {
            EXPECT_GE(frame->header.sn, lastSn) << "sn went backwards";
        }
        lastSn = frame->header.sn;
        if (type == FrameType::FIRST_PACKET) {
            auto first = TransWire::parseFirstTransReq(frame->payload);
            ASSERT_TRUE(first);
            EXPECT_EQ(first->needResponse, 1);
            header = first->header;
            assembled = QByteArray(header->announcedPayloadSize(), '\0');
        } else if (type == FrameType::MIDDLE_PACKET) {
            const auto head = TransWire::parseCommPacketHead(frame->payload);
            ASSERT_TRUE(head);
            EXPECT_EQ(head->flag, TransWire::middleFlagChecked);
            const MiddleChunk chunk = TransWire::splitMiddleChunk(frame->payload, head->flag);
            EXPECT_LE(chunk.data.size(), 4);
            EXPECT_EQ(qint64(head->endIndex) - head->startIndex + 1, chunk.data.size());
            ok = chunk.checksumOk();
            if (ok) {
                assembled.replace(head->startIndex, chunk.data.size(), chunk.data.toByteArray());
            } else {
                ++failedChunks;
            }
        }
        if (steps.isEmpty() || steps.last() != type || type == FrameType::MIDDLE_PACKET) {
            steps.append(type);
        }
        peer.reply(frame->header.sn, ok);
        if (type == FrameType::FINISH_PACKET) {
            break;
        }
    }
    ASSERT_TRUE(header);
    EXPECT_EQ(header->dataType, TransWire::dataTypeText);
    EXPECT_EQ(assembled, text.toUtf8());
    EXPECT_EQ(ProtocolWire::mcAddCRC(assembled), header->mcAddChecksum);
    EXPECT_EQ(failedChunks, 1);
    const qsizetype chunks = (text.toUtf8().size() + 3) / 4;
    QList<quint16> expected{FrameType::START_REQUEST, FrameType::FIRST_PACKET};
    for (qsizetype i = 0; i < chunks + 1; ++i) { // one chunk travelled twice
        expected.append(FrameType::MIDDLE_PACKET);
    }
    expected.append(FrameType::FINISH_PACKET);
    EXPECT_EQ(steps, expected);
    EXPECT_TRUE(sim.waitFor(QStringLiteral("push_retry")));
    const auto done = sim.waitFor(QStringLiteral("push_done"));
    ASSERT_TRUE(done);
    EXPECT_TRUE((*done)[QStringLiteral("ok")].toBool());
}

TEST(Devsim, ClientTransferIsAnsweredVerifiedAndSaved) {
    QTemporaryDir saveDir;
    // Long probe interval: the test reads replies at its own pace.
    Devsim sim({QStringLiteral("--interval"), QStringLiteral("1000"),
                QStringLiteral("--buffer-size"), QStringLiteral("0x1000"),
                QStringLiteral("--save-dir"), saveDir.path()});
    ASSERT_TRUE(sim.waitFor(QStringLiteral("plugged")));
    Peer peer(sim.link);
    ASSERT_GE(peer.fd, 0);

    auto reply = request(peer, FrameType::START_REQUEST, 0);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.type, FrameType::GENERAL_REPLY);
    EXPECT_EQ(reply->payload, generalReply(true));

    reply = request(peer, FrameType::DEVICE_QUERY, 0);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.type, FrameType::DEVICE_QUERY_RSP);
    EXPECT_EQ(TransWire::loadLEUInt32(reply->payload, 0), 0x1000u);

    QByteArray content;
    for (int i = 0; i < 1000; ++i) {
        content.append(char(i * 7));
    }
    // A sender's path: only its last component may be used.
    const QByteArray header = TransWire::buildTransHeader(TransWire::dataTypeFile, content,
                                                          QStringLiteral("../notes.bin"));
    reply = request(peer, FrameType::FIRST_PACKET, 1, TransWire::buildFirstTransReqPayload(header));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, generalReply(true));

    quint32 sn = 2;
    for (qsizetype offset = 0; offset < content.size(); offset += 300, ++sn) {
        const QByteArray chunk = content.mid(offset, 300);
        const QByteArray middle = TransWire::buildTransMiddlePayload(
            chunk, quint32(offset), quint32(offset + chunk.size() - 1), true);
        if (offset == 300) { // a damaged chunk is refused; the resend is taken
            QByteArray damaged = middle;
            damaged[TransWire::middleHeadLength] =
                char(damaged[TransWire::middleHeadLength] ^ 0x01);
            reply = request(peer, FrameType::MIDDLE_PACKET, sn, damaged);
            ASSERT_TRUE(reply);
            EXPECT_EQ(reply->payload, generalReply(false));
        }
        if (offset == 600) { // a lost reply; the sender resends the same chunk
            sim.command(QStringLiteral("drop"));
            ASSERT_TRUE(sim.waitFor(QStringLiteral("fault_armed")));
            peer.send(FrameType::MIDDLE_PACKET, sn, middle);
            EXPECT_FALSE(peer.readTransFrame(300));
            EXPECT_TRUE(sim.waitFor(QStringLiteral("reply_dropped")));
        }
        reply = request(peer, FrameType::MIDDLE_PACKET, sn, middle);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->payload, generalReply(true)) << "chunk at " << offset;
    }
    reply = request(peer, FrameType::FINISH_PACKET, sn);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, generalReply(true));

    const auto done = sim.waitFor(QStringLiteral("receive_done"));
    ASSERT_TRUE(done);
    const QString savedTo = (*done)[QStringLiteral("savedTo")].toString();
    EXPECT_EQ(savedTo, QDir(saveDir.path()).filePath(QStringLiteral("notes.bin")));
    QFile saved(savedTo);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), content);
}

TEST(Devsim, BrokenClientTransfersGetFailureReplies) {
    Devsim sim({QStringLiteral("--interval"), QStringLiteral("1000")});
    ASSERT_TRUE(sim.waitFor(QStringLiteral("plugged")));
    Peer peer(sim.link);
    ASSERT_GE(peer.fd, 0);
    const QByteArray content("0123456789");
    const QByteArray chunk = TransWire::buildTransMiddlePayload(content, 0, 9, true);

    auto reply = request(peer, FrameType::MIDDLE_PACKET, 5, chunk);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, generalReply(false)) << "chunk without a transfer";
    reply = request(peer, FrameType::FINISH_PACKET, 6);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, generalReply(false)) << "finish without a transfer";

    // A header whose payload checksum does not match what then arrives.
    const QByteArray header =
        TransWire::buildTransHeader(TransWire::dataTypeText, "9876543210", {});
    reply = request(peer, FrameType::FIRST_PACKET, 7, TransWire::buildFirstTransReqPayload(header));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, generalReply(true));
    reply = request(peer, FrameType::MIDDLE_PACKET, 8,
                    TransWire::buildTransMiddlePayload("345", 3, 5, true));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, generalReply(false)) << "chunk leaving a gap";
    reply = request(peer, FrameType::FINISH_PACKET, 9);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, generalReply(false)) << "finish before all bytes";

    reply =
        request(peer, FrameType::FIRST_PACKET, 10, TransWire::buildFirstTransReqPayload(header));
    ASSERT_TRUE(reply);
    reply = request(peer, FrameType::MIDDLE_PACKET, 11, chunk);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, generalReply(true));
    reply = request(peer, FrameType::FINISH_PACKET, 12);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, generalReply(false)) << "payload checksum mismatch";
    EXPECT_TRUE(sim.waitFor(QStringLiteral("receive_failed"), [](const QJsonObject& e) {
        return e[QStringLiteral("reason")].toString().contains(QStringLiteral("payload checksum"));
    }));
}

TEST(Devsim, NoiseTravelsBothWays) {
    Devsim sim({QStringLiteral("--interval"), QStringLiteral("50")});
    ASSERT_TRUE(sim.waitFor(QStringLiteral("plugged")));
    Peer peer(sim.link);
    ASSERT_GE(peer.fd, 0);
    ASSERT_TRUE(peer.readFrame());

    sim.command(QStringLiteral("noise 100"));
    ASSERT_TRUE(sim.waitFor(QStringLiteral("noise_sent")));
    peer.drain(200);
    EXPECT_GE(peer.droppedBytes + peer.buffer.size(), 100);

    peer.write(QByteArray(40, '\x11'));
    const auto issue = sim.waitFor(QStringLiteral("line_issue"));
    ASSERT_TRUE(issue);
    EXPECT_TRUE((*issue)[QStringLiteral("bytes")].toString().startsWith(QStringLiteral("11 11")));
}

TEST(Devsim, UnplugRemovesTheLinkAndReplugMakesANewLine) {
    Devsim sim({QStringLiteral("--interval"), QStringLiteral("50")});
    ASSERT_TRUE(sim.waitFor(QStringLiteral("plugged")));
    const QString firstSlave = slaveOf(sim.link);
    ASSERT_FALSE(firstSlave.isEmpty());
    Peer peer(sim.link);
    ASSERT_GE(peer.fd, 0);
    ASSERT_TRUE(peer.readFrame());

    sim.command(QStringLiteral("unplug"));
    ASSERT_TRUE(sim.waitFor(QStringLiteral("unplugged")));
    EXPECT_FALSE(QFileInfo(sim.link).isSymLink());
    // The client's open line hangs up.
    pollfd p{peer.fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, waitMs), 1);
    EXPECT_TRUE(p.revents & POLLHUP);

    sim.command(QStringLiteral("replug"));
    const auto plugged = sim.waitFor(QStringLiteral("plugged"));
    ASSERT_TRUE(plugged);
    const QString secondSlave = slaveOf(sim.link);
    EXPECT_EQ((*plugged)[QStringLiteral("slave")].toString(), secondSlave);
    EXPECT_NE(secondSlave, firstSlave); // the old slave is still held open here
    Peer again(sim.link);
    ASSERT_GE(again.fd, 0);
    const auto probe = again.readFrame();
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->header.type, FrameType::PERIPHERAL_ECHO);
}

TEST(Devsim, QuitRemovesTheLink) {
    Devsim sim({});
    ASSERT_TRUE(sim.waitFor(QStringLiteral("plugged")));
    EXPECT_TRUE(QFileInfo(sim.link).isSymLink());
    sim.command(QStringLiteral("quit"));
    ASSERT_TRUE(sim.process.waitForFinished(waitMs));
    EXPECT_EQ(sim.process.exitCode(), 0);
    EXPECT_FALSE(QFileInfo(sim.link).isSymLink());
}
