// orvane-screenshot <output-dir>: renders the desktop window in three states for the
// documentation. It fills the history store in $XDG_DATA_HOME (point that at a scratch
// directory) with a text, an image and a file entry through AppStore, shows the window
// with the history read back from the store, and writes history.png, sending.png
// (a send in progress) and toast.png (a send's result banner). Run it on a real X
// server (Xvfb) so that fonts and styles are those a user sees.
//
// orvane-screenshot --fill-only <n>: only stores n entries, a third of them full-screen
// screenshots, for measuring the program with a full history.

#include "ScreenshotScene.h"
#include "clipboard/ClipboardEntry.h"
#include "storage/AppStore.h"
#include "storage/ClipboardRecordMapping.h"
#include "storage/DataDirectory.h"
#include "ui/AppShell.h"
#include "ui/ClipboardImageCache.h"
#include "ui/ClipboardPanelView.h"
#include "ui/FloatingWindow.h"
#include "ui/MainView.h"
#include "ui/SerialStatusBar.h"
#include "ui/ToastBanner.h"

#include <QApplication>
#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QTextStream>
#include <QTimer>

using namespace orvane;
using orvane::screenshot::addEntry;
using orvane::screenshot::settle;

namespace {

QByteArray samplePng(QSize size = QSize(960, 540), int variant = 0) {
    QImage image(960, 540, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 540);
    sky.setColorAt(0, QColor(0x3a, 0x7b, 0xd5));
    sky.setColorAt(1, QColor(0xa8, 0xd8, 0xf0));
    painter.fillRect(image.rect(), sky);
    painter.setBrush(QColor(0x2e, 0x8b, 0x57));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPoint(250, 620), 420, 260);
    painter.setBrush(QColor(0x3c, 0xb3, 0x71));
    painter.drawEllipse(QPoint(760, 640), 460, 250);
    painter.setBrush(QColor(0xff, 0xd7, 0x00));
    painter.drawEllipse(QPoint(800, 120), 60, 60);
    painter.drawText(QPoint(40, 60), QString::number(variant));
    painter.end();
    if (size != image.size()) {
        image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

bool fillStore(AppStore& store, const QString& dataDir, QTextStream& err) {
    const QString filesDir = dataDir + QStringLiteral("/files/报告");
    QDir().mkpath(filesDir);
    const QString report = filesDir + QStringLiteral("/季度报告.pdf");
    QFile file(report);
    if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(184 * 1024, 'x')) < 0) {
        err << "cannot write " << report << "\n";
        return false;
    }
    file.close();

    ClipboardEntry files;
    files.kind = ClipboardKind::files;
    files.files = {report};
    files.text = report;

    ClipboardEntry image;
    image.kind = ClipboardKind::image;
    image.text = QStringLiteral("[截图]");
    image.imageData = samplePng();

    ClipboardEntry command;
    command.text = QStringLiteral("ssh admin@192.168.1.20 'journalctl -u kvm-agent -n 50'");

    ClipboardEntry note;
    note.text =
        QStringLiteral("  会议纪要：周五下午三点在二楼会议室评审新版固件，请提前准备测试报告。\n");

    // Stored oldest first, so that the note is the newest row.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QList<std::pair<ClipboardEntry, qint64>> entries{{files, now - 26 * 3600 * 1000LL},
                                                           {image, now - 3 * 3600 * 1000LL},
                                                           {command, now - 40 * 60 * 1000LL},
                                                           {note, now - 2 * 60 * 1000LL}};
    for (auto [entry, at] : entries) {
        entry.timestamp = at;
        if (!addEntry(store, entry, err)) {
            return false;
        }
    }
    return true;
}

bool fillMany(AppStore& store, int count, QTextStream& err) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < count; ++i) {
        ClipboardEntry entry;
        if (i % 3 == 0) {
            entry.kind = ClipboardKind::image;
            entry.text = QStringLiteral("[截图]");
            entry.imageData = samplePng(QSize(1920, 1080), i);
        } else {
            entry.text = QStringLiteral("剪贴板条目 %1: ").arg(i) + QString(200, QLatin1Char('x'));
        }
        entry.timestamp = now - qint64(count - i) * 60 * 1000;
        if (!addEntry(store, entry, err)) {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments().mid(1);
    const bool fillOnly = args.size() == 2 && args[0] == QLatin1String("--fill-only");
    if (args.size() != 1 && !fillOnly) {
        err << "usage: orvane-screenshot <output-dir> | --fill-only <n>\n";
        return 2;
    }
    const auto dataDir = DataDirectory::standard().root();
    auto store = AppStore::open();
    if (!dataDir || !store) {
        err << "no data directory or store\n";
        return 1;
    }
    if (fillOnly) {
        return fillMany(*store.value(), args[1].toInt(), err) ? 0 : 1;
    }
    const QDir out(args[0]);
    if (!fillStore(*store.value(), dataDir.value(), err)) {
        return 1;
    }

    AppShell shell(false, ClipboardImageCache::shared());
    if (!screenshot::showStoredHistory(*store.value(), shell, err)) {
        return 1;
    }
    ClipboardPanelView& panel = *shell.mainView()->clipboardPanel();
    settle(800);

    const auto save = [&](const QString& name) {
        const QString path = out.filePath(name);
        if (!shell.window()->grab().save(path)) {
            err << "cannot write " << path << "\n";
            return false;
        }
        return true;
    };
    bool ok = save(QStringLiteral("history.png"));
    panel.setTransfer(true, 42);
    settle(200);
    ok = save(QStringLiteral("sending.png")) && ok;
    panel.setTransfer(false, 0);
    panel.toastBanner()->showToast(QStringLiteral("发送成功 · 截图"), ToastBanner::Kind::success);
    settle(200);
    ok = save(QStringLiteral("toast.png")) && ok;
    return ok ? 0 : 1;
}
