// How the stamping layer treats the file it changes: only a regular file,
// links followed, owner and mode kept, one writer at a time, nothing left
// behind, and every refusal with its exit code and the file untouched.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <functional>
#include <thread>
#include <tuple>

#include "fileio/file_io.h"
#include "pe/resource_id.h"
#include "pe/version_reader.h"
#include "stamp/module_file.h"
#include "stamp/module_injection.h"
#include "stamp_test_support.h"

namespace qm::stamp::test {
namespace {

const Bytes kBlock = {'V', 'S', 0, 0, 1, 2, 3, 4};

// The module's version resource, or nothing.
std::optional<Bytes> StoredVersion(const fs::path &module) {
  auto found = ReadVersionResource(module, 0);
  if (!found.ok() || !found->has_value()) return std::nullopt;
  return (*found)->bytes;
}

struct Refusal {
  const char *name;
  // Prepares the scratch folder and gives the path to stamp.
  std::function<fs::path(const ScratchDir &)> prepare;
  int code;
  const char *message;
  bool unprivilegedOnly = false; // root is never denied
  friend void PrintTo(const Refusal &c, std::ostream *os) { *os << c.name; }
};

class StampRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(StampRefuses, WithItsCodeAndNothingChanged) {
  const Refusal &c = GetParam();
  if (c.unprivilegedOnly && IsRoot()) GTEST_SKIP() << "root is not refused; run as another user";
  ScratchDir dir;
  const fs::path target = c.prepare(dir);
  const std::vector<std::string> before = dir.Names();
  struct stat old {};
  const bool existed = ::lstat(target.c_str(), &old) == 0;
  const Status stored = StoreVersionResource(target, target.filename().string(), kBlock);
  ASSERT_FALSE(stored);
  const std::string &message = stored.error();
  EXPECT_EQ(ToInt(ExitCodeFor(stored.failure())), c.code) << message;
  EXPECT_NE(message.find(c.message), std::string::npos) << message;
  // The path appears once.
  const std::string shown = "'" + target.filename().string() + "'";
  EXPECT_NE(message.find(shown), std::string::npos) << message;
  EXPECT_EQ(message.find(shown), message.rfind(shown)) << message;
  fs::permissions(dir.path(), fs::perms::owner_all, fs::perm_options::add);
  EXPECT_EQ(dir.Names(), before) << "a file was added or removed";
  struct stat now {};
  if (existed) {
    ASSERT_EQ(::lstat(target.c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, old.st_ino);
    EXPECT_EQ(now.st_mtime, old.st_mtime);
  }
}

fs::path Module(const ScratchDir &dir, bool full = false) {
  WriteBytes(dir / "m.exe", SmallModule(full));
  return dir / "m.exe";
}

INSTANTIATE_TEST_SUITE_P(
    Files, StampRefuses,
    ::testing::Values(Refusal{"Fifo",
                              [](const ScratchDir &d) {
                                ::mkfifo((d / "m.exe").c_str(), 0644);
                                return d / "m.exe";
                              },
                              7, "it is a FIFO, not a regular file"},
                      Refusal{"Socket",
                              [](const ScratchDir &d) {
                                const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
                                sockaddr_un address{};
                                address.sun_family = AF_UNIX;
                                const std::string path = (d / "m.exe").string();
                                path.copy(address.sun_path, sizeof address.sun_path - 1);
                                ::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address);
                                ::close(s);
                                return d / "m.exe";
                              },
                              7, "it is a socket"},
                      Refusal{"Folder",
                              [](const ScratchDir &d) {
                                fs::create_directory(d / "m.exe");
                                return d / "m.exe";
                              },
                              7, "it is a folder"},
                      Refusal{"LinkToADevice",
                              [](const ScratchDir &d) {
                                fs::create_symlink("/dev/null", d / "m.exe");
                                return d / "m.exe";
                              },
                              7, "it is a character device"},
                      Refusal{"Missing", [](const ScratchDir &d) { return d / "m.exe"; }, 5, "it does not exist"},
                      Refusal{"DanglingLink",
                              [](const ScratchDir &d) {
                                fs::create_symlink("gone.exe", d / "m.exe");
                                return d / "m.exe";
                              },
                              5, "it does not exist"},
                      Refusal{"PathThroughAFile",
                              [](const ScratchDir &d) {
                                WriteBytes(d / "file", {1});
                                return d / "file" / "m.exe";
                              },
                              5, "a part of its path is not a folder"},
                      Refusal{"NotAModule",
                              [](const ScratchDir &d) {
                                WriteBytes(d / "m.exe", {'h', 'i'});
                                return d / "m.exe";
                              },
                              6, "is not a PE module"},
                      Refusal{"DamagedModule",
                              [](const ScratchDir &d) {
                                Bytes image = SmallModule();
                                image[0x40 + 24 + 36 + 2] = 1; // FileAlignment 0x10200
                                WriteBytes(d / "m.exe", image);
                                return d / "m.exe";
                              },
                              6,
                              "the module 'm.exe' cannot be read: optional header: FileAlignment 0x10200 is not a "
                              "power of two; it was not changed"},
                      Refusal{"NoRoomForASection", [](const ScratchDir &d) { return Module(d, true); }, 7,
                              "cannot be stamped: no room for another section header"},
                      Refusal{"Unreadable",
                              [](const ScratchDir &d) {
                                fs::permissions(Module(d), fs::perms::none);
                                return d / "m.exe";
                              },
                              5, "cannot read the module 'm.exe': permission denied", true},
                      Refusal{"FolderNotEnterable",
                              [](const ScratchDir &d) {
                                fs::create_directory(d / "closed");
                                WriteBytes(d / "closed" / "m.exe", SmallModule());
                                fs::permissions(d / "closed", fs::perms::owner_read | fs::perms::owner_write);
                                return d / "closed" / "m.exe";
                              },
                              5, "permission denied", true},
                      Refusal{"FolderNotWritable",
                              [](const ScratchDir &d) {
                                fs::create_directory(d / "ro");
                                WriteBytes(d / "ro" / "m.exe", SmallModule());
                                fs::permissions(d / "ro", fs::perms::owner_read | fs::perms::owner_exec);
                                return d / "ro" / "m.exe";
                              },
                              7, "cannot create the new file in its folder: permission denied", true}),
    [](const ::testing::TestParamInfo<Refusal> &info) { return std::string(info.param.name); });

struct Keeping {
  const char *name;
  bool otherUser, otherGroup; // owned by nobody, nobody's group (only root can make and keep that)
  fs::perms mode;
  friend void PrintTo(const Keeping &c, std::ostream *os) { *os << c.name; }
};

class StampKeeps : public ::testing::TestWithParam<Keeping> {};

TEST_P(StampKeeps, OwnerGroupAndMode) {
  const Keeping &c = GetParam();
  if ((c.otherUser || c.otherGroup) && !IsRoot()) GTEST_SKIP() << "only root can give a file to another user";
  ScratchDir dir;
  const fs::path module = Module(dir);
  uid_t uid = ::geteuid();
  gid_t gid = ::getegid();
  if (c.otherUser || c.otherGroup) {
    const passwd *nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    if (c.otherUser) uid = nobody->pw_uid;
    if (c.otherGroup) gid = nobody->pw_gid;
    ASSERT_EQ(::chown(module.c_str(), uid, gid), 0);
  }
  ASSERT_EQ(::chmod(module.c_str(), static_cast<mode_t>(c.mode)), 0);
  const Status stored = StoreVersionResource(module, "m.exe", kBlock);
  ASSERT_TRUE(stored) << stored.error();
  EXPECT_EQ(StoredVersion(module), kBlock);
  struct stat info {};
  ASSERT_EQ(::stat(module.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, uid);
  EXPECT_EQ(info.st_gid, gid);
  EXPECT_EQ(info.st_mode & 07777, static_cast<mode_t>(c.mode));
}

INSTANTIATE_TEST_SUITE_P(
    Files, StampKeeps,
    ::testing::Values(
        Keeping{"OwnPrivate", false, false, fs::perms::owner_read | fs::perms::owner_write},
        Keeping{"OwnReadOnlyExecutable", false, false, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_exec},
        Keeping{"OwnExecutableByOthersOnly", false, false,
                fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_exec},
        Keeping{"OtherUsersPrivate", true, true, fs::perms::owner_read | fs::perms::owner_write},
        // Each of owner and group given back on its own.
        Keeping{"OtherUserOwnGroup", true, false, fs::perms::owner_read | fs::perms::owner_write},
        Keeping{"OwnUserOtherGroup", false, true, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read},
        Keeping{"OtherUsersSetUid", true, true,
                fs::perms::set_uid | fs::perms::owner_all | fs::perms::group_read | fs::perms::others_exec}),
    [](const ::testing::TestParamInfo<Keeping> &info) { return std::string(info.param.name); });

// Each of several writers at once adds a resource of its own: with the
// module held from read to rename, they follow one another and none of the
// additions is lost.
// Both ways of writing the new file: unnamed until complete, and under a
// temporary name from the start.
class BothWays : public ::testing::TestWithParam<bool> {
protected:
  void SetUp() override { fileio::AllowUnnamedNewFiles(GetParam()); }
  void TearDown() override { fileio::AllowUnnamedNewFiles(true); }
};

using StampConcurrency = BothWays;

TEST_P(StampConcurrency, WritersAtOnceLoseNoChange) {
  ScratchDir dir;
  const fs::path module = Module(dir);
  constexpr int kWriters = 6;
  std::atomic<int> failures{0};
  std::vector<std::thread> writers;
  for (int i = 0; i < kWriters; ++i) {
    writers.emplace_back([&, i] {
      const Bytes data(64, static_cast<std::uint8_t>(i));
      const Status updated = UpdateModule(module, "m.exe", [&](pe::ResourceUpdate &update) {
        return update.Put(pe::ResourceId(static_cast<std::uint16_t>(100 + i)), pe::ResourceId(1), 0, data);
      });
      if (!updated) ++failures;
    });
  }
  for (auto &writer : writers)
    writer.join();
  EXPECT_EQ(failures, 0);
  auto update = pe::ResourceUpdate::BeginInMemory(ReadBytes(module));
  ASSERT_TRUE(update.ok()) << update.error();
  std::set<std::uint16_t> types;
  for (const auto &item : update->Items())
    types.insert(item.type.Id());
  for (int i = 0; i < kWriters; ++i)
    EXPECT_TRUE(types.contains(static_cast<std::uint16_t>(100 + i))) << "the change of writer " << i << " was lost";
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"m.exe"});
}

struct Holding {
  const char *name;
  std::chrono::milliseconds heldFor; // by another program's flock
  int code;
  friend void PrintTo(const Holding &c, std::ostream *os) { *os << c.name; }
};

class StampWhileHeld : public ::testing::TestWithParam<Holding> {};

TEST_P(StampWhileHeld, WaitsBrieflyThenRefuses) {
  ScratchDir dir;
  const fs::path module = Module(dir);
  const Bytes before = ReadBytes(module);
  const int fd = ::open(module.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  std::thread release([&] {
    std::this_thread::sleep_for(GetParam().heldFor);
    ::close(fd);
  });
  const Status stored = StoreVersionResource(module, "m.exe", kBlock);
  release.join();
  EXPECT_EQ(stored ? 0 : ToInt(ExitCodeFor(stored.failure())), GetParam().code) << (stored ? "" : stored.error());
  if (GetParam().code == 0) {
    EXPECT_EQ(StoredVersion(module), kBlock);
  } else {
    EXPECT_NE(stored.error().find("another program is writing it (waited 3.0 s)"), std::string::npos) << stored.error();
    EXPECT_EQ(ReadBytes(module), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, StampWhileHeld,
                         ::testing::Values(Holding{"Briefly", std::chrono::milliseconds(300), 0},
                                           Holding{"TooLong", fileio::kLockWait + std::chrono::milliseconds(1000), 7}),
                         [](const ::testing::TestParamInfo<Holding> &info) { return std::string(info.param.name); });

TEST(StampThroughLinks, ChangesTheFileAndKeepsTheLink) {
  ScratchDir dir;
  fs::create_directory(dir / "real");
  WriteBytes(dir / "real" / "m.exe", SmallModule());
  fs::create_symlink("real/m.exe", dir / "hop");
  fs::create_symlink("hop", dir / "link.exe");
  ASSERT_TRUE(StoreVersionResource(dir / "link.exe", "link.exe", kBlock));
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "link.exe")));
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "hop")));
  EXPECT_EQ(StoredVersion(dir / "real" / "m.exe"), kBlock);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"hop", "link.exe", "real"}));
}

