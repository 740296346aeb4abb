// Files on Windows.
//
// One run at a time per file is kept by a named mutex derived from the
// file's full path, held from the read to the replacement: a byte-range
// lock would not do, since the handle that holds it must be closed before
// the file can be replaced. Other programs are kept out by the share mode
// while the file is read, and a file another program holds is waited for.
// The replacement keeps the file's attributes, its owner and its access
// rules: on Windows its security descriptor, under Wine on a Linux host the
// POSIX owner, group and mode (see HostOwnership below).
#include <windows.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <thread>

#include "fileio/file_io.h"

namespace qm::fileio {

namespace fs = std::filesystem;

namespace {

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

std::uint16_t RandomWord() {
  static thread_local std::mt19937 generator{std::random_device{}()};
  return static_cast<std::uint16_t>(generator());
}

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

// ---- the new file's owner and access ----------------------------------------
//
// Wine makes a file's security descriptor up from its POSIX mode when asked
// for it, and turns a descriptor it is given back into a mode by other rules:
// the owner's entry grants the group too, and "read" comes back as read and
// execute. Handing the old file's descriptor to the new file therefore widened
// it (600 came out 770, 644 came out 775), and one made for another user's
// file gave root's new file 555. Wine cannot set an owner either. So under
// Wine on a Linux host the new file takes the old one's owner, group and mode
// from the host itself, as the POSIX build does; the descriptor is carried
// only on Windows, where it is the file's own.

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The owner, group and mode of a file as the host keeps them.
struct HostOwnership {
  std::uint32_t mode = 0, uid = 0, gid = 0;
};

#if defined(__i386__)
// Linux's own calls, made straight to the host's kernel: Wine offers no
// function that reads or sets a POSIX mode. Numbers and the stat64 layout
// are those of the i386 system call table.
long LinuxCall(long number, long a, long b, long c) {
  long result;
  __asm__ volatile("int $0x80" : "=a"(result) : "a"(number), "b"(a), "c"(b), "d"(c) : "memory");
  return result;
}
constexpr long kLinuxChmod = 15, kLinuxStat64 = 195, kLinuxChown32 = 212;

bool LinuxHost() {
  using HostVersion = void(CDECL *)(const char **, const char **);
  const auto get = reinterpret_cast<HostVersion>(
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_host_version")));
  if (!get) return false;
  const char *system = nullptr, *release = nullptr;
  get(&system, &release);
  return system && std::strcmp(system, "Linux") == 0;
}

// The host's name of a file, or nothing.
std::string UnixName(const std::wstring &path) {
  using UnixFileName = char *(CDECL *)(LPCWSTR);
  const auto get = reinterpret_cast<UnixFileName>(
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!get) return {};
  char *name = get(path.c_str());
  if (!name) return {};
  std::string result(name);
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

std::optional<HostOwnership> HostOwnershipOf(const std::string &unixName) {
  alignas(8) unsigned char info[144] = {};
  if (LinuxCall(kLinuxStat64, reinterpret_cast<long>(unixName.c_str()), reinterpret_cast<long>(info), 0) != 0)
    return std::nullopt;
  HostOwnership owned;
  std::memcpy(&owned.mode, info + 16, 4);
  std::memcpy(&owned.uid, info + 24, 4);
  std::memcpy(&owned.gid, info + 28, 4);
  return owned;
}

// Gives `temp` the owner, group and mode of `target`, as the POSIX build
// does: the owner where the caller may set it (root may), else the group
// alone; a set-id bit only with the owner it was given by. `given` is the
// mode it got.
Status TakeHostOwnership(const std::wstring &target, const std::wstring &temp, std::uint32_t &given) {
  const std::string from = UnixName(target), to = UnixName(temp);
  const std::optional<HostOwnership> old = from.empty() ? std::nullopt : HostOwnershipOf(from);
  if (!old || to.empty()) return Fail(ErrorKind::CannotWrite, "cannot read the old file's owner and mode");
  const long path = reinterpret_cast<long>(to.c_str());
  if (LinuxCall(kLinuxChown32, path, static_cast<long>(old->uid), static_cast<long>(old->gid)) != 0)
    LinuxCall(kLinuxChown32, path, -1, static_cast<long>(old->gid));
  std::uint32_t mode = old->mode & 07777;
  if (const std::optional<HostOwnership> now = HostOwnershipOf(to)) {
    if (now->uid != old->uid) mode &= ~04000u;
    if (now->gid != old->gid) mode &= ~02000u;
  }
  if (const long failed = LinuxCall(kLinuxChmod, path, static_cast<long>(mode), 0); failed != 0) {
    return Fail(ErrorKind::CannotWrite, "cannot give the new file the old one's mode: " +
                                            std::string(std::strerror(static_cast<int>(-failed))));
  }
  given = mode;
  return Ok();
}

// Wine's rename sets the execute bits where the read bits are when a name
// takes on ".exe" (or ".com"); the mode the new file was given is put back.
void KeepHostMode(const std::wstring &target, std::uint32_t mode) {
  const std::string name = UnixName(target);
  const std::optional<HostOwnership> now = name.empty() ? std::nullopt : HostOwnershipOf(name);
  if (now && (now->mode & 07777) != mode)
    LinuxCall(kLinuxChmod, reinterpret_cast<long>(name.c_str()), static_cast<long>(mode), 0);
}
#endif

// On Windows: the old file's owner, group and access rules. An owner that
// cannot be given (another user's file, without the right to restore one)
// refuses the replacement rather than hand the file to this user.
Status TakeSecurityDescriptor(const std::wstring &target, const std::wstring &temp) {
  constexpr SECURITY_INFORMATION kAll =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  GetFileSecurityW(target.c_str(), kAll, nullptr, 0, &needed);
  if (needed == 0) return Ok(); // a file system without security
  std::vector<std::uint8_t> security(needed);
  if (!GetFileSecurityW(target.c_str(), kAll, security.data(), needed, &needed)) return Ok();
  if (SetFileSecurityW(temp.c_str(), kAll, security.data())) return Ok();
  SetFileSecurityW(temp.c_str(), DACL_SECURITY_INFORMATION, security.data());
  PSID oldOwner = nullptr, newOwner = nullptr;
  BOOL defaulted = FALSE;
  GetSecurityDescriptorOwner(security.data(), &oldOwner, &defaulted);
  DWORD newNeeded = 0;
  GetFileSecurityW(temp.c_str(), OWNER_SECURITY_INFORMATION, nullptr, 0, &newNeeded);
  std::vector<std::uint8_t> fresh(newNeeded ? newNeeded : 1);
  if (newNeeded && GetFileSecurityW(temp.c_str(), OWNER_SECURITY_INFORMATION, fresh.data(), newNeeded, &newNeeded))
    GetSecurityDescriptorOwner(fresh.data(), &newOwner, &defaulted);
  if (oldOwner && newOwner && !EqualSid(oldOwner, newOwner))
    return Fail(ErrorKind::CannotWrite, "it belongs to another user, and the new file could not be given to them");
  return Ok();
}

// `hostMode` gets the mode given when it came from the host.
Status CarryOwnershipAndAccess(const std::wstring &target, const std::wstring &temp,
                               std::optional<std::uint32_t> &hostMode) {
  if (!UnderWine()) return TakeSecurityDescriptor(target, temp);
#if defined(__i386__)
  if (LinuxHost()) {
    std::uint32_t given = 0;
    Status carried = TakeHostOwnership(target, temp, given);
    if (carried) hostMode = given;
    return carried;
  }
#endif
  // Another host under Wine: the descriptor is made up and would come back
  // wider, and the host cannot be asked; the new file gets Wine's default
  // mode for a new file.
  return Ok();
}

} // namespace

struct HeldFile::State {
  std::wstring target; // long form, links followed
  Handle file;         // open for reading, others may only read
  Handle mutex;
  bool owned = false;
  bool exists = false;
  DWORD attributes = 0;
  std::uint64_t size = 0;
  ~State() {
    if (owned) ReleaseMutex(mutex.get());
  }
};

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

// The user the process runs as, or an empty buffer when it cannot be told.
std::vector<std::uint8_t> ProcessUserSid() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  const Handle token(raw);
  DWORD needed = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed);
  std::vector<std::uint8_t> info(needed);
  if (needed < sizeof(TOKEN_USER) || !GetTokenInformation(token.get(), TokenUser, info.data(), needed, &needed))
    return {};
  PSID sid = reinterpret_cast<TOKEN_USER *>(info.data())->User.Sid;
  if (!IsValidSid(sid)) return {};
  const auto *bytes = static_cast<const std::uint8_t *>(sid);
  return {bytes, bytes + GetLengthSid(sid)};
}

// Removes a temporary file a killed run left, if it is a regular file of the
// caller's own, as the POSIX build does: in a folder others may write to, a
// name of that form may be another user's file, and a link or junction is
// never followed. The file is looked at and deleted through one handle
// opened on the name itself, so what was checked is what goes.
void RemoveOwnLeftover(const std::wstring &path, const std::vector<std::uint8_t> &user) {
  if (user.empty()) return;
  const Handle file(CreateFileW(path.c_str(), DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid()) return;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)))
    return;
  DWORD needed = 0;
  GetKernelObjectSecurity(file.get(), OWNER_SECURITY_INFORMATION, nullptr, 0, &needed);
  std::vector<std::uint8_t> security(needed);
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!needed || !GetKernelObjectSecurity(file.get(), OWNER_SECURITY_INFORMATION, security.data(), needed, &needed) ||
      !GetSecurityDescriptorOwner(security.data(), &owner, &defaulted) || !owner || !IsValidSid(owner) ||
      !EqualSid(owner, const_cast<std::uint8_t *>(user.data())))
    return;
  FILE_DISPOSITION_INFO dispose{TRUE};
  SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose, sizeof(dispose));
}

} // namespace

