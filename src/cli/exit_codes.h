#pragma once
// The exit codes of quillmark.exe /v and of quillmark-cli. A build script
// tells the failures apart by these numbers alone, so they never change
// meaning; the README lists them.
namespace qm::cli {

enum class ExitCode : int {
  Success = 0,
  Internal = 1,          // an unexpected failure, out of memory included
  Usage = 2,             // missing or unknown arguments
  InputUnreadable = 3,   // block file (or fields file, or file to show) missing, unreadable or read short
  InputEmpty = 4,        // block file empty
  ModuleUnreadable = 5,  // module missing or cannot be opened
  NotAModule = 6,        // not a PE module, or its headers or resources are damaged
  ModuleUnwritable = 7,  // the new module could not be written; the original is left as it was
  InputRefused = 8,      // not a version block or compiled resource file (no --raw), or no version resource in it
  NoVersionResource = 9, // the module holds no version resource
  FieldsInvalid = 10,    // the fields file is not valid JSON or holds a value that does not convert
  OutputUnwritable = 11, // the output file could not be written; an earlier file of that name is left as it was
};

inline int ToInt(ExitCode code) { return static_cast<int>(code); }

} // namespace qm::cli
