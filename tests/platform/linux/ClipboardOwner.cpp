// Takes the clipboard with the formats given as arguments, each "<mime type>=<value>",
// prints "ready" once it owns it and exits when another client takes it over.

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    auto* mime = new QMimeData;
    const QStringList args = QGuiApplication::arguments().mid(1);
    for (const QString& arg : args) {
        const qsizetype split = arg.indexOf(u'=');
        if (split <= 0) {
            std::fprintf(stderr, "usage: %s <type>=<value>...\n", argv[0]);
            return 2;
        }
        mime->setData(arg.left(split), arg.mid(split + 1).toUtf8());
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(mime, QClipboard::Clipboard);
    if (!clipboard->ownsClipboard()) {
        std::fprintf(stderr, "could not take the clipboard\n");
        return 1;
    }
    QObject::connect(clipboard, &QClipboard::changed, &app, [&](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard && !clipboard->ownsClipboard()) {
            app.quit();
        }
    });
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}