bool HeldFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (!state_->exists || offset > Size() || out.size() > Size() - offset) return false;
  return ReadAtOffset(state_->file.get(), offset, out);
}

Status HeldFile::Replace(std::span<const std::uint8_t> contents) {
  return Replace([&](ContentSink &sink) { return sink.Write(contents); });
}

Status HeldFile::Replace(const std::function<Status(ContentSink &)> &produce) {
  State &s = *state_;
  // The system refuses to replace a read-only file; say so before writing.
  if (s.exists && (s.attributes & FILE_ATTRIBUTE_READONLY)) return Fail(ErrorKind::CannotWrite, "it is read-only");
  const std::size_t slash = s.target.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"." : s.target.substr(0, slash);
  const std::wstring wideName = slash == std::wstring::npos ? s.target : s.target.substr(slash + 1);
  const std::string name = Utf8(wideName);

  // While the file is held no run of ours is writing it, so a temporary
  // file of its form that is ours is one a killed run left behind.
  if (s.owned) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\.qm*.tmp").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      const std::vector<std::uint8_t> user = ProcessUserSid();
      do {
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            IsTemporaryNameOf(Utf8(found.cFileName), name)) {
          RemoveOwnLeftover(folder + L"\\" + found.cFileName, user);
        }
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
  }

  std::wstring tempPath;
  Handle temp;
  for (int attempt = 0; attempt < 64 && !temp.valid(); ++attempt) {
    const std::string tempName = TemporaryName(name, RandomWord());
    tempPath = folder + L"\\" + std::wstring(tempName.begin(), tempName.end());
    temp = Handle(CreateFileW(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!temp.valid() && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (!temp.valid()) {
    return Fail(ErrorKind::CannotWrite, "cannot create the temporary file: " + Reason(GetLastError()));
  }
  struct Remove {
    std::wstring *path;
    ~Remove() {
      if (!path->empty()) DeleteFileW(path->c_str());
    }
  } remove{&tempPath};

  HandleSink sink(temp.get(), s.exists ? s.file.get() : INVALID_HANDLE_VALUE);
  if (Status written = produce(sink); !written) return written;
  // On the disk before it takes the file's place.
  if (!FlushFileBuffers(temp.get())) {
    return Fail(ErrorKind::CannotWrite, "flushing the new file failed: " + Reason(GetLastError()));
  }
  temp.Close();
  // The new file takes the old one's attributes, owner and access before it
  // takes its place, so the change is one step. ReplaceFileW would not do:
  // Wine's moves the old file away first (for a moment there is none),
  // carries nothing and leaves a backup behind when it fails. Under Wine
  // the attributes go first, as setting them there also sets write bits.
  std::optional<std::uint32_t> hostMode;
  if (s.exists) {
    SetFileAttributesW(tempPath.c_str(), s.attributes & kCarriedAttributes);
    if (Status carried = CarryOwnershipAndAccess(s.target, tempPath, hostMode); !carried) return carried;
  }
  // The file cannot be replaced while this run still has it open.
  s.file.Close();

  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  while (!MoveFileExW(tempPath.c_str(), s.target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    if (error == ERROR_SHARING_VIOLATION) return Fail(ErrorKind::Locked, "another program is using it");
    return Fail(ErrorKind::CannotWrite, "cannot put the new file in its place: " + Reason(error));
  }
  tempPath.clear();
#if defined(__i386__)
  if (hostMode) KeepHostMode(s.target, *hostMode);
#endif
  return Ok();
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
