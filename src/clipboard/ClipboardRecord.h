#pragma once

#include <QString>
#include <QtGlobal>

namespace orvane {

// One row of the clipboard_history table, as stored.
struct ClipboardRecord {
    qint64 id = 0;
    QString kind;      // "text", "files" or "image"; anything else loads as text
    QString text;
    QString filesJSON; // JSON array of path strings, or empty when there are no files
    QString imagePath; // absolute path of the stored image file, or empty
    qint64 createdAt = 0; // milliseconds since 1970-01-01 UTC

    friend bool operator==(const ClipboardRecord&, const ClipboardRecord&) = default;
};

// The fingerprint of a stored row. Equals ClipboardEntry::fingerprint() of the entry
// the row was written from, so the store can recognise recent duplicates.
QString recordFingerprint(const ClipboardRecord& record);

} // namespace orvane
