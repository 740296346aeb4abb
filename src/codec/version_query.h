#pragma once
// Finding a string as the platform's version lookup finds it: a query of
// \StringFileInfo\<table>\<key> walks the children in order and takes the
// first whose key matches (SameKey); programs build <table> from the first
// pair of "Translation".
#include <optional>
#include <string>
#include <string_view>

#include "codec/version_info.h"

namespace qm {

// The table a lookup reads. With `key`, the first table of that key, or
// none. Without, the first translation's table; where there is no
// translation or no table for it, the first table, as common readers fall
// back; none when there is no table at all.
const StringTable *TableToRead(const VersionInfo &info, const std::optional<std::u16string> &key);

// The first string of `key` in `table`, or none.
const DecodedString *FindString(const StringTable &table, std::u16string_view key);

// "040904B0" for language 0x0409 and code page 1200.
std::u16string TableKeyOf(const Translation &translation);

} // namespace qm
