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
    int percent = -1;               // a progress value
    std::optional<Outcome> outcome; // or the end
    QString message;
    quint64 bytes = 0;
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
        control = std::make_unique<RemoteControl>(*model, [this] { ++windowShown; });
        QObject::connect(control.get(), &RemoteControl::jobProgress,
                         [this](quint32 job, int percent) {
                             events.append({job, percent, {}, {}, 0});
                         });
        QObject::connect(control.get(), &RemoteControl::jobFinished,
                         [this](quint32 job, Outcome outcome, const QString& text, quint64 n) {
                             events.append({job, -1, outcome, text, n});
                         });
        QCoreApplication::processEvents(); // startup()
        if (!port.isEmpty()) {
            model->selectSerialPort(port);
        }
    }

    std::optional<JobEvent> endOf(RemoteControl::Job job) {
        for (const JobEvent& event : events) {
            if (event.job == job && event.outcome) {
                return event;
            }
        }
        return std::nullopt;
    }

    bool ends(RemoteControl::Job job) {
        return test::waitUntil([&] { return endOf(job).has_value(); }, 15000);
    }

    QList<int> progressOf(RemoteControl::Job job) const {
        QList<int> values;
        for (const JobEvent& event : events) {
            if (event.job == job && !event.outcome) {
                values.append(event.percent);
            }
        }
        return values;
    }

    QTemporaryDir data;
    FakeClipboardIO io;
    FakeClipboardTimers clock;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<RemoteControl> control;
    QList<JobEvent> events;
    int windowShown = 0;
};

TEST_F(RemoteControlTest, RequestsTheWindowWouldRefuseAreRefusedWithItsTexts) {
    start(QString());
    const auto refusal = [](const auto& result) {
        return result ? std::optional<RemoteControl::Refusal>() : result.error().kind;
    };
    EXPECT_EQ(refusal(control->sendText(QString())), RemoteControl::Refusal::invalidArgument);
    EXPECT_EQ(refusal(control->sendFile(QStringLiteral("relative/notes.txt"))),
              RemoteControl::Refusal::invalidArgument);
    EXPECT_EQ(refusal(control->sendImage(QString())), RemoteControl::Refusal::invalidArgument);
    const auto tooLarge = control->sendText(QString(TransPayload::maxTextBytes / 3 + 1, u'字'));
    ASSERT_FALSE(tooLarge);
    EXPECT_EQ(tooLarge.error().kind, RemoteControl::Refusal::tooLarge);
    EXPECT_EQ(tooLarge.error().message, QStringLiteral("传输内容超过允许大小"));

    const auto down = control->sendText(QStringLiteral("hi"));
    ASSERT_FALSE(down);
    EXPECT_EQ(down.error().kind, RemoteControl::Refusal::notConnected);
    EXPECT_EQ(down.error().message, TransError(TransError::Code::serialClosed).errorDescription());
    const auto missing = control->sendEntry(987654);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, RemoteControl::Refusal::notFound);
    EXPECT_EQ(missing.error().message, QStringLiteral("找不到剪贴板记录"));
    EXPECT_FALSE(control->cancel(1));
    // Nothing of it reached the window.
    EXPECT_FALSE(model->toast());
    control->showWindow();
    EXPECT_EQ(windowShown, 1);
}

TEST_F(RemoteControlTest, ARunningSendIsKeptOverABusyRequestButAClickInTheWindowReplacesIt) {
    const QString saved = data.filePath(QStringLiteral("device"));
    DevsimProcess device({"--interval", "200", "--buffer-size", "1024", "--save-dir", saved});
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
    EXPECT_EQ(control->linkValues().link, RemoteControl::LinkInUse::serial);
    EXPECT_EQ(control->linkValues().phase, LinkPhase::live);

    const auto first = control->sendFile(big);
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, 1u);
    EXPECT_TRUE(events.isEmpty()); // the caller has its answer before any event
    EXPECT_TRUE(control->linkValues().sending);
    ASSERT_TRUE(test::waitUntil([&] { return !progressOf(1).isEmpty(); }, 10000));

    const auto busy = control->sendText(QStringLiteral("later"));
    ASSERT_FALSE(busy);
    EXPECT_EQ(busy.error().kind, RemoteControl::Refusal::busy);
    EXPECT_EQ(busy.error().message, QStringLiteral("另一个剪贴板传输正在进行中"));
    const qsizetype heard = progressOf(1).size();
    ASSERT_TRUE(test::waitUntil([&] { return progressOf(1).size() > heard; }, 10000));
    EXPECT_FALSE(endOf(1));

    model->sendClipboardItem(model->clipboardState().history[0].id);
    ASSERT_TRUE(ends(1));
    EXPECT_EQ(*endOf(1)->outcome, Outcome::cancelled);
    EXPECT_EQ(endOf(1)->message, QStringLiteral("已取消发送"));

    // Once the window is done, a text goes out: every value in order, then the end.
    ASSERT_TRUE(test::waitUntil([&] { return !model->sends().isBusy(); }, 10000));
    device.skipPending();
    const auto text = control->sendText(QStringLiteral("发往设备"));
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, 2u);
    ASSERT_TRUE(ends(2));
    const auto done = device.waitFor(QStringLiteral("receive_done"), {}, 5000);
    ASSERT_TRUE(done);
    QFile got(done->value(QStringLiteral("savedTo")).toString());
    ASSERT_TRUE(got.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(got.readAll()), QStringLiteral("发往设备"));
    EXPECT_EQ(*endOf(2)->outcome, Outcome::sent);
    EXPECT_EQ(endOf(2)->bytes, 12u);
    const QList<int> progress = progressOf(2);
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.last(), 100);
    EXPECT_EQ(events.last().job, 2u);
    EXPECT_TRUE(events.last().outcome);
    // Not in the history; a job that has ended is left alone.
    EXPECT_EQ(model->clipboardState().history.size(), 1);
    EXPECT_TRUE(control->cancel(2));
    EXPECT_EQ(model->toast()->message, QStringLiteral("发送成功 · 文本"));
}

} // namespace
} // namespace orvane
