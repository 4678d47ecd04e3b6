#include "apps/orvane-cli/RunningProgram.h"

#include "platform/linux/OrvaneBusEntry.h"

#include <QDBusArgument>
#include <QDBusServiceWatcher>
#include <QFileInfo>
#include <QThread>

namespace orvane {

namespace {

const QString serviceName = QStringLiteral("org.orvane.Orvane");
const QString objectPath = QStringLiteral("/org/orvane/Orvane");
const QString interfaceName = QStringLiteral("org.orvane.Orvane1");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

ClipboardEntry readEntry(const QDBusArgument& argument) {
    OrvaneBusEntry entry;
    argument >> entry;
    return entry.toEntry();
}

// The same file whichever way it was named: a symbolic link (by-id names) or a relative path.
QString resolved(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

} // namespace

std::unique_ptr<RunningProgram> RunningProgram::find() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return nullptr;
    }
    const QDBusMessage owner =
        bus.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                QStringLiteral("/org/freedesktop/DBus"),
                                                QStringLiteral("org.freedesktop.DBus"),
                                                QStringLiteral("NameHasOwner"))
                     << serviceName,
                 QDBus::Block, callTimeoutMs);
    if (owner.type() != QDBusMessage::ReplyMessage || !owner.arguments().value(0).toBool()) {
        return nullptr;
    }
    std::unique_ptr<RunningProgram> program(new RunningProgram(bus));
    // Subscribing first, so that no change slips between reading and listening.
    if (!program->subscribe() || !program->readProperties()) {
        return nullptr;
    }
    return program;
}

RunningProgram::RunningProgram(const QDBusConnection& bus)
    : bus_(bus) {}

RunningProgram::~RunningProgram() = default;

bool RunningProgram::subscribe() {
    watcher_ =
        new QDBusServiceWatcher(serviceName, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString& oldOwner, const QString&) {
                if (!oldOwner.isEmpty()) {
                    emit vanished();
                }
            });
    return bus_.connect(serviceName, objectPath, interfaceName, QStringLiteral("JobProgress"), this,
                        SLOT(onJobProgress(uint, int))) &&
           bus_.connect(serviceName, objectPath, interfaceName, QStringLiteral("JobFinished"), this,
                        SLOT(onJobFinished(uint, QString, QString, qulonglong))) &&
           bus_.connect(serviceName, objectPath, interfaceName, QStringLiteral("ItemReceived"),
                        this, SLOT(onItemReceived(QDBusMessage))) &&
           bus_.connect(serviceName, objectPath, propertiesInterface,
                        QStringLiteral("PropertiesChanged"), this,
                        SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
}

bool RunningProgram::readProperties() {
    const QDBusMessage reply =
        bus_.call(QDBusMessage::createMethodCall(serviceName, objectPath, propertiesInterface,
                                                 QStringLiteral("GetAll"))
                      << interfaceName,
                  QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return false;
    }
    properties_ = qdbus_cast<QVariantMap>(reply.arguments().value(0));
    // A program that answers for the object but not for this interface is an older one.
    return properties_.contains(QStringLiteral("LinkState"));
}

std::unique_ptr<RunningProgram> RunningProgram::findHolding(const QString& port,
                                                            const QString& bleAddress) {
    auto program = find();
    const bool named = !port.isEmpty() || !bleAddress.isEmpty();
    if (program && named && !program->holds(port, bleAddress)) {
        return nullptr;
    }
    return program;
}

bool RunningProgram::holds(const QString& port, const QString& bleAddress) const {
    const QString link = property(QStringLiteral("Link"));
    const QString ours = property(QStringLiteral("Port"));
    if (!bleAddress.isEmpty()) {
        return link == u"ble" && ours.compare(bleAddress, Qt::CaseInsensitive) == 0;
    }
    return link == u"serial" && !ours.isEmpty() && resolved(ours) == resolved(port);
}

QString RunningProgram::linkDescription() const {
    const QString port = property(QStringLiteral("Port"));
    const QString name = property(QStringLiteral("DeviceName"));
    if (port.isEmpty() && name.isEmpty()) {
        return QString();
    }
    return QStringLiteral(" (%1)").arg(
        name.isEmpty() || port.isEmpty() ? port + name : QStringLiteral("%1 · %2").arg(port, name));
}

RunningProgram::Reply RunningProgram::call(const QString& method, const QVariantList& arguments) {
    // The cached properties and the signals live on the thread that found the program.
    Q_ASSERT(QThread::currentThread() == thread());
    QDBusMessage message =
        QDBusMessage::createMethodCall(serviceName, objectPath, interfaceName, method);
    message.setArguments(arguments);
    const QDBusMessage reply = bus_.call(message, QDBus::Block, callTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return {reply.arguments(), std::nullopt};
    }
    return {{}, CallError{reply.errorName(), reply.errorMessage()}};
}

std::optional<QList<ClipboardEntry>> RunningProgram::history(CallError* error) {
    Reply reply = call(QStringLiteral("ListHistory"));
    if (reply.error) {
        *error = *reply.error;
        return std::nullopt;
    }
    QList<ClipboardEntry> entries;
    const auto argument = reply.arguments.value(0).value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        entries.append(readEntry(argument));
    }
    argument.endArray();
    return entries;
}

void RunningProgram::onJobProgress(uint job, int percent) {
    emit jobProgress(job, percent);
}

void RunningProgram::onJobFinished(uint job, const QString& outcome, const QString& message,
                                   qulonglong bytes) {
    emit jobFinished(job, outcome, message, bytes);
}

void RunningProgram::onItemReceived(const QDBusMessage& message) {
    emit itemReceived(readEntry(message.arguments().value(0).value<QDBusArgument>()));
}

void RunningProgram::onPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                         const QStringList& invalidated) {
    if (interface != interfaceName) {
        return;
    }
    for (auto it = changed.begin(); it != changed.end(); ++it) {
        properties_.insert(it.key(), it.value());
    }
    if (!invalidated.isEmpty()) {
        readProperties();
    }
    for (const QString& name : changed.keys() + invalidated) {
        emit propertyChanged(name);
    }
}

} // namespace orvane
