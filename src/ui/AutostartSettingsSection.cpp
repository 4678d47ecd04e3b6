#include "ui/AutostartSettingsSection.h"

#include "ui/SettingsPanelView.h"

#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>

namespace orvane {

AutostartSettingsSection::AutostartSettingsSection(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("autostartSection"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(SettingsPanelView::makeTitle(QStringLiteral("启动"), this));
    toggle_ = new QCheckBox(QStringLiteral("开机自启动"), this);
    toggle_->setObjectName(QStringLiteral("autostart"));
    layout->addWidget(toggle_);
    layout->addWidget(SettingsPanelView::makeHint(
        QStringLiteral("用户登录时自动启动 Orvane（在桌面的自动启动目录 ~/.config/autostart "
                       "中登记 orvane.desktop，GNOME、KDE 等桌面均支持）。"),
        this));
    layout->addStretch(1);
    // clicked, not toggled: the model's answer (setAutostart) is no new request.
    connect(toggle_, &QCheckBox::clicked, this, &AutostartSettingsSection::autostartToggled);
}

void AutostartSettingsSection::setAutostart(bool enabled) {
    toggle_->setChecked(enabled);
}

bool AutostartSettingsSection::autostart() const {
    return toggle_->isChecked();
}

} // namespace orvane
