// The string grid control driven through its messages, as the main window and
// outside automation drive it, with a parent that records the notifications.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <array>
#include <string>
#include <vector>

#include "win/string_grid.h"

namespace {

using namespace qm::win;

struct Received {
  UINT code;
  int col;
  int row;
  UINT button;
};

std::vector<Received> gReceived;

LRESULT CALLBACK RecordingParentProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NOTIFY) {
    const auto *hdr = reinterpret_cast<const NMHDR *>(lp);
    if (hdr->code == SGN_MOUSEDOWN || hdr->code == SGN_CONTEXTMENU) {
      const auto *nm = reinterpret_cast<const NMSTRINGGRIDMOUSE *>(lp);
      gReceived.push_back({hdr->code, nm->col, nm->row, nm->button});
    } else if (hdr->code == SGN_CELLCHANGED) {
      const auto *nm = reinterpret_cast<const NMSTRINGGRIDCELL *>(lp);
      gReceived.push_back({hdr->code, nm->col, nm->row, 0});
    }
    return 0;
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}

class StringGridTest : public testing::Test {
protected:
  // One parent for the whole program: hiding or destroying a top-level window
  // costs seconds under Wine without a window manager.
  static void SetUpTestSuite() {
    if (parent_) return;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    ASSERT_TRUE(RegisterStringGridClass(instance));
    ASSERT_TRUE(RegisterStringGridClass(instance)); // a second time is harmless
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingParentProc;
    wc.hInstance = instance;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = "GridTestParent";
    RegisterClassA(&wc);
    parent_ = CreateWindowExA(0, "GridTestParent", "Grid", WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 50, 50, 420, 220,
                              nullptr, nullptr, instance, nullptr);
    other_ = CreateWindowExA(0, "BUTTON", "Other", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 8, 140, 80, 25, parent_, nullptr,
                             instance, nullptr);
  }

