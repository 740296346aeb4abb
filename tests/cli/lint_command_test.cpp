// lint as a build script runs it: exit 0 when clean, 13 with the findings on
// stdout (lines or JSON), and the usual codes for files it cannot read.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <set>
#include <sstream>

#include "cli_test_support.h"

namespace qm::cli::test {
namespace {

struct LintRun {
  const char *name;
  const char *fixture;           // copied into the scratch folder; nullptr: a file that does not exist
  std::vector<std::string> set;  // a set command run on the copy first, when given
  bool json;                     // lint --json
  int code;                      // lint's exit code
  const char *firstId = nullptr; // the id of the first finding
};

class LintCommand : public ::testing::TestWithParam<LintRun> {};

TEST_P(LintCommand, ExitsAndPrintsAsAScriptExpects) {
  QM_REQUIRE_FIXTURES();
  const LintRun &row = GetParam();
  ScratchDir dir;
  const std::string file = dir / "file";
  if (row.fixture) fs::copy_file(Fixture(row.fixture), file);
  if (!row.set.empty()) {
    std::vector<std::string> args{"set", file};
    args.insert(args.end(), row.set.begin(), row.set.end());
    ASSERT_EQ(RunCliCaptured(args).code, 0);
  }
  CliRun run = RunCliCaptured(row.json ? std::vector<std::string>{"lint", "--json", file}
                                       : std::vector<std::string>{"lint", file});
  EXPECT_EQ(run.code, row.code) << run.out << run.err;
  if (!row.firstId) {
    EXPECT_TRUE(run.out.empty()) << run.out;
    return;
  }
  if (row.json) {
    const auto findings = nlohmann::json::parse(run.out);
    ASSERT_TRUE(findings.is_array() && !findings.empty()) << run.out;
    EXPECT_EQ(findings[0]["id"], row.firstId);
    EXPECT_TRUE(findings[0]["message"].is_string());
    EXPECT_EQ(findings[0]["table"], "040904B0");
  } else {
    EXPECT_TRUE(run.out.starts_with(std::string(row.firstId) + ": ")) << run.out;
  }
}

// tiny.rc lacks these three usual keys.
const std::vector<std::string> kCompleted{"--string", "FileDescription=Tiny", "--string", "ProductName=Fixture",
                                          "--string", "ProductVersion=9.8"};
std::vector<std::string> Completed(std::vector<std::string> more) {
  more.insert(more.begin(), kCompleted.begin(), kCompleted.end());
  return more;
}

INSTANTIATE_TEST_SUITE_P(Cli, LintCommand,
                         ::testing::Values(LintRun{"Clean", "tiny32.exe", Completed({}), false, 0},
                                           LintRun{"MissingKeys", "tiny32.exe", {}, false, 13, "missing-key"},
                                           LintRun{"DllTypeOnAProgram", "tiny32.exe", Completed({"--file-type", "DLL"}),
                                                   false, 13, "file-type-mismatch"},
                                           LintRun{"JsonOfAResFile", "tiny.res", {}, true, 13, "missing-key"},
                                           LintRun{"NoVersionResource", "plain32.exe", {}, false, 9},
                                           LintRun{"Missing", nullptr, {}, false, 3}),
                         [](const ::testing::TestParamInfo<LintRun> &info) { return std::string(info.param.name); });

} // namespace
} // namespace qm::cli::test

namespace qm::cli::test {
namespace {

// Two names that differ only in a byte that is not UTF-8: in lint --json and
// in a JSON report each keeps its own name, its bytes given back in hex.
TEST(LintCommand, JsonNamesEachFileApartWhateverItsBytes) {
  QM_REQUIRE_FIXTURES();
  ScratchDir dir;
  const std::vector<std::string> names = {dir / "a\xFE.exe", dir / "a\xFF.exe"};
  for (const std::string &name : names)
    fs::copy_file(Fixture("tiny32.exe"), fs::path(name));
  auto hex = [](const std::string &text) {
    std::string out;
    for (char c : text) {
      char two[3];
      std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(c));
      out += two;
    }
    return out;
  };
  const CliRun lint = RunCliCaptured({"lint", "--json", names[0], names[1]});
  EXPECT_EQ(lint.code, 13) << lint.err;
  std::istringstream arrays(lint.out);
  std::set<std::string> seen;
  for (std::size_t i = 0; i < names.size(); ++i) {
    nlohmann::json findings;
    arrays >> findings;
    ASSERT_TRUE(findings.is_array() && !findings.empty()) << lint.out;
    for (const auto &finding : findings)
      EXPECT_EQ(finding["fileBytes"], hex(names[i])) << finding;
    seen.insert(findings[0]["file"].get<std::string>() + findings[0]["fileBytes"].get<std::string>());
  }
  EXPECT_EQ(seen.size(), 2u);

  const CliRun report = RunCliCaptured({"lint", "--recursive", "--report", "json", dir.path().string()});
  std::set<std::string> paths;
  std::istringstream records(report.out);
  for (std::string line; std::getline(records, line);) {
    const auto record = nlohmann::json::parse(line);
    paths.insert(record.value("pathBytes", ""));
  }
  EXPECT_EQ(paths, std::set<std::string>({hex(names[0]), hex(names[1])})) << report.out;
}

} // namespace
} // namespace qm::cli::test
