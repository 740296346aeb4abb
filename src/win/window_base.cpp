#include "win/window_base.h"

namespace qm::win {

namespace {

int AskScreenDpi() {
  HDC screen = GetDC(nullptr);
  if (!screen) return 96;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

} // namespace

// Asked once: the manifest makes the program aware of the system's DPI,
// which stays as it was at the start for the process's life, and every
// window and control would otherwise fetch the screen's DC for it.
int ScreenDpi() {
  static const int dpi = AskScreenDpi();
  return dpi;
}

void CentreOnScreen(HWND wnd, UINT extraFlags) {
  RECT rect{};
  GetWindowRect(wnd, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  // A window made in the middle already is not moved again: even a move to
  // where it is costs a round of position messages and the display's work.
  if (rect.left == x && rect.top == y) return;
  SetWindowPos(wnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | extraFlags);
}

bool RegisterClassOnce(const WNDCLASSA &wc) {
  WNDCLASSA existing{};
  if (GetClassInfoA(wc.hInstance, wc.lpszClassName, &existing)) return true;
  return RegisterClassA(&wc) != 0;
}

} // namespace qm::win
