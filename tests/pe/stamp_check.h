#pragma once
// Stamping test modules (with the edits that make each variant) and
// checking a stamped module against its original.
#include <filesystem>
#include <string>

#include "pe/image_layout.h"
#include "test_support.h"

namespace qm::pe::test {

struct Variant {
  const char *name;
  const char *module;
  bool overlay = false;     // data appended after the image
  bool certificate = false; // a certificate table at the end
  bool debugPast = false;   // a debug entry whose data lies past the resources
  Placement placement = Placement::InPlace;
};

inline constexpr char kOverlayText[] = "overlay data that must survive the stamp";

// The module of a variant, with its edits applied.
Bytes VariantImage(const Variant &variant);
// Stores StampBlock() as 16/1/0 in the file at `path`, as a stamp does.
void StampFile(const std::filesystem::path &path);
// Every promise of a stamp, checked between the original and the result.
void ExpectStamped(const Bytes &original, const Bytes &stamped, bool overlay);

} // namespace qm::pe::test
