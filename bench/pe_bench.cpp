// Stamping a large module against copying it, and opening modules of
// growing size (reading the version resource should not grow with them).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "base/byte_reader.h"
#include "pe/resource_update.h"
#include "pe/version_reader.h"
#include "stamp/module_file.h"
#include "stamp/module_injection.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A PE32 module of `size` bytes: headers, a resource section with a version
// block, and data appended after the image to make up the size.
Bytes MakeModule(std::size_t size) {
  Bytes image(0x200, 0);
  image[0] = 'M';
  image[1] = 'Z';
  qm::PutU32(image, 0x3C, 0x40);
  qm::PutU32(image, 0x40, 0x00004550);
  qm::PutU16(image, 0x44, 0x14C);
  qm::PutU16(image, 0x54, 0xE0);
  qm::PutU16(image, 0x58, 0x10B);
  qm::PutU32(image, 0x58 + 32, 0x1000);
  qm::PutU32(image, 0x58 + 36, 0x200);
  qm::PutU32(image, 0x58 + 56, 0x1000);
  qm::PutU32(image, 0x58 + 60, 0x200);
  qm::PutU32(image, 0x58 + 92, 16);
  auto update = qm::pe::ResourceUpdate::BeginInMemory(image);
  if (!update || !update->Put(qm::pe::kTypeVersion, 1, 0, Bytes(1024, 0x5A)).ok()) std::abort();
  auto composed = update->Compose();
  auto stamped = composed ? composed->Materialize(update->Source()) : qm::Result<Bytes>(composed.failure());
  if (!stamped) std::abort();
  Bytes module = std::move(*stamped);
  module.resize(std::max(size, module.size()), 0xA5);
  return module;
}

fs::path WriteModule(const std::string &name, std::size_t size) {
  const fs::path path = fs::temp_directory_path() / name;
  const Bytes module = MakeModule(size);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char *>(module.data()), static_cast<std::streamsize>(module.size()));
  return path;
}

constexpr std::size_t kBig = std::size_t{64} << 20;

void BM_Stamp64MiB(benchmark::State &state) {
  const fs::path path = WriteModule("qm_bench_stamp.exe", kBig);
  const Bytes block(2048, 0x33);
  for (auto _ : state) {
    if (!qm::stamp::StoreVersionResource(path, "stamp", block)) state.SkipWithError("stamp failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBig));
  fs::remove(path);
}
BENCHMARK(BM_Stamp64MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CopyWithCp64MiB(benchmark::State &state) {
  const fs::path path = WriteModule("qm_bench_copy.exe", kBig);
  const std::string command = "cp '" + path.string() + "' '" + path.string() + ".copy'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("cp failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBig));
  fs::remove(path);
  fs::remove(path.string() + ".copy");
}
BENCHMARK(BM_CopyWithCp64MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenVersionResource(benchmark::State &state) {
  const auto size = static_cast<std::size_t>(state.range(0)) << 20;
  const fs::path path = WriteModule("qm_bench_open.exe", size);
  for (auto _ : state) {
    auto found = qm::stamp::ReadVersionResource(path, 0x0409);
    if (!found || !found->has_value()) state.SkipWithError("no version resource");
    benchmark::DoNotOptimize(found);
  }
  fs::remove(path);
}
BENCHMARK(BM_OpenVersionResource)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMicrosecond);

} // namespace
