#include "syscall_faults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <optional>

namespace qm::stamp::test {
namespace {

struct Armed {
  Fault fault;
  int seen = 0;
  int hits = 0;
};
thread_local std::optional<Armed> armed;

// The fault for this call, if it is one of those to hit.
const Fault *Hit(Call call, int openFlags = 0) {
  if (!armed || armed->fault.call != call) return nullptr;
  if (armed->fault.openFlag != 0 && (openFlags & armed->fault.openFlag) != armed->fault.openFlag) return nullptr;
  const int index = armed->seen++;
  if (index < armed->fault.skip) return nullptr;
  if (armed->fault.times >= 0 && index >= armed->fault.skip + armed->fault.times) return nullptr;
  ++armed->hits;
  return &armed->fault;
}

// A transfer cut short to at most `limit` bytes (none: an end of file, or
// nothing written), or failed.
template <typename Real> ssize_t Transfer(Call call, std::size_t count, Real real) {
  if (const Fault *f = Hit(call)) {
    if (f->error != 0) {
      errno = f->error;
      return -1;
    }
    if (f->limit == 0) return 0;
    count = std::min(count, f->limit);
  }
  return real(count);
}

template <typename Real> int Plain(Call call, int openFlags, Real real) {
  if (const Fault *f = Hit(call, openFlags)) {
    errno = f->error;
    return -1;
  }
  return real();
}

} // namespace

Planted::Planted(const Fault &fault) { armed = Armed{fault}; }
Planted::~Planted() { armed.reset(); }
int Planted::seen() const { return armed ? armed->seen : 0; }
int Planted::hits() const { return armed ? armed->hits : 0; }

} // namespace qm::stamp::test

using qm::stamp::test::Call;
using qm::stamp::test::Plain;
using qm::stamp::test::Transfer;

extern "C" {
ssize_t __real_read(int, void *, size_t);
ssize_t __real_write(int, const void *, size_t);
ssize_t __real_pread(int, void *, size_t, off_t);
ssize_t __real_pwrite(int, const void *, size_t, off_t);
ssize_t __real_copy_file_range(int, off_t *, int, off_t *, size_t, unsigned);
int __real_fsync(int);
int __real_fchmod(int, mode_t);
int __real_renameat(int, const char *, int, const char *);
int __real_openat(int, const char *, int, ...);
int __real_linkat(int, const char *, int, const char *, int);
int __real_flock(int, int);

ssize_t __wrap_read(int fd, void *buffer, size_t count) {
  return Transfer(Call::Read, count, [&](size_t n) { return __real_read(fd, buffer, n); });
}
ssize_t __wrap_write(int fd, const void *buffer, size_t count) {
  return Transfer(Call::Write, count, [&](size_t n) { return __real_write(fd, buffer, n); });
}
ssize_t __wrap_pread(int fd, void *buffer, size_t count, off_t offset) {
  return Transfer(Call::Pread, count, [&](size_t n) { return __real_pread(fd, buffer, n, offset); });
}
ssize_t __wrap_pwrite(int fd, const void *buffer, size_t count, off_t offset) {
  return Transfer(Call::Pwrite, count, [&](size_t n) { return __real_pwrite(fd, buffer, n, offset); });
}
ssize_t __wrap_copy_file_range(int in, off_t *inAt, int out, off_t *outAt, size_t count, unsigned flags) {
  return Transfer(Call::CopyFileRange, count,
                  [&](size_t n) { return __real_copy_file_range(in, inAt, out, outAt, n, flags); });
}
int __wrap_fsync(int fd) {
  return Plain(Call::Fsync, 0, [&] { return __real_fsync(fd); });
}
int __wrap_fchmod(int fd, mode_t mode) {
  return Plain(Call::Fchmod, 0, [&] { return __real_fchmod(fd, mode); });
}
int __wrap_renameat(int fromDir, const char *from, int toDir, const char *to) {
  return Plain(Call::Renameat, 0, [&] { return __real_renameat(fromDir, from, toDir, to); });
}
int __wrap_openat(int dir, const char *path, int flags, ...) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list rest;
    va_start(rest, flags);
    mode = va_arg(rest, mode_t);
    va_end(rest);
  }
  return Plain(Call::Openat, flags, [&] { return __real_openat(dir, path, flags, mode); });
}
int __wrap_linkat(int fromDir, const char *from, int toDir, const char *to, int flags) {
  return Plain(Call::Linkat, 0, [&] { return __real_linkat(fromDir, from, toDir, to, flags); });
}
int __wrap_flock(int fd, int operation) {
  return Plain(Call::Flock, 0, [&] { return __real_flock(fd, operation); });
}
}