// As many links in a row as the system itself follows (40), and no more.
TEST(StampThroughLinks, FollowsAsManyAsTheSystemDoes) {
  for (const int links : {40, 41}) {
    ScratchDir dir;
    WriteBytes(dir / "m.exe", SmallModule());
    std::string to = "m.exe";
    for (int i = 0; i < links; ++i) {
      fs::create_symlink(to, dir / ("l" + std::to_string(i)));
      to = "l" + std::to_string(i);
    }
    const Status stored = StoreVersionResource(dir / to, to, kBlock);
    EXPECT_EQ(stored.ok(), links == 40) << links;
    if (!stored) {
      EXPECT_NE(stored.error().find("too many levels of links"), std::string::npos) << stored.error();
    }
  }
}

// A killed run's temporary file is removed by the next run for that module;
// the temporary files of other modules and names of other forms stay.
TEST(StampTemporaryFiles, StaleOnesOfThisModuleAreRemoved) {
  ScratchDir dir;
  const fs::path module = Module(dir);
  const std::string stale = fileio::TemporaryName("m.exe", 0x1234);
  const std::string others = fileio::TemporaryName("n.exe", 0x1234);
  const std::string lookalike = stale.substr(0, stale.size() - 4) + ".bak";
  for (const std::string &name : {stale, others, lookalike})
    WriteBytes(dir / name, {1, 2});
  ASSERT_TRUE(StoreVersionResource(module, "m.exe", kBlock));
  std::vector<std::string> expected = {"m.exe", others, lookalike};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(dir.Names(), expected);
}

