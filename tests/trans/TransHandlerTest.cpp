#include "trans/TransHandler.h"

#include "TransTestFrames.h"
#include "storage/DataDirectoryFiles.h"
#include "storage/TemporaryDataHome.h"

#include <QDate>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace orvane;
using namespace transframes;
namespace FT = orvane::FrameType;

namespace {

QByteArray patterned(qsizetype n, int seed = 1) {
    QByteArray out(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i) {
        out[i] = char((i * 131 + seed * 17 + (i >> 7)) & 0xFF);
    }
    return out;
}

class TransHandlerTest : public TemporaryDataHome {
protected:
    void SetUp() override {
        TemporaryDataHome::SetUp();
        handler_ = std::make_unique<TransHandler>(
            [this](const QString& line) { lines_.append(QStringLiteral("SYS ") + line); },
            [this](const QString& line) { lines_.append(QStringLiteral("WRN ") + line); },
            [this](const ClipboardEntry& entry) -> Status<QString> {
                delivered_.append(entry);
                if (deliverFailure_) {
                    return fail(*deliverFailure_);
                }
                return Done{};
            },
            std::make_shared<DataDirectoryFiles>(DataDirectory::standard()));
    }

    QList<QByteArray> send(const QByteArray& frame) { return handler_->handleFrame(frame); }

    // Sends a frame that must be answered with the plain reply `ok`.
    void expectReply(const QByteArray& frame, bool ok) {
        const QList<QByteArray> replies = send(frame);
        ASSERT_EQ(replies.size(), 1);
        EXPECT_EQ(replies[0], reply(TransHandler::frameSN(frame), ok));
    }

    QStringList warnings() const { return lines_.filter(QRegularExpression("^WRN ")); }

    QString todayDir() const {
        return dataDir() + QStringLiteral("/files/") +
               QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    }

    // Every regular file under the temporary home, relative to it.
    QStringList allFiles() const {
        QStringList out;
        QDirIterator it(home_.path(), QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            out.append(QDir(home_.path()).relativeFilePath(it.next()));
        }
        out.sort();
        return out;
    }

    QString todayRelative(const QString& name) const {
        return QDir(home_.path()).relativeFilePath(todayDir() + u'/' + name);
    }

