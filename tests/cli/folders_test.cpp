// show and set over folders (--recursive) with the JSON report: what is
// taken, skipped and failed, in which order, the run's exit code, and that
// modules are changed while every other file is left byte for byte.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <map>
#include <sstream>

#include "cli_test_support.h"

namespace qm::cli::test {
namespace {

struct Record {
  std::string path; // below the tree's root
  std::string result;
  int exitCode;
  friend bool operator==(const Record &, const Record &) = default;
  friend std::ostream &operator<<(std::ostream &os, const Record &r) {
    return os << r.path << ":" << r.result << ":" << r.exitCode;
  }
};

struct FolderCase {
  const char *name;
  const char *command; // the tree's root follows it
  bool damaged;        // a module cut short inside its headers
  bool unreadable;     // a module nobody may read (the program then runs as another user when run as root)
  bool onlyText;       // a tree of no module at all
  int code;
  std::vector<Record> records;
  friend void PrintTo(const FolderCase &c, std::ostream *os) { *os << c.name; }
};

const char *kSet = "set --recursive --report json --file-version 1.2.3.4";
const char *kShow = "show --recursive --report json";

// Entries are taken by name, each folder's in turn; the link to a folder is
// not followed, nor the link to a module, and a file that merely starts with "MZ" is no module.
const std::vector<Record> kTree = {
    {"a.exe", "ok", 0},        {"link", "skipped", 0},         {"notes.txt", "skipped", 0}, {"sub/b.dll", "ok", 0},
    {"sub/deeper/c", "ok", 0}, {"sub/fake.exe", "skipped", 0}, {"z.exe", "skipped", 0},
};

std::vector<Record> With(std::vector<Record> records, const Record &added) {
  auto at = std::find_if(records.begin(), records.end(), [&](const Record &r) { return r.path > added.path; });
  records.insert(at, added);
  return records;
}

// `records` with those of `paths` (every "ok" one when none are named) failed with `code`.
std::vector<Record> Failing(std::vector<Record> records, int code, std::vector<std::string> paths = {}) {
  for (Record &r : records) {
    if (r.result == "ok" && (paths.empty() || std::find(paths.begin(), paths.end(), r.path) != paths.end()))
      r = {r.path, "failed", code};
  }
  return records;
}

class Folders : public ::testing::TestWithParam<FolderCase> {
protected:
  void SetUp() override {
    QM_REQUIRE_FIXTURES();
    const FolderCase &c = GetParam();
    fs::create_directories(root / "sub/deeper");
    WriteText(root / "notes.txt", "MZ but not a module\n");
    if (c.onlyText) return;
    fs::copy_file(Fixture("tiny32.exe"), root / "a.exe");
    fs::copy_file(Fixture("tiny32.exe"), root / "sub/b.dll");
    fs::copy_file(Fixture("neutral32.exe"), root / "sub/deeper/c");
    std::vector<std::uint8_t> fake = {'M', 'Z'};
    fake.resize(0x40, 0xFF); // e_lfanew far past the end
    WriteBytes(root / "sub/fake.exe", fake);
    fs::create_directory_symlink("sub", root / "link");
    fs::create_symlink("a.exe", root / "z.exe");
    if (c.damaged) {
      auto cut = ReadBytes(Fixture("tiny32.exe"));
      cut.resize(0x100);
      WriteBytes(root / "damaged.exe", cut);
    }
    if (c.unreadable) {
      fs::copy_file(Fixture("tiny32.exe"), root / "locked.exe");
      fs::permissions(root / "locked.exe", fs::perms::none);
    }
  }

  // Every regular file's bytes, by path below the root.
  std::map<std::string, std::vector<std::uint8_t>> Files() const {
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
      if (entry.is_regular_file() && !entry.is_symlink() && entry.path().filename() != "locked.exe")
        files[fs::relative(entry.path(), root).string()] = ReadBytes(entry.path());
    }
    return files;
  }

