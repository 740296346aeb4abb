#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_app.h"

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return qm::cli::RunCli(args, std::cout, std::cerr);
}
