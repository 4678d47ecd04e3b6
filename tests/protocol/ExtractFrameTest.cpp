#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace orvane;
namespace PW = orvane::ProtocolWire;

namespace {

QByteArray frameOf(quint32 sn, qsizetype payloadSize, quint8 channel = 0x06) {
    QByteArray payload(payloadSize, Qt::Uninitialized);
    for (qsizetype i = 0; i < payloadSize; ++i) {
        payload[i] = char((i * 7 + sn) & 0xFF);
    }
    return PW::buildPacket(channel, FrameType::MIDDLE_PACKET, sn, payload);
}

QByteArray noise(qsizetype n, quint32 seed) {
    // Random bytes without 0x57, so they can't start a candidate.
    QRandomGenerator rng(seed);
    QByteArray out(n, Qt::Uninitialized);
    for (auto& c : out) {
        do {
            c = char(rng.bounded(256));
        } while (quint8(c) == 0x57);
    }
    return out;
}

// The extraction rules written as plainly as possible: every candidate validated
// from a fresh copy. The optimised scanner must agree with it on every input.
std::optional<QByteArray> referenceExtract(QByteArray& buffer, QList<FrameIssue>& issues) {
    const qsizetype n = buffer.size();
    if (n < 17) {
        return std::nullopt;
    }
    for (qsizetype p = 0; p + 17 <= n; ++p) {
        if (quint8(buffer[p]) != 0x57 || quint8(buffer[p + 1]) != 0xAB) {
            continue;
        }
        const quint32 len = quint32(quint8(buffer[p + 13])) | quint32(quint8(buffer[p + 14])) << 8 |
                            quint32(quint8(buffer[p + 15])) << 16 |
                            quint32(quint8(buffer[p + 16])) << 24;
        if (len > 65536) {
            issues.append({QString("非法 payload 长度 %1 @ offset %2").arg(len).arg(p),
                           buffer.mid(p, std::min<qsizetype>(32, n - p))});
            continue;
        }
        if (n - p < qsizetype(len) + 21) {
            if (p == 0) {
                return std::nullopt;
            }
            issues.append(
                {QString("丢弃 %1 字节（未找到完整帧，等待更多数据）").arg(p), buffer.first(p)});
            buffer.remove(0, p);
            return std::nullopt;
        }
        const QByteArray candidate = buffer.mid(p, len + 21);
        const auto result = PW::validateFrameDetailed(candidate);
        if (result.ok()) {
            buffer.remove(0, p + len + 21);
            return candidate;
        }
        issues.append(
            {QString("帧校验失败 @ offset %1: %2").arg(p).arg(result.error().description()),
             candidate});
    }
    const qsizetype q = n - 16;
    issues.append({QString("丢弃 %1 字节（扫描后无有效帧）").arg(q), buffer.first(q)});
    buffer.remove(0, q);
    return std::nullopt;
}

struct Drained {
    QList<QByteArray> frames;
    QList<FrameIssue> issues;
    QByteArray rest;
};

// Feeds `stream` in pieces of `chunk` bytes and extracts until nothing comes out.
template <typename Extract>
Drained drain(const QByteArray& stream, qsizetype chunk, Extract extract) {
    Drained d;
    for (qsizetype at = 0; at < stream.size(); at += chunk) {
        d.rest.append(stream.mid(at, chunk));
        while (true) {
            const qsizetype before = d.rest.size();
            auto frame = extract(d.rest, d.issues);
            if (frame) {
                d.frames.append(*frame);
            } else if (d.rest.size() == before) {
                break;
            }
        }
    }
    return d;
}

} // namespace

TEST(ExtractFrame, SixteenBytesAreLeftAlone) {
    for (QByteArray buffer : {QByteArray(16, 'x'), frameOf(1, 4).first(16)}) {
        const QByteArray before = buffer;
        QList<FrameIssue> issues;
        EXPECT_FALSE(PW::extractFrame(buffer, issues));
        EXPECT_EQ(buffer, before);
        EXPECT_TRUE(issues.isEmpty());
    }
}