// A name of the temporary form that is not a leftover of ours stays: in a
// shared folder (sticky and world-writable, as /tmp) another user's file,
// which root could remove, and a link, which is not followed.
struct Leftover {
  const char *name;
  // Makes something under `stale` in the folder.
  std::function<void(const ScratchDir &, const std::string &stale)> prepare;
  bool rootOnly;
  friend void PrintTo(const Leftover &c, std::ostream *os) { *os << c.name; }
};

class StampLeavesOthers : public ::testing::TestWithParam<Leftover> {};

TEST_P(StampLeavesOthers, InASharedFolder) {
  if (GetParam().rootOnly && !IsRoot()) GTEST_SKIP() << "only root can give a file to another user";
  ScratchDir dir;
  fs::permissions(dir.path(), fs::perms::all | fs::perms::sticky_bit);
  const fs::path module = Module(dir);
  const std::string stale = fileio::TemporaryName("m.exe", 0x5eed);
  GetParam().prepare(dir, stale);
  const std::vector<std::string> before = dir.Names();
  struct stat old {};
  ASSERT_EQ(::lstat((dir / stale).c_str(), &old), 0);
  ASSERT_TRUE(StoreVersionResource(module, "m.exe", kBlock));
  EXPECT_EQ(StoredVersion(module), kBlock);
  EXPECT_EQ(dir.Names(), before);
  struct stat now {};
  ASSERT_EQ(::lstat((dir / stale).c_str(), &now), 0) << stale << " was removed";
  EXPECT_EQ(std::tuple(now.st_ino, now.st_uid, now.st_size), std::tuple(old.st_ino, old.st_uid, old.st_size));
}

