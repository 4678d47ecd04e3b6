#include "serial/DiagnosticsMessageHandler.h"

#include "common/LogCategories.h"
#include "serial/SerialDiagnostics.h"

#include <QtGlobal>

#include <atomic>
#include <cstring>
#include <mutex>

namespace orvane {

namespace {

// Atomic: another thread may log while the handler is being installed.
std::atomic<QtMessageHandler> previousHandler{nullptr};

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const char* name = context.category;
    constexpr std::size_t prefixLength = sizeof(logCategoryPrefix) - 1;
    if (name && std::strncmp(name, logCategoryPrefix, prefixLength) == 0) {
        const bool isError = type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg;
        SerialDiagnostics::write(isError, QString::fromLatin1(name + prefixLength), message);
        return;
    }
    if (const QtMessageHandler previous = previousHandler.load()) {
        previous(type, context, message);
    }
}

} // namespace

void DiagnosticsMessageHandler::install() {
    static std::once_flag once;
    std::call_once(once, [] { previousHandler.store(qInstallMessageHandler(handleMessage)); });
}

} // namespace orvane
