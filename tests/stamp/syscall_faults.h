#pragma once
// Failures of the system calls under the file layer, planted on demand: the
// test binary is linked with the linker's --wrap for each call below, so
// the file layer's calls come here first. Nothing is planted unless a test
// arms a fault, and a fault only hits calls made on the thread that armed
// it (a feeding thread's writes go through untouched).
#include <cerrno>
#include <cstddef>

namespace qm::stamp::test {

enum class Call { Read, Write, Pread, Pwrite, CopyFileRange, Fsync, Fchmod, Renameat, Openat, Linkat, Flock };

struct Fault {
  Call call;
  int error = 0;         // the call fails with this errno; 0: it succeeds, at most `limit` bytes
  std::size_t limit = 0; // for a transfer that succeeds: 0 is an end of file or nothing written
  int skip = 0;          // calls let through first
  int times = 1;         // calls hit after those; -1: every one
  int openFlag = 0;      // for Openat: only opens with this flag set count
};

// Plants `fault` until the guard ends; seen() counts the calls of its kind,
// hits() those it hit.
class Planted {
public:
  explicit Planted(const Fault &fault);
  ~Planted();
  Planted(const Planted &) = delete;
  Planted &operator=(const Planted &) = delete;
  int seen() const;
  int hits() const;
};

} // namespace qm::stamp::test
