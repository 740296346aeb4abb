// get, check and diff on the test modules, their .res and a block file:
// each row an invocation, the exit code, the whole standard output and a
// piece of the standard error.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>

#include "cli_test_support.h"

namespace qm::cli::test {
namespace {

struct Row {
  const char *name;
  std::vector<std::string> args; // "@x" is the fixture x, "%block" a block file extracted from tiny32.exe
  int code;
  std::string out;
  std::string errPiece;
  int errLines = -1; // when not -1, the number of lines on stderr
  friend void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }
};

class Checks : public ::testing::TestWithParam<Row> {
protected:
  static void SetUpTestSuite() {
    if (!QM_CLI_HAVE_FIXTURES) return;
    dir = std::make_unique<ScratchDir>();
    ASSERT_EQ(RunCliCaptured({"extract", Fixture("tiny32.exe").string(), *dir / "block.res"}).code, 0);
  }
  static void TearDownTestSuite() { dir.reset(); }

  static std::string Expand(std::string text) {
    for (std::size_t at; (at = text.find("%block")) != std::string::npos;)
      text.replace(at, 6, *dir / "block.res");
    for (std::size_t at = 0; (at = text.find('@', at)) != std::string::npos;) {
      const std::size_t end = text.find_first_of(" \"'\n", at);
      const std::string path = Fixture(text.substr(at + 1, end - at - 1)).string();
      text.replace(at, end == std::string::npos ? std::string::npos : end - at, path);
      at += path.size();
    }
    return text;
  }

  static std::unique_ptr<ScratchDir> dir;
};
std::unique_ptr<ScratchDir> Checks::dir;

TEST_P(Checks, EndAndPrintAsTheRowSays) {
  QM_REQUIRE_FIXTURES();
  const Row &row = GetParam();
  std::vector<std::string> args;
  for (const std::string &arg : row.args) {
    if (arg.find("64.exe") != std::string::npos && !QM_CLI_HAVE_PE32PLUS) GTEST_SKIP() << "no x86_64 mingw-w64";
    args.push_back(Expand(arg));
  }
  const CliRun run = RunCliCaptured(args);
  EXPECT_EQ(run.code, row.code) << run.err;
  EXPECT_EQ(run.out, Expand(row.out));
  EXPECT_NE(run.err.find(row.errPiece), std::string::npos) << run.err;
  if (row.errLines >= 0) {
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), row.errLines) << run.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Get, Checks,
    ::testing::Values(
        Row{"a string", {"get", "@tiny32.exe", "CompanyName"}, 0, "Fixture Works\n", "", 0},
        Row{"a key in any letter case", {"get", "@tiny32.exe", "COMPANYname"}, 0, "Fixture Works\n", ""},
        Row{"from a .res", {"get", "@tiny.res", "FileVersion"}, 0, "9.8.7.6\n", ""},
        Row{"from a block file", {"get", "%block", "FileVersion"}, 0, "9.8.7.6\n", ""},
        Row{"the first translation's table", {"get", "@neutral32.exe", "CompanyName"}, 0, "Neutral Works\n", ""},
        Row{"another table",
            {"get", "@neutral32.exe", "companyname", "--table", "040704b0"},
            0,
            "Neutrale Werke\n",
            ""},
        Row{"the language show reads", {"get", "@two64.exe", "FileDescription"}, 0, "English\n", ""},
        Row{"another language", {"get", "@two64.exe", "FileDescription", "--language", "0x407"}, 0, "Deutsch\n", ""},
        Row{"a fixed member by show's name", {"get", "@tiny32.exe", "--fixed", "productVersion"}, 0, "9.8.0.0\n", ""},
        Row{"a fixed member written with dashes", {"get", "@tiny32.exe", "--fixed", "file-os"}, 0, "262148\n", ""},
        Row{"a code's name", {"get", "@tiny32.exe", "--fixed", "fileOsName"}, 0, "NT (WINDOWS32)\n", ""},
        Row{"the flag names", {"get", "@neutral32.exe", "--fixed", "fileFlagNames"}, 0, "Debug Build\n", ""},
        Row{"an absent key", {"get", "@tiny32.exe", "Comments"}, 13, "", "no string 'Comments' in table '040904B0'", 1},
        Row{"an absent table",
            {"get", "@tiny32.exe", "CompanyName", "--table", "040704B0"},
            13,
            "",
            "has no string table 040704B0",
            1},
        Row{"a language not held", {"get", "@two64.exe", "X", "--language", "40c"}, 9, "", "(it has 0x0407, 0x0409)"},
        Row{"a block file has no languages", {"get", "%block", "X", "--language", "409"}, 2, "", "no languages"},
        Row{"a bad table key", {"get", "@tiny32.exe", "X", "--table", "0409"}, 2, "", "--table: '0409'"},
        Row{"an unknown member", {"get", "@tiny32.exe", "--fixed", "version"}, 2, "", "fileVersion, productVersion"},
        Row{"a key and a member", {"get", "@tiny32.exe", "X", "--fixed", "fileOs"}, 2, "", "either a KEY or --fixed"},
        Row{"a missing file", {"get", "@missing.exe", "X"}, 3, "", "does not exist"},
        Row{"no version resource", {"get", "@plain32.exe", "X"}, 9, "", "has no version resource"}));

