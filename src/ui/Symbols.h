#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace orvane {

// The program's symbols by their own names ("list.clipboard", "gearshape", "photo",
// "checkmark.circle.fill", "xmark.circle.fill", "exclamationmark.triangle.fill", "orvane").
namespace Symbols {

// The desktop theme's icon of the mapped freedesktop name when the theme has one, else
// the bundled drawing. The three status marks always use the bundled drawing: their
// colours (green, red, orange) carry the meaning and themes draw them monochrome.
QIcon icon(const QString& symbol);

// The icon at this size, with every opaque pixel painted in `color`; for the sidebar's
// monochrome buttons.
QPixmap tinted(const QString& symbol, int size, const QColor& color, qreal devicePixelRatio);

} // namespace Symbols

} // namespace orvane
