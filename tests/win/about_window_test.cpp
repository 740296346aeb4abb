// The about window as the program creates it: hidden at first, shown and
// hidden again without being destroyed, its controls and links.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qm_version.h"
#include "win/dialogs.h"
#include "win/jpeg_image.h"
#include "win/untAbout.h"

namespace {

using namespace qm::win;

// Records the addresses instead of starting a browser.
class RecordingShell : public Dialogs {
public:
  std::optional<std::string> OpenFile(HWND, const FileDialogRequest &) override { return std::nullopt; }
  std::optional<std::string> SaveFile(HWND, const FileDialogRequest &) override { return std::nullopt; }
  std::optional<std::string> InputBox(HWND, const std::string &, const std::string &) override { return std::nullopt; }
  int ShowMessageBox(HWND, const std::string &, const std::string &, UINT) override { return IDOK; }
  void ShellOpen(HWND owner, const std::string &address) override { opened.push_back({owner, address}); }
  std::vector<std::pair<HWND, std::string>> opened;
};

class AboutWindowTest : public testing::Test {
protected:
  // One window for the whole program, as in the program itself.
  static void SetUpTestSuite() {
    if (!about_) about_ = TfrmAbout::Create(GetModuleHandleA(nullptr)).release();
  }
  void SetUp() override { ASSERT_NE(about_, nullptr); }

  static int Scale(int value) {
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return MulDiv(value, dpi, 96);
  }
  static RECT PlaceInClient(HWND control) {
    RECT rc{};
    GetWindowRect(control, &rc);
    MapWindowPoints(nullptr, about_->Handle(), reinterpret_cast<POINT *>(&rc), 2);
    return rc;
  }
  static std::string TextOf(HWND wnd) {
    char text[256] = {};
    GetWindowTextA(wnd, text, sizeof text);
    return text;
  }
  // What the window tells the label to paint with.
  static COLORREF LabelTextColour(HWND label) {
    HDC dc = CreateCompatibleDC(nullptr);
    SendMessageA(about_->Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label));
    const COLORREF colour = GetTextColor(dc);
    DeleteDC(dc);
    return colour;
  }
  static bool LabelUnderlined(HWND label) {
    LOGFONTA lf{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0)), sizeof lf, &lf);
    return lf.lfUnderline != 0;
  }

  static inline TfrmAbout *about_ = nullptr; // lives until the process ends, like the program's
};

