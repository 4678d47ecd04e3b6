#pragma once

#include "clipboard/ClipboardEntry.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>

class QDBusServiceWatcher;

namespace orvane {

// The desktop program as seen from the session bus, when it runs and serves
// org.orvane.Orvane1: its properties kept current, its signals, and its methods.
// Only what that interface promises is relied on. Main thread.
class RunningProgram : public QObject {
    Q_OBJECT

public:
    static constexpr int callTimeoutMs = 10000;

    // A method's error: the error's D-Bus name and the program's message for people.
    struct CallError {
        QString name;
        QString message;
        // For a person: the program's own message, else the error's name.
        QString text() const { return message.isEmpty() ? name : message; }
    };

    // Finds the program: nullptr without a session bus, without an owner of its name, or
    // when the owner does not serve the interface (an older program).
    static std::unique_ptr<RunningProgram> find();
    // The program, when it runs and holds the link named (a port path, else a BLE address),
    // or when none is named: the link a command should go through it for.
    static std::unique_ptr<RunningProgram> findHolding(const QString& port,
                                                       const QString& bleAddress);

    ~RunningProgram() override;

    QString property(const QString& name) const { return properties_.value(name).toString(); }
    bool isSending() const { return properties_.value(QStringLiteral("Sending")).toBool(); }
    bool isConnected() const { return property(QStringLiteral("LinkState")) == u"connected"; }
    // Whether the link the user named (a port path, else a BLE address) is the program's.
    bool holds(const QString& port, const QString& bleAddress) const;
    // " (port · device name)" for a person, as far as known; "" without a link.
    QString linkDescription() const;

    // Calls a method of the interface and waits for the reply (bounded by callTimeoutMs);
    // the reply's arguments, or the error.
    struct Reply {
        QVariantList arguments;
        std::optional<CallError> error;
    };
    Reply call(const QString& method, const QVariantList& arguments = {});

    // The history, newest first, as ListHistory gives it.
    std::optional<QList<ClipboardEntry>> history(CallError* error);

signals:
    void jobProgress(uint job, int percent);
    void jobFinished(uint job, const QString& outcome, const QString& message, quint64 bytes);
    void itemReceived(const orvane::ClipboardEntry& entry);
    // A property the program announced as changed.
    void propertyChanged(const QString& name);
    // The program left the bus (it ended or crashed).
    void vanished();

private slots:
    void onJobProgress(uint job, int percent);
    void onJobFinished(uint job, const QString& outcome, const QString& message, qulonglong bytes);
    void onItemReceived(const QDBusMessage& message);
    void onPropertiesChanged(const QString& interface, const QVariantMap& changed,
                             const QStringList& invalidated);

private:
    explicit RunningProgram(const QDBusConnection& bus);
    bool subscribe();
    bool readProperties();

    QDBusConnection bus_;
    QVariantMap properties_;
    QDBusServiceWatcher* watcher_ = nullptr;
};

} // namespace orvane
