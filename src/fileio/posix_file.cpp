// Files on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "fileio/file_io.h"
#include "fileio/replace_steps.h"

namespace qm::fileio {

namespace fs = std::filesystem;

namespace {

constexpr int kNoFile = -1;

class Descriptor {
public:
  explicit Descriptor(int fd = kNoFile) : fd_(fd) {}
  Descriptor(Descriptor &&other) noexcept : fd_(std::exchange(other.fd_, kNoFile)) {}
  Descriptor &operator=(Descriptor &&other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, kNoFile);
    }
    return *this;
  }
  ~Descriptor() { Close(); }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = kNoFile;
  }

private:
  int fd_;
};

std::string Reason(int error) {
  // Under a limit on file sizes (ulimit -f) the write fails with EFBIG once
  // the signal that would have ended the process is ignored.
  if (error == EFBIG) return "the file would pass the size limit on files (ulimit -f)";
  std::string text = std::strerror(error);
  // A string ends in '\0', so text[1] of a one-letter text is no letter.
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' && !(text[1] >= 'A' && text[1] <= 'Z')) {
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  }
  return text;
}

// The error of a failed open or stat, in words that say what happened.
Error OpenError(int error) {
  switch (error) {
  case ENOENT:
    return Fail(ErrorKind::Missing, "it does not exist");
  case ENOTDIR:
    return Fail(ErrorKind::Missing, "it does not exist (a part of its path is not a folder)");
  case EACCES:
  case EPERM:
    return Fail(ErrorKind::Denied, "permission denied");
  case ENOMEM:
    return Fail(ErrorKind::OutOfMemory, "out of memory");
  default:
    return Fail(ErrorKind::Unreadable, Reason(error));
  }
}

// What a file that is not regular is, for the message that refuses it.
Error NotRegular(mode_t mode) {
  const char *what = S_ISDIR(mode)    ? "it is a folder"
                     : S_ISCHR(mode)  ? "it is a character device, not a regular file"
                     : S_ISBLK(mode)  ? "it is a block device, not a regular file"
                     : S_ISFIFO(mode) ? "it is a FIFO, not a regular file"
                     : S_ISSOCK(mode) ? "it is a socket, not a regular file"
                                      : "it is not a regular file";
  return Fail(ErrorKind::NotRegular, what);
}

// Calls again while a signal interrupts the call before it did anything.
template <class Call> auto Uninterrupted(Call call) {
  for (;;) {
    const auto result = call();
    if (result >= 0 || errno != EINTR) return result;
  }
}

Result<std::vector<std::uint8_t>> ReadToEnd(int fd, std::uint64_t limit) {
  std::vector<std::uint8_t> bytes;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    if (static_cast<std::uint64_t>(info.st_size) > limit) {
      return Fail(ErrorKind::TooLarge, "it is larger than " + std::to_string(limit) + " bytes");
    }
    bytes.reserve(static_cast<std::size_t>(info.st_size));
  }
  std::uint8_t chunk[64 * 1024];
  for (;;) {
    const ssize_t got = Uninterrupted([&] { return ::read(fd, chunk, sizeof chunk); });
    if (got < 0) return Fail(ErrorKind::Unreadable, "read failed: " + Reason(errno));
    if (got == 0) break;
    if (bytes.size() + static_cast<std::uint64_t>(got) > limit) {
      return Fail(ErrorKind::TooLarge, "it is larger than " + std::to_string(limit) + " bytes");
    }
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  return bytes;
}

Status WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = Uninterrupted([&] { return ::write(fd, bytes.data() + done, bytes.size() - done); });
    if (put <= 0) return Fail(ErrorKind::CannotWrite, "writing the new file failed: " + Reason(put < 0 ? errno : EIO));
    done += static_cast<std::size_t>(put);
  }
  return Ok();
}

// Follows symbolic links to the file they finally name, which need not
// exist yet; a relative link is taken from the folder the link is in.
Result<fs::path> FollowLinks(fs::path path) {
  // As many links as the system follows in one path (MAXSYMLINKS), then the
  // file they lead to.
  for (int depth = 0; depth <= 40; ++depth) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
      if (errno == ENOENT) return path;
      return OpenError(errno);
    }
    if (!S_ISLNK(info.st_mode)) return path;
    std::error_code ec;
    const fs::path target = fs::read_symlink(path, ec);
    if (ec) return Fail(ErrorKind::Unreadable, "cannot read the link: " + ec.message());
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return Fail(ErrorKind::Unreadable, "too many levels of links");
}

