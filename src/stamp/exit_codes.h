#pragma once
// The exit codes of quillmark.exe /v and of quillmark-cli, and the one table
// that turns an error's kind into a code. A build script tells the failures
// apart by these numbers alone, so they never change meaning; the README
// lists them.
#include "base/result.h"

namespace qm::stamp {

enum class ExitCode : int {
  Success = 0,
  Internal = 1,          // an unexpected failure, out of memory included
  Usage = 2,             // missing or unknown arguments
  InputUnreadable = 3,   // block file (or fields file, or file to show) missing, unreadable or read short
  InputEmpty = 4,        // block file empty
  ModuleUnreadable = 5,  // module missing or cannot be opened
  NotAModule = 6,        // not a PE module, or its headers or resources are damaged
  ModuleUnwritable = 7,  // the module cannot be stamped: no room, not a regular file, locked, write failed
  InputRefused = 8,      // not a version block or compiled resource file (no --raw), or no version resource in it
  NoVersionResource = 9, // the module holds no version resource
  FieldsInvalid = 10,    // the fields file is not valid JSON or holds a value that does not convert
  OutputUnwritable = 11, // the output file could not be written; an earlier file of that name is left as it was
  WouldBreak = 12,       // the stamp would break what the module carries: appended data that checks the file
                         // (without --force), or a signature (with --signed=refuse); nothing was written
  Different = 13,        // a check (check, diff, lint, get of an absent key) found a difference
};

inline int ToInt(ExitCode code) { return static_cast<int>(code); }

using qm::FileRole;

// The exit code of an error of `kind` about a file in `role`.
ExitCode ExitCodeFor(FileRole role, ErrorKind kind);
// The same for an error that carries its role.
inline ExitCode ExitCodeFor(const Error &error) { return ExitCodeFor(error.role, error.kind); }

} // namespace qm::stamp
