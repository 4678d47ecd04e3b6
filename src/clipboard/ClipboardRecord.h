#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

namespace orvane {

// One row of the clipboard_history table, as stored.
struct ClipboardRecord {
    qint64 id = 0;
    QString kind; // "text", "files" or "image"; anything else loads as text
    QString text;
    QString filesJSON;    // JSON array of path strings, or empty when there are no files
    QString imagePath;    // absolute path of the stored image file, or empty
    qint64 createdAt = 0; // milliseconds since 1970-01-01 UTC

    friend bool operator==(const ClipboardRecord&, const ClipboardRecord&) = default;
};

// The fingerprint of a stored row. Equals ClipboardEntry::computeFingerprint() of the entry
// the row was written from, so the store can recognise recent duplicates.
QString recordFingerprint(const ClipboardRecord& record);

// The filesJSON column: a compact JSON array of the paths (UTF-8 text), or the empty
// string for an empty list.
QString encodeFilesJSON(const QStringList& files);
// The paths of a filesJSON text. Nothing when the text is not a JSON array whose
// elements are all strings; a single non-string element spoils the whole list.
std::optional<QStringList> decodeFilesJSON(const QString& json);

} // namespace orvane
