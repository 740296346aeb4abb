#include "win/dialogs.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>
#include <shellapi.h>
#include <shlobj.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <stdexcept>

#include "win/ansi_text_codec.h"
#include "win/late_library.h"
#include "win/path_names.h"

namespace qm::win {

namespace {

Dialogs *installedDialogs = nullptr;

// The double-NUL list the file dialogs take: text, pattern, text, pattern.
std::string FilterList(const FileDialogRequest &request) {
  std::string list;
  for (const auto &[text, pattern] : request.filters) {
    list.append(text).push_back('\0');
    list.append(pattern).push_back('\0');
  }
  list.push_back('\0');
  return list;
}

// The name as the user chose it, in UTF-16. The 8-bit name the dialog gives
// back turns a character the code page lacks into "?" or, worse, into a
// look-alike letter (a Greek "β" becomes "ß") that names another file; and
// Wine's dialog copies the chosen path into a buffer of 260 characters, so a
// longer one typed there ends the program. The dialog is therefore watched:
// the folder shown and the name typed or picked are read in UTF-16 when the
// user confirms, and a path too long for the dialog is taken from there
// without letting the dialog see it.
struct ChosenName {
  std::u16string path;    // as confirmed, when it could be read
  bool takenOver = false; // confirmed past the dialog, which was closed
};

std::u16string ControlTextUtf16(HWND control) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return std::u16string(text.begin(), text.end());
}

// The path the dialog would take: the name field, put in the folder shown
// unless it names its own folder. Nothing when it cannot be read.
std::optional<std::u16string> ConfirmedPath(HWND dialog) {
  static const auto pathFromList = LateFunction<decltype(&SHGetPathFromIDListW)>("shell32.dll", "SHGetPathFromIDListW");
  HWND field = GetDlgItem(dialog, cmb13);
  if (!field) field = GetDlgItem(dialog, edt1);
  if (!field || !pathFromList) return std::nullopt;
  const std::u16string typed = ControlTextUtf16(field);
  if (typed.size() >= 2 && (typed[1] == u':' || (typed[0] == u'\\' && typed[1] == u'\\'))) return typed;
  const LRESULT size = SendMessageA(dialog, CDM_GETFOLDERIDLIST, 0, 0);
  if (size <= 0) return std::nullopt;
  std::vector<char> list(static_cast<size_t>(size));
  SendMessageA(dialog, CDM_GETFOLDERIDLIST, list.size(), reinterpret_cast<LPARAM>(list.data()));
  std::wstring folder(kLongestPathUnits + 1, L'\0');
  if (!pathFromList(reinterpret_cast<PCIDLIST_ABSOLUTE>(list.data()), folder.data())) return std::nullopt;
  folder.resize(wcslen(folder.c_str()));
  std::u16string path(folder.begin(), folder.end());
  if (!typed.empty() && typed[0] == u'\\') return path.substr(0, 2) + typed;
  if (!path.empty() && path.back() != u'\\') path += u'\\';
  return path + typed;
}

// On the dialog itself: OK with a path the dialog cannot hold closes it with
// that path taken over.
LRESULT CALLBACK WatchConfirm(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    auto *chosen = reinterpret_cast<ChosenName *>(data);
    const std::optional<std::u16string> path = ConfirmedPath(dialog);
    if (path && path->size() >= MAX_PATH && path->find_first_of(u"*?") == std::u16string::npos) {
      chosen->path = *path;
      chosen->takenOver = true;
      EndDialog(dialog, 0);
      return 0;
    }
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(dialog, WatchConfirm, 1);
  return DefSubclassProc(dialog, message, wParam, lParam);
}

UINT_PTR CALLBACK WatchName(HWND hook, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const LPARAM chosen = reinterpret_cast<const OPENFILENAMEA *>(lParam)->lCustData;
    SetWindowLongPtrA(hook, DWLP_USER, chosen);
    SetWindowSubclass(GetParent(hook), WatchConfirm, 1, static_cast<DWORD_PTR>(chosen));
    return 0;
  }
  if (message != WM_NOTIFY || reinterpret_cast<const NMHDR *>(lParam)->code != CDN_FILEOK) return 0;
  auto *chosen = reinterpret_cast<ChosenName *>(GetWindowLongPtrA(hook, DWLP_USER));
  if (chosen) chosen->path = ConfirmedPath(GetParent(hook)).value_or(u"");
  return 0;
}

