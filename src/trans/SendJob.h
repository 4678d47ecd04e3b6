#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace orvane {

// One outbound clipboard item, ready for the TRANS sender.
struct SendJob {
    quint16 dataType = 0; // 0 text, 1 image, 2 file
    QByteArray payload;   // the item's bytes, unchanged
    QString fileName;     // reduced file name for files; empty otherwise

    friend bool operator==(const SendJob&, const SendJob&) = default;
};

} // namespace orvane
