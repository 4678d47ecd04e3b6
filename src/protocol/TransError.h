#pragma once

#include <QString>
#include <QtGlobal>

namespace orvane {

// The error type of the whole TRANS side: packet parsing, payload preparation,
// receiving and sending. errorDescription() is the Chinese text users and logs see.
class TransError {
public:
    enum class Code {
        headChecksumMismatch, // calc, recv
        transferFailed,       // text
        fileNotFound,         // text (a path)
        headerTooShort,
        invalidHeaderLength,
        totalSizeTooSmall,
        firstReqTooShort,
        middleHeadTooShort,
        sendBusy,
        serialClosed,
        transferTimeout,
        transferTooLarge,
        emptyPayload,
        filePathMissing,
    };

    TransError(Code code) : code_(code) {}
    static TransError headChecksumMismatch(quint32 calc, quint32 recv) {
        TransError e(Code::headChecksumMismatch);
        e.calc_ = calc;
        e.recv_ = recv;
        return e;
    }
    static TransError transferFailed(const QString& text) {
        TransError e(Code::transferFailed);
        e.text_ = text;
        return e;
    }
    static TransError fileNotFound(const QString& path) {
        TransError e(Code::fileNotFound);
        e.text_ = path;
        return e;
    }

    Code code() const { return code_; }
    // Payloads: calc/recv for headChecksumMismatch, text for transferFailed and fileNotFound.
    quint32 calc() const { return calc_; }
    quint32 recv() const { return recv_; }
    const QString& text() const { return text_; }

    QString errorDescription() const;

    friend bool operator==(const TransError&, const TransError&) = default;

private:
    Code code_;
    quint32 calc_ = 0;
    quint32 recv_ = 0;
    QString text_;
};

} // namespace orvane
