#pragma once

#include "clipboard/ClipboardState.h"
#include "storage/AppStore.h"

#include <QObject>

#include <memory>

namespace orvane {

class ClipboardPanelView;

// Feeds the clipboard panel from the history database while the program runs without
// its link stack: the stored history, re-read whenever the window is shown, and the
// delete and clear-all actions carried out on the store.
class StoreHistory : public QObject {
    Q_OBJECT

public:
    StoreHistory(std::unique_ptr<AppStore> store, ClipboardPanelView& panel,
                 QObject* parent = nullptr);

    AppStore& store() { return *store_; }

public slots:
    // Reads the history again; a failure leaves the rows shown and is logged.
    void reload();

private:
    void remove(qint64 id);
    void clear();

    std::unique_ptr<AppStore> store_;
    ClipboardPanelView& panel_;
};

} // namespace orvane
