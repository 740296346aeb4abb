#include "win/untMain.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "codec/decoder.h"
#include "codec/encoder.h"
#include "codec/field_codes.h"
#include "codec/file_names.h"
#include "codec/lists.h"
#include "fileio/file_io.h"
#include "stamp/module_file.h"
#include "stamp/module_injection.h"
#include "stamp/native_path.h"
#include "win/ansi_text_codec.h"
#include "win/app.h"
#include "win/dialogs.h"
#include "win/error_report.h"
#include "win/grid_model.h"
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
constexpr UINT_PTR kLanguageListSubclass = 0x4C;
constexpr int kRemoveKey1 = 2;
constexpr UINT kMakeHintsMessage = WM_APP + 1;

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

std::vector<std::string> ComboItems(HWND combo) {
  std::vector<std::string> items;
  const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
    std::string text(length == CB_ERR ? 0 : static_cast<size_t>(length) + 1, '\0');
    if (!text.empty()) {
      const LRESULT copied =
          SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
      text.resize(copied == CB_ERR ? 0 : static_cast<size_t>(copied));
    }
    items.push_back(std::move(text));
  }
  return items;
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
  if (measure_) DeleteDC(measure_);
  if (font_) DeleteObject(font_);
  if (glyph_) DeleteObject(glyph_);
  if (frmMain == this) frmMain = nullptr;
}

HWND &TfrmMain::Slot(Id id) { return this->*kSlots[static_cast<size_t>(id)]; }

HWND TfrmMain::Control(Id id) const {
  if (id == Id::Window) return wnd_;
  return this->*kSlots[static_cast<size_t>(id)];
}

HWND TfrmMain::ParentOf(Id id) const { return Control(layout::Entry(id).parent); }

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
  DragAcceptFiles(wnd_, TRUE);
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
  Slot(id) = control;
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);

  switch (entry.kind) {
  case Kind::UpDown: {
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
    break;
  }
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

SIZE TfrmMain::TextSize(const std::string &text) const {
  SIZE extent{};
  if (measure_) GetTextExtentPoint32A(measure_, text.c_str(), static_cast<int>(text.size()), &extent);
  return extent;
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
  if (fieldHeight == CB_ERR || closedHeight() == wanted) return FitDroppedWidth(combo);
  // The closed height follows the field's one for one where this was
  // tried, so a guess mostly hits and spares the search (each try lays the
  // control out again, a good part of the window's start). The height a
  // list has before its first layout need not be one the field gives (under
  // Wine it is not), so a miss is corrected once from the height it gave.
  // The lists share the font: the field that fitted one list of this height
  // is the first guess for the next.
  int field = fittedHeight_ == wanted ? fittedField_ : static_cast<int>(fieldHeight) + wanted - closedHeight();
  for (int tries = 0; tries < 2 && field >= 1; ++tries) {
    SendMessageA(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
    if (closedHeight() == wanted) break;
    field += wanted - closedHeight();
  }
  if (closedHeight() != wanted) {
    SendMessageA(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), fieldHeight);
    field = static_cast<int>(fieldHeight);
    int bestMiss = std::abs(closedHeight() - wanted), best = field;
    for (int tryField = std::max(1, wanted - 12); tryField <= wanted && bestMiss != 0; ++tryField) {
      SendMessageA(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), tryField);
      const int miss = std::abs(closedHeight() - wanted);
      if (miss < bestMiss) best = tryField, bestMiss = miss;
    }
    SendMessageA(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), best);
    field = best;
  }
  if (closedHeight() == wanted) fittedHeight_ = wanted, fittedField_ = field;
  FitDroppedWidth(combo);
}

