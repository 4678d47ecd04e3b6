#pragma once

#include <QDBusConnection>
#include <QObject>

namespace orvane {

// One running program per desktop session, through the session bus name
// "org.orvane.Orvane". The first instance owns the name and answers Activate() on
// /org/orvane/Orvane; a later start calls Activate() (the running instance shows its
// window) and exits. The same name is where other local tools reach the running program:
// the primary instance hangs the adaptors of its other interfaces on this object.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.orvane.Orvane")

public:
    static constexpr const char* serviceName = "org.orvane.Orvane";
    static constexpr const char* objectPath = "/org/orvane/Orvane";

    enum class Claim {
        primary,   // this process owns the name
        secondary, // another process owns it and has been asked to show its window
        noBus,     // no usable session bus: run alone without the guarantee
    };

    explicit SingleInstance(QDBusConnection bus = QDBusConnection::sessionBus(),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // Claims the name, or activates its owner. Waits at most a few seconds for the bus.
    Claim claim();
    QString failureReason() const { return failureReason_; }
    QDBusConnection bus() const { return bus_; }

public slots:
    // Called over the bus by a later start.
    Q_SCRIPTABLE void Activate();

signals:
    void activationRequested();

private:
    QDBusConnection bus_;
    bool owner_ = false;
    QString failureReason_;
};

} // namespace orvane
