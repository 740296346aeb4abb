#pragma once
// The names resource scripts give the fixed part's flags, operating systems
// and file types (as winver.h defines them), shared by the script writer,
// which shows them, and the script reader, which knows them without a define.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qm {

struct ScriptName {
  std::string_view Name;
  std::uint32_t Value;
};

// Every name the reader knows: VS_FF_*, VOS_*, VFT_*, VFT2_*, VS_VERSION_INFO
// and the other VS_* constants, LANG_* and SUBLANG_*.
std::span<const ScriptName> KnownScriptNames();
std::optional<std::uint32_t> KnownScriptValue(std::string_view name);

// The headers carried here (windows.h, winver.h, winres.h, afxres.h, ...,
// matched without regard to case): including one defines the names above
// and MAKELANGID, one #define a line as CarriedDefinitions gives them.
bool IsCarriedHeader(std::string_view name);
std::string CarriedDefinitions();

// How the writer shows a fixed field: names joined by " | ", with a hex
// number for bits or values that have no name ("VS_FF_DEBUG | 0x40").
std::string ScriptFlagNames(std::uint32_t flags);
std::string ScriptFileOsName(std::uint32_t fileOs);
std::string ScriptFileTypeName(std::uint32_t fileType);
// The subtype's names depend on the type (drivers and fonts have their own).
std::string ScriptFileSubTypeName(std::uint32_t fileType, std::uint32_t subType);

} // namespace qm
