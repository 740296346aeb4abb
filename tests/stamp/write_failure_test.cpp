// A write that fails half way, made real without privileges: a child
// process whose file-size limit is below the new module. Root ignores
// folder permissions, but not this limit.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "stamp/module_injection.h"
#include "stamp_test_support.h"

namespace qm::stamp::test {
namespace {

TEST(WriteFailure, FileSizeLimitIsReportedAndTheOriginalKept) {
  ScratchDir dir;
  const fs::path path = dir / "module.dll";
  const Bytes original = SmallModule();
  WriteBytes(path, original);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    // The new module holds the old one and a new section.
    const rlimit limit{original.size() + 0x100, original.size() + 0x100};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
    const auto failure = StoreVersionResource(path, "module.dll", Bytes(0x1000, 0x22));
    if (failure) _exit(0);
    if (failure.error().find("'module.dll'") == std::string::npos) _exit(2);
    _exit(ToInt(stamp::ExitCodeFor(failure.failure())) == 7 ? 1 : 4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1)
      << "0: reported as written; 2: the message does not name the file; 4: not the exit code of a failed write";
  EXPECT_EQ(ReadBytes(path), original);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"module.dll"}) << "a temporary file was left";
}

// A build script needs to know which file was not written, whatever the
// reason; only running out of memory is said as such.
TEST(WriteFailure, AnOutputKeepsItsCodeWhateverWentWrong) {
  for (int k = 0; k <= static_cast<int>(ErrorKind::Different); ++k) {
    const auto kind = static_cast<ErrorKind>(k);
    EXPECT_EQ(ExitCodeFor(FileRole::Output, kind),
              kind == ErrorKind::OutOfMemory ? ExitCode::Internal : ExitCode::OutputUnwritable)
        << k;
  }
}

} // namespace
} // namespace qm::stamp::test
