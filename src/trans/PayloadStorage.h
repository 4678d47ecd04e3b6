#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>
#include <variant>

namespace orvane {

// Where the payload of an incoming transfer is kept.
struct PayloadStorage {
    // Assembled in memory, pre-sized to the announced size.
    struct Memory {
        QByteArray buffer;
    };
    // A memory transfer whose first chunk has not arrived: nothing allocated yet.
    struct MemoryPending {
        qint64 announcedSize = 0;
    };
    // Written straight into the destination file. Copies of the storage share the
    // handle, as copies of a receive session do.
    struct File {
        QString path;
        std::shared_ptr<QFile> handle;
        qint64 expectedSize = 0;
        // While the chunks arrive back to back from offset 0, the checksum of what was
        // written so far, so that the finished file need not be read again.
        qint64 writtenInOrder = 0;
        quint32 inOrderChecksum = 0;
        bool inOrder = true; // false once a chunk went anywhere but right after the last
    };

    std::variant<Memory, MemoryPending, File> value;

    // Buffer length, announced size or expected file size.
    qint64 expectedPayloadSize() const {
        return std::visit(
            [](const auto& s) -> qint64 {
                using S = std::decay_t<decltype(s)>;
                if constexpr (std::is_same_v<S, Memory>) {
                    return s.buffer.size();
                } else if constexpr (std::is_same_v<S, MemoryPending>) {
                    return s.announcedSize;
                } else {
                    return s.expectedSize;
                }
            },
            value);
    }
};

} // namespace orvane
