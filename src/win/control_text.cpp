#include "win/control_text.h"

#include "win/string_grid.h"

namespace qm::win {

std::string WindowText(HWND wnd) {
  std::string text(static_cast<size_t>(GetWindowTextLengthA(wnd)) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(wnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::string SelectedItemText(HWND combo) {
  const LRESULT index = SendMessageA(combo, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return {};
  const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const LRESULT copied =
      SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(copied == CB_ERR ? 0 : static_cast<size_t>(copied));
  return text;
}

std::vector<std::string> ComboItems(HWND combo) {
  std::vector<std::string> items;
  const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
    std::string text(length == CB_ERR ? 0 : static_cast<size_t>(length) + 1, '\0');
    if (!text.empty()) {
      const LRESULT copied =
          SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
      text.resize(copied == CB_ERR ? 0 : static_cast<size_t>(copied));
    }
    items.push_back(std::move(text));
  }
  return items;
}

std::string CellText(HWND grid, int col, int row) {
  const WPARAM cell = MAKEWPARAM(col, row);
  const LRESULT length = SendMessageA(grid, SGM_GETCELLTEXT, cell, 0);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  SendMessageA(grid, SGM_GETCELLTEXT, cell, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(length));
  return text;
}

int RowCount(HWND grid) { return static_cast<int>(SendMessageA(grid, SGM_GETROWCOUNT, 0, 0)); }

bool IsChecked(HWND box) { return SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

} // namespace qm::win
