#include "clipboard/ClipboardEntry.h"

#include "clipboard/ClipboardRecord.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orvane;

namespace {

// Digests computed outside this code base (sha256sum), so the tests do not trust the
// hashing they are checking.
const QString shaTextAbc = "ef4618f06886dccb6a5beddeafa9756d3728065cbd153165441298b539d0a9e7";
const QString shaTextEmpty = "b9e68e1bea3e5b19ca6b2f98b73a54b73daafaa250484902e09982e07a12e733";
const QString shaFiles = "3d7db37d08f9140fd09f12b9621cd0954b6d56a9d2f357fb2c7f5d62636d2fd1";
const QString shaFilesAB = "9d7547135f60580a7a2edde24ea1bfc7e66edb9d8616e97b1abecb387e6dc6ba";
const QString shaImageOnly = "254eddf15d9534e3b20c55469077aa2f24f167aa4b897a36381d3e251e4829c2";
const QString shaImageAbc = "b80890a8714c0529f39e0cdfaf54895c59bc8ace1c597ac160f808b9f8bb3b12";

ClipboardEntry textEntry(const QString& text) {
    ClipboardEntry e;
    e.kind = ClipboardKind::text;
    e.text = text;
    return e;
}

ClipboardEntry filesEntry(const QStringList& files) {
    ClipboardEntry e;
    e.kind = ClipboardKind::files;
    e.files = files;
    e.text = files.join('\n');
    return e;
}

ClipboardEntry imageEntry(std::optional<QByteArray> bytes, std::optional<QString> path) {
    ClipboardEntry e;
    e.kind = ClipboardKind::image;
    e.text = QStringLiteral("[截图]");
    e.imageData = bytes;
    e.imagePath = path;
    return e;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
}

} // namespace

TEST(ClipboardKindTest, RawValuesAreExactAndRoundTrip) {
    for (auto kind : {ClipboardKind::text, ClipboardKind::files, ClipboardKind::image}) {
        EXPECT_EQ(clipboardKindFromRawValue(clipboardKindRawValue(kind)), kind);
    }
    EXPECT_EQ(clipboardKindRawValue(ClipboardKind::files), "files");
    for (const char* raw : {"", "Text", "image ", "file", "FILES"}) {
        EXPECT_FALSE(clipboardKindFromRawValue(raw).has_value()) << raw;
    }
}

TEST(ClipboardEntryFingerprintTest, TextAndFilesHashTheirTaggedUtf8) {
    EXPECT_EQ(textEntry("abc").computeFingerprint(), shaTextAbc);
    EXPECT_EQ(textEntry("").computeFingerprint(), shaTextEmpty);
    EXPECT_EQ(filesEntry({}).computeFingerprint(), shaFiles);
    EXPECT_EQ(filesEntry({"/a", "/b"}).computeFingerprint(), shaFilesAB);
    // The text of a files entry plays no part.
    ClipboardEntry relabelled = filesEntry({"/a", "/b"});
    relabelled.text = "something else";
    EXPECT_EQ(relabelled.computeFingerprint(), shaFilesAB);
}

TEST(ClipboardEntryFingerprintTest, ImageFallsBackFromBytesToFileToLabelOnly) {
    QTemporaryDir dir;
    const QString abcFile = writeFile(dir, "abc.png", "abc");
    const QString emptyFile = writeFile(dir, "empty.png", "");

    EXPECT_EQ(imageEntry(QByteArray("abc"), std::nullopt).computeFingerprint(), shaImageAbc);
    EXPECT_EQ(imageEntry(QByteArray("abc"), emptyFile).computeFingerprint(), shaImageAbc);
    EXPECT_EQ(imageEntry(std::nullopt, abcFile).computeFingerprint(), shaImageAbc);
    EXPECT_EQ(imageEntry(QByteArray(), abcFile).computeFingerprint(), shaImageAbc);

    EXPECT_EQ(imageEntry(QByteArray(), std::nullopt).computeFingerprint(), shaImageOnly);
    EXPECT_EQ(imageEntry(std::nullopt, "").computeFingerprint(), shaImageOnly);
    EXPECT_EQ(imageEntry(std::nullopt, emptyFile).computeFingerprint(), shaImageOnly);
    EXPECT_EQ(imageEntry(std::nullopt, dir.filePath("missing.png")).computeFingerprint(),
              shaImageOnly);
    EXPECT_EQ(imageEntry(std::nullopt, dir.path()).computeFingerprint(), shaImageOnly);
}