    static QByteArray readAll(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // A whole transfer in chunks of `chunkSize`, in order; returns the FINISH reply.
    QByteArray transfer(quint16 dataType, const QByteArray& payload, const QString& name = {},
                        qsizetype chunkSize = 1000) {
        EXPECT_EQ(send(trans(FT::START_REQUEST, 0)), QList{reply(0, true)});
        EXPECT_EQ(send(firstFor(1, dataType, payload, name)), QList{reply(1, true)});
        quint32 sn = 2;
        for (qsizetype at = 0; at < payload.size(); at += chunkSize) {
            EXPECT_EQ(send(chunkOf(sn, payload, at, chunkSize)), QList{reply(sn, true)});
            ++sn;
        }
        const QList<QByteArray> replies = send(finish(sn));
        return replies.size() == 1 ? replies[0] : QByteArray();
    }

    std::unique_ptr<TransHandler> handler_;
    QStringList lines_;
    QList<ClipboardEntry> delivered_;
    std::optional<QString> deliverFailure_;
};

TEST_F(TransHandlerTest, DeviceQueryIsAnsweredWithTheIdentityFrame) {
    const QList<QByteArray> replies = send(trans(FT::DEVICE_QUERY, 7));
    ASSERT_EQ(replies.size(), 1);
    const QByteArray head = QByteArray::fromHex("57AB06070000000C0000008200060000004028000000"
                                                "00");
    EXPECT_EQ(replies[0].size(), 27);
    EXPECT_EQ(replies[0].first(23), head);
    EXPECT_EQ(TransWire::loadLEUInt32(replies[0], 23), ProtocolWire::mcAddCRC(head));
    EXPECT_EQ(lines_, QStringList({"SYS RX TRANS DEVICE_QUERY sn=7 len=0", "SYS   DEVICE_QUERY",
                                   "SYS TX DEVICE_QUERY_RSP sn=7"}));
}

TEST_F(TransHandlerTest, DeviceQueryInTheMiddleOfATransferLeavesItAlone) {
    const QByteArray text = "hello";
    expectReply(firstFor(1, TransWire::dataTypeText, text), true);
    expectReply(chunkOf(2, text, 0, 3), true);
    ASSERT_EQ(send(trans(FT::DEVICE_QUERY, 3)).size(), 1);
    expectReply(chunkOf(4, text, 3, 2), true);
    expectReply(finish(5), true);
    ASSERT_EQ(delivered_.size(), 1);
    EXPECT_EQ(delivered_[0].text, "hello");
}

TEST_F(TransHandlerTest, TextTransferIsDeliveredWithItsLogLines) {
    const QByteArray text = QStringLiteral("剪贴板 text").toUtf8();
    EXPECT_EQ(transfer(TransWire::dataTypeText, text, {}, 4), reply(6, true));
    ASSERT_EQ(delivered_.size(), 1);
    EXPECT_EQ(delivered_[0].kind, ClipboardKind::text);
    EXPECT_EQ(delivered_[0].text, QStringLiteral("剪贴板 text"));
    EXPECT_EQ(delivered_[0].dataSize, text.size());

    const QString total = QString::number(text.size() + 52);
    const QString size = QString::number(text.size());
    EXPECT_EQ(lines_, QStringList({
                          "SYS RX TRANS START_REQUEST sn=0 len=0",
                          "SYS   START_REQUEST",
                          "SYS TX GENERAL_REPLY for START_REQUEST sn=0",
                          "SYS RX TRANS FIRST_PACKET sn=1 len=105",
                          "SYS   FIRST_PACKET data_type=text product_id=191 total=" + total +
                              " payload=" + size + " file=\"\"",
                          "SYS RX TRANS FINISH_PACKET sn=6 len=0",
                          "SYS   FINISH_PACKET",
                          "SYS   clipboard received: kind=text size=" + size,
                          "SYS TX GENERAL_REPLY for FINISH_PACKET sn=6",
                      }));
    EXPECT_FALSE(handler_->session().active);
}

TEST_F(TransHandlerTest, ImageIsStoredAndDeliveredAsAPath) {
    const QByteArray image = patterned(30000);
    EXPECT_EQ(transfer(TransWire::dataTypeImage, image), reply(32, true));
    ASSERT_EQ(delivered_.size(), 1);
    EXPECT_EQ(delivered_[0].kind, ClipboardKind::image);
    EXPECT_EQ(delivered_[0].text, QStringLiteral("[截图]"));
    ASSERT_TRUE(delivered_[0].imagePath.has_value());
    EXPECT_EQ(readAll(*delivered_[0].imagePath), image);
    EXPECT_TRUE(lines_.contains("SYS   clipboard received: kind=image size=30000"));
}

TEST_F(TransHandlerTest, FileChunksOutOfOrderAndRepeatedLandAtTheirOffsets) {
    const QByteArray content = patterned(10000, 3);
    expectReply(firstFor(1, TransWire::dataTypeFile, content, "C:\\Users\\a\\report.pdf"), true);
    EXPECT_TRUE(lines_.last().endsWith("payload=10000 file=\"report.pdf\""));
    quint32 sn = 2;
    for (qsizetype at : {4000, 0, 8000, 2000, 0, 6000, 8000}) {
        expectReply(chunkOf(sn++, content, at, 2000), true);
    }
    EXPECT_EQ(handler_->session().middlePacketCount, 7);
    expectReply(finish(sn), true);

    const QString path = todayDir() + QStringLiteral("/report.pdf");
    EXPECT_EQ(readAll(path), content);
    ASSERT_EQ(delivered_.size(), 1);
    EXPECT_EQ(delivered_[0].kind, ClipboardKind::files);
    EXPECT_EQ(delivered_[0].files, QStringList{path});
    EXPECT_EQ(delivered_[0].text, path);
    EXPECT_EQ(delivered_[0].dataSize, 10000);
    EXPECT_TRUE(warnings().isEmpty()) << warnings().join('\n').toStdString();
}

TEST_F(TransHandlerTest, FileChecksumFollowsWhatTheFileHoldsWhenAChunkIsRewritten) {
    const QByteArray content = patterned(3000, 5);
    const QByteArray other = patterned(3000, 6);
    // In order, then the first chunk again with other bytes: the file no longer matches.
    expectReply(firstFor(1, TransWire::dataTypeFile, content, "rewritten.bin"), true);
    quint32 sn = 2;
    for (qsizetype at : {0, 1000, 2000}) {
        expectReply(chunkOf(sn++, content, at, 1000), true);
    }
    expectReply(chunkOf(sn++, other, 0, 1000), true);
    expectReply(finish(sn++), false);
    EXPECT_TRUE(delivered_.isEmpty());

    // Other bytes first, then the right ones over them and the rest in order: it matches.
    expectReply(firstFor(sn++, TransWire::dataTypeFile, content, "rewritten.bin"), true);
    expectReply(chunkOf(sn++, other, 0, 1000), true);
    for (qsizetype at : {0, 1000, 2000}) {
        expectReply(chunkOf(sn++, content, at, 1000), true);
    }
    expectReply(finish(sn++), true);
    EXPECT_EQ(readAll(todayDir() + "/rewritten.bin"), content);
    EXPECT_EQ(delivered_.size(), 1);
}

TEST_F(TransHandlerTest, MissingChunkBeforeTheLastFailsTheChecksumAndRemovesTheFile) {
    const QByteArray content = patterned(3000);
    expectReply(firstFor(1, TransWire::dataTypeFile, content, "gap.bin"), true);
    expectReply(chunkOf(2, content, 0, 1000), true);
    expectReply(chunkOf(3, content, 2000, 1000), true);
    EXPECT_TRUE(QFile::exists(todayDir() + "/gap.bin"));
    expectReply(finish(4), false);

    EXPECT_TRUE(delivered_.isEmpty());
    ASSERT_EQ(warnings().size(), 1);
    EXPECT_TRUE(warnings()[0].startsWith("WRN payload checksum mismatch calc=0x"));
    EXPECT_TRUE(
        warnings()[0].endsWith(QString::asprintf(" recv=0x%08X", ProtocolWire::mcAddCRC(content))));
    EXPECT_EQ(lines_.last(), "SYS TX GENERAL_REPLY for FINISH_PACKET sn=4");
    EXPECT_FALSE(QFile::exists(todayDir() + "/gap.bin"));
}

TEST_F(TransHandlerTest, FinishBelowTheHighWaterMarkFails) {
    const QByteArray content = patterned(3000);
    expectReply(firstFor(1, TransWire::dataTypeFile, content, "short.bin"), true);
    expectReply(chunkOf(2, content, 0, 1000), true);
    expectReply(finish(3), false);
    EXPECT_EQ(warnings(), QStringList{"WRN FINISH_PACKET incomplete highest=1000 want=3000"});
    EXPECT_FALSE(QFile::exists(todayDir() + "/short.bin"));
    // The session is over: further chunks find none.
    expectReply(chunkOf(4, content, 1000, 1000), false);
}

TEST_F(TransHandlerTest, PacketsWithoutASessionAreRefused) {
    expectReply(finish(9), false);
    expectReply(chunkOf(10, "abc", 0, 3), false);
    EXPECT_EQ(lines_, QStringList({
                          "SYS RX TRANS FINISH_PACKET sn=9 len=0",
                          "SYS   FINISH_PACKET",
                          "WRN FINISH_PACKET without active session",
                          "SYS TX GENERAL_REPLY for FINISH_PACKET sn=9",
                          "WRN MIDDLE_PACKET no active session",
                          "SYS TX GENERAL_REPLY fail MIDDLE_PACKET session sn=10",
                      }));
}

TEST_F(TransHandlerTest, AnnouncedSizesAreCheckedAgainstTheLimitOfTheirType) {
    expectReply(first(1, header(TransWire::dataTypeText, 1048577, 0)), false);
    expectReply(first(2, header(TransWire::dataTypeImage, 10485761, 0)), false);
    expectReply(first(3, header(9, 1048577, 0)), false);
    EXPECT_EQ(warnings(),
              QStringList({
                  "WRN FIRST_PACKET payload too large size=1048577 max=1048576 type=text",
                  "WRN FIRST_PACKET payload too large size=10485761 max=10485760 type=image",
                  "WRN FIRST_PACKET payload too large size=1048577 max=1048576 type=type(9)",
              }));
    EXPECT_EQ(lines_.last(), "SYS TX GENERAL_REPLY fail FIRST_PACKET size sn=3");
    EXPECT_FALSE(handler_->session().active);

    expectReply(first(4, header(TransWire::dataTypeText, 1048576, 0)), true);
    expectReply(first(5, header(TransWire::dataTypeImage, 10485760, 0)), true);
    expectReply(first(6, header(TransWire::dataTypeFile, 50'000'000, 0, "big.iso")), true);
    EXPECT_EQ(QFileInfo(todayDir() + "/big.iso").size(), 50'000'000);
    // Nothing is allocated for a memory transfer before its first chunk.
    expectReply(first(7, header(TransWire::dataTypeImage, 10485760, 0)), true);
    const ReceiveSession session = handler_->session();
    ASSERT_TRUE(session.storage.has_value());
    EXPECT_TRUE(std::holds_alternative<PayloadStorage::MemoryPending>(session.storage->value));
}

TEST_F(TransHandlerTest, HeaderAnnouncingANegativeSizeIsAParseError) {
    const QByteArray good = patterned(100);
    expectReply(firstFor(1, TransWire::dataTypeText, good), true);
    // totalFileSize 40 below headerLength 52.
    expectReply(first(2, header(TransWire::dataTypeText, -12, 0)), false);
    EXPECT_EQ(warnings(), QStringList{"WRN FIRST_PACKET parse error: TRANS 协议错误"});
    EXPECT_EQ(lines_.last(), "SYS TX GENERAL_REPLY fail FIRST_PACKET parse sn=2");
    // A refused header leaves the transfer in progress untouched.
    expectReply(chunkOf(3, good, 0, 100), true);
    expectReply(finish(4), true);
    ASSERT_EQ(delivered_.size(), 1);
}

TEST_F(TransHandlerTest, UnusableFileNamesAreRefusedAndNothingIsWrittenOutsideToday) {
    expectReply(first(1, header(TransWire::dataTypeFile, 10, 0, "///")), false);
    EXPECT_EQ(warnings().last(), "WRN FIRST_PACKET empty file name");
    EXPECT_EQ(lines_.last(), "SYS TX GENERAL_REPLY fail FIRST_PACKET file name sn=1");

    expectReply(first(2, header(TransWire::dataTypeFile, 10, 0, "   ")), false);
    EXPECT_EQ(warnings().last(), "WRN FIRST_PACKET empty file name");

    for (const char* name : {"..", "a/..", "x\\..", ".", "bad\x01name"}) {
        SCOPED_TRACE(name);
        expectReply(first(3, header(TransWire::dataTypeFile, 10, 0, QString::fromUtf8(name))),
                    false);
        EXPECT_TRUE(warnings().last().startsWith("WRN FIRST_PACKET parse error: "));
        EXPECT_EQ(lines_.last(), "SYS TX GENERAL_REPLY fail FIRST_PACKET parse sn=3");
    }
    // Separators are cut away; what is left lands in today's directory.
    const QByteArray content = "0123456789";
    for (const char* name : {"../../escape.txt", "..\\..\\escape2.txt", "/etc/passwd"}) {
        SCOPED_TRACE(name);
        expectReply(firstFor(4, TransWire::dataTypeFile, content, QString::fromUtf8(name)), true);
        expectReply(chunkOf(5, content, 0, 10), true);
        expectReply(finish(6), true);
    }
    EXPECT_EQ(allFiles(), QStringList({todayRelative("escape.txt"), todayRelative("escape2.txt"),
                                       todayRelative("passwd")}));
}

TEST_F(TransHandlerTest, DamagedChunkIsRefusedAndNotStored) {
    const QByteArray text = "abcdef";
    expectReply(firstFor(1, TransWire::dataTypeText, text), true);
    QByteArray damaged = chunkOf(2, text, 0, 6);
    // Flip one chunk byte and fix the frame checksum, as a device bug would.
    QByteArray payload = TransWire::buildTransMiddlePayload("abcxef", 0, 5, true);
    TransWire::storeLEUInt32(payload, payload.size() - 4, ProtocolWire::mcAddCRC("abcdef"));
    expectReply(trans(FT::MIDDLE_PACKET, 2, payload), false);
    EXPECT_EQ(warnings(), QStringList{QString::asprintf(
                              "WRN MIDDLE_PACKET pkg_crc calc=0x%08X recv=0x%08X",
                              ProtocolWire::mcAddCRC("abcxef"), ProtocolWire::mcAddCRC("abcdef"))});
    EXPECT_EQ(handler_->session().highestEnd, 0);
    EXPECT_EQ(handler_->session().middlePacketCount, 1);

    // Flag 0x02 with fewer than 4 bytes after the head: the chunk is checked against 0.
    QByteArray tiny = QByteArray::fromHex("02000000000100000061") + "b";
    expectReply(trans(FT::MIDDLE_PACKET, 3, tiny), false);
    // The resent good chunk completes the transfer.
    expectReply(damaged, true);
    expectReply(finish(4), true);
    ASSERT_EQ(delivered_.size(), 1);
    EXPECT_EQ(delivered_[0].text, "abcdef");
}

TEST_F(TransHandlerTest, UncheckedChunkIsStoredWhole) {
    // Without flag 0x02 the trailing four bytes are data, not a checksum.
    const QByteArray text = "abcd";
    expectReply(firstFor(1, TransWire::dataTypeText, text), true);
    QByteArray payload = QByteArray::fromHex("00000000000300000061626364");
    expectReply(trans(FT::MIDDLE_PACKET, 2, payload), true);
    expectReply(finish(3), true);
    ASSERT_EQ(delivered_.size(), 1);
    EXPECT_EQ(delivered_[0].text, "abcd");
}

TEST_F(TransHandlerTest, IndicesBeyondTheAnnouncedSizeAreCappedWithoutOverflow) {
    const QByteArray text = "0123456789";
    expectReply(firstFor(1, TransWire::dataTypeText, text), true);
    // endIndex 0xFFFFFFFF: + 1 must not wrap to 0.
    expectReply(middle(2, "01234", 0, 0xFFFFFFFF), true);
    EXPECT_EQ(handler_->session().highestEnd, 10);
    // Start past the end: nothing stored; start near the end: only what fits.
    expectReply(middle(3, "zzzz", 0xFFFFFFFC, 0xFFFFFFFF), true);
    expectReply(middle(4, "56789XYZ", 5, 12), true);
    // startIndex above endIndex: skipped.
    expectReply(middle(5, "qq", 3, 2), true);
    const ReceiveSession session = handler_->session();
    ASSERT_TRUE(std::holds_alternative<PayloadStorage::Memory>(session.storage->value));
    EXPECT_EQ(std::get<PayloadStorage::Memory>(session.storage->value).buffer, text);
    expectReply(finish(6), true);
    ASSERT_EQ(delivered_.size(), 1);
    EXPECT_EQ(delivered_[0].text, text);
}

TEST_F(TransHandlerTest, FileChunkPastTheAnnouncedSizeDoesNotGrowTheFile) {
    const QByteArray content = "0123456789";
    expectReply(firstFor(1, TransWire::dataTypeFile, content, "ten.txt"), true);
    expectReply(middle(2, "01234", 0, 4), true);
    expectReply(middle(3, "56789EXTRA", 5, 14), true);
    expectReply(middle(4, "far", 0xFFFFFFF0, 0xFFFFFFF2), true);
    expectReply(finish(5), true);
    EXPECT_EQ(readAll(todayDir() + "/ten.txt"), content);
}

TEST_F(TransHandlerTest, TruncatedAndStrayFramesAreRefused) {
    // MIDDLE_PACKET with a 5-byte head.
    expectReply(trans(FT::MIDDLE_PACKET, 1, "\x02\0\0\0\0"), false);
    // FIRST_PACKET of 52 bytes.
    expectReply(trans(FT::FIRST_PACKET, 2, QByteArray(52, '\0')), false);
    // A GENERAL_REPLY with no send running.
    expectReply(reply(3, true), false);
    EXPECT_EQ(lines_, QStringList({
                          "WRN MIDDLE_PACKET parse error: TRANS 协议错误",
                          "SYS TX GENERAL_REPLY fail MIDDLE_PACKET head sn=1",
                          "SYS RX TRANS FIRST_PACKET sn=2 len=52",
                          "WRN FIRST_PACKET parse error: TRANS 协议错误",
                          "SYS TX GENERAL_REPLY fail FIRST_PACKET parse sn=2",
                          "SYS RX TRANS GENERAL_REPLY sn=3 len=2",
                          "SYS   TRANS unsupported type=0x0000",
                          "SYS TX GENERAL_REPLY fail unsupported type sn=3",
                      }));
    lines_.clear();

    // A frame cut short, a damaged frame and one on another channel get no reply at all.
    const QByteArray whole = trans(FT::START_REQUEST, 4, "xyz");
    EXPECT_TRUE(send(whole.first(whole.size() - 1)).isEmpty());
    QByteArray damaged = whole;
    damaged[18] = 'Y';
    EXPECT_TRUE(send(damaged).isEmpty());
    EXPECT_TRUE(send(ProtocolWire::buildPacket(0x05, FT::START_REQUEST, 4, {})).isEmpty());
    ASSERT_EQ(lines_.size(), 3);
    EXPECT_TRUE(lines_[0].startsWith("WRN TRANS validate failed: buffer too short"));
    EXPECT_TRUE(lines_[1].startsWith("WRN TRANS validate failed: CRC mismatch"));
    EXPECT_EQ(lines_[2], "WRN TRANS ignored ch=0x05");
}

TEST_F(TransHandlerTest, StartRequestAbandonsAFileTransferAndRemovesIt) {
    const QByteArray content = patterned(5000);
    expectReply(firstFor(1, TransWire::dataTypeFile, content, "partial.bin"), true);
    expectReply(chunkOf(2, content, 0, 1000), true);
    ASSERT_TRUE(QFile::exists(todayDir() + "/partial.bin"));
    expectReply(trans(FT::START_REQUEST, 3), true);
    EXPECT_FALSE(QFile::exists(todayDir() + "/partial.bin"));
    EXPECT_FALSE(handler_->session().active);
    expectReply(chunkOf(4, content, 1000, 1000), false);
}

TEST_F(TransHandlerTest, NewFirstPacketReplacesAnOpenTransfer) {
    const QByteArray a = patterned(3000, 1);
    const QByteArray b = patterned(2000, 2);
    expectReply(firstFor(1, TransWire::dataTypeFile, a, "a.bin"), true);
    expectReply(chunkOf(2, a, 0, 1000), true);
    // The abandoned file does not stay behind looking like a received one.
    expectReply(firstFor(3, TransWire::dataTypeFile, b, "b.bin"), true);
    EXPECT_FALSE(QFile::exists(todayDir() + "/a.bin"));
    expectReply(chunkOf(4, b, 0, 2000), true);
    // The same name again: the file is the new transfer's and survives.
    expectReply(firstFor(5, TransWire::dataTypeFile, a, "b.bin"), true);
    EXPECT_TRUE(QFile::exists(todayDir() + "/b.bin"));
    expectReply(chunkOf(6, a, 0, 3000), true);
    expectReply(finish(7), true);
    EXPECT_EQ(readAll(todayDir() + "/b.bin"), a);
    EXPECT_EQ(allFiles(), QStringList{todayRelative("b.bin")});
}

TEST_F(TransHandlerTest, EmptyPayloads) {
    expectReply(first(1, header(TransWire::dataTypeText, 0, 0)), true);
    expectReply(finish(2), false);
    EXPECT_EQ(warnings(), QStringList{"WRN clipboard deliver error: 空内容"});

    expectReply(first(3, header(TransWire::dataTypeFile, 0, 0, "empty.txt")), true);
    expectReply(finish(4), true);
    ASSERT_EQ(delivered_.size(), 1);
    EXPECT_EQ(delivered_[0].dataSize, 0);
    EXPECT_TRUE(QFileInfo(todayDir() + "/empty.txt").isFile());
    EXPECT_EQ(QFileInfo(todayDir() + "/empty.txt").size(), 0);
}

TEST_F(TransHandlerTest, FailedDeliveryFailsTheTransferAndRemovesTheFile) {
    deliverFailure_ = QStringLiteral("剪贴板写入失败");
    const QByteArray content = patterned(100);
    EXPECT_EQ(transfer(TransWire::dataTypeFile, content, "x.bin"), reply(3, false));
    EXPECT_EQ(warnings(), QStringList{"WRN clipboard deliver error: 剪贴板写入失败"});
    EXPECT_FALSE(QFile::exists(todayDir() + "/x.bin"));

    // An unknown data type passes the size test and fails at delivery.
    deliverFailure_.reset();
    lines_.clear();
    EXPECT_EQ(transfer(5, "abc"), reply(3, false));
    EXPECT_EQ(warnings(),
              QStringList{"WRN clipboard deliver error: 传输失败: unsupported data_type=5"});
}

TEST_F(TransHandlerTest, DestroyingTheHandlerRemovesAnUnfinishedFile) {
    const QByteArray content = patterned(100);
    expectReply(firstFor(1, TransWire::dataTypeFile, content, "open.bin"), true);
    ASSERT_TRUE(QFile::exists(todayDir() + "/open.bin"));
    handler_.reset();
    EXPECT_FALSE(QFile::exists(todayDir() + "/open.bin"));
}

} // namespace
