#include "win/untMain.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "codec/lists.h"
#include "win/app.h"
#include "win/error_report.h"
#include "win/group_box.h"
#include "win/string_grid.h"
#include "win/untAbout.h"

namespace qm::win {

TfrmMain *frmMain = nullptr;

namespace {

using layout::Id;
using layout::Kind;

constexpr const char *kFormClass = "TfrmMain";
constexpr const char *kGlyphResource = "OPENFOLDER";
constexpr int kAddKey1 = 1;
constexpr int kRemoveKey1 = 2;

// The named members in layout table order.
constexpr std::array<HWND TfrmMain::*, layout::kControlCount> kSlots = {
    &TfrmMain::EdtFile,        &TfrmMain::SpdOpen,        &TfrmMain::GroupBox1,    &TfrmMain::Label1,
    &TfrmMain::Label2,         &TfrmMain::Label4,         &TfrmMain::Label3,       &TfrmMain::EdtFileMajor,
    &TfrmMain::UpFileMajor,    &TfrmMain::UpFileMinor,    &TfrmMain::EdtFileMinor, &TfrmMain::UpFileRelease,
    &TfrmMain::EdtFileRelease, &TfrmMain::UpFileBuild,    &TfrmMain::EdtFileBuild, &TfrmMain::GroupBox4,
    &TfrmMain::Label6,         &TfrmMain::Label7,         &TfrmMain::Label9,       &TfrmMain::Label8,
    &TfrmMain::EdtProdMajor,   &TfrmMain::UpProdMajor,    &TfrmMain::UpProdMinor,  &TfrmMain::EdtProdMinor,
    &TfrmMain::UpProdRelease,  &TfrmMain::EdtProdRelease, &TfrmMain::UpProdBuild,  &TfrmMain::EdtProdBuild,
    &TfrmMain::GroupBox2,      &TfrmMain::ChkDebug,       &TfrmMain::ChkSpecial,   &TfrmMain::ChkPre,
    &TfrmMain::ChkPrivate,     &TfrmMain::Label12,        &TfrmMain::Label10,      &TfrmMain::Label11,
    &TfrmMain::CmbFileOs,      &TfrmMain::CmbFileType,    &TfrmMain::CmbSubType,   &TfrmMain::GroupBox3,
    &TfrmMain::Label5,         &TfrmMain::Label13,        &TfrmMain::CmbLan,       &TfrmMain::CmbCodePage,
    &TfrmMain::Strings,        &TfrmMain::BtnSavePE,      &TfrmMain::BtnSaveRes,   &TfrmMain::BtnAbout,
};

constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT;

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

std::string WindowText(HWND wnd) {
  std::string text(static_cast<size_t>(GetWindowTextLengthA(wnd)) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(wnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::string SelectedItemText(HWND combo) {
  const LRESULT index = SendMessageA(combo, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return {};
  const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const LRESULT copied =
      SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(copied == CB_ERR ? 0 : static_cast<size_t>(copied));
  return text;
}

bool IsStringGridRegistered(HINSTANCE instance) {
  WNDCLASSA info;
  return GetClassInfoA(instance, kStringGridClass, &info) != 0;
}

} // namespace

std::unique_ptr<TfrmMain> TfrmMain::Create(HINSTANCE instance) {
  std::unique_ptr<TfrmMain> form(new TfrmMain(instance));
  form->CreateWindowAndControls();
  form->FormCreate();
  return form;
}

TfrmMain::TfrmMain(HINSTANCE instance) : instance_(instance) {}

TfrmMain::~TfrmMain() {
  if (wnd_ && IsWindow(wnd_)) DestroyWindow(wnd_);
  if (MenuString) DestroyMenu(MenuString);
  if (font_) DeleteObject(font_);
  if (glyph_) DeleteObject(glyph_);
  if (frmMain == this) frmMain = nullptr;
}

int TfrmMain::Scale(int value) const { return MulDiv(value, dpi_, 96); }

HWND &TfrmMain::Slot(Id id) { return this->*kSlots[static_cast<size_t>(id)]; }

HWND TfrmMain::Control(Id id) const {
  if (id == Id::Window) return wnd_;
  return this->*kSlots[static_cast<size_t>(id)];
}

HWND TfrmMain::ParentOf(Id id) const { return Control(layout::Entry(id).parent); }

void TfrmMain::CreateWindowAndControls() {
  WNDCLASSA wc{};
  if (!GetClassInfoA(instance_, kFormClass, &wc)) {
    wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance_;
    wc.hIcon = LoadIconA(instance_, MAKEINTRESOURCEA(1));
    if (!wc.hIcon) wc.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFormClass;
    RegisterClassA(&wc);
  }
  RegisterGroupBoxClass(instance_);

  HDC screen = GetDC(nullptr);
  dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  if (dpi_ <= 0) dpi_ = 96;

  const auto &shape = layout::kMainWindow;
  const std::string fontName(shape.fontName);
  font_ =
      CreateFontA(Scale(shape.fontHeight), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, fontName.c_str());

  RECT frame{0, 0, Scale(shape.clientWidth), Scale(shape.clientHeight)};
  AdjustWindowRectEx(&frame, kFormStyle, FALSE, kFormExStyle);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  const std::string caption(shape.caption);
  wnd_ = CreateWindowExA(kFormExStyle, kFormClass, caption.c_str(), kFormStyle,
                         (GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2,
                         width, height, nullptr, nullptr, instance_, this);
  if (!wnd_) throw std::runtime_error("The main window cannot be created");

  hints_ =
      CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, wnd_, nullptr, instance_, nullptr);
  glyph_ = static_cast<HBITMAP>(LoadImageA(instance_, kGlyphResource, IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));

  for (Id id : CreationOrder())
    CreateControl(id);
  CreateMenuString();
}

void TfrmMain::CreateControl(Id id) {
  const layout::ControlEntry &entry = layout::Entry(id);
  if (entry.kind == Kind::StringGrid && !IsStringGridRegistered(instance_)) RegisterStringGridClass(instance_);
  const ClassAndStyle cls = WindowClassFor(entry.kind);
  const std::string text(entry.text);
  const int x = Scale(entry.x), y = Scale(entry.y), w = Scale(entry.w), h = Scale(entry.h);
  // A drop-down list's window also holds its opened list.
  const int createHeight = entry.kind == Kind::DropDownList ? h + Scale(200) : h;
  HWND control =
      CreateWindowExA(cls.exStyle, cls.className, text.c_str(), WS_CHILD | WS_VISIBLE | cls.style, x, y, w,
                      createHeight, ParentOf(id), reinterpret_cast<HMENU>(layout::ControlId(id)), instance_, nullptr);
  if (!control) throw std::runtime_error("The control " + std::string(entry.name) + " cannot be created");
  Slot(id) = control;
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);

  switch (entry.kind) {
  case Kind::Label:
    SizeLabelToText(control);
    break;
  case Kind::UpDown:
    // Some up-downs narrow themselves when created.
    SetWindowPos(control, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageA(control, UDM_SETRANGE32, layout::kUpDownMin, layout::kUpDownMax);
    SendMessageA(control, UDM_SETPOS32, 0, 0);
    {
      UDACCEL step{0, 1};
      SendMessageA(control, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&step));
    }
    break;
  case Kind::DropDownList:
    SetUpDropDownList(control, entry);
    break;
  case Kind::StringGrid:
    SendMessageA(control, SGM_SETROWCOUNT, layout::kGridInitialRows, 0);
    break;
  default:
    break;
  }

  const bool subclass = entry.handler == layout::Handler::EdtFileMajorKeyPress ||
                        entry.handler == layout::Handler::ChkSpecialMouseUp ||
                        entry.handler == layout::Handler::ChkPrivateMouseUp || entry.kind == Kind::GlyphButton;
  if (subclass) SetWindowSubclass(control, ControlProc, static_cast<UINT_PTR>(id), reinterpret_cast<DWORD_PTR>(this));
}

void TfrmMain::SizeLabelToText(HWND label) {
  const std::string text = WindowText(label);
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, font_);
  SIZE extent{};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  SetWindowPos(label, nullptr, 0, 0, extent.cx, extent.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TfrmMain::SetUpDropDownList(HWND combo, const layout::ControlEntry &entry) {
  for (std::string_view item : entry.items)
    SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::string(item).c_str()));
  // The closed list is as high as the layout says, whatever the font makes of
  // it. How the field's height turns into the control's differs between
  // platform versions, so the field height that gives it is searched for.
  const int wanted = Scale(entry.h);
  auto closedHeight = [combo] {
    RECT rect;
    GetWindowRect(combo, &rect);
    return static_cast<int>(rect.bottom - rect.top);
  };
  const LRESULT fieldHeight = SendMessageA(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
  if (fieldHeight != CB_ERR && closedHeight() != wanted) {
    int best = static_cast<int>(fieldHeight), bestMiss = std::abs(closedHeight() - wanted);
    for (int field = std::max(1, wanted - 12); field <= wanted && bestMiss != 0; ++field) {
      SendMessageA(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
      const int miss = std::abs(closedHeight() - wanted);
      if (miss < bestMiss) best = field, bestMiss = miss;
    }
    SendMessageA(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), best);
  }
  if (entry.style & layout::kShowHints) AddHint(combo);
}

void TfrmMain::AddHint(HWND combo) {
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = wnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(combo);
  tool.lpszText = const_cast<char *>("");
  SendMessageA(hints_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void TfrmMain::SetHint(HWND combo, const std::string &text) {
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.hwnd = wnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(combo);
  tool.lpszText = const_cast<char *>(text.c_str());
  SendMessageA(hints_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
}

void TfrmMain::CreateMenuString() {
  MenuString = CreatePopupMenu();
  AppendMenuA(MenuString, MF_STRING, kAddKey1, "Add Key");
  AppendMenuA(MenuString, MF_STRING, kRemoveKey1, "Remove Key");
}

void TfrmMain::Show() {
  RECT rect;
  GetWindowRect(wnd_, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  SetWindowPos(wnd_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2,
               0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(wnd_, SW_SHOW);
  UpdateWindow(wnd_);
}

void TfrmMain::SetGridCell(int col, int row, const std::string &text) {
  SendMessageA(Strings, SGM_SETCELLTEXT, MAKEWPARAM(col, row), reinterpret_cast<LPARAM>(text.c_str()));
}

// ---- message dispatch ------------------------------------------------------

LRESULT CALLBACK TfrmMain::WndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto *create = reinterpret_cast<CREATESTRUCTA *>(lp);
    auto *form = static_cast<TfrmMain *>(create->lpCreateParams);
    form->wnd_ = wnd;
    SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto *form = reinterpret_cast<TfrmMain *>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  if (!form) return DefWindowProcA(wnd, msg, wp, lp);
  return GuardedCall(wnd, 0, [&] { return form->OnMessage(msg, wp, lp); });
}

LRESULT TfrmMain::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
  case WM_COMMAND:
    OnCommand(LOWORD(wp), HIWORD(wp));
    return 0;
  case WM_NOTIFY:
    return OnNotify(*reinterpret_cast<const NMHDR *>(lp));
  case WM_DRAWITEM: {
    const auto &item = *reinterpret_cast<const DRAWITEMSTRUCT *>(lp);
    if (item.hwndItem == SpdOpen) {
      DrawGlyphButton(item);
      return TRUE;
    }
    break;
  }
  case WM_DESTROY:
    SetWindowLongPtrA(wnd_, GWLP_USERDATA, 0);
    if (frmMain == this) PostQuitMessage(0);
    wnd_ = nullptr;
    return 0;
  default:
    break;
  }
  return DefWindowProcA(wnd_, msg, wp, lp);
}

void TfrmMain::OnCommand(int id, int code) {
  if (code == 0 && id == kAddKey1) return AddKey1Click();
  if (code == 0 && id == kRemoveKey1) return RemoveKey1Click();
  const int index = id - layout::kFirstControlId;
  if (index < 0 || index >= static_cast<int>(layout::kControlCount)) return;
  const layout::ControlEntry &entry = layout::Entry(static_cast<Id>(index));
  using H = layout::Handler;
  if (code == BN_CLICKED) {
    switch (entry.handler) {
    case H::SpdOpenClick:
      return SpdOpenClick();
    case H::BtnSavePEClick:
      return BtnSavePEClick();
    case H::BtnSaveResClick:
      return BtnSaveResClick();
    case H::BtnAboutClick:
      return BtnAboutClick();
    default:
      return;
    }
  }
  // The list sends this for the user's choices only, never for CB_SETCURSEL.
  if (code == CBN_SELCHANGE) {
    if (entry.handler == H::CmbLanChange) return CmbLanChange();
    if (entry.handler == H::CmbCodePageChange) return CmbCodePageChange();
  }
}

LRESULT TfrmMain::OnNotify(const NMHDR &header) {
  const int index = static_cast<int>(header.idFrom) - layout::kFirstControlId;
  if (index < 0 || index >= static_cast<int>(layout::kControlCount)) return 0;
  const layout::ControlEntry &entry = layout::Entry(static_cast<Id>(index));
  if (entry.handler == layout::Handler::UpFileMajorChangingEx && header.code == UDN_DELTAPOS) {
    const auto &change = reinterpret_cast<const NMUPDOWN &>(header);
    bool allowChange = true;
    UpFileMajorChangingEx(entry.tag, allowChange, static_cast<short>(change.iPos + change.iDelta));
    return allowChange ? FALSE : TRUE;
  }
  if (entry.kind == Kind::StringGrid && header.code == SGN_MOUSEDOWN) {
    const auto &press = reinterpret_cast<const NMSTRINGGRIDMOUSE &>(header);
    StringsMouseDown(press.button, press.point);
    return 0;
  }
  if (entry.kind == Kind::StringGrid && header.code == SGN_CONTEXTMENU) {
    POINT screen;
    GetCursorPos(&screen);
    TrackPopupMenu(MenuString, TPM_LEFTALIGN | TPM_RIGHTBUTTON, screen.x, screen.y, 0, wnd_, nullptr);
    return 0;
  }
  return 0;
}

LRESULT CALLBACK TfrmMain::ControlProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref) {
  auto *form = reinterpret_cast<TfrmMain *>(ref);
  if (msg == WM_NCDESTROY) RemoveWindowSubclass(wnd, ControlProc, id);
  return GuardedCall(wnd, 0, [&] { return form->OnControlMessage(static_cast<Id>(id), wnd, msg, wp, lp); });
}

LRESULT TfrmMain::OnControlMessage(Id id, HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  const layout::ControlEntry &entry = layout::Entry(id);
  using H = layout::Handler;
  if (entry.handler == H::EdtFileMajorKeyPress && msg == WM_CHAR) {
    char key = static_cast<char>(wp);
    EdtFileMajorKeyPress(key);
    if (key == 0) return 0;
    return DefSubclassProc(wnd, msg, static_cast<WPARAM>(static_cast<unsigned char>(key)), lp);
  }
  if ((entry.handler == H::ChkSpecialMouseUp || entry.handler == H::ChkPrivateMouseUp) &&
      (msg == WM_LBUTTONUP || msg == WM_RBUTTONUP || msg == WM_MBUTTONUP)) {
    // The box toggles itself first; the handler looks at the state it then has.
    const LRESULT result = DefSubclassProc(wnd, msg, wp, lp);
    RECT client;
    GetClientRect(wnd, &client);
    const POINT point{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
    if (PtInRect(&client, point)) {
      if (entry.handler == H::ChkSpecialMouseUp)
        ChkSpecialMouseUp();
      else
        ChkPrivateMouseUp();
    }
    return result;
  }
  if (entry.kind == Kind::GlyphButton) {
    // Flat: the border shows only while the mouse is over the button.
    if (msg == WM_MOUSEMOVE && !glyphHot_) {
      glyphHot_ = true;
      TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, wnd, 0};
      TrackMouseEvent(&track);
      InvalidateRect(wnd, nullptr, FALSE);
    } else if (msg == WM_MOUSELEAVE) {
      glyphHot_ = false;
      InvalidateRect(wnd, nullptr, FALSE);
    }
  }
  return DefSubclassProc(wnd, msg, wp, lp);
}

void TfrmMain::DrawGlyphButton(const DRAWITEMSTRUCT &item) {
  RECT rect = item.rcItem;
  FillRect(item.hDC, &rect, GetSysColorBrush(COLOR_BTNFACE));
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  if (pressed)
    DrawEdge(item.hDC, &rect, BDR_SUNKENOUTER, BF_RECT);
  else if (glyphHot_)
    DrawEdge(item.hDC, &rect, BDR_RAISEDINNER, BF_RECT);
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

// ---- handlers --------------------------------------------------------------

void TfrmMain::FormCreate() {
  SendMessageA(CmbLan, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::string(kUndefinedLanguageItem).c_str()));
  for (std::uint16_t id : kLanguageIds) {
    std::array<char, 256> name{};
    if (VerLanguageNameA(id, name.data(), static_cast<DWORD>(name.size())) == 0) continue;
    const std::string_view text(name.data(), strnlen(name.data(), name.size()));
    if (text == kLanguageNeutralName) continue;
    SendMessageA(CmbLan, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(LanguageItemText(text, id).c_str()));
  }

  static constexpr std::array<std::array<const char *, 2>, layout::kGridInitialRows> kStartRows = {{
      {"Key", "Value"},
      {"CompanyName", ""},
      {"FileDescription", ""},
      {"FileVersion", "0.0.0.0"},
      {"LegalCopyright", "\xA9"
                         "2008"},
      {"ProductVersion", "0.0.0.0"},
  }};
  for (int row = 0; row < layout::kGridInitialRows; ++row)
    for (int col = 0; col < 2; ++col)
      SetGridCell(col, row, kStartRows[static_cast<size_t>(row)][static_cast<size_t>(col)]);
}

void TfrmMain::CmbLanChange() { SetHint(CmbLan, SelectedItemText(CmbLan)); }

void TfrmMain::CmbCodePageChange() { SetHint(CmbCodePage, SelectedItemText(CmbCodePage)); }

void TfrmMain::BtnAboutClick() {
  if (frmAbout) frmAbout->Show();
}

void TfrmMain::StringsMouseDown(UINT, POINT point) {
  const LRESULT cell = SendMessageA(Strings, SGM_CELLFROMPOINT, 0, MAKELPARAM(point.x, point.y));
  pressedRow_ = cell == -1 ? -1 : static_cast<int>(HIWORD(cell));
}

// Opening, saving, the rows that follow the boxes, the digit filter and the
// up-down coupling are the next layer of the editor; their hooks are wired.
void TfrmMain::SpdOpenClick() {}
void TfrmMain::BtnSavePEClick() {}
void TfrmMain::BtnSaveResClick() {}
void TfrmMain::UpFileMajorChangingEx(int, bool &, short) {}
void TfrmMain::EdtFileMajorKeyPress(char &) {}
void TfrmMain::ChkSpecialMouseUp() {}
void TfrmMain::ChkPrivateMouseUp() {}
void TfrmMain::AddKey1Click() {}
void TfrmMain::RemoveKey1Click() {}
void TfrmMain::ResetEditor() {}

void RemoveGridRow(int, HWND) {}

} // namespace qm::win
