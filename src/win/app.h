#pragma once
// Program start: picks the run mode from the command line, and the editor
// mode's message loop.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace qm::win {

class TfrmAbout;

// The single about window, created hidden at start; null until then.
extern TfrmAbout *frmAbout;

// The arguments after the program name, split by the runtime's rule, in
// UTF-8 from the UTF-16 command line, whatever the system's code page.
std::vector<std::string> CommandLineArguments();

// Runs the program for the given arguments and gives the process exit code.
int RunApplication(const std::vector<std::string> &args);

// The injection mode: stamps args[1] with the block file args[2] (UTF-8).
int RunInjectionMode(const std::vector<std::string> &args);

// The editor mode: the main window, the hidden about window, the loop; a
// file given is opened once the window shows, as the open command opens one.
int RunEditorMode(const std::optional<std::string> &file = std::nullopt);

// One message of the editor's loop: the main window's shortcut keys, keyboard
// navigation between controls (Tab, Shift+Tab, arrows, Enter) for whichever
// window it is meant for, or the ordinary translate and dispatch.
void DispatchLoopMessage(MSG &msg);

// Runs the loop until WM_QUIT.
void RunMessageLoop();

} // namespace qm::win
