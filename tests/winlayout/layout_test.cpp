// The main window's layout table against the window's documented layout:
// every control's kind, parent, place, size, text and tab order, the keyboard
// order that follows from the table, the up-down tags and the fixed list items.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "win/layout.h"

namespace {

using namespace qm::win::layout;

struct Expected {
  std::string_view name;
  Kind kind;
  std::string_view parent;
  int x, y, w, h;
  std::string_view text;
  int tab; // -1: never visited
};

// Transcribed from the window's layout documentation, row by row.
const std::vector<Expected> kDocumented = {
    {"EdtFile", Kind::Edit, "", 8, 8, 361, 21, "", 0},
    {"SpdOpen", Kind::GlyphButton, "", 368, 8, 23, 22, "", -1},
    {"GroupBox1", Kind::GroupBox, "", 8, 32, 385, 65, "File Version Number", 1},
    {"Label1", Kind::Label, "GroupBox1", 8, 16, 26, 13, "Major", -1},
    {"Label2", Kind::Label, "GroupBox1", 104, 16, 26, 13, "Minor", -1},
    {"Label4", Kind::Label, "GroupBox1", 200, 16, 23, 13, "Build", -1},
    {"Label3", Kind::Label, "GroupBox1", 296, 16, 39, 13, "Release", -1},
    {"EdtFileMajor", Kind::Edit, "GroupBox1", 8, 32, 65, 21, "0", 0},
    {"UpFileMajor", Kind::UpDown, "GroupBox1", 73, 32, 17, 21, "", 1},
    {"UpFileMinor", Kind::UpDown, "GroupBox1", 169, 32, 17, 21, "", 2},
    {"EdtFileMinor", Kind::Edit, "GroupBox1", 104, 32, 65, 21, "0", 3},
    {"UpFileRelease", Kind::UpDown, "GroupBox1", 361, 32, 17, 21, "", 4},
    {"EdtFileRelease", Kind::Edit, "GroupBox1", 296, 32, 65, 21, "0", 5},
    {"UpFileBuild", Kind::UpDown, "GroupBox1", 265, 32, 17, 21, "", 6},
    {"EdtFileBuild", Kind::Edit, "GroupBox1", 200, 32, 65, 21, "0", 7},
    {"GroupBox4", Kind::GroupBox, "", 8, 104, 385, 65, "Product Version Number", 6},
    {"Label6", Kind::Label, "GroupBox4", 8, 16, 26, 13, "Major", -1},
    {"Label7", Kind::Label, "GroupBox4", 104, 16, 26, 13, "Minor", -1},
    {"Label9", Kind::Label, "GroupBox4", 200, 16, 23, 13, "Build", -1},
    {"Label8", Kind::Label, "GroupBox4", 296, 16, 39, 13, "Release", -1},
    {"EdtProdMajor", Kind::Edit, "GroupBox4", 8, 32, 65, 21, "0", 0},
    {"UpProdMajor", Kind::UpDown, "GroupBox4", 73, 32, 17, 21, "", 1},
    {"UpProdMinor", Kind::UpDown, "GroupBox4", 169, 32, 17, 21, "", 2},
    {"EdtProdMinor", Kind::Edit, "GroupBox4", 104, 32, 65, 21, "0", 3},
    {"UpProdRelease", Kind::UpDown, "GroupBox4", 361, 32, 17, 21, "", 4},
    {"EdtProdRelease", Kind::Edit, "GroupBox4", 296, 32, 65, 21, "0", 5},
    {"UpProdBuild", Kind::UpDown, "GroupBox4", 265, 32, 17, 21, "", 6},
    {"EdtProdBuild", Kind::Edit, "GroupBox4", 200, 32, 65, 21, "0", 7},
    {"GroupBox2", Kind::GroupBox, "", 8, 176, 385, 41, "Module Attributes", 2},
    {"ChkDebug", Kind::CheckBox, "GroupBox2", 8, 16, 97, 17, "Debug Build", 0},
    {"ChkSpecial", Kind::CheckBox, "GroupBox2", 104, 16, 81, 17, "Special build", 2},
    {"ChkPre", Kind::CheckBox, "GroupBox2", 200, 16, 97, 17, "Pre-release", 1},
    {"ChkPrivate", Kind::CheckBox, "GroupBox2", 288, 16, 81, 17, "Private build", 3},
    {"Label12", Kind::Label, "", 8, 224, 37, 13, "File OS:", -1},
    {"Label10", Kind::Label, "", 144, 224, 46, 13, "File Type:", -1},
    {"Label11", Kind::Label, "", 256, 224, 65, 13, "File SubType:", -1},
    {"CmbFileOs", Kind::DropDownList, "", 8, 240, 129, 21, "", 9},
    {"CmbFileType", Kind::DropDownList, "", 144, 240, 105, 21, "", 7},
    {"CmbSubType", Kind::DropDownList, "", 256, 240, 137, 21, "", 8},
    {"GroupBox3", Kind::GroupBox, "", 8, 264, 385, 65, "Language", 3},
    {"Label5", Kind::Label, "GroupBox3", 8, 16, 52, 13, "Locale ID: ", -1},
    {"Label13", Kind::Label, "GroupBox3", 192, 16, 56, 13, "Code Page:", -1},
    {"CmbLan", Kind::DropDownList, "GroupBox3", 8, 32, 184, 21, "", 0},
    {"CmbCodePage", Kind::DropDownList, "GroupBox3", 193, 32, 184, 21, "", 1},
    {"Strings", Kind::StringGrid, "", 8, 336, 385, 121, "", 4},
    {"BtnSavePE", Kind::PushButton, "", 8, 464, 97, 25, "Save to PE", 5},
    {"BtnSaveRes", Kind::PushButton, "", 112, 464, 97, 25, "Save to Resource", 10},
    {"BtnAbout", Kind::PushButton, "", 320, 464, 75, 25, "About", 11},
};

void PrintTo(const Expected &expected, std::ostream *out) { *out << expected.name; }

std::string_view ParentName(Id parent) { return parent == Id::Window ? std::string_view() : Entry(parent).name; }

class DocumentedControl : public ::testing::TestWithParam<Expected> {};

TEST_P(DocumentedControl, MatchesTable) {
  const Expected &want = GetParam();
  const ControlEntry *found = nullptr;
  for (const ControlEntry &entry : kMainControls)
    if (entry.name == want.name) found = &entry;
  ASSERT_NE(found, nullptr) << want.name;
  EXPECT_EQ(found->kind, want.kind);
  EXPECT_EQ(ParentName(found->parent), want.parent);
  EXPECT_EQ(found->x, want.x);
  EXPECT_EQ(found->y, want.y);
  EXPECT_EQ(found->w, want.w);
  EXPECT_EQ(found->h, want.h);
  EXPECT_EQ(found->text, want.text);
  EXPECT_EQ(found->tabOrder, want.tab);
}

INSTANTIATE_TEST_SUITE_P(MainWindow, DocumentedControl, ::testing::ValuesIn(kDocumented),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(LayoutTable, HoldsExactlyTheDocumentedControlsInOrder) {
  ASSERT_EQ(kMainControls.size(), kDocumented.size());
  for (size_t i = 0; i < kDocumented.size(); ++i)
    EXPECT_EQ(kMainControls[i].name, kDocumented[i].name) << i;
}

TEST(LayoutTable, TabOrdersAreDistinctWithinEachParent) {
  std::set<std::pair<int, int>> seen;
  for (const ControlEntry &entry : kMainControls) {
    if (entry.tabOrder == kNoTab) continue;
    EXPECT_TRUE(seen.insert({static_cast<int>(entry.parent), entry.tabOrder}).second) << entry.name;
  }
}

// The controls Tab visits, walking the table the way the window's z-order is
// built: a parent's controls by tab order, a group box entered in place.
void Walk(Id parent, std::vector<std::string_view> &visited) {
  std::vector<const ControlEntry *> children;
  for (const ControlEntry &entry : kMainControls)
    if (entry.parent == parent && entry.tabOrder != kNoTab) children.push_back(&entry);
  std::sort(children.begin(), children.end(), [](auto *a, auto *b) { return a->tabOrder < b->tabOrder; });
  for (const ControlEntry *entry : children) {
    if (entry->kind == Kind::GroupBox) {
      Walk(static_cast<Id>(entry - kMainControls.data()), visited);
    } else if (IsTabStop(entry->kind)) {
      visited.push_back(entry->name);
    }
  }
}

TEST(LayoutTable, KeyboardOrderIsTheDocumentedOne) {
  std::vector<std::string_view> visited;
  Walk(Id::Window, visited);
  const std::vector<std::string_view> documented = {
      "EdtFile",    "EdtFileMajor", "EdtFileMinor", "EdtFileRelease", "EdtFileBuild", "ChkDebug",
      "ChkPre",     "ChkSpecial",   "ChkPrivate",   "CmbLan",         "CmbCodePage",  "Strings",
      "BtnSavePE",  "EdtProdMajor", "EdtProdMinor", "EdtProdRelease", "EdtProdBuild", "CmbFileType",
      "CmbSubType", "CmbFileOs",    "BtnSaveRes",   "BtnAbout"};
  EXPECT_EQ(visited, documented);
}

TEST(LayoutTable, UpDownTagsFollowComponentOrder) {
  const std::vector<std::pair<std::string_view, int>> tags = {
      {"UpFileMajor", 0}, {"UpFileMinor", 1}, {"UpFileRelease", 2}, {"UpFileBuild", 3},
      {"UpProdMajor", 4}, {"UpProdMinor", 5}, {"UpProdRelease", 6}, {"UpProdBuild", 7}};
  int upDowns = 0;
  for (const ControlEntry &entry : kMainControls) {
    if (entry.kind != Kind::UpDown) continue;
    ++upDowns;
    EXPECT_EQ(entry.handler, Handler::UpFileMajorChangingEx) << entry.name;
    const auto it = std::find_if(tags.begin(), tags.end(), [&](const auto &t) { return t.first == entry.name; });
    ASSERT_NE(it, tags.end()) << entry.name;
    EXPECT_EQ(entry.tag, it->second) << entry.name;
  }
  EXPECT_EQ(upDowns, 8);
}

TEST(LayoutTable, HandlersHookTheDocumentedEvents) {
  const std::vector<std::pair<std::string_view, Handler>> hooks = {{"SpdOpen", Handler::SpdOpenClick},
                                                                   {"ChkSpecial", Handler::ChkSpecialMouseUp},
                                                                   {"ChkPrivate", Handler::ChkPrivateMouseUp},
                                                                   {"CmbLan", Handler::CmbLanChange},
                                                                   {"CmbCodePage", Handler::CmbCodePageChange},
                                                                   {"Strings", Handler::StringsMouseDown},
                                                                   {"BtnSavePE", Handler::BtnSavePEClick},
                                                                   {"BtnSaveRes", Handler::BtnSaveResClick},
                                                                   {"BtnAbout", Handler::BtnAboutClick},
                                                                   {"ChkDebug", Handler::None},
                                                                   {"ChkPre", Handler::None},
                                                                   {"CmbFileOs", Handler::None},
                                                                   {"EdtFile", Handler::None}};
  for (const auto &[name, handler] : hooks) {
    const auto it = std::find_if(kMainControls.begin(), kMainControls.end(), [&](auto &s) { return s.name == name; });
    ASSERT_NE(it, kMainControls.end()) << name;
    EXPECT_EQ(it->handler, handler) << name;
  }
  for (const ControlEntry &entry : kMainControls) {
    if (entry.name.starts_with("Edt") && entry.name != "EdtFile") {
      EXPECT_EQ(entry.handler, Handler::EdtFileMajorKeyPress) << entry.name;
    }
  }
}

// The window runs a handler from the messages of its control's kind (a
// click of a button, a choice in a list, the mouse let go over a box): on
// a control of another kind it would never run.
TEST(LayoutTable, EachHandlerSitsOnAControlKindThatRunsIt) {
  const std::vector<std::pair<Handler, Kind>> kinds = {
      {Handler::SpdOpenClick, Kind::GlyphButton},       {Handler::EdtFileMajorKeyPress, Kind::Edit},
      {Handler::UpFileMajorChangingEx, Kind::UpDown},   {Handler::ChkSpecialMouseUp, Kind::CheckBox},
      {Handler::ChkPrivateMouseUp, Kind::CheckBox},     {Handler::CmbLanChange, Kind::DropDownList},
      {Handler::CmbCodePageChange, Kind::DropDownList}, {Handler::StringsMouseDown, Kind::StringGrid},
      {Handler::BtnSavePEClick, Kind::PushButton},      {Handler::BtnSaveResClick, Kind::PushButton},
      {Handler::BtnAboutClick, Kind::PushButton}};
  for (const ControlEntry &entry : kMainControls) {
    if (entry.handler == Handler::None) continue;
    const auto it = std::find_if(kinds.begin(), kinds.end(), [&](auto &k) { return k.first == entry.handler; });
    ASSERT_NE(it, kinds.end()) << entry.name;
    EXPECT_EQ(entry.kind, it->second) << entry.name;
  }
}

TEST(LayoutTable, OnlyTheLanguageListsShowHints) {
  for (const ControlEntry &entry : kMainControls) {
    const bool hints = (entry.style & kShowHints) != 0;
    EXPECT_EQ(hints, entry.name == "CmbLan" || entry.name == "CmbCodePage") << entry.name;
  }
}

struct ListItems {
  std::string_view list;
  std::vector<std::string_view> items;
};

class FixedListItems : public ::testing::TestWithParam<ListItems> {};

TEST_P(FixedListItems, MatchDocumentation) {
  const auto it =
      std::find_if(kMainControls.begin(), kMainControls.end(), [&](auto &s) { return s.name == GetParam().list; });
  ASSERT_NE(it, kMainControls.end());
  EXPECT_EQ(std::vector<std::string_view>(it->items.begin(), it->items.end()), GetParam().items);
}

INSTANTIATE_TEST_SUITE_P(
    MainWindow, FixedListItems,
    ::testing::Values(ListItems{"CmbFileOs",
                                {"UNKNOWN", "DOS", "OS/2 16", "OS/2 32", "NT", "WINDOWS16", "PM16", "PM32", "WINDOWS32",
                                 "DOS (WINDOWS16)", "DOS (WINDOWS32)", "OS/2 16 (PM16)", "OS/2 32 (PM32)",
                                 "NT (WINDOWS32)"}},
                      ListItems{"CmbFileType", {"UNKNOWN", "APP", "DLL", "DRV", "FONT", "VxD", "STATIC LIB"}},
                      ListItems{"CmbSubType",
                                {"UNKNOWN", "DRV PRINTER", "DRV KEYBOARD", "DRV LANGUAGE", "DRV DISPLAY", "DRV MOUSE",
                                 "DRV NETWORK", "DRV SYSTEM", "DRV INSTALLABLE", "DRV SOUND", "DRV COMM"}},
                      // The language list is built at run time.
                      ListItems{"CmbLan", {}}),
    [](const auto &info) { return std::string(info.param.list); });

TEST(LayoutTable, CodePageListHoldsItsThirtyEightItems) {
  const ControlEntry &entry = Entry(Id::CmbCodePage);
  ASSERT_EQ(entry.items.size(), 38u);
  EXPECT_EQ(entry.items.front(), "EBCDIC - 0037");
  EXPECT_EQ(entry.items[2], "EBCDIC \"500V1\" - 0500");
  EXPECT_EQ(entry.items[31], "Windows 3.1 US (ANSI) - 1252");
  EXPECT_EQ(entry.items.back(), "Korean (Johab) - 1361");
}

TEST(LayoutTable, WindowShape) {
  EXPECT_EQ(kMainWindow.caption, "Quillmark");
  EXPECT_EQ(kMainWindow.clientWidth, 401);
  EXPECT_EQ(kMainWindow.clientHeight, 497);
  EXPECT_EQ(kMainWindow.fontName, "MS Sans Serif");
  EXPECT_EQ(kMainWindow.fontHeight, -11);
}

} // namespace