TEST_F(AboutWindowTest, IsADialogFramedWindowOfTheGivenSize) {
  HWND wnd = about_->Handle();
  ASSERT_TRUE(IsWindow(wnd));
  char caption[32] = {};
  GetWindowTextA(wnd, caption, sizeof caption);
  EXPECT_STREQ(caption, "About");
  RECT client{};
  GetClientRect(wnd, &client);
  EXPECT_EQ(client.right, Scale(273));
  EXPECT_EQ(client.bottom, Scale(161));
  const LONG style = GetWindowLongA(wnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_TRUE(GetWindowLongA(wnd, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
  LOGFONTA lf{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(about_->Control("Label1"), WM_GETFONT, 0, 0)), sizeof lf, &lf);
  EXPECT_STREQ(lf.lfFaceName, "MS Sans Serif");
  EXPECT_EQ(lf.lfHeight, -Scale(11));
}

TEST_F(AboutWindowTest, ControlsStandWhereTheLayoutSays) {
  struct Case {
    const char *name;
    int x, y, w, h; // w 0: as wide as the text
    std::string text;
  };
  const Case cases[] = {
      {"Label1", 8, 8, 0, 13, "Application:        Quillmark"},
      {"Label2", 8, 24, 0, 13, std::string("Version:              ") + QM_VERSION_TEXT},
      {"LblDev", 8, 40, 0, 13, "Developer:         Brindlewick"},
      {"Label3", 8, 104, 0, 13, "Copyright (c) 2026 Brindlewick"},
      {"Bevel1", 8, 120, 257, 2, ""},
      {"Image1", 160, 8, 105, 105, ""},
      {"BtnOk", 184, 128, 83, 25, "Ok"},
      {"BtnUpdate", 8, 128, 81, 25, "Update Check"},
  };
  for (const Case &c : cases) {
    HWND control = about_->Control(c.name);
    ASSERT_NE(control, nullptr) << c.name;
    const RECT rc = PlaceInClient(control);
    EXPECT_EQ(rc.left, Scale(c.x)) << c.name;
    EXPECT_EQ(rc.top, Scale(c.y)) << c.name;
    EXPECT_EQ(rc.bottom - rc.top, Scale(c.h)) << c.name;
    if (c.w) {
      EXPECT_EQ(rc.right - rc.left, Scale(c.w)) << c.name;
    } else {
      // A label is exactly as wide as its text in its font.
      HDC dc = GetDC(control);
      HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
      SIZE extent{};
      GetTextExtentPoint32A(dc, c.text.c_str(), static_cast<int>(c.text.size()), &extent);
      SelectObject(dc, old);
      ReleaseDC(control, dc);
      EXPECT_EQ(rc.right - rc.left, extent.cx) << c.name;
    }
    EXPECT_EQ(TextOf(control), c.text) << c.name;
  }
  EXPECT_EQ(about_->Control("Nothing"), nullptr);
}

TEST_F(AboutWindowTest, ButtonsTabInOrderAndNeitherIsDefault) {
  HWND ok = about_->Control("BtnOk");
  HWND update = about_->Control("BtnUpdate");
  EXPECT_EQ(GetNextDlgTabItem(about_->Handle(), ok, FALSE), update);
  EXPECT_EQ(GetNextDlgTabItem(about_->Handle(), update, FALSE), ok);
  for (HWND button : {ok, update}) {
    EXPECT_EQ(GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK, static_cast<LONG>(BS_PUSHBUTTON));
    EXPECT_TRUE(GetWindowLongA(button, GWL_STYLE) & WS_TABSTOP);
  }
}

TEST_F(AboutWindowTest, LinksHandTheirAddressesToTheShell) {
  RecordingShell shell;
  ScopedDialogs use(shell);
  SendMessageA(about_->Control("BtnUpdate"), BM_CLICK, 0, 0);
  // A click on the developer label, as the label reports it.
  SendMessageA(about_->Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(about_->Control("LblDev")), STN_CLICKED),
               reinterpret_cast<LPARAM>(about_->Control("LblDev")));
  ASSERT_EQ(shell.opened.size(), 2u);
  EXPECT_EQ(shell.opened[0].first, about_->Handle());
  EXPECT_EQ(shell.opened[0].second,
            std::string("http://www.brindlewick.example/download.php?action=updatecheck&app=Quillmark,") +
                QM_VERSION_TEXT);
  EXPECT_EQ(shell.opened[1].second, "http://www.brindlewick.example/");
  EXPECT_EQ(UpdateCheckAddress(), shell.opened[0].second);
}

TEST_F(AboutWindowTest, HoverLookFollowsOnlyTheTwoMouseMoves) {
  HWND label = about_->Control("LblDev");
  const COLORREF normal = GetSysColor(COLOR_WINDOWTEXT);
  EXPECT_EQ(LabelTextColour(label), normal);
  EXPECT_FALSE(LabelUnderlined(label));
  struct Step {
    const char *over; // control name, or "" for the form's free area
    bool hover;
  };
  const Step steps[] = {{"LblDev", true}, {"Image1", true},  {"Label1", true}, {"BtnOk", true},
                        {"", false},      {"Label3", false}, {"LblDev", true}, {"", false}};
  for (const Step &s : steps) {
    HWND target = *s.over ? about_->Control(s.over) : about_->Handle();
    // A free spot: right of the labels, above the bevel, left of the picture.
    const LPARAM point = *s.over ? MAKELPARAM(2, 2) : MAKELPARAM(Scale(150), Scale(90));
    SendMessageA(target, WM_MOUSEMOVE, 0, point);
    EXPECT_EQ(about_->LblDevHover(), s.hover) << "over '" << s.over << "'";
    EXPECT_EQ(LabelTextColour(label), s.hover ? static_cast<COLORREF>(0x00FF0000) : normal) << s.over;
    EXPECT_EQ(LabelUnderlined(label), s.hover) << s.over;
    // The other labels never change.
    EXPECT_EQ(LabelTextColour(about_->Control("Label1")), normal);
  }
}

TEST_F(AboutWindowTest, LogoDecodesToItsBoxSize) {
  auto bytes = RcData(GetModuleHandleA(nullptr), "LOGO");
  ASSERT_FALSE(bytes.empty());
  auto image = DecodeJpeg(bytes);
  ASSERT_TRUE(image) << image.error();
  EXPECT_EQ(image->width, 105);
  EXPECT_EQ(image->height, 105);
  // A picture, not a blank: the pixels are not all alike.
  const auto &px = image->pixels;
  EXPECT_NE(std::count(px.begin(), px.end(), px[0]), static_cast<long>(px.size()));
  // Damaged data is an error, never a crash.
  std::vector<std::uint8_t> damaged(bytes.begin(), bytes.begin() + 40);
  EXPECT_FALSE(DecodeJpeg(damaged));
  EXPECT_FALSE(DecodeJpeg({}));
  const std::uint8_t garbage[] = {1, 2, 3, 4, 5};
  EXPECT_FALSE(DecodeJpeg(garbage));
}

TEST_F(AboutWindowTest, ShowHideAndShowAgainKeepTheSameWindow) {
  HWND wnd = about_->Handle();
  EXPECT_FALSE(IsWindowVisible(wnd)); // created hidden
  about_->Show();
  EXPECT_TRUE(IsWindowVisible(wnd));
  RECT first{};
  GetWindowRect(wnd, &first);
  const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
  EXPECT_NEAR((first.left + first.right) / 2, screenW / 2, 1);
  EXPECT_NEAR((first.top + first.bottom) / 2, screenH / 2, 1);

  SendMessageA(about_->Control("BtnOk"), BM_CLICK, 0, 0);
  EXPECT_TRUE(IsWindow(wnd));
  EXPECT_FALSE(IsWindowVisible(wnd));

  // Moved by the user, then shown again: the place is kept.
  SetWindowPos(wnd, nullptr, 20, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  about_->Show();
  about_->Show(); // a second showing only brings it to the front
  EXPECT_EQ(about_->Handle(), wnd);
  EXPECT_TRUE(IsWindowVisible(wnd));
  RECT again{};
  GetWindowRect(wnd, &again);
  EXPECT_EQ(again.left, 20);
  EXPECT_EQ(again.top, 30);

  SendMessageA(wnd, WM_CLOSE, 0, 0); // the close box
  EXPECT_TRUE(IsWindow(wnd));
  EXPECT_FALSE(IsWindowVisible(wnd));
}

} // namespace
