#pragma once
// The application's standard error report. An event handler signals an
// error by throwing; every window procedure runs its handlers through
// GuardedCall, which catches what escapes, shows it in a message box with the
// error icon and an OK button (through CurrentDialogs()), and lets the
// message loop go on with whatever state the handler had reached.
#include <windows.h>

#include <string>
#include <string_view>

namespace qm::win {

// The program's file name without its folder, cut at its first ".", with
// every letter after the first in lower case and the first in upper case:
// "C:\\bin\\quillmark.exe" -> "Quillmark", "QUILL.MARK.EXE" -> "Quill".
std::string ApplicationTitleFromPath(std::string_view modulePath);

// The title for the running program.
std::string ApplicationTitle();

// The message as the report shows it: a full stop is appended when the last
// character sorts after "." (as an unsigned byte).
std::string ReportedText(std::string_view message);

// Shows the report for one error.
void ReportError(HWND window, std::string_view message) noexcept;

// Reports the exception being handled; call only inside a catch block.
void ReportCurrentException(HWND window) noexcept;

// Runs handler(); when it throws, reports the error and gives fallback.
template <typename Handler> LRESULT GuardedCall(HWND window, LRESULT fallback, Handler &&handler) noexcept {
  try {
    return handler();
  } catch (...) {
    ReportCurrentException(window);
    return fallback;
  }
}

} // namespace qm::win
