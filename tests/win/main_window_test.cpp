// The main window as the program creates it: every control's class, parent,
// place, size and text; the lists and their hints; the up-downs; the string
// table at start; the keyboard order through the real message loop; the
// About button. One window serves every test, as in the program, since
// hiding or destroying a window is slow without a window manager.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "codec/lists.h"
#include "win/ansi_text_codec.h"
#include "win/app.h"
#include "win/layout.h"
#include "win/string_grid.h"
#include "win/untAbout.h"
#include "win/untMain.h"

namespace {

using namespace qm::win;
using layout::Id;
using layout::Kind;

TfrmMain &Form() {
  static TfrmMain *form = [] {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    // Never destroyed: the process ends with it, as the program does.
    TfrmMain *created = TfrmMain::Create(GetModuleHandleA(nullptr)).release();
    created->Show();
    return created;
  }();
  return *form;
}

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
    DispatchLoopMessage(msg);
}

int Scale(int value) { return MulDiv(value, Form().Dpi(), 96); }

std::string TextOf(HWND wnd) {
  std::string text(static_cast<size_t>(GetWindowTextLengthA(wnd)) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(wnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::string ClassOf(HWND wnd) {
  std::array<char, 64> name{};
  GetClassNameA(wnd, name.data(), static_cast<int>(name.size()));
  return name.data();
}

RECT PlaceIn(HWND control, HWND parent) {
  RECT rc{};
  GetWindowRect(control, &rc);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT *>(&rc), 2);
  return rc;
}

std::vector<std::string> ComboItems(HWND combo) {
  std::vector<std::string> items;
  const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::string text(static_cast<size_t>(SendMessageA(combo, CB_GETLBTEXTLEN, i, 0)) + 1, '\0');
    text.resize(static_cast<size_t>(SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
    items.push_back(text);
  }
  return items;
}

std::string HintOf(HWND combo) {
  std::array<char, 512> text{};
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.hwnd = Form().Handle();
  tool.uId = reinterpret_cast<UINT_PTR>(combo);
  tool.lpszText = text.data();
  SendMessageA(Form().Hints(), TTM_GETTEXTA, text.size(), reinterpret_cast<LPARAM>(&tool));
  return text.data();
}

bool GridAvailable() {
  WNDCLASSA info;
  return GetClassInfoA(GetModuleHandleA(nullptr), kStringGridClass, &info) != 0;
}

// The window classes each kind of control is made of.
const std::map<Kind, std::string> kClassOfKind = {
    {Kind::Edit, "Edit"},
    {Kind::GlyphButton, "Button"},
    {Kind::GroupBox, "QmGroupBox"},
    {Kind::Label, "Static"},
    {Kind::UpDown, "msctls_updown32"},
    {Kind::CheckBox, "Button"},
    {Kind::DropDownList, "ComboBox"},
    {Kind::StringGrid, "QmStringGrid"},
    {Kind::PushButton, "Button"},
};

Id IdOf(std::string_view name) {
  for (size_t i = 0; i < layout::kControlCount; ++i)
    if (layout::kMainControls[i].name == name) return static_cast<Id>(i);
  ADD_FAILURE() << "no control " << name;
  return Id::Window;
}

} // namespace

namespace qm::win::layout {
// Names the control in failure messages instead of dumping its bytes.
void PrintTo(const ControlEntry &entry, std::ostream *out) { *out << entry.name; }
} // namespace qm::win::layout

namespace {

class MainWindowControl : public testing::TestWithParam<layout::ControlEntry> {};

TEST_P(MainWindowControl, HasItsClassParentPlaceAndText) {
  const layout::ControlEntry &entry = GetParam();
  if (entry.kind == Kind::StringGrid && !GridAvailable()) GTEST_SKIP() << "the string grid is not built in";
  HWND control = Form().Control(IdOf(entry.name));
  ASSERT_TRUE(IsWindow(control));
  HWND parent = Form().Control(entry.parent);
  EXPECT_EQ(GetParent(control), parent);
  EXPECT_EQ(GetDlgItem(parent, GetDlgCtrlID(control)), control);
  EXPECT_STRCASEEQ(ClassOf(control).c_str(), kClassOfKind.at(entry.kind).c_str());

  const RECT place = PlaceIn(control, parent);
  EXPECT_EQ(place.left, Scale(entry.x));
  EXPECT_EQ(place.top, Scale(entry.y));
  if (entry.kind == Kind::Label) {
    // Labels fit their text, whatever the font's width.
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32A(dc, std::string(entry.text).c_str(), static_cast<int>(entry.text.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    EXPECT_EQ(place.right - place.left, extent.cx);
    EXPECT_GE(place.bottom - place.top, extent.cy);
  } else {
    EXPECT_EQ(place.right - place.left, Scale(entry.w));
    EXPECT_EQ(place.bottom - place.top, Scale(entry.h));
  }
  if (entry.kind != Kind::DropDownList && entry.kind != Kind::StringGrid) {
    EXPECT_EQ(TextOf(control), entry.text);
  }

  const LONG style = GetWindowLongA(control, GWL_STYLE);
  EXPECT_TRUE(style & WS_VISIBLE);
  EXPECT_EQ((style & WS_TABSTOP) != 0, layout::IsTabStop(entry.kind));
  EXPECT_EQ((GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_CONTROLPARENT) != 0, entry.kind == Kind::GroupBox);
  // Every control with a text speaks the window's font.
  if (entry.kind != Kind::UpDown) {
    EXPECT_EQ(SendMessageA(control, WM_GETFONT, 0, 0), SendMessageA(Form().Control(Id::EdtFile), WM_GETFONT, 0, 0));
  }
}

INSTANTIATE_TEST_SUITE_P(Layout, MainWindowControl, testing::ValuesIn(layout::kMainControls),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(MainWindow, CaptionBorderSizeAndFont) {
  HWND wnd = Form().Handle();
  EXPECT_EQ(TextOf(wnd), "Quillmark");
  RECT client{};
  GetClientRect(wnd, &client);
  EXPECT_EQ(client.right, Scale(401));
  EXPECT_EQ(client.bottom, Scale(497));
  const LONG style = GetWindowLongA(wnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);

  RECT frame{};
  GetWindowRect(wnd, &frame);
  EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR((frame.top + frame.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);

  LOGFONTA font{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(Form().Control(Id::EdtFile), WM_GETFONT, 0, 0)), sizeof(font), &font);
  EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");
  EXPECT_EQ(font.lfHeight, -Scale(11));
  EXPECT_EQ(GetClassLongPtrA(wnd, GCLP_HBRBACKGROUND), static_cast<ULONG_PTR>(COLOR_BTNFACE + 1));
}

TEST(MainWindow, StartState) {
  TfrmMain &form = Form();
  for (HWND box : {form.Control(Id::ChkDebug), form.Control(Id::ChkSpecial), form.Control(Id::ChkPre),
                   form.Control(Id::ChkPrivate)}) {
    EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), BST_UNCHECKED) << TextOf(box);
    EXPECT_EQ(GetWindowLongA(box, GWL_STYLE) & BS_TYPEMASK, BS_AUTOCHECKBOX) << TextOf(box);
  }
  for (HWND combo : {form.Control(Id::CmbFileOs), form.Control(Id::CmbFileType), form.Control(Id::CmbSubType),
                     form.Control(Id::CmbLan), form.Control(Id::CmbCodePage)}) {
    EXPECT_EQ(GetWindowLongA(combo, GWL_STYLE) & 3, CBS_DROPDOWNLIST);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(TextOf(combo), "");
  }
  EXPECT_EQ(HintOf(form.Control(Id::CmbLan)), "");
  EXPECT_EQ(HintOf(form.Control(Id::CmbCodePage)), "");
}

TEST(MainWindow, FixedListsHoldTheirItems) {
  for (Id id : {Id::CmbFileOs, Id::CmbFileType, Id::CmbSubType, Id::CmbCodePage}) {
    const auto &items = layout::Entry(id).items;
    EXPECT_EQ(ComboItems(Form().Control(id)), std::vector<std::string>(items.begin(), items.end()))
        << layout::Entry(id).name;
  }
}

TEST(MainWindow, UpDownsAreBuddylessVerticalZeroToHundred) {
  for (Id id : {Id::UpFileMajor, Id::UpFileMinor, Id::UpFileRelease, Id::UpFileBuild, Id::UpProdMajor, Id::UpProdMinor,
                Id::UpProdRelease, Id::UpProdBuild}) {
    HWND upDown = Form().Control(id);
    int low = -1, high = -1;
    SendMessageA(upDown, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 100);
    BOOL failed = TRUE;
    EXPECT_EQ(SendMessageA(upDown, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&failed)), 0);
    EXPECT_EQ(SendMessageA(upDown, UDM_GETBUDDY, 0, 0), 0);
    const LONG style = GetWindowLongA(upDown, GWL_STYLE);
    EXPECT_FALSE(style & (UDS_WRAP | UDS_HORZ | UDS_SETBUDDYINT | UDS_AUTOBUDDY));
    UDACCEL steps[4] = {};
    EXPECT_EQ(SendMessageA(upDown, UDM_GETACCEL, 4, reinterpret_cast<LPARAM>(steps)), 1);
    EXPECT_EQ(steps[0].nInc, 1u);
  }
}

// The language list against the platform's own names.
TEST(MainWindow, LanguageListFollowsThePlatformsNames) {
  std::vector<std::string> expected = {"Undefined - $0000"};
  for (std::uint16_t id : qm::kLanguageIds) {
    wchar_t name[256] = {};
    if (VerLanguageNameW(id, name, 256) == 0) continue;
    if (std::wstring(name) == L"Language Neutral") continue;
    char item[300];
    std::snprintf(item, sizeof item, " - $%04X", id);
    expected.push_back(AnsiTextCodec{}.FromUtf16(std::u16string(name, name + wcslen(name))) + item);
  }
  const std::vector<std::string> items = ComboItems(Form().Control(Id::CmbLan));
  EXPECT_EQ(items, expected);
  for (size_t i = 0; i < std::min(items.size(), expected.size()); ++i)
    if (items[i] != expected[i]) ADD_FAILURE() << "first difference at " << i << ": " << items[i] << " | " << expected[i];
  EXPECT_LE(items.size(), 224u);
  for (size_t i = 1; i < items.size(); ++i)
    EXPECT_EQ(items[i].find("Language Neutral - $"), std::string::npos);
}

TEST(MainWindow, LanguageItemsEndInUppercaseHex) {
  const std::vector<std::string> items = ComboItems(Form().Control(Id::CmbLan));
  ASSERT_FALSE(items.empty());
  EXPECT_EQ(items.front(), "Undefined - $0000");
  char name[256] = {};
  ASSERT_NE(VerLanguageNameA(0x0409, name, sizeof name), 0u);
  EXPECT_NE(std::find(items.begin(), items.end(), std::string(name) + " - $0409"), items.end());
  if (VerLanguageNameA(0xE40C, name, sizeof name) != 0 && std::strcmp(name, "Language Neutral") != 0) {
    EXPECT_NE(std::find(items.begin(), items.end(), std::string(name) + " - $E40C"), items.end());
  }
  for (const std::string &item : items) {
    const size_t dollar = item.rfind(" - $");
    ASSERT_NE(dollar, std::string::npos) << item;
    EXPECT_EQ(item.size() - dollar, 8u) << item;
    for (char digit : item.substr(dollar + 4))
      EXPECT_TRUE(std::isdigit(digit) || (digit >= 'A' && digit <= 'F')) << item;
  }
}

TEST(MainWindow, StringTableAtStart) {
  if (!GridAvailable()) GTEST_SKIP() << "the string grid is not built in";
  HWND grid = Form().Control(Id::Strings);
  const std::vector<std::array<std::string, 2>> rows = {{"Key", "Value"},
                                                        {"CompanyName", ""},
                                                        {"FileDescription", ""},
                                                        {"FileVersion", "0.0.0.0"},
                                                        {"LegalCopyright", AnsiTextCodec{}.FromUtf16(u"\u00A92008")},
                                                        {"ProductVersion", "0.0.0.0"}};
  ASSERT_EQ(SendMessageA(grid, SGM_GETROWCOUNT, 0, 0), static_cast<LRESULT>(rows.size()));
  for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
    for (int col = 0; col < 2; ++col) {
      char text[64] = {};
      EXPECT_EQ(SendMessageA(grid, SGM_GETCELLTEXT, MAKEWPARAM(col, row), reinterpret_cast<LPARAM>(text)),
                static_cast<LRESULT>(rows[static_cast<size_t>(row)][static_cast<size_t>(col)].size()));
      EXPECT_EQ(std::string(text), rows[static_cast<size_t>(row)][static_cast<size_t>(col)]) << row << "," << col;
    }
  }
}

void Activate() {
  SetForegroundWindow(Form().Handle());
  SetActiveWindow(Form().Handle());
  Pump();
}

void PressKey(WORD key) {
  HWND focus = GetFocus();
  PostMessageA(focus, WM_KEYDOWN, key, 1);
  PostMessageA(focus, WM_KEYUP, key, 0xC0000001);
  Pump();
}

void HoldShift(bool down) {
  BYTE keys[256];
  GetKeyboardState(keys);
  keys[VK_SHIFT] = down ? 0x80 : 0;
  keys[VK_LSHIFT] = down ? 0x80 : 0;
  SetKeyboardState(keys);
}

const std::vector<Id> kKeyboardOrder = {
    Id::EdtFile,    Id::EdtFileMajor, Id::EdtFileMinor, Id::EdtFileRelease, Id::EdtFileBuild, Id::ChkDebug,
    Id::ChkPre,     Id::ChkSpecial,   Id::ChkPrivate,   Id::CmbLan,         Id::CmbCodePage,  Id::Strings,
    Id::BtnSavePE,  Id::EdtProdMajor, Id::EdtProdMinor, Id::EdtProdRelease, Id::EdtProdBuild, Id::CmbFileType,
    Id::CmbSubType, Id::CmbFileOs,    Id::BtnSaveRes,   Id::BtnAbout};

std::string NameOf(HWND wnd) {
  for (size_t i = 0; i < layout::kControlCount; ++i)
    if (Form().Control(static_cast<Id>(i)) == wnd) return std::string(layout::kMainControls[i].name);
  return "window " + ClassOf(wnd);
}

TEST(MainWindow, TabVisitsTheKeyboardOrderAndWraps) {
  if (!GridAvailable()) GTEST_SKIP() << "the string grid is not built in";
  Activate();
  SetFocus(Form().Control(Id::EdtFile));
  Pump();
  ASSERT_EQ(GetFocus(), Form().Control(Id::EdtFile));
  for (size_t step = 1; step <= kKeyboardOrder.size(); ++step) {
    PressKey(VK_TAB);
    const Id want = kKeyboardOrder[step % kKeyboardOrder.size()];
    EXPECT_EQ(NameOf(GetFocus()), layout::Entry(want).name) << "after Tab " << step;
  }
}

TEST(MainWindow, ShiftTabVisitsItBackwards) {
  if (!GridAvailable()) GTEST_SKIP() << "the string grid is not built in";
  Activate();
  SetFocus(Form().Control(Id::EdtFile));
  Pump();
  HoldShift(true);
  for (size_t step = 1; step <= kKeyboardOrder.size(); ++step) {
    PressKey(VK_TAB);
    const Id want = kKeyboardOrder[(kKeyboardOrder.size() - step) % kKeyboardOrder.size()];
    EXPECT_EQ(NameOf(GetFocus()), layout::Entry(want).name) << "after Shift+Tab " << step;
  }
  HoldShift(false);
}

// The hints show the chosen item's whole text: the user's choices here, the
// program's through the load (editor_test); a bare CB_SETCURSEL from outside
// leaves them alone.
class LanguageHint : public testing::TestWithParam<Id> {};

TEST_P(LanguageHint, FollowsTheUsersChoiceOnly) {
  HWND combo = Form().Control(GetParam());
  const std::string before = HintOf(combo);
  SendMessageA(combo, CB_SETCURSEL, 3, 0);
  Pump();
  EXPECT_EQ(HintOf(combo), before);

  // The user steps down one item with the keyboard.
  Activate();
  SetFocus(combo);
  Pump();
  ASSERT_EQ(GetFocus(), combo);
  PressKey(VK_DOWN);
  ASSERT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 4);
  const std::string chosen = ComboItems(combo)[4];
  EXPECT_EQ(HintOf(combo), chosen);

  SendMessageA(combo, CB_SETCURSEL, 0, 0);
  Pump();
  EXPECT_EQ(HintOf(combo), chosen);
  // The other list's hint is its own.
  HWND other = GetParam() == Id::CmbLan ? Form().Control(Id::CmbCodePage) : Form().Control(Id::CmbLan);
  EXPECT_NE(HintOf(other), chosen);
}

// The tooltip is made after the window shows; a hint the program set before
// that is the one it starts with, not whatever the list holds by then.
TEST(MainWindow, HintSetBeforeTheTooltipExistsIsKept) {
  std::unique_ptr<TfrmMain> fresh = TfrmMain::Create(GetModuleHandleA(nullptr));
  HWND combo = fresh->Control(Id::CmbCodePage);
  SendMessageA(combo, CB_SETCURSEL, 2, 0);
  fresh->CmbCodePageChange();
  SendMessageA(combo, CB_SETCURSEL, 5, 0);
  std::array<char, 512> text{};
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.hwnd = fresh->Handle();
  tool.uId = reinterpret_cast<UINT_PTR>(combo);
  tool.lpszText = text.data();
  SendMessageA(fresh->Hints(), TTM_GETTEXTA, text.size(), reinterpret_cast<LPARAM>(&tool));
  EXPECT_EQ(std::string(text.data()), ComboItems(combo)[2]);
}

INSTANTIATE_TEST_SUITE_P(MainWindow, LanguageHint, testing::Values(Id::CmbLan, Id::CmbCodePage),
                         [](const auto &info) { return std::string(layout::Entry(info.param).name); });

// Every item of the two long lists can be read whole when they drop down.
TEST(MainWindow, DroppedListsAreAsWideAsTheirWidestItem) {
  for (HWND combo : {Form().Control(Id::CmbLan), Form().Control(Id::CmbCodePage)}) {
    HDC dc = GetDC(combo);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(combo, WM_GETFONT, 0, 0)));
    int widest = 0;
    for (const std::string &item : ComboItems(combo)) {
      SIZE extent{};
      GetTextExtentPoint32A(dc, item.c_str(), static_cast<int>(item.size()), &extent);
      widest = std::max(widest, static_cast<int>(extent.cx));
    }
    SelectObject(dc, old);
    ReleaseDC(combo, dc);
    RECT box{};
    GetWindowRect(combo, &box);
    ASSERT_GT(widest, box.right - box.left) << "the test needs an item wider than the box";
    const LRESULT dropped = SendMessageA(combo, CB_GETDROPPEDWIDTH, 0, 0);
    EXPECT_GE(dropped, widest);
    EXPECT_LE(dropped, GetSystemMetrics(SM_CXSCREEN));
  }
}

