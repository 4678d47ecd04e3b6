#pragma once

#include "serial/SerialDeviceSource.h"

#include <QMap>
#include <QSet>

#include <mutex>

namespace orvane::testing {

// A device registry and file system held in memory; tests change it while the hot-plug
// thread reads it.
class FakeSerialDeviceSource : public SerialDeviceSource {
public:
    mutable std::mutex mutex;
    std::optional<QStringList> nodes = QStringList();
    QMap<QString, std::optional<QString>> registry;
    QMap<QString, QString> lateNames; // found only by a fresh look-up
    QSet<QString> existing;
    QSet<QString> denied;
    QMap<QString, QString> occupiers;
    QMap<QString, QStringList> sharers; // programs that also have a port open
    mutable int openAttempts = 0;
    mutable int openerScans = 0; // each a walk through every process on a real system
    mutable int listings = 0;    // of the device directories

    std::optional<QStringList> listDeviceNodes() const override {
        std::lock_guard lock(mutex);
        ++listings;
        return nodes;
    }
    QMap<QString, std::optional<QString>> productNamesByPath() const override {
        std::lock_guard lock(mutex);
        return registry;
    }
    std::optional<QString> lookupProductName(const QString& path) const override {
        std::lock_guard lock(mutex);
        if (lateNames.contains(path)) {
            return lateNames.value(path);
        }
        return std::nullopt;
    }
    bool pathExists(const QString& path) const override {
        std::lock_guard lock(mutex);
        return existing.contains(path);
    }
    std::optional<QString> describePortOccupier(const QString& path) const override {
        std::lock_guard lock(mutex);
        if (occupiers.contains(path)) {
            return occupiers.value(path);
        }
        return std::nullopt;
    }
    QStringList otherOpeners(const QString& path) const override {
        std::lock_guard lock(mutex);
        ++openerScans;
        return sharers.value(path);
    }
    bool tryOpenExclusive(const QString&) const override {
        std::lock_guard lock(mutex);
        ++openAttempts;
        return true;
    }
    bool isAccessible(const QString& path) const override {
        std::lock_guard lock(mutex);
        return !denied.contains(path);
    }
};

} // namespace orvane::testing
