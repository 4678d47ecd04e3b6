#pragma once

#include <QJsonObject>
#include <QString>

#include <cstdio>

namespace orvane::devsim {

// Where everything the simulator does is told: one readable English line per event, or,
// in JSON mode, one JSON object per line, so that scripts and tests can follow along.
class EventPrinter {
public:
    explicit EventPrinter(bool json, std::FILE* out = stdout);

    // `kind` names the event for machines ("probe_matched"), `text` says it for people;
    // `fields` carries the values. In JSON mode the object holds "event", "time", "text"
    // and the fields.
    void report(const QString& kind, const QString& text, const QJsonObject& fields = {});

private:
    bool json_;
    std::FILE* out_;
};

} // namespace orvane::devsim
