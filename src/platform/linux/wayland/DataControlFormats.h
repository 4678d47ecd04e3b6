#pragma once

#include "clipboard/ClipboardContent.h"
#include "clipboard/ClipboardError.h"
#include "clipboard/ClipboardReading.h"
#include "common/Result.h"

#include <QByteArray>
#include <QList>
#include <QMap>

#include <optional>

namespace orvane {

// Which formats of another program's clipboard data are worth reading, and which formats
// our own clipboard data is offered in: the same choices as on X11.
namespace DataControlFormats {

// Offered with every source of ours, so that our own data coming back as the new
// selection is recognised without reading it.
inline constexpr char ownSourceMarker[] = "application/x-orvane-own-source";

// An offer being read format by format: only what is needed to decide, no image when
// there are files or text.
class ReadPlan {
public:
    explicit ReadPlan(QList<QByteArray> offered);

    // The next format to read, or nothing when the reading is decided.
    std::optional<QByteArray> next();
    // The bytes of the format next() returned; nothing when it could not be read.
    void received(const QByteArray& mimeType, std::optional<QByteArray> bytes);

    bool isOwn() const { return offered_.contains(ownSourceMarker); }
    // What was read, as the clipboard manager reads it.
    const ClipboardReading& reading() const { return reading_; }

private:
    ClipboardReading readSoFar() const;

    QList<QByteArray> offered_;
    QMap<QByteArray, QByteArray> read_;
    QList<QByteArray> pending_; // still to read, in order
    bool decided_ = false;
    ClipboardReading reading_; // of what was read so far
};

// One format of our own clipboard data. A JPEG's PNG is made only when a reader asks.
struct OfferedFormat {
    QByteArray mimeType;
    QByteArray bytes;
    bool pngFromJpeg = false; // bytes are the JPEG to convert
};

// The formats to offer `content` in (the marker included). Fails as
// ClipboardIO::writeContent does for content without a kind or without a usable image.
Result<QList<OfferedFormat>, ClipboardError> offerFor(const ClipboardContent& content);

// What reading `formats` back would yield.
ClipboardReading readBack(const QList<OfferedFormat>& formats);

// The bytes of a JPEG converted to PNG; empty when the JPEG does not decode.
QByteArray pngFromJpeg(const QByteArray& jpeg);

} // namespace DataControlFormats

} // namespace orvane
