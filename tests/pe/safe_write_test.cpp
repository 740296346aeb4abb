// Committing an update: the file is either completely replaced, keeping its
// permissions, or left exactly as it was with no temporary file behind.
#include <gtest/gtest.h>

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

} // namespace
} // namespace qm::pe::test