// Settings shared by both file dialogs: a zeroed record in its full size, a
// name buffer starting empty, no default extension, no flags but those of the
// watch. The buffer takes the longest path the platform can give.
template <typename Show>
std::optional<std::string> RunFileDialog(HWND owner, const FileDialogRequest &request, Show show) {
  static const auto lastError = LateFunction<decltype(&CommDlgExtendedError)>("comdlg32.dll", "CommDlgExtendedError");
  std::vector<char> name(kLongestPathBytes + 1, '\0');
  const std::string filter = FilterList(request);
  ChosenName chosen;
  OPENFILENAMEA record{};
  record.lStructSize = sizeof(record);
  record.hwndOwner = owner;
  record.hInstance = GetModuleHandleA(nullptr);
  record.lpstrFilter = filter.c_str();
  record.lpstrFile = name.data();
  record.nMaxFile = static_cast<DWORD>(name.size());
  record.lpstrTitle = request.title.c_str();
  record.Flags = OFN_EXPLORER | OFN_ENABLEHOOK | OFN_ENABLESIZING;
  record.lpfnHook = WatchName;
  record.lCustData = reinterpret_cast<LPARAM>(&chosen);
  const bool confirmed = show(&record);
  const auto tooLong = [] {
    return std::runtime_error("The name chosen is longer than the longest path Windows takes (" +
                              std::to_string(kLongestPathUnits) + " characters); the editor was left as it was");
  };
  if (chosen.takenOver) {
    if (chosen.path.size() > kLongestPathUnits) throw tooLong();
    return NameInCodePage(chosen.path);
  }
  if (confirmed) {
    std::string given(name.data(), strnlen(name.data(), name.size()));
    // Only a name the code page cannot carry is replaced, by the same name
    // with stand-ins, which the editor refuses with a message.
    if (!chosen.path.empty() && !HoldsStandIns(given)) {
      std::string carried = NameInCodePage(chosen.path);
      if (HoldsStandIns(carried)) return carried;
    }
    return given;
  }
  if (lastError && lastError() == FNERR_BUFFERTOOSMALL) throw tooLong();
  return std::nullopt;
}

// The input box is an in-memory dialog template, so it needs no resource.
enum : int { kPromptId = 100, kEditId = 101 };
constexpr int kInputLimit = 255;

void AlignToDword(std::vector<WORD> &words) {
  if (words.size() % 2 != 0) words.push_back(0);
}

void AppendText(std::vector<WORD> &words, const char *text) {
  for (const char *p = text; *p; ++p)
    words.push_back(static_cast<WORD>(static_cast<unsigned char>(*p)));
  words.push_back(0);
}

void AppendItem(std::vector<WORD> &words, DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom,
                const char *text) {
  AlignToDword(words);
  DLGITEMTEMPLATE item{style | WS_CHILD | WS_VISIBLE, 0, x, y, cx, cy, id};
  const auto *raw = reinterpret_cast<const WORD *>(&item);
  words.insert(words.end(), raw, raw + sizeof(item) / sizeof(WORD));
  words.push_back(0xFFFF);
  words.push_back(atom);
  AppendText(words, text);
  words.push_back(0); // no creation data
}

