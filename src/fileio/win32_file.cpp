// Files on Windows.
//
// One run at a time per file is kept by a named mutex derived from the
// file's full path, held from the read to the replacement: a byte-range
// lock would not do, since the handle that holds it must be closed before
// the file can be replaced. Other programs are kept out by the share mode
// while the file is read, and a file another program holds is waited for.
// The replacement keeps the file's attributes, its owner and its access
// rules: on Windows its security descriptor, under Wine on a Linux host the
// POSIX owner, group and mode (see win32_ownership.cpp).
#include <array>
#include <cstdio>
#include <optional>
#include <thread>

#include "fileio/replace_steps.h"
#include "fileio/win32_file.h"

namespace qm::fileio {

namespace fs = std::filesystem;

namespace {

using win32::Handle;

std::string Reason(DWORD error) {
  char *text = nullptr;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<char *>(&text), 0, nullptr);
  std::string reason = length && text ? std::string(text, length) : "system error " + std::to_string(error);
  if (text) LocalFree(text);
  while (!reason.empty() &&
         (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.' || reason.back() == ' '))
    reason.pop_back();
  if (!reason.empty() && reason[0] >= 'A' && reason[0] <= 'Z') reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
  return reason;
}

Error OpenError(DWORD error) {
  switch (error) {
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
    return Fail(ErrorKind::Missing, "it does not exist");
  case ERROR_ACCESS_DENIED:
    return Fail(ErrorKind::Denied, "permission denied");
  case ERROR_SHARING_VIOLATION:
  case ERROR_LOCK_VIOLATION:
    return Fail(ErrorKind::Locked, "another program is using it");
  case ERROR_NOT_ENOUGH_MEMORY:
  case ERROR_OUTOFMEMORY:
    return Fail(ErrorKind::OutOfMemory, "out of memory");
  default:
    return Fail(ErrorKind::Unreadable, Reason(error));
  }
}

std::string Utf8(const std::wstring &text) {
  if (text.empty()) return {};
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length, nullptr, nullptr);
  return out;
}

// The full path in the form that lifts the old 260-character limit, so a
// temporary name beside a long path never makes it too long.
std::wstring LongForm(const fs::path &path) {
  const std::wstring given = path.wstring();
  if (given.rfind(L"\\\\?\\", 0) == 0 || given.rfind(L"\\\\.\\", 0) == 0) return given;
  const DWORD length = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (length == 0) return given;
  std::wstring full(length, L'\0');
  full.resize(GetFullPathNameW(given.c_str(), length, full.data(), nullptr));
  if (full.rfind(L"\\\\.\\", 0) == 0) return full; // a device
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

Result<std::vector<std::uint8_t>> ReadToEnd(HANDLE file, std::uint64_t limit) {
  std::vector<std::uint8_t> bytes;
  LARGE_INTEGER size{};
  if (GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size)) {
    if (static_cast<std::uint64_t>(size.QuadPart) > limit) {
      return Fail(ErrorKind::TooLarge, "it is larger than " + std::to_string(limit) + " bytes");
    }
    bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  }
  std::vector<std::uint8_t> chunk(64 * 1024);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr)) {
      const DWORD error = GetLastError();
      if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) break;
      return Fail(ErrorKind::Unreadable, "read failed: " + Reason(error));
    }
    if (got == 0) break;
    if (bytes.size() + got > limit) {
      return Fail(ErrorKind::TooLarge, "it is larger than " + std::to_string(limit) + " bytes");
    }
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
  }
  return bytes;
}

