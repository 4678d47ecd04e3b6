#include "trans/TransPayload.h"

#include "protocol/TransWire.h"
#include "storage/DataDirectoryFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using namespace orvane;

namespace {

class TransPayloadTest : public ::testing::Test {
protected:
    DataDirectoryFiles files_{DataDirectory::standard()};
    void SetUp() override {
        ASSERT_TRUE(dataHome_.isValid());
        qputenv("XDG_DATA_HOME", dataHome_.path().toUtf8());
    }

    QString writeFile(const QString& name, const QByteArray& content) {
        const QString path = work_.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        EXPECT_EQ(f.write(content), content.size());
        return path;
    }

    static ClipboardEntry textEntry(const QString& text) {
        ClipboardEntry e;
        e.kind = ClipboardKind::text;
        e.text = text;
        return e;
    }

    static ClipboardEntry imageEntry(std::optional<QByteArray> bytes, std::optional<QString> path) {
        ClipboardEntry e;
        e.kind = ClipboardKind::image;
        e.text = QStringLiteral("[截图]");
        e.imageData = std::move(bytes);
        e.imagePath = std::move(path);
        return e;
    }

    static ClipboardEntry filesEntry(const QStringList& files) {
        ClipboardEntry e;
        e.kind = ClipboardKind::files;
        e.files = files;
        e.text = files.join('\n');
        return e;
    }

    static TransError::Code codeOf(const TransPayloadError& error) {
        const TransError* trans = error.transError();
        EXPECT_NE(trans, nullptr) << error.description().toStdString();
        return trans ? trans->code() : TransError::Code::transferFailed;
    }

    static TransHeader headerFor(quint16 dataType, qint64 payloadSize) {
        TransHeader h;
        h.headerLength = 52;
        h.dataType = dataType;
        h.totalFileSize = quint32(payloadSize + 52);
        return h;
    }

