#pragma once

#include "clipboard/ClipboardEntry.h"

#include <QDateTime>
#include <QString>

namespace orvane {

// The texts a history row shows.
namespace ClipboardFormatting {

// "1023 B", "1.0 KB" (from 1024 bytes), "1.0 MB" (from 1 MiB).
QString formatDataSize(qint64 bytes);

// "--" below 1; "HH:mm:ss" today, "昨天 HH:mm" yesterday, "MM-dd HH:mm" otherwise, in
// local time as seen at `now`.
QString formatTime(qint64 ms, const QDateTime& now = QDateTime::currentDateTime());

// The row's one-line summary: the trimmed text ("空文本" when nothing is left), the
// paths joined by " · ", or "截图".
QString preview(const ClipboardEntry& entry);

// The hover preview lays its text out whole before showing it, which for a copied log of
// megabytes held the window for seconds. Beyond this many characters it shows the start,
// cut after a whole line where one ends in the last quarter, and a closing note.
inline constexpr qsizetype previewPanelMaxChars = 50000;

// `text` as the hover preview shows it: whole up to previewPanelMaxChars, else its start
// followed by "…（预览仅显示前 <shown> 个字符，全文共 <total> 个字符）" on a line of its own.
QString previewPanelText(const QString& text);

} // namespace ClipboardFormatting

} // namespace orvane
