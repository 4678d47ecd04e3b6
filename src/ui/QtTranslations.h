#pragma once

#include <QLocale>

class QCoreApplication;
class QTranslator;

namespace orvane {

// Qt's own texts (a text field's context menu, the standard dialog buttons) in the
// desktop's language, from the translations Qt installs beside itself. Returns the
// installed translator, owned by `app`, or nullptr when Qt has none for `locale`: the texts
// then stay English. Deleting the translator takes the translations away again.
QTranslator* installQtTranslations(QCoreApplication& app,
                                   const QLocale& locale = QLocale::system());

} // namespace orvane
