// Program start, run as a separate process the way a user starts it: only
// "/v" exactly selects the injection mode, which shows no window; anything
// else opens the editor, and closing its window ends the program with exit
// code 0. One argument that is not the switch names a file that the editor
// opens once its window shows.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "codec/text_codec.h"
#include "win/layout.h"

namespace {

struct Child {
  PROCESS_INFORMATION info{};
  bool started = false;

  // The arguments in UTF-8, given to the program in UTF-16 as a shell would.
  explicit Child(const std::string &arguments) {
    std::wstring commandLine = L"quillmark.exe";
    if (!arguments.empty()) {
      const std::u16string wide = qm::Utf8ToUtf16(" " + arguments);
      commandLine.append(wide.begin(), wide.end());
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    started =
        CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info) != 0;
  }
  ~Child() {
    if (!started) return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info.hProcess, 99);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  // The exit code, or STILL_ACTIVE when it has not ended within the time.
  DWORD WaitForExit(DWORD milliseconds) {
    WaitForSingleObject(info.hProcess, milliseconds);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info.hProcess, &code);
    return code;
  }
};

struct Search {
  DWORD process;
  HWND found;
};

BOOL CALLBACK FindMainWindow(HWND wnd, LPARAM param) {
  auto *search = reinterpret_cast<Search *>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(wnd, &owner);
  char name[32] = {};
  GetClassNameA(wnd, name, sizeof name);
  if (owner == search->process && std::string(name) == "TfrmMain" && IsWindowVisible(wnd)) {
    search->found = wnd;
    return FALSE;
  }
  return TRUE;
}

// The main window of a process, waiting up to the given time for it.
HWND MainWindowOf(DWORD process, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  do {
    Search search{process, nullptr};
    EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    Sleep(100);
  } while (GetTickCount() - start < milliseconds);
  return nullptr;
}

// A control's text in another process (asked for, as GetWindowText would
// only give the text it was created with).
std::string ControlText(HWND parent, qm::win::layout::Id id) {
  char text[512] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(GetDlgItem(parent, qm::win::layout::ControlId(id)), WM_GETTEXT, sizeof text,
                      reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &copied);
  return text;
}

struct StartCase {
  const char *arguments;
  const char *fileShown; // in EdtFile once the window shows
  const char *fileMajor; // in EdtFileMajor
  const char16_t *sampleCopy = nullptr; // a copy of the sample module made first, under this name
};

class EditorModeStart : public testing::TestWithParam<StartCase> {};

TEST_P(EditorModeStart, OpensTheMainWindowAndEndsWithZeroWhenItCloses) {
  using qm::win::layout::Id;
  const StartCase &c = GetParam();
  // Removed first: the runtime takes any two files of one drive for the same
  // file, so it would not overwrite the copy an earlier run left.
  if (c.sampleCopy) {
    std::filesystem::remove(c.sampleCopy);
    std::filesystem::copy_file("editor_sample.exe", c.sampleCopy);
  }
  Child child(c.arguments);
  ASSERT_TRUE(child.started);
  HWND wnd = MainWindowOf(child.info.dwProcessId, 20000);
  ASSERT_NE(wnd, nullptr) << "no main window for arguments '" << c.arguments << "'";
  char caption[64] = {};
  GetWindowTextA(wnd, caption, sizeof caption);
  EXPECT_STREQ(caption, "Quillmark");
  // The file opens right after the window shows.
  const DWORD start = GetTickCount();
  while (ControlText(wnd, Id::EdtFile) != c.fileShown && GetTickCount() - start < 10000)
    Sleep(50);
  EXPECT_EQ(ControlText(wnd, Id::EdtFile), c.fileShown);
  EXPECT_EQ(ControlText(GetDlgItem(wnd, qm::win::layout::ControlId(Id::GroupBox1)), Id::EdtFileMajor), c.fileMajor);
  PostMessageA(wnd, WM_CLOSE, 0, 0);
  EXPECT_EQ(child.WaitForExit(20000), 0u);
}

// No argument; a switch in the wrong case and a missing file, each one
// argument, open as a path that holds nothing; a module opens with its
// version, also under a name in other scripts (shown whole, as the program
// runs in UTF-8); two arguments open nothing.
INSTANTIATE_TEST_SUITE_P(App, EditorModeStart,
                         testing::Values(StartCase{"", "", "0"}, StartCase{"/V", "/V", "0"},
                                         StartCase{"C:\\some\\module.exe", "C:\\some\\module.exe", "0"},
                                         StartCase{"editor_sample.exe", "editor_sample.exe", "1"},
                                         StartCase{"\"editor_sample.exe\"", "editor_sample.exe", "1"},
                                         StartCase{"\"版本 Ελληνικά.exe\"", "版本 Ελληνικά.exe", "1", u"版本 Ελληνικά.exe"},
                                         StartCase{"editor_sample.exe x", "", "0"}));

// What the injection itself does with its arguments is tested with it; here
// only that the switch leads there and not to the editor.
TEST(App, InjectionSwitchShowsNoWindowAndEnds) {
  Child child("/v");
  ASSERT_TRUE(child.started);
  EXPECT_NE(child.WaitForExit(20000), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(MainWindowOf(child.info.dwProcessId, 0), nullptr);
}

} // namespace
