// The editor's behaviour driven through its messages, as a user's mouse and
// keyboard reach it, with the dialogs answered by a double: the up-downs and
// the "FileVersion" row, the digit filter, the rows that follow the boxes,
// adding and removing keys, the reset, opening and saving with their
// failures. A window of its own, kept hidden, so the start state that
// main_window_test checks stays untouched.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "codec/decoder.h"
#include "codec/encoder.h"
#include "codec/text_codec.h"
#include "stamp/module_file.h"
#include "win/ansi_text_codec.h"
#include "win/app.h"
#include "win/dialogs.h"
#include "win/error_report.h"
#include "win/path_names.h"
#include "win/string_grid.h"
#include "win/untAbout.h"
#include "win/untMain.h"

namespace {

using namespace qm::win;
using layout::Id;
using Rows = std::vector<std::pair<std::string, std::string>>;
namespace fs = std::filesystem;

class Answers final : public Dialogs {
public:
  std::deque<std::optional<std::string>> files; // the next file dialogs' answers, in turn
  std::optional<std::string> input;
  std::vector<FileDialogRequest> fileRequests;
  std::vector<std::string> inputCalls; // caption + "|" + prompt
  std::vector<std::string> messages;   // caption + "|" + text
  UINT messageType = 0;

  std::optional<std::string> OpenFile(HWND, const FileDialogRequest &request) override { return Next(request); }
  std::optional<std::string> SaveFile(HWND, const FileDialogRequest &request) override { return Next(request); }
  std::optional<std::string> InputBox(HWND, const std::string &caption, const std::string &prompt) override {
    inputCalls.push_back(caption + "|" + prompt);
    return input;
  }
  int ShowMessageBox(HWND, const std::string &text, const std::string &caption, UINT type) override {
    messages.push_back(caption + "|" + text);
    messageType = type;
    return IDOK;
  }
  void ShellOpen(HWND, const std::string &) override {}

private:
  std::optional<std::string> Next(const FileDialogRequest &request) {
    fileRequests.push_back(request);
    if (files.empty()) return std::nullopt;
    std::optional<std::string> answer = files.front();
    files.pop_front();
    return answer;
  }
};

TfrmMain &Editor() {
  static TfrmMain *form = [] {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    return TfrmMain::Create(GetModuleHandleA(nullptr)).release();
  }();
  return *form;
}

std::string TextOf(HWND wnd) {
  std::string text(static_cast<size_t>(GetWindowTextLengthA(wnd)) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(wnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::string Cell(int col, int row) {
  std::array<char, 512> text{};
  SendMessageA(Editor().Control(Id::Strings), SGM_GETCELLTEXT, MAKEWPARAM(col, row),
               reinterpret_cast<LPARAM>(text.data()));
  return text.data();
}

// Every row below the header.
Rows GridRows() {
  Rows rows;
  const int count = static_cast<int>(SendMessageA(Editor().Control(Id::Strings), SGM_GETROWCOUNT, 0, 0));
  for (int row = 1; row < count; ++row)
    rows.emplace_back(Cell(0, row), Cell(1, row));
  return rows;
}

void SetGridRows(const Rows &rows) {
  HWND grid = Editor().Control(Id::Strings);
  SendMessageA(grid, SGM_SETROWCOUNT, rows.size() + 1, 0);
  for (size_t i = 0; i < rows.size(); ++i) {
    SendMessageA(grid, SGM_SETCELLTEXT, MAKEWPARAM(0, i + 1), reinterpret_cast<LPARAM>(rows[i].first.c_str()));
    SendMessageA(grid, SGM_SETCELLTEXT, MAKEWPARAM(1, i + 1), reinterpret_cast<LPARAM>(rows[i].second.c_str()));
  }
}

const Rows kStartRows = {{"CompanyName", ""},
                         {"FileDescription", ""},
                         {"FileVersion", "0.0.0.0"},
                         {"LegalCopyright", AnsiTextCodec{}.FromUtf16(u"\u00A92008")},
                         {"ProductVersion", "0.0.0.0"}};

std::array<HWND, 8> VersionEdits() {
  TfrmMain &f = Editor();
  return {f.Control(Id::EdtFileMajor),   f.Control(Id::EdtFileMinor), f.Control(Id::EdtFileRelease),
          f.Control(Id::EdtFileBuild),   f.Control(Id::EdtProdMajor), f.Control(Id::EdtProdMinor),
          f.Control(Id::EdtProdRelease), f.Control(Id::EdtProdBuild)};
}

// The editor as it starts, with a language and code page chosen.
void Fresh(const Rows &rows = kStartRows) {
  Editor().ResetEditor();
  for (HWND edit : VersionEdits())
    SetWindowTextA(edit, "0");
  SetGridRows(rows);
  SetWindowTextA(Editor().Control(Id::EdtFile), "");
}

// One click on an up-down's upper or lower arrow.
void Step(HWND upDown, bool up) {
  RECT rc;
  GetClientRect(upDown, &rc);
  const LPARAM at = MAKELPARAM(rc.right / 2, up ? rc.bottom / 4 : rc.bottom * 3 / 4);
  SendMessageA(upDown, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageA(upDown, WM_LBUTTONUP, 0, at);
}

void Type(HWND edit, const std::string &keys) {
  for (char key : keys)
    SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(key), 0);
}

// A press of a mouse button over a grid row (or below the last one).
void PressRow(int row, UINT message = WM_RBUTTONDOWN) {
  const int rowExtent = MulDiv(18, Editor().Dpi(), 96) + 1;
  SendMessageA(Editor().Control(Id::Strings), message, 0, MAKELPARAM(10, row * rowExtent + rowExtent / 2));
}

void Menu(int item) { SendMessageA(Editor().Handle(), WM_COMMAND, MAKEWPARAM(item, 0), 0); }
constexpr int kAddKey = 1, kRemoveKey = 2;

fs::path TempFolder() {
  static const fs::path folder = [] {
    fs::path path = fs::temp_directory_path() / ("qm_editor_" + std::to_string(GetCurrentProcessId()));
    std::error_code ignored; // what the runtime cannot reach past 260 characters stays
    fs::remove_all(path, ignored);
    fs::create_directories(path);
    return path;
  }();
  return folder;
}

std::vector<std::uint8_t> Bytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void Write(const fs::path &path, const std::vector<std::uint8_t> &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string Selected(HWND combo) {
  const LRESULT index = SendMessageA(combo, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return "<none>";
  std::array<char, 256> text{};
  SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  return text.data();
}

// ---- up-downs ---------------------------------------------------------------

struct UpDownCase {
  const char *name;
  int tag;
  std::vector<bool> steps; // true: up
  std::string typedMinor;  // typed into EdtFileMinor first, if not empty
  short loaded = 0;        // a position the program sets first
  std::string edit;        // the stepped up-down's edit afterwards
  std::string fileVersionRow;
};

class UpDownStep : public testing::TestWithParam<UpDownCase> {};

TEST_P(UpDownStep, WritesItsEditAndTheFileVersionRow) {
  const UpDownCase &c = GetParam();
  Fresh();
  HWND upDowns[8] = {Editor().Control(Id::UpFileMajor),   Editor().Control(Id::UpFileMinor),
                     Editor().Control(Id::UpFileRelease), Editor().Control(Id::UpFileBuild),
                     Editor().Control(Id::UpProdMajor),   Editor().Control(Id::UpProdMinor),
                     Editor().Control(Id::UpProdRelease), Editor().Control(Id::UpProdBuild)};
  if (!c.typedMinor.empty()) SetWindowTextA(Editor().Control(Id::EdtFileMinor), c.typedMinor.c_str());
  if (c.loaded) Editor().SetUpDownPosition(c.tag, c.loaded);
  for (bool up : c.steps)
    Step(upDowns[c.tag], up);
  EXPECT_EQ(TextOf(VersionEdits()[static_cast<size_t>(c.tag)]), c.edit);
  EXPECT_EQ(GridRows()[2].second, c.fileVersionRow);
  EXPECT_EQ(GridRows()[4].second, "0.0.0.0") << "the ProductVersion row never follows";
}

INSTANTIATE_TEST_SUITE_P(
    Editor, UpDownStep,
    testing::Values(UpDownCase{"BuildIsTheFourth", 3, {true}, "", 0, "1", "0.0.0.1"},
                    UpDownCase{"ReleaseIsTheThird", 2, {true}, "", 0, "1", "0.0.1.0"},
                    UpDownCase{"TypedTextJoinsAsItStands", 0, {true}, "12", 0, "1", "1.12.0.0"},
                    UpDownCase{"ProductLeavesTheTable", 5, {true, true}, "", 0, "2", "0.0.0.0"},
                    UpDownCase{"NoStepBelowZero", 1, {false}, "7", 0, "7", "0.0.0.0"},
                    UpDownCase{"NoStepAboveHundred", 0, {true}, "", 100, "100", "100.0.0.0"},
                    UpDownCase{"LoadedMinusOneStepsUpFromZero", 0, {true}, "", -1, "1", "1.0.0.0"},
                    UpDownCase{"LoadedMinusOneStepsDownToZero", 0, {false}, "", -1, "0", "0.0.0.0"},
                    UpDownCase{"LoadedAboveTheRangeStepsFromHundred", 3, {false}, "", 30000, "99", "0.0.0.99"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Editor, OnlyTheFirstExactFileVersionRowFollows) {
  Fresh({{"fileversion", "a"}, {"FileVersion", "b"}, {"FileVersion", "c"}});
  Step(Editor().Control(Id::UpFileMajor), true);
  EXPECT_EQ(GridRows(), (Rows{{"fileversion", "a"}, {"FileVersion", "1.0.0.0"}, {"FileVersion", "c"}}));
}

TEST(Editor, ProgramSetPositionsShowSignedAndRunOnlyOnChange) {
  Fresh();
  SetWindowTextA(Editor().Control(Id::EdtFileMajor), "42");
  Editor().SetUpDownPosition(0, 0); // unchanged: the typed text stays
  EXPECT_EQ(TextOf(Editor().Control(Id::EdtFileMajor)), "42");
  Editor().SetUpDownPosition(0, static_cast<short>(40000));
  EXPECT_EQ(TextOf(Editor().Control(Id::EdtFileMajor)), "-25536");
  EXPECT_EQ(GridRows()[2].second, "-25536.0.0.0");
}

// ---- digit filter -------------------------------------------------------------

TEST(Editor, NumberEditsTakeOnlyDigitsAndBackspace) {
  Fresh();
  const struct {
    char key;
    const char *after; // typed after "5" with the caret at the end
  } cases[] = {{'0', "50"}, {'9', "59"}, {'\b', ""},  {'a', "5"},  {'-', "5"},   {' ', "5"},
               {'.', "5"},  {'$', "5"},  {'\r', "5"}, {0x16, "5"}, {'\x80', "5"}};
  for (HWND edit : {Editor().Control(Id::EdtFileMajor), Editor().Control(Id::EdtProdBuild)}) {
    for (const auto &c : cases) {
      SetWindowTextA(edit, "5");
      SendMessageA(edit, EM_SETSEL, 1, 1);
      Type(edit, std::string(1, c.key));
      EXPECT_EQ(TextOf(edit), c.after) << "key " << static_cast<int>(static_cast<unsigned char>(c.key));
    }
  }
}

// ---- rows that follow the boxes -----------------------------------------------

enum class BoxAction { LeftClick, RightRelease, SpaceBar };

struct BoxCase {
  const char *name;
  bool privateBox;
  bool checkedBefore;
  BoxAction action;
  Rows before;
  bool checkedAfter;
  Rows after;
};

class BoxRows : public testing::TestWithParam<BoxCase> {};

TEST_P(BoxRows, FollowTheBoxAtTheRelease) {
  const BoxCase &c = GetParam();
  Fresh(c.before);
  HWND box = c.privateBox ? Editor().Control(Id::ChkPrivate) : Editor().Control(Id::ChkSpecial);
  SendMessageA(box, BM_SETCHECK, c.checkedBefore ? BST_CHECKED : BST_UNCHECKED, 0);
  const LPARAM inside = MAKELPARAM(4, 4);
  switch (c.action) {
  case BoxAction::LeftClick:
    SendMessageA(box, WM_LBUTTONDOWN, MK_LBUTTON, inside);
    SendMessageA(box, WM_LBUTTONUP, 0, inside);
    break;
  case BoxAction::RightRelease:
    SendMessageA(box, WM_RBUTTONDOWN, MK_RBUTTON, inside);
    SendMessageA(box, WM_RBUTTONUP, 0, inside);
    break;
  case BoxAction::SpaceBar:
    SendMessageA(box, WM_KEYDOWN, VK_SPACE, 0);
    SendMessageA(box, WM_KEYUP, VK_SPACE, 0);
    break;
  }
  EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED, c.checkedAfter);
  EXPECT_EQ(GridRows(), c.after);
}

const Rows kTwo = {{"A", "1"}, {"B", "2"}};

INSTANTIATE_TEST_SUITE_P(
    Editor, BoxRows,
    testing::Values(BoxCase{"TickAppends",
                            false,
                            false,
                            BoxAction::LeftClick,
                            kTwo,
                            true,
                            {{"A", "1"}, {"B", "2"}, {"SpecialBuild", ""}}},
                    BoxCase{"UntickRemovesTheFirstExactRow",
                            false,
                            true,
                            BoxAction::LeftClick,
                            {{"specialbuild", "x"}, {"SpecialBuild", "y"}, {"B", "2"}, {"SpecialBuild", "z"}},
                            false,
                            {{"specialbuild", "x"}, {"B", "2"}, {"SpecialBuild", "z"}}},
                    BoxCase{"UntickWithoutTheRowChangesNothing", true, true, BoxAction::LeftClick, kTwo, false, kTwo},
                    BoxCase{"RightReleaseOverATickedBoxAppendsAgain",
                            true,
                            true,
                            BoxAction::RightRelease,
                            {{"PrivateBuild", ""}},
                            true,
                            {{"PrivateBuild", ""}, {"PrivateBuild", ""}}},
                    BoxCase{"RightReleaseOverAnUntickedBoxRemoves",
                            true,
                            false,
                            BoxAction::RightRelease,
                            {{"A", "1"}, {"PrivateBuild", "p"}},
                            false,
                            {{"A", "1"}}},
                    BoxCase{"SpaceBarTogglesWithoutRows", false, false, BoxAction::SpaceBar, kTwo, true, kTwo}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- adding and removing keys ---------------------------------------------------

TEST(Editor, AddKeyAppendsWhatWasTypedAndIgnoresEmptyOrCancel) {
  Answers answers;
  ScopedDialogs use(answers);
  const struct {
    std::optional<std::string> typed;
    Rows after;
  } cases[] = {
      {" Comments ", {{"A", "1"}, {"B", "2"}, {" Comments ", ""}}},
      {"A", {{"A", "1"}, {"B", "2"}, {"A", ""}}},
      {"", kTwo},
      {std::nullopt, kTwo},
  };
  for (const auto &c : cases) {
    Fresh(kTwo);
    answers.input = c.typed;
    Menu(kAddKey);
    EXPECT_EQ(GridRows(), c.after) << c.typed.value_or("<cancel>");
  }
  EXPECT_EQ(answers.inputCalls.front(), "Key Name|Please enter a Key Name");
}

TEST(Editor, RemoveKeyTakesTheRowOfTheLastPress) {
  Answers answers;
  ScopedDialogs use(answers);
  const Rows three = {{"A", "1"}, {"B", "2"}, {"C", "3"}};
  const struct {
    int pressed;
    UINT button;
    Rows after;
    const char *message;
  } cases[] = {
      {2, WM_RBUTTONDOWN, {{"A", "1"}, {"C", "3"}}, nullptr},
      {3, WM_MBUTTONDOWN, {{"A", "1"}, {"B", "2"}}, nullptr},
      {0, WM_RBUTTONDOWN, three, nullptr},                    // the header stays
      {5, WM_RBUTTONDOWN, three, "Grid index out of range."}, // below the last row
  };
  for (const auto &c : cases) {
    Fresh(three);
    answers.messages.clear();
    PressRow(c.pressed, c.button);
    Menu(kRemoveKey);
    EXPECT_EQ(GridRows(), c.after) << "pressed row " << c.pressed;
    EXPECT_EQ(Cell(0, 0), "Key");
    if (c.message) {
      ASSERT_EQ(answers.messages.size(), 1u);
      EXPECT_EQ(answers.messages[0], ApplicationTitle() + "|" + c.message);
      EXPECT_EQ(answers.messageType, static_cast<UINT>(MB_ICONERROR | MB_OK));
    } else {
      EXPECT_TRUE(answers.messages.empty()) << answers.messages[0];
    }
  }
  // Row by row down to the header, then a key comes back as row 1.
  Fresh(three);
  for (int i = 0; i < 3; ++i) {
    PressRow(1);
    Menu(kRemoveKey);
  }
  EXPECT_TRUE(GridRows().empty());
  answers.input = "Again";
  Menu(kAddKey);
  EXPECT_EQ(GridRows(), (Rows{{"Again", ""}}));
}

// ---- reset --------------------------------------------------------------------

TEST(Editor, ResetEmptiesEveryControlTypedTextAndRowsIncluded) {
  Fresh();
  Step(Editor().Control(Id::UpFileBuild), true);
  SetWindowTextA(Editor().Control(Id::EdtFileMajor), "7"); // typed, its up-down still at 0
  SendMessageA(Editor().Control(Id::ChkDebug), BM_SETCHECK, BST_CHECKED, 0);
  SendMessageA(Editor().Control(Id::CmbSubType), CB_SETCURSEL, 4, 0);
  SetGridRows({{"FileVersion", "x"}, {"Two", "2"}});
  Editor().ResetEditor();
  EXPECT_EQ(TextOf(Editor().Control(Id::EdtFileMajor)), "0");
  EXPECT_EQ(TextOf(Editor().Control(Id::EdtFileBuild)), "0");
  EXPECT_EQ(GridRows(), Rows{});
  EXPECT_EQ(SendMessageA(Editor().Control(Id::ChkDebug), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  for (HWND list : {Editor().Control(Id::CmbLan), Editor().Control(Id::CmbCodePage), Editor().Control(Id::CmbFileOs),
                    Editor().Control(Id::CmbFileType), Editor().Control(Id::CmbSubType)})
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 0);
}

// ---- opening --------------------------------------------------------------------

qm::VersionFields SampleFields() {
  qm::VersionFields fields;
  fields.FileMajor = 1, fields.FileMinor = 2, fields.FileRelease = 3, fields.FileBuild = 4;
  fields.ProdMajor = 5, fields.ProdMinor = 6, fields.ProdRelease = 7, fields.ProdBuild = 8;
  fields.Debug = fields.PreRelease = fields.Special = fields.Private = true;
  fields.FileOs = 0x40004;
  fields.FileType = 7;
  fields.FileSubType = 10;
  fields.LanguageText = "0809";
  fields.CodePageText = "1252";
  fields.Rows = {{"CompanyName", "Brindlewick"}, {"", "empty key"}, {"Comments", ""}, {"FileVersion", "9.9"}};
  return fields;
}

std::vector<std::uint8_t> Block(const qm::VersionFields &fields) {
  auto block = qm::EncodeVersionBlock(fields, AnsiTextCodec{});
  EXPECT_TRUE(block.ok());
  return block.ok() ? *block : std::vector<std::uint8_t>{};
}

void Put32(std::vector<std::uint8_t> &block, size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    block[at + static_cast<size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

struct Shown {
  std::array<std::string, 8> edits;
  std::string flags; // ticked boxes: D P S V (Debug, Pre, Special, priVate)
  std::string os, type, subType, language, codePage;
};

Shown WhatIsShown() {
  Shown shown;
  for (size_t i = 0; i < 8; ++i)
    shown.edits[i] = TextOf(VersionEdits()[i]);
  const std::pair<HWND, char> boxes[] = {{Editor().Control(Id::ChkDebug), 'D'},
                                         {Editor().Control(Id::ChkPre), 'P'},
                                         {Editor().Control(Id::ChkSpecial), 'S'},
                                         {Editor().Control(Id::ChkPrivate), 'V'}};
  for (const auto &[box, letter] : boxes)
    if (SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED) shown.flags += letter;
  shown.os = Selected(Editor().Control(Id::CmbFileOs));
  shown.type = Selected(Editor().Control(Id::CmbFileType)) + "|" + TextOf(Editor().Control(Id::CmbFileType));
  shown.subType = Selected(Editor().Control(Id::CmbSubType));
  shown.language = Selected(Editor().Control(Id::CmbLan));
  shown.codePage = Selected(Editor().Control(Id::CmbCodePage));
  return shown;
}

// The tooltip of a list that carries one.
std::string HintOf(HWND combo) {
  std::array<char, 512> text{};
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.hwnd = Editor().Handle();
  tool.uId = reinterpret_cast<UINT_PTR>(combo);
  tool.lpszText = text.data();
  SendMessageA(Editor().Hints(), TTM_GETTEXTA, text.size(), reinterpret_cast<LPARAM>(&tool));
  return text.data();
}

TEST(Editor, OpeningABlockFilePutsEveryValueIntoTheControls) {
  Answers answers;
  ScopedDialogs use(answers);
  const fs::path file = TempFolder() / "whole.res";
  Write(file, Block(SampleFields()));
  Fresh();
  answers.files = {file.string()};
  SendMessageA(Editor().Control(Id::SpdOpen), BM_CLICK, 0, 0);

  ASSERT_EQ(answers.fileRequests.size(), 1u);
  EXPECT_EQ(answers.fileRequests[0].title, "Open File");
  EXPECT_EQ(answers.fileRequests[0].filters,
            (std::vector<std::pair<std::string, std::string>>{
                {"Application Files (*.exe, *.dll, *.ocx, *.scr)", "*.exe; *.dll; *.ocx; *.scr"},
                {"Res Files (*.res)", "*.res"}}));
  EXPECT_EQ(TextOf(Editor().Control(Id::EdtFile)), file.string());
  const Shown shown = WhatIsShown();
  EXPECT_EQ(shown.edits, (std::array<std::string, 8>{"1", "2", "3", "4", "5", "6", "7", "8"}));
  EXPECT_EQ(shown.flags, "DPSV");
  EXPECT_EQ(shown.os, "NT (WINDOWS32)");
  EXPECT_EQ(shown.type, "STATIC LIB|STATIC LIB");
  EXPECT_EQ(shown.subType, "DRV COMM");
  EXPECT_NE(shown.language.find("$0809"), std::string::npos) << shown.language;
  EXPECT_EQ(shown.codePage, "Windows 3.1 US (ANSI) - 1252");
  EXPECT_EQ(GridRows(),
            (Rows{{"CompanyName", "Brindlewick"}, {"", "empty key"}, {"Comments", ""}, {"FileVersion", "9.9"}}));
  // The closed lists' tooltips hold the whole chosen texts.
  EXPECT_EQ(HintOf(Editor().Control(Id::CmbLan)), shown.language);
  EXPECT_EQ(HintOf(Editor().Control(Id::CmbCodePage)), shown.codePage);
}

TEST(Editor, OpeningShowsWhatTheBlockHoldsAndLeavesTheRest) {
  Answers answers;
  ScopedDialogs use(answers);
  qm::VersionFields noRows = SampleFields();
  noRows.Rows.clear();
  noRows.CodePageText = "0012";
  const struct {
    const char *name;
    std::vector<std::uint8_t> block;
    std::array<std::string, 8> edits;
    std::string type, subType, codePage;
    Rows rows;
  } cases[] = {
      {"signed words, no rows, code page 12",
       [&] {
         auto b = Block(noRows);
         b[50] = b[51] = 0xFF;       // file major 65535
         b[48] = 0x40, b[49] = 0x9C; // file minor 40000
         Put32(b, 76, 8);
         Put32(b, 80, 12);
         return b;
       }(),
       {"-1", "-25536", "3", "4", "5", "6", "7", "8"},
       "<none>|",
       "<none>",
       "Unicode (BMP of ISO 10646) - 1200",
       {}},
      {"file major 0 over a typed 7",
       [&] {
         qm::VersionFields f = SampleFields();
         f.FileMajor = 0, f.FileMinor = 9, f.FileRelease = 8, f.FileBuild = 7;
         return Block(f);
       }(),
       {"0", "9", "8", "7", "5", "6", "7", "8"},
       "STATIC LIB|STATIC LIB",
       "DRV COMM",
       "Windows 3.1 US (ANSI) - 1252",
       {{"CompanyName", "Brindlewick"}, {"", "empty key"}, {"Comments", ""}, {"FileVersion", "9.9"}}},
      {"code page 65001 keeps the reset's item",
       [&] {
         qm::VersionFields f = SampleFields();
         f.CodePageText = "$FDE9";
         f.FileType = 2;
         f.FileSubType = 3;
         return Block(f);
       }(),
       {"1", "2", "3", "4", "5", "6", "7", "8"},
       "DLL|DLL",
       "DRV LANGUAGE",
       "EBCDIC - 0037",
       {{"CompanyName", "Brindlewick"}, {"", "empty key"}, {"Comments", ""}, {"FileVersion", "9.9"}}},
      {"a wrong signature leaves the start state",
       [&] {
         auto b = Block(SampleFields());
         b[6] = 'v';
         return b;
       }(),
       {"0", "0", "0", "0", "0", "0", "0", "0"},
       "<none>|",
       "<none>",
       "<none>",
       kStartRows},
      {"a short file leaves the start state",
       {0x10, 0x00, 0x34},
       {"0", "0", "0", "0", "0", "0", "0", "0"},
       "<none>|",
       "<none>",
       "<none>",
       kStartRows},
  };
  for (const auto &c : cases) {
    // An earlier file's row and a number typed while its up-down stood at 0:
    // neither may show beside what this file holds.
    Fresh({{"CompanyName", "Acme Tools"}});
    SetWindowTextA(Editor().Control(Id::EdtFileMajor), "7");
    const fs::path file = TempFolder() / "case.res";
    Write(file, c.block);
    answers.files = {file.string()};
    SendMessageA(Editor().Control(Id::SpdOpen), BM_CLICK, 0, 0);
    const Shown shown = WhatIsShown();
    EXPECT_EQ(shown.edits, c.edits) << c.name;
    EXPECT_EQ(shown.type, c.type) << c.name;
    EXPECT_EQ(shown.subType, c.subType) << c.name;
    EXPECT_EQ(shown.codePage, c.codePage) << c.name;
    EXPECT_EQ(GridRows(), c.rows) << c.name;
  }
}

TEST(Editor, OpeningWhatHoldsNoBlockShowsTheStartStateAndThePath) {
  Answers answers;
  ScopedDialogs use(answers);
  const fs::path folder = TempFolder();
  Write(folder / "block.RES", Block(SampleFields())); // not ".res": read as a module
  fs::create_directories(folder / "dir.res");
  Write(folder / "dir.res" / "plain", Block(SampleFields()));
  const std::string paths[] = {(folder / "block.RES").string(), (folder / "dir.res" / "plain").string(),
                               (folder / "missing.res").string(), (folder / "missing.exe").string()};
  for (const std::string &path : paths) {
    Fresh({{"CompanyName", "Acme Tools"}});
    Step(Editor().Control(Id::UpProdMajor), true);
    SetWindowTextA(Editor().Control(Id::EdtFileMajor), "7");
    SendMessageA(Editor().Control(Id::CmbFileOs), CB_SETCURSEL, 2, 0);
    answers.files = {path};
    SendMessageA(Editor().Control(Id::SpdOpen), BM_CLICK, 0, 0);
    EXPECT_EQ(TextOf(Editor().Control(Id::EdtFile)), path);
    EXPECT_EQ(TextOf(Editor().Control(Id::EdtProdMajor)), "0") << path;
    EXPECT_EQ(TextOf(Editor().Control(Id::EdtFileMajor)), "0") << path;
    EXPECT_EQ(GridRows(), kStartRows) << path;
    EXPECT_EQ(Selected(Editor().Control(Id::CmbFileOs)), "<none>") << path;
  }
  // Cancelling changes nothing, not even the reset.
  Fresh();
  Step(Editor().Control(Id::UpProdMajor), true);
  SendMessageA(Editor().Control(Id::SpdOpen), BM_CLICK, 0, 0);
  EXPECT_EQ(TextOf(Editor().Control(Id::EdtProdMajor)), "1");
  EXPECT_EQ(GridRows(), kStartRows);
  EXPECT_TRUE(answers.messages.empty());
}

// ---- shortcut keys and dropped files ---------------------------------------------

void HoldKeys(bool control, bool shift, bool alt) {
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_CONTROL] = control ? 0x80 : 0;
  keys[VK_SHIFT] = shift ? 0x80 : 0;
  keys[VK_MENU] = alt ? 0x80 : 0;
  SetKeyboardState(keys);
}

// Whether the key was taken, and the file dialog it opened ("" for none).
std::pair<bool, std::string> PressShortcut(Answers &answers, bool control, bool shift, bool alt, WPARAM key) {
  answers.fileRequests.clear();
  HoldKeys(control, shift, alt);
  const MSG msg{Editor().Control(Id::EdtFile), WM_KEYDOWN, key, 0, 0, {}};
  const bool taken = Editor().HandleShortcut(msg);
  HoldKeys(false, false, false);
  return {taken, answers.fileRequests.empty() ? "" : answers.fileRequests[0].title};
}

TEST(Editor, ShortcutKeysClickTheirButtonsOnlyWhileTheEditorHasTheKeyboard) {
  Answers answers;
  ScopedDialogs use(answers);
  const struct {
    bool control, shift, alt;
    WPARAM key;
    bool taken;
    std::string dialog;
  } cases[] = {
      {true, false, false, 'O', true, "Open File"},
      {true, false, false, 'S', true, "Save Version to PE"},
      {true, true, false, 'S', true, "Save Version as Resource"},
      {false, false, false, 'O', false, ""},
      {false, false, false, 'S', false, ""},
      {true, false, true, 'S', false, ""},
      {true, false, false, 'P', false, ""},
      {false, true, false, VK_F1, false, ""},
  };
  for (const auto &c : cases) {
    Fresh();
    EXPECT_EQ(PressShortcut(answers, c.control, c.shift, c.alt, c.key), std::make_pair(c.taken, c.dialog))
        << c.control << c.shift << c.alt << " " << c.key;
  }

  // F1 shows the about window, as its button does.
  std::unique_ptr<TfrmAbout> about = TfrmAbout::Create(GetModuleHandleA(nullptr));
  frmAbout = about.get();
  EXPECT_EQ(PressShortcut(answers, false, false, false, VK_F1), std::make_pair(true, std::string()));
  EXPECT_TRUE(IsWindowVisible(about->Handle()));
  frmAbout = nullptr;
  about.reset();

  // Not while a cell is edited in place (its keys are its own) ...
  Fresh();
  SendMessageA(Editor().Control(Id::Strings), WM_KEYDOWN, VK_F2, 0);
  ASSERT_TRUE(SendMessageA(Editor().Control(Id::Strings), SGM_ISEDITING, 0, 0));
  EXPECT_EQ(PressShortcut(answers, true, false, false, 'O'), std::make_pair(false, std::string()));
  SendMessageA(reinterpret_cast<HWND>(SendMessageA(Editor().Control(Id::Strings), SGM_GETEDITOR, 0, 0)), WM_KEYDOWN,
               VK_ESCAPE, 0);
  // ... nor while a dialog has the window disabled.
  EnableWindow(Editor().Handle(), FALSE);
  EXPECT_EQ(PressShortcut(answers, true, false, false, 'S'), std::make_pair(false, std::string()));
  EnableWindow(Editor().Handle(), TRUE);
}

// A drop as the shell makes one: the names in UTF-16.
void DropFile(const fs::path &path) {
  const std::wstring name = path.wstring();
  HGLOBAL drop = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + (name.size() + 2) * sizeof(wchar_t));
  auto *files = static_cast<DROPFILES *>(GlobalLock(drop));
  files->pFiles = sizeof(DROPFILES);
  files->fWide = TRUE;
  std::copy(name.begin(), name.end(), reinterpret_cast<wchar_t *>(reinterpret_cast<char *>(files) + sizeof(DROPFILES)));
  GlobalUnlock(drop);
  SendMessageA(Editor().Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
}

TEST(Editor, ADroppedFileOpensAsTheOpenCommandOpensIt) {
  EXPECT_TRUE(GetWindowLongA(Editor().Handle(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
  const fs::path file = TempFolder() / "dropped.res";
  Write(file, Block(SampleFields()));
  Fresh({{"CompanyName", "Acme Tools"}});
  DropFile(file);
  EXPECT_EQ(TextOf(Editor().Control(Id::EdtFile)), file.string());
  EXPECT_EQ(WhatIsShown().edits, (std::array<std::string, 8>{"1", "2", "3", "4", "5", "6", "7", "8"}));
  EXPECT_EQ(GridRows(),
            (Rows{{"CompanyName", "Brindlewick"}, {"", "empty key"}, {"Comments", ""}, {"FileVersion", "9.9"}}));

  const std::string missing = (TempFolder() / "missing.dll").string();
  DropFile(TempFolder() / "missing.dll");
  EXPECT_EQ(TextOf(Editor().Control(Id::EdtFile)), missing);
  EXPECT_EQ(WhatIsShown().edits[0], "0");
  EXPECT_EQ(GridRows(), kStartRows);
}

// ---- saving ---------------------------------------------------------------------

void ChooseLanguageAndCodePage() {
  SendMessageA(Editor().Control(Id::CmbLan), CB_SETCURSEL, 0, 0);
  SendMessageA(Editor().Control(Id::CmbCodePage), CB_SETCURSEL, 0, 0);
}

TEST(Editor, SaveDialogsAsked) {
  Answers answers;
  ScopedDialogs use(answers);
  SendMessageA(Editor().Control(Id::BtnSavePE), BM_CLICK, 0, 0);
  SendMessageA(Editor().Control(Id::BtnSaveRes), BM_CLICK, 0, 0);
  ASSERT_EQ(answers.fileRequests.size(), 2u);
  EXPECT_EQ(answers.fileRequests[0].title, "Save Version to PE");
  EXPECT_EQ(answers.fileRequests[0].filters,
            (std::vector<std::pair<std::string, std::string>>{{"Exe Files (*.exe)", "*.exe"},
                                                              {"Dll Files (*.dll)", "*.dll"},
                                                              {"Ocx Files (*.ocx)", "*.ocx"},
                                                              {"Scr Files (*.scr)", "*.scr"}}));
  EXPECT_EQ(answers.fileRequests[1].title, "Save Version as Resource");
  EXPECT_EQ(answers.fileRequests[1].filters,
            (std::vector<std::pair<std::string, std::string>>{{"Res Files (*.res)", "*.res"}}));
  EXPECT_TRUE(answers.messages.empty()) << "a cancelled dialog stays silent";
}

TEST(Editor, BlockFileNamesGetResAndHoldTheWholeBlock) {
  Answers answers;
  ScopedDialogs use(answers);
  const fs::path folder = TempFolder() / "names.old";
  fs::create_directories(folder);
  const struct {
    std::string chosen, written;
  } cases[] = {{"ver", "ver.res"}, {"ver.txt", "ver.txt.res"}, {"ver.RES", "ver.RES.res"}, {"ver.res", "ver.res"}};
  for (const auto &c : cases) {
    Fresh();
    ChooseLanguageAndCodePage();
    fs::remove(folder / c.written);
    answers.files = {(folder / c.chosen).string()};
    SendMessageA(Editor().Control(Id::BtnSaveRes), BM_CLICK, 0, 0);
    const std::vector<std::uint8_t> bytes = Bytes(folder / c.written);
    ASSERT_EQ(bytes.size(), 448u) << c.chosen;
    EXPECT_EQ(bytes[0] | bytes[1] << 8, 448);
  }
  EXPECT_TRUE(answers.messages.empty()) << answers.messages.front();
}

TEST(Editor, VersionTextsKeepTheirLowSixteenBits) {
  Answers answers;
  ScopedDialogs use(answers);
  Fresh();
  ChooseLanguageAndCodePage();
  const char *texts[8] = {"65536", "70000", " +12", "$10", "0x1F", "-1", "2147483647", "65535"};
  for (size_t i = 0; i < 8; ++i)
    SetWindowTextA(VersionEdits()[i], texts[i]);
  const fs::path file = TempFolder() / "numbers.res";
  answers.files = {file.string()};
  SendMessageA(Editor().Control(Id::BtnSaveRes), BM_CLICK, 0, 0);
  const qm::DecodedVersionBlock block = qm::DecodeVersionBlock(Bytes(file));
  ASSERT_TRUE(block.SignatureMatched);
  // Block order: file minor, major, build, release, then the product's.
  const short expected[8] = {4464, 0, 16, 12, -1, 31, -1, -1};
  for (size_t i = 0; i < 8; ++i)
    EXPECT_EQ(block.Words[i].Position, expected[i]) << i;
}

TEST(Editor, FailedSavesReportAndLeaveFilesAsTheyWere) {
  Answers answers;
  ScopedDialogs use(answers);
  const fs::path folder = TempFolder();
  const std::vector<std::uint8_t> old = {'o', 'l', 'd'};
  Write(folder / "old.res", old);
  Write(folder / "old.exe", old);
  // Longer, ".res" added, than the longest path the platform takes.
  const std::string longName = (folder / std::string(kLongestPathBytes, 'n')).string();
  const struct {
    const char *name;
    bool toModule;
    std::string chosen;
    const char *minorText; // put into EdtFileMinor first, if set
    bool noLanguage;
    std::string message; // what the report shows, or its start when it ends in "*"
  } cases[] = {
      {"no language", false, (folder / "old.res").string(), nullptr, true, "'$' is not a valid integer value."},
      {"numbers first", true, (folder / "old.exe").string(), "", true, "'' is not a valid integer value."},
      {"eleven nines", false, (folder / "old.res").string(), "99999999999", false,
       "'99999999999' is not a valid integer value."},
      {"not a module", true, (folder / "old.exe").string(), nullptr, false,
       "'" + (folder / "old.exe").string() + "' is not a PE module; it was not changed."},
      {"missing module", true, (folder / "none.exe").string(), nullptr, false,
       "Cannot read the module '" + (folder / "none.exe").string() + "': it does not exist."},
      {"name too long", false, longName, nullptr, false, "The name '" + longName + "' is too long*"},
      {"folder as block file", false, folder.string() + "\\sub.res\\", nullptr, false, "The block file '*"},
  };
  for (const auto &c : cases) {
    Fresh();
    if (c.noLanguage) SendMessageA(Editor().Control(Id::CmbLan), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    if (c.minorText) SetWindowTextA(Editor().Control(Id::EdtFileMinor), c.minorText);
    answers.messages.clear();
    answers.files = {c.chosen};
    SendMessageA(c.toModule ? Editor().Control(Id::BtnSavePE) : Editor().Control(Id::BtnSaveRes), BM_CLICK, 0, 0);
    ASSERT_EQ(answers.messages.size(), 1u) << c.name;
    const std::string shown = answers.messages[0].substr(answers.messages[0].find('|') + 1);
    if (c.message.back() == '*')
      EXPECT_EQ(shown.substr(0, c.message.size() - 1), c.message.substr(0, c.message.size() - 1)) << c.name;
    else
      EXPECT_EQ(shown, c.message) << c.name;
    EXPECT_EQ(Bytes(folder / "old.res"), old) << c.name;
    EXPECT_EQ(Bytes(folder / "old.exe"), old) << c.name;
  }
  EXPECT_FALSE(fs::exists(longName + ".res"));
  EXPECT_FALSE(fs::exists(folder / "none.exe"));
}

// What a save to a module did beyond the values is said once, after it; a
// module the stamp would break is refused with the reason and the way the
// companion stamps it all the same, nothing written.
TEST(Editor, SaveToPESaysASignatureWentAndWhyAnInstallerIsRefused) {
  Answers answers;
  ScopedDialogs use(answers);
  const fs::path folder = TempFolder();
  std::vector<std::uint8_t> signedBytes = Bytes("editor_sample.exe");
  std::vector<std::uint8_t> installer = signedBytes;
  // A certificate table after the image, as far as the headers tell.
  const size_t peAt = signedBytes[0x3C] | signedBytes[0x3D] << 8;
  const size_t security = peAt + 24 + 128; // PE32: the fifth data directory
  const auto at = static_cast<std::uint32_t>(signedBytes.size());
  for (int k = 0; k < 4; ++k) {
    signedBytes[security + k] = static_cast<std::uint8_t>(at >> (8 * k));
    signedBytes[security + 4 + k] = static_cast<std::uint8_t>(64u >> (8 * k));
  }
  signedBytes.resize(signedBytes.size() + 64, 0x30);
  Write(folder / "signed.exe", signedBytes);
  const std::string inno = "Inno Setup Setup Data (6.2.2)";
  installer.insert(installer.end(), inno.begin(), inno.end());
  installer.resize(installer.size() + 200, 0x11);
  Write(folder / "setup.exe", installer);

  Fresh();
  ChooseLanguageAndCodePage();
  answers.files = {(folder / "signed.exe").string(), (folder / "setup.exe").string()};
  SendMessageA(Editor().Control(Id::BtnSavePE), BM_CLICK, 0, 0);
  ASSERT_EQ(answers.messages.size(), 1u);
  EXPECT_EQ(answers.messages[0].substr(answers.messages[0].find('|')),
            "|The module '" + (folder / "signed.exe").string() +
                "' was signed: the signature was removed; sign the module again.");
  EXPECT_EQ(answers.messageType, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  EXPECT_NE(Bytes(folder / "signed.exe"), signedBytes);

  SendMessageA(Editor().Control(Id::BtnSavePE), BM_CLICK, 0, 0);
  ASSERT_EQ(answers.messages.size(), 2u);
  const std::string refusal = answers.messages[1].substr(answers.messages[1].find('|') + 1);
  EXPECT_EQ(refusal.rfind("The module '" + (folder / "setup.exe").string() +
                              "' carries an appended Inno Setup installer that checks the file",
                          0),
            0u)
      << refusal;
  EXPECT_EQ(refusal.find("(--force"), std::string::npos) << "no switch the editor lacks: " << refusal;
  EXPECT_NE(refusal.find("To stamp it all the same, save the values with \"Save to Resource\" and run: "
                         "quillmark-cli inject --force MODULE BLOCKFILE."),
            std::string::npos)
      << refusal;
  EXPECT_EQ(answers.messageType, static_cast<UINT>(MB_OK | MB_ICONERROR));
  EXPECT_EQ(Bytes(folder / "setup.exe"), installer);
}

// ---- text and names beyond the code page -----------------------------------------
// The same rows run in two programs: this one, whose manifest puts the 8-bit
// functions in UTF-8 as the editor's does, and its twin on an 8-bit code
// page (win_tests_8bit), as a system that ignores the setting runs it.

bool Utf8CodePage() { return GetACP() == CP_UTF8; }

// A path as the platform's 8-bit functions give it to this process.
std::string Named(const fs::path &path) { return NameInCodePage(path.u16string()); }

std::u16string WithLoneSurrogate() { return std::u16string(u"half ") + char16_t(0xD83E) + u" here"; }

struct ScriptCase {
  const char *name;
  std::vector<qm::StringRowUtf16> rows;
  int unshownOnEightBit; // strings the message counts, per code page
  int unshownOnUtf8;
  friend void PrintTo(const ScriptCase &c, std::ostream *os) { *os << c.name; }
};

class ScriptStrings : public testing::TestWithParam<ScriptCase> {};

// Opened and saved with no edit, a block comes back byte for byte, to a
// block file and into a module; an edited cell takes what was typed.
TEST_P(ScriptStrings, ComeBackByteForByteUnlessEdited) {
  const ScriptCase &c = GetParam();
  Answers answers;
  ScopedDialogs use(answers);
  qm::VersionFields fields = SampleFields();
  fields.CodePageText = "1200";
  const auto encoded = qm::EncodeVersionBlock(fields, c.rows);
  ASSERT_TRUE(encoded.ok()) << encoded.error();
  const std::vector<std::uint8_t> &block = *encoded;
  const fs::path folder = TempFolder();
  Write(folder / "script.res", block);
  fs::copy_file("editor_sample.exe", folder / "script.exe", fs::copy_options::overwrite_existing);
  Fresh();
  answers.files = {(folder / "script.res").string(), (folder / "again.res").string(),
                   (folder / "script.exe").string(), (folder / "edited.res").string()};
  SendMessageA(Editor().Control(Id::SpdOpen), BM_CLICK, 0, 0);

  const int unshown = Utf8CodePage() ? c.unshownOnUtf8 : c.unshownOnEightBit;
  if (unshown == 0) {
    EXPECT_TRUE(answers.messages.empty()) << answers.messages.front();
  } else {
    ASSERT_EQ(answers.messages.size(), 1u) << "said once";
    const std::string text = answers.messages[0].substr(answers.messages[0].find('|') + 1);
    EXPECT_EQ(text.rfind(std::to_string(unshown) + (unshown == 1 ? " string in" : " strings in"), 0), 0u) << text;
    EXPECT_NE(text.find("code page (" + std::to_string(GetACP()) + ")"), std::string::npos) << text;
    EXPECT_NE(text.find("saved unchanged unless you edit"), std::string::npos) << text;
    EXPECT_EQ(answers.messageType, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  }
  if (Utf8CodePage()) {
    for (size_t i = 0; i < c.rows.size(); ++i) {
      EXPECT_EQ(Cell(0, static_cast<int>(i) + 1), qm::Utf16ToUtf8(c.rows[i].Key));
      EXPECT_EQ(Cell(1, static_cast<int>(i) + 1), qm::Utf16ToUtf8(c.rows[i].Value));
    }
  }

  SendMessageA(Editor().Control(Id::BtnSaveRes), BM_CLICK, 0, 0);
  EXPECT_EQ(Bytes(folder / "again.res"), block);
  SendMessageA(Editor().Control(Id::BtnSavePE), BM_CLICK, 0, 0);
  const auto stored = qm::stamp::ReadVersionResource(folder / "script.exe", 0);
  ASSERT_TRUE(stored.ok() && stored->has_value());
  EXPECT_EQ((*stored)->bytes, block);
  EXPECT_EQ(answers.messages.size(), unshown == 0 ? 0u : 1u) << "saves say nothing";

  SendMessageA(Editor().Control(Id::Strings), SGM_SETCELLTEXT, MAKEWPARAM(1, 1), reinterpret_cast<LPARAM>("typed"));
  SendMessageA(Editor().Control(Id::BtnSaveRes), BM_CLICK, 0, 0);
  const qm::DecodedVersionBlock edited = qm::DecodeVersionBlock(Bytes(folder / "edited.res"));
  ASSERT_EQ(edited.Strings.size(), c.rows.size());
  for (size_t i = 0; i < c.rows.size(); ++i) {
    EXPECT_EQ(edited.Strings[i].Key, c.rows[i].Key) << i;
    EXPECT_EQ(edited.Strings[i].Value, i == 0 ? u"typed" : c.rows[i].Value) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Editor, ScriptStrings,
    testing::Values(
        ScriptCase{"Chinese",
                   {{u"CompanyName", u"版本测试有限公司"}, {u"FileDescription", u"版本 测试"}, {u"LegalCopyright", u"©2024"}},
                   2,
                   0},
        ScriptCase{"Greek", {{u"CompanyName", u"Αλφάβητο"}, {u"ProductName", u"αβγδ"}}, 2, 0},
        ScriptCase{"EmojiAndAChineseKey", {{u"Comments", u"Quill 🪶 ✓"}, {u"说明", u"plain"}}, 2, 0},
        // No code page can show half a pair; it is kept in both.
        ScriptCase{"LoneSurrogate", {{u"Comments", WithLoneSurrogate()}}, 1, 1},
        ScriptCase{"LatinOnly", {{u"CompanyName", u"Ünïcödé ©"}}, 0, 0}),
    [](const testing::TestParamInfo<ScriptCase> &info) { return std::string(info.param.name); });

enum class Route { Dialog, Drop };

class ScriptNamedFile : public testing::TestWithParam<Route> {};

// Under a name in other scripts a module and a block file open and save in
// place; where the code page cannot carry the name, a message says so and
// what the editor holds stays, nothing written.
TEST_P(ScriptNamedFile, OpensAndSavesInPlaceOrIsRefusedWithTheEditorKept) {
  Answers answers;
  ScopedDialogs use(answers);
  const fs::path folder = TempFolder() / u"测试 Ελληνικά";
  fs::create_directories(folder);
  const fs::path module = folder / u"版本 测试.exe";
  const fs::path blockFile = folder / u"版本 测试.res";
  fs::copy_file("editor_sample.exe", module, fs::copy_options::overwrite_existing);
  Write(blockFile, Block(SampleFields()));
  const std::vector<std::uint8_t> moduleBefore = Bytes(module), blockBefore = Bytes(blockFile);
  for (const fs::path &path : {blockFile, module}) {
    Fresh({{"CompanyName", "Acme Tools"}});
    answers.messages.clear();
    if (GetParam() == Route::Drop) {
      DropFile(path);
    } else {
      answers.files = {Named(path)};
      SendMessageA(Editor().Control(Id::SpdOpen), BM_CLICK, 0, 0);
    }
    if (!Utf8CodePage()) {
      ASSERT_EQ(answers.messages.size(), 1u);
      EXPECT_EQ(answers.messages[0].substr(answers.messages[0].find('|')),
                "|'" + Named(path) + "' cannot be opened: its name holds characters that the system's code page (" +
                    std::to_string(GetACP()) + ") cannot carry. What the editor holds was left as it was.");
      EXPECT_EQ(GridRows(), (Rows{{"CompanyName", "Acme Tools"}}));
      EXPECT_EQ(TextOf(Editor().Control(Id::EdtFile)), "");
      continue;
    }
    EXPECT_TRUE(answers.messages.empty()) << answers.messages.front();
    EXPECT_EQ(TextOf(Editor().Control(Id::EdtFile)), qm::Utf16ToUtf8(path.u16string()));
    EXPECT_EQ(GridRows()[0], (std::pair<std::string, std::string>{"CompanyName", "Brindlewick"}));
  }
  if (GetParam() == Route::Drop) return;
  // Saved in place: the module and the block file under their own names.
  SetGridRows({{"CompanyName", "Saved in place"}});
  ChooseLanguageAndCodePage();
  answers.messages.clear();
  answers.files = {Named(module), Named(blockFile)};
  SendMessageA(Editor().Control(Id::BtnSavePE), BM_CLICK, 0, 0);
  SendMessageA(Editor().Control(Id::BtnSaveRes), BM_CLICK, 0, 0);
  const auto stored = qm::stamp::ReadVersionResource(module, 0);
  ASSERT_TRUE(stored.ok() && stored->has_value());
  const qm::DecodedVersionBlock inModule = qm::DecodeVersionBlock((*stored)->bytes);
  const qm::DecodedVersionBlock inFile = qm::DecodeVersionBlock(Bytes(blockFile));
  std::vector<std::wstring> names;
  for (const auto &entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().wstring());
  EXPECT_EQ(names.size(), 2u) << "no file under another name";
  if (Utf8CodePage()) {
    EXPECT_TRUE(answers.messages.empty()) << answers.messages.front();
    ASSERT_FALSE(inModule.Strings.empty());
    EXPECT_EQ(inModule.Strings[0].Value, u"Saved in place");
    ASSERT_FALSE(inFile.Strings.empty());
    EXPECT_EQ(inFile.Strings[0].Value, u"Saved in place");
  } else {
    ASSERT_EQ(answers.messages.size(), 2u);
    for (const std::string &message : answers.messages)
      EXPECT_NE(message.find("cannot be written: its name holds characters"), std::string::npos) << message;
    EXPECT_EQ(Bytes(module), moduleBefore);
    EXPECT_EQ(Bytes(blockFile), blockBefore);
  }
}

INSTANTIATE_TEST_SUITE_P(Editor, ScriptNamedFile, testing::Values(Route::Dialog, Route::Drop),
                         [](const testing::TestParamInfo<Route> &info) {
                           return std::string(info.param == Route::Dialog ? "Dialog" : "Drop");
                         });

// A path past 260 characters, in two scripts, saves and opens; on an 8-bit
// code page its name is refused and nothing is written.
TEST(Editor, AScriptNamedPathPast260CharactersSavesAndOpens) {
  Answers answers;
  ScopedDialogs use(answers);
  fs::path deep = TempFolder() / u"长路径";
  for (int i = 0; i < 6; ++i)
    deep /= std::u16string(40, static_cast<char16_t>(u'a' + i));
  fs::create_directories(deep);
  const fs::path block = deep / u"Ελληνικά 版本.res";
  ASSERT_GT(block.wstring().size(), 260u);
  Fresh();
  ChooseLanguageAndCodePage();
  answers.files = {Named(block), Named(block)};
  SendMessageA(Editor().Control(Id::BtnSaveRes), BM_CLICK, 0, 0);
  Fresh({{"CompanyName", "Acme Tools"}});
  SendMessageA(Editor().Control(Id::SpdOpen), BM_CLICK, 0, 0);
  if (Utf8CodePage()) {
    EXPECT_TRUE(answers.messages.empty()) << answers.messages.front();
    EXPECT_EQ(TextOf(Editor().Control(Id::EdtFile)), qm::Utf16ToUtf8(block.u16string()));
    EXPECT_EQ(GridRows(), kStartRows) << "the start rows, saved and opened back";
  } else {
    EXPECT_EQ(answers.messages.size(), 2u);
    EXPECT_EQ(GridRows(), (Rows{{"CompanyName", "Acme Tools"}}));
  }
  DeleteFileW((L"\\\\?\\" + block.wstring()).c_str());
  // The runtime cannot remove folders this deep.
  for (fs::path at = deep; at != TempFolder(); at = at.parent_path())
    RemoveDirectoryW((L"\\\\?\\" + at.wstring()).c_str());
}

// ---- a box hidden by its neighbour --------------------------------------------------

// "Pre-release" reaches into "Private build"; the box of "Private build" must
// still show: its white square, drawn where the layout puts it.
TEST(Editor, PrivateBuildShowsItsWholeBox) {
  TfrmMain &form = Editor();
  form.Show();
  SetWindowPos(form.Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  RedrawWindow(form.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  // Ticking "Pre-release" repaints it, over its whole rectangle where
  // nothing stops it.
  SendMessageA(form.Control(Id::ChkPre), BM_SETCHECK, BST_CHECKED, 0);
  InvalidateRect(form.Control(Id::ChkPre), nullptr, TRUE);
  UpdateWindow(form.Control(Id::ChkPre));
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
    DispatchMessageA(&msg);
  // What the group's surface holds where the box of "Private build" is.
  RECT box;
  GetWindowRect(form.Control(Id::ChkPrivate), &box);
  MapWindowPoints(nullptr, form.Control(Id::GroupBox2), reinterpret_cast<POINT *>(&box), 2);
  HDC screen = GetDC(form.Control(Id::GroupBox2));
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  int white = 0, dark = 0;
  std::string dump = "\n";
  const int size = MulDiv(13, form.Dpi(), 96);
  const int top = (box.top + box.bottom) / 2 - size / 2;
  for (int y = top; y < top + size; ++y) {
    for (int x = box.left; x < box.left + size; ++x) {
      const COLORREF pixel = GetPixel(screen, x, y);
      if (pixel == RGB(255, 255, 255)) ++white;
      if (pixel != face && pixel != RGB(255, 255, 255)) ++dark;
      dump += pixel == face ? '.' : pixel == RGB(255, 255, 255) ? 'w' : '#';
    }
    dump += '\n';
  }
  ReleaseDC(form.Control(Id::GroupBox2), screen);
  SetWindowPos(form.Handle(), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SendMessageA(form.Control(Id::ChkPre), BM_SETCHECK, BST_UNCHECKED, 0);
  EXPECT_GE(white, size * size / 3) << "the box's white inside" << dump;
  EXPECT_GE(dark, size * 2) << "the box's frame";
  // The layout's rectangles stay: Pre-release still reaches into Private build.
  RECT pre;
  GetWindowRect(form.Control(Id::ChkPre), &pre);
  EXPECT_GT(pre.right, box.left);
}

} // namespace
