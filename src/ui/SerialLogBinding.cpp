#include "ui/SerialLogBinding.h"

#include "app/AppModel.h"
#include "serial/SerialService.h"
#include "ui/AppShell.h"
#include "ui/ClipboardPanelView.h"
#include "ui/MainView.h"
#include "ui/SerialLogPanelView.h"
#include "ui/SerialLogTextView.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QThread>

namespace orvane {

SerialLogBinding::SerialLogBinding(AppModel& model, AppShell& shell, QObject* parent)
    : QObject(parent)
    , model_(model)
    , panel_(new SerialLogPanelView) {
    Q_ASSERT(thread() == QThread::currentThread());
    ClipboardPanelView& clipboardPanel = *shell.mainView()->clipboardPanel();
    clipboardPanel.setLogPanel(panel_); // takes ownership through the layout
    clipboardPanel.setSerialDebugLogEnabled(model_.serialDebugLogEnabled());

    SerialService& serial = model_.serial();
    SerialLogStore& store = serial.logStore();
    SerialLogTextView& text = *panel_->textView();
    text.resetText(store.plainText());
    connect(&store, &SerialLogStore::delta, &text, &SerialLogTextView::appendDelta);
    connect(&store, &SerialLogStore::reset, &text, &SerialLogTextView::resetText);

    panel_->setHasLogs(store.hasLogs());
    connect(&store, &SerialLogStore::hasLogsChanged, panel_, &SerialLogPanelView::setHasLogs);
    panel_->setPaused(serial.isLogPaused());
    connect(&serial, &SerialService::isLogPausedChanged, panel_,
            [this, &serial] { panel_->setPaused(serial.isLogPaused()); });

    connect(panel_, &SerialLogPanelView::pauseRequested, &serial, &SerialService::setLogPaused);
    connect(panel_, &SerialLogPanelView::copyRequested, this, &SerialLogBinding::copyLog);
    connect(panel_, &SerialLogPanelView::clearRequested, &serial, &SerialService::clearLogs);
}

void SerialLogBinding::copyLog() {
    const QString& text = model_.serial().logStore().plainText();
    if (text.isEmpty()) {
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

} // namespace orvane
