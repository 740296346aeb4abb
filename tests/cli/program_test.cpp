// The program itself, as a build script runs it: exit codes, and results on
// stdout with messages on stderr.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "cli_test_support.h"
#include "qm_version.h"

namespace qm::cli::test {
namespace {

struct ProgramRun {
  int code = -1;
  std::string out;
  std::string err;
};

ProgramRun RunProgram(const ScratchDir &dir, const std::string &args) {
  const std::string command =
      std::string("'") + QM_CLI_PROGRAM + "' " + args + " >'" + (dir / "stdout") + "' 2>'" + (dir / "stderr") + "'";
  const int status = std::system(command.c_str());
  ProgramRun run;
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const auto out = ReadBytes(dir.path() / "stdout");
  const auto err = ReadBytes(dir.path() / "stderr");
  run.out.assign(out.begin(), out.end());
  run.err.assign(err.begin(), err.end());
  return run;
}

TEST(Program, VersionComesFromTheProjectVersion) {
  ScratchDir dir;
  ProgramRun run = RunProgram(dir, "--version");
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, std::string("quillmark-cli ") + QM_VERSION_TEXT + "\n");
}

class ProgramHelp : public ::testing::TestWithParam<const char *> {};

TEST_P(ProgramHelp, EveryCommandAnswersHelpWithSuccess) {
  ScratchDir dir;
  ProgramRun run = RunProgram(dir, std::string(GetParam()) + " --help");
  EXPECT_EQ(run.code, 0);
  EXPECT_NE(run.out.find("Usage:"), std::string::npos) << run.out;
  EXPECT_TRUE(run.err.empty()) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Cli, ProgramHelp, ::testing::Values("", "show", "build", "inject", "extract", "stamp"));

struct UsageCase {
  const char *args;
  const char *message;
  friend void PrintTo(const UsageCase &c, std::ostream *os) { *os << '"' << c.args << '"'; }
};

class ProgramUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(ProgramUsage, WrongArgumentsExitTwoWithAMessageOnStderr) {
  ScratchDir dir;
  ProgramRun run = RunProgram(dir, GetParam().args);
  EXPECT_EQ(run.code, 2);
  EXPECT_TRUE(run.out.empty()) << run.out;
  EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Cli, ProgramUsage,
                         ::testing::Values(UsageCase{"", "subcommand is required"},
                                           UsageCase{"frobnicate x", "unknown command 'frobnicate'"},
                                           UsageCase{"show", "FILE is required"},
                                           UsageCase{"show --yaml x.res", "--yaml"},
                                           UsageCase{"build a.json b.res c", "c"}));

TEST(Program, AFailureWritesOneLineToStderrAndNothingToStdout) {
  ScratchDir dir;
  ProgramRun run = RunProgram(dir, "inject '" + (dir / "m.exe") + "' '" + (dir / "none.res") + "'");
  EXPECT_EQ(run.code, 3);
  EXPECT_TRUE(run.out.empty());
  EXPECT_EQ(run.err.rfind("quillmark-cli: cannot read the block file", 0), 0u) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
}

} // namespace
} // namespace qm::cli::test
