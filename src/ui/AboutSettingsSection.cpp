#include "ui/AboutSettingsSection.h"

#include "ui/SettingsPanelView.h"
#include "ui/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace orvane {

AboutSettingsSection::AboutSettingsSection(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("aboutSection"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(SettingsPanelView::makeTitle(QStringLiteral("关于"), this));

    auto* block = new QHBoxLayout;
    block->setSpacing(14);
    auto* icon = new QLabel(this);
    icon->setPixmap(Symbols::icon(QStringLiteral("orvane")).pixmap(56, 56));
    block->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto* name = new QLabel(QString::fromUtf8(productName), this);
    name->setObjectName(QStringLiteral("productName"));
    QFont nameFont = name->font();
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.4);
    nameFont.setBold(true);
    name->setFont(nameFont);
    texts->addWidget(name);
    auto* what = new QLabel(QString::fromUtf8(description), this);
    what->setObjectName(QStringLiteral("description"));
    texts->addWidget(what);
    version_ = new QLabel(this);
    version_->setObjectName(QStringLiteral("version"));
    version_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    texts->addWidget(version_);
    block->addLayout(texts, 1);
    layout->addLayout(block);
    layout->addStretch(1);
    setVersion({});
}

void AboutSettingsSection::setVersion(const QString& version) {
    version_->setText(QStringLiteral("版本 ") +
                      (version.isEmpty() ? QStringLiteral("未知") : version));
    version_->setVisible(true);
}

} // namespace orvane
