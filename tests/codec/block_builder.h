#pragma once
// Small helpers for tests that look at or rearrange version blocks.
#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "codec/encoder.h"

namespace qm::test {

using Bytes = std::vector<std::uint8_t>;

inline std::uint16_t Word(const Bytes &b, std::size_t off) { return *ByteReader(b).u16(off); }
inline std::uint32_t Dword(const Bytes &b, std::size_t off) { return *ByteReader(b).u32(off); }

inline std::u16string Units(const Bytes &b, std::size_t off, std::size_t count) {
  std::u16string text;
  for (std::size_t i = 0; i < count; ++i)
    text.push_back(static_cast<char16_t>(Word(b, off + 2 * i)));
  return text;
}

inline VersionFields BasicFields() {
  VersionFields fields;
  fields.LanguageText = "0809";
  fields.CodePageText = "1252";
  return fields;
}

inline Bytes Encode(const VersionFields &fields, const std::vector<StringRowUtf16> &rows = {}) {
  Result<Bytes> block = EncodeVersionBlock(fields, rows);
  return block ? *block : Bytes{};
}

// A child structure: header, key, padding to 4, value; wLength patched.
inline Bytes Child(std::u16string_view key, std::uint16_t valueLength, std::uint16_t type, const Bytes &value,
                   const Bytes &children = {}) {
  Bytes out(6, 0);
  for (char16_t unit : key) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  while (out.size() % 4 != 0)
    out.push_back(0);
  out.insert(out.end(), value.begin(), value.end());
  while (out.size() % 4 != 0 && !children.empty())
    out.push_back(0);
  out.insert(out.end(), children.begin(), children.end());
  PutU16(out, 0, static_cast<std::uint16_t>(out.size()));
  PutU16(out, 2, valueLength);
  PutU16(out, 4, type);
  return out;
}

inline Bytes TranslationValue(std::initializer_list<std::uint16_t> words) {
  Bytes out;
  for (std::uint16_t w : words) {
    out.push_back(static_cast<std::uint8_t>(w & 0xFF));
    out.push_back(static_cast<std::uint8_t>(w >> 8));
  }
  return out;
}

inline Bytes VarFileInfo(std::initializer_list<std::uint16_t> words) {
  Bytes value = TranslationValue(words);
  return Child(u"VarFileInfo", 0, 1, {}, Child(u"Translation", static_cast<std::uint16_t>(value.size()), 0, value));
}

// The 92 bytes of header and fixed part of block, followed by children, with
// the block's length patched.
inline Bytes WithChildren(const Bytes &block, std::initializer_list<Bytes> children) {
  Bytes out(block.begin(), block.begin() + 92);
  for (const Bytes &child : children)
    out.insert(out.end(), child.begin(), child.end());
  PutU16(out, 0, static_cast<std::uint16_t>(out.size()));
  return out;
}

// The StringFileInfo and VarFileInfo of a block the encoder made.
inline Bytes StringPart(const Bytes &block) { return Bytes(block.begin() + 92, block.end() - 68); }
inline Bytes VarPart(const Bytes &block) { return Bytes(block.end() - 68, block.end()); }

} // namespace qm::test
