#pragma once

#include "common/FileError.h"

#include <QString>

#include <optional>

namespace orvane {

// Why an application file operation failed: an unusable received file name, a file
// that could not be created, or any other file-system failure passed on as it came.
class AppFilesError {
public:
    enum class Code { invalidName, createFailed, fileSystem };

    static AppFilesError invalidName() { return {Code::invalidName, std::nullopt}; }
    static AppFilesError createFailed(const FileError& cause) {
        return {Code::createFailed, cause};
    }
    static AppFilesError fileSystem(const FileError& error) { return {Code::fileSystem, error}; }

    Code code() const { return code_; }
    // The underlying failure; absent only for invalidName.
    const std::optional<FileError>& fileError() const { return fileError_; }
    // Technical text for log lines: the case name, with the file-system failure when
    // there is one.
    QString description() const;

    friend bool operator==(const AppFilesError&, const AppFilesError&) = default;

private:
    AppFilesError(Code code, std::optional<FileError> fileError)
        : code_(code)
        , fileError_(std::move(fileError)) {}

    Code code_;
    std::optional<FileError> fileError_;
};

} // namespace orvane
