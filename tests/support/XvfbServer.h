#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// A private X server (Xvfb) on a display number it picks itself, for tests that need a
// real display and real second clients. Stopped when the object goes.
// For a Qt program started on this server from the sanitizer suite: libxkbcommon-x11 copies
// the server's atom names with strndup from buffers that are not NUL-terminated, which is
// correct but trips the suite's strict string checks inside that library (QtGuiTestMain
// relaxes them for the test programs in the same way).
inline void relaxStringChecksForX(QProcessEnvironment& env) {
    QString options = env.value(QStringLiteral("ASAN_OPTIONS"));
    if (!options.isEmpty()) {
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   options.replace(QStringLiteral("strict_string_checks=1"),
                                   QStringLiteral("strict_string_checks=0")));
    }
}

class XvfbServer {
public:
    // Nothing, with the reason in `whyNot`, when Xvfb is missing or does not come up
    // within a few seconds.
    static std::unique_ptr<XvfbServer> start(QString* whyNot) {
        return start(whyNot, {QStringLiteral("1280x800x24")});
    }

    // One X screen per entry ("WIDTHxHEIGHTxDEPTH"), side by side left to right; more
    // than one are joined with Xinerama into one desktop (which Qt's X11 platform, going
    // by RandR, reports as a single screen spanning them all).
    static std::unique_ptr<XvfbServer> start(QString* whyNot, const QStringList& screens) {
        // Built before the fork: the child only calls what is safe there.
        std::vector<std::string> args{"Xvfb", "-displayfd", "3"};
        for (int i = 0; i < screens.size(); ++i) {
            args.insert(args.end(), {"-screen", std::to_string(i), screens[i].toStdString()});
        }
        if (screens.size() > 1) {
            args.emplace_back("+xinerama");
        }
        args.insert(args.end(), {"-nolisten", "tcp", "-noreset"});
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);

        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            *whyNot = QStringLiteral("pipe failed");
            return nullptr;
        }
        const pid_t pid = fork();
        if (pid < 0) {
            *whyNot = QStringLiteral("fork failed");
            return nullptr;
        }
        if (pid == 0) {
            if (fds[1] == 3) {
                fcntl(3, F_SETFD, 0);
            } else {
                dup2(fds[1], 3); // the copy does not inherit close-on-exec
            }
            const int devNull = open("/dev/null", O_RDWR);
            dup2(devNull, 0);
            dup2(devNull, 1);
            dup2(devNull, 2);
            execvp("Xvfb", argv.data());
            _exit(127);
        }
        close(fds[1]);
        QByteArray number;
        pollfd p{fds[0], POLLIN, 0};
        while (!number.endsWith('\n') && poll(&p, 1, 10000) > 0) {
            char buffer[16];
            const ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            number.append(buffer, n);
        }
        close(fds[0]);
        if (!number.endsWith('\n')) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            *whyNot = QStringLiteral("Xvfb is not installed or did not start");
            return nullptr;
        }
        return std::unique_ptr<XvfbServer>(
            new XvfbServer(pid, QStringLiteral(":") + QString::fromLatin1(number.trimmed())));
    }

    ~XvfbServer() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }

    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // The DISPLAY value, such as ":3".
    const QString& display() const { return display_; }

private:
    XvfbServer(pid_t pid, QString display)
        : pid_(pid)
        , display_(std::move(display)) {}

    pid_t pid_;
    QString display_;
};
