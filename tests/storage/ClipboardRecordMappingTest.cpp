#include "storage/ClipboardRecordMapping.h"

#include "TemporaryDataHome.h"
#include "storage/AppFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::ClipboardRecordMapping;

namespace {

class ClipboardRecordMappingTest : public TemporaryDataHome {
protected:
    QStringList storedImages() const {
        return QDir(dataDir() + "/clipboard_images").entryList(QDir::Files | QDir::Hidden);
    }
};

ClipboardEntry imageEntry(std::optional<QByteArray> bytes, std::optional<QString> path) {
    ClipboardEntry e;
    e.id = 5;
    e.kind = ClipboardKind::image;
    e.text = "[截图]";
    e.imageData = bytes;
    e.imagePath = path;
    e.timestamp = 1700000000123;
    return e;
}

} // namespace

TEST_F(ClipboardRecordMappingTest, TextAndFilesRoundTrip) {
    ClipboardEntry text;
    text.id = 11;
    text.text = "héllo";
    text.dataSize = 6;
    text.timestamp = 1700000000000;
    text.fingerprint = text.computeFingerprint();
    auto record = recordFromEntry(text, DataDirectory::standard());
    ASSERT_TRUE(record);
    EXPECT_EQ(*record, (ClipboardRecord{0, "text", "héllo", "", "", 1700000000000}));
    EXPECT_EQ(recordFingerprint(*record), text.computeFingerprint());
    record->id = 11;
    EXPECT_EQ(entryFromRecord(*record), text);

    ClipboardEntry files;
    files.id = 12;
    files.kind = ClipboardKind::files;
    files.files = {"/tmp/é", "/tmp/\"q\""};
    files.text = files.files.join('\n');
    files.dataSize = ClipboardEntry::computeDataSize(files);
    files.timestamp = 42;
    files.fingerprint = files.computeFingerprint();
    auto filesRecord = recordFromEntry(files, DataDirectory::standard());
    ASSERT_TRUE(filesRecord);
    EXPECT_EQ(filesRecord->kind, "files");
    EXPECT_EQ(decodeFilesJSON(filesRecord->filesJSON), files.files);
    EXPECT_EQ(recordFingerprint(*filesRecord), files.computeFingerprint());
    filesRecord->id = 12;
    EXPECT_EQ(entryFromRecord(*filesRecord), files);
}

TEST_F(ClipboardRecordMappingTest, ImageInMemoryIsSavedAndFingerprintsTheSame) {
    const QByteArray png("\x89PNG\r\n\x1a\nrest", 12);
    const ClipboardEntry entry = imageEntry(png, std::nullopt);
    auto record = recordFromEntry(entry, DataDirectory::standard());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->kind, "image");
    EXPECT_EQ(record->text, "[截图]");
    EXPECT_EQ(record->filesJSON, "");
    EXPECT_EQ(record->createdAt, entry.timestamp);
    ASSERT_EQ(QFileInfo(record->imagePath).path(), dataDir() + "/clipboard_images");
    QFile stored(record->imagePath);
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(), png);
    EXPECT_EQ(recordFingerprint(*record), entry.computeFingerprint());

    const ClipboardEntry loaded = entryFromRecord(*record);
    EXPECT_EQ(loaded.kind, ClipboardKind::image);
    EXPECT_FALSE(loaded.imageData.has_value());
    EXPECT_EQ(loaded.imagePath, record->imagePath);
    EXPECT_EQ(loaded.dataSize, png.size());
    EXPECT_EQ(loaded.fingerprint, entry.computeFingerprint());
}

TEST_F(ClipboardRecordMappingTest, ImageWithPathOrWithoutUsableDataSavesNothing) {
    auto withPath =
        recordFromEntry(imageEntry(QByteArray("abc"), "/kept/1.png"), DataDirectory::standard());
    ASSERT_TRUE(withPath);
    EXPECT_EQ(withPath->imagePath, "/kept/1.png");

    const ClipboardEntry empty = imageEntry(QByteArray(), std::nullopt);
    auto record = recordFromEntry(empty, DataDirectory::standard());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->imagePath, "");
    EXPECT_EQ(recordFingerprint(*record), empty.computeFingerprint());
    EXPECT_TRUE(storedImages().isEmpty());
}

TEST_F(ClipboardRecordMappingTest, ImageSaveFailurePropagates) {
    ASSERT_TRUE(QDir().mkpath(dataDir()));
    QFile blocker(dataDir() + "/clipboard_images");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    auto record =
        recordFromEntry(imageEntry(QByteArray("abc"), std::nullopt), DataDirectory::standard());
    ASSERT_FALSE(record);
    EXPECT_EQ(record.error().code(), AppFilesError::Code::fileSystem);
}

TEST_F(ClipboardRecordMappingTest, RecordsLoadLeniently) {
    const ClipboardEntry unknown = entryFromRecord({3, "picture", "abc", R"(["/a"])", "", 77});
    EXPECT_EQ(unknown.kind, ClipboardKind::text);
    EXPECT_EQ(unknown.id, 3);
    EXPECT_EQ(unknown.timestamp, 77);
    EXPECT_EQ(unknown.files, QStringList{"/a"});
    EXPECT_EQ(unknown.dataSize, 3);
    EXPECT_EQ(entryFromRecord({3, "", "", "", "", 0}).kind, ClipboardKind::text);

    const ClipboardEntry badJson = entryFromRecord({4, "files", "/a", "[\"/a\"", "", 0});
    EXPECT_EQ(badJson.kind, ClipboardKind::files);
    EXPECT_TRUE(badJson.files.isEmpty());
    EXPECT_EQ(badJson.dataSize, 0);

    const ClipboardEntry missingImage = entryFromRecord({5, "image", "[截图]", "", "/gone.png", 0});
    EXPECT_EQ(missingImage.imagePath, QString("/gone.png"));
    EXPECT_EQ(missingImage.dataSize, 0);
    EXPECT_FALSE(entryFromRecord({6, "image", "[截图]", "", "", 0}).imagePath.has_value());
}
