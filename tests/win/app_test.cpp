// Program start, run as a separate process the way a user starts it: only
// "/v" exactly selects the injection mode, which shows no window; anything
// else opens the editor, and closing its window ends the program with exit
// code 0.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

struct Child {
  PROCESS_INFORMATION info{};
  bool started = false;

  explicit Child(const std::string &arguments) {
    std::string commandLine = "quillmark.exe" + (arguments.empty() ? std::string() : " " + arguments);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    started =
        CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info) != 0;
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

class EditorModeStart : public testing::TestWithParam<const char *> {};

TEST_P(EditorModeStart, OpensTheMainWindowAndEndsWithZeroWhenItCloses) {
  Child child(GetParam());
  ASSERT_TRUE(child.started);
  HWND wnd = MainWindowOf(child.info.dwProcessId, 20000);
  ASSERT_NE(wnd, nullptr) << "no main window for arguments '" << GetParam() << "'";
  char caption[64] = {};
  GetWindowTextA(wnd, caption, sizeof caption);
  EXPECT_STREQ(caption, "Quillmark");
  PostMessageA(wnd, WM_CLOSE, 0, 0);
  EXPECT_EQ(child.WaitForExit(20000), 0u);
}

// No argument, a switch in the wrong case, and a file path that is not opened.
INSTANTIATE_TEST_SUITE_P(App, EditorModeStart, testing::Values("", "/V", "C:\\some\\module.exe"));

// What the injection itself does with its arguments is tested with it; here
// only that the switch leads there and not to the editor.
TEST(App, InjectionSwitchShowsNoWindowAndEnds) {
  Child child("/v");
  ASSERT_TRUE(child.started);
  EXPECT_NE(child.WaitForExit(20000), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(MainWindowOf(child.info.dwProcessId, 0), nullptr);
}

} // namespace
