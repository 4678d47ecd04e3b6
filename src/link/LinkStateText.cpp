#include "link/LinkStateText.h"

namespace orvane::LinkStateText {

QString word(const LinkState& state) {
    switch (state.phase) {
    case LinkPhase::live:
        return QStringLiteral("open");
    case LinkPhase::connecting:
        return QStringLiteral("connecting");
    case LinkPhase::reconnecting:
        return QStringLiteral("reconnecting");
    case LinkPhase::closed:
        break;
    }
    return QStringLiteral("closed");
}

} // namespace orvane::LinkStateText
