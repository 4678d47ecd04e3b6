#pragma once

#include <QHashFunctions>
#include <QString>

namespace orvane {

// One serial port as the user picks it.
struct SerialPortInfo {
    QString id;    // identity in lists; always the path
    QString path;  // the device node
    QString label; // the USB product name when known, else the path

    static SerialPortInfo make(const QString& path, const QString& label) {
        return SerialPortInfo{path, path, label};
    }

    // "<label> · <path>" when the label says more than the path, else the path.
    QString displayName() const;

    friend bool operator==(const SerialPortInfo&, const SerialPortInfo&) = default;
};

inline size_t qHash(const SerialPortInfo& port, size_t seed = 0) {
    return qHashMulti(seed, port.id, port.path, port.label);
}

} // namespace orvane