TEST(ClipboardEntryFingerprintTest, LargeImageFileMatchesItsBytes) {
    QTemporaryDir dir;
    QByteArray big(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i) {
        big[i] = char((i * 31) >> 3);
    }
    const QString path = writeFile(dir, "big.png", big);
    const QString inMemory = imageEntry(big, std::nullopt).computeFingerprint();
    EXPECT_EQ(imageEntry(std::nullopt, path).computeFingerprint(), inMemory);
    EXPECT_EQ(recordFingerprint({0, "image", "[截图]", "", path, 0}), inMemory);
    EXPECT_NE(inMemory, shaImageOnly);
}

TEST(RecordFingerprintTest, FollowsTheKindText) {
    QTemporaryDir dir;
    const QString abcFile = writeFile(dir, "abc.png", "abc");
    EXPECT_EQ(recordFingerprint({0, "text", "abc", "", "", 0}), shaTextAbc);
    EXPECT_EQ(recordFingerprint({0, "weird", "abc", R"(["/a"])", abcFile, 0}), shaTextAbc);
    EXPECT_EQ(recordFingerprint({0, "", "", "", "", 0}), shaTextEmpty);

    EXPECT_EQ(recordFingerprint({0, "files", "x", R"(["/a","/b"])", "", 0}), shaFilesAB);
    EXPECT_EQ(recordFingerprint({0, "files", "x", R"(["\/a","\/b"])", "", 0}), shaFilesAB);
    EXPECT_EQ(recordFingerprint({0, "files", "x", "", "", 0}), shaFiles);
    EXPECT_EQ(recordFingerprint({0, "files", "x", "not json", "", 0}), shaFiles);
    EXPECT_EQ(recordFingerprint({0, "files", "x", R"(["/a", 3])", "", 0}), shaFiles);
    EXPECT_EQ(recordFingerprint({0, "files", "x", R"({"a":"/a"})", "", 0}), shaFiles);

    EXPECT_EQ(recordFingerprint({0, "image", "[截图]", "", abcFile, 0}), shaImageAbc);
    EXPECT_EQ(recordFingerprint({0, "image", "[截图]", "", "", 0}), shaImageOnly);
    EXPECT_EQ(recordFingerprint({0, "image", "[截图]", "", dir.filePath("gone"), 0}), shaImageOnly);
}

TEST(RecordFingerprintTest, RecordOfTheSameImageMatchesTheInMemoryEntry) {
    QTemporaryDir dir;
    const QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    const QString path = writeFile(dir, "1.png", png);
    const ClipboardEntry entry = imageEntry(png, std::nullopt);
    EXPECT_EQ(recordFingerprint({0, "image", "[截图]", "", path, 0}), entry.computeFingerprint());
}

TEST(ClipboardEntrySizeTest, CountsUtf8BytesOfTextAndPathNames) {
    ClipboardEntry text = textEntry("aé€😀");
    text.dataSize = 999;
    EXPECT_EQ(ClipboardEntry::computeDataSize(text), 1 + 2 + 3 + 4);
    EXPECT_EQ(ClipboardEntry::computeDataSize(filesEntry({"/tmp/é"})), 7);
    EXPECT_EQ(ClipboardEntry::computeDataSize(filesEntry({"/a", "/bc"})), 5);
    EXPECT_EQ(ClipboardEntry::computeDataSize(filesEntry({})), 0);
}

TEST(ClipboardEntrySizeTest, ImageCountsItsBytesElseFileSize) {
    QTemporaryDir dir;
    const QString fiveBytes = writeFile(dir, "five.png", "12345");
    EXPECT_EQ(ClipboardEntry::computeDataSize(imageEntry(QByteArray("abc"), fiveBytes)), 3);
    EXPECT_EQ(ClipboardEntry::computeDataSize(imageEntry(QByteArray(), fiveBytes)), 0);
    EXPECT_EQ(ClipboardEntry::computeDataSize(imageEntry(std::nullopt, fiveBytes)), 5);
    EXPECT_EQ(ClipboardEntry::computeDataSize(imageEntry(std::nullopt, dir.filePath("no"))), 0);
    EXPECT_EQ(ClipboardEntry::computeDataSize(imageEntry(std::nullopt, std::nullopt)), 0);
}

TEST(FilesJsonTest, EncodesEmptyListAsEmptyTextAndRoundTrips) {
    EXPECT_EQ(encodeFilesJSON({}), "");
    const QStringList files{"/tmp/é", "/a \"quoted\"\\path", "/line\nbreak"};
    EXPECT_EQ(decodeFilesJSON(encodeFilesJSON(files)), files);
    EXPECT_EQ(decodeFilesJSON("[]"), QStringList());
    EXPECT_FALSE(decodeFilesJSON("").has_value());
    EXPECT_FALSE(decodeFilesJSON("[\"/a\"").has_value());
    EXPECT_FALSE(decodeFilesJSON("[null]").has_value());
    EXPECT_FALSE(decodeFilesJSON("\"/a\"").has_value());
}
