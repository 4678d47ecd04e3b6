#pragma once

#include <QString>

#include <utility>

namespace orvane {

// Why the settings and history database could not do what was asked. description() is
// the Chinese text shown to the user after "配置存储不可用: ".
class StoreError {
public:
    enum class Code {
        message,    // SQLite's (or the file system's) own text
        openFailed, // the database file could not be opened
        execFailed, // a statement could not be prepared, or an insert did not finish
    };

    static StoreError message(const QString& text) { return StoreError(Code::message, text); }
    static StoreError openFailed() { return StoreError(Code::openFailed); }
    static StoreError execFailed() { return StoreError(Code::execFailed); }

    Code code() const { return code_; }
    // The carried text of a message error; empty for the other cases.
    const QString& text() const { return text_; }

    QString description() const;

    friend bool operator==(const StoreError&, const StoreError&) = default;

private:
    explicit StoreError(Code code, QString text = {})
        : code_(code)
        , text_(std::move(text)) {}

    Code code_;
    QString text_;
};

} // namespace orvane
