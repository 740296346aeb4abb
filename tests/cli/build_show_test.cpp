// build writes what saving a block file writes; show reads back every field;
// show --format rc, compiled by windres, gives the same information again.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>

#include "cli_test_support.h"
#include "codec/rc_script_reader.h"
#include "codec/version_info_writer.h"

namespace qm::cli::test {
namespace {

using nlohmann::json;

std::uint16_t WordAt(const std::vector<std::uint8_t> &bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes.at(at) | (bytes.at(at + 1) << 8));
}

struct RoundTrip {
  const char *name;
  const char *fields;
  // What show --json must give back.
  const char *fileVersion;
  const char *productVersion;
  std::uint32_t flags;
  std::uint32_t fileOs, fileType, fileSubType;
  const char *key;
  std::uint16_t language, codePage;
  friend void PrintTo(const RoundTrip &c, std::ostream *os) { *os << c.name; }
};

class BuildThenShow : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(BuildThenShow, GivesBackEveryField) {
  const RoundTrip &c = GetParam();
  ScratchDir dir;
  WriteText(dir / "fields.json", c.fields);
  CliRun built = RunCliCaptured({"build", dir / "fields.json", dir / "v.res"});
  ASSERT_EQ(built.code, 0) << built.err;
  EXPECT_TRUE(built.out.empty() && built.err.empty()) << "build should be silent";
  const auto block = ReadBytes(dir.path() / "v.res");
  ASSERT_GE(block.size(), 2u);
  EXPECT_EQ(WordAt(block, 0), block.size()) << "a block file holds exactly one block";

  CliRun shown = RunCliCaptured({"show", "--json", dir / "v.res"});
  ASSERT_EQ(shown.code, 0) << shown.err;
  const json got = json::parse(shown.out);
  const json given = json::parse(c.fields);
  EXPECT_EQ(got["kind"], "version block");
  EXPECT_FALSE(got.contains("language")) << "a bare block has no resource language";
  EXPECT_EQ(got["fileVersion"], c.fileVersion);
  EXPECT_EQ(got["productVersion"], c.productVersion);
  EXPECT_EQ(got["fileFlagsMask"], 0);
  EXPECT_EQ(got["fileFlags"], c.flags);
  EXPECT_EQ(got["fileOs"], c.fileOs);
  EXPECT_EQ(got["fileType"], c.fileType);
  EXPECT_EQ(got["fileSubType"], c.fileSubType);
  EXPECT_EQ(got["fileDate"], 0);
  ASSERT_EQ(got["stringTables"].size(), 1u);
  EXPECT_EQ(got["stringTables"][0]["key"], c.key);
  EXPECT_EQ(got["stringTables"][0]["strings"], given.value("strings", json::array()));
  EXPECT_EQ(got["translations"], json::array({json::array({c.language, c.codePage})}));
}

INSTANTIATE_TEST_SUITE_P(
    Cli, BuildThenShow,
    ::testing::Values(RoundTrip{"AllSet",
                                R"j({"fileVersion": "1.2.3.4", "productVersion": "65535.0.1.65534", "debug": true,
                      "preRelease": true, "special": true, "private": true, "fileOs": "NT (WINDOWS32)",
                      "fileType": "DRV", "fileSubType": "DRV SOUND", "language": "0809", "codePage": "1252",
                      "strings": [["CompanyName", "Brindlewick"], ["FileVersion", "1.2.3.4"]]})j",
                                "1.2.3.4", "65535.0.1.65534", 0x2B, 0x00040004, 3, 9, "080904E4", 0x0809, 1252},
                      RoundTrip{"NoStrings", R"j({"language": "0000", "codePage": "1200"})j", "0.0.0.0", "0.0.0.0", 0,
                                0, 0, 0, "000004B0", 0, 1200},
                      RoundTrip{"NumbersAndOddTexts",
                                R"j({"fileOs": 305419896, "fileType": 7, "fileSubType": 65536, "language": "041D",
                      "codePage": "0037", "private": true,
                      "strings": [["", ""], ["Dup", "a"], ["Dup", ""], ["Ünïcödé ключ", "值 😀"]]})j",
                                "0.0.0.0", "0.0.0.0", 0x08, 0x12345678, 7, 65536, "041D0025", 0x041D, 37}),
    [](const ::testing::TestParamInfo<RoundTrip> &info) { return std::string(info.param.name); });

