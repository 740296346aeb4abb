#pragma once
// A resource type or name: an integer id or a UTF-16 name.
#include <compare>
#include <cstdint>
#include <string>

namespace qm::pe {

inline constexpr std::uint16_t kTypeVersion = 16;

class ResourceId {
public:
  ResourceId(std::uint16_t id) : id_(id) {} // NOLINT: ids are written as plain numbers
  static ResourceId Named(std::u16string name) {
    ResourceId r(0);
    r.named_ = true;
    r.name_ = std::move(name);
    return r;
  }

  bool IsNamed() const { return named_; }
  std::uint16_t Id() const { return id_; }
  const std::u16string &Name() const { return name_; }
  // "16" or "\"MYDATA\"" (non-ASCII code units as \uXXXX), for messages.
  std::string ToString() const;

  // The loader's binary search order: named entries first, by UTF-16 code
  // unit, then integer ids ascending.
  std::strong_ordering operator<=>(const ResourceId &other) const {
    if (named_ != other.named_) return named_ ? std::strong_ordering::less : std::strong_ordering::greater;
    if (named_) return name_ <=> other.name_;
    return id_ <=> other.id_;
  }
  bool operator==(const ResourceId &other) const { return (*this <=> other) == 0; }

private:
  bool named_ = false;
  std::uint16_t id_ = 0;
  std::u16string name_;
};

} // namespace qm::pe
