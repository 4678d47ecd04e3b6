#pragma once

#include <QString>

#include <optional>

namespace orvane {

// What a clipboard item holds. The raw values are what the history table stores.
enum class ClipboardKind { text, files, image };

QString clipboardKindRawValue(ClipboardKind kind);

// Accepts exactly "text", "files" and "image".
std::optional<ClipboardKind> clipboardKindFromRawValue(const QString& raw);

} // namespace orvane
