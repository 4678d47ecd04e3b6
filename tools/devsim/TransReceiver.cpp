#include "TransReceiver.h"

#include "EventPrinter.h"
#include "common/Utf8.h"
#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "protocol/TransWire.h"
#include "trans/TransPayload.h"

#include <QDir>
#include <QJsonObject>
#include <QSaveFile>

namespace orvane::devsim {

namespace {

// The simulated device keeps a whole item in memory; it refuses more than this.
constexpr qint64 maxItemBytes = 64 * 1024 * 1024;

QString hex32(quint32 value) {
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(8, u'0').toUpper();
}

// The client's own descriptions of packet errors are for its users; here we say exactly
// what was wrong.
QString describe(const TransError& error) {
    switch (error.code()) {
    case TransError::Code::headChecksumMismatch:
        return QStringLiteral("header checksum %1, header says %2")
            .arg(hex32(error.calc()), hex32(error.recv()));
    case TransError::Code::headerTooShort:
    case TransError::Code::firstReqTooShort:
        return QStringLiteral("too short for a transfer header");
    case TransError::Code::invalidHeaderLength:
        return QStringLiteral("impossible header length");
    case TransError::Code::totalSizeTooSmall:
        return QStringLiteral("total size smaller than the header");
    case TransError::Code::middleHeadTooShort:
        return QStringLiteral("too short for a chunk head");
    default:
        return error.errorDescription();
    }
}

} // namespace

TransReceiver::TransReceiver(EventPrinter& events, quint32 bufferSize, QString saveDir)
    : events_(events)
    , bufferSize_(bufferSize)
    , saveDir_(std::move(saveDir)) {}

QByteArray TransReceiver::handle(const WireHeader& header, const QByteArray& payload) {
    lastRequest_.start();
    if (header.type == FrameType::DEVICE_QUERY) {
        QByteArray answer(6, '\0');
        TransWire::storeLEUInt32(answer, 0, bufferSize_);
        events_.report(QStringLiteral("device_query"),
                       QStringLiteral("DEVICE_QUERY sn=%1 answered with buffer size %2")
                           .arg(header.sn)
                           .arg(bufferSize_),
                       {{QStringLiteral("sn"), qint64(header.sn)},
                        {QStringLiteral("bufferSize"), qint64(bufferSize_)}});
        return ProtocolWire::buildPacket(header.channel, FrameType::DEVICE_QUERY_RSP, header.sn,
                                         answer);
    }
    bool ok = false;
    switch (header.type) {
    case FrameType::START_REQUEST:
        reset();
        open_ = true;
        events_.report(
            QStringLiteral("receive_start"),
            QStringLiteral("START_REQUEST sn=%1: the client opens a transfer").arg(header.sn),
            {{QStringLiteral("sn"), qint64(header.sn)}});
        ok = true;
        break;
    case FrameType::FIRST_PACKET:
        open_ = true;
        ok = handleFirst(payload);
        break;
    case FrameType::MIDDLE_PACKET:
        ok = handleMiddle(payload);
        break;
    case FrameType::FINISH_PACKET:
        open_ = false;
        ok = handleFinish();
        break;
    default:
        ok = failed(QStringLiteral("unexpected %1 from the client")
                        .arg(ProtocolWire::typeName(header.type)));
    }
    return ProtocolWire::buildPacket(header.channel, FrameType::GENERAL_REPLY, header.sn,
                                     TransWire::buildGeneralReplyPayload(ok));
}

void TransReceiver::reset() {
    open_ = false;
    active_ = false;
    data_.clear();
}

bool TransReceiver::handleFirst(const QByteArray& payload) {
    auto request = TransWire::parseFirstTransReq(payload);
    if (!request) {
        return failed(QStringLiteral("FIRST_PACKET refused: ") + describe(request.error()));
    }
    const qint64 size = request->header.announcedPayloadSize();
    if (size > maxItemBytes) {
        return failed(
            QStringLiteral("FIRST_PACKET announces %1 bytes, more than the %2 this device holds")
                .arg(size)
                .arg(maxItemBytes));
    }
    header_ = request->header;
    data_ = QByteArray(size, '\0');
    received_ = 0;
    active_ = true;
    events_.report(QStringLiteral("receive_first"),
                   QStringLiteral("FIRST_PACKET: %1 of %2 bytes%3")
                       .arg(TransWire::transDataTypeName(header_.dataType))
                       .arg(size)
                       .arg(header_.fileName.isEmpty()
                                ? QString()
                                : QStringLiteral(" named \"%1\"").arg(header_.fileName)),
                   {{QStringLiteral("dataType"), header_.dataType},
                    {QStringLiteral("size"), size},
                    {QStringLiteral("fileName"), header_.fileName}});
    return true;
}

bool TransReceiver::handleMiddle(const QByteArray& payload) {
    const auto head = TransWire::parseCommPacketHead(payload);
    if (!head) {
        return failed(QStringLiteral("MIDDLE_PACKET refused: ") + describe(head.error()));
    }
    if (!active_) {
        return failed(QStringLiteral("MIDDLE_PACKET without FIRST_PACKET"));
    }
    const MiddleChunk chunk = TransWire::splitMiddleChunk(payload, head->flag);
    if (!chunk.checksumOk()) {
        return failed(QStringLiteral("chunk %1-%2 damaged: checksum %3, expected %4")
                          .arg(head->startIndex)
                          .arg(head->endIndex)
                          .arg(hex32(chunk.calculatedChecksum), hex32(chunk.receivedChecksum)));
    }
    const qint64 start = head->startIndex;
    const qint64 end = qint64(head->endIndex) + 1;
    if (end - start != chunk.data.size() || end > data_.size() || start > received_) {
        return failed(
            QStringLiteral("chunk %1-%2 of %3 bytes does not continue the %4 bytes received")
                .arg(head->startIndex)
                .arg(head->endIndex)
                .arg(chunk.data.size())
                .arg(received_));
    }
    std::copy(chunk.data.begin(), chunk.data.end(), data_.begin() + start);
    received_ = std::max(received_, end);
    return true;
}

bool TransReceiver::handleFinish() {
    if (!active_) {
        return failed(QStringLiteral("FINISH_PACKET without a transfer"));
    }
    active_ = false;
    if (received_ != data_.size()) {
        return failed(
            QStringLiteral("FINISH_PACKET after %1 of %2 bytes").arg(received_).arg(data_.size()));
    }
    const quint32 checksum = data_.isEmpty() ? 0 : ProtocolWire::mcAddCRC(data_);
    if (checksum != header_.mcAddChecksum) {
        return failed(QStringLiteral("payload checksum %1, header says %2")
                          .arg(hex32(checksum), hex32(header_.mcAddChecksum)));
    }
    ++itemCount_;
    QJsonObject fields{{QStringLiteral("dataType"), header_.dataType},
                       {QStringLiteral("size"), data_.size()},
                       {QStringLiteral("fileName"), header_.fileName}};
    QString text = QStringLiteral("received %1 of %2 bytes, checksums verified")
                       .arg(TransWire::transDataTypeName(header_.dataType))
                       .arg(data_.size());
    if (header_.dataType == TransWire::dataTypeText) {
        if (const auto decoded = decodeUtf8Strict(data_)) {
            fields.insert(QStringLiteral("text"), *decoded);
            text += QStringLiteral(": \"%1\"").arg(decoded->left(80));
        }
    }
    if (!saveDir_.isEmpty()) {
        const QString path = save();
        if (path.isEmpty()) {
            return failed(QStringLiteral("cannot save the received item in ") + saveDir_);
        }
        fields.insert(QStringLiteral("savedTo"), path);
        text += QStringLiteral(", saved to ") + path;
    }
    events_.report(QStringLiteral("receive_done"), text, fields);
    data_.clear();
    return true;
}

// Writes the item into the save directory and returns its path (empty on failure). Only
// the last component of a sender's file name is used, so nothing lands outside the
// directory.
QString TransReceiver::save() const {
    const QString number = QString::number(itemCount_);
    QString name;
    if (header_.dataType == TransWire::dataTypeFile) {
        name = TransPayload::reduceFileName(header_.fileName);
        if (name.isEmpty() || name == QStringLiteral(".") || name == QStringLiteral("..")) {
            name = QStringLiteral("file-") + number + QStringLiteral(".bin");
        }
    } else if (header_.dataType == TransWire::dataTypeText) {
        name = QStringLiteral("text-") + number + QStringLiteral(".txt");
    } else {
        name = QStringLiteral("image-") + number +
               (data_.startsWith("\x89PNG") ? QStringLiteral(".png") : QStringLiteral(".bin"));
    }
    const QDir dir(saveDir_);
    if (!dir.mkpath(QStringLiteral("."))) {
        return {};
    }
    QSaveFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(data_) != data_.size() || !file.commit()) {
        return {};
    }
    return file.fileName();
}

bool TransReceiver::failed(const QString& reason) {
    events_.report(QStringLiteral("receive_failed"), QStringLiteral("answering failure: ") + reason,
                   {{QStringLiteral("reason"), reason}});
    return false;
}

} // namespace orvane::devsim
