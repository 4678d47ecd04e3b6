#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

#include <clocale>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace orvane::testing {

// Switches the process to a locale whose system messages are translated (zh_CN.UTF-8, the
// language of our users' desktops) for the lifetime of the object, and back afterwards.
// The locale is compiled once per test program into a temporary directory with localedef
// and found through LOCPATH, so the machine needs no generated locales. Check available()
// and skip with skipReason() when it could not be set up.
class TranslatedLocale {
public:
    static constexpr char name[] = "zh_CN.UTF-8";

    TranslatedLocale() {
        const Compiled& compiled = compiledLocale();
        if (!compiled.error.isEmpty()) {
            error_ = compiled.error;
            return;
        }
        previousLocpath_ = readEnv("LOCPATH");
        previousLanguage_ = readEnv("LANGUAGE");
        previousLocale_ = std::setlocale(LC_ALL, nullptr);
        ::setenv("LOCPATH", QFile::encodeName(compiled.dir->path()).constData(), 1);
        ::unsetenv("LANGUAGE"); // it would override the messages' language
        if (!std::setlocale(LC_ALL, name)) {
            error_ = QStringLiteral("setlocale(%1) failed").arg(QLatin1String(name));
            restore();
        }
    }
    ~TranslatedLocale() {
        if (error_.isEmpty()) {
            restore();
        }
    }
    TranslatedLocale(const TranslatedLocale&) = delete;
    TranslatedLocale& operator=(const TranslatedLocale&) = delete;

    bool available() const { return error_.isEmpty(); }
    std::string skipReason() const { return error_.toStdString(); }

private:
    struct Compiled {
        std::unique_ptr<QTemporaryDir> dir;
        QString error;
    };

    static const Compiled& compiledLocale() {
        static const Compiled compiled = [] {
            Compiled result;
            const QString localedef = QStandardPaths::findExecutable(QStringLiteral("localedef"));
            if (localedef.isEmpty()) {
                result.error = QStringLiteral("localedef is not installed (package locales)");
                return result;
            }
            result.dir = std::make_unique<QTemporaryDir>();
            QProcess compile;
            compile.start(localedef,
                          {QStringLiteral("-i"), QStringLiteral("zh_CN"), QStringLiteral("-f"),
                           QStringLiteral("UTF-8"), result.dir->filePath(QLatin1String(name))});
            // localedef exits 1 for mere warnings; the directory is what counts.
            if (!compile.waitForFinished(60000) ||
                !QDir(result.dir->filePath(QLatin1String(name))).exists()) {
                result.error = QStringLiteral("localedef could not build %1: %2")
                                   .arg(QLatin1String(name),
                                        QString::fromLocal8Bit(compile.readAllStandardError()));
            }
            return result;
        }();
        return compiled;
    }

    static std::optional<QByteArray> readEnv(const char* variable) {
        if (const char* value = std::getenv(variable)) {
            return QByteArray(value);
        }
        return std::nullopt;
    }
    static void restoreEnv(const char* variable, const std::optional<QByteArray>& value) {
        if (value) {
            ::setenv(variable, value->constData(), 1);
        } else {
            ::unsetenv(variable);
        }
    }
    void restore() {
        std::setlocale(LC_ALL, previousLocale_.c_str());
        restoreEnv("LOCPATH", previousLocpath_);
        restoreEnv("LANGUAGE", previousLanguage_);
    }

    QString error_;
    std::string previousLocale_;
    std::optional<QByteArray> previousLocpath_;
    std::optional<QByteArray> previousLanguage_;
};

} // namespace orvane::testing
