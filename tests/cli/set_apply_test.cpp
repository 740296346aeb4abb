// set and apply on real modules built by mingw: what changes, what stays
// (every other string, table, translation and resource, the appended data),
// how failures leave modules, and what the platform's version API reads.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include "base/byte_reader.h"
#include "cli_test_support.h"
#include "codec/text_codec.h"
#include "codec/version_info_reader.h"
#include "codec/version_info_writer.h"
#include "pe/byte_source.h"
#include "pe/pe_image.h"
#include "pe/resource_tree.h"
#include "pe/resource_update.h"

namespace qm::cli::test {
namespace {

using ResourceKey = std::tuple<std::string, std::string, std::uint16_t>;
using Resources = std::map<ResourceKey, std::vector<std::uint8_t>>;

Resources ReadResources(const fs::path &module) {
  const auto bytes = ReadBytes(module);
  pe::MemorySource source(bytes);
  auto headers = pe::ParseHeaders(source);
  auto leaves = headers ? pe::ParseResourceTree(source, *headers) : Result<std::vector<pe::ResourceLeaf>>(Fail(""));
  EXPECT_TRUE(leaves) << module;
  Resources all;
  for (const auto &leaf : leaves ? *leaves : std::vector<pe::ResourceLeaf>{}) {
    auto data = pe::ReadLeafData(source, *headers, leaf);
    if (data) all[{leaf.type.ToString(), leaf.name.ToString(), leaf.language}] = *data;
  }
  return all;
}

// The version resources by language, and everything else.
std::map<std::uint16_t, VersionInfo> Versions(const Resources &all) {
  std::map<std::uint16_t, VersionInfo> versions;
  for (const auto &[key, data] : all) {
    if (std::get<0>(key) != "16" || std::get<1>(key) != "1") continue;
    auto info = ReadVersionInfo(data);
    EXPECT_TRUE(info) << info.error();
    if (info) versions[std::get<2>(key)] = *info;
  }
  return versions;
}

Resources Others(Resources all) {
  std::erase_if(all, [](const auto &entry) { return std::get<0>(entry.first) == "16"; });
  return all;
}

std::u16string Find(const StringTable &table, std::u16string_view key) {
  for (const DecodedString &s : table.Strings)
    if (s.Key == key) return s.Value;
  return u"<missing>";
}

const std::vector<std::uint8_t> kOverlay = {'a', 'p', 'p', 'e', 'n', 'd', 'e', 'd', 0, 1, 2, 3};

std::vector<std::uint8_t> WithOverlay(std::vector<std::uint8_t> image) {
  image.insert(image.end(), kOverlay.begin(), kOverlay.end());
  return image;
}

bool EndsWithOverlay(const std::vector<std::uint8_t> &image) {
  return image.size() >= kOverlay.size() && std::equal(kOverlay.begin(), kOverlay.end(), image.end() - kOverlay.size());
}

struct ModuleCase {
  const char *fixture;
  bool pe32Plus;
  std::vector<std::uint16_t> languagesAfter;
};

const ModuleCase kModules[] = {
    {"neutral32.exe", false, {0x0000}},    {"tiny32.exe", false, {0x0409}},  {"tiny64.exe", true, {0x0409}},
    {"two64.exe", true, {0x0407, 0x0409}}, {"plain32.exe", false, {0x0409}}, {"plain64.exe", true, {0x0409}},
};

const std::vector<std::string> kChanges = {
    "--file-version", "2.4.0.117", "--string", "Comments=Ünïcode ✓", "--string", "ProductName=QuillSet", "--flag",
    "prerelease",     "--no-flag", "debug",    "--file-subtype",     "DRV SOUND"};

class SetOnModules : public testing::Test {
protected:
  void SetUp() override {
    if (!QM_CLI_HAVE_FIXTURES || !QM_CLI_HAVE_PE32PLUS) GTEST_SKIP() << "mingw-w64 (both compilers) is needed";
    for (const ModuleCase &c : kModules) {
      const fs::path path = dir.path() / c.fixture;
      WriteBytes(path, WithOverlay(ReadBytes(Fixture(c.fixture))));
      before[c.fixture] = ReadResources(path);
    }
  }

  std::vector<std::string> SetAll() {
    std::vector<std::string> args = {"set"};
    for (const ModuleCase &c : kModules)
      args.push_back(dir / c.fixture);
    args.insert(args.end(), kChanges.begin(), kChanges.end());
    return args;
  }

