#pragma once

#include "clipboard/ClipboardIO.h"

#include <optional>

// A clipboard in memory. copy() stands for another program copying; writes by the code
// under test bump the counter too, as the real clipboard does.
class FakeClipboardIO : public orvane::ClipboardIO {
public:
    quint64 changeCount() const override { return count; }

    orvane::ClipboardReading readContent() override {
        ++reads;
        if (secret) {
            return {{}, true};
        }
        return {content, false};
    }

    orvane::Status<orvane::ClipboardError>
    writeContent(const orvane::ClipboardContent& written) override {
        ++writes;
        ++count;
        content = {};
        if (failWrites) {
            return orvane::fail(*failWrites);
        }
        content = written;
        return orvane::Done{};
    }

    void copy(const orvane::ClipboardContent& copied, bool isSecret = false) {
        content = copied;
        secret = isSecret;
        ++count;
    }
    void copyText(const QString& text) { copy({orvane::ClipboardKind::text, text, {}, {}}); }

    orvane::ClipboardContent content;
    bool secret = false;
    quint64 count = 0;
    int reads = 0;
    int writes = 0;
    std::optional<orvane::ClipboardError> failWrites;
};
