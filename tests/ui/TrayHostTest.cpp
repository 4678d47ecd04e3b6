// The real program in a real XEmbed tray (trayer on a private X server): the icon docks,
// a left click shows the window, the menu's last entry quits cleanly; a tray started after
// the program takes its icon. A StatusNotifier host (the stand-in under tests/support on a
// private session bus) does not say where the icon is: a click opens the window by the
// pointer, against the panel, inside the work area; one that starts after the program
// gets the program's own item, whose click opens the window where the host says. Skipped
// where trayer, xdotool, dbus-run-session or the stand-in's Python modules are missing.
#include "support/XvfbServer.h"

#include <QDeadlineTimer>
#include <QMap>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <xcb/xcb.h>

namespace {

class TrayHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"trayer", "xdotool"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
                GTEST_SKIP() << tool << " is not installed (scripts/bootstrap installs it)";
            }
        }
        QString whyNot;
        server = XvfbServer::start(&whyNot);
        if (!server) {
            GTEST_SKIP() << whyNot.toStdString();
        }
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), server->display());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        // No session bus: the program runs alone and never meets a real session's instance.
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        relaxStringChecksForX(env);
        if (trayAtStart()) {
            startTray();
        }
    }
    virtual bool trayAtStart() const { return true; }
    void startTray() {
        tray.setProcessEnvironment(env);
        tray.start(QStringLiteral("trayer"),
                   {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
                    "--SetDockType", "true", "--transparent", "false"});
        ASSERT_TRUE(tray.waitForStarted(5000));
    }
    void TearDown() override {
        for (QProcess* process : {&program, &tray}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

    // xdotool's output, or nothing when it failed (such as a search that found no window).
    QString xdotool(const QStringList& args) {
        QProcess tool;
        tool.setProcessEnvironment(env);
        tool.start(QStringLiteral("xdotool"), args);
        tool.waitForFinished(5000);
        return tool.exitCode() == 0 ? QString::fromUtf8(tool.readAllStandardOutput()).trimmed()
                                    : QString();
    }
    static bool waitFor(const std::function<bool()>& done, int timeoutMs = 8000) {
        const QDeadlineTimer deadline(timeoutMs);
        while (!done()) {
            if (deadline.hasExpired()) {
                return false;
            }
            QThread::msleep(50);
        }
        return true;
    }
    bool windowShown() {
        return !xdotool({"search", "--onlyvisible", "--name", "^Orvane$"}).isEmpty();
    }
    using AtomOf = std::function<xcb_atom_t(const char*)>;
    // Requests from a second client of the display, as a window manager's or a panel's.
    // The round trip before it leaves: a client that hangs up at once may have its last
    // requests dropped.
    void asXClient(const std::function<void(xcb_connection_t*, const AtomOf&)>& requests) {
        xcb_connection_t* c = xcb_connect(server->display().toLatin1().constData(), nullptr);
        requests(c, [c](const char* name) {
            xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
                c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
            const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
            std::free(reply);
            return atom;
        });
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        xcb_disconnect(c);
    }
    // What a window manager's close button sends: WM_DELETE_WINDOW.
    void askToClose(xcb_window_t window) {
        asXClient([window](xcb_connection_t* c, const AtomOf& atom) {
            xcb_client_message_event_t event{};
            event.response_type = XCB_CLIENT_MESSAGE;
            event.format = 32;
            event.window = window;
            event.type = atom("WM_PROTOCOLS");
            event.data.data32[0] = atom("WM_DELETE_WINDOW");
            event.data.data32[1] = XCB_CURRENT_TIME;
            xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT,
                           reinterpret_cast<const char*>(&event));
        });
    }
    // The shown main window's geometry; empty while there is none.
    QRect shownWindow() {
        const QString id = xdotool({"search", "--onlyvisible", "--name", "^Orvane$"});
        QMap<QString, int> g;
        if (!id.isEmpty()) {
            for (const QString& line :
                 xdotool({"getwindowgeometry", "--shell", id.section('\n', 0, 0)}).split('\n')) {
                g[line.section('=', 0, 0)] = line.section('=', 1).toInt();
            }
        }
        return {g.value("X"), g.value("Y"), g.value("WIDTH"), g.value("HEIGHT")};
    }

    // Starts the program and waits for its icon to dock; the panel's geometry (X, Y, WIDTH,
    // HEIGHT), or nothing when the icon never appeared.
    QMap<QString, int> startDocked(const QStringList& args = {QStringLiteral("--autostart")}) {
        if (!waitFor([&] { return !panelGeometry().isEmpty(); })) {
            return {};
        }
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(ORVANE_PROGRAM), args);
        return program.waitForStarted(5000) ? docked() : QMap<QString, int>();
    }
    // trayer's panel starts empty and takes the width of what docks in it.
    QString panelGeometry() {
        const QString id = xdotool({"search", "--name", "^panel$"}).section('\n', 0, 0);
        return id.isEmpty() ? QString() : xdotool({"getwindowgeometry", "--shell", id});
    }
    QMap<QString, int> docked() {
        QMap<QString, int> panel;
        const bool docked = waitFor([&] {
            for (const QString& line : panelGeometry().split('\n')) {
                panel[line.section('=', 0, 0)] = line.section('=', 1).toInt();
            }
            return panel.value(QStringLiteral("WIDTH")) >= 16;
        });
        return docked ? panel : QMap<QString, int>();
    }
    void expectCleanEnd() {
        ASSERT_TRUE(program.waitForFinished(8000)) << "the program did not end";
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        const QString log = QString::fromUtf8(program.readAllStandardError());
        EXPECT_EQ(log.count(QStringLiteral("shutting down")), 1) << log.toStdString();
    }

    QTemporaryDir home;
    std::unique_ptr<XvfbServer> server;
    QProcessEnvironment env;
    QProcess tray;
    QProcess program;
};

} // namespace

