#pragma once

#include <QString>

namespace orvane {

// A failure to turn an entry into clipboard content or to write it to the clipboard.
// description() is the user-facing text.
class ClipboardError {
public:
    enum class Code { writeFailed, emptyContent, emptyImage };

    // `text` says which step failed; it follows the fixed prefix of the description.
    static ClipboardError writeFailed(const QString& text) { return {Code::writeFailed, text}; }
    static ClipboardError emptyContent() { return {Code::emptyContent, {}}; }
    static ClipboardError emptyImage() { return {Code::emptyImage, {}}; }

    Code code() const { return code_; }
    // The text carried by writeFailed; empty for the other cases.
    const QString& text() const { return text_; }
    QString description() const;

    friend bool operator==(const ClipboardError&, const ClipboardError&) = default;

private:
    ClipboardError(Code code, const QString& text)
        : code_(code)
        , text_(text) {}

    Code code_;
    QString text_;
};

} // namespace orvane
