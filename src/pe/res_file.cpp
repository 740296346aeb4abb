#include "pe/res_file.h"

#include "base/byte_reader.h"
#include "pe/pe_layout.h"
#include "pe/text.h"

namespace qm::pe {
namespace {

// A type or name field: 0xFFFF and an id, or a NUL-terminated UTF-16 name.
Result<ResourceId> ReadIdField(const ByteReader &header, std::size_t &at, const std::string &where) {
  const auto first = header.u16(at);
  if (!first) return Fail(Cat(where, ": ends inside its type or name"));
  if (*first == 0xFFFF) {
    const auto id = header.u16(at + 2);
    if (!id) return Fail(Cat(where, ": ends inside an integer id"));
    at += 4;
    return ResourceId(*id);
  }
  std::u16string name;
  for (;;) {
    const auto unit = header.u16(at);
    if (!unit) return Fail(Cat(where, ": name without its terminating NUL"));
    at += 2;
    if (*unit == 0) break;
    name.push_back(static_cast<char16_t>(*unit));
  }
  return ResourceId::Named(std::move(name));
}

} // namespace

Result<std::vector<ResFileEntry>> ParseResFile(std::span<const std::uint8_t> bytes) {
  const ByteReader file(bytes);
  std::vector<ResFileEntry> entries;
  std::size_t at = 0;
  bool first = true;
  while (at < file.size()) {
    const std::string where = Cat("resource header at ", Hex(at));
    const auto dataSize = file.u32(at);
    const auto headerSize = file.u32(at + 4);
    if (!dataSize || !headerSize) return Fail(Cat(where, ": truncated"));
    if (*headerSize < 32) return Fail(Cat(where, ": header size ", *headerSize, " is below the 32-byte minimum"));
    const auto header = file.sub(at, *headerSize);
    if (!header) return Fail(Cat(where, ": header of ", *headerSize, " bytes runs past the end of the file"));
    std::size_t field = 8;
    QM_UNWRAP_OR_RETURN(type, ReadIdField(*header, field, where));
    QM_UNWRAP_OR_RETURN(name, ReadIdField(*header, field, where));
    field = static_cast<std::size_t>(AlignUp(field, 4));
    if (!header->has(field, 16)) return Fail(Cat(where, ": too short for its fixed fields"));
    ResFileEntry entry;
    entry.type = std::move(type);
    entry.name = std::move(name);
    entry.dataVersion = *header->u32(field);
    entry.memoryFlags = *header->u16(field + 4);
    entry.language = *header->u16(field + 6);
    entry.version = *header->u32(field + 8);
    entry.characteristics = *header->u32(field + 12);
    const std::size_t dataAt = at + *headerSize;
    const auto data = file.sub(dataAt, *dataSize);
    if (!data) return Fail(Cat(where, ": ", *dataSize, " bytes of data run past the end of the file"));
    if (first) {
      // Resource compilers open with an empty entry that marks the format.
      if (*dataSize != 0 || entry.type.IsNamed() || entry.type.Id() != 0)
        return Fail("not a compiled resource file: it does not start with an empty entry");
    } else {
      entry.data.assign(data->bytes().begin(), data->bytes().end());
      entries.push_back(std::move(entry));
    }
    first = false;
    at = static_cast<std::size_t>(AlignUp(dataAt + *dataSize, 4));
  }
  if (first) return Fail("not a compiled resource file: it is empty");
  return entries;
}

} // namespace qm::pe