TEST_F(TrayHostTest, TheIconShowsTheWindowAndItsMenuQuitsOnce) {
    const QMap<QString, int> panel = startDocked();
    ASSERT_FALSE(panel.isEmpty()) << "the icon did not dock";
    EXPECT_FALSE(windowShown()) << "started at login, the window waits for the icon";
    const QString centre[] = {QString::number(panel.value(QStringLiteral("X")) +
                                              panel.value(QStringLiteral("WIDTH")) / 2),
                              QString::number(panel.value(QStringLiteral("Y")) +
                                              panel.value(QStringLiteral("HEIGHT")) / 2)};

    // The icon may dock before the program's event loop runs (slowly, under a sanitizer):
    // click again until it answers. A left click never hides, so repeating is harmless.
    bool shown = false;
    for (int attempt = 0; attempt < 30 && !shown; ++attempt) {
        xdotool({"mousemove", centre[0], centre[1], "click", "1"});
        shown = waitFor([&] { return windowShown(); }, 1000);
    }
    ASSERT_TRUE(shown) << "a left click did not show the window";
    xdotool({"mousemove", centre[0], centre[1], "click", "1"});
    QThread::msleep(300);
    EXPECT_TRUE(windowShown()) << "a second left click must not hide the window";

    // The menu is "设置", a separator, "退出": Up from the top lands on the last entry.
    const auto ownWindows = [this] {
        return xdotool({"search", "--onlyvisible", "--class", "orvane"}).split('\n').size();
    };
    const qsizetype before = ownWindows();
    xdotool({"mousemove", centre[0], centre[1], "click", "3"});
    ASSERT_TRUE(waitFor([&] { return ownWindows() > before; })) << "no menu opened";
    xdotool({"key", "Up", "Return"});
    expectCleanEnd();
}

TEST_F(TrayHostTest, AStartFromTheMenuShowsTheWindowAsWellAsTheIcon) {
    ASSERT_FALSE(startDocked({}).isEmpty()) << "the icon did not dock";
    EXPECT_TRUE(waitFor([&] { return windowShown(); })) << "the window did not show";
    program.terminate();
    expectCleanEnd();
}

TEST_F(TrayHostTest, SigtermQuitsCleanlyOnce) {
    ASSERT_FALSE(startDocked().isEmpty()) << "the icon did not dock";
    program.terminate();
    expectCleanEnd();
}

class LateTrayHostTest : public TrayHostTest {
protected:
    bool trayAtStart() const override { return false; }
};

TEST_F(LateTrayHostTest, ATrayStartedAfterTheProgramTakesTheIconAndClosingThenHides) {
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(ORVANE_PROGRAM), {QStringLiteral("--autostart")});
    ASSERT_TRUE(program.waitForStarted(5000));
    ASSERT_TRUE(waitFor([&] { return windowShown(); })) << "without a tray the window opens";

    startTray();
    ASSERT_FALSE(docked().isEmpty()) << "the icon did not dock in the tray that came later";
    const QString windows = xdotool({"search", "--onlyvisible", "--name", "^Orvane$"});
    ASSERT_FALSE(windows.isEmpty());
    // The docked icon may carry the name too; only the main window takes the request.
    for (const QString& window : windows.split('\n', Qt::SkipEmptyParts)) {
        askToClose(xcb_window_t(window.toUInt()));
    }
    EXPECT_TRUE(waitFor([&] { return !windowShown(); })) << "closing did not hide the window";
    EXPECT_FALSE(program.waitForFinished(500)) << "closing ended the program";
    program.terminate();
    expectCleanEnd();
}

