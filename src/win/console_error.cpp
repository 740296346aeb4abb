#include "win/console_error.h"

#include <windows.h>

#include <string>

namespace qm::win {
namespace {

bool Usable(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// Closes the console output handle this module opened itself.
class OwnedHandle {
public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  OwnedHandle(const OwnedHandle &) = delete;
  OwnedHandle &operator=(const OwnedHandle &) = delete;
  ~OwnedHandle() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }

private:
  HANDLE handle_;
};

void WriteAll(HANDLE handle, const std::string &text) {
  const char *data = text.data();
  DWORD left = static_cast<DWORD>(text.size());
  while (left > 0) {
    DWORD written = 0;
    if (!WriteFile(handle, data, left, &written, nullptr) || written == 0) return;
    data += written;
    left -= written;
  }
}

} // namespace

void WriteErrorLine(std::string_view line) {
  std::string text(line);
  text += "\r\n";
  // A GUI program started from a console has no standard handles of its own,
  // but one started with redirected output has them already; prefer those.
  HANDLE given = GetStdHandle(STD_ERROR_HANDLE);
  if (Usable(given)) {
    WriteAll(given, text);
    return;
  }
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  OwnedHandle console(CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  if (Usable(console.get())) WriteAll(console.get(), text);
  FreeConsole();
}

} // namespace qm::win
