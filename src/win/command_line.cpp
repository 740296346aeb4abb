#include "win/command_line.h"

namespace qm::win {
namespace {

bool IsSeparator(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

} // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  // A NUL ends the text, as it would in the platform's buffer.
  commandLine = commandLine.substr(0, commandLine.find('\0'));
  std::vector<std::string> args;
  std::size_t pos = 0;
  const std::size_t end = commandLine.size();
  for (;;) {
    for (;;) {
      while (pos < end && IsSeparator(commandLine[pos]))
        ++pos;
      if (pos + 1 < end && commandLine[pos] == '"' && commandLine[pos + 1] == '"') {
        pos += 2;
        continue;
      }
      break;
    }
    if (pos >= end) break;
    std::string arg;
    while (pos < end && !IsSeparator(commandLine[pos])) {
      if (commandLine[pos] == '"') {
        ++pos;
        while (pos < end && commandLine[pos] != '"')
          arg += commandLine[pos++];
        if (pos < end) ++pos; // the closing quote
      } else {
        arg += commandLine[pos++];
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

} // namespace qm::win
