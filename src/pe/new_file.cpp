#include "pe/new_file.h"

#include <algorithm>
#include <cstring>

#include "pe/text.h"

namespace qm::pe {
namespace {

// Large enough that per-chunk work vanishes, small enough to stay out of
// the way of the memory a stamp is allowed.
constexpr std::uint64_t kChunk = 1u << 20;

} // namespace

void NewFile::Add(Piece piece) {
  if (piece.length == 0) return;
  piece.to = size_;
  size_ += piece.length;
  // Neighbouring ranges of the old file are one copy.
  if (!pieces_.empty()) {
    Piece &last = pieces_.back();
    if (last.kind == piece.kind && piece.kind != Kind::Bytes &&
        (piece.kind == Kind::Zeros || last.from + last.length == piece.from)) {
      last.length += piece.length;
      return;
    }
  }
  pieces_.push_back(std::move(piece));
}

void NewFile::Copy(std::uint64_t from, std::uint64_t length) {
  Add({.kind = Kind::Old, .from = from, .length = length});
}

void NewFile::Append(std::shared_ptr<const std::vector<std::uint8_t>> bytes, std::uint64_t offset,
                     std::uint64_t length) {
  Add({.kind = Kind::Bytes, .from = offset, .length = length, .bytes = std::move(bytes)});
}

void NewFile::Append(std::vector<std::uint8_t> bytes) {
  const auto length = bytes.size();
  Append(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)), 0, length);
}

void NewFile::Zeros(std::uint64_t length) { Add({.kind = Kind::Zeros, .length = length}); }

void NewFile::Append(const NewFile &other) {
  const std::uint64_t base = size_;
  for (const Piece &p : other.pieces_)
    Add(p);
  for (const Overwrite &o : other.patches_)
    patches_.push_back({base + o.at, o.bytes});
}

void NewFile::Patch(std::uint64_t at, std::span<const std::uint8_t> bytes) {
  patches_.push_back({at, std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
}

std::optional<std::uint64_t> NewFile::Map(std::uint64_t from, std::uint64_t length) const {
  for (const Piece &p : pieces_) {
    if (p.kind == Kind::Old && from >= p.from && from - p.from < p.length && length <= p.length - (from - p.from))
      return p.to + (from - p.from);
  }
  return std::nullopt;
}

Status NewFile::ForEachChunk(const ByteSource &old,
                             const std::function<Status(std::span<const std::uint8_t>)> &chunk) const {
  std::vector<std::uint8_t> buffer;
  for (const Piece &p : pieces_) {
    for (std::uint64_t done = 0; done < p.length;) {
      const std::uint64_t n = std::min(kChunk, p.length - done);
      buffer.resize(static_cast<std::size_t>(n));
      switch (p.kind) {
      case Kind::Old:
        if (!old.ReadAt(p.from + done, buffer))
          return Fail(Cat("cannot read ", n, " bytes of the module at ", Hex(p.from + done)));
        break;
      case Kind::Bytes:
        std::memcpy(buffer.data(), p.bytes->data() + p.from + done, buffer.size());
        break;
      case Kind::Zeros:
        std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
        break;
      }
      const std::uint64_t at = p.to + done;
      for (const Overwrite &o : patches_) {
        const std::uint64_t begin = std::max(o.at, at), end = std::min(o.at + o.bytes.size(), at + n);
        if (begin < end)
          std::memcpy(buffer.data() + (begin - at), o.bytes.data() + (begin - o.at),
                      static_cast<std::size_t>(end - begin));
      }
      if (auto st = chunk(buffer); !st) return st;
      done += n;
    }
  }
  return Ok();
}

Status NewFile::WriteTo(ContentSink &sink) const {
  const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(std::min(kChunk, size_)), 0);
  for (const Piece &p : pieces_) {
    Status st = Ok();
    switch (p.kind) {
    case Kind::Old:
      st = sink.CopyHeld(p.from, p.length);
      break;
    case Kind::Bytes:
      st =
          sink.Write(std::span(*p.bytes).subspan(static_cast<std::size_t>(p.from), static_cast<std::size_t>(p.length)));
      break;
    case Kind::Zeros:
      for (std::uint64_t done = 0; st && done < p.length; done += zeros.size())
        st = sink.Write(
            std::span(zeros).first(static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), p.length - done))));
      break;
    }
    if (!st) return st;
  }
  for (const Overwrite &o : patches_) {
    if (auto st = sink.WriteAt(o.at, o.bytes); !st) return st;
  }
  return Ok();
}

Result<std::vector<std::uint8_t>> NewFile::Materialize(const ByteSource &old) const {
  std::vector<std::uint8_t> out;
  out.reserve(static_cast<std::size_t>(size_));
  auto st = ForEachChunk(old, [&](std::span<const std::uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
    return Ok();
  });
  if (!st) return st.failure();
  return out;
}

} // namespace qm::pe