TEST(ExtractFrame, WholeFramesComeOutOneByOne) {
    const QByteArray a = frameOf(1, 10), b = frameOf(2, 0);
    QByteArray buffer = a + b;
    QList<FrameIssue> issues;
    EXPECT_EQ(PW::extractFrame(buffer, issues), a);
    EXPECT_EQ(buffer, b);
    EXPECT_EQ(PW::extractFrame(buffer, issues), b);
    EXPECT_TRUE(buffer.isEmpty());
    EXPECT_TRUE(issues.isEmpty());
}

TEST(ExtractFrame, NoiseInFrontOfAFrameGoesWithoutAnIssue) {
    const QByteArray frame = frameOf(3, 5);
    QByteArray buffer = noise(5, 1) + frame;
    QList<FrameIssue> issues;
    EXPECT_EQ(PW::extractFrame(buffer, issues), frame);
    EXPECT_TRUE(buffer.isEmpty());
    EXPECT_TRUE(issues.isEmpty());
}

TEST(ExtractFrame, IncompleteFrameWaits) {
    const QByteArray partial = frameOf(4, 100).first(40);
    QByteArray buffer = partial;
    QList<FrameIssue> issues;
    EXPECT_FALSE(PW::extractFrame(buffer, issues));
    EXPECT_EQ(buffer, partial);
    EXPECT_TRUE(issues.isEmpty());

    const QByteArray lead = noise(7, 2);
    buffer = lead + partial;
    EXPECT_FALSE(PW::extractFrame(buffer, issues));
    ASSERT_EQ(issues.size(), 1);
    EXPECT_EQ(issues[0].message, "丢弃 7 字节（未找到完整帧，等待更多数据）");
    EXPECT_EQ(issues[0].data, lead);
    EXPECT_EQ(buffer, partial);
}

TEST(ExtractFrame, NoiseKeepsOnlyTheLastSixteenBytes) {
    const QByteArray junk = noise(100, 3);
    QByteArray buffer = junk;
    QList<FrameIssue> issues;
    EXPECT_FALSE(PW::extractFrame(buffer, issues));
    ASSERT_EQ(issues.size(), 1);
    EXPECT_EQ(issues[0].message, "丢弃 84 字节（扫描后无有效帧）");
    EXPECT_EQ(issues[0].data, junk.first(84));
    EXPECT_EQ(buffer, junk.last(16));
}

TEST(ExtractFrame, DamagedFrameReportedAndNextOneReturned) {
    QByteArray damaged = frameOf(5, 8);
    damaged[18] = char(damaged[18] ^ 0x40);
    const QByteArray good = frameOf(6, 8);
    QByteArray buffer = damaged + good;
    QList<FrameIssue> issues;
    EXPECT_EQ(PW::extractFrame(buffer, issues), good);
    EXPECT_TRUE(buffer.isEmpty());
    ASSERT_EQ(issues.size(), 1);
    const QString expected =
        "帧校验失败 @ offset 0: " + PW::validateFrameDetailed(damaged).error().description();
    EXPECT_EQ(issues[0].message, expected);
    EXPECT_TRUE(issues[0].message.contains("sn=5"));
    EXPECT_EQ(issues[0].data, damaged);
}

