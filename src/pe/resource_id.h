#pragma once
// A resource type or name: an integer id or a UTF-16 name.
#include <compare>
#include <cstdint>
#include <memory>
#include <string>

namespace qm::pe {

inline constexpr std::uint16_t kTypeVersion = 16;

class ResourceId {
public:
  ResourceId(std::uint16_t id) : id_(id) {} // NOLINT: ids are written as plain numbers
  static ResourceId Named(std::u16string name) {
    ResourceId r(0);
    r.name_ = std::make_shared<const std::u16string>(std::move(name));
    return r;
  }

  bool IsNamed() const { return name_ != nullptr; }
  std::uint16_t Id() const { return id_; }
  const std::u16string &Name() const;
  // "16" or "\"MYDATA\"" (non-ASCII code units as \uXXXX), for messages.
  std::string ToString() const;

  // The loader's binary search order: named entries first, by UTF-16 code
  // unit, then integer ids ascending.
  std::strong_ordering operator<=>(const ResourceId &other) const {
    if (IsNamed() != other.IsNamed()) return IsNamed() ? std::strong_ordering::less : std::strong_ordering::greater;
    if (!IsNamed()) return id_ <=> other.id_;
    // Copies share their name: a long name is compared once, not per leaf.
    if (name_ == other.name_) return std::strong_ordering::equal;
    // compare() rather than the strings' own <=>, which the C++ library of
    // the WebAssembly build (libc++ 14) lacks; both order by code unit.
    return name_->compare(*other.name_) <=> 0;
  }
  bool operator==(const ResourceId &other) const { return (*this <=> other) == 0; }

private:
  std::uint16_t id_ = 0;
  // Shared by every copy: the leaves under a name hold it once.
  std::shared_ptr<const std::u16string> name_;
};

} // namespace qm::pe
