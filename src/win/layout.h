#pragma once
// The main window's controls as data: kind, parent, place and size in
// 96-DPI pixels relative to the parent's client area, text, style, tab
// order within the parent and the handler each control calls. The window
// creates its controls from this table alone; nothing here needs a window,
// so the table is checked natively as well.
#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "codec/field_codes.h"
#include "codec/lists.h"

namespace qm::win::layout {

enum class Kind { Edit, GlyphButton, GroupBox, Label, UpDown, CheckBox, DropDownList, StringGrid, PushButton };

// Table order; TfrmMain::Control(Id) finds each control by it.
enum class Id : int {
  EdtFile,
  SpdOpen,
  GroupBox1,
  Label1,
  Label2,
  Label4,
  Label3,
  EdtFileMajor,
  UpFileMajor,
  UpFileMinor,
  EdtFileMinor,
  UpFileRelease,
  EdtFileRelease,
  UpFileBuild,
  EdtFileBuild,
  GroupBox4,
  Label6,
  Label7,
  Label9,
  Label8,
  EdtProdMajor,
  UpProdMajor,
  UpProdMinor,
  EdtProdMinor,
  UpProdRelease,
  EdtProdRelease,
  UpProdBuild,
  EdtProdBuild,
  GroupBox2,
  ChkDebug,
  ChkSpecial,
  ChkPre,
  ChkPrivate,
  Label12,
  Label10,
  Label11,
  CmbFileOs,
  CmbFileType,
  CmbSubType,
  GroupBox3,
  Label5,
  Label13,
  CmbLan,
  CmbCodePage,
  Strings,
  BtnSavePE,
  BtnSaveRes,
  BtnAbout,
  Window, // the form itself: only ever a parent
};

inline constexpr std::size_t kControlCount = static_cast<std::size_t>(Id::Window);

enum class Handler {
  None,
  SpdOpenClick,
  EdtFileMajorKeyPress,
  UpFileMajorChangingEx,
  ChkSpecialMouseUp,
  ChkPrivateMouseUp,
  CmbLanChange,
  CmbCodePageChange,
  StringsMouseDown,
  BtnSavePEClick,
  BtnSaveResClick,
  BtnAboutClick,
};

// Style bits beyond what the kind implies.
enum Style : unsigned {
  kPlain = 0,
  kShowHints = 1u << 0, // the control has a tooltip of its own
  kFlat = 1u << 1,      // border only under the mouse
};

// Tab order of controls that are never visited by Tab.
inline constexpr int kNoTab = -1;

struct ControlEntry {
  std::string_view name;
  Kind kind;
  Id parent;
  int x, y, w, h;
  std::string_view text;
  unsigned style;
  int tabOrder;
  Handler handler;
  int tag = 0;                               // the up-downs' component index
  std::span<const std::string_view> items{}; // fixed list items
};

struct WindowShape {
  std::string_view caption;
  int clientWidth, clientHeight;
  std::string_view fontName;
  int fontHeight;
};

inline constexpr WindowShape kMainWindow{"Quillmark", 401, 497, "MS Sans Serif", -11};

// The grid's shape; its texts are set when the window is created.
inline constexpr int kGridColumnWidth = 180;
inline constexpr int kGridRowHeight = 18;
inline constexpr int kGridInitialRows = 6;

// The up-downs' range.
inline constexpr int kUpDownMin = 0;
inline constexpr int kUpDownMax = 100;

using enum Kind;
using enum Handler;
using enum Id;

inline constexpr std::array<ControlEntry, kControlCount> kMainControls = {{
    {"EdtFile", Edit, Window, 8, 8, 361, 21, "", kPlain, 0, None},
    {"SpdOpen", GlyphButton, Window, 368, 8, 23, 22, "", kFlat, kNoTab, SpdOpenClick},
    {"GroupBox1", GroupBox, Window, 8, 32, 385, 65, "File Version Number", kPlain, 1, None},
    {"Label1", Label, GroupBox1, 8, 16, 26, 13, "Major", kPlain, kNoTab, None},
    {"Label2", Label, GroupBox1, 104, 16, 26, 13, "Minor", kPlain, kNoTab, None},
    {"Label4", Label, GroupBox1, 200, 16, 23, 13, "Build", kPlain, kNoTab, None},
    {"Label3", Label, GroupBox1, 296, 16, 39, 13, "Release", kPlain, kNoTab, None},
    {"EdtFileMajor", Edit, GroupBox1, 8, 32, 65, 21, "0", kPlain, 0, EdtFileMajorKeyPress},
    {"UpFileMajor", UpDown, GroupBox1, 73, 32, 17, 21, "", kPlain, 1, UpFileMajorChangingEx, 0},
    {"UpFileMinor", UpDown, GroupBox1, 169, 32, 17, 21, "", kPlain, 2, UpFileMajorChangingEx, 1},
    {"EdtFileMinor", Edit, GroupBox1, 104, 32, 65, 21, "0", kPlain, 3, EdtFileMajorKeyPress},
    {"UpFileRelease", UpDown, GroupBox1, 361, 32, 17, 21, "", kPlain, 4, UpFileMajorChangingEx, 2},
    {"EdtFileRelease", Edit, GroupBox1, 296, 32, 65, 21, "0", kPlain, 5, EdtFileMajorKeyPress},
    {"UpFileBuild", UpDown, GroupBox1, 265, 32, 17, 21, "", kPlain, 6, UpFileMajorChangingEx, 3},
    {"EdtFileBuild", Edit, GroupBox1, 200, 32, 65, 21, "0", kPlain, 7, EdtFileMajorKeyPress},
    {"GroupBox4", GroupBox, Window, 8, 104, 385, 65, "Product Version Number", kPlain, 6, None},
    {"Label6", Label, GroupBox4, 8, 16, 26, 13, "Major", kPlain, kNoTab, None},
    {"Label7", Label, GroupBox4, 104, 16, 26, 13, "Minor", kPlain, kNoTab, None},
    {"Label9", Label, GroupBox4, 200, 16, 23, 13, "Build", kPlain, kNoTab, None},
    {"Label8", Label, GroupBox4, 296, 16, 39, 13, "Release", kPlain, kNoTab, None},
    {"EdtProdMajor", Edit, GroupBox4, 8, 32, 65, 21, "0", kPlain, 0, EdtFileMajorKeyPress},
    {"UpProdMajor", UpDown, GroupBox4, 73, 32, 17, 21, "", kPlain, 1, UpFileMajorChangingEx, 4},
    {"UpProdMinor", UpDown, GroupBox4, 169, 32, 17, 21, "", kPlain, 2, UpFileMajorChangingEx, 5},
    {"EdtProdMinor", Edit, GroupBox4, 104, 32, 65, 21, "0", kPlain, 3, EdtFileMajorKeyPress},
    {"UpProdRelease", UpDown, GroupBox4, 361, 32, 17, 21, "", kPlain, 4, UpFileMajorChangingEx, 6},
    {"EdtProdRelease", Edit, GroupBox4, 296, 32, 65, 21, "0", kPlain, 5, EdtFileMajorKeyPress},
    {"UpProdBuild", UpDown, GroupBox4, 265, 32, 17, 21, "", kPlain, 6, UpFileMajorChangingEx, 7},
    {"EdtProdBuild", Edit, GroupBox4, 200, 32, 65, 21, "0", kPlain, 7, EdtFileMajorKeyPress},
    {"GroupBox2", GroupBox, Window, 8, 176, 385, 41, "Module Attributes", kPlain, 2, None},
    {"ChkDebug", CheckBox, GroupBox2, 8, 16, 97, 17, "Debug Build", kPlain, 0, None},
    {"ChkSpecial", CheckBox, GroupBox2, 104, 16, 81, 17, "Special build", kPlain, 2, ChkSpecialMouseUp},
    {"ChkPre", CheckBox, GroupBox2, 200, 16, 97, 17, "Pre-release", kPlain, 1, None},
    {"ChkPrivate", CheckBox, GroupBox2, 288, 16, 81, 17, "Private build", kPlain, 3, ChkPrivateMouseUp},
    {"Label12", Label, Window, 8, 224, 37, 13, "File OS:", kPlain, kNoTab, None},
    {"Label10", Label, Window, 144, 224, 46, 13, "File Type:", kPlain, kNoTab, None},
    {"Label11", Label, Window, 256, 224, 65, 13, "File SubType:", kPlain, kNoTab, None},
    {"CmbFileOs", DropDownList, Window, 8, 240, 129, 21, "", kPlain, 9, None, 0, kFileOsItems},
    {"CmbFileType", DropDownList, Window, 144, 240, 105, 21, "", kPlain, 7, None, 0, kFileTypeItems},
    {"CmbSubType", DropDownList, Window, 256, 240, 137, 21, "", kPlain, 8, None, 0, kSubTypeItems},
    {"GroupBox3", GroupBox, Window, 8, 264, 385, 65, "Language", kPlain, 3, None},
    {"Label5", Label, GroupBox3, 8, 16, 52, 13, "Locale ID: ", kPlain, kNoTab, None},
    {"Label13", Label, GroupBox3, 192, 16, 56, 13, "Code Page:", kPlain, kNoTab, None},
    {"CmbLan", DropDownList, GroupBox3, 8, 32, 184, 21, "", kShowHints, 0, CmbLanChange},
    {"CmbCodePage", DropDownList, GroupBox3, 193, 32, 184, 21, "", kShowHints, 1, CmbCodePageChange, 0, kCodePageItems},
    {"Strings", StringGrid, Window, 8, 336, 385, 121, "", kPlain, 4, StringsMouseDown},
    {"BtnSavePE", PushButton, Window, 8, 464, 97, 25, "Save to PE", kPlain, 5, BtnSavePEClick},
    {"BtnSaveRes", PushButton, Window, 112, 464, 97, 25, "Save to Resource", kPlain, 10, BtnSaveResClick},
    {"BtnAbout", PushButton, Window, 320, 464, 75, 25, "About", kPlain, 11, BtnAboutClick},
}};

constexpr const ControlEntry &Entry(Id id) { return kMainControls[static_cast<std::size_t>(id)]; }

// Whether Tab stops at a control of this kind (up-downs hold a tab order
// within their group but are never visited).
constexpr bool IsTabStop(Kind kind) {
  return kind == Edit || kind == CheckBox || kind == DropDownList || kind == StringGrid || kind == PushButton;
}

// Child control identifiers, as WM_COMMAND and WM_NOTIFY report them.
inline constexpr int kFirstControlId = 100;
constexpr int ControlId(Id id) { return kFirstControlId + static_cast<int>(id); }

} // namespace qm::win::layout
