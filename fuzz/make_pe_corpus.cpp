// Writes the fuzzers' seed corpus: MODULES-DIR CORPUS-DIR. Each target's
// folder gets what suits it: the modules (and variants with appended data
// and a certificate) and the crafted rows for the readers and the writer,
// the version blocks for the decoder and the round trip.
//
// Seeds stay small: a run's cost follows the input's size (every byte is
// copied and compared several times), so small seeds give a short run many
// more inputs, and a seed of a megabyte is all but never mutated. Every test
// module, and a crafted one over kSeedCap, is cut down: the data after its
// image goes, and each section but the resources' keeps at most one file
// alignment of its raw data. The addresses stay, so the resource tree and
// the layout around it still hold. What is still too large (a resource tree
// of a megabyte) is left out.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>

#include "base/byte_reader.h"
#include "crafted_modules.h"
#include "pe/byte_source.h"
#include "pe/pe_image.h"
#include "pe/res_file.h"
#include "pe/resource_tree.h"

namespace fs = std::filesystem;
using qm::pe::craft::Bytes;

namespace {

void Write(const fs::path &path, const Bytes &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Read(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string FileName(std::string text) {
  for (char &c : text)
    c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return text;
}

constexpr std::size_t kSeedCap = 24 * 1024;

// The module cut down as above; empty when it cannot be made small enough.
Bytes CutDown(const Bytes &image) {
  auto headers = qm::pe::ParseHeaders(qm::pe::MemorySource(image));
  if (!headers || headers->fileAlignment == 0 || headers->fileAlignment > kSeedCap) return {};
  const auto resources = headers->SectionOfRva(headers->Directory(qm::pe::kDirResource).rva);
  std::vector<std::size_t> order(headers->sections.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return headers->sections[a].pointerToRawData < headers->sections[b].pointerToRawData;
  });
  std::uint64_t headersEnd = headers->sizeOfHeaders;
  for (const auto &section : headers->sections)
    if (section.sizeOfRawData != 0) headersEnd = std::min<std::uint64_t>(headersEnd, section.pointerToRawData);
  Bytes out(image.begin(),
            image.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(headersEnd, image.size())));
  for (std::size_t i : order) {
    const auto &section = headers->sections[i];
    if (section.sizeOfRawData == 0) continue;
    const std::size_t keep =
        i == resources ? section.sizeOfRawData : std::min<std::size_t>(section.sizeOfRawData, headers->fileAlignment);
    if (section.pointerToRawData + keep > image.size()) return {};
    out.resize((out.size() + headers->fileAlignment - 1) / headers->fileAlignment * headers->fileAlignment, 0);
    const std::size_t header = headers->SectionTableOffset() + i * qm::pe::kSectionHeaderSize;
    qm::PutU32(out, header + 16, static_cast<std::uint32_t>(keep));
    qm::PutU32(out, header + 20, static_cast<std::uint32_t>(out.size()));
    out.insert(out.end(), image.begin() + section.pointerToRawData, image.begin() + section.pointerToRawData + keep);
  }
  // No symbol table and no certificate: they lay in the data cut away.
  qm::PutU32(out, headers->CoffOffset() + 8, 0);
  qm::PutU32(out, headers->CoffOffset() + 12, 0);
  if (headers->directories.size() > qm::pe::kDirSecurity) {
    qm::PutU32(out, headers->DirectoryOffset(qm::pe::kDirSecurity), 0);
    qm::PutU32(out, headers->DirectoryOffset(qm::pe::kDirSecurity) + 4, 0);
  }
  if (out.size() > kSeedCap || !qm::pe::ParseHeaders(qm::pe::MemorySource(out))) return {};
  return out;
}

// The version resources of a module, as the decoder's seeds.
std::vector<Bytes> VersionBlocks(const Bytes &image) {
  std::vector<Bytes> blocks;
  const qm::pe::MemorySource source(image);
  auto headers = qm::pe::ParseHeaders(source);
  if (!headers) return blocks;
  auto leaves = qm::pe::ParseResourceTree(source, *headers);
  if (!leaves) return blocks;
  for (const auto &leaf : *leaves) {
    if (leaf.type != qm::pe::ResourceId(qm::pe::kTypeVersion)) continue;
    if (auto data = qm::pe::ReadLeafData(source, *headers, leaf)) blocks.push_back(std::move(*data));
  }
  return blocks;
}

// A crafted row is cut down only when it is too large: most are small and
// exact to the byte.
Bytes Small(const Bytes &image) { return image.size() <= kSeedCap ? image : CutDown(image); }

// Appended data, then a certificate table at the end.
Bytes WithOverlayAndCertificate(Bytes image) {
  auto headers = qm::pe::ParseHeaders(qm::pe::MemorySource(image));
  if (!headers || headers->directories.size() <= qm::pe::kDirSecurity) return {};
  const char overlay[] = "overlay kept by the stamp";
  image.insert(image.end(), overlay, overlay + sizeof overlay);
  image.resize((image.size() + 7) & ~std::size_t{7}, 0);
  const std::uint32_t at = static_cast<std::uint32_t>(image.size());
  Bytes cert(8 + 24, 0xC5);
  qm::PutU32(cert, 0, static_cast<std::uint32_t>(cert.size()));
  image.insert(image.end(), cert.begin(), cert.end());
  qm::PutU32(image, headers->DirectoryOffset(qm::pe::kDirSecurity), at);
  qm::PutU32(image, headers->DirectoryOffset(qm::pe::kDirSecurity) + 4, static_cast<std::uint32_t>(cert.size()));
  return image;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_pe_corpus MODULES-DIR CORPUS-DIR\n");
    return 2;
  }
  const fs::path modules = argv[1], corpus = argv[2];
  const fs::path modulesOut = corpus / "modules", blocksOut = corpus / "blocks";
  // A seed the last build made and this one does not stays out.
  fs::remove_all(modulesOut);
  fs::remove_all(blocksOut);
  fs::create_directories(modulesOut);
  fs::create_directories(blocksOut);
  int written = 0, left = 0;
  const auto put = [&](const fs::path &path, const Bytes &bytes) {
    if (bytes.empty()) {
      ++left;
      return;
    }
    Write(path, bytes);
    ++written;
  };
  if (fs::is_directory(modules)) {
    for (const auto &entry : fs::directory_iterator(modules)) {
      const fs::path &path = entry.path();
      const Bytes bytes = Read(path);
      if (path.extension() == ".exe" || path.extension() == ".dll") {
        const Bytes small = CutDown(bytes);
        put(modulesOut / path.filename(), small);
        if (!small.empty())
          put(modulesOut / (path.stem().string() + "_overlay_cert" + path.extension().string()),
              WithOverlayAndCertificate(small));
        int n = 0;
        for (const Bytes &block : VersionBlocks(bytes))
          put(blocksOut / (path.stem().string() + "_" + std::to_string(n++) + ".bin"), block);
      } else if (path.extension() == ".res") {
        put(modulesOut / path.filename(), bytes);
        if (auto entries = qm::pe::ParseResFile(bytes)) {
          for (const auto &e : *entries)
            put(blocksOut / (path.stem().string() + "_" + std::to_string(written) + ".bin"), e.data);
        }
      }
    }
  }
  for (const auto &row : qm::pe::craft::Rows()) {
    const Bytes image = qm::pe::craft::MakeRow(row, modules);
    if (!image.empty()) put(modulesOut / ("row_" + FileName(row.name)), Small(image));
  }
  std::printf("%d seeds in %s (%d left out: larger than %zu bytes when cut down)\n", written, corpus.string().c_str(),
              left, kSeedCap);
  return 0;
}
