#pragma once
// The program's few dealings with files that differ between systems:
// reading an input whole, whatever it is (a regular file, a pipe, a FIFO,
// standard input), and replacing a file held against other writers.
//
// Messages say what happened without the path: the caller names the file
// once, in its own words.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/content_sink.h"
#include "base/result.h"

namespace qm::fileio {

// The largest input taken. A PE module is at most 4 GiB; everything else
// the program reads is far smaller.
inline constexpr std::uint64_t kMaxInputBytes = 0xFFFFFFFFu;

// How long a file held by another writer is waited for before giving up.
inline constexpr std::chrono::seconds kLockWait{3};

// Every byte of `path`, read to its end: a regular file, a pipe, a FIFO or
// a character device. A folder, and more than `limit` bytes, are refused.
Result<std::vector<std::uint8_t>> ReadInput(const std::filesystem::path &path, std::uint64_t limit = kMaxInputBytes);

// Every byte of the standard input stream, to its end.
Result<std::vector<std::uint8_t>> ReadStandardInput(std::uint64_t limit = kMaxInputBytes);

using ContentSink = qm::ContentSink; // receives a new file's contents in order (base/content_sink.h)

// A file about to be replaced: its links followed to the file they name,
// checked to be a regular file (or absent, when `mustExist` is false), and
// locked against every other writer of this program from the moment it is
// opened until it is replaced or let go. On Linux the lock is flock(2) on
// the file; on Windows a byte-range lock far past the end of the file, so
// readers are never blocked.
class HeldFile {
public:
  static Result<HeldFile> Open(const std::filesystem::path &path, bool mustExist,
                               std::chrono::milliseconds lockWait = kLockWait);
  HeldFile(HeldFile &&) noexcept;
  HeldFile &operator=(HeldFile &&) noexcept;
  ~HeldFile();

  bool Exists() const;
  // Its size when it was opened, and positioned reads: false unless all of
  // [offset, offset + out.size()) was read.
  std::uint64_t Size() const;
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const;
  // Writes `contents` to a new file beside it, flushed to the disk, with
  // the owner, group and mode of the file it replaces where the caller may
  // set them, then puts it in the file's place in one step. On failure the
  // file is left as it was and no new file remains. The lock is let go
  // afterwards either way.
  Status Replace(std::span<const std::uint8_t> contents);
  // The same, the new contents given by `produce` as they are written.
  Status Replace(const std::function<Status(ContentSink &)> &produce);

  struct State;

private:
  explicit HeldFile(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// Whether a new file may be written without a name until it is complete,
// where the system can (Linux with /proc); on by default. Off, it is written
// under a temporary name from the start, as on other systems: for tests of
// that way, and for file systems that refuse unnamed files in some other way.
void AllowUnnamedNewFiles(bool allowed);

// Whether two paths name one file (the same device and inode on POSIX, the
// same volume and file index on Windows): through links, hard links and
// other spellings alike. False when either names no file that can be looked
// at.
bool SameFile(const std::filesystem::path &a, const std::filesystem::path &b);
// Whether the standard input stream reads the file `path` names.
bool IsStandardInput(const std::filesystem::path &path);

// A command-line argument (in the system's 8-bit code page) as a path.
std::filesystem::path PathFromArgument(const std::string &text);

// UTF-8 text as a path: on Windows decoded to UTF-16, so every name the
// system can hold can be given; elsewhere the bytes as they are.
std::filesystem::path PathFromUtf8(const std::string &text);

// The name, inside the target's folder, of the temporary file that takes
// the new contents of `target`: short and of one fixed form whatever the
// target's own name, so it never makes a path too long, and recognisable,
// so a later run can remove one a killed run left behind.
//   .qm<8 hex digits from the target's name>-<4 random hex digits>.tmp
std::string TemporaryName(const std::string &targetName, std::uint16_t random);
// Whether `name` has the form TemporaryName gives for `targetName`.
bool IsTemporaryNameOf(const std::string &name, const std::string &targetName);

} // namespace qm::fileio
