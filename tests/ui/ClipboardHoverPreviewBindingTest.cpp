// The preview as the desktop program wires it: the real model over a scratch store, the
// shell's window and the binding both build.
#include "app/AppModel.h"
#include "storage/AppStore.h"
#include "storage/ClipboardRecordMapping.h"
#include "support/DesktopScene.h"
#include "support/EventLoopWait.h"
#include "ui/AppShell.h"
#include "ui/ClipboardHistoryRow.h"
#include "ui/ClipboardHoverPreview.h"
#include "ui/ClipboardPanelView.h"
#include "ui/MainView.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

using namespace orvane;

namespace {

class ClipboardHoverPreviewBindingTest : public ::testing::Test, protected test::DesktopScene {
protected:
    void SetUp() override {
        ASSERT_TRUE(data.isValid());
        const QString database = data.filePath(QStringLiteral("test.db"));
        {
            auto store = AppStore::open(database);
            ASSERT_TRUE(bool(store));
            for (const QString& text : {QStringLiteral("第一条"), QStringLiteral("第二条")}) {
                ClipboardEntry entry;
                entry.text = text;
                entry.timestamp = 1;
                entry.dataSize = ClipboardEntry::computeDataSize(entry);
                ClipboardRecord record =
                    ClipboardRecordMapping::recordFromEntry(entry, DataDirectory::standard())
                        .value();
                ASSERT_TRUE(bool(store.value()->addClipboardRecord(record)));
            }
        }
        AppModel::Parts parts = sceneParts(data.filePath(QStringLiteral("no-port")));
        parts.openStore = [database] {
            return AppStore::open(database);
        };
        buildScene(std::move(parts));
        shell->start();
        panel = shell->mainView()->clipboardPanel();
        ASSERT_TRUE(orvane::test::waitUntil([&] { return panel->rows().size() == 2; }, 5000));
    }

    ClipboardHoverPreview* preview() const {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<ClipboardHoverPreview*>(widget)) {
                return found;
            }
        }
        return nullptr;
    }

    bool previewShows() const { return preview() && preview()->isVisible(); }

    void clickRow(int index) {
        QTest::mouseClick(panel->rows()[index], Qt::LeftButton, {}, QPoint(5, 5));
        QTest::qWait(int(ClipboardPanelView::singleClickDelay.count()) + 80);
    }

    ClipboardPanelView* panel = nullptr;
};

} // namespace

TEST_F(ClipboardHoverPreviewBindingTest, ClickOpensAndHighlightsHidingAndDeletingClose) {
    clickRow(1);
    ASSERT_TRUE(previewShows());
    EXPECT_EQ(panel->rows()[1]->highlight(), ClipboardHistoryRow::Highlight::previewed);

    emit shell->orvaneHideTransientUI();
    EXPECT_FALSE(previewShows());
    EXPECT_NE(panel->rows()[1]->highlight(), ClipboardHistoryRow::Highlight::previewed);

    clickRow(0);
    ASSERT_TRUE(previewShows());
    QTest::mouseDClick(panel->rows()[1], Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(previewShows());

    clickRow(0);
    ASSERT_TRUE(previewShows());
    model->deleteClipboardItem(panel->rows()[0]->entry().id);
    ASSERT_TRUE(orvane::test::waitUntil([&] { return panel->rows().size() == 1; }, 5000));
    EXPECT_FALSE(previewShows());
}
