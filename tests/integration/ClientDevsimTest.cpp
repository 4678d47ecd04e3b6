// The client's link stack (serial port session, router, echo handler, TRANS receiver
// and sender) against the simulated device over a real pseudo-terminal, both ways.

#include "support/ClientLink.h"
#include "support/DevsimProcess.h"
#include "support/TestData.h"
#include "trans/TransPayload.h"

#include <QDate>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

class ClientDevsimTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dataHome_.isValid());
        qputenv("XDG_DATA_HOME", dataHome_.path().toUtf8());
    }

    // Opens the client on the simulator's link once the simulator has created it.
    static std::unique_ptr<ClientLink> connect(DevsimProcess& device) {
        if (!device.waitFor(QStringLiteral("plugged"))) {
            return nullptr;
        }
        auto client = std::make_unique<ClientLink>(device.link);
        if (!client->open()) {
            return nullptr;
        }
        return client;
    }

    QString writeWorkFile(const QString& name, const QByteArray& content) {
        const QString path = writeTestFile(work_, name, content);
        EXPECT_FALSE(path.isEmpty()) << name.toStdString();
        return path;
    }

    QTemporaryDir dataHome_;
    QTemporaryDir work_;
};

TEST_F(ClientDevsimTest, ProbesAreEchoedAndPushedItemsAreDelivered) {
    const QByteArray content = patternedBytes(25000); // three chunks of 10240
    const QString source = writeWorkFile("report.bin", content);
    DevsimProcess device(
        {"--interval", "100", "--push-text", "你好, devsim", "--push-file", source});
    auto client = connect(device);
    ASSERT_TRUE(client);

    ASSERT_TRUE(device.waitFor("probe_matched"));
    ASSERT_TRUE(
        client->waitUntil([](const auto& entries, int) { return entries.size() >= 2; }, 15s));

    const auto entries = client->delivered();
    EXPECT_EQ(entries[0].kind, ClipboardKind::text);
    EXPECT_EQ(entries[0].text, "你好, devsim");
    EXPECT_EQ(entries[1].kind, ClipboardKind::files);
    const QString expectedPath = dataHome_.path() + "/Orvane/files/" +
                                 QDate::currentDate().toString("yyyy-MM-dd") + "/report.bin";
    EXPECT_EQ(entries[1].files, QStringList{expectedPath});
    EXPECT_EQ(readTestFile(expectedPath), content);
    EXPECT_TRUE(device.waitFor("push_done"));
}

TEST_F(ClientDevsimTest, DamagedChunkFromTheDeviceIsRefusedAndResent) {
    DevsimProcess device({"--interval", "100", "--chunk-size", "16"});
    auto client = connect(device);
    ASSERT_TRUE(client);
    ASSERT_TRUE(device.waitFor("probe_matched"));

    device.command("damage");
    device.command("text the quick brown fox jumps over the lazy dog");
    ASSERT_TRUE(
        client->waitUntil([](const auto& entries, int) { return !entries.isEmpty(); }, 15s));
    EXPECT_EQ(client->delivered().first().text, "the quick brown fox jumps over the lazy dog");
    EXPECT_TRUE(device.waitFor("push_retry"));
}

TEST_F(ClientDevsimTest, ClientSendsAFileAndATextToTheDevice) {
    QTemporaryDir saved;
    DevsimProcess device({"--interval", "100", "--save-dir", saved.path()});
    auto client = connect(device);
    ASSERT_TRUE(client);
    ASSERT_TRUE(device.waitFor("probe_matched"));

    const QByteArray content = patternedBytes(30000);
    ClipboardEntry fileEntry;
    fileEntry.kind = ClipboardKind::files;
    fileEntry.files = {writeWorkFile("notes.bin", content)};
    const auto fileJob = TransPayload::fileJob(fileEntry);
    ASSERT_TRUE(fileJob.ok());

    QList<int> progress;
    const auto sent = client->send(fileJob.value(), [&](int p) { progress.append(p); });
    ASSERT_TRUE(sent.ok());
    EXPECT_EQ(progress.first(), 0);
    EXPECT_EQ(progress.last(), 100);
    ASSERT_TRUE(device.waitFor("receive_done"));
    EXPECT_EQ(readTestFile(saved.filePath("notes.bin")), content);

    ClipboardEntry textEntry;
    textEntry.text = "剪贴板 text";
    const auto textJob = TransPayload::textJob(textEntry);
    ASSERT_TRUE(textJob.ok());
    ASSERT_TRUE(client->send(textJob.value()).ok());
    EXPECT_TRUE(device.waitFor("receive_done"));
}

} // namespace
