// The injection mode: quillmark.exe /v MODULE BLOCKFILE.
//
// The block file is read whole before the module is touched, and the module
// is replaced in one step by the project's own writer, so every failure
// leaves the module exactly as it was. Each failure ends with its own exit
// code and one line on the standard error stream.
#include <new>
#include <string>
#include <vector>

#include "base/shown_text.h"
#include "fileio/file_io.h"
#include "stamp/module_injection.h"
#include "win/app.h"
#include "win/console_error.h"

namespace qm::win {
namespace {

// Far above any message the program makes, with its quoted texts cut short.
constexpr std::size_t kMessageLimit = 2000;

// Every message quotes outside text where it is made; escaping it once more
// changes nothing and keeps whatever slipped through to one bounded line.
int Report(const Error &error) {
  WriteErrorLine("quillmark: " + Shown(error.message, kMessageLimit));
  return stamp::ToInt(stamp::ExitCodeFor(error));
}

std::string ArgumentAt(const std::vector<std::string> &args, std::size_t index) {
  return index < args.size() ? args[index] : std::string();
}

Status Inject(const std::string &module, const std::string &blockFile) {
  QM_UNWRAP_OR_RETURN(block, stamp::ReadBlockFile(fileio::PathFromUtf8(blockFile), blockFile));
  // A notice (a signature removed) is a line on the error stream, not a
  // failure: the exit code stays 0.
  stamp::StampOptions options;
  options.notice = [](const std::string &line) { WriteErrorLine("quillmark: " + line); };
  return stamp::StoreVersionResource(fileio::PathFromUtf8(module), module, block, options);
}

} // namespace

int RunInjectionMode(const std::vector<std::string> &args) {
  // args[0] is "/v"; arguments after the block file are ignored.
  const std::string module = ArgumentAt(args, 1);
  const std::string blockFile = ArgumentAt(args, 2);
  if (module.empty() || blockFile.empty()) {
    return Report(Fail(ErrorKind::Usage, std::string("missing ") +
                                             (module.empty() ? "module path" : "block file path") +
                                             "; usage: quillmark /v MODULE BLOCKFILE"));
  }
  try {
    Status injected = Inject(module, blockFile);
    return injected ? stamp::ToInt(stamp::ExitCode::Success) : Report(injected.failure());
  } catch (const std::bad_alloc &) {
    return Report(Fail(ErrorKind::OutOfMemory, "out of memory; the module was not changed"));
  } catch (const std::exception &error) {
    return Report(Fail(Shown(error.what()) + "; the module was not changed"));
  }
}

} // namespace qm::win