// Independent sizes of whole blocks: no rows, and the editor's five default
// rows with a five-character copyright.
TEST(Build, BlockSizesMatchTheLayout) {
  ScratchDir dir;
  WriteText(dir / "empty.json", R"j({"language": "0409", "codePage": "1252"})j");
  WriteText(dir / "default.json", R"j({"language": "0409", "codePage": "1252", "strings": [
      ["CompanyName", ""], ["FileDescription", ""], ["FileVersion", "0.0.0.0"],
      ["LegalCopyright", "(c) A"], ["ProductVersion", "0.0.0.0"]]})j");
  ASSERT_EQ(RunCliCaptured({"build", dir / "empty.json", dir / "empty.res"}).code, 0);
  ASSERT_EQ(RunCliCaptured({"build", dir / "default.json", dir / "default.res"}).code, 0);
  const auto empty = ReadBytes(dir.path() / "empty.res");
  const auto full = ReadBytes(dir.path() / "default.res");
  EXPECT_EQ(empty.size(), 220u);
  EXPECT_EQ(full.size(), 448u);
  EXPECT_EQ(WordAt(full, 0x5C), 288); // StringFileInfo
  EXPECT_EQ(WordAt(full, 0x80), 252); // StringTable
}

TEST(Build, ReplacesAnEarlierFileOnlyOnSuccess) {
  ScratchDir dir;
  const std::vector<std::uint8_t> earlier = {'o', 'l', 'd'};
  WriteBytes(dir.path() / "v.res", earlier);
  WriteText(dir / "bad.json", R"j({"language": "0809", "codePage": "x"})j");
  EXPECT_EQ(RunCliCaptured({"build", dir / "bad.json", dir / "v.res"}).code, 10);
  EXPECT_EQ(ReadBytes(dir.path() / "v.res"), earlier);

  WriteText(dir / "good.json", R"j({"language": "0809", "codePage": "1252"})j");
  EXPECT_EQ(RunCliCaptured({"build", dir / "good.json", dir / "v.res"}).code, 0);
  EXPECT_EQ(ReadBytes(dir.path() / "v.res").size(), 220u);
  for (const auto &entry : fs::directory_iterator(dir.path())) {
    EXPECT_EQ(entry.path().filename().string().find("tmp"), std::string::npos) << "left behind: " << entry.path();
  }
}

TEST(Build, OutputIntoAMissingFolderFailsWithEleven) {
  ScratchDir dir;
  WriteText(dir / "good.json", R"j({"language": "0809", "codePage": "1252"})j");
  CliRun run = RunCliCaptured({"build", dir / "good.json", dir / "no/such/folder/v.res"});
  EXPECT_EQ(run.code, 11);
  EXPECT_NE(run.err.find("cannot write the block file"), std::string::npos) << run.err;
}

TEST(Show, TextNamesListItemsFlagsAndStrings) {
  ScratchDir dir;
  WriteText(dir / "f.json", R"j({"fileVersion": "4.3.2.1", "fileOs": "NT (WINDOWS32)", "fileType": "APP",
      "special": true, "debug": true, "language": "0407", "codePage": "1252", "strings": [["ProductName", "Q"]]})j");
  ASSERT_EQ(RunCliCaptured({"build", dir / "f.json", dir / "v.res"}).code, 0);
  CliRun run = RunCliCaptured({"show", dir / "v.res"});
  ASSERT_EQ(run.code, 0) << run.err;
  for (const char *expected : {"File version:    4.3.2.1", "(NT (WINDOWS32))", "(APP)", "(Debug Build, Special build)",
                               "StringTable 040704E4:", "  ProductName = Q", "language 0x0407, code page 1252"}) {
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected << "\nin\n" << run.out;
  }
}

