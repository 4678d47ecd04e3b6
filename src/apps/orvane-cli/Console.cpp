#include "apps/orvane-cli/Console.h"

#include "serial/SerialDiagnostics.h"

#include <cstdio>

namespace orvane::Console {

namespace {

void printErr(const char* priority, const QString& line) {
    const QByteArray text = line.toUtf8();
    if (SerialDiagnostics::standardErrorIsJournal()) {
        std::fprintf(stderr, "%s%s\n", priority, text.constData());
    } else {
        std::fprintf(stderr, "%s\n", text.constData());
    }
    std::fflush(stderr);
}

} // namespace

void info(const QString& line) {
    printErr("<6>", line);
}

void warning(const QString& line) {
    printErr("<4>", line);
}

void error(const QString& line) {
    printErr("<3>", line);
}

void out(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace orvane::Console
