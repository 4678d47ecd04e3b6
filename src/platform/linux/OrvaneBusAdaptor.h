#pragma once

#include "app/RemoteControl.h"
#include "platform/linux/OrvaneBusEntry.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace orvane {

// The running program's interface for other programs of the session, org.orvane.Orvane1,
// next to the single-instance interface on the program's object: the remote control's
// requests as methods, its job and item events as signals, the link as properties whose
// changes are announced. A refusal is a named error carrying the program's own text.
//
// Main thread (the bus delivers calls on the thread of the object).
class OrvaneBusAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.orvane.Orvane1")
    Q_PROPERTY(QString Link READ link)
    Q_PROPERTY(QString LinkState READ linkState)
    Q_PROPERTY(QString Port READ port)
    Q_PROPERTY(QString DeviceName READ deviceName)
    Q_PROPERTY(QString StatusText READ statusText)
    Q_PROPERTY(bool Sending READ sending)
    Q_PROPERTY(QString Version READ version)

public:
    static constexpr const char* interfaceName = "org.orvane.Orvane1";

    // `object` is the one registered at `path` on `bus` with its adaptors exported.
    OrvaneBusAdaptor(QObject* object, RemoteControl& control, QDBusConnection bus,
                     const QString& path);

    QString link() const;
    QString linkState() const;
    QString port() const { return control_.linkValues().port; }
    QString deviceName() const { return control_.linkValues().deviceName; }
    QString statusText() const { return control_.linkValues().statusText; }
    bool sending() const { return control_.linkValues().sending; }
    QString version() const;

public slots:
    // The call itself comes along last, for the error reply: the bus gives an adaptor no
    // context of its own.
    uint SendText(const QString& text, const QDBusMessage& call);
    uint SendFile(const QString& path, const QDBusMessage& call);
    uint SendImage(const QString& path, const QDBusMessage& call);
    uint SendEntry(qlonglong id, const QDBusMessage& call);
    void Cancel(uint job, const QDBusMessage& call);
    orvane::OrvaneBusEntries ListHistory();
    void ShowWindow();

signals:
    void JobProgress(uint job, int percent);
    void JobFinished(uint job, const QString& outcome, const QString& message, qulonglong bytes);
    void ItemReceived(const orvane::OrvaneBusEntry& entry);

private:
    uint answer(const Result<RemoteControl::Job, RemoteControl::Refused>& started,
                const QDBusMessage& call);
    void refuse(const RemoteControl::Refused& refused, const QDBusMessage& call);
    QVariantMap propertyValues() const;
    void announceChanges();

    RemoteControl& control_;
    QDBusConnection bus_;
    const QString path_;
    QVariantMap announced_;
};

} // namespace orvane
