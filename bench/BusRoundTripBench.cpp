// How long a trivial call to the running program takes over the session bus, round trip:
// the median of 200 calls each of Get(LinkState) and ListHistory. Runs against the program
// that owns org.orvane.Orvane on the session bus at hand; the history's size is reported
// along.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int calls = 200;

double medianMicroseconds(QDBusConnection& bus, const QDBusMessage& message) {
    std::vector<qint64> times;
    times.reserve(calls);
    for (int i = 0; i < calls; ++i) {
        QElapsedTimer clock;
        clock.start();
        const QDBusMessage reply = bus.call(message, QDBus::Block, 5000);
        times.push_back(clock.nsecsElapsed());
        if (reply.type() != QDBusMessage::ReplyMessage) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(message.member()),
                         qPrintable(reply.errorMessage()));
            return -1;
        }
    }
    std::sort(times.begin(), times.end());
    return double(times[times.size() / 2]) / 1000.0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QStringLiteral("org.orvane.Orvane");
    const QString path = QStringLiteral("/org/orvane/Orvane");
    const QString interface = QStringLiteral("org.orvane.Orvane1");
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << QStringLiteral("LinkState");
    const QDBusMessage list =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("ListHistory"));
    const QDBusMessage listed = bus.call(list, QDBus::Block, 5000);
    if (listed.type() != QDBusMessage::ReplyMessage) {
        std::fprintf(stderr, "no running program: %s\n", qPrintable(listed.errorMessage()));
        return 1;
    }
    int entries = 0;
    const QDBusArgument array = listed.arguments().value(0).value<QDBusArgument>();
    array.beginArray();
    while (!array.atEnd()) {
        array.beginStructure();
        array.endStructure(); // the entry is skipped unread
        ++entries;
    }
    std::printf("Get(LinkState): median %.1f us over %d calls\n", medianMicroseconds(bus, get),
                calls);
    std::printf("ListHistory (%d entries): median %.1f us over %d calls\n", entries,
                medianMicroseconds(bus, list), calls);
    return 0;
}
