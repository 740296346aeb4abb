#pragma once
// Splitting the program's command line into arguments. Plain text in, plain
// text out, so it is tested without Windows.
//
// The rule: characters 1 to 32 separate arguments (a run of them counts as
// one); a double-quoted stretch may hold blanks and belongs to the argument
// it stands in, the quotes themselves dropped; an empty pair of quotes where
// an argument would begin is skipped. Backslashes are ordinary characters,
// so "C:\Program Files\" stays a folder path.
#include <string>
#include <string_view>
#include <vector>

namespace qm::win {

// Every argument of `commandLine`, the program name first.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

} // namespace qm::win