TEST(ExtractFrame, ImplausibleLengthIsSkippedByOneByte) {
    QByteArray bogus = QByteArray::fromHex("57AB06"
                                           "00000000"
                                           "00000000"
                                           "0400"
                                           "70110100"); // 70000
    const QByteArray good = frameOf(7, 3);
    QByteArray buffer = bogus + QByteArray(20, 'z') + good;
    QList<FrameIssue> issues;
    EXPECT_EQ(PW::extractFrame(buffer, issues), good);
    ASSERT_EQ(issues.size(), 1);
    EXPECT_EQ(issues[0].message, "非法 payload 长度 70000 @ offset 0");
    EXPECT_EQ(issues[0].data, (bogus + QByteArray(20, 'z')).first(32));

    // Near the end of the buffer the excerpt is cut at the buffer's end.
    buffer = noise(3, 4) + bogus;
    issues.clear();
    EXPECT_FALSE(PW::extractFrame(buffer, issues));
    ASSERT_EQ(issues.size(), 2);
    EXPECT_EQ(issues[0].message, "非法 payload 长度 70000 @ offset 3");
    EXPECT_EQ(issues[0].data, bogus);
    EXPECT_EQ(issues[1].message, "丢弃 4 字节（扫描后无有效帧）");
}

TEST(ExtractFrame, PlausibleNoiseHeaderHoldsTheScan) {
    // A fake header announcing 1000 bytes blocks everything behind it until enough
    // bytes have arrived for validation to reject it.
    const QByteArray fake = QByteArray::fromHex("57AB06"
                                                "00000000"
                                                "00000000"
                                                "0400"
                                                "E8030000");
    const QByteArray good = frameOf(8, 2);
    QByteArray buffer = fake + good;
    QList<FrameIssue> issues;
    EXPECT_FALSE(PW::extractFrame(buffer, issues));
    EXPECT_EQ(buffer, fake + good);
    buffer.append(QByteArray(1000, 'q'));
    EXPECT_EQ(PW::extractFrame(buffer, issues), good);
    ASSERT_EQ(issues.size(), 1);
    EXPECT_TRUE(issues[0].message.startsWith("帧校验失败 @ offset 0: CRC mismatch"));
}

TEST(ExtractFrame, EverySplitPointOfAStreamYieldsTheSameFrames) {
    QList<QByteArray> frames = {frameOf(10, 0), frameOf(11, 1), frameOf(12, 300), frameOf(13, 17)};
    const QByteArray stream = frames[0] + noise(3, 5) + frames[1] + frames[2] + frames[3];
    for (qsizetype split = 0; split <= stream.size(); ++split) {
        Drained d;
        for (const QByteArray& piece : {stream.first(split), stream.sliced(split)}) {
            d.rest.append(piece);
            while (auto frame = PW::extractFrame(d.rest, d.issues)) {
                d.frames.append(*frame);
            }
        }
        EXPECT_EQ(d.frames, frames) << "split " << split;
    }
}

TEST(ExtractFrame, AgreesWithTheReferenceOnRandomStreams) {
    QRandomGenerator rng(2024);
    for (int round = 0; round < 300; ++round) {
        QByteArray stream;
        while (stream.size() < 3000) {
            switch (rng.bounded(6)) {
            case 0:
                stream.append(noise(rng.bounded(40), rng.generate()));
                break;
            case 1: { // a damaged frame
                QByteArray f = frameOf(rng.generate(), rng.bounded(60));
                f[rng.bounded(int(f.size()))] ^= char(1 + rng.bounded(255));
                stream.append(f);
                break;
            }
            case 2: // a lone header with some length, maybe huge
                stream.append(QByteArray::fromHex("57AB06000000000000000004 00"));
                for (int i = 0; i < 4; ++i) {
                    stream.append(char(rng.bounded(256)));
                }
                break;
            case 3:
                stream.append(QByteArray::fromHex("57AB57"));
                break;
            default:
                stream.append(frameOf(rng.generate(), rng.bounded(200)));
            }
        }
        const qsizetype chunk = 1 + rng.bounded(400);
        const Drained fast = drain(stream, chunk, PW::extractFrame);
        const Drained slow = drain(stream, chunk, referenceExtract);
        ASSERT_EQ(fast.frames, slow.frames) << "round " << round;
        ASSERT_EQ(fast.issues, slow.issues) << "round " << round;
        ASSERT_EQ(fast.rest, slow.rest) << "round " << round;
    }
}
