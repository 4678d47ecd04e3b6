// Drives one receiver through a sequence of TRANS frames derived from the input: whole
// transfers, chunks with any indices, damaged and truncated frames, hostile file names.
// Invariants: no crash; a frame that passes validation on channel 0x06 gets exactly one
// reply, a GENERAL_REPLY (or, for DEVICE_QUERY, the DEVICE_QUERY_RSP) carrying the
// request's sn; nothing else gets a reply; no file appears outside today's received-files
// folder and the image folder; and once the receiver is gone, the received files left
// are the delivered ones.
#include "FuzzCheck.h"
#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "protocol/TransWire.h"
#include "storage/DataDirectoryFiles.h"
#include "trans/TransHandler.h"

#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QSet>
#include <QTemporaryDir>

#include <cstdint>

using namespace orvane;
namespace PW = orvane::ProtocolWire;
namespace TW = orvane::TransWire;
namespace FT = orvane::FrameType;

namespace {

// Sizes stay small so the fuzzer spends its time on logic, not on allocating.
constexpr quint32 kMaxAnnounced = 4096;

class Input {
public:
    Input(const uint8_t* data, size_t size)
        : data_(data)
        , size_(size) {}
    bool empty() const { return at_ >= size_; }
    quint8 byte() { return at_ < size_ ? data_[at_++] : 0; }
    quint32 u16() { return quint32(byte()) | quint32(byte()) << 8; }
    quint32 u32() { return u16() | u16() << 16; }
    QByteArray bytes(qsizetype n) {
        const qsizetype take = qsizetype(std::min<size_t>(size_t(n), size_ - std::min(at_, size_)));
        QByteArray out(reinterpret_cast<const char*>(data_ + at_), take);
        at_ += size_t(take);
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// The payload a well-behaved device would send; chunks taken from it let whole transfers
// succeed, so delivery and file keeping are reached too.
QByteArray modelPayload(qsizetype n) {
    QByteArray out(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i) {
        out[i] = char(i * 7 + 3);
    }
    return out;
}

QString dataHome() {
    static QTemporaryDir dir;
    static const bool set = [] {
        qputenv("XDG_DATA_HOME", dir.path().toLocal8Bit());
        return true;
    }();
    (void)set;
    return dir.path();
}

QByteArray firstPayload(Input& in, quint32& announced) {
    const quint16 dataType = in.byte() % 4;
    announced = in.u16() % (kMaxAnnounced + 1);
    const quint8 mode = in.byte();
    QByteArray header = TW::buildTransHeader(dataType, {}, {});
    const QByteArray name = in.bytes(in.byte() % 30);
    header.replace(TW::fileNameOffset, std::min<qsizetype>(name.size(), 30), name.left(30));
    const quint32 total = (mode & 1) ? in.u32() : announced + 52;
    TW::storeLEUInt32(header, 40, total);
    TW::storeLEUInt32(header, 44, (mode & 2) ? in.u32() : PW::mcAddCRC(modelPayload(announced)));
    TW::storeLEUInt32(header, 48, PW::mcAddCRC(QByteArrayView(header).first(48)));
    if (mode & 4) {
        header[in.byte() % 52] = char(in.byte());
    }
    // Clamp a size taken from the input, whatever the corruption did.
    const quint32 headerLength = TW::loadLEUInt32(header, 0) & 0xFFFF;
    if (TW::loadLEUInt32(header, 40) > headerLength + kMaxAnnounced) {
        TW::storeLEUInt32(header, 40, headerLength + kMaxAnnounced);
    }
    QByteArray payload = TW::buildFirstTransReqPayload(header);
    if (mode & 8) {
        payload.truncate(in.byte() % payload.size());
    }
    return payload;
}

QByteArray middlePayload(Input& in, quint32 announced) {
    const quint8 mode = in.byte();
    quint32 start = in.u16() % (announced + 2);
    quint32 length = in.u16() % 600;
    quint32 end = start + length - 1;
    switch (mode & 3) {
    case 1:
        end = in.u32();
        break;
    case 2:
        start = in.u32();
        end = in.u32();
        break;
    default:
        break;
    }
    const QByteArray model = modelPayload(announced);
    const QByteArray chunk = (mode & 4) ? in.bytes(length) : model.mid(start, length);
    QByteArray payload = TW::buildTransMiddlePayload(chunk, start, end, !(mode & 8));
    if (mode & 16) {
        payload.truncate(in.byte() % (payload.size() + 1));
    }
    if (mode & 32 && !payload.isEmpty()) {
        payload[in.byte() % payload.size()] ^= char(1 + in.byte() % 255);
    }
    return payload;
}

void checkReplies(const QByteArray& request, const QList<QByteArray>& replies) {
    auto decoded = PW::validateFrameDetailed(request);
    if (!decoded || decoded->header.channel != FrameChannel::trans) {
        FUZZ_CHECK(replies.isEmpty());
        return;
    }
    FUZZ_CHECK(replies.size() == 1);
    auto reply = PW::validateFrameDetailed(replies[0]);
    FUZZ_CHECK(reply.ok());
    FUZZ_CHECK(replies[0].size() == reply->header.len + PW::frameOverhead);
    FUZZ_CHECK(reply->header.channel == FrameChannel::trans);
    FUZZ_CHECK(reply->header.sn == decoded->header.sn);
    if (decoded->header.type == FT::DEVICE_QUERY) {
        FUZZ_CHECK(reply->header.type == FT::DEVICE_QUERY_RSP);
        FUZZ_CHECK(reply->payload == TW::buildDeviceQueryRspPayload());
    } else {
        FUZZ_CHECK(reply->header.type == FT::GENERAL_REPLY);
        FUZZ_CHECK(reply->payload == TW::buildGeneralReplyPayload(true) ||
                   reply->payload == TW::buildGeneralReplyPayload(false));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString home = dataHome();
    const QString appDir = home + QStringLiteral("/Orvane");
    QDir(appDir).removeRecursively();

    QSet<QString> delivered;
    {
        TransHandler handler([](const QString&) {}, [](const QString&) {},
                             [&](const ClipboardEntry& entry) -> Status<QString> {
                                 for (const QString& f : entry.files) {
                                     delivered.insert(f);
                                 }
                                 return Done{};
                             },
                             std::make_shared<DataDirectoryFiles>(DataDirectory::standard()));
        Input in(data, size);
        quint32 announced = 0;
        for (int step = 0; step < 64 && !in.empty(); ++step) {
            const quint8 op = in.byte();
            const quint32 sn = in.byte();
            quint8 channel = FrameChannel::trans;
            quint16 type = FT::START_REQUEST;
            QByteArray payload;
            switch (op % 8) {
            case 0:
                type = FT::START_REQUEST;
                break;
            case 1:
                type = FT::DEVICE_QUERY;
                break;
            case 2:
                type = FT::FIRST_PACKET;
                payload = firstPayload(in, announced);
                break;
            case 3:
            case 4:
                type = FT::MIDDLE_PACKET;
                payload = middlePayload(in, announced);
                break;
            case 5:
                type = FT::FINISH_PACKET;
                break;
            case 6:
                type = quint16(in.u16());
                channel = in.byte() & 1 ? FrameChannel::trans : in.byte();
                payload = in.bytes(in.byte());
                break;
            default:
                break;
            }
            QByteArray frame = PW::buildPacket(channel, type, sn, payload);
            if (op % 8 == 7) {
                // A damaged or truncated frame.
                frame = PW::buildPacket(FrameChannel::trans, quint16(in.byte() % 6), sn,
                                        in.bytes(in.byte()));
                if (in.byte() & 1) {
                    frame.truncate(in.byte() % frame.size());
                } else {
                    frame[in.byte() % frame.size()] ^= char(1 + in.byte() % 255);
                }
            }
            checkReplies(frame, handler.handleFrame(frame));
        }
    }

    const QString today =
        appDir + QStringLiteral("/files/") + QDate::currentDate().toString("yyyy-MM-dd") + u'/';
    const QString images = appDir + QStringLiteral("/clipboard_images/");
    QDirIterator it(home, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        FUZZ_CHECK(path.startsWith(images) ||
                   (path.startsWith(today) && !path.mid(today.size()).contains(u'/')));
        FUZZ_CHECK(path.startsWith(images) || delivered.contains(path));
    }
    return 0;
}
