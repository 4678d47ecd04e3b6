#pragma once

#include <QString>

namespace orvane {

// Shows a file to the user in the desktop's file manager.
class FileRevealer {
public:
    virtual ~FileRevealer() = default;

    // Opens the file manager on the directory of `path`, with the file selected where the
    // file manager can do that. Returns at once; the file manager opens later.
    virtual void reveal(const QString& path) = 0;
};

} // namespace orvane
