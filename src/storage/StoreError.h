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

    // The same error, classified by SQLite's (extended) result code.
    StoreError withResultCode(int resultCode) const {
        StoreError error = *this;
        error.resultCode_ = resultCode;
        return error;
    }

    Code code() const { return code_; }
    // The carried text of a message error; empty for the other cases.
    const QString& text() const { return text_; }
    // SQLite's extended result code behind the failure, 0 when none was kept.
    int resultCode() const { return resultCode_; }
    // Whether SQLite found the file damaged or not a database at all: the only failures
    // for which the file is worth moving aside. Classified by the code, never the text,
    // which may be translated.
    bool isDamagedFile() const;

    QString description() const;

    // Two errors that read the same are the same; the code only classifies.
    friend bool operator==(const StoreError& a, const StoreError& b) {
        return a.code_ == b.code_ && a.text_ == b.text_;
    }

private:
    explicit StoreError(Code code, QString text = {})
        : code_(code)
        , text_(std::move(text)) {}

    Code code_;
    QString text_;
    int resultCode_ = 0;
};

} // namespace orvane
