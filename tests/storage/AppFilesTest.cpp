#include "storage/AppFiles.h"

#include "TemporaryDataHome.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

using namespace orvane;

namespace {

const QString dayFormat = "yyyy-MM-dd";

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return "<unreadable>";
    }
    return f.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
}

QStringList entriesOf(const QString& dir) {
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

class AppFilesTest : public TemporaryDataHome {
protected:
    QString dayDir(int daysAgo) const {
        return dataDir() + "/files/" + QDate::currentDate().addDays(-daysAgo).toString(dayFormat);
    }
};

} // namespace

TEST_F(AppFilesTest, DataDirectoryFollowsXdgDataHomeAndIsCreated) {
    auto dir = AppFiles::appDataDir();
    ASSERT_TRUE(dir);
    EXPECT_EQ(*dir, dataDir());
    EXPECT_TRUE(QFileInfo(*dir).isDir());

    // A second home, set later in the same process, is honoured at once.
    QTemporaryDir other;
    qputenv("XDG_DATA_HOME", other.path().toLocal8Bit());
    EXPECT_EQ(*AppFiles::appDataDir(), other.filePath("Orvane"));
}

TEST_F(AppFilesTest, DirectoryCreationFailureIsReported) {
    writeFile(dataDir(), "a plain file where the directory belongs");
    auto dir = AppFiles::appDataDir();
    ASSERT_FALSE(dir);
    EXPECT_EQ(dir.error().code(), AppFilesError::Code::fileSystem);
    EXPECT_EQ(dir.error().fileError()->path, dataDir());
    EXPECT_FALSE(AppFiles::saveReceivedFile("a.txt", "x"));
}

TEST_F(AppFilesTest, ReceivedFilesDirIsTheDayFolder) {
    auto dir = AppFiles::receivedFilesDir(QDate(2024, 3, 9));
    ASSERT_TRUE(dir);
    EXPECT_EQ(*dir, dataDir() + "/files/2024-03-09");
    EXPECT_TRUE(QFileInfo(*dir).isDir());
}

TEST(ReceivedFileNameTest, KeepsTheLastComponentOfEitherSeparator) {
    const std::pair<QString, QString> cases[] = {
        {"report.pdf", "report.pdf"},
        {"  ../x/report.pdf\n", "report.pdf"},
        {"C:\\Users\\a\\report.pdf", "report.pdf"},
        {"a\\b.txt", "b.txt"},
        {"/tmp/x/", "x"},
        {"dir//", "dir"},
        {"...", "..."},
        {".hidden", ".hidden"},
        {"报告 final.txt", "报告 final.txt"},
    };
    for (const auto& [given, stored] : cases) {
        EXPECT_EQ(AppFiles::receivedFileName(given), stored) << given.toStdString();
    }
}

TEST(ReceivedFileNameTest, RefusesNamesThatAddressNoFileOrCarryControls) {
    const QString refused[] = {
        "",
        "   ",
        "\n\t",
        ".",
        "..",
        " .. \n",
        "a/..",
        "a/../",
        "x\\..",
        "/",
        "\\",
        "//",
        QString::fromUtf8(QByteArray("a\0b.txt", 7)),
        "a\tb.txt",
        "a\nb.txt",
        "bell\a",
        "del\x7f",
        QString("c1") + QChar(0x85) + "x",
        QString("half") + QChar(0xD83D) + ".txt",
    };
    for (const QString& name : refused) {
        EXPECT_FALSE(AppFiles::receivedFileName(name).has_value()) << name.toStdString();
    }
}

TEST(ReceivedFileNameTest, ShortensOverlongNamesKeepingExtensionAndWholeCharacters) {
    const auto check = [](const QString& given, const QString& suffix) {
        const auto name = AppFiles::receivedFileName(given);
        ASSERT_TRUE(name.has_value());
        const QByteArray utf8 = name->toUtf8();
        EXPECT_LE(utf8.size(), 255);
        EXPECT_GE(utf8.size(), 252); // nothing more is cut than needed
        EXPECT_TRUE(name->isValidUtf16());
        EXPECT_EQ(QString::fromUtf8(utf8), *name);
        EXPECT_TRUE(name->endsWith(suffix)) << name->right(20).toStdString();
        EXPECT_TRUE(given.startsWith(name->left(name->size() - suffix.size())));
    };
    check(QString(300, 'a') + ".txt", ".txt");
    check(QString(200, QChar(0x00E9)) + ".pdf", ".pdf");   // two bytes each
    check(QString(150, QChar(0x6587)) + ".docx", ".docx"); // three bytes each
    check(QString("😀").repeated(70) + ".png", ".png");     // four bytes, surrogate pairs
    check("a." + QString(300, 'x'), "");                   // no sensible extension to keep
    EXPECT_EQ(AppFiles::receivedFileName(QString(255, 'b')), QString(255, 'b'));
}