// The opened list is as wide as its widest item (with room for its scroll
// bar and border), never narrower than the box and never wider than the
// screen, so no item is cut.
void TfrmMain::FitDroppedWidth(HWND combo) {
  int widest = 0;
  for (const std::string &item : ComboItems(combo))
    widest = std::max(widest, static_cast<int>(TextSize(item).cx));
  const int wanted = widest + GetSystemMetrics(SM_CXVSCROLL) + 2 * GetSystemMetrics(SM_CXEDGE) + Scale(8);
  SendMessageA(combo, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(std::min(wanted, GetSystemMetrics(SM_CXSCREEN))), 0);
}

// The tooltip control is a window of its own, which nobody sees before the
// mouse rests on a list: it is made once the main window is up (a message the
// window posts itself), or earlier when asked for.
HWND TfrmMain::Hints() {
  if (hints_ || !wnd_) return hints_;
  hints_ =
      CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, wnd_, nullptr, instance_, nullptr);
  if (!hints_) return nullptr;
  for (size_t i = 0; i < layout::kControlCount; ++i) {
    HWND control = Control(static_cast<Id>(i));
    if (layout::kMainControls[i].style & layout::kShowHints && control) AddHint(control);
  }
  return hints_;
}

// A hint made late starts with the text the program last gave it.
void TfrmMain::AddHint(HWND combo) {
  std::string text = hintTexts_[combo];
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = wnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(combo);
  tool.lpszText = text.data();
  SendMessageA(hints_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void TfrmMain::SetHint(HWND combo, const std::string &text) {
  hintTexts_[combo] = text;
  if (!hints_) return;
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.hwnd = wnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(combo);
  tool.lpszText = const_cast<char *>(text.c_str());
  SendMessageA(hints_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
}

void TfrmMain::SelectItem(HWND combo, int index) {
  SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  if (combo == CmbLan || combo == CmbCodePage) SetHint(combo, SelectedItemText(combo));
}

void TfrmMain::CreateMenuString() {
  MenuString = CreatePopupMenu();
  AppendMenuA(MenuString, MF_STRING, kAddKey1, "Add Key");
  AppendMenuA(MenuString, MF_STRING, kRemoveKey1, "Remove Key");
}

void TfrmMain::Show() {
  CentreOnScreen(wnd_);
  ShowWindow(wnd_, SW_SHOW);
  UpdateWindow(wnd_);
}

// The keys act only while the editor itself has the keyboard: a modal
// dialog disables the window, and a cell being edited keeps its own keys.
bool TfrmMain::HandleShortcut(const MSG &msg) {
  if (msg.message != WM_KEYDOWN || !IsWindowEnabled(wnd_)) return false;
  if (SendMessageA(Strings, SGM_ISEDITING, 0, 0)) return false;
  const bool control = GetKeyState(VK_CONTROL) < 0, shift = GetKeyState(VK_SHIFT) < 0;
  if (GetKeyState(VK_MENU) < 0) return false;
  Id button;
  if (control && !shift && msg.wParam == 'O')
    button = Id::SpdOpen;
  else if (control && !shift && msg.wParam == 'S')
    button = Id::BtnSavePE;
  else if (control && shift && msg.wParam == 'S')
    button = Id::BtnSaveRes;
  else if (!control && !shift && msg.wParam == VK_F1)
    button = Id::BtnAbout;
  else
    return false;
  SendMessageA(wnd_, WM_COMMAND, MAKEWPARAM(layout::ControlId(button), BN_CLICKED),
               reinterpret_cast<LPARAM>(Control(button)));
  return true;
}

void TfrmMain::SetGridCell(int col, int row, const std::string &text) {
  SendMessageA(Strings, SGM_SETCELLTEXT, MAKEWPARAM(col, row), reinterpret_cast<LPARAM>(text.c_str()));
}

// ---- message dispatch ------------------------------------------------------

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
  case WM_DROPFILES: {
    // A file dropped on the window opens as the open command opens it; of
    // several, the first.
    auto *drop = reinterpret_cast<HDROP>(wp);
    std::string path;
    if (DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0) > 0) {
      path.resize(DragQueryFileA(drop, 0, nullptr, 0) + 1);
      path.resize(DragQueryFileA(drop, 0, path.data(), static_cast<UINT>(path.size())));
    }
    DragFinish(drop);
    if (!path.empty()) OpenFile(path);
    return 0;
  }
  case WM_DESTROY:
    if (frmMain == this) PostQuitMessage(0);
    return 0;
  case kMakeHintsMessage:
    Hints();
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
    return OnUpDownStep(entry.tag, reinterpret_cast<const NMUPDOWN &>(header));
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

// ---- handlers --------------------------------------------------------------

void TfrmMain::FormCreate() {
  SendMessageA(CmbLan, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::string(kUndefinedLanguageItem).c_str()));
  SetWindowSubclass(CmbLan, LanguageListProc, kLanguageListSubclass, reinterpret_cast<DWORD_PTR>(this));
  ShowStartState();
  PostMessageA(wnd_, kMakeHintsMessage, 0, 0);
}

void TfrmMain::FillLanguageList() {
  if (!RemoveWindowSubclass(CmbLan, LanguageListProc, kLanguageListSubclass)) return; // filled already
  for (std::uint16_t id : kLanguageIds) {
    std::array<char, 256> name{};
    if (VerLanguageNameA(id, name.data(), static_cast<DWORD>(name.size())) == 0) continue;
    const std::string_view text(name.data(), strnlen(name.data(), name.size()));
    if (text == kLanguageNeutralName) continue;
    SendMessageA(CmbLan, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(LanguageItemText(text, id).c_str()));
  }
  FitDroppedWidth(CmbLan);
}

// The language list's two hundred items, a platform call each, are added on
// the first message that reads, shows or moves through them, not at start:
// until then the list holds only its first item, which is all the start and
// the reset select.
LRESULT CALLBACK TfrmMain::LanguageListProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
  bool needsItems = false;
  switch (msg) {
  case CB_SETCURSEL: // the first item is there from the start
  case CB_GETLBTEXT:
  case CB_GETLBTEXTLEN:
  case CB_GETITEMDATA:
    needsItems = static_cast<int>(wp) > 0;
    break;
  case CB_GETCOUNT:
  case CB_FINDSTRING:
  case CB_FINDSTRINGEXACT:
  case CB_SELECTSTRING:
  case CB_SHOWDROPDOWN:
  case CB_GETDROPPEDWIDTH:
  case CB_SETTOPINDEX:
  case CB_GETTOPINDEX:
  case WM_SETFOCUS:
  case WM_KEYDOWN:
  case WM_CHAR:
  case WM_LBUTTONDOWN:
  case WM_LBUTTONDBLCLK:
  case WM_MOUSEWHEEL:
  case WM_GETOBJECT:
    needsItems = true;
    break;
  default:
    break;
  }
  if (needsItems) reinterpret_cast<TfrmMain *>(ref)->FillLanguageList();
  return DefSubclassProc(wnd, msg, wp, lp);
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

namespace {

// The edits the up-downs write into, by Tag.
constexpr std::array<HWND TfrmMain::*, 8> kVersionEdits = {
    &TfrmMain::EdtFileMajor, &TfrmMain::EdtFileMinor, &TfrmMain::EdtFileRelease, &TfrmMain::EdtFileBuild,
    &TfrmMain::EdtProdMajor, &TfrmMain::EdtProdMinor, &TfrmMain::EdtProdRelease, &TfrmMain::EdtProdBuild,
};
constexpr std::array<HWND TfrmMain::*, 8> kUpDowns = {
    &TfrmMain::UpFileMajor, &TfrmMain::UpFileMinor, &TfrmMain::UpFileRelease, &TfrmMain::UpFileBuild,
    &TfrmMain::UpProdMajor, &TfrmMain::UpProdMinor, &TfrmMain::UpProdRelease, &TfrmMain::UpProdBuild,
};
constexpr int kFileVersionTags = 4;

int TagOf(VersionPart part) {
  switch (part) {
  case VersionPart::FileMajor:
    return 0;
  case VersionPart::FileMinor:
    return 1;
  case VersionPart::FileRelease:
    return 2;
  case VersionPart::FileBuild:
    return 3;
  case VersionPart::ProdMajor:
    return 4;
  case VersionPart::ProdMinor:
    return 5;
  case VersionPart::ProdRelease:
    return 6;
  case VersionPart::ProdBuild:
    return 7;
  }
  return -1;
}

std::string CellText(HWND grid, int col, int row) {
  const WPARAM cell = MAKEWPARAM(col, row);
  const LRESULT length = SendMessageA(grid, SGM_GETCELLTEXT, cell, 0);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  SendMessageA(grid, SGM_GETCELLTEXT, cell, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(length));
  return text;
}

int RowCount(HWND grid) { return static_cast<int>(SendMessageA(grid, SGM_GETROWCOUNT, 0, 0)); }

bool IsChecked(HWND box) { return SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// A file's whole content, opened as the open command does: reading, others
// may read too, only if it exists. Nothing when it cannot be opened.
std::optional<std::vector<std::uint8_t>> ReadSharedFile(const std::string &path) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  struct Closer {
    HANDLE handle;
    ~Closer() { CloseHandle(handle); }
  } closer{file};
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(file, bytes.data() + done, want, &got, nullptr) || got == 0) break;
    done += got;
  }
  bytes.resize(done);
  return bytes;
}

