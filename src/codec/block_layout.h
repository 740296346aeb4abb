#pragma once
// Fixed positions and keys of the version block as the program writes it.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qm::layout {

inline constexpr std::u16string_view kRootKey = u"VS_VERSION_INFO";
inline constexpr std::u16string_view kStringFileInfoKey = u"StringFileInfo";
inline constexpr std::u16string_view kVarFileInfoKey = u"VarFileInfo";
inline constexpr std::u16string_view kTranslationKey = u"Translation";

inline constexpr std::uint32_t kSignature = 0xFEEF04BD;
inline constexpr std::uint32_t kStrucVersion = 0x00010000;
inline constexpr std::uint16_t kFixedPartSize = 52;

inline constexpr std::size_t kKeyOffset = 0x06;
inline constexpr std::size_t kSignatureOffset = 0x28;
inline constexpr std::size_t kFileVersionOffset = 0x30;
inline constexpr std::size_t kFlagsOffset = 0x44;
inline constexpr std::size_t kFileOsOffset = 0x48;
inline constexpr std::size_t kFileTypeOffset = 0x4C;
inline constexpr std::size_t kFileSubTypeOffset = 0x50;
inline constexpr std::size_t kFirstChildOffset = 0x5C; // 92: end of the header and fixed part
inline constexpr std::size_t kStringTableOffset = 0x80;
inline constexpr std::size_t kStringsFromStringFileInfo = 60;
inline constexpr std::size_t kVarFileInfoSize = 68;
inline constexpr std::size_t kTranslationValueOffset = 64; // from the VarFileInfo
inline constexpr std::size_t kVarKeyOffset = 38;           // from the VarFileInfo

// Every length field is 16 bits wide.
inline constexpr std::size_t kMaxLength = 0xFFFF;

} // namespace qm::layout