// The language list fills itself on first use; a window whose list nobody
// has read yet still steps through every item from the keyboard and drops
// down with all of them.
TEST(MainWindow, LanguageListIsWholeOnFirstUse) {
  std::unique_ptr<TfrmMain> fresh = TfrmMain::Create(GetModuleHandleA(nullptr));
  HWND combo = fresh->Control(Id::CmbLan);
  for (int step = 0; step < 2; ++step)
    SendMessageA(combo, WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(ComboItems(combo), ComboItems(Form().Control(Id::CmbLan)));
  EXPECT_EQ(SendMessageA(combo, CB_GETDROPPEDWIDTH, 0, 0),
            SendMessageA(Form().Control(Id::CmbLan), CB_GETDROPPEDWIDTH, 0, 0));
}

TEST(MainWindow, AboutButtonShowsTheAboutWindowInFront) {
  TfrmMain &form = Form();
  std::unique_ptr<TfrmAbout> about = TfrmAbout::Create(GetModuleHandleA(nullptr));
  ASSERT_NE(about, nullptr);
  frmAbout = about.get();
  ASSERT_FALSE(IsWindowVisible(about->Handle()));
  for (int click = 0; click < 2; ++click) {
    Activate();
    SendMessageA(form.Control(Id::BtnAbout), BM_CLICK, 0, 0);
    Pump();
    EXPECT_TRUE(IsWindowVisible(about->Handle())) << "click " << click;
    EXPECT_EQ(GetForegroundWindow(), about->Handle()) << "click " << click;
    EXPECT_TRUE(IsWindowEnabled(form.Handle())) << "the main window stays usable";
  }
  frmAbout = nullptr;
  // Left alive, as in the program, but out of the way of later tests.
  ShowWindow(about->Handle(), SW_HIDE);
  about.release();
}

} // namespace
