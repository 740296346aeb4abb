// Inputs are read to their end whatever they are: a file, a FIFO, a pipe
// named by the shell (<(...)) or the standard input ("-"); what cannot be
// read says why, once, with its exit code.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <functional>
#include <thread>

#include "base/shown_text.h"
#include "fileio/file_io.h"
#include "stamp/module_injection.h"
#include "stamp_test_support.h"

namespace qm::stamp::test {
namespace {

const Bytes kContent(100000, 0x5A); // more than a pipe holds at once

// Writes kContent into the write end of a pipe or FIFO, then closes it.
void Feed(int fd) {
  std::size_t done = 0;
  while (done < kContent.size()) {
    const ssize_t put = ::write(fd, kContent.data() + done, kContent.size() - done);
    if (put <= 0) break;
    done += static_cast<std::size_t>(put);
  }
  ::close(fd);
}

struct Source {
  const char *name;
  // Gives the argument to read and starts whatever feeds it.
  std::function<std::string(const ScratchDir &, std::thread &)> prepare;
  int code; // 0: read whole
  const char *message;
  bool unprivilegedOnly = false;
  friend void PrintTo(const Source &c, std::ostream *os) { *os << c.name; }
};

class InputRead : public ::testing::TestWithParam<Source> {};

TEST_P(InputRead, TakesEveryByteOrSaysWhy) {
  const Source &c = GetParam();
  if (c.unprivilegedOnly && IsRoot()) GTEST_SKIP() << "root is not refused; run as another user";
  ScratchDir dir;
  std::thread feeder;
  const int savedStdin = ::dup(STDIN_FILENO);
  const std::string argument = c.prepare(dir, feeder);
  auto bytes = ReadWholeInput(fileio::PathFromArgument(argument), argument, "block file", FileRole::Input);
  if (feeder.joinable()) feeder.join();
  ::dup2(savedStdin, STDIN_FILENO);
  ::close(savedStdin);
  if (c.code == 0) {
    ASSERT_TRUE(bytes) << bytes.error();
    EXPECT_EQ(*bytes, kContent);
  } else {
    ASSERT_FALSE(bytes);
    EXPECT_EQ(ToInt(ExitCodeFor(bytes.failure())), c.code);
    EXPECT_EQ(bytes.error().find(c.message), bytes.error().size() - std::string(c.message).size()) << bytes.error();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, InputRead,
    ::testing::Values(Source{"RegularFile",
                             [](const ScratchDir &d, std::thread &) {
                               WriteBytes(d / "b.res", kContent);
                               return (d / "b.res").string();
                             },
                             0, ""},
                      Source{"Fifo",
                             [](const ScratchDir &d, std::thread &feeder) {
                               const fs::path fifo = d / "fifo";
                               ::mkfifo(fifo.c_str(), 0600);
                               feeder = std::thread([fifo] { Feed(::open(fifo.c_str(), O_WRONLY)); });
                               return fifo.string();
                             },
                             0, ""},
                      Source{"PipeNamedByTheShell",
                             [](const ScratchDir &, std::thread &feeder) {
                               int ends[2];
                               EXPECT_EQ(::pipe(ends), 0);
                               feeder = std::thread([w = ends[1]] { Feed(w); });
                               return "/dev/fd/" + std::to_string(ends[0]);
                             },
                             0, ""},
                      Source{"StandardInput",
                             [](const ScratchDir &, std::thread &feeder) {
                               int ends[2];
                               EXPECT_EQ(::pipe(ends), 0);
                               ::dup2(ends[0], STDIN_FILENO);
                               ::close(ends[0]);
                               feeder = std::thread([w = ends[1]] { Feed(w); });
                               return std::string("-");
                             },
                             0, ""},
                      Source{"Missing", [](const ScratchDir &d, std::thread &) { return (d / "none.res").string(); }, 3,
                             "none.res': it does not exist"},
                      Source{"Folder", [](const ScratchDir &d, std::thread &) { return d.path().string(); }, 3,
                             "': it is a folder"},
                      Source{"Socket",
                             [](const ScratchDir &d, std::thread &) {
                               const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
                               sockaddr_un address{};
                               address.sun_family = AF_UNIX;
                               (d / "b.res").string().copy(address.sun_path, sizeof address.sun_path - 1);
                               ::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address);
                               ::close(s);
                               return (d / "b.res").string();
                             },
                             3, "b.res': it is a socket, not a regular file"},
                      Source{"Unreadable",
                             [](const ScratchDir &d, std::thread &) {
                               WriteBytes(d / "b.res", kContent);
                               fs::permissions(d / "b.res", fs::perms::none);
                               return (d / "b.res").string();
                             },
                             3, "b.res': permission denied", true},
                      Source{"InAFolderNotEnterable",
                             [](const ScratchDir &d, std::thread &) {
                               fs::create_directory(d / "closed");
                               WriteBytes(d / "closed" / "b.res", kContent);
                               fs::permissions(d / "closed", fs::perms::owner_read);
                               return (d / "closed" / "b.res").string();
                             },
                             3, "b.res': permission denied", true}),
    [](const ::testing::TestParamInfo<Source> &info) { return std::string(info.param.name); });

TEST(InputRead, MoreThanTheLimitIsRefused) {
  ScratchDir dir;
  WriteBytes(dir / "big", Bytes(10, 1));
  for (std::uint64_t limit : {9u, 10u}) {
    auto bytes = fileio::ReadInput(dir / "big", limit);
    EXPECT_EQ(bytes.ok(), limit == 10) << limit;
    if (!bytes) {
      EXPECT_EQ(bytes.kind(), ErrorKind::TooLarge);
    }
  }
  // One byte past the largest module there can be, refused from its size
  // before a byte is read (the file is sparse, so it costs nothing here).
  fs::resize_file(dir / "big", std::uint64_t{1} << 32);
  const auto huge = fileio::ReadInput(dir / "big");
  ASSERT_FALSE(huge);
  EXPECT_NE(huge.error().find("larger than 4294967295 bytes"), std::string::npos) << huge.error();
}

struct Escape {
  std::string text;
  std::string printed;
};

class EscapedText : public ::testing::TestWithParam<Escape> {};

TEST_P(EscapedText, ShowsControlsAsEscapes) { EXPECT_EQ(EscapeControls(GetParam().text), GetParam().printed); }

INSTANTIATE_TEST_SUITE_P(Text, EscapedText,
                         ::testing::Values(Escape{"plain C:\\path", "plain C:\\path"},
                                           Escape{"a\nb\r\tc", "a\\nb\\r\\tc"},
                                           Escape{"\x1b[31m\x7f", "\\x1B[31m\\x7F"},
                                           Escape{"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},
                                           Escape{"\xC2\x85|\xE2\x80\xAE|\xE2\x80\xA8", "\\u0085|\\u202E|\\u2028"},
                                           Escape{"\xC2", "\xC2"}, Escape{std::string("a\0b", 3), "a\\x00b"}));

TEST(Excerpt, CutsBetweenCharacters) {
  EXPECT_EQ(Excerpt("short", 10), "short");
  EXPECT_EQ(Excerpt("abcdef", 3), "abc...");
  EXPECT_EQ(Excerpt("ab\xC3\xA9z", 3), "ab...");
}

} // namespace
} // namespace qm::stamp::test