  ScratchDir dir;
  std::map<std::string, Resources> before;
};

TEST_F(SetOnModules, ChangesWhatItIsToldAndKeepsTheRest) {
  CliRun run = RunCliCaptured(SetAll());
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out + run.err, "");
  for (const ModuleCase &c : kModules) {
    SCOPED_TRACE(c.fixture);
    const auto image = ReadBytes(dir.path() / c.fixture);
    EXPECT_TRUE(EndsWithOverlay(image));
    const Resources after = ReadResources(dir.path() / c.fixture);
    EXPECT_EQ(Others(after), Others(before[c.fixture]));
    const auto oldVersions = Versions(before[c.fixture]);
    const auto versions = Versions(after);
    std::vector<std::uint16_t> languages;
    for (const auto &[language, info] : versions)
      languages.push_back(language);
    EXPECT_EQ(languages, c.languagesAfter) << "one version resource per language, under the language it had";
    for (const auto &[language, info] : versions) {
      const FixedFileInfo &f = info.Fixed;
      EXPECT_EQ(std::tuple(f.FileMajor, f.FileMinor, f.FileRelease, f.FileBuild), std::tuple(2, 4, 0, 117));
      EXPECT_EQ(f.Flags & 0x3u, 0x2u);
      EXPECT_EQ(f.FlagsMask & 0x3u, 0x3u);
      EXPECT_EQ(f.FileSubType, 9u);
      ASSERT_FALSE(info.Tables.empty());
      const VersionInfo *old = oldVersions.contains(language) ? &oldVersions.at(language) : nullptr;
      if (old) {
        EXPECT_EQ(std::tuple(f.ProdMajor, f.FileOs), std::tuple(old->Fixed.ProdMajor, old->Fixed.FileOs));
        EXPECT_EQ(info.Translations.size(), old->Translations.size());
        ASSERT_EQ(info.Tables.size(), old->Tables.size());
      } else {
        EXPECT_EQ(info.Tables[0].Key, u"040904B0");
        EXPECT_EQ(f.FileOs, 0x40004u);
        EXPECT_EQ(f.FileType, 1u);
      }
      for (std::size_t t = 0; t < info.Tables.size(); ++t) {
        const StringTable &table = info.Tables[t];
        EXPECT_EQ(Find(table, u"Comments"), u"Ünïcode ✓");
        EXPECT_EQ(Find(table, u"ProductName"), u"QuillSet");
        if (!old) continue;
        // Every old string stays where it was; a FileVersion of any case
        // is the one that changes, and is not added twice.
        const StringTable &was = old->Tables[t];
        EXPECT_EQ(table.Key, was.Key);
        for (std::size_t s = 0; s < was.Strings.size(); ++s) {
          ASSERT_LT(s, table.Strings.size());
          EXPECT_EQ(table.Strings[s].Key, was.Strings[s].Key);
          const std::string key = Utf16ToUtf8(was.Strings[s].Key);
          const bool changed = key == "Comments" || key == "FileVersion" || key == "fileversion";
          if (!changed) {
            EXPECT_EQ(table.Strings[s].Value, was.Strings[s].Value);
          }
        }
        int fileVersions = 0;
        for (const DecodedString &s : table.Strings) {
          if (Utf16ToUtf8(s.Key) == "FileVersion" || Utf16ToUtf8(s.Key) == "fileversion") {
            ++fileVersions;
            EXPECT_EQ(s.Value, u"2.4.0.117");
          }
        }
        EXPECT_EQ(fileVersions, 1);
      }
    }
  }
}

TEST_F(SetOnModules, PlatformReadsTheNewValuesUnderWine) {
  if (std::system("command -v wine >/dev/null 2>&1") != 0) GTEST_SKIP() << "wine is not installed";
  ASSERT_EQ(RunCliCaptured(SetAll()).code, 0);
  fs::copy_file(Fixture("verquery32.exe"), dir.path() / "verquery32.exe");
  std::string command =
      "cd '" + dir.path().string() + "' && '" + QM_CLI_WINE_RUN + "' '" + QM_CLI_WINEPREFIX + "' verquery32.exe";
  for (const ModuleCase &c : kModules)
    command += std::string(" ") + c.fixture;
  command += " -- FileVersion ProductName CompanyName > verquery.txt 2> verquery.err";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::map<std::string, std::string> lines;
  std::ifstream in(dir.path() / "verquery.txt");
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines[line.substr(0, line.find(' '))] = line.substr(line.find(' ') + 1);
  }
  for (const ModuleCase &c : kModules) {
    SCOPED_TRACE(c.fixture);
    const std::string &line = lines[c.fixture];
    EXPECT_NE(line.find("ver=2.4.0.117 "), std::string::npos) << line;
    EXPECT_NE(line.find(" flags=2 "), std::string::npos) << line;
    EXPECT_NE(line.find(" FileVersion=2.4.0.117 "), std::string::npos) << line;
    EXPECT_NE(line.find(" ProductName=QuillSet"), std::string::npos) << line;
  }
  // A string set is the only one that changed: the old company names stay.
  EXPECT_NE(lines["neutral32.exe"].find("CompanyName=Neutral Works"), std::string::npos) << lines["neutral32.exe"];
  EXPECT_NE(lines["tiny32.exe"].find("CompanyName=Fixture Works"), std::string::npos) << lines["tiny32.exe"];
}

