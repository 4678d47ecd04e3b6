#include "platform/linux/PosixSerialPortIO.h"

#include "common/SystemErrorText.h"
#include "support/TranslatedLocale.h"

#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <optional>
#include <pty.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace orvane {
namespace {

struct Outcome {
    SerialErrorKind kind = SerialErrorKind::other;
    QString text;
};

// Real nodes that refuse to open, one per failure kind.
class RefusingNodes {
public:
    RefusingNodes() {
        char name[128] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0) {
            heldPath_ = dir_.filePath("ttyACM0");
            (void)::symlink(name, QFile::encodeName(heldPath_).constData());
            ::flock(slave_, LOCK_EX | LOCK_NB);
        }
        // A pseudo-terminal that was never unlocked: the node is there, the device behind
        // it refuses (EIO), the way a half-initialised USB adapter does.
        lockedMaster_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (lockedMaster_ >= 0) {
            lockedPath_ = QString::fromLocal8Bit(::ptsname(lockedMaster_));
        }
        // open() on a socket fails with ENXIO: no device answers at this node.
        socketPath_ = dir_.filePath("ttyACM9");
        socket_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray encoded = QFile::encodeName(socketPath_);
        if (encoded.size() < qsizetype(sizeof address.sun_path)) {
            std::copy(encoded.begin(), encoded.end(), address.sun_path);
            (void)::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        }
    }
    ~RefusingNodes() {
        for (const int fd : {master_, slave_, lockedMaster_, socket_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    bool ready() const { return slave_ >= 0 && lockedMaster_ >= 0 && QFile::exists(socketPath_); }

    Outcome open(const QString& path) {
        PosixSerialPortIO io;
        auto opened = io.openExclusive(path);
        if (opened) {
            io.closePort(opened.value());
            return {SerialErrorKind::other, QStringLiteral("opened")};
        }
        return {opened.error().kind, opened.error().text};
    }

    QList<Outcome> all() {
        return {open(heldPath_), open(dir_.filePath("ttyACM404")), open(lockedPath_),
                open(socketPath_)};
    }

private:
    QTemporaryDir dir_;
    int master_ = -1;
    int slave_ = -1;
    int lockedMaster_ = -1;
    int socket_ = -1;
    QString heldPath_;
    QString lockedPath_;
    QString socketPath_;
};

TEST(PosixSerialPortIOTest, OpenFailuresAreClassedByErrorNumberInEveryLanguage) {
    RefusingNodes nodes;
    ASSERT_TRUE(nodes.ready());
    const QList<SerialErrorKind> expected{SerialErrorKind::busy, SerialErrorKind::missing,
                                          SerialErrorKind::notConfigured,
                                          SerialErrorKind::notConfigured};
    const QList<Outcome> english = nodes.all();
    for (qsizetype i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(english[i].kind, expected[i]) << i << " " << english[i].text.toStdString();
    }
    EXPECT_EQ(english[0].text, "Device or resource busy");

    orvane::testing::TranslatedLocale chinese;
    if (!chinese.available()) {
        GTEST_SKIP() << chinese.skipReason();
    }
    const QList<Outcome> translated = nodes.all();
    for (qsizetype i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(translated[i].kind, expected[i]) << i << " " << translated[i].text.toStdString();
        EXPECT_NE(translated[i].text, english[i].text) << "the system text was not translated";
    }
    EXPECT_EQ(translated[0].text, systemErrorText(EBUSY));
}

// Opens `path` as an ordinary user would: in a child process that gives up root first
// (root opens any node). Returns the kinds seen under C.UTF-8 and under the translated
// locale, or nothing when the child could not run.
std::optional<std::pair<SerialErrorKind, SerialErrorKind>> openAsOrdinaryUser(const QString& path) {
    orvane::testing::TranslatedLocale compileFirst; // localedef must not run in the child
    if (!compileFirst.available()) {
        return std::nullopt;
    }
    int results[2] = {-1, -1};
    if (::pipe(results) != 0) {
        return std::nullopt;
    }
    const QByteArray encoded = QFile::encodeName(path);
    const pid_t child = ::fork();
    if (child == 0) {
        std::pair<int, int> kinds{-1, -1};
        {
            // The locale's files are read while still root; the catalogue of messages is
            // readable by everybody.
            orvane::testing::TranslatedLocale chinese;
            if (chinese.available() && ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 &&
                ::setuid(65534) == 0) {
                PosixSerialPortIO io;
                auto translated = io.openExclusive(QFile::decodeName(encoded));
                kinds.second = translated ? -1 : int(translated.error().kind);
            }
        }
        PosixSerialPortIO io;
        auto english = io.openExclusive(QFile::decodeName(encoded));
        kinds.first = english ? -1 : int(english.error().kind);
        (void)!::write(results[1], &kinds, sizeof kinds);
        ::_exit(0);
    }
    ::close(results[1]);
    std::pair<int, int> kinds{-1, -1};
    const bool read = ::read(results[0], &kinds, sizeof kinds) == sizeof kinds;
    ::close(results[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!read || kinds.first < 0 || kinds.second < 0) {
        return std::nullopt;
    }
    return std::pair{SerialErrorKind(kinds.first), SerialErrorKind(kinds.second)};
}

TEST(PosixSerialPortIOTest, APortWeMayNotOpenIsAPermissionRefusalInEveryLanguage) {
    int master = -1;
    int slave = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ASSERT_EQ(::fchmod(slave, 0600), 0);
    const QString path = QString::fromLocal8Bit(name);
    if (::geteuid() != 0) {
        ASSERT_EQ(::fchmod(slave, 0), 0);
        PosixSerialPortIO io;
        auto refused = io.openExclusive(path);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().kind, SerialErrorKind::permission);
        orvane::testing::TranslatedLocale chinese;
        if (chinese.available()) {
            auto translated = io.openExclusive(path);
            ASSERT_FALSE(translated);
            EXPECT_EQ(translated.error().kind, SerialErrorKind::permission);
        }
    } else {
        const auto kinds = openAsOrdinaryUser(path);
        if (!kinds) {
            ::close(slave);
            ::close(master);
            GTEST_SKIP() << "no ordinary user or translated locale to open the port with";
        }
        EXPECT_EQ(kinds->first, SerialErrorKind::permission);
        EXPECT_EQ(kinds->second, SerialErrorKind::permission);
    }
    ::close(slave);
    ::close(master);
}

} // namespace
} // namespace orvane
