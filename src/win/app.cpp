#include "win/app.h"

#include <commctrl.h>

#include <memory>

#include "codec/text_codec.h"
#include "win/ansi_text_codec.h"
#include "win/command_line.h"
#include "win/error_report.h"
#include "win/untAbout.h"
#include "win/untMain.h"

namespace qm::win {

TfrmAbout *frmAbout = nullptr;

std::vector<std::string> CommandLineArguments() {
  // The UTF-16 command line holds every character of a name; the 8-bit one
  // has already lost what the code page lacks, or turned it into a
  // look-alike letter that may name another file.
  const auto *wide = reinterpret_cast<const char16_t *>(GetCommandLineW());
  std::vector<std::string> args = SplitCommandLine(Utf16ToUtf8(wide ? wide : u""));
  if (!args.empty()) args.erase(args.begin()); // the program's own name
  return args;
}

int RunApplication(const std::vector<std::string> &args) {
  // Exactly "/v", byte for byte: "/V", "-v" or "/vx" all mean the editor.
  if (!args.empty() && args[0] == "/v") return RunInjectionMode(args);
  // One argument names a file to open, as from a shortcut or "Open with".
  // The editor names files in the code page; a name it cannot carry keeps
  // its stand-ins, and opening it says so.
  if (args.size() == 1) return RunEditorMode(NameInCodePage(Utf8ToUtf16(args[0])));
  return RunEditorMode();
}

void DispatchLoopMessage(MSG &msg) {
  HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (frmMain && root == frmMain->Handle() && frmMain->HandleShortcut(msg)) return;
  if (root && IsDialogMessageA(root, &msg)) return;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

void RunMessageLoop() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0)
    DispatchLoopMessage(msg);
}

int RunEditorMode(const std::optional<std::string> &file) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  HINSTANCE instance = GetModuleHandleA(nullptr);
  try {
    std::unique_ptr<TfrmMain> mainForm = TfrmMain::Create(instance);
    frmMain = mainForm.get();
    mainForm->Show();
    // Made once the main window is on the screen: it is hidden until asked
    // for, so making it first would only keep the main window waiting.
    std::unique_ptr<TfrmAbout> aboutForm = TfrmAbout::Create(instance);
    frmAbout = aboutForm.get();
    if (file) GuardedCall(mainForm->Handle(), 0, [&] { return mainForm->OpenFile(*file), 0; });
    RunMessageLoop();
    frmAbout = nullptr;
    frmMain = nullptr;
  } catch (...) {
    ReportCurrentException(nullptr);
  }
  return 0;
}

} // namespace qm::win
