#include "ui/QtTranslations.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLibraryInfo>
#include <QTranslator>

namespace orvane {

QTranslator* installQtTranslations(QCoreApplication& app, const QLocale& locale) {
    const QString directory = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(&app);
    // "qt" gathers every module's catalog where the distribution ships it; "qtbase" alone
    // still covers the widgets' texts.
    for (const QString& catalog : {QStringLiteral("qt"), QStringLiteral("qtbase")}) {
        if (translator->load(locale, catalog, QStringLiteral("_"), directory) &&
            QCoreApplication::installTranslator(translator)) {
            return translator;
        }
    }
    delete translator;
    if (locale.language() != QLocale::C && locale.language() != QLocale::English) {
        qInfo().noquote() << "no Qt translations for" << locale.name() << "in" << directory;
    }
    return nullptr;
}

} // namespace orvane
