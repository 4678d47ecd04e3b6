// orvane_preview_screen_probe SCREEN: on a real X display, shows a clipboard panel with
// one long text entry on screen SCREEN, puts the pointer on the next screen (if any),
// clicks the row and opens the preview as the desktop program does. Prints the screens,
// the free area of the row's screen and where the preview window landed, one
// "key value…" per line.

#include "support/EventLoopWait.h"
#include "ui/ClipboardHistoryRow.h"
#include "ui/ClipboardHoverPreview.h"
#include "ui/ClipboardHoverPreviewController.h"
#include "ui/ClipboardImageCache.h"
#include "ui/ClipboardPanelView.h"

#include <QApplication>
#include <QCursor>
#include <QScreen>
#include <QTest>
#include <QTextStream>
#include <QWindow>

using namespace orvane;

namespace {

QString rectText(const QRect& rect) {
    return QStringLiteral("%1 %2 %3 %4")
        .arg(rect.x())
        .arg(rect.y())
        .arg(rect.width())
        .arg(rect.height());
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTextStream out(stdout);
    const QList<QScreen*> screens = QGuiApplication::screens();
    const int index = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 0;
    out << "screens " << screens.size() << Qt::endl;
    if (index < 0 || index >= screens.size()) {
        return 2;
    }
    const QRect area = screens[index]->availableGeometry();
    out << "available " << rectText(area) << Qt::endl;

    ClipboardImageCache cache;
    ClipboardPanelView panel(cache);
    ClipboardEntry entry;
    entry.id = 5;
    QStringList lines;
    for (int i = 0; i < 200; ++i) {
        lines << QStringLiteral("第 %1 行：屏幕上的长文本条目，预览里可以滚动查看。").arg(i);
    }
    entry.text = lines.join(QLatin1Char('\n'));
    ClipboardState state;
    state.history = {entry};
    panel.setClipboardState(state);
    panel.resize(560, 400);
    panel.move(area.topLeft() + QPoint(40, 40));
    panel.show();
    if (!orvane::test::waitUntil(
            [&] { return panel.windowHandle() && panel.windowHandle()->isExposed(); }, 10000)) {
        return 3;
    }
    // The pointer elsewhere: the row's screen must win over the pointer's.
    QCursor::setPos(screens[(index + 1) % screens.size()]->geometry().center());

    ClipboardHoverPreviewController preview(cache);
    ClipboardHistoryRow* row = panel.rows().value(0);
    QObject::connect(&panel, &ClipboardPanelView::previewRequested, &preview,
                     [&](const ClipboardEntry& requested) {
                         preview.show(requested,
                                      QRect(row->mapToGlobal(QPoint(0, 0)), row->size()));
                     });
    QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(5, 5));
    if (!orvane::test::waitUntil(
            [&] {
                return preview.panel() && preview.panel()->windowHandle() &&
                       preview.panel()->windowHandle()->isExposed();
            },
            10000)) {
        return 4;
    }
    QWindow* window = preview.panel()->windowHandle();
    out << "row " << rectText(QRect(row->mapToGlobal(QPoint(0, 0)), row->size())) << Qt::endl;
    out << "panel " << rectText(window->geometry()) << Qt::endl;
    out << "panelScreen " << screens.indexOf(window->screen()) << Qt::endl;
    return 0;
}
