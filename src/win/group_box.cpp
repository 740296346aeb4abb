#include "win/group_box.h"

#include <string>

#include "win/error_report.h"

namespace qm::win {

namespace {

// The font is kept in the window's extra bytes, as WM_SETFONT hands it over.
constexpr int kFontSlot = 0;

HFONT GroupFont(HWND wnd) { return reinterpret_cast<HFONT>(GetWindowLongPtrA(wnd, kFontSlot)); }

std::string Caption(HWND wnd) {
  std::string text(static_cast<size_t>(GetWindowTextLengthA(wnd)) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(wnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

void Paint(HWND wnd) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(wnd, &ps);
  RECT client;
  GetClientRect(wnd, &client);
  HGDIOBJ oldFont = SelectObject(dc, GroupFont(wnd) ? GroupFont(wnd) : GetStockObject(DEFAULT_GUI_FONT));
  TEXTMETRICA metrics;
  GetTextMetricsA(dc, &metrics);
  const std::string caption = Caption(wnd);

  // The frame runs through the middle of the caption's line.
  RECT frame = client;
  frame.top = metrics.tmHeight / 2;
  DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);

  if (!caption.empty()) {
    SIZE extent;
    GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
    const int inset = MulDiv(8, metrics.tmHeight, 13);
    RECT textRect{inset, 0, inset + extent.cx + 2, metrics.tmHeight};
    if (textRect.right > client.right - inset) textRect.right = client.right - inset;
    HBRUSH background = reinterpret_cast<HBRUSH>(
        SendMessageA(GetParent(wnd), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(wnd)));
    FillRect(dc, &textRect, background ? background : GetSysColorBrush(COLOR_BTNFACE));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(IsWindowEnabled(wnd) ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
    textRect.left += 1;
    DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &textRect, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
  }
  SelectObject(dc, oldFont);
  EndPaint(wnd, &ps);
}

LRESULT CALLBACK GroupBoxProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  return GuardedCall(wnd, 0, [&]() -> LRESULT {
    switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_VSCROLL:
    case WM_HSCROLL:
      return SendMessageA(GetParent(wnd), msg, wp, lp);
    case WM_SETFONT:
      SetWindowLongPtrA(wnd, kFontSlot, static_cast<LONG_PTR>(wp));
      if (LOWORD(lp)) InvalidateRect(wnd, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(GroupFont(wnd));
    case WM_SETTEXT: {
      const LRESULT result = DefWindowProcA(wnd, msg, wp, lp);
      InvalidateRect(wnd, nullptr, TRUE);
      return result;
    }
    case WM_PAINT:
      Paint(wnd);
      return 0;
    default:
      return DefWindowProcA(wnd, msg, wp, lp);
    }
  });
}

} // namespace

bool RegisterGroupBoxClass(HINSTANCE instance) {
  WNDCLASSA existing;
  if (GetClassInfoA(instance, kGroupBoxClass, &existing)) return true;
  WNDCLASSA wc{};
  wc.lpfnWndProc = GroupBoxProc;
  wc.cbWndExtra = sizeof(LONG_PTR);
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kGroupBoxClass;
  return RegisterClassA(&wc) != 0;
}

} // namespace qm::win
