// A write that fails half way, made real without privileges: a child
// process whose file-size limit is below the new contents. Root ignores
// folder permissions, but not this limit.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pe/safe_write.h"
#include "test_support.h"

namespace qm::pe::test {
namespace {

TEST(WriteFailure, FileSizeLimitIsReportedAndTheOriginalKept) {
  const std::filesystem::path dir = ScratchDir("size_limit");
  const std::filesystem::path path = dir / "module.dll";
  const std::vector<std::uint8_t> original(0x100, 0x11);
  WriteBytes(path, original);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{0x1000, 0x1000};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
    const Status st = ReplaceFileContents(path, std::vector<std::uint8_t>(0x10000, 0x22));
    _exit(st.ok() ? 0 : (st.error().find("module.dll") != std::string::npos ? 1 : 2));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1) << "0: reported as written; 2: the message does not name the file";
  EXPECT_EQ(ReadBytes(path), original);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1)
      << "a temporary file was left";
}

} // namespace
} // namespace qm::pe::test
