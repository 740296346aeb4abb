// Committing an update: the file is either completely replaced, keeping its
// permissions, or left exactly as it was with no temporary file behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "pe/byte_source.h"
#include "pe/resource_update.h"
#include "pe/version_reader.h"
#include "test_support.h"

namespace qm::pe::test {
namespace {

namespace fs = std::filesystem;

Bytes SmallModule() {
  const std::vector<ResourceItem> items = {{10, 1, 0, 0, Bytes(4, 1)}};
  return MinimalImage(items);
}

TEST(Commit, KeepsThePermissions) {
  const fs::path path = ScratchDir("permissions") / "module.dll";
  WriteBytes(path, SmallModule());
  const auto perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_exec;
  fs::permissions(path, perms);
  auto update = ResourceUpdate::Begin(path);
  ASSERT_TRUE(update.ok()) << update.error();
  ASSERT_TRUE(update->Put(16, 1, 0, Bytes(8, 2)).ok());
  ASSERT_TRUE(update->End(false).ok());
  EXPECT_EQ(fs::status(path).permissions(), perms);
  auto found = ReadVersionResource(path, 0);
  ASSERT_TRUE(found.ok() && found->has_value());
  EXPECT_EQ((*found)->bytes, Bytes(8, 2));
}

TEST(Commit, FailureLeavesNoTraceAndTheTargetAlone) {
  const fs::path dir = ScratchDir("failed_commit");
  const fs::path path = dir / "module.dll";
  WriteBytes(path, SmallModule());
  auto update = ResourceUpdate::Begin(path);
  ASSERT_TRUE(update.ok()) << update.error();
  ASSERT_TRUE(update->Put(16, 1, 0, Bytes(8, 2)).ok());
  // The rename cannot replace a non-empty directory.
  fs::remove(path);
  fs::create_directory(path);
  WriteBytes(path / "inside", Bytes{1, 2, 3});
  auto end = update->End(false);
  ASSERT_FALSE(end.ok());
  EXPECT_NE(end.error().find("module.dll"), std::string::npos) << end.error();
  EXPECT_EQ(ReadBytes(path / "inside"), (Bytes{1, 2, 3}));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << "a temporary file was left";
}

TEST(Commit, BeginRefusesWhatIsNotAModule) {
  const fs::path dir = ScratchDir("not_a_module");
  WriteBytes(dir / "text.dll", Bytes{'h', 'e', 'l', 'l', 'o'});
  for (const fs::path &path : {dir / "text.dll", dir / "missing.dll", dir}) {
    auto update = ResourceUpdate::Begin(path);
    ASSERT_FALSE(update.ok()) << path;
    EXPECT_NE(update.error().find(path.filename().string()), std::string::npos) << update.error();
  }
}

// The whole-file read takes what a pipe gives; the paged reader, which
// reads at random offsets, refuses everything but a regular file. Either
// names the path once.
TEST(FileReads, WholeReadTakesAFifoPagedReaderRefusesIt) {
  const fs::path dir = ScratchDir("fifo_read");
  const fs::path fifo = dir / "module.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const Bytes module = SmallModule();
  std::thread writer([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    EXPECT_EQ(::write(fd, module.data(), module.size()), static_cast<ssize_t>(module.size()));
    ::close(fd);
  });
  auto whole = ReadWholeFile(fifo);
  writer.join();
  ASSERT_TRUE(whole.ok()) << whole.error();
  EXPECT_EQ(*whole, module);

  for (const auto &[path, message] :
       {std::pair{fifo, "it is not a regular file"}, std::pair{dir, "it is not a regular file"},
        std::pair{dir / "none.dll", "it does not exist"}}) {
    auto source = FileSource::Open(path);
    ASSERT_FALSE(source.ok()) << path;
    EXPECT_EQ(source.error(), path.string() + ": " + message);
  }
}

} // namespace
} // namespace qm::pe::test
