#include "app/SettingsController.h"

#include <QThread>

namespace orvane {

SettingsController::SettingsController(StoreOpener openStore, LoginItem loginItem,
                                       ErrorSink reportError, QObject* parent)
    : QObject(parent)
    , openStore_(std::move(openStore))
    , loginItem_(std::move(loginItem))
    , reportError_(std::move(reportError)) {}

SettingsController::Opened SettingsController::open() {
    Q_ASSERT(thread() == QThread::currentThread());
    Opened opened;
    auto store = openStore_();
    if (!store) {
        storeProblem_ = store.error().description();
        opened.problem = storeProblem_;
        return opened;
    }
    store_ = std::shared_ptr<AppStore>(std::move(store).value());
    opened.damagedCopy = store_->damagedCopy();
    auto read = store_->getSettings();
    if (!read) {
        storeProblem_ = read.error().description();
        opened.problem = storeProblem_;
        return opened;
    }
    publish(read.value());
    opened.loaded = true;
    auto hasPort = store_->hasSerialPort();
    opened.linkChosen = hasPort && hasPort.value();
    if (!opened.linkChosen) {
        auto hasDevice = store_->hasBluetoothDevice();
        opened.linkChosen = hasDevice && hasDevice.value();
    }
    return opened;
}

void SettingsController::commit(const AppSettings& updated) {
    save(updated);
    publish(updated);
}

bool SettingsController::setAutostart(bool enabled) {
    if (auto changed = loginItem_(enabled); !changed) {
        reportError_(QStringLiteral("开机自启动设置失败: ") + changed.error());
        return false;
    }
    AppSettings updated = settings_;
    updated.autostart = enabled;
    publish(updated);
    save(updated);
    return true;
}

void SettingsController::renewAutostart() {
    if (settings_.autostart) {
        (void)loginItem_(true);
    }
}

// The link needs no store: a choice the store cannot keep still holds for this run, and
// the error line says it will be gone at the next start.
void SettingsController::save(const AppSettings& updated) {
    QString problem = storeProblem_;
    if (store_) {
        auto saved = store_->saveSettings(updated);
        if (saved) {
            return;
        }
        problem = saved.error().description();
    }
    reportError_(QStringLiteral("设置已生效，但未能保存: ") + problem);
}

void SettingsController::publish(const AppSettings& updated) {
    if (settings_ == updated) {
        return;
    }
    settings_ = updated;
    emit changed();
}

} // namespace orvane
