#include "win/group_box.h"

#include <string>

#include "win/window_base.h"

namespace qm::win {

namespace {

class GroupBox : public WindowBase<GroupBox> {
  friend class WindowBase<GroupBox>;

public:
  static WNDCLASSA Record(HINSTANCE instance) { return ClassRecord(instance, kGroupBoxClass); }

private:
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  void Paint();
  std::string Caption() const;

  HFONT font_ = nullptr;
};

std::string GroupBox::Caption() const {
  std::string text(static_cast<size_t>(GetWindowTextLengthA(wnd_)) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(wnd_, text.data(), static_cast<int>(text.size()))));
  return text;
}

void GroupBox::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(wnd_, &ps);
  RECT client;
  GetClientRect(wnd_, &client);
  HGDIOBJ oldFont = SelectObject(dc, font_ ? font_ : GetStockObject(DEFAULT_GUI_FONT));
  TEXTMETRICA metrics;
  GetTextMetricsA(dc, &metrics);
  const std::string caption = Caption();

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
        SendMessageA(GetParent(wnd_), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(wnd_)));
    FillRect(dc, &textRect, background ? background : GetSysColorBrush(COLOR_BTNFACE));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(IsWindowEnabled(wnd_) ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
    textRect.left += 1;
    DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &textRect, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
  }
  SelectObject(dc, oldFont);
  EndPaint(wnd_, &ps);
}

LRESULT GroupBox::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
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
    return SendMessageA(GetParent(wnd_), msg, wp, lp);
  case WM_SETFONT:
    font_ = reinterpret_cast<HFONT>(wp);
    if (LOWORD(lp)) InvalidateRect(wnd_, nullptr, TRUE);
    return 0;
  case WM_GETFONT:
    return reinterpret_cast<LRESULT>(font_);
  case WM_SETTEXT: {
    const LRESULT result = DefWindowProcA(wnd_, msg, wp, lp);
    InvalidateRect(wnd_, nullptr, TRUE);
    return result;
  }
  case WM_PAINT:
    Paint();
    return 0;
  default:
    return DefWindowProcA(wnd_, msg, wp, lp);
  }
}

} // namespace

bool RegisterGroupBoxClass(HINSTANCE instance) { return RegisterClassOnce(GroupBox::Record(instance)); }

} // namespace qm::win
