#include "serial/SerialStatusText.h"

#include "support/TranslatedLocale.h"

#include <QLocale>

#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace orvane {
namespace {

using Reason = SerialClosedReason;

const QString acm0 = QStringLiteral("/dev/ttyACM0");

std::vector<std::pair<SerialStatus, QString>> statusTable() {
    return {
        {SerialStatus::live("KVM Link", 2000000), "KVM Link · 2000000 bps · open"},
        {SerialStatus::connecting(acm0), "connecting · /dev/ttyACM0"},
        {SerialStatus::reconnecting(3, acm0), "reconnecting · 3s · /dev/ttyACM0"},
        {SerialStatus::closed(Reason::noPortSelected), "closed"},
        {SerialStatus::closed(Reason::portClosed, acm0), "closed · /dev/ttyACM0"},
        {SerialStatus::closed(Reason::deviceNotFound), "closed · 设备未找到"},
        {SerialStatus::closed(Reason::deviceMissing, acm0), "closed · 设备未找到 · /dev/ttyACM0"},
        {SerialStatus::closed(Reason::otherLinkChosen), "closed · 使用蓝牙"},
        {SerialStatus::closed(Reason::recovering, acm0), "/dev/ttyACM0 · 恢复连接…"},
        {SerialStatus::showingHint(SerialHint::cannotOpen(acm0)), "无法打开 /dev/ttyACM0"},
    };
}

std::vector<std::pair<SerialHint, QString>> hintTable() {
    return {
        {SerialHint{}, ""},
        {SerialHint::choosePort(), "请在设置中选择串口"},
        {SerialHint::waitingForReenumeration(acm0), "等待 /dev/ttyACM0 重新枚举…"},
        {SerialHint::waitingForReady(acm0), "等待 /dev/ttyACM0 就绪…"},
        {SerialHint::noPermission(acm0),
         "无权限打开 /dev/ttyACM0（请将当前用户加入 dialout 组后重新登录）"},
        {SerialHint::busy("minicom (pid 42)", acm0), "minicom (pid 42) 占用 /dev/ttyACM0"},
        {SerialHint::busy({}, acm0), "其他程序 占用 /dev/ttyACM0"},
        {SerialHint::cannotOpen(acm0), "无法打开 /dev/ttyACM0"},
        {SerialHint::sharedPort("cat", acm0), "cat 也打开了 /dev/ttyACM0，可能会丢失数据"},
    };
}

void expectTables() {
    for (const auto& [status, text] : statusTable()) {
        EXPECT_EQ(SerialStatusText::status(status), text);
    }
    for (const auto& [hint, text] : hintTable()) {
        EXPECT_EQ(SerialStatusText::hint(hint), text);
    }
}

TEST(SerialStatusTextTest, EachValueHasItsWords) {
    expectTables();
}

// The words are ours, not the system's: a Chinese desktop (where numbers might be grouped)
// reads exactly the same.
TEST(SerialStatusTextTest, TheWordsDoNotFollowTheLocale) {
    testing::TranslatedLocale locale;
    if (!locale.available()) {
        GTEST_SKIP() << locale.skipReason();
    }
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    expectTables();
    QLocale::setDefault(previous);
}

} // namespace
} // namespace orvane