  void SetUp() override {
    ASSERT_NE(parent_, nullptr);
    dpi_ = Dpi();
    grid_ = CreateWindowExA(0, kStringGridClass, "", WS_CHILD | WS_VISIBLE, Scale(8), Scale(8), Scale(385), Scale(121),
                            parent_, reinterpret_cast<HMENU>(42), GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(grid_, nullptr);
    SendMessageA(grid_, SGM_SETROWCOUNT, 6, 0);
    const char *texts[6][2] = {{"Key", "Value"},           {"CompanyName", ""},     {"FileDescription", ""},
                               {"FileVersion", "0.0.0.0"}, {"LegalCopyright", "x"}, {"ProductVersion", "0.0.0.0"}};
    for (int row = 0; row < 6; ++row)
      for (int col = 0; col < 2; ++col)
        SetText(col, row, texts[row][col]);
    gReceived.clear();
  }

  void TearDown() override {
    SetKeyboardState(PlainKeys().data());
    DestroyWindow(grid_);
  }

  static int Dpi() {
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return dpi;
  }
  int Scale(int value) const { return MulDiv(value, dpi_, 96); }
  int ColExtent() const { return Scale(180) + 1; }
  int RowExtent() const { return Scale(18) + 1; }
  // The middle of a cell while the grid is not scrolled.
  LPARAM CellCentre(int col, int row) const {
    return MAKELPARAM(col * ColExtent() + Scale(180) / 2, row * RowExtent() + Scale(18) / 2);
  }

  std::string Text(int col, int row) const {
    const LRESULT length = SendMessageA(grid_, SGM_GETCELLTEXT, MAKEWPARAM(col, row), 0);
    if (length < 0) return "<none>";
    std::string text(static_cast<size_t>(length) + 1, '\0');
    SendMessageA(grid_, SGM_GETCELLTEXT, MAKEWPARAM(col, row), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return text;
  }
  void SetText(int col, int row, const char *text) {
    SendMessageA(grid_, SGM_SETCELLTEXT, MAKEWPARAM(col, row), reinterpret_cast<LPARAM>(text));
  }
  void Select(int left, int top, int right, int bottom) {
    RECT range{left, top, right, bottom};
    ASSERT_TRUE(SendMessageA(grid_, SGM_SETSELECTION, 0, reinterpret_cast<LPARAM>(&range)));
  }
  RECT Selection() const {
    RECT range{};
    SendMessageA(grid_, SGM_GETSELECTION, 0, reinterpret_cast<LPARAM>(&range));
    return range;
  }
  bool Editing() const { return SendMessageA(grid_, SGM_ISEDITING, 0, 0) != 0; }
  HWND Editor() const { return reinterpret_cast<HWND>(SendMessageA(grid_, SGM_GETEDITOR, 0, 0)); }
  void Key(WPARAM key) { SendMessageA(grid_, WM_KEYDOWN, key, 0); }
  static std::vector<BYTE> PlainKeys() { return std::vector<BYTE>(256, 0); }
  static void HoldShift(bool down) {
    std::vector<BYTE> keys = PlainKeys();
    if (down) keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys.data());
  }
  LONG Style() const { return GetWindowLongA(grid_, GWL_STYLE); }

  static inline HWND parent_ = nullptr;
  static inline HWND other_ = nullptr;
  HWND grid_ = nullptr;
  int dpi_ = 96;
};

TEST_F(StringGridTest, CellsAreSetAndReadByMessages) {
  EXPECT_EQ(SendMessageA(grid_, SGM_GETROWCOUNT, 0, 0), 6);
  EXPECT_EQ(Text(0, 0), "Key");
  EXPECT_EQ(Text(1, 0), "Value");
  EXPECT_EQ(Text(0, 3), "FileVersion");
  EXPECT_EQ(Text(1, 3), "0.0.0.0");
  EXPECT_EQ(Text(1, 2), "");
  SetText(1, 2,
          "\xA9"
          "2008 Brindlewick");
  EXPECT_EQ(Text(1, 2), "\xA9"
                        "2008 Brindlewick");
  // Cells that do not exist.
  for (auto [col, row] : {std::pair{2, 1}, std::pair{0, 6}, std::pair{0, 100}}) {
    EXPECT_EQ(SendMessageA(grid_, SGM_GETCELLTEXT, MAKEWPARAM(col, row), 0), -1) << col << "," << row;
    EXPECT_FALSE(SendMessageA(grid_, SGM_SETCELLTEXT, MAKEWPARAM(col, row), reinterpret_cast<LPARAM>("x")));
  }
}

TEST_F(StringGridTest, IsATabStopWithASunkenEdgeAndTakesItsParentsFont) {
  EXPECT_TRUE(Style() & WS_TABSTOP);
  EXPECT_TRUE(GetWindowLongA(grid_, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  SendMessageA(grid_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(grid_, WM_GETFONT, 0, 0)), font);
}

TEST_F(StringGridTest, HeaderRowOpensNoEditor) {
  Select(0, 0, 0, 0);
  Key(VK_F2);
  EXPECT_FALSE(Editing());
  SendMessageA(grid_, WM_CHAR, 'z', 0);
  EXPECT_FALSE(Editing());
  EXPECT_EQ(Text(0, 0), "Key");
  // A click on the header selects nothing.
  Select(1, 2, 1, 2);
  SendMessageA(grid_, WM_LBUTTONDOWN, MK_LBUTTON, CellCentre(0, 0));
  SendMessageA(grid_, WM_LBUTTONUP, 0, CellCentre(0, 0));
  EXPECT_FALSE(Editing());
  RECT range = Selection();
  EXPECT_EQ(range.top, 2);
  EXPECT_EQ(range.left, 1);
}

enum class Start { F2, TypedChar, ClickOnSelected };
enum class Finish { Enter, Escape, FocusLoss };

struct EditCase {
  const char *name;
  Start start;
  Finish finish;
  bool committed;
};

class StringGridEditTest : public StringGridTest, public testing::WithParamInterface<EditCase> {};

TEST_P(StringGridEditTest, EditsInPlace) {
  const EditCase &c = GetParam();
  SetFocus(grid_);
  Select(1, 2, 1, 2);
  SetText(1, 2, "before");
  gReceived.clear();
  switch (c.start) {
  case Start::F2:
    Key(VK_F2);
    break;
  case Start::TypedChar:
    SendMessageA(grid_, WM_CHAR, 'x', 0);
    break;
  case Start::ClickOnSelected:
    SendMessageA(grid_, WM_LBUTTONDOWN, MK_LBUTTON, CellCentre(1, 2));
    SendMessageA(grid_, WM_LBUTTONUP, 0, CellCentre(1, 2));
    break;
  }
  ASSERT_TRUE(Editing());
  HWND editor = Editor();
  ASSERT_NE(editor, nullptr);
  char shown[64] = {};
  GetWindowTextA(editor, shown, sizeof shown);
  // A typed character replaces the text; F2 and a click keep it for editing.
  EXPECT_STREQ(shown, c.start == Start::TypedChar ? "x" : "before");
  SetWindowTextA(editor, "after");
  switch (c.finish) {
  case Finish::Enter:
    SendMessageA(editor, WM_KEYDOWN, VK_RETURN, 0);
    break;
  case Finish::Escape:
    SendMessageA(editor, WM_KEYDOWN, VK_ESCAPE, 0);
    break;
  case Finish::FocusLoss:
    SetFocus(other_);
    break;
  }
  EXPECT_FALSE(Editing());
  EXPECT_FALSE(IsWindowVisible(editor));
  EXPECT_EQ(Text(1, 2), c.committed ? "after" : "before");
  EXPECT_EQ(Text(0, 2), "FileDescription");
  const bool notified = !gReceived.empty() && gReceived.back().code == SGN_CELLCHANGED && gReceived.back().col == 1 &&
                        gReceived.back().row == 2;
  EXPECT_EQ(notified, c.committed);
}

INSTANTIATE_TEST_SUITE_P(Ways, StringGridEditTest,
                         testing::Values(EditCase{"F2Enter", Start::F2, Finish::Enter, true},
                                         EditCase{"F2Escape", Start::F2, Finish::Escape, false},
                                         EditCase{"TypedEnter", Start::TypedChar, Finish::Enter, true},
                                         EditCase{"TypedEscape", Start::TypedChar, Finish::Escape, false},
                                         EditCase{"ClickFocusLoss", Start::ClickOnSelected, Finish::FocusLoss, true},
                                         EditCase{"F2FocusLoss", Start::F2, Finish::FocusLoss, true}),
                         [](const testing::TestParamInfo<EditCase> &info) { return std::string(info.param.name); });

TEST_F(StringGridTest, CellFromPoint) {
  struct Case {
    int x, y;
    LRESULT expected;
  };
  const int w = Scale(180), h = Scale(18);
  const Case cases[] = {
      {2, 2, MAKELRESULT(0, 0)},                       // header, key
      {ColExtent() + 2, h - 1, MAKELRESULT(1, 0)},     // header, value
      {2, RowExtent() + 1, MAKELRESULT(0, 1)},         // first entry
      {w, 2 * RowExtent() + 3, MAKELRESULT(0, 2)},     // the line right of a key belongs to it
      {w + 1, 2 * RowExtent() + 3, MAKELRESULT(1, 2)}, // just past that line
      {10, 5 * RowExtent() + h, MAKELRESULT(0, 5)},    // the line under the last row
      {10, 6 * RowExtent() + 1, -1},                   // below the last row
      {2 * ColExtent() + 1, RowExtent() + 2, -1},      // right of the last column
  };
  for (const Case &c : cases)
    EXPECT_EQ(SendMessageA(grid_, SGM_CELLFROMPOINT, 0, MAKELPARAM(c.x, c.y)), c.expected) << c.x << "," << c.y;
}

// A text wider than its column ends in "..." and hovering its cell shows it
// whole; a text that fits shows no hint.
TEST_F(StringGridTest, HoveringACutTextShowsItWhole) {
  const std::string whole(80, 'W');
  SetText(1, 2, whole.c_str());
  SetText(0, 2, "Short");
  HWND hint = reinterpret_cast<HWND>(SendMessageA(grid_, SGM_GETHINT, 0, 0));
  ASSERT_NE(hint, nullptr);
  auto hintAt = [&](int x, int y) {
    SendMessageA(grid_, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
    std::array<char, 256> text{};
    TTTOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.hwnd = grid_;
    tool.uId = 1;
    tool.lpszText = text.data();
    SendMessageA(hint, TTM_GETTEXTA, text.size(), reinterpret_cast<LPARAM>(&tool));
    return std::string(text.data());
  };
  const int y = 2 * RowExtent() + RowExtent() / 2;
  EXPECT_EQ(hintAt(ColExtent() + 10, y), whole);
  EXPECT_EQ(hintAt(10, y), "");
  EXPECT_EQ(hintAt(ColExtent() + 10, y), whole);
  SetText(1, 2, "fits");
  EXPECT_EQ(hintAt(ColExtent() + 10, y), "");
}

TEST_F(StringGridTest, RowCountChangesKeepTheRemainingTexts) {
  ASSERT_TRUE(SendMessageA(grid_, SGM_SETROWCOUNT, 2, 0));
  EXPECT_EQ(SendMessageA(grid_, SGM_GETROWCOUNT, 0, 0), 2);
  EXPECT_EQ(Text(0, 1), "CompanyName");
  EXPECT_EQ(Text(0, 2), "<none>");
  SendMessageA(grid_, SGM_SETROWCOUNT, 4, 0);
  EXPECT_EQ(Text(0, 0), "Key");
  EXPECT_EQ(Text(0, 1), "CompanyName");
  // Rows gained start empty, never with texts of the rows dropped before.
  EXPECT_EQ(Text(0, 2), "");
  EXPECT_EQ(Text(1, 3), "");
}

TEST_F(StringGridTest, SelectionInADroppedRowMovesToTheNewLastRow) {
  Select(1, 5, 1, 5);
  SendMessageA(grid_, SGM_SETROWCOUNT, 3, 0);
  const RECT range = Selection();
  EXPECT_EQ(range.top, 2);
  EXPECT_EQ(range.bottom, 2);
  EXPECT_EQ(LOWORD(SendMessageA(grid_, SGM_GETCURRENTCELL, 0, 0)), 1);
  RECT outside{0, 3, 0, 3};
  EXPECT_FALSE(SendMessageA(grid_, SGM_SETSELECTION, 0, reinterpret_cast<LPARAM>(&outside)));
}

// A row is deleted by one message: an open editor is committed to its own
// row first, the rows below move up and the current cell stays on the
// deleted row's place, its column kept. A row the grid lacks changes nothing.
TEST_F(StringGridTest, DeletingARowMovesTheRowsBelowUp) {
  SetFocus(grid_);
  Select(1, 4, 1, 4);
  SendMessageA(grid_, WM_CHAR, 'z', 0);
  ASSERT_TRUE(Editing());
  for (WPARAM missing : {WPARAM{6}, static_cast<WPARAM>(-1)})
    EXPECT_FALSE(SendMessageA(grid_, SGM_DELETEROW, missing, 0));
  EXPECT_TRUE(Editing());
  EXPECT_EQ(SendMessageA(grid_, SGM_GETROWCOUNT, 0, 0), 6);
  ASSERT_TRUE(SendMessageA(grid_, SGM_DELETEROW, 2, 0));
  EXPECT_FALSE(Editing());
  EXPECT_EQ(SendMessageA(grid_, SGM_GETROWCOUNT, 0, 0), 5);
  const char *keys[] = {"Key", "CompanyName", "FileVersion", "LegalCopyright", "ProductVersion"};
  for (int row = 0; row < 5; ++row)
    EXPECT_EQ(Text(0, row), keys[row]) << row;
  EXPECT_EQ(Text(1, 3), "z"); // the edit, committed to LegalCopyright before it moved up
  EXPECT_EQ(SendMessageA(grid_, SGM_GETCURRENTCELL, 0, 0), MAKELRESULT(1, 2));
  ASSERT_TRUE(SendMessageA(grid_, SGM_DELETEROW, 4, 0)); // the last row: the current cell moves up to the new last
  EXPECT_EQ(SendMessageA(grid_, SGM_GETCURRENTCELL, 0, 0), MAKELRESULT(1, 3));
  EXPECT_EQ(Text(0, 4), "<none>");
}

TEST_F(StringGridTest, ScrollBarsAppearWhenNeeded) {
  struct Case {
    int rows;
    int width;
    bool vertical;
    bool horizontal;
  };
  // Narrowed, the grid needs a horizontal bar, which leaves too little room
  // for six rows as well.
  const Case cases[] = {{6, 385, false, false}, {7, 385, true, false}, {30, 385, true, false}, {6, 385, false, false},
                        {2, 200, false, true},  {6, 200, true, true},  {7, 200, true, true}};
  for (const Case &c : cases) {
    SetWindowPos(grid_, nullptr, 0, 0, Scale(c.width), Scale(121), SWP_NOMOVE | SWP_NOZORDER);
    SendMessageA(grid_, SGM_SETROWCOUNT, c.rows, 0);
    EXPECT_EQ((Style() & WS_VSCROLL) != 0, c.vertical) << c.rows << " rows, " << c.width << " wide";
    EXPECT_EQ((Style() & WS_HSCROLL) != 0, c.horizontal) << c.rows << " rows, " << c.width << " wide";
  }
}

TEST_F(StringGridTest, ScrollingKeepsTheHeaderAndMovesTheRows) {
  SendMessageA(grid_, SGM_SETROWCOUNT, 12, 0);
  SetText(0, 7, "seventh");
  SendMessageA(grid_, WM_VSCROLL, MAKEWPARAM(SB_BOTTOM, 0), 0);
  const LRESULT top = SendMessageA(grid_, SGM_CELLFROMPOINT, 0, MAKELPARAM(2, RowExtent() + 2));
  EXPECT_GT(HIWORD(top), 1);
  EXPECT_EQ(SendMessageA(grid_, SGM_CELLFROMPOINT, 0, MAKELPARAM(2, 2)), MAKELRESULT(0, 0));
  // Moving the current cell to a hidden row scrolls it into view.
  Select(0, 1, 0, 1);
  EXPECT_EQ(SendMessageA(grid_, SGM_CELLFROMPOINT, 0, MAKELPARAM(2, RowExtent() + 2)), MAKELRESULT(0, 1));
}

TEST_F(StringGridTest, KeyboardMovesAndShiftExtendsTheSelection) {
  Select(0, 1, 0, 1);
  Key(VK_DOWN);
  Key(VK_RIGHT);
  EXPECT_EQ(SendMessageA(grid_, SGM_GETCURRENTCELL, 0, 0), MAKELRESULT(1, 2));
  HoldShift(true);
  Key(VK_DOWN);
  Key(VK_DOWN);
  Key(VK_LEFT);
  HoldShift(false);
  RECT range = Selection();
  EXPECT_EQ(range.left, 0);
  EXPECT_EQ(range.top, 2);
  EXPECT_EQ(range.right, 1);
  EXPECT_EQ(range.bottom, 4);
  // Up stops at the first entry: the header is never reached by the keyboard.
  for (int i = 0; i < 10; ++i)
    Key(VK_UP);
  EXPECT_EQ(HIWORD(SendMessageA(grid_, SGM_GETCURRENTCELL, 0, 0)), 1);
  Key(VK_END);
  EXPECT_EQ(LOWORD(SendMessageA(grid_, SGM_GETCURRENTCELL, 0, 0)), 1);
}

TEST_F(StringGridTest, MouseDragSelectsARange) {
  SendMessageA(grid_, WM_LBUTTONDOWN, MK_LBUTTON, CellCentre(1, 4));
  SendMessageA(grid_, WM_MOUSEMOVE, MK_LBUTTON, CellCentre(0, 2));
  SendMessageA(grid_, WM_LBUTTONUP, 0, CellCentre(0, 2));
  RECT range = Selection();
  EXPECT_EQ(range.left, 0);
  EXPECT_EQ(range.top, 2);
  EXPECT_EQ(range.right, 1);
  EXPECT_EQ(range.bottom, 4);
  EXPECT_FALSE(Editing());
}

TEST_F(StringGridTest, NotifiesThePressThenTheContextMenu) {
  struct Case {
    UINT down;
    LPARAM point;
    int col, row;
  };
  const Case cases[] = {{WM_RBUTTONDOWN, CellCentre(1, 2), 1, 2},
                        {WM_LBUTTONDOWN, CellCentre(0, 5), 0, 5},
                        {WM_MBUTTONDOWN, CellCentre(0, 0), 0, 0},
                        {WM_RBUTTONDOWN, MAKELPARAM(10, 6 * RowExtent() + 3), -1, -1}};
  for (const Case &c : cases) {
    gReceived.clear();
    SendMessageA(grid_, c.down, 0, c.point);
    ASSERT_FALSE(gReceived.empty());
    EXPECT_EQ(gReceived[0].code, SGN_MOUSEDOWN);
    EXPECT_EQ(gReceived[0].button, c.down);
    EXPECT_EQ(gReceived[0].col, c.col);
    EXPECT_EQ(gReceived[0].row, c.row);
    if (c.down == WM_RBUTTONDOWN) {
      SendMessageA(grid_, WM_RBUTTONUP, 0, c.point);
      ASSERT_EQ(gReceived.size(), 2u);
      EXPECT_EQ(gReceived[1].code, SGN_CONTEXTMENU);
      EXPECT_EQ(gReceived[1].row, c.row);
    } else {
      SendMessageA(grid_, c.down + 1, 0, c.point); // the matching button-up
      EXPECT_EQ(gReceived.size(), 1u);
    }
  }
}

} // namespace
