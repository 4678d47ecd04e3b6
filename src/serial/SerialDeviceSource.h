#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace orvane {

// What port discovery and hot-plug need from the operating system. Implementations hold
// no state that changes between calls and may be used from any thread at once.
class SerialDeviceSource {
public:
    virtual ~SerialDeviceSource() = default;

    // Device nodes in the scanned directories whose names are serial port names, as full
    // paths. Nothing when no scanned directory could be listed (as opposed to an empty
    // list: no ports).
    virtual std::optional<QStringList> listDeviceNodes() const = 0;

    // Ports the system's device registry knows, by device path, each with its product name
    // when one is known. A path here need not exist.
    virtual QMap<QString, std::optional<QString>> productNamesByPath() const = 0;

    // A fresh registry look-up of the product name behind `path`.
    virtual std::optional<QString> lookupProductName(const QString& path) const = 0;

    virtual bool pathExists(const QString& path) const = 0;

    // The command name of a process that holds `path` open, when one can be seen.
    virtual std::optional<QString> describePortOccupier(const QString& path) const = 0;

    // Command names of the other processes that have `path` open as well, without any lock
    // that would have kept us out (a terminal program with default settings), in process
    // order. Not counted: this process, and the process at the other end of a
    // pseudo-terminal (it holds the master side; it is the line's peer, not a second
    // reader). Only processes whose descriptors we may see are found.
    virtual QStringList otherOpeners(const QString& path) const = 0;

    // Opens `path` for exclusive use and closes it at once; whether that worked.
    virtual bool tryOpenExclusive(const QString& path) const = 0;

    // False while `path` refuses us for lack of permission. A node that has just appeared
    // may still carry its creator's permissions until the device manager sets its group.
    virtual bool isAccessible(const QString& path) const = 0;
};

} // namespace orvane