// A value may hold anything; printed raw, a newline could fake a line of
// the report and an escape sequence could drive the terminal.
TEST(Show, TextEscapesControlCharactersInStrings) {
  ScratchDir dir;
  WriteText(dir / "f.json", R"j({"language": "0409", "codePage": "1252", "strings": [
      ["Comments", "x\nFile version:    9.9.9.9"], ["Esc", "\u001b[2J\t\u0085\u202e"], ["Plain", "caf\u00e9"]]})j");
  ASSERT_EQ(RunCliCaptured({"build", dir / "f.json", dir / "v.res"}).code, 0);
  CliRun run = RunCliCaptured({"show", dir / "v.res"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out.find("\nFile version:    9.9.9.9"), std::string::npos) << run.out;
  for (const char *expected : {"  Comments = x\\nFile version:    9.9.9.9\n", "  Esc = \\x1B[2J\\t\\u0085\\u202E\n",
                               "  Plain = caf\xC3\xA9\n"}) {
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected << "\nin\n" << run.out;
  }
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
}

struct ShowFailure {
  const char *name;
  std::vector<std::uint8_t> content; // empty: no file at all
  int code;
  const char *message;
  std::vector<std::string> options = {};
  friend void PrintTo(const ShowFailure &c, std::ostream *os) { *os << c.name; }
};

class ShowRefuses : public ::testing::TestWithParam<ShowFailure> {};

TEST_P(ShowRefuses, WithItsExitCodeAndNothingOnStdout) {
  ScratchDir dir;
  if (!GetParam().content.empty()) WriteBytes(dir.path() / "input", GetParam().content);
  std::vector<std::string> args = {"show"};
  args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
  args.push_back(dir / "input");
  CliRun run = RunCliCaptured(args);
  EXPECT_EQ(run.code, GetParam().code);
  EXPECT_TRUE(run.out.empty());
  EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
}

std::vector<std::uint8_t> DamagedBlock() {
  // The key of a version block, then a length that runs past the data.
  std::vector<std::uint8_t> bytes = {0xFF, 0x7F, 0x34, 0x00, 0x00, 0x00};
  for (char c : std::string("VS_VERSION_INFO"))
    bytes.insert(bytes.end(), {static_cast<std::uint8_t>(c), 0});
  bytes.insert(bytes.end(), {0, 0, 0, 0});
  return bytes;
}

// A block whose table key no resource script can say (BLOCK takes only a
// plain literal).
std::vector<std::uint8_t> BlockWithKey(std::u16string tableKey) {
  VersionInfo info;
  info.HasFixedPart = true;
  info.Fixed.StrucVersion = 0x10000;
  info.Tables = {{std::move(tableKey), {{u"Comments", u"x"}}}};
  return *EncodeVersionInfo(info);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, ShowRefuses,
    ::testing::Values(
        ShowFailure{"Missing", {}, 3, "does not exist"},
        ShowFailure{"PlainText", {'h', 'e', 'l', 'l', 'o'}, 8, "neither a module"},
        ShowFailure{"DosStubWithoutPe", {'M', 'Z', 0, 0}, 8, "neither a module"},
        ShowFailure{"DamagedBlock", DamagedBlock(), 8, "is damaged"},
        ShowFailure{"ScriptOfAWideKey",
                    BlockWithKey(u"0409\u00e9B0"),
                    8,
                    "cannot be written as a resource script (show --json prints it whole): the table key "
                    "'0409\xC3\xA9"
                    "B0' is not plain ASCII",
                    {"--format", "rc"}},
        ShowFailure{"JsonAndFormat", DamagedBlock(), 2, "--json excludes --format", {"--json", "--format", "json"}},
        ShowFailure{"UnknownFormat", DamagedBlock(), 2, "xml not in {text,json,rc}", {"--format", "xml"}}),
    [](const ::testing::TestParamInfo<ShowFailure> &info) { return std::string(info.param.name); });

// ---- show --format rc, compiled by windres, read again ----

struct ScriptCase {
  const char *name;
  fs::path file;
  bool asBlock = false; // the file's resource extracted first, as a bare block
  friend void PrintTo(const ScriptCase &c, std::ostream *os) { *os << c.name; }
};

// What show --json says of where it read from, which a script does not carry.
json WithoutOrigin(json shown) {
  for (const char *member : {"kind", "otherLanguages", "signed", "appendedData", "selfCheckingPacker"})
    shown.erase(member);
  return shown;
}

