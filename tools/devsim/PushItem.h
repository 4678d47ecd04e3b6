#pragma once

#include "common/Result.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace orvane::devsim {

// One clipboard item the simulated device pushes to the client: the bytes travel as they
// are (UTF-8 text, the image file's bytes, the file's bytes).
struct PushItem {
    quint16 dataType = 0; // 0 text, 1 image, 2 file
    QByteArray payload;
    QString fileName; // sent for files only
    QString label;    // how events name the item

    static PushItem text(const QString& text);
    // The file at `path` as an image (dataType 1) or as a file (dataType 2, named after the
    // path's last component). Fails with a readable reason.
    static Result<PushItem, QString> fromFile(const QString& path, quint16 dataType);
};

} // namespace orvane::devsim
