#pragma once

#include "serial/SerialErrorKind.h"

#include <QString>

namespace orvane {

// Why a serial port session could not open, configure or write its port.
// description() is the Chinese text shown to the user; the message carries the system's
// own text, in the user's language. kind() is what callers decide by.
class SerialPortError {
public:
    enum class Code {
        openFailed,      // message
        configureFailed, // message
        writeFailed,     // message
        notOpen,
    };

    static SerialPortError openFailed(const QString& message,
                                      SerialErrorKind kind = SerialErrorKind::other) {
        return {Code::openFailed, message, kind};
    }
    static SerialPortError configureFailed(const QString& message,
                                           SerialErrorKind kind = SerialErrorKind::other) {
        return {Code::configureFailed, message, kind};
    }
    static SerialPortError writeFailed(const QString& message,
                                       SerialErrorKind kind = SerialErrorKind::other) {
        return {Code::writeFailed, message, kind};
    }
    static SerialPortError notOpen() { return {Code::notOpen, {}, SerialErrorKind::other}; }

    Code code() const { return code_; }
    const QString& message() const { return message_; }
    SerialErrorKind kind() const { return kind_; }

    QString description() const;

    friend bool operator==(const SerialPortError&, const SerialPortError&) = default;

private:
    SerialPortError(Code code, QString message, SerialErrorKind kind)
        : code_(code)
        , message_(std::move(message))
        , kind_(kind) {}

    Code code_;
    QString message_;
    SerialErrorKind kind_;
};

} // namespace orvane
