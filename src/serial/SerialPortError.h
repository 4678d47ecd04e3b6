#pragma once

#include <QString>

namespace orvane {

// Why a serial port session could not open, configure or write its port.
// description() is the Chinese text shown to the user; the message carries the
// system's own (English) text.
class SerialPortError {
public:
    enum class Code {
        openFailed,      // message
        configureFailed, // message
        writeFailed,     // message
        notOpen,
    };

    static SerialPortError openFailed(const QString& message) {
        return {Code::openFailed, message};
    }
    static SerialPortError configureFailed(const QString& message) {
        return {Code::configureFailed, message};
    }
    static SerialPortError writeFailed(const QString& message) {
        return {Code::writeFailed, message};
    }
    static SerialPortError notOpen() { return {Code::notOpen, {}}; }

    Code code() const { return code_; }
    const QString& message() const { return message_; }

    QString description() const;

    friend bool operator==(const SerialPortError&, const SerialPortError&) = default;

private:
    SerialPortError(Code code, QString message)
        : code_(code)
        , message_(std::move(message)) {}

    Code code_;
    QString message_;
};

} // namespace orvane
