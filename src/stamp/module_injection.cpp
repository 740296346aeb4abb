#include "stamp/module_injection.h"

#include "fileio/file_io.h"
#include "pe/appended_data.h"
#include "pe/byte_source.h"
#include "pe/file_kind.h"
#include "pe/pe_image.h"
#include "pe/resource_id.h"
#include "stamp/text_escape.h"

namespace qm::stamp {
namespace {

// The held module read in place: only the headers, the resource tree and
// the resources are ever read; the rest goes from file to file.
class HeldSource final : public pe::PagedSource {
public:
  explicit HeldSource(const fileio::HeldFile &file) : file_(file) {}
  std::uint64_t Size() const override { return file_.Size(); }

private:
  bool ReadDirect(std::uint64_t offset, std::span<std::uint8_t> out) const override { return file_.ReadAt(offset, out); }
  const fileio::HeldFile &file_;
};

bool IsReadFailure(ErrorKind kind) {
  return kind == ErrorKind::Missing || kind == ErrorKind::Denied || kind == ErrorKind::Unreadable ||
         kind == ErrorKind::TooLarge;
}

} // namespace

Failure FailureFor(FileRole role, std::string_view what, std::string_view shown, const Error &error) {
  const ExitCode code = ExitCodeFor(role, error.kind);
  const std::string named = std::string(what) + " " + Quoted(shown);
  switch (role) {
  case FileRole::Input:
  case FileRole::Module:
    return {code, "cannot read the " + named + ": " + error.message};
  case FileRole::Target:
    if (IsReadFailure(error.kind)) return {code, "cannot read the " + named + ": " + error.message};
    if (code == ExitCode::NotAModule) {
      return {code, "the " + named + " cannot be read: " + error.message + "; it was not changed"};
    }
    return {code, "the " + named + " cannot be stamped: " + error.message + "; it was left as it was"};
  case FileRole::Output:
    return {code, "cannot write the " + named + ": " + error.message};
  }
  return {code, error.message};
}

std::optional<Failure> ReadWholeInput(const std::filesystem::path &path, std::string_view shown, std::string_view what,
                                      FileRole role, std::vector<std::uint8_t> &out) {
  auto bytes = shown == "-" ? fileio::ReadStandardInput() : fileio::ReadInput(path);
  if (!bytes) return FailureFor(role, what, shown == "-" ? "standard input" : shown, bytes.failure());
  out = std::move(*bytes);
  return std::nullopt;
}

std::optional<Failure> ReadBlockFile(const std::filesystem::path &path, std::string_view shown,
                                     std::vector<std::uint8_t> &out) {
  if (auto failure = ReadWholeInput(path, shown, "block file", FileRole::Input, out)) return failure;
  if (out.empty()) {
    return Failure{ExitCode::InputEmpty, "the block file " + Quoted(shown) + " is empty; the module was not changed"};
  }
  return std::nullopt;
}

std::optional<Failure> UpdateModule(const std::filesystem::path &path, std::string_view shown,
                                    const std::function<Status(pe::ResourceUpdate &)> &change,
                                    const StampOptions &options) {
  auto held = fileio::HeldFile::Open(path, true);
  if (!held) return FailureFor(FileRole::Target, "module", shown, held.failure());
  if (held->Size() > fileio::kMaxInputBytes) {
    return FailureFor(FileRole::Target, "module", shown,
                      Fail(ErrorKind::TooLarge, "it is larger than " + std::to_string(fileio::kMaxInputBytes) + " bytes"));
  }
  const auto source = std::make_shared<const HeldSource>(*held);
  if (pe::SniffFileKind(*source) != pe::FileKind::PeModule) {
    return Failure{ExitCode::NotAModule, Quoted(shown) + " is not a PE module; it was not changed"};
  }
  // The update says of what kind a refusal is: a damaged module, or a sound
  // one with no place for the new resources.
  auto update = pe::ResourceUpdate::BeginFrom(source);
  if (!update) return FailureFor(FileRole::Target, "module", shown, update.failure());
  const pe::PeHeaders &headers = update->Headers();
  const bool signedModule = pe::FindSignature(*source, headers).has_value();
  if (signedModule && options.signedModules == SignedPolicy::Refuse) {
    return Failure{ExitCode::WouldBreak, "the module " + Quoted(shown) +
                                             " is signed, and a stamp would remove its signature; it was not "
                                             "changed (--signed=remove stamps it and removes the signature)"};
  }
  // An error without a kind is about the module being changed: it cannot be
  // stamped (ModuleUnwritable), whoever found it.
  if (Status changed = change(*update); !changed)
    return FailureFor(FileRole::Target, "module", shown, changed.failure());
  auto composed = update->Compose();
  if (!composed) return FailureFor(FileRole::Target, "module", shown, composed.failure());
  const auto risk = pe::PayloadBrokenBy(*source, headers, *composed);
  if (risk && !options.force) {
    return Failure{ExitCode::WouldBreak, "the module " + Quoted(shown) + " carries an appended " +
                                             std::string(pe::AppendedKindName(risk->kind)) +
                                             " that checks the file: " + risk->why +
                                             "; it was not changed (--force stamps it all the same)"};
  }
  Status written = held->Replace([&](fileio::ContentSink &out) { return composed->WriteTo(out); });
  if (!written) return FailureFor(FileRole::Target, "module", shown, written.failure());
  if (options.notice) {
    if (signedModule)
      options.notice("the module " + Quoted(shown) + " was signed: the signature was removed; sign the module again");
    if (risk) {
      options.notice("the module " + Quoted(shown) + " was stamped with --force: its appended " +
                     std::string(pe::AppendedKindName(risk->kind)) + " may no longer work (" + risk->why + ")");
    }
  }
  return std::nullopt;
}

std::optional<Failure> StoreVersionResource(const std::filesystem::path &path, std::string_view shown,
                                            std::span<const std::uint8_t> data, const StampOptions &options) {
  return UpdateModule(
      path, shown,
      [&](pe::ResourceUpdate &update) {
        return update.Put(pe::ResourceId(pe::kTypeVersion), pe::ResourceId(1), 0, data);
      },
      options);
}

} // namespace qm::stamp
