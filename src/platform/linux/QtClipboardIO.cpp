#include "platform/linux/QtClipboardIO.h"

#include "platform/linux/ClipboardMimeReader.h"
#include "platform/linux/ClipboardMimeWriter.h"

#include <QGuiApplication>
#include <QMimeData>
#include <QThread>

namespace orvane {

QtClipboardIO::QtClipboardIO(QObject* parent)
    : QObject(parent)
    , clipboard_(QGuiApplication::clipboard()) {
    Q_ASSERT(clipboard_);
    connect(clipboard_, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard) {
            ++changeCount_;
        }
    });
}

ClipboardReading QtClipboardIO::readContent() {
    Q_ASSERT(QThread::currentThread() == thread());
    const QMimeData* mime = clipboard_->mimeData(QClipboard::Clipboard);
    if (!mime) {
        return {};
    }
    return ClipboardMimeReader::read(*mime);
}

Status<ClipboardError> QtClipboardIO::writeContent(const ClipboardContent& content) {
    Q_ASSERT(QThread::currentThread() == thread());
    clipboard_->clear(QClipboard::Clipboard);
    auto offer = ClipboardMimeWriter::offerFor(content);
    if (!offer) {
        return fail(offer.error());
    }
    if (!offer->mime) {
        return Done{};
    }
    clipboard_->setMimeData(offer->mime.release(), QClipboard::Clipboard);
    // QClipboard reports no failure of its own; a clipboard that we do not own after
    // setting it means the display server refused us.
    if (!clipboard_->ownsClipboard()) {
        return fail(ClipboardError::writeFailed(
            QStringLiteral("setData %1 failed").arg(offer->mainFormat)));
    }
    return Done{};
}

} // namespace orvane