  int Run(const std::string &args, std::string &out) const {
    // Root reads every file whatever its mode: the unreadable case runs as nobody.
    const bool asOther = GetParam().unreadable && geteuid() == 0;
    const std::string command = std::string(asOther ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
                                "'" + QM_CLI_PROGRAM + "' " + args + " >'" + (dir / "out") + "' 2>'" + (dir / "err") +
                                "'";
    const int status = std::system(command.c_str());
    const auto bytes = ReadBytes(dir.path() / "out");
    out.assign(bytes.begin(), bytes.end());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  ScratchDir dir;
  fs::path root = dir.path() / "tree";
};

TEST_P(Folders, ReportEachFileInOrderAndChangeOnlyModules) {
  const FolderCase &c = GetParam();
  const auto before = Files();
  std::string out;
  const std::string command = c.command;
  const auto space = command.find(' ');
  EXPECT_EQ(Run(command.substr(0, space) + " '" + root.string() + "'" + command.substr(space), out), c.code);

  std::vector<Record> records;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const auto record = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(record.is_object()) << line;
    const std::string path = record.value("path", "");
    const std::string result = record.value("result", "");
    ASSERT_EQ(path.rfind(root.string(), 0), 0u) << line;
    records.push_back({path.size() > root.string().size() ? path.substr(root.string().size() + 1) : ".", result,
                       record.value("exitCode", -1)});
    EXPECT_EQ(record.value("message", "").empty(), result == "ok") << line;
    if (command.starts_with("show") && result == "ok") {
      EXPECT_TRUE(record["output"].contains("fileVersion")) << line;
    }
  }
  EXPECT_EQ(records, c.records);

  const auto after = Files();
  ASSERT_EQ(before.size(), after.size());
  for (const Record &r : c.records) {
    if (r.result != "ok" && before.count(r.path)) {
      EXPECT_EQ(before.at(r.path), after.at(r.path)) << r.path;
    }
    if (r.result != "ok" || !command.starts_with("set")) continue;
    CliRun shown = RunCliCaptured({"show", "--json", (root / r.path).string()});
    EXPECT_NE(shown.out.find("\"fileVersion\": \"1.2.3.4\""), std::string::npos) << r.path << shown.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Cli, Folders,
                         ::testing::Values(FolderCase{"SetEveryModule", kSet, false, false, false, 0, kTree},
                                           FolderCase{"ShowEveryModule", kShow, false, false, false, 0, kTree},
                                           // A module that fails does not stop the ones after it.
                                           FolderCase{"SetPastADamagedModule", kSet, true, false, false, 6,
                                                      With(kTree, {"damaged.exe", "failed", 6})},
                                           FolderCase{"ShowPastAnUnreadableFile", kShow, false, true, false, 5,
                                                      With(kTree, {"locked.exe", "failed", 5})},
                                           FolderCase{"ShowBothTheWorstWins", kShow, true, true, false, 6,
                                                      With(With(kTree, {"damaged.exe", "failed", 6}),
                                                           {"locked.exe", "failed", 5})},
                                           FolderCase{"ShowAFolderWithoutModules",
                                                      kShow,
                                                      false,
                                                      false,
                                                      true,
                                                      6,
                                                      {{"notes.txt", "skipped", 0}, {".", "failed", 6}}},
                                           // A difference is a file's result, the mildest of a run.
                                           FolderCase{"CheckTellsWhichDiffer",
                                                      "check --recursive --report json --string 'CompanyName=Fixture "
                                                      "Works'",
                                                      true, false, false, 6,
                                                      Failing(With(kTree, {"damaged.exe", "failed", 6}), 13,
                                                              {"sub/deeper/c"})},
                                           FolderCase{"LintEveryModule", "lint --recursive --report json", false,
                                                      false, false, 13, Failing(kTree, 13)},
                                           // Without --recursive a folder stays what it was: not a module to write.
                                           FolderCase{"SetAFolderWithoutRecursive",
                                                      "set --report json --file-version 1.2.3.4",
                                                      false,
                                                      false,
                                                      false,
                                                      7,
                                                      {{".", "failed", 7}}}),
                         [](const ::testing::TestParamInfo<FolderCase> &info) { return std::string(info.param.name); });

// In text form show names each module before its text, and a walk that
// skipped files says how many on stderr.
TEST(FoldersAsText, ShowNamesEachModuleAndCountsTheSkipped) {
  QM_REQUIRE_FIXTURES();
  ScratchDir dir;
  fs::create_directories(dir.path() / "sub");
  fs::copy_file(Fixture("tiny32.exe"), dir.path() / "sub/b.dll");
  fs::copy_file(Fixture("tiny32.exe"), dir.path() / "a.exe");
  WriteText(dir / "notes.txt", "notes");
  CliRun run = RunCliCaptured({"show", "--recursive", dir.path().string()});
  EXPECT_EQ(run.code, 0);
  const auto first = run.out.find("File:            " + (dir / "a.exe") + "\nRead from:");
  const auto second = run.out.find("File:            " + (dir / "sub/b.dll") + "\nRead from:");
  EXPECT_NE(first, std::string::npos) << run.out;
  EXPECT_NE(second, std::string::npos) << run.out;
  EXPECT_LT(first, second);
  EXPECT_EQ(run.err, "quillmark-cli: 2 modules handled, 0 failed; 1 other file skipped\n");
}

} // namespace
} // namespace qm::cli::test
