// The main window's life and its message dispatch: which handler a message
// goes to is read from the layout table. Building the controls is in
// main_controls.cpp and main_lists.cpp, the string rows in main_rows.cpp,
// loading and saving in main_files.cpp.
#include "win/untMain.h"

#include <commctrl.h>
#include <shellapi.h>

#include <optional>
#include <string>
#include <utility>

#include "codec/lists.h"
#include "win/ansi_text_codec.h"
#include "win/app.h"
#include "win/control_text.h"
#include "win/late_library.h"
#include "win/main_ids.h"
#include "win/string_grid.h"
#include "win/untAbout.h"

namespace qm::win {

TfrmMain *frmMain = nullptr;

namespace {

using layout::Handler;
using layout::Id;
using layout::Kind;

// The handlers that take no arguments, by the name the layout table gives
// them; the others carry what their message carries and are called where
// that message is read.
constexpr std::pair<Handler, void (TfrmMain::*)()> kPlainHandlers[] = {
    {Handler::SpdOpenClick, &TfrmMain::SpdOpenClick},
    {Handler::BtnSavePEClick, &TfrmMain::BtnSavePEClick},
    {Handler::BtnSaveResClick, &TfrmMain::BtnSaveResClick},
    {Handler::BtnAboutClick, &TfrmMain::BtnAboutClick},
    {Handler::CmbLanChange, &TfrmMain::CmbLanChange},
    {Handler::CmbCodePageChange, &TfrmMain::CmbCodePageChange},
    {Handler::ChkSpecialMouseUp, &TfrmMain::ChkSpecialMouseUp},
    {Handler::ChkPrivateMouseUp, &TfrmMain::ChkPrivateMouseUp},
};

// The notification code that runs a control's handler through WM_COMMAND.
// A list sends CBN_SELCHANGE for the user's choices only, never for
// CB_SETCURSEL; a check box's handler follows the mouse instead.
std::optional<int> CommandCodeOf(Kind kind) {
  if (kind == Kind::GlyphButton || kind == Kind::PushButton) return BN_CLICKED;
  if (kind == Kind::DropDownList) return CBN_SELCHANGE;
  return std::nullopt;
}

// The control a WM_COMMAND or WM_NOTIFY identifier names, if any.
std::optional<Id> IdFromControlId(int controlId) {
  const int index = controlId - layout::kFirstControlId;
  if (index < 0 || index >= static_cast<int>(layout::kControlCount)) return std::nullopt;
  return static_cast<Id>(index);
}

struct Shortcut {
  bool control, shift;
  WPARAM key;
  Id button;
};

constexpr Shortcut kShortcuts[] = {
    {true, false, 'O', Id::SpdOpen},
    {true, false, 'S', Id::BtnSavePE},
    {true, true, 'S', Id::BtnSaveRes},
    {false, false, VK_F1, Id::BtnAbout},
};

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

HWND TfrmMain::Control(Id id) const {
  if (id == Id::Window) return wnd_;
  return controls_[static_cast<size_t>(id)];
}

HWND TfrmMain::ParentOf(Id id) const { return Control(layout::Entry(id).parent); }

void TfrmMain::Show() {
  CentreOnScreen(wnd_);
  ShowWindow(wnd_, SW_SHOW);
  UpdateWindow(wnd_);
}

// The keys act only while the editor itself has the keyboard: a modal
// dialog disables the window, and a cell being edited keeps its own keys.
bool TfrmMain::HandleShortcut(const MSG &msg) {
  if (msg.message != WM_KEYDOWN || !IsWindowEnabled(wnd_)) return false;
  if (SendMessageA(Control(Id::Strings), SGM_ISEDITING, 0, 0)) return false;
  const bool control = GetKeyState(VK_CONTROL) < 0, shift = GetKeyState(VK_SHIFT) < 0;
  if (GetKeyState(VK_MENU) < 0) return false;
  for (const Shortcut &key : kShortcuts) {
    if (key.control != control || key.shift != shift || key.key != msg.wParam) continue;
    SendMessageA(wnd_, WM_COMMAND, MAKEWPARAM(layout::ControlId(key.button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(key.button)));
    return true;
  }
  return false;
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
    if (item.hwndItem == Control(Id::SpdOpen)) {
      DrawGlyphButton(item);
      return TRUE;
    }
    break;
  }
  case WM_DROPFILES:
    OnDropFiles(reinterpret_cast<HDROP>(wp));
    return 0;
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

// A file dropped on the window opens as the open command opens it; of
// several, the first. Its name is asked for in UTF-16 and put into the code
// page without look-alikes, so a name the code page cannot carry is refused
// rather than taken for another file's.
void TfrmMain::OnDropFiles(HDROP drop) {
  static const auto query = LateFunction<decltype(&DragQueryFileW)>("shell32.dll", "DragQueryFileW");
  static const auto finish = LateFunction<decltype(&DragFinish)>("shell32.dll", "DragFinish");
  std::wstring path;
  if (query && query(drop, 0xFFFFFFFF, nullptr, 0) > 0) {
    path.resize(query(drop, 0, nullptr, 0) + 1);
    path.resize(query(drop, 0, path.data(), static_cast<UINT>(path.size())));
  }
  if (finish) finish(drop);
  if (!path.empty())
    OpenFile(NameInCodePage(std::u16string_view(reinterpret_cast<const char16_t *>(path.data()), path.size())));
}

void TfrmMain::Run(Handler handler) {
  for (const auto &[name, run] : kPlainHandlers)
    if (name == handler) return (this->*run)();
}

void TfrmMain::OnCommand(int id, int code) {
  if (code == 0 && id == kAddKey1) return AddKey1Click();
  if (code == 0 && id == kRemoveKey1) return RemoveKey1Click();
  const std::optional<Id> control = IdFromControlId(id);
  if (!control) return;
  const layout::ControlEntry &entry = layout::Entry(*control);
  if (CommandCodeOf(entry.kind) == code) Run(entry.handler);
}

LRESULT TfrmMain::OnNotify(const NMHDR &header) {
  const std::optional<Id> control = IdFromControlId(static_cast<int>(header.idFrom));
  if (!control) return 0;
  const layout::ControlEntry &entry = layout::Entry(*control);
  if (entry.handler == Handler::UpFileMajorChangingEx && header.code == UDN_DELTAPOS) {
    return OnUpDownStep(entry.tag, reinterpret_cast<const NMUPDOWN &>(header));
  }
  if (entry.handler == Handler::StringsMouseDown && header.code == SGN_MOUSEDOWN) {
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
  if (entry.handler == Handler::EdtFileMajorKeyPress && msg == WM_CHAR) {
    char key = static_cast<char>(wp);
    EdtFileMajorKeyPress(key);
    if (key == 0) return 0;
    return DefSubclassProc(wnd, msg, static_cast<WPARAM>(static_cast<unsigned char>(key)), lp);
  }
  if (entry.kind == Kind::CheckBox && (msg == WM_LBUTTONUP || msg == WM_RBUTTONUP || msg == WM_MBUTTONUP)) {
    // The box toggles itself first; the handler looks at the state it then has.
    const LRESULT result = DefSubclassProc(wnd, msg, wp, lp);
    RECT client;
    GetClientRect(wnd, &client);
    const POINT point{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
    if (PtInRect(&client, point)) Run(entry.handler);
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

// ---- handlers --------------------------------------------------------------

void TfrmMain::FormCreate() {
  HWND languages = Control(Id::CmbLan);
  SendMessageA(languages, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::string(kUndefinedLanguageItem).c_str()));
  SetWindowSubclass(languages, LanguageListProc, kLanguageListSubclass, reinterpret_cast<DWORD_PTR>(this));
  ShowStartState();
  PostMessageA(wnd_, kMakeHintsMessage, 0, 0);
}

void TfrmMain::CmbLanChange() { SetHint(Control(Id::CmbLan), SelectedItemText(Control(Id::CmbLan))); }

void TfrmMain::CmbCodePageChange() { SetHint(Control(Id::CmbCodePage), SelectedItemText(Control(Id::CmbCodePage))); }

void TfrmMain::BtnAboutClick() {
  if (frmAbout) frmAbout->Show();
}

void TfrmMain::StringsMouseDown(UINT, POINT point) {
  const LRESULT cell = SendMessageA(Control(Id::Strings), SGM_CELLFROMPOINT, 0, MAKELPARAM(point.x, point.y));
  pressedRow_ = cell == -1 ? -1 : static_cast<int>(HIWORD(cell));
}

} // namespace qm::win
