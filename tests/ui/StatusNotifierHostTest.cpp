// The real program with a StatusNotifier host (the stand-in under tests/support on a
// private session bus) on a private X server whose work area leaves room for a panel:
// such a host does not say where the icon is, so a click opens the window by the pointer,
// against the panel, inside the work area. Skipped where xdotool, dbus-run-session or the
// stand-in's Python modules are missing.
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
#include <vector>
#include <xcb/xcb.h>

namespace {

struct Panel {
    const char* name;
    QRect workArea; // on the 1280x800 screen
    QPoint pointer; // on the icon
};

void PrintTo(const Panel& panel, std::ostream* out) {
    *out << panel.name << " panel";
}

class StatusNotifierHostTest : public ::testing::TestWithParam<Panel> {
protected:
    void SetUp() override {
        for (const char* tool : {"xdotool", "dbus-run-session"}) {
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
        relaxStringChecksForX(env);

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
        for (QProcess* process : {&program, &host}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
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

    // What a window manager with a panel publishes. Qt takes the work area only from a
    // window manager that lists it as supported, and reads it when it starts.
    void publishWorkArea(const QRect& area) {
        xcb_connection_t* c = xcb_connect(server->display().toLatin1().constData(), nullptr);
        const auto atom = [c](const char* name) {
            xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
                c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
            const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
            std::free(reply);
            return atom;
        };
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        const xcb_atom_t workArea = atom("_NET_WORKAREA");
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, atom("_NET_SUPPORTED"), XCB_ATOM_ATOM,
                            32, 1, &workArea);
        const uint32_t values[] = {uint32_t(area.x()), uint32_t(area.y()), uint32_t(area.width()),
                                   uint32_t(area.height())};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, workArea, XCB_ATOM_CARDINAL, 32, 4,
                            values);
        // A round trip: the server has taken the properties before the program asks.
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        xcb_disconnect(c);
    }

    QString xdotool(const QStringList& args) {
        QProcess tool;
        tool.setProcessEnvironment(env);
        tool.start(QStringLiteral("xdotool"), args);
        tool.waitForFinished(5000);
        return tool.exitCode() == 0 ? QString::fromUtf8(tool.readAllStandardOutput()).trimmed()
                                    : QString();
    }
    // The shown main window's geometry; empty while there is none.
    QRect shownWindow() {
        const QString id = xdotool({"search", "--onlyvisible", "--name", "^Orvane$"});
        if (id.isEmpty()) {
            return {};
        }
        QMap<QString, int> g;
        for (const QString& line :
             xdotool({"getwindowgeometry", "--shell", id.section('\n', 0, 0)}).split('\n')) {
            g[line.section('=', 0, 0)] = line.section('=', 1).toInt();
        }
        return {g.value("X"), g.value("Y"), g.value("WIDTH"), g.value("HEIGHT")};
    }

    QTemporaryDir home;
    std::unique_ptr<XvfbServer> server;
    QProcessEnvironment env;
    QProcess host;
    QProcess program;
};

} // namespace

TEST_P(StatusNotifierHostTest, AClickOpensTheWindowByThePointerInsideTheWorkArea) {
    const Panel panel = GetParam();
    publishWorkArea(panel.workArea);
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(ORVANE_PROGRAM), {QStringLiteral("--autostart")});
    ASSERT_TRUE(program.waitForStarted(5000));
    ASSERT_FALSE(hostLine(QStringLiteral("ITEM ")).isEmpty()) << "the icon never registered";
    EXPECT_TRUE(shownWindow().isEmpty()) << "started at login, the window waits for the icon";

    const QString x = QString::number(panel.pointer.x());
    const QString y = QString::number(panel.pointer.y());
    xdotool({"mousemove", x, y});
    host.write(QStringLiteral("activate %1 %2\n").arg(x, y).toUtf8());
    ASSERT_FALSE(hostLine(QStringLiteral("ACTIVATED")).isEmpty());
    QRect window;
    const QDeadlineTimer deadline(8000);
    while ((window = shownWindow()).isEmpty() && !deadline.hasExpired()) {
        QThread::msleep(50);
    }
    ASSERT_FALSE(window.isEmpty()) << "the click did not show the window";

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