TEST_F(SetOnModules, DryRunPrintsAndWritesNothing) {
  std::vector<std::string> args = SetAll();
  args.push_back("--dry-run");
  std::map<std::string, std::vector<std::uint8_t>> images;
  for (const ModuleCase &c : kModules)
    images[c.fixture] = ReadBytes(dir.path() / c.fixture);
  CliRun run = RunCliCaptured(args);
  ASSERT_EQ(run.code, 0) << run.err;
  for (const ModuleCase &c : kModules)
    EXPECT_EQ(ReadBytes(dir.path() / c.fixture), images[c.fixture]) << c.fixture;
  EXPECT_NE(run.out.find("Read from:       module, language 0x0407\nAlso stored in:  language 0x0409\n"
                         "File version:    2.4.0.117\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("  Comments = Ünïcode ✓\n"), std::string::npos);
}

TEST_F(SetOnModules, LanguageOptionPicksOneResource) {
  CliRun run = RunCliCaptured({"set", "--string", "FileDescription=Neu", "--language", "0407", dir / "two64.exe"});
  ASSERT_EQ(run.code, 0) << run.err;
  auto versions = Versions(ReadResources(dir.path() / "two64.exe"));
  EXPECT_EQ(Find(versions[0x0407].Tables[0], u"FileDescription"), u"Neu");
  EXPECT_EQ(Find(versions[0x0409].Tables[0], u"FileDescription"), u"English");

  const auto image = ReadBytes(dir.path() / "two64.exe");
  run = RunCliCaptured({"set", dir / "two64.exe", "--language", "0x0C0A", "--string", "A=b"});
  EXPECT_EQ(run.code, 9);
  EXPECT_NE(run.err.find("has no version resource under language 0x0C0A (it has 0x0407, 0x0409)"), std::string::npos)
      << run.err;
  EXPECT_EQ(ReadBytes(dir.path() / "two64.exe"), image);
}

TEST_F(SetOnModules, EachModuleFailsOnItsOwnWithTheWorstCode) {
  WriteText(dir / "text.exe", "not a module");
  WriteText(dir / "junk.bin", "VS_VERSION_INFO, or so it says");
  ASSERT_EQ(RunCliCaptured({"inject", "--raw", dir / "plain32.exe", dir / "junk.bin"}).code, 0);
  const auto image = ReadBytes(dir.path() / "tiny32.exe");
  const auto damaged = ReadBytes(dir.path() / "plain32.exe");
  CliRun run = RunCliCaptured({"set", dir / "missing.exe", dir / "text.exe", dir / "plain32.exe", dir / "tiny32.exe",
                               "--string", "Comments=x"});
  EXPECT_EQ(run.code, 6) << "not a module (6) is worse than a missing one (5) or damaged version information (8)";
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 3) << run.err;
  EXPECT_NE(run.err.find("missing.exe': it does not exist"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("text.exe' is not a PE module"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("plain32.exe' under language 0x0000 is damaged"), std::string::npos) << run.err;
  EXPECT_EQ(ReadBytes(dir.path() / "plain32.exe"), damaged);
  EXPECT_NE(ReadBytes(dir.path() / "tiny32.exe"), image) << "the good module is still written";

  auto installer = ReadBytes(Fixture("tiny32.exe"));
  const std::string id = "Inno Setup Setup Data (6.2.2)";
  installer.insert(installer.end(), id.begin(), id.end());
  WriteBytes(dir.path() / "installer.exe", installer);
  run = RunCliCaptured({"set", dir / "installer.exe", dir / "missing.exe", "--string", "Comments=y"});
  EXPECT_EQ(run.code, 5) << "a missing module (5) is worse than one the stamp would break (12): " << run.err;
  EXPECT_NE(run.err.find("installer.exe' carries an appended Inno Setup installer"), std::string::npos) << run.err;
  // A dry run fails where the real run would, and shows nothing it would not write.
  run = RunCliCaptured({"set", "--dry-run", dir / "installer.exe", "--string", "Comments=y"});
  EXPECT_EQ(run.code, 12) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(ReadBytes(dir.path() / "installer.exe"), installer);
}

// A version leaf whose address no section maps: show, extract and set read
// it with one reader and say the same thing about it.
TEST_F(SetOnModules, UnmappedVersionLeafHasOneVerdict) {
  const std::string module = dir / "tiny32.exe";
  auto image = ReadBytes(module);
  pe::MemorySource source(image);
  const auto headers = pe::ParseHeaders(source);
  ASSERT_TRUE(headers.ok()) << headers.error();
  const auto leaves = pe::ParseResourceTree(source, *headers);
  ASSERT_TRUE(leaves.ok()) << leaves.error();
  const auto version = std::find_if(leaves->begin(), leaves->end(),
                                    [](const pe::ResourceLeaf &l) { return l.type == pe::ResourceId(16); });
  ASSERT_NE(version, leaves->end());
  // Its data entry: the leaf's address followed by its size.
  std::vector<std::uint8_t> entry(8);
  PutU32(entry, 0, version->dataRva);
  PutU32(entry, 4, version->size);
  const auto at = std::search(image.begin(), image.end(), entry.begin(), entry.end());
  ASSERT_NE(at, image.end());
  PutU32(image, static_cast<std::size_t>(at - image.begin()), 0x7FFF0000);
  WriteBytes(module, image);
  for (const std::vector<std::string> &args : {std::vector<std::string>{"show", module},
                                               {"extract", module, dir / "out.bin"},
                                               {"set", module, "--string", "Comments=x"}}) {
    SCOPED_TRACE(args[0]);
    const CliRun run = RunCliCaptured(args);
    EXPECT_EQ(run.code, 6);
    EXPECT_NE(run.err.find("resource 16/1/1033: data at RVA 0x7fff0000 is in no section"), std::string::npos)
        << run.err;
    EXPECT_EQ(ReadBytes(module), image);
  }
}

// Every language of a module with thousands of them is changed. Languages
// that share one block keep sharing the new one, unless the edit gives each
// a table named after its language.
TEST_F(SetOnModules, EveryLanguageOfManyIsChanged) {
  constexpr std::uint16_t kLanguages = 4096;
  const std::string module = dir / "tiny32.exe";
  const auto original = ReadBytes(module);
  VersionInfo bare; // no table and no translation
  bare.HasFixedPart = true;
  for (const bool withoutTable : {false, true}) {
    SCOPED_TRACE(withoutTable ? "a block without a table" : "a block with its table");
    auto update = pe::ResourceUpdate::BeginInMemory(original);
    ASSERT_TRUE(update.ok()) << update.error();
    const pe::ResourceItem *held = update->Find(pe::kTypeVersion, 1, 0x0409);
    ASSERT_NE(held, nullptr);
    const pe::LeafBytes block = withoutTable ? pe::LeafBytes(EncodeVersionInfo(bare).value()) : held->data;
    for (std::uint16_t language = 0; language < kLanguages; ++language)
      ASSERT_TRUE(update->PutShared(pe::kTypeVersion, 1, language, block).ok());
    const auto composed = update->Compose();
    ASSERT_TRUE(composed.ok()) << composed.error();
    const auto stamped = composed->Materialize(update->Source());
    ASSERT_TRUE(stamped.ok()) << stamped.error();
    WriteBytes(module, *stamped);

    const CliRun run = RunCliCaptured({"set", module, "--string", "Comments=many"});
    ASSERT_EQ(run.code, 0) << run.err;
    const auto versions = Versions(ReadResources(module));
    ASSERT_EQ(versions.size(), std::size_t{kLanguages}) << "0x0409 among them";
    for (const auto &[language, info] : versions) {
      ASSERT_EQ(info.Tables.size(), 1u) << language;
      EXPECT_EQ(Find(info.Tables[0], u"Comments"), u"many") << language;
      char key[9];
      std::snprintf(key, sizeof key, "%04X04B0", static_cast<unsigned>(withoutTable ? language : 0x0409));
      EXPECT_EQ(info.Tables[0].Key, Utf8ToUtf16(key)) << language;
    }
    const auto image = ReadBytes(module);
    pe::MemorySource source(image);
    const auto leaves = pe::ParseResourceTree(source, pe::ParseHeaders(source).value());
    ASSERT_TRUE(leaves.ok()) << leaves.error();
    std::set<std::uint32_t> addresses;
    for (const pe::ResourceLeaf &leaf : *leaves)
      if (leaf.type == pe::ResourceId(pe::kTypeVersion)) addresses.insert(leaf.dataRva);
    EXPECT_EQ(addresses.size(), withoutTable ? kLanguages : 1u) << "new blocks stored once for each, or once for all";
  }
}

// Runs at once on one module follow each other: each reads the module
// only once the one before has replaced it, so no run's string is lost.
TEST_F(SetOnModules, RunsAtOnceLoseNoChange) {
  constexpr int kRuns = 6;
  std::vector<std::thread> runs;
  std::atomic<int> failed{0};
  for (int i = 0; i < kRuns; ++i) {
    runs.emplace_back([&, i] {
      const std::string key = "Run" + std::to_string(i);
      if (RunCliCaptured({"set", dir / "two64.exe", "--string", key + "=" + std::to_string(i)}).code != 0) ++failed;
    });
  }
  for (std::thread &run : runs)
    run.join();
  EXPECT_EQ(failed, 0);
  for (const auto &[language, info] : Versions(ReadResources(dir.path() / "two64.exe"))) {
    for (int i = 0; i < kRuns; ++i) {
      const std::u16string key = Utf8ToUtf16("Run" + std::to_string(i));
      EXPECT_EQ(Find(info.Tables[0], key), Utf8ToUtf16(std::to_string(i))) << "language " << language << ", run " << i;
    }
  }
}

// What show --json holds after a run: the fixed versions and the strings of
// the first table.
std::string ShownVersions(const std::string &module) {
  const CliRun shown = RunCliCaptured({"show", "--json", module});
  if (shown.code != 0) return "show failed: " + shown.err;
  const auto json = nlohmann::json::parse(shown.out);
  std::string text = json["fileVersion"].get<std::string>() + " " + json["productVersion"].get<std::string>();
  for (const auto &pair : json["stringTables"][0]["strings"])
    text += " " + pair[0].get<std::string>() + "=" + pair[1].get<std::string>();
  return text;
}

// Versions as people write them: the fixed part takes the numbers, the
// strings the text; a string option sets the string alone.
TEST_F(SetOnModules, VersionsAsWritten) {
  const std::string module = dir / "tiny32.exe";
  const struct {
    std::vector<std::string> args;
    const char *shown; // file, product, then the strings of the first table
  } cases[] = {
      {{"--file-version", "v2.4"}, "2.4.0.0 9.8.0.0 CompanyName=Fixture Works FileVersion=v2.4"},
      {{"--file-version", "2.4.0-rc.1+g1a2b", "--product-version", "2.4 beta"},
       "2.4.0.0 2.4.0.0 CompanyName=Fixture Works FileVersion=2.4.0-rc.1+g1a2b ProductVersion=2.4 beta"},
      {{"--file-version", "3.1", "--file-version-string", "3.1 (nightly)"},
       "3.1.0.0 9.8.0.0 CompanyName=Fixture Works FileVersion=3.1 (nightly)"},
      {{"--product-version-string", "Q3"},
       "9.8.7.6 9.8.0.0 CompanyName=Fixture Works FileVersion=9.8.7.6 ProductVersion=Q3"},
      {{"--file-version", "0002.4.0.1"}, "2.4.0.1 9.8.0.0 CompanyName=Fixture Works FileVersion=2.4.0.1"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args[1]);
    fs::copy_file(Fixture("tiny32.exe"), module, fs::copy_options::overwrite_existing);
    std::vector<std::string> args = {"set", module};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliRun run = RunCliCaptured(args);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(ShownVersions(module), c.shown);
  }
  // apply's file: the numbers only; its tables are written as listed.
  WriteText(dir / "v.json", R"j({"fileVersion": "v3.2-beta", "productVersion": "4",
      "stringTables": [{"key": "040904B0", "strings": [["A", "b"]]}]})j");
  const CliRun run = RunCliCaptured({"apply", module, dir / "v.json"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ShownVersions(module), "3.2.0.0 4.0.0.0 A=b");
}

TEST(SetArguments, AreRefusedBeforeAnyModuleIsTouched) {
  ScratchDir dir;
  WriteText(dir / "m.exe", "untouched");
  const struct {
    std::vector<std::string> args;
    const char *message;
  } cases[] = {
      {{"--file-version", "1.2.3.4.5"},
       "--file-version: '1.2.3.4.5' has more than four parts; write [v]A[.B[.C[.D]]] with parts 0 to 65535"},
      {{"--product-version", "1.2x"}, "--product-version: '1.2x' is not a version; write [v]A[.B[.C[.D]]]"},
      {{"--file-version", "1.2-\xff"}, "--file-version: '1.2-\xff' is not valid UTF-8"},
      {{"--product-version-string", "\xff"}, "--product-version-string: '\xff' is not valid UTF-8"},
      {{"--file-version-string", "x", "--remove-string", "FILEVERSION"}, "the same string is also set"},
      {{"--product-version", "1.2.3.70000"}, "larger than 65535"},
      {{"--flag", "fast"}, "'fast' is not a flag"},
      {{"--flag", "debug", "--no-flag", "DEBUG"}, "both --flag and --no-flag"},
      {{"--string", "=value"}, "is not KEY=VALUE"},
      {{"--string", "Key=\xff"}, "is not valid UTF-8"},
      {{"--string", "FileVersion=1", "--remove-string", "fileversion"}, "the same string is also set"},
      {{"--file-version", "1.2.3.4", "--remove-string", "FileVersion"}, "the same string is also set"},
      {{"--table", "0409B0", "--string", "A=b"}, "is not eight hexadecimal digits"},
      {{"--language", "12345", "--string", "A=b"}, "is not a language id"},
      {{"--file-os", "WINDOWS64"}, "is neither a number"},
      {{"--file-type", "0x1FFFFFFFF"}, "is neither a number"},
      {{"--dry-run"}, "nothing to change"},
  };
  for (const auto &c : cases) {
    std::vector<std::string> args = {"set", dir / "m.exe"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    CliRun run = RunCliCaptured(args);
    EXPECT_EQ(run.code, 2) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_EQ(ReadBytes(dir.path() / "m.exe"), std::vector<std::uint8_t>({'u', 'n', 't', 'o', 'u', 'c', 'h', 'e', 'd'}));
}

class ApplyOnModules : public SetOnModules {};

TEST_F(ApplyOnModules, ShowsOwnOutputChangesNothing) {
  for (const ModuleCase &c : kModules) {
    if (before[c.fixture].empty() || Versions(before[c.fixture]).empty()) continue;
    // show --json's form, and a resource script: apply tells them apart by content.
    for (const std::vector<std::string> &format : {std::vector<std::string>{"--json"}, {"--format", "rc"}}) {
      SCOPED_TRACE(std::string(c.fixture) + " " + format.back());
      std::vector<std::string> show = {"show"};
      show.insert(show.end(), format.begin(), format.end());
      show.push_back(dir / c.fixture);
      CliRun shown = RunCliCaptured(show);
      ASSERT_EQ(shown.code, 0) << shown.err;
      WriteText(dir / "v.info", shown.out);
      CliRun run = RunCliCaptured({"apply", dir / c.fixture, dir / "v.info"});
      ASSERT_EQ(run.code, 0) << run.err;
      // windres's blocks come back byte for byte, so every resource is equal.
      EXPECT_EQ(ReadResources(dir.path() / c.fixture), before[c.fixture]);
      EXPECT_TRUE(EndsWithOverlay(ReadBytes(dir.path() / c.fixture)));
    }
  }
}

// A script written elsewhere lands under its LANGUAGE, or under --language,
// and show --format rc gives it back as it was.
TEST_F(ApplyOnModules, WritesAScriptUnderItsLanguage) {
  CliRun shown = RunCliCaptured({"show", "--format", "rc", dir / "tiny32.exe"});
  ASSERT_EQ(shown.code, 0) << shown.err;
  std::string script = shown.out;
  for (const auto &[from, to] : {std::pair<std::string, std::string>{"LANGUAGE 0x9, 0x1", "LANGUAGE 0x7, 0x1"},
                                 {"FILEVERSION 9,8,7,6", "FILEVERSION 4,0,0,2"},
                                 {"\"Fixture Works\"", "L\"Fixture \\x00C4rger\""}}) {
    ASSERT_NE(script.find(from), std::string::npos) << script;
    script.replace(script.find(from), from.size(), to);
  }
  WriteText(dir / "v.rc", script);
  ASSERT_EQ(RunCliCaptured({"apply", dir / "plain64.exe", dir / "v.rc"}).code, 0);
  EXPECT_EQ(Versions(ReadResources(dir.path() / "plain64.exe")).count(0x0407), 1u);
  EXPECT_EQ(RunCliCaptured({"show", "--format", "rc", dir / "plain64.exe"}).out, script);

  // --language wins over LANGUAGE; other statements are skipped when asked.
  WriteText(dir / "v.rc", "1 ICON \"app.ico\"\n" + script);
  CliRun run = RunCliCaptured({"apply", "--only-version", "--language", "0409", dir / "tiny64.exe", dir / "v.rc"});
  ASSERT_EQ(run.code, 0) << run.err;
  auto versions = Versions(ReadResources(dir.path() / "tiny64.exe"));
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(versions[0x0409].Fixed.FileMajor, 4);
  EXPECT_EQ(Find(versions[0x0409].Tables.at(0), u"CompanyName"), u"Fixture \u00c4rger");
}

TEST_F(ApplyOnModules, WritesAnEditedDescription) {
  WriteText(dir / "v.json", R"j({"language": 1031, "fileVersion": "7.7.7.7", "fileOs": "NT (WINDOWS32)",
      "fileOsName": "NT (WINDOWS32)", "fileFlags": 32, "fileFlagNames": ["Special build"],
      "stringTables": [{"key": "040704B0", "strings": [["Ä", "ö"], ["Ä", ""]]}], "translations": [[1031, 1200]]})j");
  CliRun run = RunCliCaptured({"apply", dir / "plain64.exe", dir / "v.json"});
  ASSERT_EQ(run.code, 0) << run.err;
  auto versions = Versions(ReadResources(dir.path() / "plain64.exe"));
  ASSERT_EQ(versions.size(), 1u);
  const VersionInfo &v = versions[0x0407];
  EXPECT_EQ(std::tuple(v.Fixed.FileMajor, v.Fixed.FileOs, v.Fixed.Flags, v.Fixed.StrucVersion),
            std::tuple(7, 0x40004u, 0x20u, 0x10000u));
  ASSERT_EQ(v.Tables.size(), 1u);
  EXPECT_EQ(v.Tables[0].Strings, (std::vector<DecodedString>{{u"Ä", u"ö"}, {u"Ä", u""}}));

  // --language wins over the file's member.
  ASSERT_EQ(RunCliCaptured({"apply", "--language", "0409", dir / "tiny32.exe", dir / "v.json"}).code, 0);
  versions = Versions(ReadResources(dir.path() / "tiny32.exe"));
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(versions[0x0409].Fixed.FileMajor, 7);
}

TEST_F(ApplyOnModules, RefusalsLeaveTheModuleAsItWas) {
  WriteText(dir / "text.exe", "not a module");
  const struct {
    std::string json;
    const char *module;
    int code;
    std::string message;
  } cases[] = {
      {R"({"fileVersion": "1.2.3.4", "colour": 1})", "tiny32.exe", 10, "unknown member \"colour\""},
      {R"({"fileOs": 4, "fileOsName": "DOS"})", "tiny32.exe", 10, "fileOsName: \"DOS\" does not name"},
      {R"({"fileFlags": 1, "fileFlagNames": []})", "tiny32.exe", 10, "fileFlagNames: [] does not name"},
      {R"({"hasFixedPart": false, "fileDate": 0})", "tiny32.exe", 10, "fileDate: there is no fixed part"},
      {R"({"stringTables": [{"key": "040904B0", "strings": [["A", "x\u0000y"]]}]})", "tiny32.exe", 10,
       "stringTables[0].strings[0]: a text may not contain"},
      {R"({"stringTables": [{"key": "040904B0", "rows": []}]})", "tiny32.exe", 10, "unknown member \"rows\""},
      {R"({"translations": [[1033, 65536]]})", "tiny32.exe", 10, "translations[0]: expected a whole number"},
      {R"({"language": -1})", "tiny32.exe", 10, "language: expected a whole number from 0 to 65535"},
      {R"({"fileVersion": "1.2.3.4",)", "tiny32.exe", 10, "not valid JSON"},
      {R"({"productVersion": "v1.2.3.4.5"})", "tiny32.exe", 10, "productVersion: 'v1.2.3.4.5' has more than four"},
      {R"({"fileVersion": "7.7.7.7", "language": 1033, "fileVersion": "1.2.3.4"})", "tiny32.exe", 10,
       "the member \"fileVersion\" is named twice"},
      // Refused before the parser recurses; names and values are quoted
      // escaped and cut short, so the message stays one short line.
      {R"({"stringTables": )" + std::string(100000, '[') + std::string(100000, ']') + "}", "tiny32.exe", 10,
       "nested deeper than 64 levels"},
      {R"({"\u001b[2J\nFile version: 9": 1})", "tiny32.exe", 10, R"(unknown member "\x1B[2J\nFile version: 9")"},
      {R"({"kind": [")" + std::string(5000, 'x') + R"("]})", "tiny32.exe", 10, "kind: expected a text, not [\"xxx"},
      {R"({"selfCheckingPacker": ["PESpin"]})", "tiny32.exe", 10,
       "selfCheckingPacker: expected a packer's name or null, not [\"PESpin\"]"},
      // Not JSON by its first character, so a resource script.
      {"1 VERSIONINFO\nFILEVERSON 1\nBEGIN\nEND\n", "tiny32.exe", 10,
       "the resource script '" + dir / "v.json" + "' is refused: line 2, column 1: "},
      {"1 ICON \"app.ico\"\n1 VERSIONINFO\nBEGIN\nEND\n", "tiny32.exe", 10,
       "line 1, column 3: only VERSIONINFO is read, not 'ICON' (--only-version skips"},
      {"", "tiny32.exe", 10, "no VERSIONINFO"},
      {"1 VERSIONINFO\nBEGIN\nBLOCK \"StringFileInfo\"\nBEGIN\nBLOCK \"040904B0\"\nBEGIN\nVALUE \"A\", "
       "\"caf\x81\"\n",
       "tiny32.exe", 10, "line 7, column 12: the byte 0x81, which code page 1252 lacks"},
      {R"({})", "missing.exe", 5, "it does not exist"},
      {R"({})", "text.exe", 6, "is not a PE module"},
  };
  for (const auto &c : cases) {
    const auto image = ReadBytes(dir.path() / c.module);
    WriteText(dir / "v.json", c.json);
    CliRun run = RunCliCaptured({"apply", dir / c.module, dir / "v.json"});
    EXPECT_EQ(run.code, c.code) << c.json;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_LT(run.err.size(), 600u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(ReadBytes(dir.path() / c.module), image) << c.json;
  }
  CliRun run = RunCliCaptured({"apply", dir / "tiny32.exe", dir / "nothing.json"});
  EXPECT_EQ(run.code, 3) << run.err;

  std::string many = R"({"stringTables": [{"key": "040904B0", "strings": [)";
  for (int i = 0; i < 5000; ++i)
    many += std::string(i ? "," : "") + R"(["K", "v"])";
  WriteText(dir / "many.json", many + "]}]}");
  const auto image = ReadBytes(dir.path() / "tiny32.exe");
  run = RunCliCaptured({"apply", dir / "tiny32.exe", dir / "many.json"});
  EXPECT_EQ(run.code, 10);
  EXPECT_NE(run.err.find("StringFileInfo/040904B0: 80"), std::string::npos) << run.err;
  EXPECT_EQ(ReadBytes(dir.path() / "tiny32.exe"), image);
}

} // namespace
} // namespace qm::cli::test
