// Building the main window and its controls from the layout table, and the
// controls the window paints or clips itself: the open button's glyph and
// the check boxes the layout lets overlap.
#include "win/untMain.h"

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "win/group_box.h"
#include "win/main_ids.h"
#include "win/string_grid.h"

namespace qm::win {
namespace {

using layout::Id;
using layout::Kind;

constexpr const char *kFormClass = "TfrmMain";
constexpr const char *kGlyphResource = "OPENFOLDER";
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
// Files may be dropped on it: the style is what accepting them sets, given at
// creation so the shell's library need not be loaded at start to set it.
constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES;

struct ClassAndStyle {
  const char *className;
  DWORD style;
  DWORD exStyle;
};

ClassAndStyle WindowClassFor(Kind kind) {
  switch (kind) {
  case Kind::Edit:
    return {WC_EDITA, ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
  case Kind::GlyphButton:
    return {WC_BUTTONA, BS_OWNERDRAW, 0};
  case Kind::GroupBox:
    return {kGroupBoxClass, WS_CLIPSIBLINGS, WS_EX_CONTROLPARENT};
  case Kind::Label:
    return {WC_STATICA, SS_LEFT | SS_NOPREFIX, 0};
  case Kind::UpDown:
    return {UPDOWN_CLASSA, 0, 0};
  case Kind::CheckBox:
    return {WC_BUTTONA, BS_AUTOCHECKBOX | WS_TABSTOP, 0};
  case Kind::DropDownList:
    return {WC_COMBOBOXA, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0};
  case Kind::StringGrid:
    return {kStringGridClass, WS_TABSTOP, WS_EX_CLIENTEDGE};
  case Kind::PushButton:
    return {WC_BUTTONA, BS_PUSHBUTTON | WS_TABSTOP, 0};
  }
  return {WC_STATICA, 0, 0};
}

// The order controls are created in, which is their z-order within their
// parent and so the order Tab walks: first everything with a tab order,
// parents before their children, then the rest.
std::vector<Id> CreationOrder() {
  std::vector<Id> order;
  for (size_t i = 0; i < layout::kControlCount; ++i)
    order.push_back(static_cast<Id>(i));
  auto depth = [](Id id) { return layout::Entry(id).parent == Id::Window ? 0 : 1; };
  std::stable_sort(order.begin(), order.end(), [&](Id a, Id b) {
    const auto &sa = layout::Entry(a);
    const auto &sb = layout::Entry(b);
    if (depth(a) != depth(b)) return depth(a) < depth(b);
    const bool aTab = sa.tabOrder != layout::kNoTab, bTab = sb.tabOrder != layout::kNoTab;
    if (aTab != bTab) return aTab;
    return aTab && sa.tabOrder < sb.tabOrder;
  });
  return order;
}

// Controls whose handler reads the control's own messages (typed keys, the
// mouse let go), and the flat button that follows the mouse itself.
bool NeedsOwnMessages(const layout::ControlEntry &entry) {
  const bool ownHandler =
      entry.handler != layout::Handler::None && (entry.kind == Kind::Edit || entry.kind == Kind::CheckBox);
  return ownHandler || entry.kind == Kind::GlyphButton;
}

bool IsStringGridRegistered(HINSTANCE instance) {
  WNDCLASSA info;
  return GetClassInfoA(instance, kStringGridClass, &info) != 0;
}

} // namespace

void TfrmMain::CreateWindowAndControls() {
  WNDCLASSA wc = ClassRecord(instance_, kFormClass);
  wc.hIcon = LoadIconA(instance_, MAKEINTRESOURCEA(1));
  if (!wc.hIcon) wc.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  RegisterClassOnce(wc);
  RegisterGroupBoxClass(instance_);

  const auto &shape = layout::kMainWindow;
  const std::string fontName(shape.fontName);
  font_ =
      CreateFontA(Scale(shape.fontHeight), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, fontName.c_str());
  // One DC in the window's font measures every label and list item, rather
  // than one fetched from each control and given back again.
  measure_ = CreateCompatibleDC(nullptr);
  if (measure_) SelectObject(measure_, font_);

  RECT frame{0, 0, Scale(shape.clientWidth), Scale(shape.clientHeight)};
  AdjustWindowRectEx(&frame, kFormStyle, FALSE, kFormExStyle);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  const std::string caption(shape.caption);
  wnd_ = CreateWindowExA(kFormExStyle, kFormClass, caption.c_str(), kFormStyle,
                         (GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2,
                         width, height, nullptr, nullptr, instance_, this);
  if (!wnd_) throw std::runtime_error("The main window cannot be created");

  for (Id id : CreationOrder())
    CreateControl(id);
  ClipOverlappedCheckBoxes();
  CreateMenuString();
}

void TfrmMain::CreateControl(Id id) {
  const layout::ControlEntry &entry = layout::Entry(id);
  if (entry.kind == Kind::StringGrid && !IsStringGridRegistered(instance_)) RegisterStringGridClass(instance_);
  const ClassAndStyle cls = WindowClassFor(entry.kind);
  const std::string text(entry.text);
  const int x = Scale(entry.x), y = Scale(entry.y);
  int w = Scale(entry.w), h = Scale(entry.h);
  if (entry.kind == Kind::Label) {
    // Made at its text's size, so the wider stand-ins for the font never clip it.
    const SIZE extent = TextSize(text);
    w = extent.cx, h = extent.cy;
  }
  // A drop-down list's window also holds its opened list.
  const int createHeight = entry.kind == Kind::DropDownList ? h + Scale(200) : h;
  HWND control =
      CreateWindowExA(cls.exStyle, cls.className, text.c_str(), WS_CHILD | WS_VISIBLE | cls.style, x, y, w,
                      createHeight, ParentOf(id), reinterpret_cast<HMENU>(layout::ControlId(id)), instance_, nullptr);
  if (!control) throw std::runtime_error("The control " + std::string(entry.name) + " cannot be created");
  controls_[static_cast<size_t>(id)] = control;
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);

  if (entry.kind == Kind::UpDown) SetUpUpDown(id, x, y, w, h);
  if (entry.kind == Kind::DropDownList) SetUpDropDownList(control, entry);
  if (entry.kind == Kind::StringGrid) SendMessageA(control, SGM_SETROWCOUNT, layout::kGridInitialRows, 0);
  if (NeedsOwnMessages(entry)) {
    SetWindowSubclass(control, ControlProc, static_cast<UINT_PTR>(id), reinterpret_cast<DWORD_PTR>(this));
  }
}

void TfrmMain::SetUpUpDown(Id id, int x, int y, int w, int h) {
  HWND control = Control(id);
  // Some up-downs narrow themselves when created; only those are moved
  // back, as every move lays the control out again.
  RECT place{};
  GetWindowRect(control, &place);
  MapWindowPoints(nullptr, ParentOf(id), reinterpret_cast<POINT *>(&place), 2);
  if (place.left != x || place.top != y || place.right - place.left != w || place.bottom - place.top != h)
    SetWindowPos(control, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageA(control, UDM_SETRANGE32, layout::kUpDownMin, layout::kUpDownMax);
  SendMessageA(control, UDM_SETPOS32, 0, 0);
  UDACCEL step{0, 1};
  SendMessageA(control, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&step));
}

SIZE TfrmMain::TextSize(const std::string &text) const {
  SIZE extent{};
  if (measure_) GetTextExtentPoint32A(measure_, text.c_str(), static_cast<int>(text.size()), &extent);
  return extent;
}

void TfrmMain::CreateMenuString() {
  MenuString = CreatePopupMenu();
  AppendMenuA(MenuString, MF_STRING, kAddKey1, "Add Key");
  AppendMenuA(MenuString, MF_STRING, kRemoveKey1, "Remove Key");
}

void TfrmMain::DrawGlyphButton(const DRAWITEMSTRUCT &item) {
  RECT rect = item.rcItem;
  FillRect(item.hDC, &rect, GetSysColorBrush(COLOR_BTNFACE));
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  if (pressed)
    DrawEdge(item.hDC, &rect, BDR_SUNKENOUTER, BF_RECT);
  else if (glyphHot_)
    DrawEdge(item.hDC, &rect, BDR_RAISEDINNER, BF_RECT);
  // Loaded for the first paint, which comes after the window is shown.
  if (!glyphLoaded_) {
    glyphLoaded_ = true;
    glyph_ = static_cast<HBITMAP>(LoadImageA(instance_, kGlyphResource, IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
  }
  if (!glyph_) return;
  BITMAP info{};
  GetObjectA(glyph_, sizeof(info), &info);
  const int size = Scale(16);
  const int offset = pressed ? 1 : 0;
  const int x = (rect.right - rect.left - size) / 2 + offset, y = (rect.bottom - rect.top - size) / 2 + offset;
  HDC source = CreateCompatibleDC(item.hDC);
  HGDIOBJ old = SelectObject(source, glyph_);
  SetStretchBltMode(item.hDC, COLORONCOLOR);
  StretchBlt(item.hDC, x, y, size, size, source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
  SelectObject(source, old);
  DeleteDC(source);
}

// ---- overlapping check boxes ------------------------------------------------

namespace {

constexpr UINT_PTR kClippedBoxSubclass = 0x51;

// A button paints with its parent's clipping (its class asks for the
// parent's DC), so neither its rectangle nor a window region keeps it off a
// neighbour: its paint is clipped here, by hand, to leave the given strips out.
LRESULT CALLBACK ClippedBoxProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref) {
  auto *strips = reinterpret_cast<std::vector<RECT> *>(ref);
  if (msg == WM_PAINT && wp == 0) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(wnd, &ps);
    for (const RECT &strip : *strips)
      ExcludeClipRect(dc, strip.left, strip.top, strip.right, strip.bottom);
    DefSubclassProc(wnd, WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
    EndPaint(wnd, &ps);
    return 0;
  }
  if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(wnd, ClippedBoxProc, id);
    delete strips;
  }
  return DefSubclassProc(wnd, msg, wp, lp);
}

// The parts of `left` that boxes to its right, under the same parent, reach
// into; in `left`'s own coordinates.
std::vector<RECT> SharedStrips(HWND left, const std::vector<HWND> &boxes) {
  RECT own{};
  GetWindowRect(left, &own);
  std::vector<RECT> strips;
  for (HWND right : boxes) {
    RECT other{}, shared{};
    GetWindowRect(right, &other);
    if (right == left || GetParent(right) != GetParent(left) || other.left <= own.left) continue;
    if (!IntersectRect(&shared, &own, &other)) continue;
    OffsetRect(&shared, -own.left, -own.top);
    strips.push_back(shared);
  }
  return strips;
}

} // namespace

// Where the layout lets one check box reach into the next, the left one would
// paint over the right one's box. The left one gives up the shared strip (it
// holds no more of its text there) for painting and for the mouse; the
// rectangles and the Tab order stay as laid out.
void TfrmMain::ClipOverlappedCheckBoxes() {
  std::vector<HWND> boxes;
  for (size_t i = 0; i < layout::kControlCount; ++i)
    if (layout::kMainControls[i].kind == Kind::CheckBox) boxes.push_back(Control(static_cast<Id>(i)));
  for (HWND left : boxes) {
    std::vector<RECT> strips = SharedStrips(left, boxes);
    if (strips.empty()) continue;
    RECT own{};
    GetWindowRect(left, &own);
    HRGN visible = CreateRectRgn(0, 0, own.right - own.left, own.bottom - own.top);
    for (const RECT &strip : strips) {
      HRGN cut = CreateRectRgnIndirect(&strip);
      CombineRgn(visible, visible, cut, RGN_DIFF);
      DeleteObject(cut);
    }
    SetWindowRgn(left, visible, FALSE); // the window owns the region from now on
    SetWindowSubclass(left, ClippedBoxProc, kClippedBoxSubclass,
                      reinterpret_cast<DWORD_PTR>(new std::vector<RECT>(std::move(strips))));
  }
}

} // namespace qm::win
