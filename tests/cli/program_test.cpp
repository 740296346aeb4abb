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

// `before` is shell text run first in the same shell (a ulimit, say).
ProgramRun RunProgram(const ScratchDir &dir, const std::string &args, const std::string &before = "") {
  const std::string command = before + std::string("'") + QM_CLI_PROGRAM + "' " + args + " >'" + (dir / "stdout") +
                              "' 2>'" + (dir / "stderr") + "'";
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

INSTANTIATE_TEST_SUITE_P(Cli, ProgramHelp,
                         ::testing::Values("", "show", "build", "inject", "extract", "stamp", "set", "apply", "get",
                                           "check", "diff", "lint"));

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

// What only a whole process shows: the standard input as a file, and the
// limit on file sizes a shell sets. Each case leaves every file as it was.
struct ProcessCase {
  const char *name;
  const char *before; // shell text run first
  const char *args;   // "@/" stands for the scratch folder
  int code;
  const char *message;
  friend void PrintTo(const ProcessCase &c, std::ostream *os) { *os << c.name; }
};

class ProgramFails : public ::testing::TestWithParam<ProcessCase> {};

TEST_P(ProgramFails, WithOneLineAndEveryFileAsItWas) {
  if (!QM_CLI_HAVE_FIXTURES) GTEST_SKIP() << "the mingw-w64 i686 compiler and windres are needed for test modules";
  const ProcessCase &c = GetParam();
  ScratchDir dir;
  // A module of some 300 KiB (appended data), so a stamp writes more than
  // a small limit allows.
  auto module = ReadBytes(Fixture("tiny32.exe"));
  module.resize(module.size() + 300 * 1024, 0xA5);
  WriteBytes(dir.path() / "m.exe", module);
  // Fields whose block takes some 4 KiB.
  WriteText(dir / "f.json", R"j({"language": "0409", "codePage": "1200", "strings": [["Comments", ")j" +
                                std::string(2000, 'c') + "\"]]}");
  const auto fields = ReadBytes(dir.path() / "f.json");
  auto withDir = [&](std::string text) {
    for (std::size_t at; (at = text.find("@/")) != std::string::npos;)
      text.replace(at, 2, dir / "");
    return text;
  };
  ProgramRun run = RunProgram(dir, withDir(c.args), withDir(c.before));
  EXPECT_EQ(run.code, c.code) << run.err;
  EXPECT_NE(run.err.find(withDir(c.message)), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(ReadBytes(dir.path() / "m.exe"), module);
  EXPECT_EQ(ReadBytes(dir.path() / "f.json"), fields);
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(dir.path()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"f.json", "m.exe", "stderr", "stdout"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cli, ProgramFails,
    ::testing::Values(ProcessCase{"BuildOntoItsStandardInput", "", "build - '@/f.json' <'@/f.json'", 11,
                                  "is the same file as the standard input; nothing was written"},
                      // Past the limit the write fails (EFBIG) instead of the process
                      // ending by SIGXFSZ with no word said.
                      ProcessCase{"StampPastTheFileSizeLimit", "ulimit -f 100; ",
                                  "set '@/m.exe' --file-version 1.2.3.4", 7,
                                  "the file would pass the size limit on files (ulimit -f); it was left as it was"},
                      ProcessCase{"BuildPastTheFileSizeLimit", "ulimit -f 2; ", "build '@/f.json' '@/out.res'", 11,
                                  "cannot write the block file '@/out.res': writing the new file failed: the file "
                                  "would pass the size limit"}),
    [](const ::testing::TestParamInfo<ProcessCase> &info) { return std::string(info.param.name); });

} // namespace
} // namespace qm::cli::test
