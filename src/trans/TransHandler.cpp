#include "trans/TransHandler.h"

#include "protocol/FrameType.h"
#include "protocol/ProtocolWire.h"
#include "protocol/TransWire.h"
#include "trans/TransPayload.h"

#include <QFile>

#include <algorithm>

namespace orvane {

namespace {

QByteArray generalReply(quint8 channel, quint32 sn, bool success) {
    return ProtocolWire::buildPacket(channel, FrameType::GENERAL_REPLY, sn,
                                     TransWire::buildGeneralReplyPayload(success));
}

// Overwrites `buffer` from `start` with as much of `chunk` as fits. Indices come from the
// peer: everything is compared in 64 bits, where no u32 index can overflow.
void writeIntoBuffer(QByteArray& buffer, qint64 start, QByteArrayView chunk) {
    const qint64 count = std::min<qint64>(chunk.size(), buffer.size() - start);
    std::memcpy(buffer.data() + start, chunk.data(), size_t(count));
}

bool chunkFits(const CommPacketHead& head, qint64 size, QByteArrayView chunk) {
    return head.startIndex <= head.endIndex && qint64(head.startIndex) < size && !chunk.isEmpty();
}

void closeFile(ReceivedFileStore& files, const std::optional<PayloadStorage>& storage,
               bool remove) {
    if (!storage) {
        return;
    }
    if (const auto* file = std::get_if<PayloadStorage::File>(&storage->value)) {
        if (file->handle) {
            file->handle->close();
        }
        if (remove) {
            files.remove(file->path);
        }
    }
}

} // namespace

qint64 TransHandler::receiveLimit(quint16 dataType) {
    switch (dataType) {
    case TransWire::dataTypeImage:
        return TransPayload::maxImageBytes;
    case TransWire::dataTypeFile:
        return -1;
    default:
        return TransPayload::maxTextBytes;
    }
}

TransHandler::TransHandler(LogFn log, LogFn warn, DeliverFn deliver,
                           std::shared_ptr<ReceivedFileStore> files)
    : log_(std::move(log))
    , warn_(std::move(warn))
    , deliver_(std::move(deliver))
    , files_(std::move(files)) {
    Q_ASSERT(log_ && warn_ && deliver_ && files_);
}

TransHandler::~TransHandler() {
    std::lock_guard guard(lock);
    resetSessionLocked(true);
}

QList<QByteArray> TransHandler::handleFrame(QByteArrayView frame) {
    auto decoded = ProtocolWire::validateFrameDetailed(frame);
    if (!decoded) {
        warn_(QStringLiteral("TRANS validate failed: ") + decoded.error().description());
        return {};
    }
    return handleFrame(decoded->header, decoded->payload);
}

QList<QByteArray> TransHandler::handleFrame(const WireHeader& header, const QByteArray& payload) {
    if (header.channel != FrameChannel::trans) {
        warn_(QString::asprintf("TRANS ignored ch=0x%02X", unsigned(header.channel)));
        return {};
    }
    // A transfer brings thousands of these; they are not worth a line each.
    if (header.type == FrameType::MIDDLE_PACKET) {
        return handleMiddle(header, payload);
    }

    log_(QStringLiteral("RX TRANS %1 sn=%2 len=%3")
             .arg(ProtocolWire::typeName(header.type))
             .arg(header.sn)
             .arg(payload.size()));
    switch (header.type) {
    case FrameType::START_REQUEST:
        return handleStart(header);
    case FrameType::DEVICE_QUERY:
        return handleDeviceQuery(header);
    case FrameType::FIRST_PACKET:
        return handleFirst(header, payload);
    case FrameType::FINISH_PACKET:
        return handleFinish(header);
    default:
        log_(QString::asprintf("  TRANS unsupported type=0x%04X", unsigned(header.type)));
        return {failReply(FrameChannel::trans, header.sn, QStringLiteral("unsupported type"))};
    }
}

QByteArray TransHandler::failReply(quint8 channel, quint32 sn, const QString& label) {
    QByteArray reply = generalReply(channel, sn, false);
    log_(QStringLiteral("TX GENERAL_REPLY fail %1 sn=%2").arg(label).arg(frameSN(reply)));
    return reply;
}

QList<QByteArray> TransHandler::handleStart(const WireHeader& header) {
    log_(QStringLiteral("  START_REQUEST"));
    resetSession(true);
    QByteArray reply = generalReply(header.channel, header.sn, true);
    log_(QStringLiteral("TX GENERAL_REPLY for START_REQUEST sn=%1").arg(frameSN(reply)));
    return {reply};
}

QList<QByteArray> TransHandler::handleDeviceQuery(const WireHeader& header) {
    log_(QStringLiteral("  DEVICE_QUERY"));
    QByteArray reply =
        ProtocolWire::buildPacket(header.channel, FrameType::DEVICE_QUERY_RSP, header.sn,
                                  TransWire::buildDeviceQueryRspPayload());
    log_(QStringLiteral("TX DEVICE_QUERY_RSP sn=%1").arg(frameSN(reply)));
    return {reply};
}

QList<QByteArray> TransHandler::handleFirst(const WireHeader& wire, QByteArrayView payload) {
    auto req = TransWire::parseFirstTransReq(payload);
    if (!req) {
        warn_(QStringLiteral("FIRST_PACKET parse error: ") + req.error().errorDescription());
        return {failReply(wire.channel, wire.sn, QStringLiteral("FIRST_PACKET parse"))};
    }
    const TransHeader& header = req->header;
    const qint64 size = header.announcedPayloadSize();
    if (size < 0) {
        warn_(QStringLiteral("FIRST_PACKET invalid payload size=%1").arg(size));
        return {failReply(wire.channel, wire.sn, QStringLiteral("FIRST_PACKET size"))};
    }
    const qint64 limit = receiveLimit(header.dataType);
    if (limit >= 0 && size > limit) {
        warn_(QStringLiteral("FIRST_PACKET payload too large size=%1 max=%2 type=%3")
                  .arg(size)
                  .arg(limit)
                  .arg(TransWire::transDataTypeName(header.dataType)));
        return {failReply(wire.channel, wire.sn, QStringLiteral("FIRST_PACKET size"))};
    }

    const QString name = TransPayload::reduceFileName(header.fileName);
    PayloadStorage storage{PayloadStorage::MemoryPending{size}};
    if (header.dataType == TransWire::dataTypeFile) {
        if (name.isEmpty()) {
            warn_(QStringLiteral("FIRST_PACKET empty file name"));
            return {failReply(wire.channel, wire.sn, QStringLiteral("FIRST_PACKET file name"))};
        }
        // Refuses names that could address anything outside today's directory ("..",
        // control characters); the name is already reduced to its last component.
        auto opened = files_->openForWriting(name, size);
        if (!opened) {
            warn_(QStringLiteral("FIRST_PACKET parse error: ") + opened.error().description());
            return {failReply(wire.channel, wire.sn, QStringLiteral("FIRST_PACKET parse"))};
        }
        storage.value = PayloadStorage::File{
            opened->path, std::shared_ptr<QFile>(std::move(opened->handle)), size};
    }

    ReceiveSession next;
    next.active = true;
    next.header = header;
    next.storage = std::move(storage);
    next.needRsp = req->needResponse;
    {
        std::lock_guard guard(lock);
        ReceiveSession previous = std::exchange(session_, std::move(next));
        // An abandoned file would otherwise sit among the received files looking complete.
        // When the new transfer has the same name, the file under it is already the new one.
        const auto* newFile = std::get_if<PayloadStorage::File>(&session_.storage->value);
        const auto* oldFile = previous.storage
                                  ? std::get_if<PayloadStorage::File>(&previous.storage->value)
                                  : nullptr;
        const bool sameFile = newFile && oldFile && newFile->path == oldFile->path;
        closeFile(*files_, previous.storage, !previous.transferOK && !sameFile);
    }

    log_(QStringLiteral("  FIRST_PACKET data_type=%1 product_id=%2 total=%3 payload=%4 file=\"%5\"")
             .arg(TransWire::transDataTypeName(header.dataType))
             .arg(header.productID)
             .arg(header.totalFileSize)
             .arg(size)
             .arg(name));
    return {generalReply(wire.channel, wire.sn, true)};
}

QList<QByteArray> TransHandler::handleMiddle(const WireHeader& wire, QByteArrayView payload) {
    auto head = TransWire::parseCommPacketHead(payload);
    if (!head) {
        warn_(QStringLiteral("MIDDLE_PACKET parse error: ") + head.error().errorDescription());
        return {failReply(wire.channel, wire.sn, QStringLiteral("MIDDLE_PACKET head"))};
    }
    const MiddleChunk chunk = TransWire::splitMiddleChunk(payload, head->flag);
    bool accepted = chunk.checksumOk();
    if (!accepted) {
        warn_(QString::asprintf("MIDDLE_PACKET pkg_crc calc=0x%08X recv=0x%08X",
                                chunk.calculatedChecksum, chunk.receivedChecksum));
    }

    QString writeError;
    {
        std::unique_lock guard(lock);
        if (!session_.active || !session_.storage) {
            guard.unlock();
            warn_(QStringLiteral("MIDDLE_PACKET no active session"));
            return {failReply(wire.channel, wire.sn, QStringLiteral("MIDDLE_PACKET session"))};
        }
        ++session_.middlePacketCount;
        if (accepted) {
            if (auto stored = storeChunkLocked(*head, chunk.data); !stored) {
                writeError = stored.error();
                accepted = false;
            } else if (qint64(head->endIndex) >= session_.highestEnd) {
                // endIndex + 1 in 64 bits: 0xFFFFFFFF must not wrap to 0.
                session_.highestEnd =
                    std::min(qint64(head->endIndex) + 1, session_.expectedPayloadSize());
            }
        }
    }
    if (!writeError.isEmpty()) {
        warn_(QStringLiteral("MIDDLE_PACKET file write error: ") + writeError);
    }
    return {generalReply(wire.channel, wire.sn, accepted)};
}

Status<QString> TransHandler::storeChunkLocked(const CommPacketHead& head, QByteArrayView chunk) {
    PayloadStorage& storage = *session_.storage;
    if (auto* memory = std::get_if<PayloadStorage::Memory>(&storage.value)) {
        if (chunkFits(head, memory->buffer.size(), chunk)) {
            writeIntoBuffer(memory->buffer, head.startIndex, chunk);
        }
        return Done{};
    }
    if (auto* pending = std::get_if<PayloadStorage::MemoryPending>(&storage.value)) {
        if (chunkFits(head, pending->announcedSize, chunk)) {
            QByteArray buffer(pending->announcedSize, '\0');
            writeIntoBuffer(buffer, head.startIndex, chunk);
            storage.value = PayloadStorage::Memory{std::move(buffer)};
        }
        return Done{};
    }
    auto& file = std::get<PayloadStorage::File>(storage.value);
    if (qint64(head.startIndex) >= file.expectedSize || chunk.isEmpty()) {
        return Done{};
    }
    if (!file.handle->seek(head.startIndex)) {
        return fail(file.handle->errorString());
    }
    // Bytes past the announced size are dropped, as in memory: written, they would grow
    // the delivered file beyond what the sender announced and the checksum covers.
    const qint64 count = std::min<qint64>(chunk.size(), file.expectedSize - head.startIndex);
    const bool continues = file.inOrder && qint64(head.startIndex) == file.writtenInOrder;
    // Whatever happens to this write, a chunk out of order leaves the file to be read
    // back for its checksum, and so does a failed one.
    file.inOrder = false;
    if (file.handle->write(chunk.data(), count) != count) {
        return fail(file.handle->errorString());
    }
    if (continues) {
        file.inOrderChecksum = ProtocolWire::mcAddCRCUpdate(
            file.inOrderChecksum, chunk.first(count), quint64(file.writtenInOrder));
        file.writtenInOrder += count;
        file.inOrder = true;
    }
    return Done{};
}

QList<QByteArray> TransHandler::handleFinish(const WireHeader& wire) {
    log_(QStringLiteral("  FINISH_PACKET"));
    const ReceiveSession current = session();

    bool success = false;
    if (!current.active) {
        warn_(QStringLiteral("FINISH_PACKET without active session"));
    } else if (!current.storage || current.highestEnd < current.expectedPayloadSize()) {
        warn_(QStringLiteral("FINISH_PACKET incomplete highest=%1 want=%2")
                  .arg(current.highestEnd)
                  .arg(current.expectedPayloadSize()));
    } else if (auto sum = payloadChecksum(current); !sum) {
        // Not compared: a payload that cannot be read back must not pass as one whose
        // checksum happens to be 0.
        warn_(QStringLiteral("FINISH_PACKET checksum read error: ") + sum.error());
    } else if (*sum != current.header.mcAddChecksum) {
        warn_(QString::asprintf("payload checksum mismatch calc=0x%08X recv=0x%08X", *sum,
                                current.header.mcAddChecksum));
    } else {
        std::optional<QString> deliverError;
        auto entry = TransPayload::buildClipboardEntry(current.header, current.storage, *files_);
        if (!entry) {
            deliverError = entry.error().description();
        } else if (auto delivered = deliver_(*entry); !delivered) {
            deliverError = delivered.error();
        }
        if (deliverError) {
            warn_(QStringLiteral("clipboard deliver error: ") + *deliverError);
        } else {
            log_(QStringLiteral("  clipboard received: kind=%1 size=%2")
                     .arg(clipboardKindRawValue(entry->kind))
                     .arg(entry->dataSize));
            {
                std::lock_guard guard(lock);
                session_.transferOK = true;
            }
            const auto* file = std::get_if<PayloadStorage::File>(&current.storage->value);
            if (file && !file->path.isEmpty()) {
                // Old days are cleared while a new file arrives; a failure changes nothing
                // for this transfer.
                (void)files_->purgeOlderThan(7);
            }
            success = true;
        }
    }

    QByteArray reply = generalReply(wire.channel, wire.sn, success);
    log_(QStringLiteral("TX GENERAL_REPLY for FINISH_PACKET sn=%1").arg(frameSN(reply)));
    resetSession(!success);
    return {reply};
}

void TransHandler::resetSession(bool discardPartialFile) {
    std::lock_guard guard(lock);
    resetSessionLocked(discardPartialFile);
}

void TransHandler::resetSessionLocked(bool discardPartialFile) {
    closeFile(*files_, session_.storage, discardPartialFile && !session_.transferOK);
    session_ = ReceiveSession{};
}

ReceiveSession TransHandler::session() const {
    std::lock_guard guard(lock);
    return session_;
}

Result<quint32, QString> TransHandler::payloadChecksum(const ReceiveSession& session) {
    if (!session.storage) {
        return quint32(0);
    }
    if (const auto* memory = std::get_if<PayloadStorage::Memory>(&session.storage->value)) {
        return ProtocolWire::mcAddCRC(memory->buffer);
    }
    const auto* file = std::get_if<PayloadStorage::File>(&session.storage->value);
    if (!file) {
        return quint32(0);
    }
    // The delivered file is complete: nothing of it may stay in QFile's buffer.
    if (!file->handle->flush()) {
        return fail(file->handle->errorString());
    }
    if (file->inOrder && file->writtenInOrder == file->expectedSize) {
        return file->inOrderChecksum;
    }
    // Chunks came out of order, repeated or overlapping: the file holds the last bytes
    // written at each place, so it is read back.
    return ProtocolWire::mcAddCRC(file->path, file->expectedSize);
}

quint32 TransHandler::frameSN(QByteArrayView frame) {
    if (frame.size() < 7) {
        return 0;
    }
    return TransWire::loadLEUInt32(frame, 3);
}

} // namespace orvane
