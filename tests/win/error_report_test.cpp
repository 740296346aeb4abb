// The application's standard error report: its caption and text rules, and
// that an error escaping a handler is shown once and the caller goes on.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "win/dialogs.h"
#include "win/error_report.h"

namespace {

using namespace qm::win;

struct Shown {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
};

class RecordingDialogs : public Dialogs {
public:
  std::optional<std::string> OpenFile(HWND, const FileDialogRequest &) override { return std::nullopt; }
  std::optional<std::string> SaveFile(HWND, const FileDialogRequest &) override { return std::nullopt; }
  std::optional<std::string> InputBox(HWND, const std::string &, const std::string &) override { return std::nullopt; }
  int ShowMessageBox(HWND owner, const std::string &text, const std::string &caption, UINT type) override {
    shown.push_back({owner, text, caption, type});
    return IDOK;
  }
  void ShellOpen(HWND, const std::string &) override {}
  std::vector<Shown> shown;
};

struct TitleCase {
  const char *path;
  const char *title;
};

class ApplicationTitle : public testing::TestWithParam<TitleCase> {};

TEST_P(ApplicationTitle, IsTheFileNameCutAtItsFirstDot) {
  EXPECT_EQ(ApplicationTitleFromPath(GetParam().path), GetParam().title);
}

INSTANTIATE_TEST_SUITE_P(ErrorReport, ApplicationTitle,
                         testing::Values(TitleCase{"C:\\Program Files\\Quillmark\\quillmark.exe", "Quillmark"},
                                         TitleCase{"QUILL.MARK.EXE", "Quill"},
                                         TitleCase{"D:\\tools.v2\\StampIt.exe", "Stampit"},
                                         TitleCase{"\\\\server\\share\\x.exe", "X"},
                                         TitleCase{"C:\\bin\\noext", "Noext"}, TitleCase{"C:\\bin\\.hidden.exe", ""}));

struct TextCase {
  const char *message;
  const char *shown;
};

class ReportedMessage : public testing::TestWithParam<TextCase> {};

TEST_P(ReportedMessage, GetsAFullStopAfterCharactersSortingAfterIt) {
  EXPECT_EQ(ReportedText(GetParam().message), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    ErrorReport, ReportedMessage,
    testing::Values(TextCase{"Grid index out of range", "Grid index out of range."},
                    TextCase{"'12a' is not a valid integer value", "'12a' is not a valid integer value."},
                    TextCase{"Done.", "Done."}, TextCase{"Stop!", "Stop!"}, TextCase{"a,b,", "a,b,"},
                    TextCase{"ends in a blank ", "ends in a blank "}, TextCase{"minus-", "minus-"},
                    TextCase{"slash/", "slash/."}, TextCase{"digit 7", "digit 7."},
                    TextCase{"copyright \xA9", "copyright \xA9."}, TextCase{"", ""}));

TEST(ErrorReport, TitleOfTheRunningProgram) {
  char path[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  EXPECT_EQ(qm::win::ApplicationTitle(), ApplicationTitleFromPath(path));
  EXPECT_EQ(qm::win::ApplicationTitle(), "Quillmark_win_tests");
}

TEST(ErrorReport, AnErrorEscapingAHandlerIsShownOnceAndTheCallerGoesOn) {
  RecordingDialogs dialogs;
  ScopedDialogs use(dialogs);
  const LRESULT result =
      GuardedCall(nullptr, 42, []() -> LRESULT { throw std::out_of_range("Grid index out of range"); });
  EXPECT_EQ(result, 42);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "Grid index out of range.");
  EXPECT_EQ(dialogs.shown[0].caption, qm::win::ApplicationTitle());
  EXPECT_EQ(dialogs.shown[0].type, static_cast<UINT>(MB_ICONERROR | MB_OK));

  EXPECT_EQ(GuardedCall(nullptr, 0, []() -> LRESULT { return 7; }), 7);
  EXPECT_EQ(dialogs.shown.size(), 1u) << "a handler that succeeds shows nothing";
}

TEST(ErrorReport, IsOwnedByTheTopLevelWindowOfTheHandler) {
  RecordingDialogs dialogs;
  ScopedDialogs use(dialogs);
  HWND top = CreateWindowExA(0, "STATIC", "top", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  HWND child = CreateWindowExA(0, "STATIC", "child", WS_CHILD, 0, 0, 5, 5, top, nullptr, nullptr, nullptr);
  ASSERT_TRUE(child);
  GuardedCall(child, 0, []() -> LRESULT { throw std::runtime_error("x"); });
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].owner, top);
  EXPECT_EQ(dialogs.shown[0].text, "x.");
  DestroyWindow(top); // never shown, so destroying it is quick
}

TEST(ErrorReport, InstalledDialogsAreRestoredInOrder) {
  RecordingDialogs outer, inner;
  {
    ScopedDialogs useOuter(outer);
    {
      ScopedDialogs useInner(inner);
      EXPECT_EQ(&CurrentDialogs(), &inner);
    }
    EXPECT_EQ(&CurrentDialogs(), &outer);
  }
  EXPECT_NE(dynamic_cast<PlatformDialogs *>(&CurrentDialogs()), nullptr);
}

} // namespace
