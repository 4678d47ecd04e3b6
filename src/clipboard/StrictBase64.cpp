#include "clipboard/StrictBase64.h"

namespace orvane {

std::optional<QByteArray> decodeBase64Strict(const QString& text) {
    // Qt's strict mode still accepts unpadded input (even a lone dangling character),
    // so the length is checked here.
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    // Non-Latin-1 characters would be mangled by toLatin1 into "?", which is not a
    // Base64 letter either, so the decoder refuses them below.
    auto result =
        QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result) {
        return std::nullopt;
    }
    return std::move(result.decoded);
}

} // namespace orvane