// The version block a module or block file holds; empty when there is none
// or it cannot be read.
std::vector<std::uint8_t> VersionBlockOf(const std::string &path) {
  try {
    if (IsBlockFileName(path)) return ReadSharedFile(path).value_or(std::vector<std::uint8_t>{});
    // Read from the file, never loaded as a program: its code never runs.
    auto found = stamp::ReadVersionResource(stamp::PathFromArgument(path), GetUserDefaultLangID());
    if (!found || !found->has_value()) return {};
    return std::move((*found)->bytes);
  } catch (const std::exception &) {
    return {}; // a file too large to hold
  }
}

// A message from the core begins in lower case, as it is also part of the
// companion's longer lines; the message box shows it as a sentence.
std::string AsSentence(std::string message) {
  if (!message.empty()) CharUpperBuffA(message.data(), 1);
  return message;
}

const FileDialogRequest kOpenRequest{
    "Open File",
    {{"Application Files (*.exe, *.dll, *.ocx, *.scr)", "*.exe; *.dll; *.ocx; *.scr"}, {"Res Files (*.res)", "*.res"}}};
const FileDialogRequest kSaveToModuleRequest{"Save Version to PE",
                                             {{"Exe Files (*.exe)", "*.exe"},
                                              {"Dll Files (*.dll)", "*.dll"},
                                              {"Ocx Files (*.ocx)", "*.ocx"},
                                              {"Scr Files (*.scr)", "*.scr"}}};
