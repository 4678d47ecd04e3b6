#include "protocol/FrameValidationError.h"

#include "protocol/ProtocolWire.h"

namespace orvane {

namespace {
template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;
} // namespace

QString FrameValidationError::description() const {
    return std::visit(
        Overloaded{
            [](const PayloadTooLarge& e) {
                return QStringLiteral("payload too large (%1 > max %2)")
                    .arg(e.len)
                    .arg(ProtocolWire::maxPayloadLength);
            },
            [](const BufferTooShort& e) {
                return QStringLiteral("buffer too short (%1 < %2 B)").arg(e.have).arg(e.want);
            },
            [](const CrcMismatch& e) {
                return QString::asprintf("CRC mismatch calc=0x%08X recv=0x%08X \u00B7 ch=0x%02X %s "
                                         "sn=%u payload=%u",
                                         e.calc, e.received, unsigned(e.header.channel),
                                         qUtf8Printable(ProtocolWire::typeName(e.header.type)),
                                         e.header.sn, e.header.len);
            },
            [](const BadSync&) { return QStringLiteral("bad sync (expected 57 AB)"); },
        },
        case_);
}

} // namespace orvane
