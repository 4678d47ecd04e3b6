#include "apps/orvane-cli/SendReport.h"

#include "apps/orvane-cli/Console.h"
#include "apps/orvane-cli/DesktopNotification.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace orvane {

namespace {

void printJson(const QJsonObject& object) {
    Console::out(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

} // namespace

SendReport::SendReport(bool json)
    : json_(json)
    , notify_(DesktopNotification::wanted())
    , bar_(QStringLiteral("发送"), stderr) {}

void SendReport::progress(int percent) {
    if (json_) {
        printJson({{QStringLiteral("progress"), percent}});
    } else {
        bar_.update(percent);
    }
}

void SendReport::sent(qint64 bytes) {
    if (json_) {
        printJson(
            {{QStringLiteral("result"), QStringLiteral("sent")}, {QStringLiteral("bytes"), bytes}});
        return;
    }
    bar_.finish();
    const QString line = QStringLiteral("已发送 %1 B").arg(bytes);
    Console::info(line);
    // Run from a file manager or a shortcut, nothing else would tell that it went out.
    if (notify_) {
        DesktopNotification::show(QStringLiteral("已发送到 KVM"), line, true);
    }
}

void SendReport::failed(const QString& error) {
    if (json_) {
        printJson({{QStringLiteral("result"), QStringLiteral("failed")},
                   {QStringLiteral("error"), error}});
    } else {
        bar_.finish();
    }
    Console::error(error);
    if (notify_) {
        DesktopNotification::show(QStringLiteral("发送到 KVM 失败"), error);
    }
}

} // namespace orvane