// What a file's replacement keeps of its attributes.
constexpr DWORD kCarriedAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The name of the mutex that one run holds while it changes `target`.
std::wstring MutexName(const std::wstring &target) {
  std::wstring folded = target;
  CharLowerBuffW(folded.data(), static_cast<DWORD>(folded.size()));
  std::uint64_t hash = 14695981039346656037ull;
  for (wchar_t c : folded) {
    hash ^= static_cast<std::uint16_t>(c);
    hash *= 1099511628211ull;
  }
  wchar_t name[64];
  std::swprintf(name, 64, L"Local\\quillmark-file-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

} // namespace

HeldFile::HeldFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
HeldFile::HeldFile(HeldFile &&) noexcept = default;
HeldFile &HeldFile::operator=(HeldFile &&) noexcept = default;
HeldFile::~HeldFile() = default;
bool HeldFile::Exists() const { return state_->exists; }

Result<HeldFile> HeldFile::Open(const fs::path &path, bool mustExist, std::chrono::milliseconds lockWait) {
  auto state = std::make_unique<State>();
  state->target = LongForm(path);
  const DWORD attributes = GetFileAttributesW(state->target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES && state->target.rfind(L"\\\\.\\", 0) == 0) {
    return Fail(ErrorKind::NotRegular, "it is a device, not a regular file");
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (mustExist || (error != ERROR_FILE_NOT_FOUND)) return OpenError(error);
  } else {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(ErrorKind::NotRegular, "it is a folder");
    if (attributes & FILE_ATTRIBUTE_DEVICE) return Fail(ErrorKind::NotRegular, "it is a device, not a regular file");
    state->attributes = attributes;
    // A link is followed to the file it names, which is the one replaced.
    Handle probe(CreateFileW(state->target.c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!probe.valid()) return OpenError(GetLastError());
    if (GetFileType(probe.get()) != FILE_TYPE_DISK) return Fail(ErrorKind::NotRegular, "it is not a regular file");
    wchar_t final[32768];
    const DWORD length = GetFinalPathNameByHandleW(probe.get(), final, 32768, FILE_NAME_NORMALIZED);
    if (length > 0 && length < 32768) state->target.assign(final, length);
  }

  state->mutex = Handle(CreateMutexW(nullptr, FALSE, MutexName(state->target).c_str()));
  if (state->mutex.valid()) {
    const DWORD waited = WaitForSingleObject(state->mutex.get(), static_cast<DWORD>(lockWait.count()));
    if (waited == WAIT_TIMEOUT) {
      return Fail(ErrorKind::Locked,
                  "another program is writing it (waited " + std::to_string(lockWait.count() / 1000) + " s)");
    }
    // WAIT_ABANDONED: a run that held it was killed; the file is whole.
    state->owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) return HeldFile(std::move(state));

  const auto deadline = std::chrono::steady_clock::now() + lockWait;
  for (;;) {
    state->file = Handle(CreateFileW(state->target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (state->file.valid()) break;
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION || std::chrono::steady_clock::now() >= deadline) {
      if (error == ERROR_SHARING_VIOLATION) return Fail(ErrorKind::Locked, "another program is using it");
      return OpenError(error);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(state->file.get(), &size)) return OpenError(GetLastError());
  state->size = static_cast<std::uint64_t>(size.QuadPart);
  state->exists = true;
  return HeldFile(std::move(state));
}

std::uint64_t HeldFile::Size() const { return state_->exists ? state_->size : 0; }

namespace {

bool ReadAtOffset(HANDLE file, std::uint64_t offset, std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1u << 24));
    DWORD got = 0;
    if (!ReadFile(file, out.data() + done, chunk, &got, &at) || got == 0) return false;
    done += got;
  }
  return true;
}

Status WriteAllTo(HANDLE file, std::span<const std::uint8_t> bytes, OVERLAPPED *at) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
    DWORD put = 0;
    OVERLAPPED where{};
    if (at) {
      const std::uint64_t offset = (std::uint64_t{at->OffsetHigh} << 32 | at->Offset) + done;
      where.Offset = static_cast<DWORD>(offset);
      where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    }
    if (!WriteFile(file, bytes.data() + done, chunk, &put, at ? &where : nullptr) || put == 0) {
      return Fail(ErrorKind::CannotWrite, "writing the new file failed: " + Reason(GetLastError()));
    }
    done += put;
  }
  return Ok();
}

// The new file as it is written: appended to in order, patched at the end.
class HandleSink final : public ContentSink {
public:
  HandleSink(HANDLE out, HANDLE held) : out_(out), held_(held) {}
  Status Write(std::span<const std::uint8_t> bytes) override { return WriteAllTo(out_, bytes, nullptr); }
  Status CopyHeld(std::uint64_t offset, std::uint64_t length) override {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(length, 1u << 20)));
    while (length > 0) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer.size()));
      if (!ReadAtOffset(held_, offset, std::span(buffer).first(n)))
        return Fail(ErrorKind::Unreadable, "reading the file failed: " + Reason(GetLastError()));
      if (Status st = Write(std::span(buffer).first(n)); !st) return st;
      offset += n;
      length -= n;
    }
    return Ok();
  }
  Status WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return WriteAllTo(out_, bytes, &at);
  }

private:
  HANDLE out_, held_;
};

// The steps of a replacement on Windows (see held_replace.cpp). The new file
// always has a name: Windows has no unnamed files.
class WindowsSteps final : public detail::ReplaceSteps {
public:
  explicit WindowsSteps(HeldFile::State &held) : s_(held) {
    const std::size_t slash = s_.target.find_last_of(L"\\/");
    folder_ = slash == std::wstring::npos ? L"." : s_.target.substr(0, slash);
    name_ = Utf8(slash == std::wstring::npos ? s_.target : s_.target.substr(slash + 1));
  }

  // The system refuses to replace a read-only file; say so before writing.
  Status Begin() override {
    if (s_.exists && (s_.attributes & FILE_ATTRIBUTE_READONLY)) return Fail(ErrorKind::CannotWrite, "it is read-only");
    return Ok();
  }

  const std::string &TargetName() const override { return name_; }
  bool HeldAgainstOtherRuns() const override { return s_.owned; }