INSTANTIATE_TEST_SUITE_P(Files, StampLeavesOthers,
                         ::testing::Values(Leftover{"AnotherUsersFile",
                                                    [](const ScratchDir &d, const std::string &stale) {
                                                      WriteBytes(d / stale, {'m', 'i', 'n', 'e'});
                                                      const passwd *nobody = ::getpwnam("nobody");
                                                      ASSERT_NE(nobody, nullptr);
                                                      ASSERT_EQ(
                                                          ::chown((d / stale).c_str(), nobody->pw_uid, nobody->pw_gid),
                                                          0);
                                                    },
                                                    true},
                                           Leftover{"LinkToAFile",
                                                    [](const ScratchDir &d, const std::string &stale) {
                                                      WriteBytes(d / "kept", {1, 2, 3});
                                                      fs::create_symlink("kept", d / stale);
                                                    },
                                                    false}),
                         [](const ::testing::TestParamInfo<Leftover> &info) { return std::string(info.param.name); });

TEST(StampTemporaryFiles, NamesAreShortOfOneFormAndUnique) {
  const std::string longName(255, 'a');
  for (const std::string &target : {std::string("m.exe"), longName}) {
    const std::string first = fileio::TemporaryName(target, 1), second = fileio::TemporaryName(target, 2);
    EXPECT_EQ(first.size(), 20u);
    EXPECT_NE(first, second);
    EXPECT_TRUE(fileio::IsTemporaryNameOf(first, target));
    EXPECT_FALSE(fileio::IsTemporaryNameOf(first, target + "x"));
    EXPECT_FALSE(fileio::IsTemporaryNameOf(target, target));
    // One character changed: any hexadecimal digit in the random part, and
    // nothing else anywhere (the characters beside the digits' ranges too).
    for (std::size_t i = 0; i < first.size(); ++i) {
      for (char c : std::string("0123456789abcdef/:`gG")) {
        std::string other = first;
        other[i] = c;
        const bool random = i >= 12 && i < 16 && std::isxdigit(c) && !std::isupper(c);
        EXPECT_EQ(fileio::IsTemporaryNameOf(other, target), random || other == first) << other;
      }
    }
  }
  // A module whose own name is as long as a name may be.
  ScratchDir dir;
  WriteBytes(dir / longName, SmallModule());
  const Status stored = StoreVersionResource(dir / longName, "long", kBlock);
  EXPECT_TRUE(stored) << stored.error();
  EXPECT_EQ(StoredVersion(dir / longName), kBlock);
}

