// Writes the fuzzers' seed corpus: MODULES-DIR CORPUS-DIR. Each target's
// folder gets what suits it: the modules (and variants with appended data
// and a certificate) and the crafted rows for the readers and the writer,
// the version blocks for the decoder.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "base/byte_reader.h"
#include "crafted_modules.h"
#include "pe/byte_source.h"
#include "pe/pe_image.h"
#include "pe/res_file.h"

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
  fs::create_directories(modulesOut);
  fs::create_directories(blocksOut);
  int written = 0;
  if (fs::is_directory(modules)) {
    for (const auto &entry : fs::directory_iterator(modules)) {
      const fs::path &path = entry.path();
      const Bytes bytes = Read(path);
      if (path.extension() == ".exe" || path.extension() == ".dll") {
        Write(modulesOut / path.filename(), bytes);
        const Bytes variant = WithOverlayAndCertificate(bytes);
        if (!variant.empty()) Write(modulesOut / (path.stem().string() + "_overlay_cert" + path.extension().string()), variant);
        written += 2;
      } else if (path.extension() == ".res") {
        Write(modulesOut / path.filename(), bytes);
        if (auto entries = qm::pe::ParseResFile(bytes)) {
          for (const auto &e : *entries)
            Write(blocksOut / (path.stem().string() + "_" + std::to_string(written++) + ".bin"), e.data);
        }
      }
    }
  }
  for (const auto &row : qm::pe::craft::Rows()) {
    const Bytes image = qm::pe::craft::MakeRow(row, modules);
    if (image.empty()) continue;
    Write(modulesOut / ("row_" + FileName(row.name)), image);
    ++written;
  }
  std::printf("%d seeds in %s\n", written, corpus.string().c_str());
  return 0;
}
