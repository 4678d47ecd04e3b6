#pragma once

#include "serial/SerialDeviceWatch.h"

#include <QStringList>

namespace orvane {

// Watches directories of device nodes with inotify. devtmpfs creates and removes the nodes
// itself, so this sees devices come and go whether or not a udev daemon runs; IN_ATTRIB
// catches the moment udev hands a fresh node to its group.
class InotifyDeviceWatch : public SerialDeviceWatch {
public:
    explicit InotifyDeviceWatch(QStringList directories);
    ~InotifyDeviceWatch() override;

    InotifyDeviceWatch(const InotifyDeviceWatch&) = delete;
    InotifyDeviceWatch& operator=(const InotifyDeviceWatch&) = delete;

    // True when at least one directory is watched.
    bool open() override;
    Wait waitForChange(int timeoutMs) override;
    void wake() override;

private:
    QStringList directories_;
    int inotifyFd_ = -1;
    int wakeFd_ = -1; // eventfd, created up front so wake() is safe at any time
};

} // namespace orvane