// What a change gives back travels whole: its kind picks the exit code
// (a change without one cannot be stamped), the message names the module
// once, and a dry run that changed things writes nothing.
struct ChangeOutcome {
  const char *name;
  Status change;
  bool dryRun;
  int code; // 0: success
  friend void PrintTo(const ChangeOutcome &c, std::ostream *os) { *os << c.name; }
};

class StampChange : public ::testing::TestWithParam<ChangeOutcome> {};

TEST_P(StampChange, ReportsItsKindAndLeavesTheModule) {
  const ChangeOutcome &c = GetParam();
  ScratchDir dir;
  const fs::path module = Module(dir);
  const Bytes before = ReadBytes(module);
  StampOptions options;
  options.dryRun = c.dryRun;
  const Status updated = UpdateModule(
      module, "m.exe",
      [&](pe::ResourceUpdate &update) -> Status {
        QM_RETURN_IF_ERROR(update.Put(pe::ResourceId(pe::kTypeVersion), pe::ResourceId(1), 0, kBlock));
        return c.change;
      },
      options);
  EXPECT_EQ(updated ? 0 : ToInt(ExitCodeFor(updated.failure())), c.code) << (updated ? "" : updated.error());
  if (!updated) {
    EXPECT_NE(updated.error().find("'m.exe' cannot be stamped: refused"), std::string::npos) << updated.error();
  }
  EXPECT_EQ(ReadBytes(module), before);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"m.exe"});
}

INSTANTIATE_TEST_SUITE_P(
    Files, StampChange,
    ::testing::Values(ChangeOutcome{"NoKindIsNoRoom", Fail("refused"), false, 7},
                      ChangeOutcome{"KindKept", Fail(ErrorKind::Invalid, "refused"), false, 10},
                      ChangeOutcome{"RefusedInADryRun", Fail(ErrorKind::WouldBreak, "refused"), true, 12},
                      ChangeOutcome{"DryRunWritesNothing", Ok(), true, 0}),
    [](const ::testing::TestParamInfo<ChangeOutcome> &info) { return std::string(info.param.name); });

// The rename fails (a folder now stands where the file was): the failure is
// reported and the new file does not stay behind.
using StampFailedRename = BothWays;

TEST_P(StampFailedRename, IsReportedAndLeavesNothing) {
  ScratchDir dir;
  const fs::path module = Module(dir);
  auto held = fileio::HeldFile::Open(module, true);
  ASSERT_TRUE(held.ok()) << held.error();
  fs::remove(module);
  fs::create_directory(module);
  WriteBytes(module / "inside", {7});
  Status replaced = held->Replace(SmallModule());
  ASSERT_FALSE(replaced.ok());
  EXPECT_EQ(replaced.kind(), ErrorKind::CannotWrite);
  EXPECT_NE(replaced.error().find("cannot put the new file in its place"), std::string::npos) << replaced.error();
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"m.exe"});
  EXPECT_EQ(ReadBytes(module / "inside"), Bytes{7});
}

// The same through a stamp: the module's own failure, with its exit code
// and its name once; what stands in its place now is left alone.
TEST_P(StampFailedRename, ThroughTheStampIsReportedWithItsCode) {
  ScratchDir dir;
  const fs::path module = Module(dir);
  auto failure = UpdateModule(module, "m.exe", [&](pe::ResourceUpdate &update) {
    fs::remove(module);
    fs::create_directory(module);
    WriteBytes(module / "inside", {7});
    return update.Put(pe::ResourceId(pe::kTypeVersion), pe::ResourceId(1), 0, kBlock);
  });
  ASSERT_FALSE(failure.ok()) << "reported as written";
  EXPECT_EQ(ToInt(stamp::ExitCodeFor(failure.failure())), 7) << failure.error();
  EXPECT_NE(failure.error().find("the module 'm.exe' cannot be stamped: cannot put the new file in its place"),
            std::string::npos)
      << failure.error();
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"m.exe"});
  EXPECT_EQ(ReadBytes(module / "inside"), Bytes{7});
}

INSTANTIATE_TEST_SUITE_P(Files, StampConcurrency, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "Unnamed" : "Named"; });
INSTANTIATE_TEST_SUITE_P(Files, StampFailedRename, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "Unnamed" : "Named"; });

} // namespace
} // namespace qm::stamp::test
