#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <optional>

namespace orvane {

// Decodes UTF-8, refusing any invalid or truncated sequence instead of replacing it.
// A leading byte-order mark is kept as a character, so no byte is silently dropped.
inline std::optional<QString> decodeUtf8Strict(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

} // namespace orvane
