#include "X11ClipboardTest.h"

#include <QUrl>

using namespace orvane;

namespace {

using QtClipboardIOTest = X11ClipboardTest;

QImage decoded(const QByteArray& bytes) {
    return QImage::fromData(bytes).convertToFormat(QImage::Format_RGB32);
}

TEST_F(QtClipboardIOTest, ReadsTextWithUnixLineEnds) {
    xclipOffer("UTF8_STRING", "a\r\nb");
    ClipboardReading reading = io->readContent();
    EXPECT_EQ(reading.content.kind, ClipboardKind::text);
    EXPECT_EQ(reading.content.text, "a\nb");
    EXPECT_FALSE(reading.secret);

    // A bare file name that no file manager put there is just a word someone copied.
    xclipOffer("UTF8_STRING", "notes.txt");
    reading = io->readContent();
    EXPECT_EQ(reading.content.kind, ClipboardKind::text);
    EXPECT_EQ(reading.content.text, "notes.txt");
}

TEST_F(QtClipboardIOTest, ReadsPngAndJpegAsOfferedAndOtherImagesAsPng) {
    for (const char* format : {"PNG", "JPEG"}) {
        const QByteArray bytes = encoded(format);
        xclipOffer(QStringLiteral("image/") + QString::fromLatin1(format).toLower(), bytes);
        const ClipboardContent content = io->readContent().content;
        EXPECT_EQ(content.kind, ClipboardKind::image) << format;
        EXPECT_EQ(content.text, "[截图]");
        EXPECT_EQ(content.imagePNG, bytes) << format;
    }
    for (const char* format : {"TIFF", "BMP"}) {
        const QByteArray bytes = encoded(format);
        xclipOffer(QStringLiteral("image/") + QString::fromLatin1(format).toLower(), bytes);
        const ClipboardContent content = io->readContent().content;
        ASSERT_EQ(content.kind, ClipboardKind::image) << format;
        ASSERT_TRUE(content.imagePNG && content.imagePNG->startsWith("\x89PNG")) << format;
        EXPECT_EQ(decoded(*content.imagePNG), decoded(bytes)) << format;
    }
}

TEST_F(QtClipboardIOTest, ReadsExistingFileReferencesInOrder) {
    const QString b = touch("b file.txt");
    const QString a = touch("a.txt");
    const QByteArray uriList = QUrl::fromLocalFile(b).toEncoded() + "\r\n" +
                               QUrl::fromLocalFile(dir.filePath("gone.txt")).toEncoded() +
                               "\r\n# comment\r\n" + QUrl::fromLocalFile(a).toEncoded() + "\r\n";
    xclipOffer("text/uri-list", uriList);
    ClipboardContent content = io->readContent().content;
    EXPECT_EQ(content.kind, ClipboardKind::files);
    EXPECT_EQ(content.files, (QStringList{b, a}));
    EXPECT_EQ(content.text, b + "\n" + a);

    xclipOffer("x-special/gnome-copied-files", "copy\n" + QUrl::fromLocalFile(a).toEncoded());
    content = io->readContent().content;
    EXPECT_EQ(content.kind, ClipboardKind::files);
    EXPECT_EQ(content.files, QStringList{a});
}

TEST_F(QtClipboardIOTest, ABareFileNameBesideUnreadableFileReferencesIsNotText) {
    const QString gone = QUrl::fromLocalFile(dir.filePath("notes.txt")).toString();
    ownerOffer({"text/uri-list=" + gone, "text/plain=notes.txt"});
    const ClipboardReading reading = io->readContent();
    EXPECT_FALSE(reading.content.kind);
    EXPECT_FALSE(reading.secret);

    // A path is always text.
    ownerOffer({"text/uri-list=" + gone, "text/plain=" + dir.filePath("notes.txt")});
    EXPECT_EQ(io->readContent().content.kind, ClipboardKind::text);
}

TEST_F(QtClipboardIOTest, SecretsAreNotRead) {
    ownerOffer({"text/plain=hunter2", "x-kde-passwordManagerHint=secret"});
    const ClipboardReading reading = io->readContent();
    EXPECT_TRUE(reading.secret);
    EXPECT_FALSE(reading.content.kind);
    EXPECT_TRUE(reading.content.text.isEmpty());
}

TEST_F(QtClipboardIOTest, WritesEachKindForOtherClients) {
    ASSERT_TRUE(io->writeContent({ClipboardKind::text, "héllo\nworld", {}, {}}));
    EXPECT_EQ(QString::fromUtf8(xclipRead("UTF8_STRING")), "héllo\nworld");

    for (const char* format : {"PNG", "JPEG"}) {
        const QByteArray bytes = encoded(format);
        ASSERT_TRUE(io->writeContent({ClipboardKind::image, "[截图]", {}, bytes}));
        EXPECT_EQ(xclipRead(QStringLiteral("image/") + QString::fromLatin1(format).toLower()),
                  bytes)
            << format;
    }

    // Neither PNG nor JPEG: written as an image that readers get in the format they ask.
    const QByteArray bmp = encoded("BMP");
    ASSERT_TRUE(io->writeContent({ClipboardKind::image, "[截图]", {}, bmp}));
    EXPECT_EQ(decoded(xclipRead("image/png")), decoded(bmp));

    const QString a = touch("a b.txt");
    const QString b = touch("b.txt");
    ASSERT_TRUE(io->writeContent({ClipboardKind::files, a + "\n" + b, {a, b}, {}}));
    const QByteArray uriA = QUrl::fromLocalFile(a).toEncoded();
    const QByteArray uriB = QUrl::fromLocalFile(b).toEncoded();
    EXPECT_EQ(xclipRead("text/uri-list").split('\n').first().trimmed(), uriA);
    EXPECT_TRUE(xclipRead("text/uri-list").contains(uriB));
    EXPECT_EQ(xclipRead("x-special/gnome-copied-files"), "copy\n" + uriA + "\n" + uriB);
    EXPECT_EQ(QString::fromUtf8(xclipRead("UTF8_STRING")), a + "\n" + b);

    // What we wrote reads back the same way.
    EXPECT_EQ(io->readContent().content.files, (QStringList{a, b}));
}

// Most programs paste only PNG: a JPEG is offered as PNG as well, and still reads back as
// the bytes we wrote, so that our own write stays the same entry.
TEST_F(QtClipboardIOTest, AJpegIsAlsoOfferedAsPng) {
    const QByteArray jpeg = encoded("JPEG", 80, 30);
    ASSERT_TRUE(io->writeContent({ClipboardKind::image, "[截图]", {}, jpeg}));
    const QList<QByteArray> targets = xclipRead("TARGETS").split('\n');
    EXPECT_TRUE(targets.contains("image/jpeg"));
    EXPECT_TRUE(targets.contains("image/png"));
    EXPECT_EQ(xclipRead("image/jpeg"), jpeg);
    const QByteArray png = xclipRead("image/png");
    ASSERT_TRUE(png.startsWith("\x89PNG"));
    EXPECT_EQ(QImage::fromData(png, "PNG").size(), QSize(80, 30));
    EXPECT_EQ(decoded(png), decoded(jpeg));

    EXPECT_EQ(io->readContent().content.imagePNG, jpeg);
}

TEST_F(QtClipboardIOTest, FailedWritesLeaveTheClipboardEmpty) {
    struct Case {
        ClipboardContent content;
        ClipboardError error;
    };
    const Case cases[] = {
        {{ClipboardKind::image, "[截图]", {}, QByteArray()}, ClipboardError::emptyImage()},
        {{ClipboardKind::image, "[截图]", {}, QByteArray("not an image")},
         ClipboardError::emptyImage()},
        {{std::nullopt, {}, {}, {}}, ClipboardError::emptyContent()},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(io->writeContent({ClipboardKind::text, "previous", {}, {}}));
        const auto result = io->writeContent(c.content);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error(), c.error);
        EXPECT_TRUE(xclipRead("UTF8_STRING").isEmpty());
        EXPECT_FALSE(io->readContent().content.kind);
    }
    EXPECT_EQ(ClipboardError::emptyContent().description(), "剪贴板内容为空");
}

} // namespace
