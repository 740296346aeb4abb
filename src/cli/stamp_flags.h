#pragma once
// The options every command that stamps a module takes (inject, stamp, set,
// apply): what to do with appended data that checks the file, and with a
// signature the stamp invalidates.
#include <ostream>
#include <string>

#include "stamp/module_injection.h"

namespace CLI {
class App;
}

namespace qm::cli {

struct StampFlags {
  bool force = false;
  std::string signedModules = "remove";
};

void AddStampFlags(CLI::App &command, StampFlags &flags);

// The stamping layer's options; its notices go to `err` as the program's
// own lines.
stamp::StampOptions ToStampOptions(const StampFlags &flags, std::ostream &err);

} // namespace qm::cli
