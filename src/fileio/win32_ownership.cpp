// The new file's owner and access on Windows and under Wine, and the
// removal of a killed run's leftovers, which asks who owns them.
#include <cstring>

#include "fileio/win32_file.h"

namespace qm::fileio::win32 {

namespace {

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

} // namespace

Status CarryOwnershipAndAccess(const std::wstring &target, const std::wstring &temp,
                               [[maybe_unused]] std::optional<std::uint32_t> &hostMode) {
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

// Wine's rename sets the execute bits where the read bits are when a name
// takes on ".exe" (or ".com"); the mode the new file was given is put back.
void KeepHostMode(const std::wstring &target, std::uint32_t mode) {
#if defined(__i386__)
  const std::string name = UnixName(target);
  const std::optional<HostOwnership> now = name.empty() ? std::nullopt : HostOwnershipOf(name);
  if (now && (now->mode & 07777) != mode)
    LinuxCall(kLinuxChmod, reinterpret_cast<long>(name.c_str()), static_cast<long>(mode), 0);
#else
  (void)target;
  (void)mode;
#endif
}

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

} // namespace qm::fileio::win32
