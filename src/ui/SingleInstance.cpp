#include "ui/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace orvane {

namespace {

constexpr int activateTimeoutMs = 3000;

} // namespace

SingleInstance::SingleInstance(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , bus_(std::move(bus)) {}

SingleInstance::~SingleInstance() {
    if (owner_) {
        bus_.unregisterObject(QString::fromLatin1(objectPath));
        bus_.unregisterService(QString::fromLatin1(serviceName));
    }
}

SingleInstance::Claim SingleInstance::claim() {
    const QString service = QString::fromLatin1(serviceName);
    if (!bus_.isConnected() || !bus_.interface()) {
        failureReason_ = bus_.lastError().message();
        return Claim::noBus;
    }
    // The object first, so that a second start finding the name can always call it.
    // With the adaptors that the primary instance hangs on it for its other interfaces.
    if (!bus_.registerObject(QString::fromLatin1(objectPath), this,
                             QDBusConnection::ExportScriptableSlots |
                                 QDBusConnection::ExportAdaptors)) {
        failureReason_ = QStringLiteral("object path already in use on this connection");
        return Claim::noBus;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus_.interface()->registerService(service, QDBusConnectionInterface::DontQueueService,
                                          QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        owner_ = true;
        return Claim::primary;
    }
    bus_.unregisterObject(QString::fromLatin1(objectPath));
    if (!reply.isValid()) {
        failureReason_ = reply.error().message();
        return Claim::noBus;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(service, QString::fromLatin1(objectPath),
                                                       QString::fromLatin1(serviceName),
                                                       QStringLiteral("Activate"));
    const QDBusMessage answer = bus_.call(call, QDBus::Block, activateTimeoutMs);
    if (answer.type() == QDBusMessage::ErrorMessage) {
        // The owner is there but does not answer (hung, or quitting right now): starting a
        // second instance would still be wrong, so report it and leave.
        failureReason_ = answer.errorMessage();
    }
    return Claim::secondary;
}

void SingleInstance::Activate() {
    emit activationRequested();
}

} // namespace orvane
