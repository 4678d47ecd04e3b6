#include "storage/ClipboardRecordMapping.h"

namespace orvane::ClipboardRecordMapping {

Result<ClipboardRecord, AppFilesError> recordFromEntry(const ClipboardEntry& entry,
                                                       const DataDirectory& directory) {
    ClipboardRecord record;
    record.id = 0;
    record.kind = clipboardKindRawValue(entry.kind);
    record.text = entry.text;
    record.createdAt = entry.timestamp;
    record.filesJSON = encodeFilesJSON(entry.files);
    record.imagePath = entry.imagePath.value_or(QString());

    if (entry.kind == ClipboardKind::image && entry.imageData && record.imagePath.isEmpty()) {
        // Empty image data would only leave an empty file behind; without it the row
        // fingerprints and loads the same way.
        if (!entry.imageData->isEmpty()) {
            auto saved = directory.saveClipboardImage(*entry.imageData);
            if (!saved) {
                return fail(saved.error());
            }
            record.imagePath = *saved;
        }
    }
    return record;
}

ClipboardEntry entryFromRecord(const ClipboardRecord& record) {
    ClipboardEntry entry;
    entry.id = record.id;
    if (record.kind == u"files") {
        entry.kind = ClipboardKind::files;
    } else if (record.kind == u"image") {
        entry.kind = ClipboardKind::image;
    } else {
        entry.kind = ClipboardKind::text;
    }
    entry.text = record.text;
    if (!record.filesJSON.isEmpty()) {
        entry.files = decodeFilesJSON(record.filesJSON).value_or(QStringList());
    }
    if (!record.imagePath.isEmpty()) {
        entry.imagePath = record.imagePath;
    }
    entry.timestamp = record.createdAt;
    entry.dataSize = ClipboardEntry::computeDataSize(entry);
    // The one time a stored image is hashed: the entry keeps the result.
    entry.fingerprint = recordFingerprint(record);
    return entry;
}

} // namespace orvane::ClipboardRecordMapping
