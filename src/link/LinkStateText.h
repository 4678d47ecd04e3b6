#pragma once

#include "link/LinkState.h"

#include <QString>

namespace orvane {

// The words the views use for a link's state; made here only, never read back.
namespace LinkStateText {

// "open" (live), "connecting", "reconnecting" or "closed".
QString word(const LinkState& state);

} // namespace LinkStateText

} // namespace orvane