TEST_F(AppFilesTest, SaveReceivedFileStoresInTodaysFolderAndReplacesSameName) {
    auto first = AppFiles::saveReceivedFile("  ../x/report.pdf\n", "first");
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, dayDir(0) + "/report.pdf");
    EXPECT_EQ(readAll(*first), "first");

    auto second = AppFiles::saveReceivedFile("report.pdf", "second, longer");
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, *first);
    EXPECT_EQ(readAll(*second), "second, longer");
    // No temporary file or second copy stays behind.
    EXPECT_EQ(entriesOf(dayDir(0)), QStringList{"report.pdf"});

    auto empty = AppFiles::saveReceivedFile("empty.bin", "");
    ASSERT_TRUE(empty);
    EXPECT_EQ(QFileInfo(*empty).size(), 0);
}

TEST_F(AppFilesTest, SaveReceivedFileReplacesALinkInsteadOfWritingThroughIt) {
    const QString outside = home_.filePath("outside.txt");
    writeFile(outside, "keep me");
    ASSERT_TRUE(QDir().mkpath(dayDir(0)));
    ASSERT_TRUE(QFile::link(outside, dayDir(0) + "/a.txt"));

    auto saved = AppFiles::saveReceivedFile("a.txt", "received");
    ASSERT_TRUE(saved);
    EXPECT_FALSE(QFileInfo(*saved).isSymLink());
    EXPECT_EQ(readAll(*saved), "received");
    EXPECT_EQ(readAll(outside), "keep me");
}

TEST_F(AppFilesTest, SaveReceivedFilePurgesOldDays) {
    writeFile(dayDir(8) + "/old.txt", "old");
    writeFile(dayDir(7) + "/kept.txt", "kept");
    ASSERT_TRUE(AppFiles::saveReceivedFile("new.txt", "new"));
    EXPECT_FALSE(QFileInfo::exists(dayDir(8)));
    EXPECT_TRUE(QFileInfo::exists(dayDir(7) + "/kept.txt"));
}

TEST_F(AppFilesTest, InvalidNamesAreRefusedAndDotDotDeletesNothing) {
    writeFile(dayDir(0) + "/today.txt", "today");
    writeFile(dayDir(1) + "/yesterday.txt", "yesterday");
    writeFile(dataDir() + "/data.db", "db");

    for (const QString& name : {QString(".."), QString(" ..\n"), QString("x/.."), QString("\\..\\"),
                                QString("."), QString(""), QString("  ")}) {
        auto opened = AppFiles::openReceivedFileForWriting(name, 10);
        ASSERT_FALSE(opened) << name.toStdString();
        EXPECT_EQ(opened.error().code(), AppFilesError::Code::invalidName);
        auto saved = AppFiles::saveReceivedFile(name, "x");
        ASSERT_FALSE(saved) << name.toStdString();
        EXPECT_EQ(saved.error(), AppFilesError::invalidName());
    }
    EXPECT_EQ(readAll(dayDir(0) + "/today.txt"), "today");
    EXPECT_EQ(readAll(dayDir(1) + "/yesterday.txt"), "yesterday");
    EXPECT_EQ(readAll(dataDir() + "/data.db"), "db");
    EXPECT_EQ(entriesOf(dayDir(0)), QStringList{"today.txt"});

    auto negative = AppFiles::openReceivedFileForWriting("ok.bin", -1);
    ASSERT_FALSE(negative);
    EXPECT_EQ(negative.error(), AppFilesError::invalidName());
    EXPECT_FALSE(QFileInfo::exists(dayDir(0) + "/ok.bin"));
}

