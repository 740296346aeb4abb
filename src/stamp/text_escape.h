#pragma once
// Text from files on its way to a terminal or a message line: the core's
// one way of showing outside text, for the stamping layer and the programs.
#include "base/shown_text.h"

namespace qm::stamp {

using qm::EscapeControls;
using qm::Excerpt;
using qm::Quoted;
using qm::Shown;

} // namespace qm::stamp