const FileDialogRequest kSaveToBlockFileRequest{"Save Version as Resource", {{"Res Files (*.res)", "*.res"}}};

} // namespace

// ---- the up-downs and their edits -------------------------------------------

void TfrmMain::SetUpDownPosition(int tag, short position) {
  if (tag < 0 || tag >= static_cast<int>(positions_.size())) return;
  short &current = positions_[static_cast<size_t>(tag)];
  if (current == position) return;
  bool allowChange = true;
  UpFileMajorChangingEx(tag, allowChange, position);
  if (!allowChange) return;
  current = position;
  SendMessageA(this->*kUpDowns[static_cast<size_t>(tag)], UDM_SETPOS32, 0, position);
}

// The window moves the position itself, so that a step from a position a
// load put outside the range starts at the range's nearest end.
LRESULT TfrmMain::OnUpDownStep(int tag, const NMUPDOWN &change) {
  if (tag < 0 || tag >= static_cast<int>(positions_.size())) return TRUE;
  const int current = positions_[static_cast<size_t>(tag)];
  const int start = std::clamp(current, layout::kUpDownMin, layout::kUpDownMax);
  const int target = std::clamp(start + change.iDelta, layout::kUpDownMin, layout::kUpDownMax);
  if (target != current) SetUpDownPosition(tag, static_cast<short>(target));
  return TRUE;
}

