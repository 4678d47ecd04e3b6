#pragma once

#include "storage/AppStore.h"
#include "storage/ClipboardRecordMapping.h"
#include "ui/AppShell.h"
#include "ui/ClipboardPanelView.h"
#include "ui/MainView.h"
#include "ui/SerialStatusBar.h"

#include <QEventLoop>
#include <QTextStream>
#include <QTimer>

// What the documentation's pictures share: the window showing the history as the store
// holds it, and waiting while it draws.
namespace orvane::screenshot {

// Adds `entry` to the history store with its size computed, as the program stores it.
inline bool addEntry(AppStore& store, ClipboardEntry entry, QTextStream& err) {
    entry.dataSize = ClipboardEntry::computeDataSize(entry);
    const auto record = ClipboardRecordMapping::recordFromEntry(entry, DataDirectory::standard());
    if (!record) {
        err << "cannot store entry: " << record.error().description() << "\n";
        return false;
    }
    ClipboardRecord row = record.value();
    if (const auto added = store.addClipboardRecord(row); !added) {
        err << "cannot store entry: " << added.error().description() << "\n";
        return false;
    }
    return true;
}

// Lets the event loop run for `ms`, so that layouts, thumbnails and fonts settle.
inline void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Shows the shell's window with the store's history, newest first, and a closed link.
inline bool showStoredHistory(AppStore& store, AppShell& shell, QTextStream& err) {
    ClipboardPanelView& panel = *shell.mainView()->clipboardPanel();
    ClipboardState state;
    const auto records = store.listClipboardRecords(historyCapacity);
    if (!records) {
        err << "cannot read the history: " << records.error().description() << "\n";
        return false;
    }
    for (const ClipboardRecord& record : records.value()) {
        state.history.append(ClipboardRecordMapping::entryFromRecord(record));
    }
    state.current = state.history.value(0);
    panel.setClipboardState(state);
    panel.statusBar()->setConnectionState(QStringLiteral("closed"));
    panel.statusBar()->setToggle(SerialStatusBar::Toggle::connect);
    shell.start();
    return true;
}

} // namespace orvane::screenshot