// A write past the limit on file sizes raises SIGXFSZ, whose default ends
// the process with no word said and the stamp half done (the file itself is
// never harmed: it is replaced only once the new file is whole). Ignored,
// the write fails with EFBIG and the failure is reported like any other. A
// handler the program set up itself is left alone.
void IgnoreFileSizeSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (::sigaction(SIGXFSZ, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGXFSZ, &action, nullptr);
  });
}

std::atomic<bool> unnamedAllowed{true};

} // namespace

struct HeldFile::State {
  fs::path target; // the links followed
  Descriptor file; // open and locked when the file exists
  struct stat info {};
  bool exists = false;
  bool locked = false;
};

HeldFile::HeldFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
HeldFile::HeldFile(HeldFile &&) noexcept = default;
HeldFile &HeldFile::operator=(HeldFile &&) noexcept = default;
HeldFile::~HeldFile() = default;
bool HeldFile::Exists() const { return state_->exists; }

Result<HeldFile> HeldFile::Open(const fs::path &path, bool mustExist, std::chrono::milliseconds lockWait) {
  auto target = FollowLinks(path);
  if (!target) return target.failure();
  auto state = std::make_unique<State>();
  state->target = std::move(*target);
  const auto deadline = std::chrono::steady_clock::now() + lockWait;
  // A writer that held the lock before us renames a new file over the old
  // one: the lock we then get is on a file no longer there, so look again.
  for (int attempt = 0; attempt < 100; ++attempt) {
    struct stat info {};
    if (::stat(state->target.c_str(), &info) != 0) {
      if (errno == ENOENT && !mustExist) return HeldFile(std::move(state));
      return OpenError(errno);
    }
    // Never open what is not a regular file: opening a device may have
    // effects of its own, and a FIFO would wait for a writer.
    if (!S_ISREG(info.st_mode)) return NotRegular(info.st_mode);
    Descriptor fd(::open(state->target.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.valid()) return OpenError(errno);
    if (::fstat(fd.get(), &info) != 0) return OpenError(errno);
    if (!S_ISREG(info.st_mode)) return NotRegular(info.st_mode);
    bool locked = false;
    for (;;) {
      if (Uninterrupted([&] { return ::flock(fd.get(), LOCK_EX | LOCK_NB); }) == 0) {
        locked = true;
        break;
      }
      // A file system without locks: go on unlocked rather than refuse.
      if (errno != EWOULDBLOCK) break;
      if (std::chrono::steady_clock::now() >= deadline) {
        return Fail(ErrorKind::Locked, "another program is writing it (waited " +
                                           std::to_string(lockWait.count() / 1000.0).substr(0, 3) + " s)");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    struct stat now {};
    if (::stat(state->target.c_str(), &now) == 0 && (now.st_dev != info.st_dev || now.st_ino != info.st_ino)) continue;
    state->file = std::move(fd);
    state->info = info;
    state->exists = true;
    state->locked = locked;
    return HeldFile(std::move(state));
  }
  return Fail(ErrorKind::Locked, "it keeps being replaced by another program");
}

std::uint64_t HeldFile::Size() const { return state_->exists ? static_cast<std::uint64_t>(state_->info.st_size) : 0; }

bool HeldFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (!state_->exists || offset > Size() || out.size() > Size() - offset) return false;
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t got = Uninterrupted([&] {
      return ::pread(state_->file.get(), out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
    });
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

namespace {

// The new file as it is written: appended to in order, patched at the end.
class DescriptorSink final : public ContentSink {
public:
  DescriptorSink(int out, int held) : out_(out), held_(held) {}

  Status Write(std::span<const std::uint8_t> bytes) override {
    QM_RETURN_IF_ERROR(WriteAll(out_, bytes));
    Written(bytes.size());
    return Ok();
  }

  Status CopyHeld(std::uint64_t offset, std::uint64_t length) override {
    // Small pieces are cheaper through memory than through another call.
    if (length >= kKernelCopyMinimum && kernelCopy_) {
      auto from = static_cast<off_t>(offset);
      while (length > 0) {
        const auto step = static_cast<std::size_t>(std::min(length, kWritebackStep));
        const ssize_t put = Uninterrupted([&] { return ::copy_file_range(held_, &from, out_, nullptr, step, 0); });
        if (put < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
          kernelCopy_ = false;
          break;
        }
        if (put < 0) return Fail(ErrorKind::CannotWrite, "copying into the new file failed: " + Reason(errno));
        if (put == 0) return Fail(ErrorKind::Unreadable, "the file ended while it was being copied");
        length -= static_cast<std::uint64_t>(put);
        Written(static_cast<std::uint64_t>(put));
      }
      offset = static_cast<std::uint64_t>(from);
    }
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(length, kBuffer)));
    while (length > 0) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer.size()));
      std::size_t got = 0;
      while (got < n) {
        const ssize_t r = Uninterrupted(
            [&] { return ::pread(held_, buffer.data() + got, n - got, static_cast<off_t>(offset + got)); });
        if (r < 0) return Fail(ErrorKind::Unreadable, "read failed: " + Reason(errno));
        if (r == 0) return Fail(ErrorKind::Unreadable, "the file ended while it was being copied");
        got += static_cast<std::size_t>(r);
      }
      QM_RETURN_IF_ERROR(Write(std::span(buffer).first(n)));
      offset += n;
      length -= n;
    }
    return Ok();
  }

  Status WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t put = Uninterrupted(
          [&] { return ::pwrite(out_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done)); });
      if (put <= 0)
        return Fail(ErrorKind::CannotWrite, "writing the new file failed: " + Reason(put < 0 ? errno : EIO));
      done += static_cast<std::size_t>(put);
    }
    return Ok();
  }

