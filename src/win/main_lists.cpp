// The main window's drop-down lists: their closed height and opened width,
// the hints that show the chosen item of the language and code page lists,
// and the language list's items, added on its first use.
#include "win/untMain.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "codec/lists.h"
#include "win/ansi_text_codec.h"
#include "win/control_text.h"
#include "win/main_ids.h"

namespace qm::win {

using layout::Id;

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
  if (combo == Control(Id::CmbLan) || combo == Control(Id::CmbCodePage)) SetHint(combo, SelectedItemText(combo));
}

void TfrmMain::FillLanguageList() {
  HWND languages = Control(Id::CmbLan);
  if (!RemoveWindowSubclass(languages, LanguageListProc, kLanguageListSubclass)) return; // filled already
  // The 8-bit function gives a name in the language's own code page
  // ("Bokm\xE5l" in Windows-1252), whatever the process's is; in UTF-8 that
  // is no text at all. The name is asked for in UTF-16 and written in the
  // process's code page.
  const AnsiTextCodec codec;
  for (std::uint16_t id : kLanguageIds) {
    std::array<wchar_t, 256> name{};
    if (VerLanguageNameW(id, name.data(), static_cast<DWORD>(name.size())) == 0) continue;
    const std::string text =
        codec.FromUtf16(std::u16string(name.data(), name.data() + wcsnlen(name.data(), name.size())));
    if (text == kLanguageNeutralName) continue;
    SendMessageA(languages, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(LanguageItemText(text, id).c_str()));
  }
  FitDroppedWidth(languages);
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

} // namespace qm::win
