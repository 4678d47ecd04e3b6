#pragma once

#include "ui/FileRevealer.h"

#include <QDBusConnection>
#include <QObject>
#include <QUrl>

#include <functional>

namespace orvane {

// Asks the file manager over the session bus (org.freedesktop.FileManager1.ShowItems) to
// select the file. Without such a service, when the call fails or when the file is gone,
// the directory is opened instead, which every desktop can do but selects nothing.
//
// Threads: lives on the thread that owns `connection`'s replies (the main thread).
class FreedesktopFileRevealer : public QObject, public FileRevealer {
    Q_OBJECT
public:
    using OpenUrl = std::function<void(const QUrl&)>;

    // openDirectory defaults to QDesktopServices::openUrl.
    explicit FreedesktopFileRevealer(QDBusConnection connection = QDBusConnection::sessionBus(),
                                     OpenUrl openDirectory = {}, QObject* parent = nullptr);

    void reveal(const QString& path) override;

private:
    void openDirectoryOf(const QString& path);

    QDBusConnection connection_;
    OpenUrl openDirectory_;
};

} // namespace orvane