TEST_F(AppFilesTest, OpenForWritingPreSizesAndStartsAtOffsetZero) {
    auto opened = AppFiles::openReceivedFileForWriting("big.bin", 1000);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->path, dayDir(0) + "/big.bin");
    ASSERT_TRUE(opened->handle && opened->handle->isOpen());
    EXPECT_EQ(QFileInfo(opened->path).size(), 1000);
    EXPECT_EQ(opened->handle->pos(), 0);
    ASSERT_EQ(opened->handle->write("head"), 4);
    ASSERT_TRUE(opened->handle->seek(996));
    ASSERT_EQ(opened->handle->write("tail"), 4);
    opened->handle->close();
    const QByteArray bytes = readAll(opened->path);
    ASSERT_EQ(bytes.size(), 1000);
    EXPECT_TRUE(bytes.startsWith("head"));
    EXPECT_TRUE(bytes.endsWith("tail"));
    EXPECT_EQ(bytes.mid(4, 992), QByteArray(992, '\0'));
}

TEST_F(AppFilesTest, OpenForWritingRefusesAFileTheDiskCannotHold) {
    ASSERT_TRUE(QDir().mkpath(dayDir(0)));
    const QStorageInfo volume(dayDir(0));
    const qint64 free = volume.bytesAvailable();
    if (!volume.isValid() || free <= 0) {
        // Inside a bare chroot /proc/self/mountinfo may not list the volume; the program then
        // does without the check, and so must this test.
        GTEST_SKIP() << "the free space of " << dayDir(0).toStdString() << " is unknown here";
    }
    // Sparse, such a file could be created; its transfer would fail only once the disk
    // ran full.
    auto refused = AppFiles::openReceivedFileForWriting("huge.bin", free + (qint64(1) << 30));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code(), AppFilesError::Code::fileSystem);
    EXPECT_TRUE(refused.error().description().contains(QString::fromLocal8Bit(strerror(ENOSPC))))
        << refused.error().description().toStdString();
    EXPECT_FALSE(QFileInfo::exists(dayDir(0) + "/huge.bin"));
}

TEST_F(AppFilesTest, OpenForWritingReplacesAnEarlierFileButNotADirectory) {
    writeFile(dayDir(0) + "/a.txt", "an earlier, longer file");
    auto opened = AppFiles::openReceivedFileForWriting("a.txt", 0);
    ASSERT_TRUE(opened);
    opened->handle->write("new");
    opened->handle->close();
    EXPECT_EQ(readAll(opened->path), "new");

    writeFile(dayDir(0) + "/folder/inside.txt", "inside");
    auto refused = AppFiles::openReceivedFileForWriting("folder", 5);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code(), AppFilesError::Code::fileSystem);
    EXPECT_EQ(readAll(dayDir(0) + "/folder/inside.txt"), "inside");
}

TEST_F(AppFilesTest, OpenForWritingReplacesALinkWithoutTouchingItsTarget) {
    const QString outside = home_.filePath("outside.txt");
    writeFile(outside, "keep me");
    ASSERT_TRUE(QDir().mkpath(dayDir(0)));
    ASSERT_TRUE(QFile::link(outside, dayDir(0) + "/a.txt"));
    auto opened = AppFiles::openReceivedFileForWriting("a.txt", 3);
    ASSERT_TRUE(opened);
    EXPECT_FALSE(QFileInfo(opened->path).isSymLink());
    EXPECT_EQ(readAll(outside), "keep me");
}

TEST_F(AppFilesTest, OverlongNameIsStoredShortened) {
    auto opened = AppFiles::openReceivedFileForWriting(QString(400, 'n') + ".bin", 2);
    ASSERT_TRUE(opened);
    EXPECT_EQ(QFileInfo(opened->path).fileName(), QString(251, 'n') + ".bin");
    EXPECT_EQ(QFileInfo(opened->path).size(), 2);
}

