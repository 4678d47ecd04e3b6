#include "ui/QtTranslations.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTranslator>

#include <gtest/gtest.h>
#include <memory>

using namespace orvane;

namespace {

QStringList contextMenuTexts() {
    QLineEdit field(QStringLiteral("text"));
    field.selectAll();
    const std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
    QStringList texts;
    for (const QAction* action : menu->actions()) {
        texts.append(action->text());
    }
    return texts;
}

} // namespace

TEST(QtTranslationsTest, AChineseDesktopGetsQtsOwnTextsInChinese) {
    std::unique_ptr<QTranslator> translator(
        installQtTranslations(*qApp, QLocale(QLocale::Chinese, QLocale::China)));
    ASSERT_NE(translator, nullptr) << "scripts/bootstrap installs qt6-translations-l10n";
    const QString texts = contextMenuTexts().join(u'|');
    EXPECT_TRUE(texts.contains(QStringLiteral("复制"))) << texts.toStdString();
    EXPECT_TRUE(texts.contains(QStringLiteral("粘贴"))) << texts.toStdString();

    translator.reset(); // the other tests expect Qt's English
    EXPECT_TRUE(contextMenuTexts().join(u'|').contains(QStringLiteral("Copy")));
}
