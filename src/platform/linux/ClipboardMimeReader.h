#pragma once

#include "clipboard/ClipboardReading.h"

#include <QByteArray>
#include <QMimeData>
#include <QString>
#include <QStringList>

namespace orvane {

// How the clipboard's formats, as a QMimeData, become ClipboardContent.
namespace ClipboardMimeReader {

// First match wins: file references (text/uri-list, then x-special/gnome-copied-files;
// existing local paths only, in order), text (CRLF becomes LF; a bare file name left
// behind by a file manager is not text), then an image (image/png and image/jpeg as
// offered, but our own JPEG before the PNG made from it; any other image format Qt
// decodes re-encoded as PNG). Content a password manager marked secret is not read.
ClipboardReading read(const QMimeData& mime);

// The existing local paths named by a text/uri-list, in order. Comment lines and
// anything that is not a file:// URI are skipped.
QStringList pathsFromUriList(const QByteArray& uriList);
// The same for x-special/gnome-copied-files: "copy" or "cut", then one URI per line.
QStringList pathsFromGnomeCopiedFiles(const QByteArray& data);

// Whether `text` is a bare file name rather than text someone copied. A file manager
// that copies a file no longer on disk may leave just its name as the text; that name
// is not worth recording. Only then, with a file-manager format on the clipboard whose
// files could not be read, is a single-line text without "/" or "\" taken for a file
// name: a word copied in an editor is always text.
bool isBareFilename(const QString& text, bool fileManagerFormatOffered);

} // namespace ClipboardMimeReader

} // namespace orvane
