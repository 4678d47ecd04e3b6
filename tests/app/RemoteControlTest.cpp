// Requests from other programs against the application model with its real parts and the
// simulated device; the model's timers run on a fake clock.
#include "app/RemoteControl.h"

#include "app/AppModel.h"
#include "protocol/TransError.h"
#include "support/DevsimProcess.h"
#include "support/EventLoopWait.h"
#include "support/FakeClipboardIO.h"
#include "support/FakeClipboardTimers.h"
#include "support/FakeModelTimers.h"
#include "trans/TransPayload.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <gtest/gtest.h>

namespace orvane {
namespace {

using Outcome = SendController::Outcome;

struct JobEvent {
    RemoteControl::Job job = 0;
    int percent = -1;               // a progress value, or
    std::optional<Outcome> outcome; // the end
    QString message;
};

class RemoteControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(data.isValid());
        qputenv("XDG_DATA_HOME", data.filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", data.filePath(QStringLiteral("config")).toUtf8());
    }

    void start(const QString& port) {
        AppModel::Parts parts;
        parts.serialPlatform = ProtocolStack::singlePortPlatform(port);
        parts.clipboardIO = &io;
        parts.clipboardTimers = &clock;
        parts.timers = std::make_unique<FakeModelTimers>(clock);
        const QString database = data.filePath(QStringLiteral("test.db"));
        parts.openStore = [database] {
            return AppStore::openOrRecover(database);
        };
        model = std::make_unique<AppModel>(std::move(parts));
        control = std::make_unique<RemoteControl>(*model, [] {});
        QObject::connect(control.get(), &RemoteControl::jobProgress,
                         [this](quint32 job, int percent) {
                             events.append({job, percent, {}, {}});
                         });
        QObject::connect(control.get(), &RemoteControl::jobFinished,
                         [this](quint32 job, Outcome outcome, const QString& text, quint64) {
                             events.append({job, -1, outcome, text});
                         });
        QCoreApplication::processEvents(); // startup()
        if (!port.isEmpty()) {
            model->selectSerialPort(port);
        }
    }

    int progressCount() const {
        return int(std::count_if(events.cbegin(), events.cend(),
                                 [](const JobEvent& event) { return !event.outcome; }));
    }

    QTemporaryDir data;
    FakeClipboardIO io;
    FakeClipboardTimers clock;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<RemoteControl> control;
    QList<JobEvent> events;
};

RemoteControl::Refusal refusal(const Result<RemoteControl::Job, RemoteControl::Refused>& result) {
    EXPECT_FALSE(result);
    return result ? RemoteControl::Refusal::invalidArgument : result.error().kind;
}

TEST_F(RemoteControlTest, RequestsTheWindowWouldRefuseAreRefusedWithItsTexts) {
    start(QString());
    EXPECT_EQ(refusal(control->sendText(QString())), RemoteControl::Refusal::invalidArgument);
    EXPECT_EQ(refusal(control->sendFile(QStringLiteral("relative/notes.txt"))),
              RemoteControl::Refusal::invalidArgument);
    // Bytes count, not characters.
    EXPECT_EQ(refusal(control->sendText(QString(TransPayload::maxTextBytes / 3 + 1, u'字'))),
              RemoteControl::Refusal::tooLarge);
    const auto down = control->sendText(QStringLiteral("hi"));
    EXPECT_EQ(refusal(down), RemoteControl::Refusal::notConnected);
    EXPECT_EQ(down.error().message, TransError(TransError::Code::serialClosed).errorDescription());
    const auto missing = control->sendEntry(987654);
    EXPECT_EQ(refusal(missing), RemoteControl::Refusal::notFound);
    EXPECT_EQ(missing.error().message, QStringLiteral("找不到剪贴板记录"));
    EXPECT_FALSE(control->cancel(1));
    EXPECT_FALSE(model->toast()); // nothing of it reached the window
}

TEST_F(RemoteControlTest, ARunningSendIsKeptOverABusyRequestButAClickInTheWindowReplacesIt) {
    DevsimProcess device({"--interval", "200", "--buffer-size", "1024"});
    ASSERT_TRUE(test::waitUntil([&] { return QFile::exists(device.link); }, 5000));
    const QString big = data.filePath(QStringLiteral("big.bin"));
    {
        QFile file(big);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4 << 20, 'b'));
    }
    start(device.link);
    io.copyText(QStringLiteral("in the history"));
    clock.advance(std::chrono::milliseconds(1000));
    ASSERT_TRUE(test::waitUntil([&] { return !model->clipboardState().history.isEmpty(); }, 5000));
    ASSERT_TRUE(test::waitUntil([&] { return model->serial().isConnected(); }, 8000));

    const auto first = control->sendFile(big);
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, 1u);
    EXPECT_TRUE(events.isEmpty()); // the caller has its answer before any event
    EXPECT_TRUE(control->linkValues().sending);
    ASSERT_TRUE(test::waitUntil([&] { return progressCount() > 0; }, 10000));

    const auto busy = control->sendText(QStringLiteral("later"));
    EXPECT_EQ(refusal(busy), RemoteControl::Refusal::busy);
    EXPECT_EQ(busy.error().message, QStringLiteral("另一个剪贴板传输正在进行中"));
    const int heard = progressCount();
    ASSERT_TRUE(test::waitUntil([&] { return progressCount() > heard; }, 10000));
    EXPECT_FALSE(events.last().outcome); // still running

    model->sendClipboardItem(model->clipboardState().history[0].id);
    ASSERT_TRUE(test::waitUntil([&] { return events.last().outcome.has_value(); }, 10000));
    EXPECT_EQ(events.last().job, 1u);
    EXPECT_EQ(*events.last().outcome, Outcome::cancelled);
    EXPECT_EQ(events.last().message, QStringLiteral("已取消发送"));
    // Every value in order, none after the end.
    for (qsizetype i = 1; i + 1 < events.size(); ++i) {
        EXPECT_LE(events[i - 1].percent, events[i].percent);
    }
}

} // namespace
} // namespace orvane