void TfrmMain::UpFileMajorChangingEx(int tag, bool &, short newValue) {
  if (tag < 0 || tag >= static_cast<int>(kVersionEdits.size())) return;
  SetWindowTextA(this->*kVersionEdits[static_cast<size_t>(tag)], std::to_string(newValue).c_str());
  if (tag >= kFileVersionTags) return;
  const std::vector<StringRow> rows = GridRows();
  const std::optional<size_t> row = FirstRowKeyed(rows, kFileVersionKey);
  if (!row) return;
  SetGridCell(1, static_cast<int>(*row) + 1,
              FileVersionRowText(WindowText(EdtFileMajor), WindowText(EdtFileMinor), WindowText(EdtFileRelease),
                                 WindowText(EdtFileBuild)));
}

void TfrmMain::EdtFileMajorKeyPress(char &key) {
  constexpr char kBackspace = 8;
  if ((key < '0' || key > '9') && key != kBackspace) key = 0;
}

// ---- the string rows --------------------------------------------------------

std::vector<StringRow> TfrmMain::GridRows() const {
  std::vector<StringRow> rows;
  const int count = RowCount(Strings);
  for (int row = 1; row < count; ++row)
    rows.push_back({CellText(Strings, 0, row), CellText(Strings, 1, row)});
  return rows;
}

void TfrmMain::AppendGridRow(const std::string &key) {
  const int count = RowCount(Strings);
  SendMessageA(Strings, SGM_SETROWCOUNT, static_cast<WPARAM>(count + 1), 0);
  SetGridCell(0, count, key);
}

void TfrmMain::BuildRowFollowingBox(HWND box, std::string_view key) {
  if (IsChecked(box)) return AppendGridRow(std::string(key));
  const std::optional<size_t> row = FirstRowKeyed(GridRows(), key);
  if (row) RemoveGridRow(static_cast<int>(*row) + 1, Strings);
}

void TfrmMain::ChkSpecialMouseUp() { BuildRowFollowingBox(ChkSpecial, kSpecialBuildKey); }

void TfrmMain::ChkPrivateMouseUp() { BuildRowFollowingBox(ChkPrivate, kPrivateBuildKey); }

void TfrmMain::AddKey1Click() {
  const std::optional<std::string> key = CurrentDialogs().InputBox(wnd_, "Key Name", "Please enter a Key Name");
  if (key && !key->empty()) AppendGridRow(*key);
}

// The header row is not an entry: removing "it" would shift the entries
// into the header, so a press on the header leaves the table alone.
void TfrmMain::RemoveKey1Click() {
  if (pressedRow_ == 0) return;
  RemoveGridRow(pressedRow_, Strings);
}

void RemoveGridRow(int row, HWND grid) {
  const int count = RowCount(grid);
  if (row < 0 || row >= count) throw std::runtime_error("Grid index out of range");
  const int col = LOWORD(SendMessageA(grid, SGM_GETCURRENTCELL, 0, 0));
  const RECT current{col, row, col, row};
  SendMessageA(grid, SGM_SETSELECTION, 0, reinterpret_cast<LPARAM>(&current));
  std::vector<GridRow> rows;
  for (int i = 0; i < count; ++i)
    rows.push_back({CellText(grid, 0, i), CellText(grid, 1, i)});
  RemoveRow(rows, row);
  SendMessageA(grid, SGM_SETROWCOUNT, rows.size(), 0);
  for (int i = row; i < static_cast<int>(rows.size()); ++i)
    for (int c = 0; c < kGridColumns; ++c)
      SendMessageA(grid, SGM_SETCELLTEXT, MAKEWPARAM(c, i),
                   reinterpret_cast<LPARAM>(rows[static_cast<size_t>(i)][static_cast<size_t>(c)].c_str()));
}

