#pragma once
// What the main window's source files share beyond the class: its menu
// commands, the message it posts itself, and the controls the up-downs'
// Tags stand for.
#include <windows.h>

#include <array>

#include "win/layout.h"

namespace qm::win {

// The grid's popup menu items, as WM_COMMAND reports them.
inline constexpr int kAddKey1 = 1;
inline constexpr int kRemoveKey1 = 2;
inline constexpr UINT_PTR kLanguageListSubclass = 0x4C;
inline constexpr UINT kMakeHintsMessage = WM_APP + 1;

// The edits the up-downs write into, and the up-downs, by Tag.
inline constexpr std::array<layout::Id, 8> kVersionEdits = {
    layout::Id::EdtFileMajor, layout::Id::EdtFileMinor, layout::Id::EdtFileRelease, layout::Id::EdtFileBuild,
    layout::Id::EdtProdMajor, layout::Id::EdtProdMinor, layout::Id::EdtProdRelease, layout::Id::EdtProdBuild,
};
inline constexpr std::array<layout::Id, 8> kUpDowns = {
    layout::Id::UpFileMajor, layout::Id::UpFileMinor, layout::Id::UpFileRelease, layout::Id::UpFileBuild,
    layout::Id::UpProdMajor, layout::Id::UpProdMinor, layout::Id::UpProdRelease, layout::Id::UpProdBuild,
};
// Tags below this are the file version's.
inline constexpr int kFileVersionTags = 4;

} // namespace qm::win