class ScriptThroughWindres : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(ScriptThroughWindres, GivesTheSameInformation) {
  const ScriptCase &c = GetParam();
  QM_REQUIRE_FIXTURES();
  if (!fs::exists(c.file)) GTEST_SKIP() << c.file << " was not built";
  ScratchDir dir;
  std::string input = c.file.string();
  if (c.asBlock) {
    ASSERT_EQ(RunCliCaptured({"extract", input, dir / "block.bin"}).code, 0);
    input = dir / "block.bin";
  }
  const CliRun asJson = RunCliCaptured({"show", "--json", input});
  const CliRun script = RunCliCaptured({"show", "--format", "rc", input});
  // A file without a version resource is refused alike in either form.
  ASSERT_EQ(script.code, asJson.code) << script.err;
  if (asJson.code != 0) {
    EXPECT_TRUE(script.out.empty());
    EXPECT_EQ(script.err, asJson.err);
    return;
  }
  WriteText(dir / "v.rc", script.out);
  const std::string compile =
      "\"" + std::string(QM_CLI_WINDRES) + "\" -O res \"" + (dir / "v.rc") + "\" -o \"" + (dir / "v.res") + "\"";
  ASSERT_EQ(std::system(compile.c_str()), 0) << script.out;
  const CliRun again = RunCliCaptured({"show", "--json", dir / "v.res"});
  ASSERT_EQ(again.code, 0) << again.err;
  json want = WithoutOrigin(json::parse(asJson.out)), got = WithoutOrigin(json::parse(again.out));
  if (c.asBlock) {
    // A bare block has no language: the script takes its first translation's.
    EXPECT_EQ(got["language"], want["translations"][0][0]);
    got.erase("language");
  }
  EXPECT_EQ(got, want) << script.out;
}

const fs::path kPeModules = QM_CLI_PE_MODULES;

INSTANTIATE_TEST_SUITE_P(
    Cli, ScriptThroughWindres,
    ::testing::Values(ScriptCase{"tiny32", Fixture("tiny32.exe")}, ScriptCase{"plain32", Fixture("plain32.exe")},
                      ScriptCase{"neutral32", Fixture("neutral32.exe")}, ScriptCase{"tiny64", Fixture("tiny64.exe")},
                      ScriptCase{"two64", Fixture("two64.exe")}, ScriptCase{"plain64", Fixture("plain64.exe")},
                      ScriptCase{"tinyRes", Fixture("tiny.res")}, ScriptCase{"plainRes", Fixture("plain.res")},
                      ScriptCase{"neutralBlock", Fixture("neutral32.exe"), true},
                      ScriptCase{"app32Last", kPeModules / "app32_last.exe"},
                      ScriptCase{"app64Middle", kPeModules / "app64_middle.exe"},
                      ScriptCase{"lib32", kPeModules / "lib32.dll"},
                      ScriptCase{"lib64Middle", kPeModules / "lib64_middle.dll"},
                      ScriptCase{"stampRes", kPeModules / "stamp.res"}),
    [](const ::testing::TestParamInfo<ScriptCase> &info) { return std::string(info.param.name); });

// build takes a resource script as it takes a fields file: by content, the
// output written only on success.
struct ScriptBuild {
  const char *name;
  std::string script;
  std::vector<std::string> options;
  int code;
  const char *message; // on stderr, or the FileDescription show gives back
  // Other files beside the script, by path under the folder; "@DIR@" in an
  // option stands for the folder.
  std::vector<std::pair<std::string, std::string>> files = {};
  friend void PrintTo(const ScriptBuild &c, std::ostream *os) { *os << c.name; }
};

const std::string kVersionScript = "LANGUAGE 7, 1\n1 VERSIONINFO FILEVERSION 1,2 FILEOS VOS_NT BEGIN\n"
                                   "BLOCK \"StringFileInfo\" { BLOCK \"040704B0\" { VALUE \"FileDescription\", "
                                   "\"Skript\" } }\nEND\n";

class BuildFromScript : public ::testing::TestWithParam<ScriptBuild> {};

