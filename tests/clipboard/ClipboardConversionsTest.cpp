#include "clipboard/ClipboardConversions.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::ClipboardConversions;

namespace {

ClipboardContent contentOf(std::optional<ClipboardKind> kind, const QString& text,
                           const QStringList& files = {},
                           std::optional<QByteArray> image = std::nullopt) {
    return ClipboardContent{kind, text, files, image};
}

} // namespace

TEST(EntryFromContentTest, MapsEachKind) {
    const ClipboardEntry text = entryFromContent(contentOf(ClipboardKind::text, "héllo"), 7, 1234);
    EXPECT_EQ(text.id, 7);
    EXPECT_EQ(text.timestamp, 1234);
    EXPECT_EQ(text.kind, ClipboardKind::text);
    EXPECT_EQ(text.text, "héllo");
    EXPECT_EQ(text.dataSize, 6);
    EXPECT_FALSE(text.imageData || text.imagePath);

    const ClipboardEntry files =
        entryFromContent(contentOf(ClipboardKind::files, "/a\n/é", {"/a", "/é"}), 1, 2);
    EXPECT_EQ(files.kind, ClipboardKind::files);
    EXPECT_EQ(files.text, "/a\n/é");
    EXPECT_EQ(files.files, QStringList({"/a", "/é"}));
    EXPECT_EQ(files.dataSize, 2 + 3);

    const QByteArray jpeg("\xff\xd8\xff\xe0jpeg", 8);
    const ClipboardEntry image =
        entryFromContent(contentOf(ClipboardKind::image, "ignored", {}, jpeg), 3, 4);
    EXPECT_EQ(image.kind, ClipboardKind::image);
    EXPECT_EQ(image.text, "[截图]");
    EXPECT_EQ(image.imageData, jpeg);
    EXPECT_FALSE(image.imagePath.has_value());
    EXPECT_EQ(image.dataSize, 8);
}

TEST(EntryFromContentTest, ImageWithoutBytesAndAbsentKind) {
    const ClipboardEntry image = entryFromContent(contentOf(ClipboardKind::image, ""), 3, 4);
    EXPECT_EQ(image.imageData, QByteArray());
    EXPECT_EQ(image.dataSize, 0);

    ClipboardEntry expected;
    expected.id = 9;
    expected.timestamp = 99;
    EXPECT_EQ(entryFromContent(contentOf(std::nullopt, "stale", {"/x"}), 9, 99), expected);
}

TEST(ContentFromEntryTest, TextAndFiles) {
    ClipboardEntry text;
    text.text = "abc";
    auto textContent = contentFromEntry(text);
    ASSERT_TRUE(textContent);
    EXPECT_EQ(*textContent, contentOf(ClipboardKind::text, "abc"));

    ClipboardEntry files;
    files.kind = ClipboardKind::files;
    files.files = {"/a", "/b"};
    auto joined = contentFromEntry(files);
    ASSERT_TRUE(joined);
    EXPECT_EQ(*joined, contentOf(ClipboardKind::files, "/a\n/b", {"/a", "/b"}));
    files.text = "two files";
    EXPECT_EQ(contentFromEntry(files)->text, "two files");
}

TEST(ContentFromEntryTest, ImageTakesItsBytesThenFileElseFails) {
    QTemporaryDir dir;
    const QString filePath = dir.filePath("1.png");
    {
        QFile f(filePath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("from file");
    }
    const QString emptyPath = dir.filePath("empty.png");
    {
        QFile f(emptyPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }

    ClipboardEntry image;
    image.kind = ClipboardKind::image;
    image.imageData = QByteArray("abc");
    image.imagePath = filePath;
    auto fromBytes = contentFromEntry(image);
    ASSERT_TRUE(fromBytes);
    EXPECT_EQ(*fromBytes, contentOf(ClipboardKind::image, "[截图]", {}, QByteArray("abc")));

    for (const std::optional<QByteArray>& bytes :
         {std::optional<QByteArray>(), std::optional<QByteArray>(QByteArray())}) {
        image.imageData = bytes;
        auto fromFile = contentFromEntry(image);
        ASSERT_TRUE(fromFile);
        EXPECT_EQ(fromFile->imagePNG, QByteArray("from file"));
    }

    const std::optional<QString> noPaths[] = {std::nullopt, QString(""), dir.filePath("gone.png"),
                                              emptyPath, dir.path()};
    for (const auto& path : noPaths) {
        image.imageData = QByteArray();
        image.imagePath = path;
        auto failed = contentFromEntry(image);
        ASSERT_FALSE(failed);
        EXPECT_EQ(failed.error(), ClipboardError::emptyContent());
    }
}

TEST(ClipboardErrorTest, Descriptions) {
    EXPECT_EQ(ClipboardError::writeFailed("setData png failed").description(),
              "写入剪贴板失败: setData png failed");
    EXPECT_EQ(ClipboardError::emptyContent().description(), "剪贴板内容为空");
    EXPECT_EQ(ClipboardError::emptyImage().description(), "图片数据为空");
    EXPECT_NE(ClipboardError::writeFailed("a"), ClipboardError::writeFailed("b"));
}
