#pragma once
// Reading what the main window's controls hold: the texts of edits, lists
// and grid cells, and the state of check boxes.
#include <windows.h>

#include <string>
#include <vector>

namespace qm::win {

std::string WindowText(HWND wnd);
// The text of the list's chosen item; empty when none is chosen.
std::string SelectedItemText(HWND combo);
std::vector<std::string> ComboItems(HWND combo);
std::string CellText(HWND grid, int col, int row);
int RowCount(HWND grid);
bool IsChecked(HWND box);

} // namespace qm::win
