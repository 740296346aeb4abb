#pragma once
// Building error messages (the compilers we use have no std::format).
#include <cstdint>
#include <sstream>
#include <string>

namespace qm::pe {

inline std::string Hex(std::uint64_t v) {
  std::ostringstream out;
  out << "0x" << std::hex << v;
  return out.str();
}

template <typename... Parts> std::string Cat(const Parts &...parts) {
  std::ostringstream out;
  (out << ... << parts);
  return out.str();
}

} // namespace qm::pe
