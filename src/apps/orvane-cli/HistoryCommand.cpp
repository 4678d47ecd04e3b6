#include "apps/orvane-cli/HistoryCommand.h"

#include "apps/orvane-cli/CliExitCode.h"
#include "apps/orvane-cli/Console.h"
#include "apps/orvane-cli/DeliveryReport.h"
#include "apps/orvane-cli/RunningProgram.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

namespace orvane {

namespace {

constexpr int previewLength = 60;

// One line, however long and many-lined the text or the list of files.
QString preview(const ClipboardEntry& entry) {
    QString line;
    switch (entry.kind) {
    case ClipboardKind::text:
        line = entry.text.simplified();
        break;
    case ClipboardKind::image:
        line = entry.imagePath.value_or(QString());
        break;
    case ClipboardKind::files:
        line = entry.files.join(QStringLiteral(", "));
        break;
    }
    return line.size() > previewLength ? line.left(previewLength - 1) + u'…' : line;
}

int runHistory(const CliInvocation& invocation) {
    const auto program = RunningProgram::find();
    if (!program) {
        Console::error(QStringLiteral("orvane 没有运行"));
        return CliExitCode::failure;
    }
    RunningProgram::CallError error;
    const auto entries = program->history(&error);
    if (!entries) {
        Console::error(error.text());
        return CliExitCode::failure;
    }
    if (invocation.isSet(QStringLiteral("json"))) {
        QJsonArray array;
        for (const ClipboardEntry& entry : *entries) {
            QJsonObject object = DeliveryReport::jsonObject(entry);
            object.insert(QStringLiteral("id"), entry.id);
            array.append(object);
        }
        Console::out(QJsonDocument(array).toJson(QJsonDocument::Compact) + '\n');
        return CliExitCode::success;
    }
    QByteArray lines;
    for (const ClipboardEntry& entry : *entries) {
        lines += QStringLiteral("%1 %2 %3 B %4 %5\n")
                     .arg(entry.id)
                     .arg(clipboardKindRawValue(entry.kind))
                     .arg(entry.dataSize)
                     .arg(QDateTime::fromMSecsSinceEpoch(entry.timestamp)
                              .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                          preview(entry))
                     .toUtf8();
    }
    if (lines.isEmpty()) {
        Console::info(QStringLiteral("历史为空"));
    }
    Console::out(lines);
    return CliExitCode::success;
}

} // namespace

CliCommand historyCommand() {
    return CliCommand{
        QStringLiteral("history"),
        QStringLiteral("[--json]"),
        QStringLiteral("the running orvane's clipboard history, newest first: id, kind, size, "
                       "time and a preview"),
        {},
        {jsonOption()},
        runHistory,
    };
}

} // namespace orvane