TEST_F(AppFilesTest, RemoveFileIfExistsRemovesFilesOnly) {
    writeFile(dayDir(0) + "/partial.bin", "part");
    AppFiles::removeFileIfExists(dayDir(0) + "/partial.bin");
    EXPECT_FALSE(QFileInfo::exists(dayDir(0) + "/partial.bin"));
    AppFiles::removeFileIfExists(dayDir(0) + "/partial.bin");
    AppFiles::removeFileIfExists("");
    writeFile(dayDir(0) + "/kept/file.txt", "x");
    AppFiles::removeFileIfExists(dayDir(0) + "/kept");
    EXPECT_TRUE(QFileInfo::exists(dayDir(0) + "/kept/file.txt"));
}

TEST_F(AppFilesTest, PurgeKeepsTheLastKeepDaysAndAnythingNotADayFolder) {
    const QDate today(2024, 3, 4); // a leap February lies inside the kept week
    const QString files = dataDir() + "/files/";
    for (int back : {0, 1, 7, 8, 30}) {
        writeFile(files + today.addDays(-back).toString(dayFormat) + "/f.txt", "x");
    }
    writeFile(files + today.addDays(1).toString(dayFormat) + "/future.txt", "x");
    writeFile(files + "notes/n.txt", "notes");
    writeFile(files + "2000-01-01", "a plain file named like a day");
    writeFile(files + "2000-1-1/odd.txt", "loosely formatted name");
    writeFile(files + "2000-02-30/bad.txt", "impossible date");

    // A link named like an old day points outside: neither it nor its target goes.
    const QString outside = home_.filePath("elsewhere");
    writeFile(outside + "/precious.txt", "precious");
    ASSERT_TRUE(QFile::link(outside, files + "2000-01-02"));

    ASSERT_TRUE(AppFiles::purgeOldReceivedFiles(7, today));

    QStringList expected{"2000-01-01", "2000-01-02", "2000-02-30", "2000-1-1", "notes"};
    for (int back : {-1, 0, 1, 7}) {
        expected << today.addDays(-back).toString(dayFormat);
    }
    expected.sort();
    EXPECT_EQ(entriesOf(files), expected);
    EXPECT_EQ(readAll(outside + "/precious.txt"), "precious");
}

TEST_F(AppFilesTest, PurgeWithoutFilesFolderDoesNothing) {
    EXPECT_TRUE(AppFiles::purgeOldReceivedFiles(7));
    EXPECT_FALSE(QFileInfo::exists(dataDir() + "/files"));
}

TEST_F(AppFilesTest, ClipboardImageIsStoredUnchangedUnderTheCurrentMillisecond) {
    const QByteArray jpeg("\xff\xd8\xff\xe0\0\x10JFIF", 10);
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    auto saved = AppFiles::saveClipboardImagePNG(jpeg);
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    ASSERT_TRUE(saved);
    const QFileInfo info(*saved);
    EXPECT_EQ(info.path(), dataDir() + "/clipboard_images");
    EXPECT_EQ(info.suffix(), "png");
    bool numeric = false;
    const qint64 stamp = info.completeBaseName().toLongLong(&numeric);
    EXPECT_TRUE(numeric);
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    EXPECT_EQ(readAll(*saved), jpeg);
    EXPECT_EQ(entriesOf(info.path()), QStringList{info.fileName()});
}

TEST_F(AppFilesTest, ClipboardImageNeverReplacesAnImageOfTheSameMillisecond) {
    // Every name of the next two seconds is taken already.
    const QString images = dataDir() + "/clipboard_images/";
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (qint64 ms = now; ms < now + 2000; ++ms) {
        writeFile(images + QString::number(ms) + ".png", "older");
    }
    auto first = AppFiles::saveClipboardImagePNG("one");
    auto second = AppFiles::saveClipboardImagePNG("two");
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_EQ(readAll(*first), "one");
    EXPECT_EQ(readAll(*second), "two");
    EXPECT_TRUE(QFileInfo(*first).completeBaseName().endsWith("-1"));
    int older = 0;
    for (const QString& name : entriesOf(images)) {
        older += readAll(images + name) == "older";
    }
    EXPECT_EQ(older, 2000);
}

TEST_F(AppFilesTest, ClipboardImageFailureIsReported) {
    writeFile(dataDir() + "/clipboard_images", "not a directory");
    auto saved = AppFiles::saveClipboardImagePNG("png");
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error().code(), AppFilesError::Code::fileSystem);
    EXPECT_FALSE(saved.error().description().isEmpty());
}
