#pragma once
// A file described by the pieces it is made of: ranges of an old file kept
// as they are, new bytes, zeros, and small patches over all of them. It is
// written out piece by piece, so neither file need ever be held whole, and
// kept ranges can go from file to file without passing through memory.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "base/content_sink.h"
#include "base/result.h"
#include "pe/byte_source.h"

namespace qm::pe {

class NewFile {
public:
  void Copy(std::uint64_t from, std::uint64_t length);
  // [offset, offset + length) of `bytes`, which must hold it.
  void Append(std::shared_ptr<const std::vector<std::uint8_t>> bytes, std::uint64_t offset, std::uint64_t length);
  void Append(std::vector<std::uint8_t> bytes);
  void Zeros(std::uint64_t length);
  // Another file's pieces, its old-file ranges from the same old file.
  void Append(const NewFile &other);
  // Overwrites bytes already placed; later patches win.
  void Patch(std::uint64_t at, std::span<const std::uint8_t> bytes);

  std::uint64_t Size() const { return size_; }

  // Where [from, from + length) of the old file lies in this one, if it was
  // kept whole in one piece.
  std::optional<std::uint64_t> Map(std::uint64_t from, std::uint64_t length) const;

  // The finished bytes in order, a bounded chunk at a time, patches applied.
  Status ForEachChunk(const ByteSource &old, const std::function<Status(std::span<const std::uint8_t>)> &chunk) const;
  // Kept ranges through the sink's CopyHeld (the old file is the one the
  // sink holds), patches last.
  Status WriteTo(ContentSink &sink) const;
  Result<std::vector<std::uint8_t>> Materialize(const ByteSource &old) const;

private:
  enum class Kind { Old, Bytes, Zeros };
  struct Piece {
    Kind kind;
    std::uint64_t from = 0; // in the old file, or in `bytes`
    std::uint64_t length = 0;
    std::uint64_t to = 0; // in this file, set as it is added
    std::shared_ptr<const std::vector<std::uint8_t>> bytes{};
  };
  struct Overwrite {
    std::uint64_t at;
    std::vector<std::uint8_t> bytes;
  };
  void Add(Piece piece);

  std::vector<Piece> pieces_;
  std::vector<Overwrite> patches_;
  std::uint64_t size_ = 0;
};

} // namespace qm::pe
