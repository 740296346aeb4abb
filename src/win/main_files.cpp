// What the main window reads and writes: putting a version block into the
// editor (from a module or a block file), and taking the editor's values
// out into a module or a block file. Files are read and written through the
// file layer and the stamping layer, never here.
#include "win/untMain.h"

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "codec/decoder.h"
#include "codec/encoder.h"
#include "codec/field_codes.h"
#include "codec/file_names.h"
#include "codec/lists.h"
#include "fileio/file_io.h"
#include "stamp/module_file.h"
#include "stamp/module_injection.h"
#include "stamp/native_path.h"
#include "win/ansi_text_codec.h"
#include "win/control_text.h"
#include "win/dialogs.h"
#include "win/error_report.h"
#include "win/main_ids.h"
#include "win/path_names.h"
#include "win/string_grid.h"

namespace qm::win {
namespace {

using layout::Id;

constexpr Id kBoxes[] = {Id::ChkDebug, Id::ChkSpecial, Id::ChkPre, Id::ChkPrivate};
constexpr Id kLists[] = {Id::CmbLan, Id::CmbCodePage, Id::CmbFileOs, Id::CmbFileType, Id::CmbSubType};

int TagOf(VersionPart part) {
  switch (part) {
  case VersionPart::FileMajor:
    return 0;
  case VersionPart::FileMinor:
    return 1;
  case VersionPart::FileRelease:
    return 2;
  case VersionPart::FileBuild:
    return 3;
  case VersionPart::ProdMajor:
    return 4;
  case VersionPart::ProdMinor:
    return 5;
  case VersionPart::ProdRelease:
    return 6;
  case VersionPart::ProdBuild:
    return 7;
  }
  return -1;
}

// The version block a module or block file holds; empty when there is none
// or it cannot be read.
std::vector<std::uint8_t> VersionBlockOf(const std::string &path) {
  try {
    if (IsBlockFileName(path)) {
      auto bytes = fileio::ReadInput(stamp::PathFromArgument(path));
      return bytes ? std::move(*bytes) : std::vector<std::uint8_t>{};
    }
    // Read from the file, never loaded as a program: its code never runs.
    auto found = stamp::ReadVersionResource(stamp::PathFromArgument(path), GetUserDefaultLangID());
    if (!found || !found->has_value()) return {};
    return std::move((*found)->bytes);
  } catch (const std::exception &) {
    return {}; // a file too large to hold
  }
}

// A message from the core begins in lower case, as it is also part of the
// companion's longer lines; the message box shows it as a sentence.
std::string AsSentence(std::string message) {
  if (!message.empty()) CharUpperBuffA(message.data(), 1);
  return message;
}

// A name the code page cannot carry comes back from the platform's 8-bit
// functions with stand-ins; using it would open nothing or, worse, another
// file, so it is refused before anything changes.
void RefuseStandIns(const std::string &path, const char *refusal, const char *outcome) {
  if (!HoldsStandIns(path)) return;
  throw std::runtime_error("'" + path + "' " + refusal + ": its name holds characters that the system's code page (" +
                           std::to_string(GetACP()) + ") cannot carry. " + outcome);
}

std::string KeptStringsNotice(int count) {
  const std::string code = std::to_string(GetACP());
  if (count == 1) {
    return "1 string in this file holds characters that the system's code page (" + code +
           ") cannot show; the grid shows stand-ins for them. The string is kept as it is and saved unchanged "
           "unless you edit it.";
  }
  return std::to_string(count) + " strings in this file hold characters that the system's code page (" + code +
         ") cannot show; the grid shows stand-ins for them. The strings are kept as they are and saved unchanged "
         "unless you edit them.";
}

const FileDialogRequest kOpenRequest{
    "Open File",
    {{"Application Files (*.exe, *.dll, *.ocx, *.scr)", "*.exe; *.dll; *.ocx; *.scr"}, {"Res Files (*.res)", "*.res"}}};
const FileDialogRequest kSaveToModuleRequest{"Save Version to PE",
                                             {{"Exe Files (*.exe)", "*.exe"},
                                              {"Dll Files (*.dll)", "*.dll"},
                                              {"Ocx Files (*.ocx)", "*.ocx"},
                                              {"Scr Files (*.scr)", "*.scr"}}};
const FileDialogRequest kSaveToBlockFileRequest{"Save Version as Resource", {{"Res Files (*.res)", "*.res"}}};

} // namespace

// ---- reset and load ---------------------------------------------------------

// Every edit is written, not only those whose up-down moves: a number typed
// while its up-down stood at 0 would otherwise outlive the reset and show
// beside the loaded file's values. No row survives either, so a file without
// a string table shows none.
void TfrmMain::ResetEditor() {
  SendMessageA(Control(Id::Strings), SGM_SETROWCOUNT, 1, 0);
  for (int tag = 0; tag < static_cast<int>(positions_.size()); ++tag) {
    SetUpDownPosition(tag, 0);
    SetWindowTextA(Control(kVersionEdits[static_cast<size_t>(tag)]), "0");
  }
  for (Id box : kBoxes)
    SendMessageA(Control(box), BM_SETCHECK, BST_UNCHECKED, 0);
  for (Id list : kLists)
    SelectItem(Control(list), 0);
}

void TfrmMain::ShowStartState() {
  ResetEditor();
  for (Id list : kLists)
    SelectItem(Control(list), -1);
  // The copyright sign is whatever the code page writes for it: the byte
  // 0xA9 in Windows-1252, two bytes in UTF-8.
  static constexpr std::array<std::array<std::u16string_view, 2>, layout::kGridInitialRows> kStartRows = {{
      {u"Key", u"Value"},
      {u"CompanyName", u""},
      {u"FileDescription", u""},
      {u"FileVersion", u"0.0.0.0"},
      {u"LegalCopyright", u"\u00A92008"},
      {u"ProductVersion", u"0.0.0.0"},
  }};
  SendMessageA(Control(Id::Strings), SGM_SETROWCOUNT, layout::kGridInitialRows, 0);
  for (int row = 0; row < layout::kGridInitialRows; ++row)
    for (int col = 0; col < 2; ++col)
      SetGridCellUtf16(col, row, kStartRows[static_cast<size_t>(row)][static_cast<size_t>(col)]);
}

std::optional<int> TfrmMain::LoadVersionBlock(std::span<const std::uint8_t> data) {
  const DecodedVersionBlock block = DecodeVersionBlock(data);
  if (!block.SignatureMatched) return std::nullopt;
  for (const VersionWord &word : block.Words)
    SetUpDownPosition(TagOf(word.Part), word.Position);

  const std::pair<Id, std::uint32_t> boxes[] = {{Id::ChkDebug, kFlagDebug},
                                                {Id::ChkPre, kFlagPreRelease},
                                                {Id::ChkSpecial, kFlagSpecial},
                                                {Id::ChkPrivate, kFlagPrivate}};
  for (const auto &[box, bit] : boxes)
    if (block.Flags & bit) SendMessageA(Control(box), BM_SETCHECK, BST_CHECKED, 0);

  if (const std::optional<int> os = FileOsIndexFromValue(block.FileOs)) SelectItem(Control(Id::CmbFileOs), *os);
  // An index outside a list leaves it with no item and empty text.
  SelectItem(Control(Id::CmbFileType), FileTypeIndexFromValue(block.FileType));
  SelectItem(Control(Id::CmbSubType), SubTypeIndexFromValue(block.FileSubType));

  if (block.TranslationFound) {
    const int language = LanguageItemIndex(ComboItems(Control(Id::CmbLan)), block.Language);
    if (language >= 0) SelectItem(Control(Id::CmbLan), language);
    const int codePage = CodePageItemIndex(block.CodePage);
    if (codePage >= 0) SelectItem(Control(Id::CmbCodePage), codePage);
  }

  // The grid shows the strings in the code page and keeps, beside a string
  // the code page cannot carry, the string as it was read.
  int kept = 0;
  if (block.StringFileInfoFound) {
    SendMessageA(Control(Id::Strings), SGM_SETROWCOUNT, block.Strings.size() + 1, 0);
    int row = 1;
    for (const DecodedString &entry : block.Strings) {
      const bool keyKept = SetGridCellUtf16(0, row, entry.Key);
      const bool valueKept = SetGridCellUtf16(1, row, entry.Value);
      if (keyKept || valueKept) ++kept;
      ++row;
    }
  }
  return kept;
}

// ---- opening ----------------------------------------------------------------

void TfrmMain::SpdOpenClick() {
  const std::optional<std::string> path = CurrentDialogs().OpenFile(wnd_, kOpenRequest);
  if (path) OpenFile(*path);
}

// Every failure here is silent: what holds no version block (a missing file,
// no module, a module without version information) leaves the editor as it
// starts, with the path shown.
// A name with stand-ins is refused before the reset: what was loaded stays.
void TfrmMain::OpenFile(const std::string &path) {
  RefuseStandIns(path, "cannot be opened", "What the editor holds was left as it was.");
  ResetEditor();
  SetWindowTextA(Control(Id::EdtFile), path.c_str());
  const std::optional<int> kept = LoadVersionBlock(VersionBlockOf(path));
  if (!kept) return ShowStartState();
  // Said once a file, after it shows: how many, and that nothing is lost.
  if (*kept > 0)
    CurrentDialogs().ShowMessageBox(wnd_, KeptStringsNotice(*kept), ApplicationTitle(), MB_OK | MB_ICONINFORMATION);
}

// ---- saving -----------------------------------------------------------------

EditorTexts TfrmMain::CurrentTexts() const {
  EditorTexts texts;
  texts.FileTypeIndex = static_cast<int>(SendMessageA(Control(Id::CmbFileType), CB_GETCURSEL, 0, 0));
  texts.FileTypeText = SelectedItemText(Control(Id::CmbFileType));
  texts.SubTypeIndex = static_cast<int>(SendMessageA(Control(Id::CmbSubType), CB_GETCURSEL, 0, 0));
  texts.SubTypeText = SelectedItemText(Control(Id::CmbSubType));
  texts.LanguageItem = SelectedItemText(Control(Id::CmbLan));
  texts.CodePageItem = SelectedItemText(Control(Id::CmbCodePage));
  for (size_t i = 0; i < kVersionEdits.size(); ++i)
    texts.VersionTexts[i] = WindowText(Control(kVersionEdits[i]));
  texts.Rows = GridRows();
  texts.Debug = IsChecked(Control(Id::ChkDebug));
  texts.PreRelease = IsChecked(Control(Id::ChkPre));
  texts.Special = IsChecked(Control(Id::ChkSpecial));
  texts.Private = IsChecked(Control(Id::ChkPrivate));
  texts.FileOsIndex = static_cast<int>(SendMessageA(Control(Id::CmbFileOs), CB_GETCURSEL, 0, 0));
  return texts;
}

// The strings go to the encoder as the grid keeps them in UTF-16: a string
// nobody edited is written as it was read, whatever the grid could show.
std::vector<std::uint8_t> TfrmMain::EncodeCurrentValues() const {
  Result<VersionFields> fields = CollectVersionFields(CurrentTexts());
  if (!fields) throw std::runtime_error(fields.error());
  Result<std::vector<std::uint8_t>> block = EncodeVersionBlock(*fields, GridRowsUtf16());
  if (!block) throw std::runtime_error(block.error());
  return std::move(*block);
}

// The values are encoded before the destination is touched, so a save that
// fails to convert leaves every file as it was.
void TfrmMain::BtnSavePEClick() {
  const std::optional<std::string> name = CurrentDialogs().SaveFile(wnd_, kSaveToModuleRequest);
  if (!name) return;
  RefuseStandIns(*name, "cannot be written", "Nothing was written.");
  const std::vector<std::uint8_t> block = EncodeCurrentValues();
  const std::vector<std::string> notices = StoreBlockInModule(*name, block);
  // What the save did beyond the values (a signature removed) is said once,
  // after it, as the companion says it.
  if (!notices.empty()) {
    std::string text;
    for (const std::string &notice : notices) {
      if (!text.empty()) text += '\n';
      text += ReportedText(notice);
    }
    CurrentDialogs().ShowMessageBox(wnd_, text, ApplicationTitle(), MB_OK | MB_ICONINFORMATION);
  }
}

void TfrmMain::BtnSaveResClick() {
  const std::optional<std::string> name = CurrentDialogs().SaveFile(wnd_, kSaveToBlockFileRequest);
  if (!name) return;
  RefuseStandIns(*name, "cannot be written", "Nothing was written.");
  const std::optional<std::string> target = BlockFileName(*name, kLongestPathBytes);
  if (!target) {
    throw std::runtime_error("The name '" + *name + "' is too long to take the extension \"" +
                             std::string(kBlockFileExtension) + "\"; nothing was written");
  }
  const std::vector<std::uint8_t> block = EncodeCurrentValues();
  const std::filesystem::path path = stamp::PathFromArgument(*target);
  auto held = fileio::HeldFile::Open(path, false);
  const Status written = held ? held->Replace(block) : Status(held.failure());
  if (!written) {
    // The runtime's own narrow form of a path fails on characters outside
    // its locale; the full path is named in the code page instead.
    throw std::runtime_error("The block file '" + *target + "' cannot be written: " + NameInCodePage(path.u16string()) +
                             ": " + written.error() + "; it was left as it was");
  }
}

std::vector<std::string> StoreBlockInModule(const std::string &path, std::span<const std::uint8_t> block) {
  std::vector<std::string> notices;
  stamp::StampOptions options;
  options.notice = [&notices](const std::string &line) { notices.push_back(AsSentence(line)); };
  Status stored = stamp::StoreVersionResource(stamp::PathFromArgument(path), path, block, options);
  if (stored) return notices;
  if (stored.failure().kind != ErrorKind::WouldBreak) throw std::runtime_error(AsSentence(stored.error()));
  // The editor has no --force of its own: the refusal says why, and how
  // the companion stamps the module all the same.
  std::string reason = stored.error();
  if (const size_t hint = reason.rfind(" (--"); hint != std::string::npos && reason.back() == ')') reason.resize(hint);
  if (reason.find("not changed") == std::string::npos) reason += "; nothing was written";
  throw std::runtime_error(AsSentence(reason) +
                           ". To stamp it all the same, save the values with \"Save to Resource\" and run: "
                           "quillmark-cli inject --force MODULE BLOCKFILE");
}

} // namespace qm::win
