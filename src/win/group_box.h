#pragma once
// A group box that is a real container: its controls are its children, placed
// relative to its client area, and Tab enters them in their own order. It draws
// the etched frame with its caption and hands the notifications of its
// children (WM_COMMAND, WM_NOTIFY, WM_CTLCOLOR*, WM_DRAWITEM) to its parent, so
// the form sees them as if the controls were its own.
#include <windows.h>

namespace qm::win {

inline constexpr const char *kGroupBoxClass = "QmGroupBox";

// Registers the window class once per process; safe to call repeatedly.
bool RegisterGroupBoxClass(HINSTANCE instance);

} // namespace qm::win
