#include "stamp/image_stamp.h"

#include "base/shown_text.h"
#include "pe/appended_data.h"
#include "pe/file_kind.h"
#include "pe/pe_image.h"
#include "pe/resource_id.h"
#include "pe/self_checking_packer.h"

namespace qm::stamp {
namespace {

bool IsReadFailure(ErrorKind kind) {
  return kind == ErrorKind::Missing || kind == ErrorKind::Denied || kind == ErrorKind::Unreadable ||
         kind == ErrorKind::TooLarge;
}

} // namespace

Error FileError(FileRole role, std::string_view what, std::string_view shown, Error error) {
  // The caller names the file, so it knows the part the file plays.
  error.role = role;
  const std::string named = std::string(what) + " " + Quoted(shown);
  switch (role) {
  case FileRole::Input:
  case FileRole::Module:
    return Context("cannot read the " + named + ": ", std::move(error));
  case FileRole::Target:
    if (IsReadFailure(error.kind)) return Context("cannot read the " + named + ": ", std::move(error));
    if (ExitCodeFor(error) == ExitCode::NotAModule) {
      error = Context("the " + named + " cannot be read: ", std::move(error));
      error.message += "; it was not changed";
      return error;
    }
    error = Context("the " + named + " cannot be stamped: ", std::move(error));
    error.message += "; it was left as it was";
    return error;
  case FileRole::Output:
    return Context("cannot write the " + named + ": ", std::move(error));
  case FileRole::None:
    break;
  }
  return error;
}

Result<StampedImage> StampImage(const std::shared_ptr<const pe::ByteSource> &source, std::string_view shown,
                                const ResourceChange &change, const StampOptions &options) {
  if (pe::SniffFileKind(*source) != pe::FileKind::PeModule) {
    return Error{Quoted(shown) + " is not a PE module; it was not changed", ErrorKind::NotAModule, FileRole::Target};
  }
  // The update says of what kind a refusal is: a damaged module, or a sound
  // one with no place for the new resources.
  auto update = pe::ResourceUpdate::BeginFrom(source);
  if (!update) return FileError(FileRole::Target, "module", shown, update.failure());
  const pe::PeHeaders &headers = update->Headers();
  const bool signedModule = pe::FindSignature(*source, headers).has_value();
  if (signedModule && options.signedModules == SignedPolicy::Refuse) {
    return Error{"the module " + Quoted(shown) +
                     " is signed, and a stamp would remove its signature; it was not "
                     "changed (--signed=remove stamps it and removes the signature)",
                 ErrorKind::WouldBreak, FileRole::Target};
  }
  // No layout keeps such a program running: its stub checks the image the
  // stamp changes, so it is refused before any work.
  const auto packer = pe::FindSelfCheckingPacker(*source, headers);
  if (packer && !options.force) {
    return Error{"the module " + Quoted(shown) + " is packed with " + std::string(*packer) +
                     ", which checks its own image: a stamped program would no longer start; it was not changed "
                     "(--force stamps it all the same)",
                 ErrorKind::WouldBreak, FileRole::Target};
  }
  // An error without a kind is about the module being changed: it cannot be
  // stamped (ModuleUnwritable), whoever found it.
  if (Status changed = change(*update); !changed)
    return FileError(FileRole::Target, "module", shown, changed.failure());
  auto composed = update->Compose();
  if (!composed) return FileError(FileRole::Target, "module", shown, composed.failure());
  const auto risk = pe::PayloadBrokenBy(*source, headers, *composed);
  if (risk && !options.force) {
    return Error{"the module " + Quoted(shown) + " carries an appended " +
                     std::string(pe::AppendedKindName(risk->kind)) + " that checks the file: " + risk->why +
                     "; it was not changed (--force stamps it all the same)",
                 ErrorKind::WouldBreak, FileRole::Target};
  }
  return StampedImage{std::move(*composed), signedModule, risk, packer};
}

void TellStamped(const StampedImage &stamped, std::string_view shown, const StampOptions &options) {
  if (!options.notice) return;
  if (stamped.signatureRemoved)
    options.notice("the module " + Quoted(shown) + " was signed: the signature was removed; sign the module again");
  if (stamped.selfChecking) {
    options.notice("the module " + Quoted(shown) + " was stamped with --force: it is packed with " +
                   std::string(*stamped.selfChecking) +
                   ", which checks its own image; the program may no longer start");
  }
  if (stamped.brokenPayload) {
    const pe::PayloadRisk &risk = *stamped.brokenPayload;
    options.notice("the module " + Quoted(shown) + " was stamped with --force: its appended " +
                   std::string(pe::AppendedKindName(risk.kind)) + " may no longer work (" + risk.why + ")");
  }
}

ResourceChange PutVersionResource(std::span<const std::uint8_t> data) {
  return [data](pe::ResourceUpdate &update) {
    return update.Put(pe::ResourceId(pe::kTypeVersion), pe::ResourceId(1), 0, data);
  };
}

} // namespace qm::stamp