struct Panel {
    const char* name;
    QRect workArea; // on the 1280x800 screen
    QPoint pointer; // on the icon
};

void PrintTo(const Panel& panel, std::ostream* out) {
    *out << panel.name << " panel";
}

class StatusNotifierHostTest : public TrayHostTest, public ::testing::WithParamInterface<Panel> {
protected:
    bool trayAtStart() const override { return false; }
    void SetUp() override {
        TrayHostTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-run-session")).isEmpty()) {
            GTEST_SKIP() << "dbus-run-session is not installed (scripts/bootstrap installs it)";
        }
        host.setProcessEnvironment(env);
        host.start(QStringLiteral("dbus-run-session"),
                   {QStringLiteral("--"), QStringLiteral("/usr/bin/python3"),
                    QStringLiteral(ORVANE_SNI_HOST)});
        const QString ready = hostLine(QStringLiteral("READY "));
        if (ready.isEmpty()) {
            GTEST_SKIP() << "the StatusNotifier stand-in did not start: "
                         << host.readAllStandardError().toStdString();
        }
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), ready.section(' ', 1));
    }
    void TearDown() override {
        if (host.state() != QProcess::NotRunning) {
            host.kill();
            host.waitForFinished(5000);
        }
        TrayHostTest::TearDown();
    }
    // The stand-in's next output line that starts with `prefix`; empty when none comes.
    QString hostLine(const QString& prefix) {
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            while (host.canReadLine()) {
                const QString line = QString::fromUtf8(host.readLine()).trimmed();
                if (line.startsWith(prefix)) {
                    return line;
                }
            }
            host.waitForReadyRead(int(deadline.remainingTime()));
        }
        return {};
    }

    QProcess host;
};

TEST_P(StatusNotifierHostTest, AClickOpensTheWindowByThePointerInsideTheWorkArea) {
    const Panel panel = GetParam();
    // What a window manager with a panel publishes; Qt reads it when it starts.
    asXClient([&panel](xcb_connection_t* c, const AtomOf& atom) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        const xcb_atom_t workArea = atom("_NET_WORKAREA");
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, atom("_NET_SUPPORTED"), XCB_ATOM_ATOM,
                            32, 1, &workArea);
        const QRect& a = panel.workArea;
        const uint32_t values[] = {uint32_t(a.x()), uint32_t(a.y()), uint32_t(a.width()),
                                   uint32_t(a.height())};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, workArea, XCB_ATOM_CARDINAL, 32, 4,
                            values);
    });
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(ORVANE_PROGRAM), {QStringLiteral("--autostart")});
    ASSERT_TRUE(program.waitForStarted(5000));
    ASSERT_FALSE(hostLine(QStringLiteral("ITEM ")).isEmpty()) << "the icon never registered";
    EXPECT_FALSE(windowShown()) << "started at login, the window waits for the icon";

    const QString x = QString::number(panel.pointer.x());
    const QString y = QString::number(panel.pointer.y());
    xdotool({"mousemove", x, y});
    host.write(QStringLiteral("activate %1 %2\n").arg(x, y).toUtf8());
    ASSERT_FALSE(hostLine(QStringLiteral("ACTIVATED")).isEmpty());
    QRect window;
    ASSERT_TRUE(waitFor([&] { return !(window = shownWindow()).isEmpty(); }))
        << "the click did not show the window";

    EXPECT_TRUE(panel.workArea.adjusted(8, 8, -8, -8).contains(window))
        << window.x() << "," << window.y() << " " << window.width() << "x" << window.height();
    // Against the panel the pointer is on, and centred on the pointer where there is room.
    if (panel.pointer.y() < panel.workArea.top()) {
        EXPECT_EQ(window.top(), panel.workArea.top() + 8);
    } else {
        EXPECT_EQ(window.bottom(), panel.workArea.bottom() - 8);
    }
    EXPECT_LE(std::abs(window.center().x() - panel.pointer.x()), 1);
}

INSTANTIATE_TEST_SUITE_P(Panels, StatusNotifierHostTest,
                         ::testing::Values(Panel{"top", QRect(0, 32, 1280, 768), {700, 16}},
                                           Panel{"bottom", QRect(0, 0, 1280, 760), {500, 780}}),
                         [](const auto& info) { return std::string(info.param.name); });

