#pragma once

#include "clipboard/ClipboardEntry.h"

#include <QByteArray>
#include <QJsonObject>

namespace orvane {

// How `orvane-cli listen` announces a received item on standard output: one line each,
// for people or (as one JSON object) for scripts.
namespace DeliveryReport {

// {"kind": "text"|"image"|"files", "size": bytes, "time": ISO 8601, and "text" for a text,
// "path" for an image or a file (plus "paths" when a files entry holds several)}.
QByteArray jsonLine(const ClipboardEntry& entry);
// The object of jsonLine().
QJsonObject jsonObject(const ClipboardEntry& entry);

// "text 12 B: hello" / "image 3456 B: /path/to.png" / "files 25000 B: /path/to/file".
QByteArray textLine(const ClipboardEntry& entry);

} // namespace DeliveryReport

} // namespace orvane
