#pragma once

#include "common/Result.h"
#include "storage/AppSettings.h"
#include "storage/AppStore.h"
#include "storage/StoreError.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace orvane {

// The user's settings: read from the store at start, saved with every change and published.
// The store is the one data.db, shared with the history. A change the store cannot keep
// still holds for this run, and the error says so. The login item follows the autostart
// setting. Main thread.
class SettingsController : public QObject {
    Q_OBJECT

public:
    using StoreOpener = std::function<Result<std::unique_ptr<AppStore>, StoreError>()>;
    using LoginItem = std::function<Status<QString>(bool enabled)>;
    using ErrorSink = std::function<void(const QString& message)>;

    // How the store opened at start.
    struct Opened {
        bool loaded = false;                // the stored settings are in force
        bool linkChosen = false;            // a serial port or a BLE device is stored
        QString problem;                    // why the store cannot be used, if it cannot
        std::optional<QString> damagedCopy; // where a damaged database was moved
    };

    SettingsController(StoreOpener openStore, LoginItem loginItem, ErrorSink reportError,
                       QObject* parent = nullptr);

    // Opens the store and reads the settings, once, at start.
    Opened open();

    const AppSettings& current() const { return settings_; }
    const std::shared_ptr<AppStore>& store() const { return store_; }

    // Saves the settings, then publishes them.
    void commit(const AppSettings& updated);
    // Turns the login item on or off, then records the choice; false (and the error
    // reported) when the login item could not be changed.
    bool setAutostart(bool enabled);
    // Renews the login item of a stored choice (the program may have moved).
    void renewAutostart();

signals:
    void changed();

private:
    void save(const AppSettings& updated);
    void publish(const AppSettings& updated);

    StoreOpener openStore_;
    LoginItem loginItem_;
    ErrorSink reportError_;
    std::shared_ptr<AppStore> store_;
    QString storeProblem_; // why the store could not be opened or read at start
    AppSettings settings_;
};

} // namespace orvane
