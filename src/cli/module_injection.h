#pragma once
// The steps that quillmark.exe /v and quillmark-cli share: read an input
// file whole, then replace the module's version resource through the
// project's own writer. Both programs go through these functions, so they
// store the same bytes and fail with the same exit codes.
//
// Header-only on purpose: the Windows program compiles it into itself
// without linking the companion's library.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/exit_codes.h"
#include "pe/byte_source.h"
#include "pe/file_kind.h"
#include "pe/resource_id.h"
#include "pe/resource_update.h"
#include "pe/safe_write.h"

namespace qm::cli {

struct Failure {
  ExitCode code = ExitCode::Internal;
  std::string message;
};

inline std::string Quoted(std::string_view text) {
  std::string quoted(1, '\'');
  quoted.append(text);
  quoted += '\'';
  return quoted;
}

// Reads the whole file at `path` into `out`. `what` names the file in
// messages ("block file"); `shown` is the path as the user gave it.
inline std::optional<Failure> ReadWholeInput(const std::filesystem::path &path, std::string_view shown,
                                             std::string_view what, ExitCode code, std::vector<std::uint8_t> &out) {
  namespace fs = std::filesystem;
  const std::string prefix =
      std::string("cannot read the ").append(what).append(" ").append(Quoted(shown)).append(": ");
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (!fs::exists(status)) return Failure{code, prefix + "it does not exist"};
  if (fs::is_directory(status)) return Failure{code, prefix + "it is a folder"};
  auto bytes = pe::ReadWholeFile(path);
  if (!bytes) return Failure{code, prefix + bytes.error()};
  out = std::move(*bytes);
  return std::nullopt;
}

// A block file as the injection takes it: whole and not empty. An empty file
// is refused rather than stored, since an empty resource is of no use and
// the platform's own service would have deleted the entry instead.
inline std::optional<Failure> ReadBlockFile(const std::filesystem::path &path, std::string_view shown,
                                            std::vector<std::uint8_t> &out) {
  if (auto failure = ReadWholeInput(path, shown, "block file", ExitCode::InputUnreadable, out)) return failure;
  if (out.empty()) {
    return Failure{ExitCode::InputEmpty, "the block file " + Quoted(shown) + " is empty; the module was not changed"};
  }
  return std::nullopt;
}

// Reads and checks a module for an update, without writing anything.
inline std::optional<Failure> BeginModuleUpdate(const std::filesystem::path &path, std::string_view shown,
                                                std::optional<pe::ResourceUpdate> &update) {
  std::vector<std::uint8_t> image;
  if (auto failure = ReadWholeInput(path, shown, "module", ExitCode::ModuleUnreadable, image)) return failure;
  if (pe::SniffFileKind(image) != pe::FileKind::PeModule) {
    return Failure{ExitCode::NotAModule, Quoted(shown) + " is not a PE module; it was not changed"};
  }
  auto begun = pe::ResourceUpdate::BeginInMemory(std::move(image));
  if (!begun) {
    return Failure{ExitCode::NotAModule,
                   "the module " + Quoted(shown) + " cannot be read: " + begun.error() + "; it was not changed"};
  }
  update.emplace(std::move(*begun));
  return std::nullopt;
}

// Stores `data` as resource type 16, integer name 1, language 0 of the
// module, every other resource kept, and replaces the file in one step:
// on any failure the module is left exactly as it was.
inline std::optional<Failure> StoreVersionResource(const std::filesystem::path &path, std::string_view shown,
                                                   std::span<const std::uint8_t> data) {
  std::optional<pe::ResourceUpdate> update;
  if (auto failure = BeginModuleUpdate(path, shown, update)) return failure;
  const std::string prefix = "cannot write the module " + Quoted(shown) + ": ";
  const std::string suffix = "; it was left as it was";
  Status put = update->Put(pe::ResourceId(pe::kTypeVersion), pe::ResourceId(1), 0, data);
  if (!put) return Failure{ExitCode::ModuleUnwritable, prefix + put.error() + suffix};
  Status built = update->End(false);
  if (!built) return Failure{ExitCode::ModuleUnwritable, prefix + built.error() + suffix};
  Status written = pe::ReplaceFileContents(path, update->Image());
  if (!written) return Failure{ExitCode::ModuleUnwritable, prefix + written.error() + suffix};
  return std::nullopt;
}

} // namespace qm::cli