INSTANTIATE_TEST_SUITE_P(
    Check, Checks,
    ::testing::Values(
        Row{"all held",
            {"check", "@tiny32.exe", "--file-version", "9.8.7.6", "--string", "companyname=Fixture Works", "--no-flag",
             "debug"},
            0,
            "",
            "",
            0},
        Row{"a .res, a short version", {"check", "@tiny.res", "--product-version", "9.8.0.0"}, 0, "", "", 0},
        Row{"the numbers differ",
            {"check", "@tiny32.exe", "--file-version", "9.8.7.7"},
            13,
            "",
            "file version: asked 9.8.7.7, holds 9.8.7.6",
            1},
        Row{"a tail is checked in the string",
            {"check", "@tiny32.exe", "--file-version", "9.8.7.6-rc.1"},
            13,
            "",
            "string 'FileVersion' in table '040904B0': asked '9.8.7.6-rc.1', holds '9.8.7.6'",
            1},
        Row{"both, one line each",
            {"check", "@tiny32.exe", "--file-version", "v9.8.7"},
            13,
            "",
            "asked 9.8.7.0, holds 9.8.7.6",
            2},
        Row{"a string that is absent",
            {"check", "@tiny32.exe", "--product-version", "9.8"},
            13,
            "",
            "string 'ProductVersion' in table '040904B0': asked '9.8', holds none",
            1},
        Row{"a value's case counts",
            {"check", "@tiny32.exe", "--string", "CompanyName=fixture works"},
            13,
            "",
            "asked 'fixture works', holds 'Fixture Works'",
            1},
        Row{"flags", {"check", "@neutral32.exe", "--flag", "Debug", "--no-flag", "prerelease"}, 0, "", "", 0},
        Row{"a flag set",
            {"check", "@neutral32.exe", "--no-flag", "debug", "--flag", "patched"},
            13,
            "",
            "flag debug: asked clear, holds set",
            2},
        Row{"another table",
            {"check", "@neutral32.exe", "--table", "040704B0", "--string", "CompanyName=Neutrale Werke"},
            0,
            "",
            "",
            0},
        Row{"another language", {"check", "@two64.exe", "--language", "407", "--file-version", "3.0.0.7"}, 0, "", ""},
        Row{"an unknown flag", {"check", "@tiny32.exe", "--flag", "beta"}, 2, "", "--flag: 'beta' is not a flag"},
        Row{"a flag both ways", {"check", "@tiny32.exe", "--flag", "debug", "--no-flag", "DEBUG"}, 2, "", "both"},
        Row{"a version refused", {"check", "@tiny32.exe", "--file-version", "1.2.3.4.5"}, 2, "", "--file-version:"},
        Row{"nothing to check", {"check", "@tiny32.exe"}, 2, "", "nothing to check"},
        Row{"a missing file", {"check", "@missing.exe", "--flag", "debug"}, 3, "", "does not exist"},
        Row{"no version resource", {"check", "@plain32.exe", "--flag", "debug"}, 9, "", "has no version resource"}));