// A StatusNotifier panel that starts after the program (Qt's tray icon never reaches it)
// and later restarts: the program's own item registers with it each time.
class LateStatusNotifierHostTest : public StatusNotifierHostTest {
protected:
    void SetUp() override {
        TrayHostTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
            GTEST_SKIP() << "dbus-daemon is not installed (scripts/bootstrap installs it)";
        }
        bus.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
        ASSERT_TRUE(bus.waitForReadyRead(5000)) << "the session bus did not start";
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   QString::fromUtf8(bus.readLine()).trimmed());
    }
    void TearDown() override {
        StatusNotifierHostTest::TearDown();
        if (bus.state() != QProcess::NotRunning) {
            bus.kill();
            bus.waitForFinished(5000);
        }
    }
    void startHost() {
        host.setProcessEnvironment(env);
        host.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(ORVANE_SNI_HOST)});
    }

    QProcess bus;
};

TEST_F(LateStatusNotifierHostTest,
       ThePanelGetsTheOwnItemWhoseClickOpensTheWindowThereAndWhoseMenuQuits) {
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(ORVANE_PROGRAM), {QStringLiteral("--autostart")});
    ASSERT_TRUE(program.waitForStarted(5000));
    ASSERT_TRUE(waitFor([&] { return windowShown(); })) << "without a tray the window opens";

    startHost();
    if (hostLine(QStringLiteral("READY ")).isEmpty()) {
        GTEST_SKIP() << "the StatusNotifier stand-in did not start: "
                     << host.readAllStandardError().toStdString();
    }
    ASSERT_FALSE(hostLine(QStringLiteral("ITEM ")).isEmpty()) << "the item never registered";
    // One command per answer: the stand-in reads a line per wake-up.
    host.write("get Id\n");
    EXPECT_EQ(hostLine(QStringLiteral("PROP ")), QStringLiteral("PROP Id orvane"));
    host.write("get Title\n");
    EXPECT_EQ(hostLine(QStringLiteral("PROP ")), QStringLiteral("PROP Title Orvane"));

    // The window is now the item's: closing hides it and the program stays.
    for (const QString& window : xdotool({"search", "--onlyvisible", "--name", "^Orvane$"})
                                     .split('\n', Qt::SkipEmptyParts)) {
        askToClose(xcb_window_t(window.toUInt()));
    }
    EXPECT_TRUE(waitFor([&] { return !windowShown(); })) << "closing did not hide the window";
    EXPECT_FALSE(program.waitForFinished(500)) << "closing ended the program";

    // The panel's position places the window, not the pointer's, which is elsewhere.
    xdotool({"mousemove", "100", "400"});
    host.write("activate 700 16\n");
    ASSERT_FALSE(hostLine(QStringLiteral("ACTIVATED")).isEmpty());
    QRect window;
    ASSERT_TRUE(waitFor([&] { return !(window = shownWindow()).isEmpty(); }))
        << "the click did not show the window";
    EXPECT_LE(std::abs(window.center().x() - 700), 1) << window.x() << "," << window.y();
    EXPECT_LT(window.top(), 100) << window.x() << "," << window.y();

    // Asked for the menu, the item pops it up where the panel says.
    host.write("contextmenu 300 16\n");
    ASSERT_FALSE(hostLine(QStringLiteral("ACTIVATED")).isEmpty());
    EXPECT_TRUE(waitFor([&] {
        const QString ids = xdotool({"search", "--onlyvisible", "--class", "orvane"});
        for (const QString& id : ids.split('\n', Qt::SkipEmptyParts)) {
            if (xdotool({"getwindowgeometry", "--shell", id})
                    .startsWith("WINDOW=" + id + "\nX=300\nY=16\n")) {
                return true;
            }
        }
        return false;
    })) << "no menu at the panel's position";
    xdotool({"key", "Escape"});

    // A restarted panel gets the item again.
    host.write("quit\n");
    ASSERT_TRUE(host.waitForFinished(5000));
    startHost();
    ASSERT_FALSE(hostLine(QStringLiteral("ITEM ")).isEmpty()) << "no item after the restart";

    // The menu as the panel reads it; its last entry quits.
    host.write("menu\n");
    EXPECT_EQ(hostLine(QStringLiteral("MENU ")), QStringLiteral("MENU 设置|-|退出"));
    host.write("click 退出\n");
    ASSERT_FALSE(hostLine(QStringLiteral("CLICKED")).isEmpty());
    expectCleanEnd();
}
