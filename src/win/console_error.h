#pragma once
// One line of text on the standard error stream of a GUI-subsystem program.
#include <string_view>

namespace qm::win {

// Writes `line` and a line end to the standard error handle the program was
// given (a pipe or file when a script redirects it); failing that, to the
// console of the parent process when it was started from one. Without
// either, the line goes nowhere.
void WriteErrorLine(std::string_view line);

} // namespace qm::win