INSTANTIATE_TEST_SUITE_P(
    Diff, Checks,
    ::testing::Values(
        Row{"a module and its .res", {"diff", "@tiny32.exe", "@tiny.res"}, 0, "", "", 0},
        Row{"a module and its block", {"diff", "%block", "@tiny32.exe"}, 0, "", "", 0},
        Row{"PE32 and PE32+ of one script", {"diff", "@tiny32.exe", "@tiny64.exe"}, 0, "", "", 0},
        Row{"two modules",
            {"diff", "@tiny32.exe", "@neutral32.exe"},
            13,
            "fileVersion: 9.8.7.6 -> 1.0.0.1\n"
            "productVersion: 9.8.0.0 -> 1.0.0.0\n"
            "fileFlagsMask: 0x00000000 -> 0x0000003F\n"
            "fileFlags: 0x00000000 -> 0x00000001 (Debug Build)\n"
            "string 'CompanyName' in table '040904B0': 'Fixture Works' -> 'Neutral Works'\n"
            "string 'FileVersion' in table '040904B0': '9.8.7.6' -> '1.0.0.1'\n"
            "string 'Comments' in table '040904B0': only in B ('')\n"
            "table '040704B0': only in B\n"
            "translations: 0x0409/1200 -> 0x0409/1200, 0x0407/1200\n"
            "languages: 0x0409 -> 0x0000\n",
            "differ in 10 places",
            1},
        Row{"as JSON",
            {"diff", "--json", "@tiny.res", "@two64.exe"},
            13,
            R"({
  "a": "@tiny.res",
  "b": "@two64.exe",
  "same": false,
  "differences": [
    {
      "change": "changed",
      "section": "fixed",
      "key": "fileVersion",
      "a": "9.8.7.6",
      "b": "3.0.0.9"
    },
    {
      "change": "changed",
      "section": "fixed",
      "key": "productVersion",
      "a": "9.8.0.0",
      "b": "0.0.0.0"
    },
    {
      "change": "removed",
      "section": "string",
      "table": "040904B0",
      "key": "CompanyName",
      "a": "Fixture Works",
      "b": null
    },
    {
      "change": "removed",
      "section": "string",
      "table": "040904B0",
      "key": "FileVersion",
      "a": "9.8.7.6",
      "b": null
    },
    {
      "change": "added",
      "section": "string",
      "table": "040904B0",
      "key": "FileDescription",
      "a": null,
      "b": "English"
    },
    {
      "change": "changed",
      "section": "languages",
      "a": "0x0409",
      "b": "0x0407, 0x0409"
    }
  ]
}
)",
            "differ in 6 places"},
        Row{"the same as JSON",
            {"diff", "--json", "@tiny.res", "@tiny.res"},
            0,
            "{\n  \"a\": \"@tiny.res\",\n  \"b\": \"@tiny.res\",\n  \"same\": true,\n  \"differences\": []\n}\n",
            "",
            0},
        Row{"one file", {"diff", "@tiny32.exe"}, 2, "", "B is required"},
        Row{"a missing file", {"diff", "@tiny32.exe", "@missing.exe"}, 3, "", "does not exist"},
        Row{"no version resource", {"diff", "@plain32.exe", "@tiny32.exe"}, 9, "", "has no version resource"}));

// The platform's own lookup, under Wine, is the oracle of get: the same
// value, or absent where it finds none (keys in another letter case, an
// empty value, a key the table lacks).
TEST(ChecksUnderWine, GetFindsWhatThePlatformFinds) {
  QM_REQUIRE_FIXTURES();
  if (std::system("command -v wine >/dev/null 2>&1") != 0) GTEST_SKIP() << "wine is not installed";
  const std::vector<std::string> modules = {"tiny32.exe", "neutral32.exe"};
  const std::vector<std::string> keys = {"CompanyName", "FileVersion", "COMMENTS", "ProductName"};
  ScratchDir dir;
  std::string command =
      "cd '" + dir.path().string() + "' && '" + QM_CLI_WINE_RUN + "' '" + QM_CLI_WINEPREFIX + "' verquery32.exe";
  for (const std::string &name : {std::string("verquery32.exe"), modules[0], modules[1]})
    fs::copy_file(Fixture(name), dir.path() / name);
  for (const std::string &module : modules)
    command += " " + module;
  command += " --";
  for (const std::string &key : keys)
    command += " " + key;
  ASSERT_EQ(std::system((command + " > verquery.txt 2> verquery.err").c_str()), 0) << command;
  std::ifstream in(dir.path() / "verquery.txt");
  std::map<std::string, std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines[line.substr(0, line.find(' '))] = line + " ";
  }
  for (const std::string &module : modules) {
    const std::string &line = lines[module];
    for (std::size_t k = 0; k < keys.size(); ++k) {
      SCOPED_TRACE(module + " " + keys[k] + ": " + line);
      const CliRun run = RunCliCaptured({"get", dir / module, keys[k]});
      const std::size_t at = line.find(" " + keys[k] + "=");
      if (at == std::string::npos) {
        ASSERT_NE(line.find(" " + keys[k] + "? "), std::string::npos);
        EXPECT_EQ(run.code, 13);
        continue;
      }
      const std::size_t from = at + keys[k].size() + 2;
      const std::size_t to = k + 1 < keys.size() ? line.find(" " + keys[k + 1], from) : line.size() - 1;
      EXPECT_EQ(run.code, 0) << run.err;
      EXPECT_EQ(run.out, line.substr(from, to - from) + "\n");
    }
  }
}

TEST(ChecksHelp, TheFooterNamesExitCode13AndTheCommandsAreKnown) {
  const CliRun help = RunCliCaptured({"--help"});
  EXPECT_NE(help.out.find("13 a check found a difference"), std::string::npos) << help.out;
  const CliRun unknown = RunCliCaptured({"gets"});
  EXPECT_NE(unknown.err.find("get, check, diff"), std::string::npos) << unknown.err;
}

} // namespace
} // namespace qm::cli::test