    QTemporaryDir dataHome_;
    QTemporaryDir work_;
};

TEST_F(TransPayloadTest, FileNameReduction) {
    EXPECT_EQ(TransPayload::reduceFileName("C:\\Users\\a\\report.pdf"), "report.pdf");
    EXPECT_EQ(TransPayload::reduceFileName("/tmp/x/report.pdf"), "report.pdf");
    EXPECT_EQ(TransPayload::reduceFileName("  report.pdf \n"), "report.pdf");
    EXPECT_EQ(TransPayload::reduceFileName("dir/"), "");
    EXPECT_EQ(TransPayload::reduceFileName("   "), "");
}

TEST_F(TransPayloadTest, TextLimitsCountUtf8Bytes) {
    EXPECT_EQ(codeOf(TransPayload::textJob(textEntry("")).error()), TransError::Code::emptyPayload);
    EXPECT_EQ(TransPayload::textJob(textEntry("")).error().description(), "空内容");

    const auto exact = TransPayload::textJob(textEntry(QString(1048576, 'a')));
    ASSERT_TRUE(exact.ok());
    EXPECT_EQ(exact->dataType, 0);
    EXPECT_EQ(exact->payload.size(), 1048576);
    EXPECT_TRUE(exact->fileName.isEmpty());
    EXPECT_EQ(codeOf(TransPayload::textJob(textEntry(QString(1048577, 'a'))).error()),
              TransError::Code::transferTooLarge);
    // 400000 CJK characters are 1200000 UTF-8 bytes.
    EXPECT_EQ(codeOf(TransPayload::textJob(textEntry(QString(400000, QChar(0x4E2D)))).error()),
              TransError::Code::transferTooLarge);

    const auto cjk = TransPayload::textJob(textEntry("中文"));
    ASSERT_TRUE(cjk.ok());
    EXPECT_EQ(cjk->payload, QByteArray("\xE4\xB8\xAD\xE6\x96\x87"));
}

TEST_F(TransPayloadTest, ImageSourcesInOrder) {
    const QByteArray fileBytes = "file image bytes";
    const QString path = writeFile("shot.png", fileBytes);
    const QByteArray memoryBytes = "\x89PNG memory";

    // Bytes in memory win and the file is not needed at all.
    auto both = TransPayload::imageJob(imageEntry(memoryBytes, work_.filePath("missing.png")));
    ASSERT_TRUE(both.ok());
    EXPECT_EQ(both->payload, memoryBytes);
    EXPECT_EQ(both->dataType, 1);

    // No bytes in memory: the (trimmed) file.
    auto fallback = TransPayload::imageJob(imageEntry(QByteArray(), "  " + path + "\n"));
    ASSERT_TRUE(fallback.ok());
    EXPECT_EQ(fallback->payload, fileBytes);

    EXPECT_EQ(codeOf(TransPayload::imageJob(imageEntry(std::nullopt, std::nullopt)).error()),
              TransError::Code::emptyPayload);
    EXPECT_EQ(codeOf(TransPayload::imageJob(imageEntry(std::nullopt, "   ")).error()),
              TransError::Code::emptyPayload);

    const auto dir = TransPayload::imageJob(imageEntry(std::nullopt, " " + work_.path() + " "));
    ASSERT_FALSE(dir.ok());
    EXPECT_EQ(*dir.error().transError(), TransError::fileNotFound(work_.path()));
    EXPECT_EQ(dir.error().description(), "文件不存在: " + work_.path());
}

TEST_F(TransPayloadTest, ImageSizeLimit) {
    const QString exact = writeFile("exact.png", QByteArray(0xA00000, 'x'));
    ASSERT_TRUE(TransPayload::imageJob(imageEntry(std::nullopt, exact)).ok());
    const QString big = writeFile("big.png", QByteArray(0xA00001, 'x'));
    EXPECT_EQ(codeOf(TransPayload::imageJob(imageEntry(std::nullopt, big)).error()),
              TransError::Code::transferTooLarge);
    EXPECT_EQ(
        codeOf(TransPayload::imageJob(imageEntry(QByteArray(0xA00001, 'y'), std::nullopt)).error()),
        TransError::Code::transferTooLarge);
    // imageBytes itself has no limit.
    EXPECT_EQ(TransPayload::imageBytes(imageEntry(std::nullopt, big))->size(), 0xA00001);
}

TEST_F(TransPayloadTest, FilesSendTheFirstPathUnderItsBareName) {
    const QString report = writeFile("report.pdf", "%PDF-1.7");
    const QString other = writeFile("other.txt", "other");
    const auto job = TransPayload::fileJob(filesEntry({report + "  ", other, other}));
    ASSERT_TRUE(job.ok());
    EXPECT_EQ(job->dataType, 2);
    EXPECT_EQ(job->fileName, "report.pdf");
    EXPECT_EQ(job->payload, QByteArray("%PDF-1.7"));

    EXPECT_EQ(codeOf(TransPayload::fileJob(filesEntry({})).error()),
              TransError::Code::filePathMissing);
    EXPECT_EQ(codeOf(TransPayload::fileJob(filesEntry({"  ", report})).error()),
              TransError::Code::filePathMissing);
    EXPECT_EQ(codeOf(TransPayload::fileJob(filesEntry({writeFile("empty", {})})).error()),
              TransError::Code::emptyPayload);
    EXPECT_EQ(*TransPayload::fileJob(filesEntry({work_.path()})).error().transError(),
              TransError::fileNotFound(work_.path()));
    EXPECT_EQ(codeOf(TransPayload::fileJob(filesEntry({work_.filePath("gone")})).error()),
              TransError::Code::fileNotFound);
}

TEST_F(TransPayloadTest, FileTooLargeForTheTransferHeaderIsRefusedUnread) {
    // Sparse: no disk space is used and the file is never read.
    const QString path = work_.filePath("huge.bin");
    QFile huge(path);
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    ASSERT_TRUE(huge.resize(TransPayload::maxFileBytes + 1));
    huge.close();
    EXPECT_EQ(codeOf(TransPayload::fileJob(filesEntry({path})).error()),
              TransError::Code::transferTooLarge);
}

TEST_F(TransPayloadTest, AFifoOrADeviceIsRefusedWithoutWaitingForAWriter) {
    const QString fifo = work_.filePath("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const ClipboardEntry& entry :
         {filesEntry({fifo}), imageEntry({}, fifo), filesEntry({"/dev/null"})}) {
        // Off this thread: were the open to wait for a writer, the test must still end.
        auto done = std::make_shared<std::promise<TransError::Code>>();
        auto code = done->get_future();
        std::thread([entry, done] {
            const auto job = TransPayload::jobFor(entry);
            done->set_value(job ? TransError::Code::transferFailed : codeOf(job.error()));
        }).detach();
        if (code.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << "the read waits on " << entry.text.toStdString();
            QFile writer(fifo); // lets the waiting open go on
            writer.open(QIODevice::WriteOnly);
            code.wait();
            continue;
        }
        EXPECT_EQ(code.get(), TransError::Code::fileNotFound) << entry.text.toStdString();
    }
}

TEST_F(TransPayloadTest, UnreadableFilePassesTheSystemErrorOn) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root reads files whatever their permissions";
    }
    const QString path = writeFile("secret.txt", "secret");
    QFile::setPermissions(path, QFileDevice::WriteOwner);
    const auto job = TransPayload::fileJob(filesEntry({path}));
    ASSERT_FALSE(job.ok());
    EXPECT_EQ(job.error().transError(), nullptr);
    EXPECT_TRUE(job.error().description().contains(path));
}

