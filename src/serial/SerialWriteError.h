#pragma once

#include "protocol/TransError.h"
#include "serial/SerialPortError.h"

#include <QString>

#include <variant>

namespace orvane {

// Why the serial service could not send a frame: no usable link (TransError serialClosed,
// "串口未连接"), or the port refused the write (SerialPortError writeFailed).
class SerialWriteError {
public:
    SerialWriteError(TransError error)
        : error_(std::move(error)) {}
    SerialWriteError(SerialPortError error)
        : error_(std::move(error)) {}

    bool isSerialClosed() const {
        const auto* trans = std::get_if<TransError>(&error_);
        return trans && trans->code() == TransError::Code::serialClosed;
    }
    const std::variant<TransError, SerialPortError>& error() const { return error_; }

    QString description() const {
        return std::visit(
            [](const auto& e) {
                if constexpr (std::is_same_v<std::decay_t<decltype(e)>, TransError>) {
                    return e.errorDescription();
                } else {
                    return e.description();
                }
            },
            error_);
    }

    friend bool operator==(const SerialWriteError&, const SerialWriteError&) = default;

private:
    std::variant<TransError, SerialPortError> error_;
};

} // namespace orvane
