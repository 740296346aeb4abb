#pragma once
// What the files on Windows share: the handle that closes itself, the held
// file's state, and the new file's owner and access (win32_ownership.cpp).
// Only the file layer's Windows sources include this.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fileio/file_io.h"

namespace qm::fileio {
namespace win32 {

class Handle {
public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  Handle(Handle &&other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  Handle &operator=(Handle &&other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
    }
    return *this;
  }
  ~Handle() { Close(); }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  void Close() {
    if (valid()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

private:
  HANDLE handle_;
};

// Gives the new file at `temp` the owner and access rules of `target`: on
// Windows its security descriptor, under Wine on a Linux host the POSIX
// owner, group and mode, whose mode `hostMode` then gets.
Status CarryOwnershipAndAccess(const std::wstring &target, const std::wstring &temp,
                               std::optional<std::uint32_t> &hostMode);
// Puts back the mode `CarryOwnershipAndAccess` gave once the file is renamed.
void KeepHostMode(const std::wstring &target, std::uint32_t mode);

// The user the process runs as, or an empty buffer when it cannot be told.
std::vector<std::uint8_t> ProcessUserSid();
// Removes the temporary file at `path` that a killed run left, if it is a
// regular file that `user` owns.
void RemoveOwnLeftover(const std::wstring &path, const std::vector<std::uint8_t> &user);

} // namespace win32

struct HeldFile::State {
  std::wstring target; // long form, links followed
  win32::Handle file;  // open for reading, others may only read
  win32::Handle mutex;
  bool owned = false;
  bool exists = false;
  DWORD attributes = 0;
  std::uint64_t size = 0;
  ~State() {
    if (owned) ReleaseMutex(mutex.get());
  }
};

} // namespace qm::fileio
