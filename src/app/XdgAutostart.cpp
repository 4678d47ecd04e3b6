#include "app/XdgAutostart.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>

namespace orvane {

namespace XdgAutostart {

QString startOption() {
    return QStringLiteral("autostart");
}

QString failureText(int errorCode, const QString& directory) {
    switch (errorCode) {
    case EACCES:
    case EPERM:
    case EROFS: {
        QString shown = QDir::cleanPath(directory);
        const QString home = QDir::homePath();
        if (shown.startsWith(home + u'/')) {
            shown.replace(0, home.size(), QStringLiteral("~"));
        }
        return QStringLiteral("没有权限写入 ") + shown;
    }
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘已满");
    default:
        return QStringLiteral("无法写入自启动项");
    }
}

namespace {

// Qt's text for the failure follows the C library's language only now and then; the user
// gets ours, the log keeps the system's.
Status<QString> failWith(int errorCode, const QString& path, const QString& systemText) {
    qWarning().noquote() << "autostart entry" << path << "not changed:" << systemText << "(errno"
                         << errorCode << ")";
    return fail(failureText(errorCode, QFileInfo(path).absolutePath()));
}

} // namespace

QString entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/orvane.desktop");
}

Status<QString> setEnabled(bool enabled, const QString& executable) {
    const QString path = entryPath();
    if (!enabled) {
        QFile file(path);
        errno = 0; // Qt refuses some cases itself, without a system call
        if (file.exists() && !file.remove()) {
            const int errorCode = errno; // read before anything else can overwrite it
            return failWith(errorCode, path, file.errorString());
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
    errno = 0; // Qt refuses some cases itself, without a system call
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
        const int errorCode = errno; // read before anything else can overwrite it
        return failWith(errorCode, path, file.errorString());
    }
    return Done{};
}

} // namespace XdgAutostart

} // namespace orvane
