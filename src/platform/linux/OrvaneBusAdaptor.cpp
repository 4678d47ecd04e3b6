#include "platform/linux/OrvaneBusAdaptor.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QMetaProperty>
#include <QThread>

namespace orvane {

namespace {

QString errorName(RemoteControl::Refusal refusal) {
    switch (refusal) {
    case RemoteControl::Refusal::busy:
        return QStringLiteral("org.orvane.Orvane1.Error.Busy");
    case RemoteControl::Refusal::notConnected:
        return QStringLiteral("org.orvane.Orvane1.Error.NotConnected");
    case RemoteControl::Refusal::notFound:
        return QStringLiteral("org.orvane.Orvane1.Error.NotFound");
    case RemoteControl::Refusal::invalidArgument:
        return QStringLiteral("org.orvane.Orvane1.Error.InvalidArgument");
    case RemoteControl::Refusal::tooLarge:
        break;
    }
    return QStringLiteral("org.orvane.Orvane1.Error.TooLarge");
}

QString outcomeWord(SendController::Outcome outcome) {
    switch (outcome) {
    case SendController::Outcome::sent:
        return QStringLiteral("sent");
    case SendController::Outcome::failed:
        return QStringLiteral("failed");
    case SendController::Outcome::cancelled:
        break;
    }
    return QStringLiteral("cancelled");
}

} // namespace

OrvaneBusAdaptor::OrvaneBusAdaptor(QObject* object, RemoteControl& control, QDBusConnection bus,
                                   const QString& path)
    : QDBusAbstractAdaptor(object)
    , control_(control)
    , bus_(std::move(bus))
    , path_(path) {
    OrvaneBusEntry::registerType();
    connect(&control_, &RemoteControl::jobProgress, this, &OrvaneBusAdaptor::JobProgress);
    connect(&control_, &RemoteControl::jobFinished, this,
            [this](quint32 job, SendController::Outcome outcome, const QString& message,
                   quint64 bytes) { emit JobFinished(job, outcomeWord(outcome), message, bytes); });
    connect(&control_, &RemoteControl::itemReceived, this, [this](const ClipboardEntry& entry) {
        emit ItemReceived(OrvaneBusEntry::from(entry));
    });
    connect(&control_, &RemoteControl::linkValuesChanged, this, &OrvaneBusAdaptor::announceChanges);
    announced_ = propertyValues();
}

QString OrvaneBusAdaptor::link() const {
    switch (control_.linkValues().link) {
    case RemoteControl::LinkInUse::serial:
        return QStringLiteral("serial");
    case RemoteControl::LinkInUse::ble:
        return QStringLiteral("ble");
    case RemoteControl::LinkInUse::none:
        break;
    }
    return QStringLiteral("none");
}

QString OrvaneBusAdaptor::linkState() const {
    switch (control_.linkValues().phase) {
    case LinkPhase::live:
        return QStringLiteral("connected");
    case LinkPhase::connecting:
        return QStringLiteral("connecting");
    case LinkPhase::reconnecting:
        return QStringLiteral("reconnecting");
    case LinkPhase::closed:
        break;
    }
    return QStringLiteral("closed");
}

QString OrvaneBusAdaptor::version() const {
    return QCoreApplication::applicationVersion();
}

uint OrvaneBusAdaptor::SendText(const QString& text, const QDBusMessage& call) {
    return answer(control_.sendText(text), call);
}

uint OrvaneBusAdaptor::SendFile(const QString& path, const QDBusMessage& call) {
    return answer(control_.sendFile(path), call);
}

uint OrvaneBusAdaptor::SendImage(const QString& path, const QDBusMessage& call) {
    return answer(control_.sendImage(path), call);
}

uint OrvaneBusAdaptor::SendEntry(qlonglong id, const QDBusMessage& call) {
    return answer(control_.sendEntry(id), call);
}

void OrvaneBusAdaptor::Cancel(uint job, const QDBusMessage& call) {
    if (auto cancelled = control_.cancel(job); !cancelled) {
        refuse(cancelled.error(), call);
    }
}

OrvaneBusEntries OrvaneBusAdaptor::ListHistory() {
    OrvaneBusEntries entries;
    for (const ClipboardEntry& entry : control_.history()) {
        entries.append(OrvaneBusEntry::from(entry));
    }
    return entries;
}

void OrvaneBusAdaptor::ShowWindow() {
    control_.showWindow();
}

uint OrvaneBusAdaptor::answer(const Result<RemoteControl::Job, RemoteControl::Refused>& started,
                              const QDBusMessage& call) {
    if (!started) {
        refuse(started.error(), call);
        return 0;
    }
    return started.value();
}

void OrvaneBusAdaptor::refuse(const RemoteControl::Refused& refused, const QDBusMessage& call) {
    Q_ASSERT(thread() == QThread::currentThread());
    // Instead of the return value, which is then not sent.
    call.setDelayedReply(true);
    bus_.send(call.createErrorReply(errorName(refused.kind), refused.message));
}

QVariantMap OrvaneBusAdaptor::propertyValues() const {
    QVariantMap values;
    const QMetaObject* meta = metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        values.insert(QString::fromLatin1(property.name()), property.read(this));
    }
    return values;
}

void OrvaneBusAdaptor::announceChanges() {
    const QVariantMap now = propertyValues();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (announced_.value(it.key()) != it.value()) {
            changed.insert(it.key(), it.value());
        }
    }
    announced_ = now;
    if (changed.isEmpty()) {
        return;
    }
    QDBusMessage signal =
        QDBusMessage::createSignal(path_, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(interfaceName) << changed << QStringList();
    bus_.send(signal);
}

} // namespace orvane