std::vector<WORD> InputBoxTemplate() {
  std::vector<WORD> words;
  DLGTEMPLATE head{DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 4, 0, 0, 180, 63};
  const auto *raw = reinterpret_cast<const WORD *>(&head);
  words.insert(words.end(), raw, raw + sizeof(head) / sizeof(WORD));
  words.push_back(0); // no menu
  words.push_back(0); // standard dialog class
  words.push_back(0); // caption set at WM_INITDIALOG (it is 8-bit text)
  words.push_back(8); // point size
  AppendText(words, "MS Sans Serif");
  constexpr WORD kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082;
  AppendItem(words, SS_LEFT, 7, 7, 166, 9, kPromptId, kStatic, "");
  AppendItem(words, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 19, 166, 12, kEditId, kEdit, "");
  AppendItem(words, BS_DEFPUSHBUTTON | WS_TABSTOP, 69, 41, 50, 14, IDOK, kButton, "OK");
  AppendItem(words, BS_PUSHBUTTON | WS_TABSTOP, 123, 41, 50, 14, IDCANCEL, kButton, "Cancel");
  return words;
}

struct InputBoxState {
  const std::string *caption;
  const std::string *prompt;
  std::string answer;
};

INT_PTR CALLBACK InputBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_INITDIALOG: {
    auto *state = reinterpret_cast<InputBoxState *>(lParam);
    SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    SetWindowTextA(dialog, state->caption->c_str());
    SetDlgItemTextA(dialog, kPromptId, state->prompt->c_str());
    SendDlgItemMessageA(dialog, kEditId, EM_LIMITTEXT, kInputLimit, 0);
    return TRUE;
  }
  case WM_COMMAND:
    if (LOWORD(wParam) == IDOK) {
      auto *state = reinterpret_cast<InputBoxState *>(GetWindowLongPtrA(dialog, DWLP_USER));
      // The limit counts characters; in UTF-8 one can take three bytes.
      std::array<char, 3 * kInputLimit + 1> text{};
      GetDlgItemTextA(dialog, kEditId, text.data(), static_cast<int>(text.size()));
      state->answer = text.data();
      EndDialog(dialog, IDOK);
      return TRUE;
    }
    if (LOWORD(wParam) == IDCANCEL) {
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    }
    break;
  default:
    break;
  }
  return FALSE;
}

} // namespace

std::optional<std::string> PlatformDialogs::OpenFile(HWND owner, const FileDialogRequest &request) {
  static const auto open = LateFunction<decltype(&GetOpenFileNameA)>("comdlg32.dll", "GetOpenFileNameA");
  return RunFileDialog(owner, request, [](OPENFILENAMEA *record) { return open && open(record) != 0; });
}

std::optional<std::string> PlatformDialogs::SaveFile(HWND owner, const FileDialogRequest &request) {
  static const auto save = LateFunction<decltype(&GetSaveFileNameA)>("comdlg32.dll", "GetSaveFileNameA");
  return RunFileDialog(owner, request, [](OPENFILENAMEA *record) { return save && save(record) != 0; });
}

std::optional<std::string> PlatformDialogs::InputBox(HWND owner, const std::string &caption,
                                                     const std::string &prompt) {
  const std::vector<WORD> dialogTemplate = InputBoxTemplate();
  InputBoxState state{&caption, &prompt, {}};
  const INT_PTR result =
      DialogBoxIndirectParamA(GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEA>(dialogTemplate.data()),
                              owner, InputBoxProc, reinterpret_cast<LPARAM>(&state));
  if (result != IDOK) return std::nullopt;
  return state.answer;
}

int PlatformDialogs::ShowMessageBox(HWND owner, const std::string &text, const std::string &caption, UINT type) {
  return MessageBoxA(owner, text.c_str(), caption.c_str(), type);
}

void PlatformDialogs::ShellOpen(HWND owner, const std::string &address) {
  static const auto execute = LateFunction<decltype(&ShellExecuteA)>("shell32.dll", "ShellExecuteA");
  if (execute) execute(owner, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

Dialogs &CurrentDialogs() {
  static PlatformDialogs platform;
  return installedDialogs ? *installedDialogs : platform;
}

Dialogs *InstallDialogs(Dialogs *dialogs) {
  Dialogs *previous = installedDialogs;
  installedDialogs = dialogs;
  return previous;
}

} // namespace qm::win
