#include "win/app.h"

namespace qm::win {

int RunInjectionMode(const std::vector<std::string> &) { return 0; }

} // namespace qm::win