// ---- reset and load ---------------------------------------------------------

// Every edit is written, not only those whose up-down moves: a number typed
// while its up-down stood at 0 would otherwise outlive the reset and show
// beside the loaded file's values. No row survives either, so a file without
// a string table shows none.
void TfrmMain::ResetEditor() {
  SendMessageA(Strings, SGM_SETROWCOUNT, 1, 0);
  for (int tag = 0; tag < static_cast<int>(positions_.size()); ++tag) {
    SetUpDownPosition(tag, 0);
    SetWindowTextA(this->*kVersionEdits[static_cast<size_t>(tag)], "0");
  }
  for (HWND box : {ChkDebug, ChkSpecial, ChkPre, ChkPrivate})
    SendMessageA(box, BM_SETCHECK, BST_UNCHECKED, 0);
  for (HWND list : {CmbLan, CmbCodePage, CmbFileOs, CmbFileType, CmbSubType})
    SelectItem(list, 0);
}

void TfrmMain::ShowStartState() {
  ResetEditor();
  for (HWND list : {CmbLan, CmbCodePage, CmbFileOs, CmbFileType, CmbSubType})
    SelectItem(list, -1);
  static constexpr std::array<std::array<const char *, 2>, layout::kGridInitialRows> kStartRows = {{
      {"Key", "Value"},
      {"CompanyName", ""},
      {"FileDescription", ""},
      {"FileVersion", "0.0.0.0"},
      {"LegalCopyright", "\xA9"
                         "2008"},
      {"ProductVersion", "0.0.0.0"},
  }};
  SendMessageA(Strings, SGM_SETROWCOUNT, layout::kGridInitialRows, 0);
  for (int row = 0; row < layout::kGridInitialRows; ++row)
    for (int col = 0; col < 2; ++col)
      SetGridCell(col, row, kStartRows[static_cast<size_t>(row)][static_cast<size_t>(col)]);
}

bool TfrmMain::LoadVersionBlock(std::span<const std::uint8_t> data) {
  const DecodedVersionBlock block = DecodeVersionBlock(data);
  if (!block.SignatureMatched) return false;
  for (const VersionWord &word : block.Words)
    SetUpDownPosition(TagOf(word.Part), word.Position);

  const std::pair<HWND, std::uint32_t> boxes[] = {
      {ChkDebug, kFlagDebug}, {ChkPre, kFlagPreRelease}, {ChkSpecial, kFlagSpecial}, {ChkPrivate, kFlagPrivate}};
  for (const auto &[box, bit] : boxes)
    if (block.Flags & bit) SendMessageA(box, BM_SETCHECK, BST_CHECKED, 0);

  if (const std::optional<int> os = FileOsIndexFromValue(block.FileOs)) SelectItem(CmbFileOs, *os);
  // An index outside a list leaves it with no item and empty text.
  SelectItem(CmbFileType, FileTypeIndexFromValue(block.FileType));
  SelectItem(CmbSubType, SubTypeIndexFromValue(block.FileSubType));

  if (block.TranslationFound) {
    const int language = LanguageItemIndex(ComboItems(CmbLan), block.Language);
    if (language >= 0) SelectItem(CmbLan, language);
    const int codePage = CodePageItemIndex(block.CodePage);
    if (codePage >= 0) SelectItem(CmbCodePage, codePage);
  }

  if (block.StringFileInfoFound) {
    const AnsiTextCodec codec;
    SendMessageA(Strings, SGM_SETROWCOUNT, block.Strings.size() + 1, 0);
    int row = 1;
    for (const DecodedString &entry : block.Strings) {
      SetGridCell(0, row, codec.FromUtf16(entry.Key));
      SetGridCell(1, row, codec.FromUtf16(entry.Value));
      ++row;
    }
  }
  return true;
}

