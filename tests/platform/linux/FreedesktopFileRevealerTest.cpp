#include "platform/linux/FreedesktopFileRevealer.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusPendingCallWatcher>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace orvane;

namespace {

// The file manager's side of the call, on its own connection to the private bus.
class FileManagerStandin : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> calls;
    bool refuse = false;

public slots:
    void ShowItems(const QStringList& uris, const QString& startupId) {
        Q_UNUSED(startupId);
        calls.append(uris);
        if (refuse) {
            sendErrorReply(QDBusError::Failed, QStringLiteral("refused"));
        }
    }
};

class FreedesktopFileRevealerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
            GTEST_SKIP() << "dbus-daemon is not installed";
        }
        bus.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
        ASSERT_TRUE(QTest::qWaitFor([&] { return bus.canReadLine(); }, 10000));
        address = QString::fromUtf8(bus.readLine().trimmed());
        ASSERT_TRUE(dir.isValid());
        file = dir.filePath(QStringLiteral("report 1.pdf"));
        QFile(file).open(QIODevice::WriteOnly);
    }

    void TearDown() override {
        for (const QString& name : {QStringLiteral("client"), QStringLiteral("standin")}) {
            QDBusConnection::disconnectFromBus(name);
        }
        bus.kill();
        bus.waitForFinished(5000);
    }

    void startStandin() {
        QDBusConnection connection =
            QDBusConnection::connectToBus(address, QStringLiteral("standin"));
        ASSERT_TRUE(connection.registerObject(QStringLiteral("/org/freedesktop/FileManager1"),
                                              &standin, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(connection.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    }

    FreedesktopFileRevealer revealer() {
        return FreedesktopFileRevealer(
            QDBusConnection::connectToBus(address, QStringLiteral("client")),
            [this](const QUrl& url) { opened.append(url); });
    }

    QProcess bus;
    QString address;
    QTemporaryDir dir;
    QString file;
    FileManagerStandin standin;
    QList<QUrl> opened;
};

TEST_F(FreedesktopFileRevealerTest, AsksTheFileManagerToSelectTheFile) {
    startStandin();
    auto subject = revealer();
    subject.reveal(file);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !standin.calls.isEmpty(); }, 5000));
    EXPECT_EQ(standin.calls.first(),
              QStringList{QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded)});
    // Once the reply is in (its watcher gone), the directory must not be opened too.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return subject.findChildren<QDBusPendingCallWatcher*>().isEmpty(); }, 5000));
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(FreedesktopFileRevealerTest, OpensTheDirectoryWhenTheFileManagerCannot) {
    const QUrl directory = QUrl::fromLocalFile(dir.path());
    auto subject = revealer();
    subject.reveal(file); // nobody owns the name
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.isEmpty(); }, 5000));
    EXPECT_EQ(opened, QList<QUrl>{directory});

    startStandin();
    standin.refuse = true;
    subject.reveal(file);
    ASSERT_TRUE(QTest::qWaitFor([&] { return opened.size() == 2; }, 5000));
    EXPECT_EQ(standin.calls.size(), 1);

    // A file that is gone cannot be selected: no call, just its directory.
    subject.reveal(dir.filePath(QStringLiteral("gone.pdf")));
    EXPECT_EQ(opened, (QList<QUrl>{directory, directory, directory}));
    EXPECT_EQ(standin.calls.size(), 1);
}

} // namespace

#include "FreedesktopFileRevealerTest.moc"
