// orvane-preview-screenshot <output-dir>: renders the hover preview of a text, an image
// and a file list over the window, for the documentation. It stores the three entries
// in the history store in $XDG_DATA_HOME (point that at a scratch directory), reads the
// history back, shows the window and opens the preview for each entry's row as a click
// would, and writes preview-text.png, preview-image.png and preview-files.png: the
// window and the preview where they are on screen, on a plain backdrop. Run it on a real
// X server (Xvfb) so that fonts and styles are those a user sees.

#include "ScreenshotScene.h"
#include "clipboard/ClipboardEntry.h"
#include "storage/AppStore.h"
#include "storage/ClipboardRecordMapping.h"
#include "storage/DataDirectory.h"
#include "ui/AppShell.h"
#include "ui/ClipboardHistoryRow.h"
#include "ui/ClipboardHoverPreview.h"
#include "ui/ClipboardHoverPreviewController.h"
#include "ui/ClipboardImageCache.h"
#include "ui/ClipboardPanelView.h"
#include "ui/FloatingWindow.h"
#include "ui/MainView.h"
#include "ui/SerialStatusBar.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QTextStream>
#include <QTimer>

using namespace orvane;
using orvane::screenshot::settle;

namespace {

bool writeSamplePng(const QString& path) {
    QImage image(1920, 1080, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 1080);
    sky.setColorAt(0, QColor(0x3a, 0x7b, 0xd5));
    sky.setColorAt(1, QColor(0xa8, 0xd8, 0xf0));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2e, 0x8b, 0x57));
    painter.drawEllipse(QPoint(500, 1240), 840, 520);
    painter.setBrush(QColor(0x3c, 0xb3, 0x71));
    painter.drawEllipse(QPoint(1520, 1280), 920, 500);
    painter.setBrush(QColor(0xff, 0xd7, 0x00));
    painter.drawEllipse(QPoint(1600, 240), 120, 120);
    painter.end();
    // A window's capture rather than a whole screen's, so the window shows beside it.
    return image.scaled(880, 495, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .save(path, "PNG");
}

bool writeFile(const QString& path, qint64 size) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QByteArray(size, 'x')) == size;
}

bool fillStore(AppStore& store, const QString& dataDir, QTextStream& err) {
    const QString folder = dataDir + QStringLiteral("/files/固件评审");
    QDir().mkpath(folder);
    QStringList paths;
    for (const auto& [name, size] : {std::pair{QStringLiteral("季度报告.pdf"), 184 * 1024},
                                     {QStringLiteral("固件更新说明 v2.3.md"), 6 * 1024},
                                     {QStringLiteral("测试记录-二楼会议室.xlsx"), 52 * 1024},
                                     {QStringLiteral("device-log-2026-12-04.txt"), 310 * 1024}}) {
        paths << folder + QLatin1Char('/') + name;
        if (!writeFile(paths.last(), size)) {
            err << "cannot write " << paths.last() << "\n";
            return false;
        }
    }
    const QString shot = dataDir + QStringLiteral("/sample-screenshot.png");
    if (!writeSamplePng(shot)) {
        err << "cannot write " << shot << "\n";
        return false;
    }

    ClipboardEntry files;
    files.kind = ClipboardKind::files;
    files.files = paths;
    files.text = paths.join(QLatin1Char('\n'));

    ClipboardEntry image;
    image.kind = ClipboardKind::image;
    image.text = QStringLiteral("[截图]");
    image.imagePath = shot;

    ClipboardEntry note;
    note.text =
        QStringLiteral("会议纪要（固件评审）\n\n"
                       "时间：周五下午三点\n地点：二楼会议室\n参会：硬件组、固件组、测试组\n\n"
                       "一、新版固件的串口握手已在三台样机上连续运行 72 小时，未出现掉线。\n"
                       "二、蓝牙桥接在信号较弱时的重连时间仍偏长，需要固件组给出优化方案。\n"
                       "三、截图传输在 4K 屏幕上耗时约 1.8 秒，测试组补充不同分辨率下的数据。\n"
                       "四、下次评审前请各组提交测试报告，并更新问题列表。\n\n"
                       "ssh admin@192.168.1.20 'journalctl -u kvm-agent -n 50'");

    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QList<std::pair<ClipboardEntry, qint64>> entries{
        {files, now - 26 * 3600 * 1000LL}, {image, now - 3 * 3600 * 1000LL}, {note, now - 120000}};
    for (auto [entry, at] : entries) {
        entry.timestamp = at;
        if (!screenshot::addEntry(store, entry, err)) {
            return false;
        }
    }
    return true;
}

// The window and the preview as they stand on screen, on a plain backdrop.
QImage compose(QWidget& window, QWidget& preview) {
    const QRect windowFrame = window.geometry();
    const QRect previewFrame = preview.geometry();
    const QRect area = windowFrame.united(previewFrame).adjusted(-24, -24, 24, 24);
    QImage image(area.size(), QImage::Format_RGB32);
    image.fill(QColor(0x5b, 0x63, 0x6e));
    QPainter painter(&image);
    painter.drawPixmap(windowFrame.topLeft() - area.topLeft(), window.grab());
    painter.drawPixmap(previewFrame.topLeft() - area.topLeft(), preview.grab());
    return image;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() != 1) {
        err << "usage: orvane-preview-screenshot <output-dir>\n";
        return 2;
    }
    const auto dataDir = DataDirectory::standard().root();
    auto store = AppStore::open();
    if (!dataDir || !store) {
        err << "no data directory or store\n";
        return 1;
    }
    if (!fillStore(*store.value(), dataDir.value(), err)) {
        return 1;
    }

    AppShell shell(false, ClipboardImageCache::shared());
    if (!screenshot::showStoredHistory(*store.value(), shell, err)) {
        return 1;
    }
    ClipboardPanelView& panel = *shell.mainView()->clipboardPanel();
    shell.window()->move(40, 40);

    ClipboardHoverPreviewController preview(panel.imageCache());
    QObject::connect(&preview, &ClipboardHoverPreviewController::activeEntryChanged, &panel,
                     &ClipboardPanelView::setPreviewedEntryId);
    settle(800);

    const QDir out(args[0]);
    bool ok = true;
    const QList<std::pair<ClipboardKind, QString>> shots{
        {ClipboardKind::text, QStringLiteral("preview-text.png")},
        {ClipboardKind::image, QStringLiteral("preview-image.png")},
        {ClipboardKind::files, QStringLiteral("preview-files.png")}};
    for (const auto& [kind, name] : shots) {
        ClipboardHistoryRow* row = nullptr;
        for (ClipboardHistoryRow* candidate : panel.rows()) {
            if (candidate->entry().kind == kind) {
                row = candidate;
            }
        }
        if (!row) {
            err << "no history row for " << name << "\n";
            return 1;
        }
        preview.show(row->entry(), QRect(row->mapToGlobal(QPoint(0, 0)), row->size()));
        settle(800);
        const QString path = out.filePath(name);
        if (!compose(*shell.window(), *preview.panel()).save(path)) {
            err << "cannot write " << path << "\n";
            ok = false;
        }
        preview.hide();
    }
    return ok ? 0 : 1;
}