// ---- opening ----------------------------------------------------------------

void TfrmMain::SpdOpenClick() {
  const std::optional<std::string> path = CurrentDialogs().OpenFile(wnd_, kOpenRequest);
  if (path) OpenFile(*path);
}

// Every failure here is silent: what holds no version block (a missing file,
// no module, a module without version information) leaves the editor as it
// starts, with the path shown.
void TfrmMain::OpenFile(const std::string &path) {
  ResetEditor();
  SetWindowTextA(EdtFile, path.c_str());
  if (!LoadVersionBlock(VersionBlockOf(path))) ShowStartState();
}

// ---- saving -----------------------------------------------------------------

EditorTexts TfrmMain::CurrentTexts() const {
  EditorTexts texts;
  texts.FileTypeIndex = static_cast<int>(SendMessageA(CmbFileType, CB_GETCURSEL, 0, 0));
  texts.FileTypeText = SelectedItemText(CmbFileType);
  texts.SubTypeIndex = static_cast<int>(SendMessageA(CmbSubType, CB_GETCURSEL, 0, 0));
  texts.SubTypeText = SelectedItemText(CmbSubType);
  texts.LanguageItem = SelectedItemText(CmbLan);
  texts.CodePageItem = SelectedItemText(CmbCodePage);
  for (size_t i = 0; i < kVersionEdits.size(); ++i)
    texts.VersionTexts[i] = WindowText(this->*kVersionEdits[i]);
  texts.Rows = GridRows();
  texts.Debug = IsChecked(ChkDebug);
  texts.PreRelease = IsChecked(ChkPre);
  texts.Special = IsChecked(ChkSpecial);
  texts.Private = IsChecked(ChkPrivate);
  texts.FileOsIndex = static_cast<int>(SendMessageA(CmbFileOs, CB_GETCURSEL, 0, 0));
  return texts;
}

std::vector<std::uint8_t> TfrmMain::EncodeCurrentValues() const {
  Result<VersionFields> fields = CollectVersionFields(CurrentTexts());
  if (!fields) throw std::runtime_error(fields.error());
  Result<std::vector<std::uint8_t>> block = EncodeVersionBlock(*fields, AnsiTextCodec{});
  if (!block) throw std::runtime_error(block.error());
  return std::move(*block);
}

// The values are encoded before the destination is touched, so a save that
// fails to convert leaves every file as it was.
void TfrmMain::BtnSavePEClick() {
  const std::optional<std::string> name = CurrentDialogs().SaveFile(wnd_, kSaveToModuleRequest);
  if (!name) return;
  const std::vector<std::uint8_t> block = EncodeCurrentValues();
  StoreBlockInModule(*name, block);
}

void TfrmMain::BtnSaveResClick() {
  const std::optional<std::string> name = CurrentDialogs().SaveFile(wnd_, kSaveToBlockFileRequest);
  if (!name) return;
  const std::optional<std::string> target = BlockFileName(*name);
  if (!target) {
    throw std::runtime_error("The name '" + *name + "' is too long to take the extension \"" +
                             std::string(kBlockFileExtension) + "\"; nothing was written");
  }
  const std::vector<std::uint8_t> block = EncodeCurrentValues();
  auto held = fileio::HeldFile::Open(stamp::PathFromArgument(*target), false);
  const Status written = held ? held->Replace(block) : Status(held.failure());
  if (!written) {
    throw std::runtime_error("The block file '" + *target + "' cannot be written: " + written.error() +
                             "; it was left as it was");
  }
}

void StoreBlockInModule(const std::string &path, std::span<const std::uint8_t> block) {
  if (auto failure = stamp::StoreVersionResource(stamp::PathFromArgument(path), path, block))
    throw std::runtime_error(AsSentence(failure->message));
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
    if (strips.empty()) continue;
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