  void RemoveOwnLeftovers() override {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder_ + L"\\.qm*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    const std::vector<std::uint8_t> user = win32::ProcessUserSid();
    do {
      if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
          IsTemporaryNameOf(Utf8(found.cFileName), name_)) {
        win32::RemoveOwnLeftover(folder_ + L"\\" + found.cFileName, user);
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }

  Result<bool> CreateUnnamed() override { return false; }

  Status CreateNamed(const std::string &name, bool &taken) override {
    tempPath_ = folder_ + L"\\" + std::wstring(name.begin(), name.end());
    temp_ =
        Handle(CreateFileW(tempPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (temp_.valid()) return Ok();
    const DWORD error = GetLastError();
    tempPath_.clear();
    taken = error == ERROR_FILE_EXISTS;
    return Fail(ErrorKind::CannotWrite, "cannot create the temporary file: " + Reason(error));
  }

  Status NameUnnamed(const std::string &, bool &) override {
    return Fail(ErrorKind::CannotWrite, "cannot name the new file: Windows has no unnamed files");
  }

  ContentSink &Sink() override {
    sink_.emplace(temp_.get(), s_.exists ? s_.file.get() : INVALID_HANDLE_VALUE);
    return *sink_;
  }

  // Closed once flushed: what follows reaches it by its name.
  Status Flush() override {
    if (!FlushFileBuffers(temp_.get())) {
      return Fail(ErrorKind::CannotWrite, "flushing the new file failed: " + Reason(GetLastError()));
    }
    temp_.Close();
    return Ok();
  }

  // ReplaceFileW would not do: Wine's moves the old file away first (for a
  // moment there is none), carries nothing and leaves a backup behind when
  // it fails. Under Wine the attributes go first, as setting them there
  // also sets write bits.
  Status CarryAttributes() override {
    SetFileAttributesW(tempPath_.c_str(), s_.attributes & kCarriedAttributes);
    return win32::CarryOwnershipAndAccess(s_.target, tempPath_, hostMode_);
  }

  Status RenameOver() override {
    // The file cannot be replaced while this run still has it open.
    s_.file.Close();
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (!MoveFileExW(tempPath_.c_str(), s_.target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      const DWORD error = GetLastError();
      if (error == ERROR_SHARING_VIOLATION && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
      if (error == ERROR_SHARING_VIOLATION) return Fail(ErrorKind::Locked, "another program is using it");
      return Fail(ErrorKind::CannotWrite, "cannot put the new file in its place: " + Reason(error));
    }
    if (hostMode_) win32::KeepHostMode(s_.target, *hostMode_);
    return Ok();
  }

  // MOVEFILE_WRITE_THROUGH returns only once the move is on the disk.
  void FlushFolder() override {}

  // Closed first: a file open without sharing cannot be deleted.
  void RemoveNamed() override {
    temp_.Close();
    if (!tempPath_.empty()) DeleteFileW(tempPath_.c_str());
  }

  // The held file was closed before the rename; the mutex goes with the
  // HeldFile.
  void LetGo() override {}

private:
  HeldFile::State &s_;
  std::wstring folder_;
  std::string name_;
  std::wstring tempPath_;
  Handle temp_;
  std::optional<HandleSink> sink_;
  std::optional<std::uint32_t> hostMode_;
};

} // namespace

std::unique_ptr<detail::ReplaceSteps> detail::StepsFor(HeldFile::State &state) {
  return std::make_unique<WindowsSteps>(state);
}

bool HeldFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (!state_->exists || offset > Size() || out.size() > Size() - offset) return false;
  return ReadAtOffset(state_->file.get(), offset, out);
}

Result<std::vector<std::uint8_t>> ReadInput(const fs::path &path, std::uint64_t limit) {
  const std::wstring full = LongForm(path);
  const DWORD attributes = GetFileAttributesW(full.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return Fail(ErrorKind::NotRegular, "it is a folder");
  }
  Handle file(
      CreateFileW(full.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return OpenError(GetLastError());
  return ReadToEnd(file.get(), limit);
}

Result<std::vector<std::uint8_t>> ReadStandardInput(std::uint64_t limit) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) {
    return Fail(ErrorKind::Unreadable, "the program has no standard input");
  }
  return ReadToEnd(input, limit);
}

// Windows has no unnamed files to allow.
void AllowUnnamedNewFiles(bool) {}

namespace {

// The volume and file index of an open file: what tells two names of one
// file apart from two files. Nothing for a console or a pipe.
std::optional<std::array<DWORD, 3>> Identity(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
  return std::array<DWORD, 3>{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// Opened for no access at all, only to be looked at; a folder too.
std::optional<std::array<DWORD, 3>> IdentityOfPath(const fs::path &path) {
  Handle file(CreateFileW(LongForm(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return std::nullopt;
  return Identity(file.get());
}

} // namespace

bool SameFile(const fs::path &a, const fs::path &b) {
  const auto first = IdentityOfPath(a);
  return first && first == IdentityOfPath(b);
}

bool IsStandardInput(const fs::path &path) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE); // not ours to close
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return false;
  const auto named = Identity(input);
  return named && named == IdentityOfPath(path);
}

fs::path PathFromArgument(const std::string &text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (wide <= 0) return {};
  std::wstring converted(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, converted.data(), wide);
  return fs::path(converted);
}

fs::path PathFromUtf8(const std::string &text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int wide = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (wide <= 0) return {};
  std::wstring converted(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), length, converted.data(), wide);
  return fs::path(converted);
}

} // namespace qm::fileio
