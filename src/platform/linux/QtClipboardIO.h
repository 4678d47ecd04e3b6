#pragma once

#include "clipboard/ClipboardIO.h"

#include <QClipboard>
#include <QObject>

namespace orvane {

// The desktop clipboard through QClipboard (X11, or Wayland while one of the
// application's windows has focus). Needs a QGuiApplication; lives on its thread.
class QtClipboardIO : public QObject, public ClipboardIO {
    Q_OBJECT
public:
    explicit QtClipboardIO(QObject* parent = nullptr);

    // Counts QClipboard's change notices for the clipboard (not the selection). On X11
    // they arrive for other programs' copies as well as for our own writes.
    quint64 changeCount() const override { return changeCount_; }
    ClipboardReading readContent() override;
    Status<ClipboardError> writeContent(const ClipboardContent& content) override;

private:
    QClipboard* clipboard_;
    quint64 changeCount_ = 0;
};

} // namespace orvane