private:
  // The disk starts on what is written while the rest is still being
  // copied, so the flush before the rename waits only for the last piece
  // instead of the whole file. Only a start: the flush still makes it
  // durable, and a system that ignores the hint loses nothing.
  void Written(std::uint64_t bytes) {
    unflushed_ += bytes;
    if (unflushed_ < kWritebackStep) return;
    ::sync_file_range(out_, 0, 0, SYNC_FILE_RANGE_WRITE);
    unflushed_ = 0;
  }

  static constexpr std::uint64_t kKernelCopyMinimum = 64 * 1024;
  static constexpr std::uint64_t kBuffer = 1u << 20;
  static constexpr std::uint64_t kWritebackStep = 8u << 20;
  int out_, held_;
  bool kernelCopy_ = true;
  std::uint64_t unflushed_ = 0;
};

// The steps of a replacement on POSIX systems (see held_replace.cpp).
class PosixSteps final : public detail::ReplaceSteps {
public:
  explicit PosixSteps(HeldFile::State &held) : s_(held), name_(held.target.filename().string()) {}

  Status Begin() override {
    IgnoreFileSizeSignal();
    const fs::path folder = s_.target.parent_path().empty() ? fs::path(".") : s_.target.parent_path();
    folder_ = Descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder_.valid()) return Fail(ErrorKind::CannotWrite, "cannot open its folder: " + Reason(errno));
    return Ok();
  }

  const std::string &TargetName() const override { return name_; }
  bool HeldAgainstOtherRuns() const override { return s_.locked; }

  // Once a file of ours is seen under the name (fstatat without following
  // links), in a sticky folder (as /tmp) no other user but the folder's
  // owner can put something else under it before the unlink; a link is
  // never followed, and another user's file is left even where root could
  // remove it.
  void RemoveOwnLeftovers() override {
    DIR *dir = ::fdopendir(::dup(folder_.get()));
    if (!dir) return;
    while (const dirent *entry = ::readdir(dir)) {
      struct stat info {};
      if (IsTemporaryNameOf(entry->d_name, name_) &&
          ::fstatat(folder_.get(), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
          info.st_uid == ::geteuid()) {
        ::unlinkat(folder_.get(), entry->d_name, 0);
      }
    }
    ::closedir(dir);
  }

  // Naming an unnamed file takes /proc (or a privilege); without it, the
  // named way from the start.
  Result<bool> CreateUnnamed() override {
    static const bool procAvailable = ::access("/proc/self/fd", X_OK) == 0;
    if (!procAvailable || !unnamedAllowed) return false;
    temp_ = Descriptor(::openat(folder_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, CreateMode()));
    if (temp_.valid()) return true;
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return false;
    return Fail(ErrorKind::CannotWrite, "cannot create the new file in its folder: " + Reason(errno));
  }

  Status CreateNamed(const std::string &name, bool &taken) override {
    temp_ = Descriptor(::openat(folder_.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, CreateMode()));
    if (temp_.valid()) {
      tempName_ = name;
      return Ok();
    }
    taken = errno == EEXIST;
    return Fail(ErrorKind::CannotWrite, "cannot create the temporary file: " + Reason(errno));
  }

  Status NameUnnamed(const std::string &name, bool &taken) override {
    const std::string self = "/proc/self/fd/" + std::to_string(temp_.get());
    int rc = ::linkat(AT_FDCWD, self.c_str(), folder_.get(), name.c_str(), AT_SYMLINK_FOLLOW);
    if (rc != 0 && errno == ENOENT) rc = ::linkat(temp_.get(), "", folder_.get(), name.c_str(), AT_EMPTY_PATH);
    if (rc == 0) {
      tempName_ = name;
      return Ok();
    }
    taken = errno == EEXIST;
    return Fail(ErrorKind::CannotWrite, "cannot name the new file: " + Reason(errno));
  }

  ContentSink &Sink() override {
    sink_.emplace(temp_.get(), s_.exists ? s_.file.get() : kNoFile);
    return *sink_;
  }

  Status Flush() override {
    if (::fsync(temp_.get()) != 0)
      return Fail(ErrorKind::CannotWrite, "flushing the new file failed: " + Reason(errno));
    return Ok();
  }

  Status CarryAttributes() override {
    mode_t mode = s_.info.st_mode & 07777;
    if (s_.info.st_uid != ::geteuid() || s_.info.st_gid != ::getegid()) {
      if (::fchown(temp_.get(), s_.info.st_uid, s_.info.st_gid) != 0 &&
          ::fchown(temp_.get(), static_cast<uid_t>(-1), s_.info.st_gid) != 0) {
        // Neither owner nor group could be given: the file keeps the
        // caller's, and what it got is read back below either way.
      }
      struct stat now {};
      if (::fstat(temp_.get(), &now) == 0) {
        // A set-id bit stays only on the owner it was given by.
        if (now.st_uid != s_.info.st_uid) mode &= ~S_ISUID;
        if (now.st_gid != s_.info.st_gid) mode &= ~S_ISGID;
      }
    }
    if (::fchmod(temp_.get(), mode) != 0) {
      return Fail(ErrorKind::CannotWrite, "cannot give the new file the old one's mode: " + Reason(errno));
    }
    return Ok();
  }

  Status RenameOver() override {
    if (::renameat(folder_.get(), tempName_.c_str(), folder_.get(), name_.c_str()) != 0) {
      return Fail(ErrorKind::CannotWrite, "cannot put the new file in its place: " + Reason(errno));
    }
    return Ok();
  }

  void FlushFolder() override { ::fsync(folder_.get()); }
  void RemoveNamed() override { ::unlinkat(folder_.get(), tempName_.c_str(), 0); }
  // The lock goes with the descriptor, only now: let go before the rename,
  // another run could lock the old file, still under its name, and write a
  // replacement of it that undoes this one.
  void LetGo() override { s_.file.Close(); }

private:
  // Mode 0600 until it takes the old file's own; a file that is new is
  // made as any other, under the caller's umask.
  mode_t CreateMode() const { return s_.exists ? 0600 : 0666; }

  HeldFile::State &s_;
  const std::string name_;
  Descriptor folder_, temp_;
  std::string tempName_;
  std::optional<DescriptorSink> sink_;
};

} // namespace