TEST_P(BuildFromScript, WritesTheBlockOrNothing) {
  const ScriptBuild &c = GetParam();
  ScratchDir dir;
  WriteText(dir / "fields.json", c.script);
  WriteText(dir / "v.res", "old");
  for (const auto &[name, text] : c.files) {
    std::filesystem::create_directories((dir.path() / name).parent_path());
    WriteText(dir / name, text);
  }
  std::vector<std::string> args = {"build"};
  for (std::string option : c.options) {
    if (const std::size_t at = option.find("@DIR@"); at != std::string::npos)
      option.replace(at, 5, dir.path().string());
    args.push_back(option);
  }
  args.insert(args.end(), {dir / "fields.json", dir / "v.res"});
  const CliRun run = RunCliCaptured(args);
  ASSERT_EQ(run.code, c.code) << run.err;
  if (c.code != 0) {
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(ReadBytes(dir.path() / "v.res"), std::vector<std::uint8_t>({'o', 'l', 'd'}));
    return;
  }
  const CliRun shown = RunCliCaptured({"show", "--json", dir / "v.res"});
  ASSERT_EQ(shown.code, 0) << shown.err;
  const json got = json::parse(shown.out);
  EXPECT_EQ(got["fileVersion"], "1.2.0.0");
  EXPECT_EQ(got["fileOs"], 0x40000);
  EXPECT_EQ(got["stringTables"][0]["strings"], json::array({json::array({"FileDescription", c.message})}));
}

INSTANTIATE_TEST_SUITE_P(
    Cli, BuildFromScript,
    ::testing::Values(
        ScriptBuild{"Plain", kVersionScript, {}, 0, "Skript"},
        ScriptBuild{"ByteOrderMark", "\xEF\xBB\xBF" + kVersionScript, {}, 0, "Skript"},
        ScriptBuild{"Utf16",
                    std::string("\xFF\xFE"
                                "1\0 \0",
                                6),
                    {},
                    10,
                    "is UTF-16"},
        ScriptBuild{"OtherStatementSkipped", "1 ICON \"app.ico\"\n" + kVersionScript, {"--only-version"}, 0, "Skript"},
        ScriptBuild{"OtherStatementRefused",
                    "1 ICON \"app.ico\"\n" + kVersionScript,
                    {},
                    10,
                    "is refused: line 1, column 3: only VERSIONINFO is read, not 'ICON' (--only-version"},
        ScriptBuild{"Misspelled", "1 VERSIONINFO\nFILEVERSON 1\nBEGIN\nEND\n", {}, 10, "is refused: line 2, column 1"},
        ScriptBuild{"TooLarge", std::string(kMaxScriptBytes + 1, '\n'), {"--only-version"}, 10, "too large"},
        // Files found beside the script and on -I; a header gives its directives alone.
        ScriptBuild{"Included",
                    "#include \"ver.h\"\n#include <app/version.rc2>\n",
                    {"-I", "@DIR@/none", "--include-dir", "@DIR@/inc"},
                    0,
                    "Skript",
                    {{"ver.h", "int declared(void);\n#define DESCRIPTION \"Skript\"\n"},
                     {"inc/app/version.rc2", "#include \"../../ver.h\"\nLANGUAGE 7, 1\n1 VERSIONINFO FILEVERSION "
                                             "1,2 FILEOS VOS_NT\nBEGIN BLOCK \"StringFileInfo\" { BLOCK \"040704B0\" "
                                             "{ VALUE \"FileDescription\", DESCRIPTION } }\nEND\n"}}},
        ScriptBuild{"Defined",
                    "#if !defined(RC_INVOKED) && WITH == 2\n" + kVersionScript + "#endif\n",
                    {"-DWITH=2", "-U", "RC_INVOKED"},
                    0,
                    "Skript"},
        ScriptBuild{"NotDefined", "#ifdef WITH\n" + kVersionScript + "#endif\n", {}, 10, "-D defines"},
        ScriptBuild{"CodePage",
                    "#pragma code_page(1252)\n#pragma code_page(DEFAULT)\nLANGUAGE 7, 1\n1 VERSIONINFO FILEVERSION "
                    "1,2 FILEOS VOS_NT BEGIN BLOCK \"StringFileInfo\" { BLOCK \"040704B0\" { VALUE "
                    "\"FileDescription\", \"\xc2\xa9\" } }\nEND\n",
                    {"--codepage", "65001"},
                    0,
                    "\xc2\xa9"},
        ScriptBuild{"IncludesItself", "#include \"fields.json\"\n", {}, 10, "more than 32 deep"},
        ScriptBuild{"MissingHeader",
                    "#include \"ver.h\"\n" + kVersionScript,
                    {},
                    10,
                    "line 1, column 1: #include \"ver.h\" finds no file (-I"}),
    [](const ::testing::TestParamInfo<ScriptBuild> &info) { return std::string(info.param.name); });

} // namespace
} // namespace qm::cli::test
