#pragma once
// What every window of the program shares, so a window class holds only its
// behaviour: registering its class, tying the window to its object at
// WM_NCCREATE, scaling 96-DPI lengths to the display, centring on the screen,
// and catching what a handler throws at the window procedure, where the
// standard error report shows it and the message loop goes on.
//
//   class TfrmThing : public WindowBase<TfrmThing> {
//     friend class WindowBase<TfrmThing>;
//     LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);  // every message, WM_NCCREATE included
//   };
//
// A window created with its object as the creation parameter belongs to that
// object. A control created by class name alone (no parameter) gets an object
// of its own, made with Derived's default constructor at WM_NCCREATE and
// deleted after WM_NCDESTROY.
#include <windows.h>

#include <type_traits>

#include "win/error_report.h"

namespace qm::win {

// The display's pixels per inch; 96 when it cannot be asked.
int ScreenDpi();

// A length given in 96-DPI pixels, at the given DPI.
inline int ScaleToDpi(int value, int dpi) { return MulDiv(value, dpi, 96); }

// Moves a top-level window to the middle of the screen, keeping its size.
void CentreOnScreen(HWND wnd, UINT extraFlags = 0);

// Registers the class unless the instance already has one of that name.
bool RegisterClassOnce(const WNDCLASSA &wc);

template <typename Derived> class WindowBase {
public:
  HWND Handle() const { return wnd_; }
  // The display's pixels per inch the window's lengths are scaled to.
  int Dpi() const { return dpi_; }

protected:
  WindowBase() : dpi_(ScreenDpi()) {}
  ~WindowBase() = default;

  int Scale(int value) const { return ScaleToDpi(value, dpi_); }

  // A class record for Derived's windows: arrow cursor, the dialog face
  // colour behind, messages through WindowProc.
  static WNDCLASSA ClassRecord(HINSTANCE instance, const char *className) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = className;
    return wc;
  }

  HWND wnd_ = nullptr;
  int dpi_ = 96;

private:
  static LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
      auto *self = static_cast<Derived *>(reinterpret_cast<CREATESTRUCTA *>(lp)->lpCreateParams);
      bool owned = false;
      if constexpr (std::is_default_constructible_v<Derived>) {
        if (!self) {
          self = new Derived();
          owned = true;
        }
      }
      if (!self) return DefWindowProcA(wnd, msg, wp, lp);
      self->wnd_ = wnd;
      self->ownedByWindow_ = owned;
      SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto *self = reinterpret_cast<Derived *>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(wnd, msg, wp, lp);
    const LRESULT result = GuardedCall(wnd, 0, [&] { return self->OnMessage(msg, wp, lp); });
    if (msg == WM_NCDESTROY) {
      SetWindowLongPtrA(wnd, GWLP_USERDATA, 0);
      self->wnd_ = nullptr;
      if (self->ownedByWindow_) delete self;
    }
    return result;
  }

  bool ownedByWindow_ = false;
};

} // namespace qm::win
