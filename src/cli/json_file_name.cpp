#include "cli/json_file_name.h"

#include "codec/text_codec.h"

namespace qm::cli {

void PutFileName(nlohmann::ordered_json &object, const std::string &member, const std::string &name) {
  object[member] = name;
  if (Utf16ToUtf8(Utf8ToUtf16(name)) == name) return;
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  object[member + "Bytes"] = hex;
}

} // namespace qm::cli
