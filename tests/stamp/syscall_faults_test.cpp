// The file layer under failing system calls: an interrupted or short call
// is carried on, a fallback is taken where there is one, and any other
// failure is reported with its reason while the module stays as it was and
// nothing is left beside it.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "fileio/file_io.h"
#include "stamp/module_injection.h"
#include "stamp_test_support.h"
#include "syscall_faults.h"

namespace qm::stamp::test {
namespace {

// Large enough that its tail is copied in the kernel, small pieces through
// memory; a certificate amid the tail, dropped by a stamp, splits that copy
// in two.
Bytes Module() {
  Bytes module = Concat(SmallModule(), Noise(300 * 1024, 1));
  constexpr std::size_t kCertificateDirectory = 0x40 + 24 + 96 + 8 * 4;
  const std::uint32_t at = 0x400 + 100 * 1024, size = 0x1000;
  for (std::size_t i = 0; i < 4; ++i) {
    module[kCertificateDirectory + i] = static_cast<std::uint8_t>(at >> (8 * i));
    module[kCertificateDirectory + 4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
  }
  return module;
}

const Bytes kBlock(0x5C, 0x33);

struct FaultCase {
  const char *name;
  Fault fault;
  const char *message;       // nullptr: the stamp or read ends as if nothing had happened
  bool stamp = true;         // else the module is read as an input
  bool named = false;        // a new file with a name from the start
  bool afterReading = false; // calls made while the module is read are let through
  int hits = 0;              // how many calls the fault must hit; 0: any
  friend void PrintTo(const FaultCase &c, std::ostream *os) { *os << c.name; }
};

// Whether new files start without a name here (O_TMPFILE, and /proc to
// name them): the rows about that way need it.
bool UnnamedFilesWork(const fs::path &folder) {
  if (::access("/proc/self/fd", X_OK) != 0) return false;
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

class SyscallFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SyscallFault, IsCarriedOnOrReportedWithTheModuleKept) {
  const FaultCase &c = GetParam();
  const Bytes original = Module();
  ScratchDir dir;
  const bool unnamedOnly = c.fault.call == Call::Linkat || c.fault.openFlag == O_TMPFILE;
  if (unnamedOnly && !UnnamedFilesWork(dir.path())) GTEST_SKIP() << "new files cannot start without a name here";
  WriteBytes(dir / "clean.exe", original);
  ASSERT_TRUE(StoreVersionResource(dir / "clean.exe", "clean.exe", kBlock));
  const Bytes stamped = ReadBytes(dir / "clean.exe");
  fs::remove(dir / "clean.exe");
  WriteBytes(dir / "m.exe", original);
  Fault fault = c.fault;
  if (c.afterReading) {
    const Planted counting({fault.call, 0, 0, 0, 0});
    StampOptions dryRun;
    dryRun.dryRun = true;
    ASSERT_TRUE(StoreVersionResource(dir / "m.exe", "m.exe", kBlock, dryRun));
    fault.skip += counting.seen();
  }

  fileio::AllowUnnamedNewFiles(!c.named);
  std::optional<Error> failure;
  int hits = 0;
  {
    const Planted planted(fault);
    if (c.stamp) {
      const Status stored = StoreVersionResource(dir / "m.exe", "m.exe", kBlock);
      if (!stored) failure = stored.failure();
    } else {
      const auto read = fileio::ReadInput(dir / "m.exe");
      if (!read)
        failure = read.failure();
      else
        EXPECT_TRUE(*read == original) << "the input read differs";
    }
    hits = planted.hits();
  }
  fileio::AllowUnnamedNewFiles(true);

  EXPECT_GT(hits, 0) << "the fault was never reached";
  if (c.hits != 0) {
    EXPECT_EQ(hits, c.hits);
  }
  if (c.message == nullptr) {
    EXPECT_FALSE(failure) << failure->message;
    EXPECT_TRUE(ReadBytes(dir / "m.exe") == (c.stamp ? stamped : original)) << "the module differs";
  } else {
    ASSERT_TRUE(failure) << "reported as done";
    EXPECT_NE(failure->message.find(c.message), std::string::npos) << failure->message;
    EXPECT_TRUE(ReadBytes(dir / "m.exe") == original) << "the module was changed";
  }
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"m.exe"}) << "a file was left beside it";
}

INSTANTIATE_TEST_SUITE_P(
    Calls, SyscallFault,
    ::testing::Values(
        FaultCase{"ReadInterrupted", {Call::Read, EINTR}, nullptr, false},
        FaultCase{"ReadShort", {Call::Read, 0, 1000, 0, -1}, nullptr, false},
        FaultCase{"ReadFails", {Call::Read, EIO}, "read failed: input/output error", false},
        FaultCase{"WriteInterrupted", {Call::Write, EINTR}, nullptr},
        FaultCase{"WriteShort", {Call::Write, 0, 100, 0, -1}, nullptr},
        FaultCase{"WriteNothing", {Call::Write, 0, 0}, "writing the new file failed: input/output error"},
        FaultCase{"DiskFull", {Call::Write, ENOSPC}, "writing the new file failed: no space left on device"},
        FaultCase{"PatchInterrupted", {Call::Pwrite, EINTR}, nullptr},
        FaultCase{"PatchShort", {Call::Pwrite, 0, 1, 0, -1}, nullptr},
        FaultCase{"PatchNothing", {Call::Pwrite, 0, 0}, "writing the new file failed: input/output error"},
        FaultCase{"PatchDiskFull", {Call::Pwrite, ENOSPC}, "writing the new file failed: no space left on device"},
        FaultCase{"PositionedReadInterrupted", {Call::Pread, EINTR, 0, 0, 3}, nullptr},
        FaultCase{"PositionedReadShort", {Call::Pread, 0, 7, 0, -1}, nullptr},
        FaultCase{
            "PositionedReadFails", {Call::Pread, EIO, 0, 0, -1}, "cannot read the module 'm.exe': reading it failed"},
        FaultCase{"PositionedReadEndsEarly", {Call::Pread, 0, 0, 0, -1}, "reading it failed part way"},
        FaultCase{"CopiedPieceUnreadable",
                  {Call::Pread, EIO, 0, 0, -1},
                  "cannot read the module 'm.exe': read failed: input/output error",
                  true,
                  false,
                  true},
        FaultCase{"KernelCopyAcrossFileSystems", {Call::CopyFileRange, EXDEV}, nullptr},
        FaultCase{"KernelCopyUnsupported", {Call::CopyFileRange, ENOSYS}, nullptr},
        // Once refused, the kernel copy is not asked again for the next pieces.
        FaultCase{"KernelCopyUnsupportedAskedOnce", {Call::CopyFileRange, EXDEV, 0, 0, -1}, nullptr, true, false, false, 1},
        FaultCase{"KernelCopyInterrupted", {Call::CopyFileRange, EINTR}, nullptr},
        FaultCase{"KernelCopyShort", {Call::CopyFileRange, 0, 4096, 0, -1}, nullptr},
        FaultCase{
            "KernelCopyFails", {Call::CopyFileRange, EIO}, "copying into the new file failed: input/output error"},
        FaultCase{"KernelCopyEndsEarly", {Call::CopyFileRange, 0, 0}, "the file ended while it was being copied"},
        FaultCase{"CopiedPieceEndsEarly",
                  {Call::Pread, 0, 0, 0, -1},
                  "the file ended while it was being copied",
                  true,
                  false,
                  true},
        FaultCase{"FlushFails", {Call::Fsync, EIO}, "flushing the new file failed: input/output error"},
        FaultCase{"ModeRefused", {Call::Fchmod, EPERM}, "the old one's mode: operation not permitted"},
        FaultCase{"RenameRefused", {Call::Renameat, EACCES}, "cannot put the new file in its place: permission denied"},
        FaultCase{"UnnamedUnsupported", {Call::Openat, EOPNOTSUPP, 0, 0, 1, O_TMPFILE}, nullptr},
        FaultCase{"UnnamedRefused", {Call::Openat, EACCES, 0, 0, 1, O_TMPFILE}, "in its folder: permission denied"},
        FaultCase{"NameTakenOnce", {Call::Openat, EEXIST, 0, 0, 1, O_EXCL}, nullptr, true, true},
        FaultCase{"NameAlwaysTaken",
                  {Call::Openat, EEXIST, 0, 0, -1, O_EXCL},
                  "temporary file: file exists",
                  true,
                  true,
                  false,
                  64}, // names tried before giving up
        FaultCase{
            "NameRefused", {Call::Openat, EACCES, 0, 0, 1, O_EXCL}, "temporary file: permission denied", true, true},
        FaultCase{"LinkNameTakenOnce", {Call::Linkat, EEXIST}, nullptr},
        FaultCase{"LinkRefused", {Call::Linkat, EACCES, 0, 0, -1}, "cannot name the new file: permission denied"},
        FaultCase{"LockInterrupted", {Call::Flock, EINTR}, nullptr},
        FaultCase{"NoLocksOnThisFileSystem", {Call::Flock, ENOLCK}, nullptr}),
    [](const ::testing::TestParamInfo<FaultCase> &info) { return std::string(info.param.name); });

} // namespace
} // namespace qm::stamp::test
