#include "app/XdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace orvane {

namespace XdgAutostart {

QString startOption() {
    return QStringLiteral("autostart");
}

QString entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/orvane.desktop");
}

Status<QString> setEnabled(bool enabled, const QString& executable) {
    const QString path = entryPath();
    if (!enabled) {
        QFile file(path);
        if (file.exists() && !file.remove()) {
            return fail(file.errorString());
        }
        return Done{};
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return fail(QStringLiteral("无法创建目录 ") + QFileInfo(path).absolutePath());
    }
    QString exec = QFileInfo(executable).absoluteFilePath();
    // The Exec key quotes paths holding spaces; backslashes and quotes are escaped.
    exec.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('"'), QStringLiteral("\\\""));
    const QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=Orvane\n"
                                        "Exec=\"%1\" --%2\nIcon=orvane\nTerminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(exec, startOption());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
        return fail(file.errorString());
    }
    return Done{};
}

} // namespace XdgAutostart

} // namespace orvane
