#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

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

// Writes `content` to `name` in `dir` and returns the file's path; empty on failure.
inline QString writeTestFile(const QTemporaryDir& dir, const QString& name,
                             const QByteArray& content) {
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        return QString();
    }
    return path;
}

// The whole file, or nothing when it cannot be read.
inline QByteArray readTestFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace orvane
