#pragma once

#include <QByteArray>

namespace orvane {

// Deterministic bytes without short repeats, so a misplaced or repeated chunk shows up
// as a content mismatch.
inline QByteArray patternedBytes(qsizetype size) {
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) {
        data[i] = char((i * 13 + (i >> 9)) & 0xFF);
    }
    return data;
}

} // namespace orvane
