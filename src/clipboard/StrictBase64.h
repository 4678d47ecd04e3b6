#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace orvane {

// Decodes standard Base64 ("+", "/", "=" padding) as the clipboard model stores it:
// one line, padded to a multiple of four characters. Anything else (white space, line
// breaks, URL-safe letters, missing or misplaced padding) does not decode: such a text
// was not written by us, and accepting it would make the same image fingerprint
// differently depending on how leniently it was read. The empty text decodes to no bytes.
std::optional<QByteArray> decodeBase64Strict(const QString& text);

} // namespace orvane
