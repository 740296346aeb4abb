#pragma once
// The steps of replacing a held file that each system takes its own way.
// The order of the steps, and who removes the new file when a step fails,
// is written once, in held_replace.cpp; posix_file.cpp and win32_file.cpp
// hold the steps themselves. Only the file layer includes this.
#include <memory>
#include <string>

#include "fileio/file_io.h"

namespace qm::fileio::detail {

class ReplaceSteps {
public:
  virtual ~ReplaceSteps() = default;

  // Opens what the later steps need (the folder) and refuses, before a
  // byte is written, what the system would refuse only at the end.
  virtual Status Begin() = 0;
  // The target's own name in its folder, as TemporaryName takes it.
  virtual const std::string &TargetName() const = 0;
  // Whether the target is held against every other run of this program,
  // so that a temporary file of its form is one a killed run left.
  virtual bool HeldAgainstOtherRuns() const = 0;
  // Removes those leftovers, only regular files of the caller's own.
  virtual void RemoveOwnLeftovers() = 0;

  // A new file with no name, removed by the system when it is let go.
  // False when the system cannot make one: the named way is taken then.
  virtual Result<bool> CreateUnnamed() = 0;
  // A new file under `name` beside the target. `taken` is set when the
  // failure is only that the name is in use, so another may be tried.
  virtual Status CreateNamed(const std::string &name, bool &taken) = 0;
  // Gives the unnamed file `name`, with `taken` as above.
  virtual Status NameUnnamed(const std::string &name, bool &taken) = 0;

  // Where the producer writes the new file's contents.
  virtual ContentSink &Sink() = 0;
  // The new file's contents on the disk.
  virtual Status Flush() = 0;
  // The old file's owner, group and mode (or attributes, owner and
  // access rules) on the new file; only when there is an old file.
  virtual Status CarryAttributes() = 0;
  // The named new file in the target's place, in one step.
  virtual Status RenameOver() = 0;
  // The rename itself on the disk.
  virtual void FlushFolder() = 0;
  // Removes the named new file after a failure.
  virtual void RemoveNamed() = 0;
  // Lets the old file go once the new one is in its place.
  virtual void LetGo() = 0;
};

// The steps for the file `state` holds, done the system's way.
std::unique_ptr<ReplaceSteps> StepsFor(HeldFile::State &state);

} // namespace qm::fileio::detail
