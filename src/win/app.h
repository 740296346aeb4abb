#pragma once
// Program start: picks the run mode from the command line.
#include <string>
#include <vector>

namespace qm::win {

// The arguments after the program name, split by the runtime's rule and in
// the system's ANSI code page.
std::vector<std::string> CommandLineArguments();

// Runs the program for the given arguments and gives the process exit code.
int RunApplication(const std::vector<std::string> &args);

// The injection mode: stamps args[1] with the block file args[2].
int RunInjectionMode(const std::vector<std::string> &args);

// The editor mode: the main window, the hidden about window, the loop.
int RunEditorMode();

} // namespace qm::win