TEST_F(TransPayloadTest, ReceivedText) {
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    const auto entry =
        TransPayload::buildClipboardEntry(headerFor(0, 6),
                                          PayloadStorage{PayloadStorage::Memory{"\xE4\xB8\xAD"
                                                                                "abc"}},
                                          files_);
    ASSERT_TRUE(entry.ok());
    EXPECT_EQ(entry->kind, ClipboardKind::text);
    EXPECT_EQ(entry->text, "中abc");
    EXPECT_EQ(entry->dataSize, 6);
    EXPECT_EQ(entry->id, 0);
    EXPECT_GE(entry->timestamp, before);
    EXPECT_FALSE(entry->imagePath || entry->imageData);

    const auto invalid =
        TransPayload::buildClipboardEntry(headerFor(0, 3),
                                          PayloadStorage{PayloadStorage::Memory{"a\xFF"
                                                                                "b"}},
                                          files_);
    ASSERT_TRUE(invalid.ok());
    EXPECT_TRUE(invalid->text.isEmpty());
    EXPECT_EQ(invalid->dataSize, 3);
}

TEST_F(TransPayloadTest, ReceivedImageIsStoredAsAFile) {
    const QByteArray png = "\x89PNG\r\n\x1A\n....";
    const auto entry = TransPayload::buildClipboardEntry(
        headerFor(1, png.size()), PayloadStorage{PayloadStorage::Memory{png}}, files_);
    ASSERT_TRUE(entry.ok());
    EXPECT_EQ(entry->kind, ClipboardKind::image);
    EXPECT_EQ(entry->text, "[截图]");
    EXPECT_EQ(entry->dataSize, png.size());
    ASSERT_TRUE(entry->imagePath.has_value());
    EXPECT_TRUE(entry->imagePath->startsWith(dataHome_.path() + "/Orvane/clipboard_images/"));
    QFile stored(*entry->imagePath);
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(), png);
}

TEST_F(TransPayloadTest, ImageStoreFailurePassesThrough) {
    // A plain file where the data directory should be: nothing can be stored.
    QFile blocker(dataHome_.filePath("Orvane"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto entry = TransPayload::buildClipboardEntry(
        headerFor(1, 3), PayloadStorage{PayloadStorage::Memory{"png"}}, files_);
    ASSERT_FALSE(entry.ok());
    EXPECT_EQ(entry.error().transError(), nullptr);
}

TEST_F(TransPayloadTest, ReceivedFileKeepsItsPath) {
    const QString path = writeFile("big.bin", QByteArray(10, 'z'));
    const auto entry = TransPayload::buildClipboardEntry(
        headerFor(2, 10), PayloadStorage{PayloadStorage::File{path, nullptr, 10}}, files_);
    ASSERT_TRUE(entry.ok());
    EXPECT_EQ(entry->kind, ClipboardKind::files);
    EXPECT_EQ(entry->text, path);
    EXPECT_EQ(entry->files, QStringList{path});
    EXPECT_EQ(entry->dataSize, 10);
}

TEST_F(TransPayloadTest, PayloadInTheWrongFormOrOfUnknownType) {
    const PayloadStorage pending{PayloadStorage::MemoryPending{5}};
    const PayloadStorage memory{PayloadStorage::Memory{"bytes"}};
    const PayloadStorage file{PayloadStorage::File{work_.filePath("f"), nullptr, 5}};
    for (const auto& [type, storage] :
         std::vector<std::pair<quint16, std::optional<PayloadStorage>>>{{0, pending},
                                                                        {0, file},
                                                                        {0, std::nullopt},
                                                                        {1, pending},
                                                                        {1, file},
                                                                        {2, memory},
                                                                        {2, pending},
                                                                        {2, std::nullopt}}) {
        const auto entry = TransPayload::buildClipboardEntry(headerFor(type, 5), storage, files_);
        ASSERT_FALSE(entry.ok());
        EXPECT_EQ(codeOf(entry.error()), TransError::Code::emptyPayload) << "type " << type;
    }
    const auto unknown = TransPayload::buildClipboardEntry(headerFor(7, 5), memory, files_);
    ASSERT_FALSE(unknown.ok());
    EXPECT_EQ(unknown.error().description(), "传输失败: unsupported data_type=7");
}

} // namespace
