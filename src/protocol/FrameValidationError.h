#pragma once

#include "protocol/WireHeader.h"

#include <QString>

#include <variant>

namespace orvane {

// Why a candidate frame was refused. description() is the printable form that
// callers put into their log lines.
class FrameValidationError {
public:
    struct PayloadTooLarge {
        quint32 len;
    };
    struct BufferTooShort {
        qint64 have;
        qint64 want;
    };
    struct CrcMismatch {
        quint32 calc;
        quint32 received;
        WireHeader header;
    };
    struct BadSync {};

    using Case = std::variant<PayloadTooLarge, BufferTooShort, CrcMismatch, BadSync>;

    static FrameValidationError payloadTooLarge(quint32 len) { return {PayloadTooLarge{len}}; }
    static FrameValidationError bufferTooShort(qint64 have, qint64 want) {
        return {BufferTooShort{have, want}};
    }
    static FrameValidationError crcMismatch(quint32 calc, quint32 received,
                                            const WireHeader& header) {
        return {CrcMismatch{calc, received, header}};
    }
    static FrameValidationError badSync() { return {BadSync{}}; }

    const Case& value() const { return case_; }
    template <typename T>
    const T* as() const {
        return std::get_if<T>(&case_);
    }

    QString description() const;

private:
    FrameValidationError(Case c)
        : case_(c) {}
    Case case_;
};

} // namespace orvane
