#include "pe/resource_id.h"

#include "pe/text.h"

namespace qm::pe {

const std::u16string &ResourceId::Name() const {
  static const std::u16string none;
  return name_ ? *name_ : none;
}

std::string ResourceId::ToString() const {
  if (!IsNamed()) return std::to_string(id_);
  // A name may hold 65535 characters: a message shows the first few.
  constexpr std::size_t kShownUnits = 64;
  std::string out = "\"";
  for (char16_t c : std::u16string_view(*name_).substr(0, kShownUnits)) {
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      const std::string hex = Hex(c).substr(2);
      out += "\\u" + std::string(4 - hex.size(), '0') + hex;
    }
  }
  return out + (name_->size() > kShownUnits ? "...\"" : "\"");
}

} // namespace qm::pe