std::unique_ptr<detail::ReplaceSteps> detail::StepsFor(HeldFile::State &state) {
  return std::make_unique<PosixSteps>(state);
}
Result<std::vector<std::uint8_t>> ReadInput(const fs::path &path, std::uint64_t limit) {
  struct stat info {};
  // What cannot be looked at is reported by the open below.
  if (::stat(path.c_str(), &info) == 0 && (S_ISDIR(info.st_mode) || S_ISSOCK(info.st_mode)))
    return NotRegular(info.st_mode);
  // A FIFO is opened without O_NONBLOCK: like a shell's redirection, it
  // waits for its writer.
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) return OpenError(errno);
  if (::fstat(fd.get(), &info) == 0 && S_ISDIR(info.st_mode)) return NotRegular(info.st_mode);
  return ReadToEnd(fd.get(), limit);
}

Result<std::vector<std::uint8_t>> ReadStandardInput(std::uint64_t limit) { return ReadToEnd(STDIN_FILENO, limit); }

namespace {

bool SameIdentity(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

} // namespace

bool SameFile(const fs::path &a, const fs::path &b) {
  struct stat first {
  }, second{};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && SameIdentity(first, second);
}

bool IsStandardInput(const fs::path &path) {
  struct stat input {
  }, named{};
  return ::fstat(STDIN_FILENO, &input) == 0 && ::stat(path.c_str(), &named) == 0 && SameIdentity(input, named);
}

fs::path PathFromArgument(const std::string &text) { return fs::path(text); }

fs::path PathFromUtf8(const std::string &text) { return fs::path(text); }

void AllowUnnamedNewFiles(bool allowed) { unnamedAllowed = allowed; }

} // namespace qm::fileio
