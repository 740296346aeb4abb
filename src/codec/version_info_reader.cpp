#include "codec/version_info_reader.h"

#include "base/byte_reader.h"
#include "base/shown_text.h"
#include "codec/block_layout.h"
#include "codec/text_codec.h"

namespace qm {

namespace {

std::size_t AlignUp4(std::size_t off) { return (off + 3) & ~std::size_t{3}; }

// One node of the tree. Offsets count from the start of the block, so the
// 4-byte alignment of values and children is the block's.
struct Node {
  std::size_t start = 0;
  std::size_t end = 0; // start + wLength
  std::uint16_t valueLength = 0;
  std::uint16_t type = 0;
  std::u16string key;
  std::size_t valueStart = 0;
  std::string path;
};

class TreeReader {
public:
  explicit TreeReader(std::span<const std::uint8_t> data) : data_(data) {}

  Result<Node> ReadNode(std::size_t start, std::size_t parentEnd, const std::string &parentPath) const {
    std::string where = parentPath.empty() ? std::string("version block") : parentPath;
    std::optional<std::uint16_t> length = data_.u16(start);
    if (!length || start + 6 > parentEnd)
      return Fail(ErrorKind::Refused, where + ": truncated node header at offset " + std::to_string(start));
    if (*length < 6)
      return Fail(ErrorKind::Refused, where + ": node length " + std::to_string(*length) + " at offset " +
                                          std::to_string(start) + " is too small");
    if (*length > parentEnd - start) {
      return Fail(ErrorKind::Refused, where + ": node at offset " + std::to_string(start) + " runs past its parent (" +
                                          std::to_string(*length) + " bytes, " + std::to_string(parentEnd - start) +
                                          " left)");
    }
    Node node;
    node.start = start;
    node.end = start + *length;
    node.valueLength = *data_.u16(start + 2);
    node.type = *data_.u16(start + 4);
    std::size_t pos = start + 6;
    bool terminated = false;
    while (pos + 2 <= node.end) {
      std::uint16_t unit = *data_.u16(pos);
      pos += 2;
      if (unit == 0) {
        terminated = true;
        break;
      }
      node.key.push_back(static_cast<char16_t>(unit));
    }
    // The path names nodes in messages: each key shown escaped and short,
    // whatever the module holds.
    const std::string shownKey = Shown(Utf16ToUtf8(node.key), kShortQuotedLimit);
    node.path = parentPath.empty() ? shownKey : parentPath + "/" + shownKey;
    if (!terminated) return Fail(ErrorKind::Refused, node.path + ": missing terminator");
    node.valueStart = AlignUp4(pos);
    return node;
  }

  // The children of node, which start after its value of valueBytes bytes.
  template <typename Visit> Status ForEachChild(const Node &node, std::size_t valueBytes, Visit visit) const {
    std::size_t pos = AlignUp4(node.valueStart + valueBytes);
    while (pos < node.end) {
      // Trailing alignment bytes are not a child.
      if (node.end - pos < 6) break;
      QM_UNWRAP_OR_RETURN(child, ReadNode(pos, node.end, node.path));
      QM_RETURN_IF_ERROR(visit(child));
      pos = AlignUp4(child.end);
    }
    return Ok();
  }

  // A text value: up to its terminator or the end of its node. A value
  // length of 0 means no value, whether it counts characters or bytes.
  std::u16string TextValue(const Node &node) const {
    std::u16string text;
    if (node.valueLength == 0) return text;
    for (std::size_t pos = node.valueStart; pos + 2 <= node.end; pos += 2) {
      std::uint16_t unit = *data_.u16(pos);
      if (unit == 0) break;
      text.push_back(static_cast<char16_t>(unit));
    }
    return text;
  }

  const ByteReader &data() const { return data_; }

private:
  ByteReader data_;
};

Status ReadStringFileInfo(const TreeReader &tree, const Node &info, VersionInfo &out) {
  return tree.ForEachChild(info, 0, [&](const Node &tableNode) -> Status {
    StringTable table{tableNode.key, {}};
    QM_RETURN_IF_ERROR(tree.ForEachChild(tableNode, 0, [&](const Node &entry) -> Status {
      if (entry.type != 0 && entry.type != 1) {
        return Fail(ErrorKind::Refused, entry.path + ": unknown value type " + std::to_string(entry.type));
      }
      table.Strings.push_back({entry.key, tree.TextValue(entry)});
      return Ok();
    }));
    out.Tables.push_back(std::move(table));
    return Ok();
  });
}

Status ReadVarFileInfo(const TreeReader &tree, const Node &info, VersionInfo &out) {
  return tree.ForEachChild(info, 0, [&](const Node &var) -> Status {
    if (var.key != layout::kTranslationKey) return Ok();
    if (var.valueLength > var.end - std::min(var.valueStart, var.end)) {
      return Fail(ErrorKind::Refused,
                  var.path + ": value of " + std::to_string(var.valueLength) + " bytes runs past its node");
    }
    for (std::size_t pos = var.valueStart; pos + 4 <= var.valueStart + var.valueLength; pos += 4) {
      out.Translations.push_back({*tree.data().u16(pos), *tree.data().u16(pos + 2)});
    }
    return Ok();
  });
}

FixedFileInfo ReadFixed(const ByteReader &data, std::size_t at) {
  auto word = [&](std::size_t off) { return *data.u16(at + off); };
  auto dword = [&](std::size_t off) { return *data.u32(at + off); };
  FixedFileInfo f;
  f.StrucVersion = dword(4);
  f.FileMinor = word(8), f.FileMajor = word(10), f.FileBuild = word(12), f.FileRelease = word(14);
  f.ProdMinor = word(16), f.ProdMajor = word(18), f.ProdBuild = word(20), f.ProdRelease = word(22);
  f.FlagsMask = dword(24);
  f.Flags = dword(28);
  f.FileOs = dword(32);
  f.FileType = dword(36);
  f.FileSubType = dword(40);
  f.FileDate = (std::uint64_t{dword(44)} << 32) | dword(48);
  return f;
}

} // namespace

Result<VersionInfo> ReadVersionInfo(std::span<const std::uint8_t> data) {
  TreeReader tree(data);
  QM_UNWRAP_OR_RETURN(root, tree.ReadNode(0, data.size(), ""));
  if (root.key != layout::kRootKey) return Fail(ErrorKind::Refused, "version block: the key is not VS_VERSION_INFO");
  root.path.clear(); // the children's paths start at their own keys
  VersionInfo out;
  if (root.valueLength != 0) {
    if (root.valueLength < layout::kFixedPartSize ||
        root.valueLength > root.end - std::min(root.valueStart, root.end)) {
      return Fail(ErrorKind::Refused,
                  "VS_VERSION_INFO: fixed part of " + std::to_string(root.valueLength) + " bytes does not fit");
    }
    if (*tree.data().u32(root.valueStart) != layout::kSignature)
      return Fail(ErrorKind::Refused, "VS_VERSION_INFO: wrong fixed part signature");
    out.HasFixedPart = true;
    out.Fixed = ReadFixed(tree.data(), root.valueStart);
  }
  QM_RETURN_IF_ERROR(tree.ForEachChild(root, root.valueLength, [&](const Node &child) -> Status {
    if (child.key == layout::kStringFileInfoKey) return ReadStringFileInfo(tree, child, out);
    if (child.key == layout::kVarFileInfoKey) return ReadVarFileInfo(tree, child, out);
    return Ok(); // a child of some other kind is passed over
  }));
  return out;
}

} // namespace qm
