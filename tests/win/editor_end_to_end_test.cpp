// A user's whole road through the editor, with the platform's own open,
// save and input dialogs: a module built by mingw and its resource compiler,
// with data appended after its image, is opened, edited, saved to itself and
// to a block file; the platform's version API reads the result, the other
// resources and the appended data come through unchanged, and the block
// file opens back whole. A second thread answers each dialog as a user
// would: the name typed into its field, then OK.
//
// With QM_EDITOR_OUT set to a folder, the saved module, the block file and
// the fields they were made from are left there for the companion to check
// (tests/win/editor_cross_check.sh).
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "codec/text_codec.h"
#include "win/dialogs.h"
#include "win/string_grid.h"
#include "win/untMain.h"

namespace {

using namespace qm::win;
using layout::Id;
namespace fs = std::filesystem;
using Rows = std::vector<std::pair<std::string, std::string>>;

// The platform's dialogs, but message boxes are only recorded: they would
// wait for a click.
class RealDialogs final : public Dialogs {
public:
  std::vector<std::string> messages;
  std::optional<std::string> OpenFile(HWND owner, const FileDialogRequest &request) override {
    return platform_.OpenFile(owner, request);
  }
  std::optional<std::string> SaveFile(HWND owner, const FileDialogRequest &request) override {
    return platform_.SaveFile(owner, request);
  }
  std::optional<std::string> InputBox(HWND owner, const std::string &caption, const std::string &prompt) override {
    return platform_.InputBox(owner, caption, prompt);
  }
  int ShowMessageBox(HWND, const std::string &text, const std::string &caption, UINT) override {
    messages.push_back(caption + "|" + text);
    return IDOK;
  }
  void ShellOpen(HWND, const std::string &) override {}

private:
  PlatformDialogs platform_;
};

// Waits for a dialog with this caption, types text (UTF-8, typed as UTF-16
// as a keyboard would) into its name field and presses OK; run while the
// main thread sits in the dialog's modal loop.
class DialogAnswer {
public:
  DialogAnswer(std::string caption, std::string text)
      : thread_([this, caption = std::move(caption), text = std::move(text)] { Run(caption, text); }) {}
  ~DialogAnswer() {
    if (thread_.joinable()) thread_.join();
  }
  bool Answered() {
    thread_.join();
    return answered_;
  }

private:
  void Run(const std::string &caption, const std::string &text) {
    for (int tries = 0; tries < 600; ++tries) {
      HWND dialog = FindWindowA("#32770", caption.c_str());
      if (dialog && IsWindowVisible(dialog)) {
        // The file dialogs' name field (edt1 or the combo box cmb13), or the input box's edit.
        HWND field = nullptr;
        for (int id : {0x480, 0x47C, 101})
          if (!field) field = GetDlgItem(dialog, id);
        if (!field) return;
        Sleep(200); // let the dialog finish setting itself up
        const std::u16string typed = qm::Utf8ToUtf16(text);
        SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
        answered_ = true;
        return;
      }
      Sleep(50);
    }
  }
  std::atomic<bool> answered_{false};
  std::thread thread_;
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

Rows GridRows() {
  Rows rows;
  HWND grid = Editor().Control(Id::Strings);
  const int count = static_cast<int>(SendMessageA(grid, SGM_GETROWCOUNT, 0, 0));
  for (int row = 1; row < count; ++row) {
    std::array<char, 256> key{}, value{};
    SendMessageA(grid, SGM_GETCELLTEXT, MAKEWPARAM(0, row), reinterpret_cast<LPARAM>(key.data()));
    SendMessageA(grid, SGM_GETCELLTEXT, MAKEWPARAM(1, row), reinterpret_cast<LPARAM>(value.data()));
    rows.emplace_back(key.data(), value.data());
  }
  return rows;
}

// Everything the editor shows, as one list of texts.
std::vector<std::string> Snapshot() {
  TfrmMain &f = Editor();
  std::vector<std::string> shown;
  for (HWND control :
       {f.Control(Id::EdtFileMajor), f.Control(Id::EdtFileMinor), f.Control(Id::EdtFileRelease),
        f.Control(Id::EdtFileBuild), f.Control(Id::EdtProdMajor), f.Control(Id::EdtProdMinor),
        f.Control(Id::EdtProdRelease), f.Control(Id::EdtProdBuild), f.Control(Id::CmbFileOs),
        f.Control(Id::CmbFileType), f.Control(Id::CmbSubType), f.Control(Id::CmbLan), f.Control(Id::CmbCodePage)})
    shown.push_back(TextOf(control));
  for (HWND box :
       {f.Control(Id::ChkDebug), f.Control(Id::ChkPre), f.Control(Id::ChkSpecial), f.Control(Id::ChkPrivate)})
    shown.push_back(SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? "ticked" : "-");
  for (const auto &[key, value] : GridRows())
    shown.push_back(key + "=" + value);
  return shown;
}

std::vector<std::uint8_t> Bytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A resource's bytes as the platform's loader finds them.
std::vector<std::uint8_t> PlatformResource(const fs::path &module, LPCSTR type, LPCSTR name) {
  HMODULE image = LoadLibraryExA(module.string().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!image) return {};
  std::vector<std::uint8_t> bytes;
  if (HRSRC found = FindResourceA(image, name, type)) {
    const auto *data = static_cast<const std::uint8_t *>(LockResource(LoadResource(image, found)));
    if (data) bytes.assign(data, data + SizeofResource(image, found));
  }
  FreeLibrary(image);
  return bytes;
}

std::string VersionString(const std::vector<std::uint8_t> &info, const std::string &key) {
  void *value = nullptr;
  UINT length = 0;
  const std::string query = "\\StringFileInfo\\080904E4\\" + key;
  if (!VerQueryValueA(info.data(), query.c_str(), &value, &length) || !value) return "<missing>";
  return std::string(static_cast<const char *>(value), length ? length - 1 : 0);
}

void Click(HWND control) { SendMessageA(control, BM_CLICK, 0, 0); }

TEST(EditorEndToEnd, OpenEditSaveToTheModuleAndABlockFileThroughTheRealDialogs) {
  std::array<char, MAX_PATH> self{};
  GetModuleFileNameA(nullptr, self.data(), MAX_PATH);
  const fs::path sample = fs::path(self.data()).parent_path() / "editor_sample.exe";
  ASSERT_TRUE(fs::exists(sample)) << sample.string();
  const fs::path startFolder = fs::current_path();
  const char *out = std::getenv("QM_EDITOR_OUT");
  const fs::path folder =
      out && *out ? fs::path(out) : fs::temp_directory_path() / ("qm_e2e_" + std::to_string(GetCurrentProcessId()));
  fs::create_directories(folder);
  const fs::path module = folder / "app.exe";
  fs::copy_file(sample, module, fs::copy_options::overwrite_existing);
  const std::string tail(3000, 'T');
  std::ofstream(module, std::ios::binary | std::ios::app) << tail;
  const std::vector<std::uint8_t> original = Bytes(module);

  RealDialogs dialogs;
  ScopedDialogs use(dialogs);
  TfrmMain &form = Editor();

  // Open.
  {
    DialogAnswer answer("Open File", module.string());
    Click(form.Control(Id::SpdOpen));
    ASSERT_TRUE(answer.Answered()) << "no open dialog";
  }
  EXPECT_EQ(TextOf(form.Control(Id::EdtFile)), module.string());
  std::vector<std::string> shown = Snapshot();
  const std::vector<std::string> loaded = {"1", "2", "3", "4", "5", "6", "7", "8", "NT (WINDOWS32)", "APP", "UNKNOWN"};
  EXPECT_EQ(std::vector<std::string>(shown.begin(), shown.begin() + 11), loaded);
  EXPECT_NE(shown[11].find("$0809"), std::string::npos) << shown[11];
  EXPECT_EQ(shown[12], "Windows 3.1 US (ANSI) - 1252");
  EXPECT_EQ(GridRows(), (Rows{{"CompanyName", "Brindlewick"},
                              {"FileDescription", "Sample module"},
                              {"FileVersion", "1.2.3.4"},
                              {"ProductVersion", "5.6.7.8"}}));

  // Edit: an up-down step, a typed number, a key added, a row removed, "Special build" ticked.
  RECT arrows;
  GetClientRect(form.Control(Id::UpFileBuild), &arrows);
  SendMessageA(form.Control(Id::UpFileBuild), WM_LBUTTONDOWN, MK_LBUTTON,
               MAKELPARAM(arrows.right / 2, arrows.bottom / 4));
  SendMessageA(form.Control(Id::UpFileBuild), WM_LBUTTONUP, 0, MAKELPARAM(arrows.right / 2, arrows.bottom / 4));
  SendMessageA(form.Control(Id::EdtProdMajor), EM_SETSEL, 0, -1);
  for (char key : std::string("4x2"))
    SendMessageA(form.Control(Id::EdtProdMajor), WM_CHAR, static_cast<unsigned char>(key), 0);
  {
    DialogAnswer answer("Key Name", "Comments");
    SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(1, 0), 0); // Add Key
    ASSERT_TRUE(answer.Answered()) << "no input box";
  }
  const int rowExtent = MulDiv(18, form.Dpi(), 96) + 1;
  SendMessageA(form.Control(Id::Strings), WM_RBUTTONDOWN, 0, MAKELPARAM(10, 2 * rowExtent + rowExtent / 2));
  SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(2, 0), 0); // Remove Key on FileDescription
  SendMessageA(form.Control(Id::ChkSpecial), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
  SendMessageA(form.Control(Id::ChkSpecial), WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
  SendMessageA(form.Control(Id::Strings), SGM_SETCELLTEXT, MAKEWPARAM(1, 5), reinterpret_cast<LPARAM>("nightly"));
  const Rows edited = {{"CompanyName", "Brindlewick"},
                       {"FileVersion", "1.2.3.5"},
                       {"ProductVersion", "5.6.7.8"},
                       {"Comments", ""},
                       {"SpecialBuild", "nightly"}};
  ASSERT_EQ(GridRows(), edited);
  EXPECT_EQ(TextOf(form.Control(Id::EdtProdMajor)), "42");
  const std::vector<std::string> before = Snapshot();

  // Save to the module itself: replaced without a question.
  {
    DialogAnswer answer("Save Version to PE", module.string());
    Click(form.Control(Id::BtnSavePE));
    ASSERT_TRUE(answer.Answered()) << "no save dialog";
  }
  EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front();
  const std::vector<std::uint8_t> saved = Bytes(module);
  ASSERT_GT(saved.size(), tail.size());
  EXPECT_EQ(std::string(saved.end() - static_cast<std::ptrdiff_t>(tail.size()), saved.end()), tail);
  const std::string path = module.string();
  DWORD ignored = 0;
  std::vector<std::uint8_t> info(GetFileVersionInfoSizeA(path.c_str(), &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  VS_FIXEDFILEINFO *fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010002u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00030005u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x002A0006u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00070008u);
  EXPECT_EQ(fixed->dwFileFlags, 0x21u);
  EXPECT_EQ(fixed->dwFileOS, 0x40004u);
  EXPECT_EQ(VersionString(info, "FileVersion"), "1.2.3.5");
  EXPECT_EQ(VersionString(info, "SpecialBuild"), "nightly");
  EXPECT_EQ(VersionString(info, "FileDescription"), "<missing>");
  const fs::path originalCopy = folder / "original.exe";
  std::ofstream(originalCopy, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char *>(original.data()), static_cast<std::streamsize>(original.size()));
  for (const auto &[type, name] : {std::pair<LPCSTR, LPCSTR>{RT_RCDATA, MAKEINTRESOURCEA(7)},
                                   {RT_RCDATA, "NOTES"},
                                   {RT_STRING, MAKEINTRESOURCEA(1)}}) {
    const std::vector<std::uint8_t> kept = PlatformResource(originalCopy, type, name);
    EXPECT_FALSE(kept.empty());
    EXPECT_EQ(PlatformResource(module, type, name), kept);
  }

  // The same values to a block file: the name gets ".res".
  const fs::path block = folder / "ver.res";
  fs::remove(block);
  {
    DialogAnswer answer("Save Version as Resource", (folder / "ver").string());
    Click(form.Control(Id::BtnSaveRes));
    ASSERT_TRUE(answer.Answered()) << "no save dialog";
  }
  const std::vector<std::uint8_t> blockBytes = Bytes(block);
  ASSERT_GE(blockBytes.size(), 2u);
  EXPECT_EQ(blockBytes.size(), static_cast<size_t>(blockBytes[0] | blockBytes[1] << 8));

  // A failed save reports and leaves both files as they were.
  SetWindowTextA(form.Control(Id::EdtFileMinor), "");
  for (HWND button : {form.Control(Id::BtnSavePE), form.Control(Id::BtnSaveRes)}) {
    DialogAnswer answer(button == form.Control(Id::BtnSavePE) ? "Save Version to PE" : "Save Version as Resource",
                        button == form.Control(Id::BtnSavePE) ? module.string() : block.string());
    Click(button);
    ASSERT_TRUE(answer.Answered());
  }
  EXPECT_EQ(dialogs.messages.size(), 2u);
  for (const std::string &message : dialogs.messages)
    EXPECT_EQ(message.substr(message.find('|')), "|'' is not a valid integer value.");
  EXPECT_EQ(Bytes(module), saved);
  EXPECT_EQ(Bytes(block), blockBytes);

  // The block file opens back whole, and so does the module.
  for (const fs::path &file : {block, module}) {
    DialogAnswer answer("Open File", file.string());
    Click(form.Control(Id::SpdOpen));
    ASSERT_TRUE(answer.Answered());
    EXPECT_EQ(Snapshot(), before) << file.string();
  }

  // For the companion's cross-check: the fields the editor held.
  std::ofstream(folder / "fields.json")
      << R"j({"fileVersion": "1.2.3.5", "productVersion": "42.6.7.8", "debug": true, "preRelease": false,)j"
      << R"j( "special": true, "private": false, "fileOs": "NT (WINDOWS32)", "fileType": "APP", "fileSubType": 0,)j"
      << R"j( "language": "0809", "codePage": "1252", "strings": [["CompanyName", "Brindlewick"],)j"
      << R"j( ["FileVersion", "1.2.3.5"], ["ProductVersion", "5.6.7.8"], ["Comments", ""], ["SpecialBuild", "nightly"]]})j"
      << "\n";
  // The file dialogs leave the process in the folder they last showed.
  fs::current_path(startFolder);
  std::error_code ignoredError;
  if (!(out && *out)) fs::remove_all(folder, ignoredError);
}

// Paths past 260 characters typed into the real save and open dialogs, one
// in Latin letters and one ending in two other scripts: saved and opened
// back, and no typed name ends the program. On an 8-bit code page the name
// the code page cannot carry is refused with a message, nothing written.
TEST(EditorEndToEnd, LongAndScriptNamedPathsThroughTheRealDialogs) {
  RealDialogs dialogs;
  ScopedDialogs use(dialogs);
  TfrmMain &form = Editor();
  const fs::path startFolder = fs::current_path();
  const fs::path top = fs::temp_directory_path() / ("qm_e2e_long_" + std::to_string(GetCurrentProcessId()));
  fs::path deep = top;
  for (int i = 0; i < 6; ++i)
    deep /= std::string(40, static_cast<char>('a' + i));
  fs::create_directories(deep);
  SendMessageA(form.Control(Id::CmbLan), CB_SETCURSEL, 0, 0);
  SendMessageA(form.Control(Id::CmbCodePage), CB_SETCURSEL, 0, 0);
  const bool utf8 = GetACP() == CP_UTF8;
  for (const fs::path &block : {deep / "latin letters only.res", deep / u"Ελληνικά 版本.res"}) {
    const std::string typed = qm::Utf16ToUtf8(block.u16string());
    ASSERT_GT(block.wstring().size(), 260u);
    const bool carried = utf8 || block.filename() == "latin letters only.res";
    SetWindowTextA(form.Control(Id::EdtFile), "");
    dialogs.messages.clear();
    {
      DialogAnswer answer("Save Version as Resource", typed);
      Click(form.Control(Id::BtnSaveRes));
      ASSERT_TRUE(answer.Answered()) << "no save dialog";
    }
    {
      DialogAnswer answer("Open File", typed);
      Click(form.Control(Id::SpdOpen));
      ASSERT_TRUE(answer.Answered()) << "no open dialog";
    }
    const DWORD attributes = GetFileAttributesW((L"\\\\?\\" + block.wstring()).c_str());
    if (carried) {
      EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front();
      EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES) << typed;
      EXPECT_EQ(TextOf(form.Control(Id::EdtFile)), typed);
    } else {
      ASSERT_EQ(dialogs.messages.size(), 2u);
      for (const std::string &message : dialogs.messages)
        EXPECT_NE(message.find("its name holds characters that the system's code page"), std::string::npos) << message;
      EXPECT_EQ(attributes, INVALID_FILE_ATTRIBUTES) << "written under another name?";
      EXPECT_EQ(TextOf(form.Control(Id::EdtFile)), "");
    }
    DeleteFileW((L"\\\\?\\" + block.wstring()).c_str());
  }
  // Nothing else was written beside them.
  EXPECT_TRUE(RemoveDirectoryW((L"\\\\?\\" + deep.wstring()).c_str()));
  for (fs::path at = deep.parent_path(); at != top.parent_path(); at = at.parent_path())
    RemoveDirectoryW((L"\\\\?\\" + at.wstring()).c_str());
  fs::current_path(startFolder);
}

} // namespace
