#include "stamp/exit_codes.h"

#include <array>

namespace qm::stamp {
namespace {

struct Rule {
  FileRole role;
  ErrorKind kind;
  ExitCode code;
};

using enum ErrorKind;

// Only the codes that differ from the role's own (below) are listed.
constexpr std::array kRules{
    Rule{FileRole::Module, NotAModule, ExitCode::NotAModule},
    Rule{FileRole::Module, Damaged, ExitCode::NotAModule},
    Rule{FileRole::Target, Missing, ExitCode::ModuleUnreadable},
    Rule{FileRole::Target, Denied, ExitCode::ModuleUnreadable},
    Rule{FileRole::Target, Unreadable, ExitCode::ModuleUnreadable},
    Rule{FileRole::Target, TooLarge, ExitCode::ModuleUnreadable},
    Rule{FileRole::Target, NotAModule, ExitCode::NotAModule},
    Rule{FileRole::Target, Damaged, ExitCode::NotAModule},
};

// Kinds whose code is the same whatever file the error is about.
ExitCode KindCode(ErrorKind kind, ExitCode otherwise) {
  switch (kind) {
  case OutOfMemory:
    return ExitCode::Internal;
  case Usage:
    return ExitCode::Usage;
  case Empty:
    return ExitCode::InputEmpty;
  case Refused:
    return ExitCode::InputRefused;
  case NoVersion:
    return ExitCode::NoVersionResource;
  case WouldBreak:
    return ExitCode::WouldBreak;
  case Different:
    return ExitCode::Different;
  case Invalid:
    return ExitCode::FieldsInvalid;
  default:
    return otherwise;
  }
}

ExitCode RoleCode(FileRole role) {
  switch (role) {
  case FileRole::None:
    return ExitCode::Internal;
  case FileRole::Input:
    return ExitCode::InputUnreadable;
  case FileRole::Module:
    return ExitCode::ModuleUnreadable;
  case FileRole::Target:
    return ExitCode::ModuleUnwritable; // no room, not a regular file, locked, cannot write
  case FileRole::Output:
    return ExitCode::OutputUnwritable;
  }
  return ExitCode::Internal;
}

} // namespace

ExitCode ExitCodeFor(FileRole role, ErrorKind kind) {
  for (const Rule &rule : kRules) {
    if (rule.role == role && rule.kind == kind) return rule.code;
  }
  // An output keeps its own code whatever went wrong: the build script
  // needs to know which file was not written.
  if (role == FileRole::Output && kind != OutOfMemory) return ExitCode::OutputUnwritable;
  return KindCode(kind, RoleCode(role));
}

} // namespace qm::stamp
