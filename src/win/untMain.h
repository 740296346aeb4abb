#pragma once
// The main window: every value of one version block at once. Its controls
// are created from the layout table in layout.h and reached by the table's
// names (Control(Id::EdtFileMajor)); the handlers are methods named after the
// control and the event, and the table says which one each control calls.
#include <windows.h>

#include <commctrl.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codec/editor_fields.h"
#include "codec/encoder.h"
#include "win/layout.h"
#include "win/window_base.h"

namespace qm::win {

class TfrmMain : public WindowBase<TfrmMain> {
  friend class WindowBase<TfrmMain>;

public:
  // Registers the window classes, creates the window hidden with all its
  // controls, and runs FormCreate.
  static std::unique_ptr<TfrmMain> Create(HINSTANCE instance);
  ~TfrmMain();
  TfrmMain(const TfrmMain &) = delete;
  TfrmMain &operator=(const TfrmMain &) = delete;

  // Shows the window, centred on the screen.
  void Show();
  // Ctrl+O, Ctrl+S, Ctrl+Shift+S and F1 as a click on the open button,
  // "Save to PE", "Save to Resource" and "About"; true when msg was one.
  bool HandleShortcut(const MSG &msg);
  // A control by the layout table's name; Id::Window is the form itself.
  HWND Control(layout::Id id) const;
  // The tooltip control that carries the hints of CmbLan and CmbCodePage.
  HWND Hints();
  // The row of the last mouse press in Strings (-1: a press on no cell).
  int PressedRow() const { return pressedRow_; }

  // Handlers.
  void FormCreate();
  void SpdOpenClick();
  void BtnSavePEClick();
  void BtnSaveResClick();
  void BtnAboutClick();
  void CmbLanChange();
  void CmbCodePageChange();
  void UpFileMajorChangingEx(int tag, bool &allowChange, short newValue);
  // Clears key to 0 to discard the typed character.
  void EdtFileMajorKeyPress(char &key);
  void ChkSpecialMouseUp();
  void ChkPrivateMouseUp();
  void StringsMouseDown(UINT button, POINT point);
  void AddKey1Click();
  void RemoveKey1Click();

  // Empties every control before a load: numbers 0, no box ticked, each
  // list at its first item, no string row.
  void ResetEditor();
  // The editor as it starts (no list item chosen, the start rows); EdtFile
  // is left alone.
  void ShowStartState();
  // Puts one version block into the reset editor and gives how many of its
  // strings the code page cannot show (the grid keeps them whole); nothing,
  // and nothing changed, when the bytes are no version block. Reads nothing
  // past data.
  std::optional<int> LoadVersionBlock(std::span<const std::uint8_t> data);
  // Opens a module or block file as the open command does once its dialog
  // has given the path. A path with stand-ins for characters the code page
  // lacks is refused with a message, the editor left as it was.
  void OpenFile(const std::string &path);
  // The controls' values as a save takes them, and the block they give;
  // throws with the conversion's message when a text is no number.
  EditorTexts CurrentTexts() const;
  std::vector<std::uint8_t> EncodeCurrentValues() const;
  // Sets an up-down's position as the program does: through the change
  // handling when, and only when, the position differs.
  void SetUpDownPosition(int tag, short position);
  short UpDownPosition(int tag) const { return positions_[static_cast<size_t>(tag)]; }

private:
  explicit TfrmMain(HINSTANCE instance);
  static LRESULT CALLBACK LanguageListProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref);
  void FillLanguageList();
  static LRESULT CALLBACK ControlProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref);
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnControlMessage(layout::Id id, HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  void OnCommand(int id, int code);
  LRESULT OnNotify(const NMHDR &header);
  void OnDropFiles(HDROP drop);
  // Runs the handler the layout table names, when it takes no arguments.
  void Run(layout::Handler handler);
  void CreateWindowAndControls();
  void CreateControl(layout::Id id);
  void SetUpUpDown(layout::Id id, int x, int y, int w, int h);
  // The text's extent in the window's font.
  SIZE TextSize(const std::string &text) const;
  void SetUpDropDownList(HWND combo, const layout::ControlEntry &entry);
  void AddHint(HWND combo);
  void FitDroppedWidth(HWND combo);
  void SetHint(HWND combo, const std::string &text);
  // Selects a list item from the program (-1: none); a list with a hint
  // shows the new text in it.
  void SelectItem(HWND combo, int index);
  void CreateMenuString();
  void DrawGlyphButton(const DRAWITEMSTRUCT &item);
  void SetGridCell(int col, int row, const std::string &text);
  // True when the code page cannot show the text and the grid keeps it.
  bool SetGridCellUtf16(int col, int row, std::u16string_view text);
  std::vector<StringRow> GridRows() const;
  // The rows below the header as a save writes them.
  std::vector<StringRowUtf16> GridRowsUtf16() const;
  void AppendGridRow(const std::string &key);
  void BuildRowFollowingBox(HWND box, std::string_view key);
  LRESULT OnUpDownStep(int tag, const NMUPDOWN &change);
  void ClipOverlappedCheckBoxes();
  HWND ParentOf(layout::Id id) const;

  // The controls in layout table order.
  std::array<HWND, layout::kControlCount> controls_{};
  // The grid's popup menu with AddKey1 and RemoveKey1.
  HMENU MenuString = nullptr;
  HINSTANCE instance_;
  HWND hints_ = nullptr;
  std::map<HWND, std::string> hintTexts_; // by list, also before hints_ is made
  HFONT font_ = nullptr;
  HDC measure_ = nullptr; // a memory DC holding font_
  HBITMAP glyph_ = nullptr;
  // The field height that gave the last fitted list its closed height.
  int fittedHeight_ = 0, fittedField_ = 0;
  int pressedRow_ = 0;
  // The up-downs' positions by Tag as the program set them; a load may put
  // one outside the controls' range, which they would not keep.
  std::array<short, 8> positions_{};
  bool glyphHot_ = false;
  bool glyphLoaded_ = false;
};

// The single main window, alive from its creation at start to the end of the
// process; other parts of the program reach its controls through it.
extern TfrmMain *frmMain;

// Removes one string row: the rows below move up, the table loses its last row.
// Throws "Grid index out of range" (nothing changed) for a row the grid lacks.
void RemoveGridRow(int row, HWND grid);

// Stores a version block in a module as its version resource and gives what
// the stamp did beyond it (a signature removed), as sentences; throws with a
// message naming the file and the reason, the module left as it was. A
// refusal because the stamp would break the module also says how the
// companion stamps it all the same.
std::vector<std::string> StoreBlockInModule(const std::string &path, std::span<const std::uint8_t> block);

} // namespace qm::win
