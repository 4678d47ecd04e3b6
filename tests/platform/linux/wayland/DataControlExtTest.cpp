// The clipboard backend over the staging data-control protocol, against the in-process
// test compositor (no packaged compositor offers that protocol yet).

#include "clipboard/ClipboardManager.h"
#include "clipboard/QtClipboardTimers.h"
#include "platform/linux/wayland/DataControlClipboardIO.h"
#include "platform/linux/wayland/DataControlSession.h"
#include "support/DataControlTestCompositor.h"
#include "support/EventLoopWait.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

using namespace orvane;
using orvane::test::DataControlTestCompositor;
using orvane::test::waitUntil;

namespace {

constexpr int waitMs = 10'000;
const QByteArray textType = QByteArrayLiteral("text/plain;charset=utf-8");

// Another program on the same seat, driven by the test thread: it copies text and pastes
// whatever the clipboard holds. Its events are dispatched only when asked to.
class Peer : public DataControlSession::Handler {
public:
    Peer()
        : display_(wl_display_connect(nullptr)) {
        const auto globals = DataControlDiscovery::find(display_);
        EXPECT_TRUE(globals && globals->protocol == DataControlProtocol::ext);
        session_ = DataControlSession::create(display_, *globals, *this);
        wl_display_roundtrip(display_);
    }
    ~Peer() override {
        for (auto* offer : offers_) {
            session_->destroyOffer(offer);
        }
        for (const auto& [source, text] : sources_) {
            session_->destroySource(source);
        }
        session_.reset();
        wl_display_disconnect(display_);
    }

    void copy(const QByteArray& text) {
        sources_.emplace_back(session_->setSelection({textType}), text);
        wl_display_flush(display_);
    }

    // Whatever the compositor has sent, handled without waiting for more.
    void dispatch() {
        while (wl_display_prepare_read(display_) != 0) {
            wl_display_dispatch_pending(display_);
        }
        wl_display_flush(display_);
        pollfd fd{wl_display_get_fd(display_), POLLIN, 0};
        if (::poll(&fd, 1, 0) > 0) {
            wl_display_read_events(display_);
        } else {
            wl_display_cancel_read(display_);
        }
        wl_display_dispatch_pending(display_);
    }

    int selections() const { return selections_; }

    QByteArray paste() {
        int ends[2];
        if (!selection_ || ::pipe2(ends, O_CLOEXEC) != 0) {
            return {};
        }
        session_->receive(selection_, textType, ends[1]);
        ::close(ends[1]);
        wl_display_flush(display_);
        QByteArray bytes;
        pollfd fd{ends[0], POLLIN, 0};
        char chunk[4096];
        ssize_t got = 0;
        while (::poll(&fd, 1, waitMs) > 0 && (got = ::read(ends[0], chunk, sizeof chunk)) > 0) {
            bytes.append(chunk, got);
        }
        ::close(ends[0]);
        return bytes;
    }

private:
    void offerCreated(DataControlSession::Offer* offer) override { offers_.push_back(offer); }
    void offerType(DataControlSession::Offer*, const char*) override {}
    void selectionChanged(DataControlSession::Offer* offer) override {
        selection_ = offer;
        ++selections_;
    }
    void primarySelectionChanged(DataControlSession::Offer*) override {}
    void deviceFinished() override {}
    void sendRequested(DataControlSession::Source* source, const char*, int fd) override {
        for (const auto& [own, text] : sources_) {
            if (own == source) {
                [[maybe_unused]] const ssize_t written = ::write(fd, text.data(), text.size());
            }
        }
        ::close(fd);
    }
    void sourceCancelled(DataControlSession::Source*) override {}

    wl_display* display_;
    std::unique_ptr<DataControlSession> session_;
    std::vector<DataControlSession::Offer*> offers_;
    DataControlSession::Offer* selection_ = nullptr;
    int selections_ = 0;
    std::vector<std::pair<DataControlSession::Source*, QByteArray>> sources_;
};

std::optional<DataControlGlobals> discover() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        return std::nullopt;
    }
    auto globals = DataControlDiscovery::find(display);
    wl_display_disconnect(display);
    return globals;
}

TEST(DataControlExtTest, DiscoveryPrefersTheStagingProtocolAndNeedsASeat) {
    {
        DataControlTestCompositor compositor({true, true});
        ASSERT_TRUE(compositor.isListening());
        const auto globals = discover();
        ASSERT_TRUE(globals);
        EXPECT_EQ(globals->protocol, DataControlProtocol::ext);
        EXPECT_EQ(globals->managerVersion, 1u);
    }
    DataControlTestCompositor seatless({false, false});
    ASSERT_TRUE(seatless.isListening());
    EXPECT_FALSE(discover());
    DataControlClipboardIO io([](const QString&) {});
    EXPECT_TRUE(io.start());
}

TEST(DataControlExtTest, TextCrossesBothWaysAndOwnWritesAreNotSeenAgain) {
    DataControlTestCompositor compositor;
    ASSERT_TRUE(compositor.isListening());
    DataControlClipboardIO io([](const QString&) {});
    ASSERT_FALSE(io.start());
    ASSERT_TRUE(waitUntil([&] { return io.changeCount() != 0; }, waitMs)); // empty at first
    QtClipboardTimers timers;
    ClipboardManager manager(io, timers, {});
    manager.start([] {}, [](const ClipboardEntry&) {});
    Peer peer;

    peer.copy("别处复制的文字");
    ASSERT_TRUE(waitUntil(
        [&] {
            peer.dispatch();
            return !manager.state().history.isEmpty();
        },
        waitMs));
    EXPECT_EQ(manager.state().history.first().text, u"别处复制的文字");

    ClipboardEntry remote;
    remote.text = QStringLiteral("from the device");
    const int peerSelections = peer.selections();
    ASSERT_TRUE(manager.receiveRemote(remote));
    const quint64 afterWrite = io.changeCount();
    ASSERT_TRUE(waitUntil(
        [&] {
            peer.dispatch();
            return peer.selections() != peerSelections;
        },
        waitMs));
    EXPECT_EQ(peer.paste(), "from the device");

    peer.copy("later");
    ASSERT_TRUE(waitUntil(
        [&] {
            peer.dispatch();
            return manager.state().history.first().text == u"later";
        },
        waitMs));
    EXPECT_EQ(io.changeCount(), afterWrite + 1);
    ASSERT_EQ(manager.state().history.size(), 3);
    EXPECT_EQ(manager.state().history.at(1).text, u"from the device");
}

TEST(DataControlExtTest, AWithdrawnDeviceEndsDataControl) {
    DataControlTestCompositor compositor;
    ASSERT_TRUE(compositor.isListening());
    bool ended = false;
    DataControlClipboardIO io([&](const QString&) { ended = true; });
    ASSERT_FALSE(io.start());
    ASSERT_TRUE(waitUntil([&] { return io.changeCount() != 0; }, waitMs)); // the device exists
    compositor.finishDevices();
    ASSERT_TRUE(waitUntil([&] { return ended; }, waitMs));
    const auto written = io.writeContent({ClipboardKind::text, QStringLiteral("x"), {}, {}});
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code(), ClipboardError::Code::writeFailed);
}

} // namespace
