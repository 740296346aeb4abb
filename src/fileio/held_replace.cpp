// Replacing a held file: the order of the steps, the same on every system.
//
// The new file is in one of four states, and at every moment exactly one
// party is responsible for removing it:
//
//   none      Nothing has been created yet; nothing to remove.
//   unnamed   Created without a name (Linux, O_TMPFILE). The system removes
//             it when its descriptor is closed, whether this run fails, ends
//             or is killed: nobody else ever has to.
//   named     Under a temporary name beside the target (TemporaryName): from
//             the start where unnamed files cannot be made, else once it is
//             complete and flushed. A step of this run that fails removes
//             it before Replace returns. A run killed in this state leaves
//             it behind; the next run that holds the same target removes it
//             (only a regular file of the caller's own: in a shared folder a
//             name of that form may be another user's file).
//   in place  Renamed over the target in one step. It is the file now, and
//             nothing is removed any more.
//
// The target itself is never written: until the rename it is the old file,
// after it the new one, and a failure anywhere before leaves it as it was.
#include <random>

#include "fileio/replace_steps.h"

namespace qm::fileio {

namespace {

std::uint16_t RandomWord() {
  static thread_local std::mt19937 generator{std::random_device{}()};
  return static_cast<std::uint16_t>(generator());
}

// Tries fresh temporary names until `take` takes one or fails for another
// reason than the name being in use.
template <typename Take> Status WithFreeName(const std::string &target, Take take) {
  Status taken = Ok();
  for (int attempt = 0; attempt < 64; ++attempt) {
    bool inUse = false;
    taken = take(TemporaryName(target, RandomWord()), inUse);
    if (taken || !inUse) break;
  }
  return taken;
}

enum class NewFile { None, Unnamed, Named, InPlace };

// Removes a named new file that never reached its place.
struct NamedGuard {
  detail::ReplaceSteps &steps;
  const NewFile &state;
  ~NamedGuard() {
    if (state == NewFile::Named) steps.RemoveNamed();
  }
};

} // namespace

Status HeldFile::Replace(std::span<const std::uint8_t> contents) {
  return Replace([&](ContentSink &sink) { return sink.Write(contents); });
}

Status HeldFile::Replace(const std::function<Status(ContentSink &)> &produce) {
  const std::unique_ptr<detail::ReplaceSteps> steps = detail::StepsFor(*state_);
  QM_RETURN_IF_ERROR(steps->Begin());
  // While the file is held no run of ours is writing it.
  if (steps->HeldAgainstOtherRuns()) steps->RemoveOwnLeftovers();

  const std::string &target = steps->TargetName();
  NewFile state = NewFile::None;
  const NamedGuard guard{*steps, state};
  QM_UNWRAP_OR_RETURN(unnamed, steps->CreateUnnamed());
  if (unnamed) {
    state = NewFile::Unnamed;
  } else {
    QM_RETURN_IF_ERROR(
        WithFreeName(target, [&](const std::string &n, bool &inUse) { return steps->CreateNamed(n, inUse); }));
    state = NewFile::Named;
  }

  QM_RETURN_IF_ERROR(produce(steps->Sink()));
  // On the disk before it takes the file's place: otherwise a crash soon
  // after the rename can leave an empty file under the file's name.
  QM_RETURN_IF_ERROR(steps->Flush());
  if (Exists()) QM_RETURN_IF_ERROR(steps->CarryAttributes());

  if (state == NewFile::Unnamed) {
    QM_RETURN_IF_ERROR(
        WithFreeName(target, [&](const std::string &n, bool &inUse) { return steps->NameUnnamed(n, inUse); }));
    state = NewFile::Named;
  }
  QM_RETURN_IF_ERROR(steps->RenameOver());
  state = NewFile::InPlace;
  steps->FlushFolder();
  steps->LetGo();
  return Ok();
}

} // namespace qm::fileio
