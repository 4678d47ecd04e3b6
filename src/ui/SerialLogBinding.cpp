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
    followStore(model_.serialDebugLogEnabled());
    connect(&model_, &AppModel::serialDebugLogEnabledChanged, this,
            [this] { followStore(model_.serialDebugLogEnabled()); });

    panel_->setHasLogs(store.hasLogs());
    connect(&store, &SerialLogStore::hasLogsChanged, panel_, &SerialLogPanelView::setHasLogs);
    panel_->setPaused(serial.isLogPaused());
    connect(&serial, &SerialService::isLogPausedChanged, panel_,
            [this, &serial] { panel_->setPaused(serial.isLogPaused()); });

    connect(panel_, &SerialLogPanelView::pauseRequested, &serial, &SerialService::setLogPaused);
    connect(panel_, &SerialLogPanelView::copyRequested, this, &SerialLogBinding::copyLog);
    connect(panel_, &SerialLogPanelView::clearRequested, &serial, &SerialService::clearLogs);
}

void SerialLogBinding::followStore(bool follow) {
    SerialLogStore& store = model_.serial().logStore();
    SerialLogTextView& text = *panel_->textView();
    if (follow == bool(deltaConnection_)) {
        return;
    }
    if (!follow) {
        // A hidden panel lays out no text: the store goes on recording, and what it holds
        // is shown in one piece when the panel comes back.
        QObject::disconnect(deltaConnection_);
        QObject::disconnect(resetConnection_);
        text.resetText(QString());
        return;
    }
    text.resetText(store.plainText());
    deltaConnection_ =
        connect(&store, &SerialLogStore::delta, &text, &SerialLogTextView::appendDelta);
    resetConnection_ =
        connect(&store, &SerialLogStore::reset, &text, &SerialLogTextView::resetText);
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
