#pragma once
// What lies in a module's file after its image: a certificate, debug
// symbols, or a payload that a program carries along, such as the data of
// an installer or a self-extracting archive. Some payloads check the file
// they sit in; a stamp must keep such a check right or say that it breaks.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "pe/byte_source.h"
#include "pe/new_file.h"
#include "pe/pe_image.h"

namespace qm::pe {

enum class AppendedKind {
  Certificate,  // the certificate table of a signature
  DebugSymbols, // a COFF symbol table, or debug data the debug directory points at
  Nsis,         // the data of an NSIS installer
  InnoSetup,    // the data of an Inno Setup installer
  WixBurn,      // the containers of a WiX Burn bundle
  SevenZipSfx,  // a 7-Zip archive (with or without an SFX configuration)
  Zip,
  Rar,
  Cab,
  Padding, // a few zeros, such as those before a certificate
  Unknown,
};

// "NSIS installer", "certificate", ...: how show names a kind.
std::string_view AppendedKindName(AppendedKind kind);

struct AppendedPart {
  AppendedKind kind = AppendedKind::Unknown;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

// Everything after the image, in file order, each byte in one part. Only
// headers, a few records and the first bytes of each part are read.
std::vector<AppendedPart> ClassifyAppendedData(const ByteSource &file, const PeHeaders &headers);

// The certificate table of a signature, when the module has one that lies
// in the file.
std::optional<AppendedPart> FindSignature(const ByteSource &file, const PeHeaders &headers);

// A payload that checks the file it lies in and that the new file would
// break: a loader that checks the file's sizes and offsets (Inno Setup, a
// WiX Burn bundle), or an NSIS installer whose check cannot be kept right.
struct PayloadRisk {
  AppendedKind kind = AppendedKind::Unknown;
  std::string why;
};
std::optional<PayloadRisk> PayloadBrokenBy(const ByteSource &old, const PeHeaders &headers, const NewFile &next);

} // namespace qm::pe
