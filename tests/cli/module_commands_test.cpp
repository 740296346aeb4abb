// inject, extract and stamp on real modules built by mingw: what lands in
// the module, what stays, and that every failure leaves the module's bytes
// exactly as they were.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include <functional>
#include <map>
#include <tuple>

#include "../codec/block_builder.h"
#include "cli_test_support.h"
#include "codec/text_codec.h"
#include "pe/byte_source.h"
#include "pe/pe_image.h"
#include "pe/res_file.h"
#include "pe/resource_tree.h"

namespace qm::cli::test {
namespace {

using nlohmann::json;
using ResourceKey = std::tuple<std::string, std::string, std::uint16_t>;

// Every resource of a module by (type, name, language).
std::map<ResourceKey, std::vector<std::uint8_t>> Resources(const fs::path &module) {
  const auto bytes = ReadBytes(module);
  pe::MemorySource source(bytes);
  auto headers = pe::ParseHeaders(source);
  EXPECT_TRUE(headers) << headers.error();
  if (!headers) return {};
  auto leaves = pe::ParseResourceTree(source, *headers);
  EXPECT_TRUE(leaves) << leaves.error();
  if (!leaves) return {};
  std::map<ResourceKey, std::vector<std::uint8_t>> all;
  for (const auto &leaf : *leaves) {
    auto data = pe::ReadLeafData(source, *headers, leaf);
    EXPECT_TRUE(data) << data.error();
    if (data) all[{leaf.type.ToString(), leaf.name.ToString(), leaf.language}] = *data;
  }
  return all;
}

const ResourceKey kNeutralVersion{"16", "1", 0};

class ModuleCommands : public ::testing::Test {
protected:
  void SetUp() override {
    if (!QM_CLI_HAVE_FIXTURES) GTEST_SKIP() << "the mingw-w64 i686 compiler and windres are needed for test modules";
    fs::copy_file(Fixture("tiny32.exe"), dir.path() / "tiny.exe");
    fs::copy_file(Fixture("plain32.exe"), dir.path() / "plain.exe");
    WriteText(dir / "fields.json", R"j({"fileVersion": "3.1.4.1", "productVersion": "3.1.0.0", "special": true,
        "fileOs": "NT (WINDOWS32)", "fileType": "APP", "language": "0809", "codePage": "1252",
        "strings": [["CompanyName", "Brindlewick"], ["FileVersion", "3.1.4.1"]]})j");
    ASSERT_EQ(RunCliCaptured({"build", dir / "fields.json", dir / "block.res"}).code, 0);
    block = ReadBytes(dir.path() / "block.res");
  }

  ScratchDir dir;
  std::vector<std::uint8_t> block;
};

TEST_F(ModuleCommands, InjectStoresTheBlockUnderLanguageZeroAndKeepsTheRest) {
  const auto before = Resources(dir.path() / "tiny.exe");
  ASSERT_FALSE(before.contains(kNeutralVersion));
  CliRun run = RunCliCaptured({"inject", dir / "tiny.exe", dir / "block.res"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(run.out.empty() && run.err.empty());

  auto after = Resources(dir.path() / "tiny.exe");
  EXPECT_EQ(after[kNeutralVersion], block);
  after.erase(kNeutralVersion);
  EXPECT_EQ(after, before) << "every other resource, the old US English version included, stays";

  CliRun shown = RunCliCaptured({"show", "--json", dir / "tiny.exe"});
  ASSERT_EQ(shown.code, 0) << shown.err;
  const json info = json::parse(shown.out);
  EXPECT_EQ(info["language"], 0);
  EXPECT_EQ(info["otherLanguages"], json::array({0x0409}));
  EXPECT_EQ(info["fileVersion"], "3.1.4.1");

  ASSERT_EQ(RunCliCaptured({"extract", dir / "tiny.exe", dir / "back.res"}).code, 0);
  EXPECT_EQ(ReadBytes(dir.path() / "back.res"), block);
}

TEST_F(ModuleCommands, StampEqualsBuildThenInject) {
  fs::copy_file(dir.path() / "tiny.exe", dir.path() / "two.exe");
  ASSERT_EQ(RunCliCaptured({"stamp", dir / "tiny.exe", dir / "fields.json"}).code, 0);
  ASSERT_EQ(RunCliCaptured({"inject", dir / "two.exe", dir / "block.res"}).code, 0);
  EXPECT_EQ(ReadBytes(dir.path() / "tiny.exe"), ReadBytes(dir.path() / "two.exe"));
}

TEST_F(ModuleCommands, InjectTwiceReplacesTheNeutralEntry) {
  ASSERT_EQ(RunCliCaptured({"inject", dir / "tiny.exe", dir / "block.res"}).code, 0);
  const std::vector<std::uint8_t> other = {'V', 'S', 0, 0, 1, 2, 3};
  WriteBytes(dir.path() / "other.bin", other);
  ASSERT_EQ(RunCliCaptured({"inject", "--raw", dir / "tiny.exe", dir / "other.bin"}).code, 0);
  const auto after = Resources(dir.path() / "tiny.exe");
  EXPECT_EQ(after.at(kNeutralVersion), other);
  EXPECT_EQ(std::count_if(after.begin(), after.end(), [](const auto &r) { return std::get<0>(r.first) == "16"; }), 2);
}

TEST_F(ModuleCommands, InjectTakesTheVersionResourceOfACompiledResFile) {
  ASSERT_EQ(RunCliCaptured({"inject", dir / "plain.exe", Fixture("tiny.res").string()}).code, 0);
  auto entries = pe::ParseResFile(ReadBytes(Fixture("tiny.res")));
  ASSERT_TRUE(entries) << entries.error();
  auto version = std::find_if(entries->begin(), entries->end(),
                              [](const pe::ResFileEntry &e) { return e.type == pe::ResourceId(16); });
  ASSERT_NE(version, entries->end());
  EXPECT_EQ(Resources(dir.path() / "plain.exe").at(kNeutralVersion), version->data);
}

TEST_F(ModuleCommands, StampsAPe32PlusModule) {
  if (!QM_CLI_HAVE_PE32PLUS) GTEST_SKIP() << "the mingw-w64 x86_64 compiler is needed for a PE32+ module";
  fs::copy_file(Fixture("tiny64.exe"), dir.path() / "tiny64.exe");
  ASSERT_EQ(RunCliCaptured({"stamp", dir / "tiny64.exe", dir / "fields.json"}).code, 0);
  EXPECT_EQ(Resources(dir.path() / "tiny64.exe").at(kNeutralVersion), block);
}

TEST_F(ModuleCommands, ExtractGivesTheResourceTheEditorWouldOpen) {
  ASSERT_EQ(RunCliCaptured({"extract", dir / "tiny.exe", dir / "x.res"}).code, 0);
  EXPECT_EQ(ReadBytes(dir.path() / "x.res"), (Resources(dir.path() / "tiny.exe").at({"16", "1", 0x0409})));
}

// A failure case: the command line and what it must end with. The module
// in the case is always compared with its bytes before the run.
struct Failing {
  const char *name;
  std::function<void(const ScratchDir &)> prepare;
  std::vector<std::string> args; // "@" stands for the scratch folder
  int code;
  const char *message;
  friend void PrintTo(const Failing &c, std::ostream *os) { *os << c.name; }
};

class ModuleCommandFails : public ModuleCommands, public ::testing::WithParamInterface<Failing> {};

// The regular files of the folder (links and special files left out).
std::map<std::string, std::vector<std::uint8_t>> RegularFiles(const ScratchDir &dir) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  for (const auto &entry : fs::directory_iterator(dir.path())) {
    if (fs::symlink_status(entry.path()).type() == fs::file_type::regular)
      files[entry.path().filename().string()] = ReadBytes(entry.path());
  }
  return files;
}

// A control character that reached the message raw: C0 (the line's own end
// aside), DEL, or C1 in UTF-8.
bool HoldsRawControl(const std::string &line) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if ((c < 0x20 && !(c == '\n' && i + 1 == line.size())) || c == 0x7F) return true;
    if (c == 0xC2 && i + 1 < line.size() && static_cast<unsigned char>(line[i + 1]) <= 0x9F &&
        static_cast<unsigned char>(line[i + 1]) >= 0x80)
      return true;
  }
  return false;
}

TEST_P(ModuleCommandFails, LeavesTheModuleByteForByte) {
  const Failing &c = GetParam();
  if (c.prepare) c.prepare(dir);
  const auto moduleBefore = ReadBytes(dir.path() / "tiny.exe");
  const auto filesBefore = RegularFiles(dir);
  std::vector<std::string> args;
  for (const std::string &arg : c.args)
    args.push_back(arg.starts_with("@/") ? dir / arg.substr(2) : arg);
  CliRun run = RunCliCaptured(args);
  EXPECT_EQ(run.code, c.code) << run.err;
  std::string message = c.message;
  if (const auto at = message.find("@/"); at != std::string::npos) message.replace(at, 2, dir / "");
  EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one line: " << run.err;
  // Whatever the module, the files or the command line hold, the message
  // shows it escaped and short.
  EXPECT_FALSE(HoldsRawControl(run.err)) << run.err;
  EXPECT_LT(run.err.size(), 1000u) << run.err.substr(0, 1000);
  EXPECT_EQ(ReadBytes(dir.path() / "tiny.exe"), moduleBefore);
  EXPECT_EQ(RegularFiles(dir), filesBefore) << "a file was written, added or removed";
  for (const auto &entry : fs::directory_iterator(dir.path())) {
    EXPECT_EQ(entry.path().filename().string().find("tmp"), std::string::npos) << "left behind: " << entry.path();
  }
}

void Write(const ScratchDir &dir, const char *name, std::vector<std::uint8_t> bytes) {
  WriteBytes(dir.path() / name, bytes);
}

// Text that would forge a message line of its own and drive the terminal,
// and the same made long enough to flood a message.
const std::string kForged = "\n\x1B[31mquillmark-cli: forged\x1B]0;title\x07\xC2\x9B";
const std::string kForgedLong = kForged + std::string(40000, 'K');

// hostile.exe: tiny.exe with a version block one of whose strings has a
// forged key (20000 characters) and a value type no block has.
void HostileModule(const ScratchDir &d) {
  const std::u16string key = Utf8ToUtf16(kForged) + std::u16string(20000, u'K');
  const auto entry = qm::test::Child(key, 1, 7, {0, 0});
  const auto block = qm::test::WithChildren(
      qm::test::Encode(qm::test::BasicFields()),
      {qm::test::Child(u"StringFileInfo", 0, 1, {}, qm::test::Child(u"040904B0", 0, 1, {}, entry))});
  Write(d, "hostile.res", block);
  fs::copy_file(d.path() / "tiny.exe", d.path() / "hostile.exe");
  ASSERT_EQ(RunCliCaptured({"inject", "--raw", d / "hostile.exe", d / "hostile.res"}).code, 0);
}

void HostileJson(const ScratchDir &d, const char *name, const json &value) { WriteText(d / name, value.dump()); }

// The start of Inno Setup's setup data after the image: its loader checks
// the file's sizes, which no stamp keeps.
void AppendInnoData(const ScratchDir &dir) {
  auto bytes = ReadBytes(dir.path() / "tiny.exe");
  const std::string id = "Inno Setup Setup Data (6.2.2)";
  bytes.insert(bytes.end(), id.begin(), id.end());
  bytes.resize(bytes.size() + 200, 0x11);
  WriteBytes(dir.path() / "tiny.exe", bytes);
}

// A certificate table after the image, as far as the headers tell.
void FakeSignature(const ScratchDir &dir) {
  auto bytes = ReadBytes(dir.path() / "tiny.exe");
  pe::MemorySource source(bytes);
  const auto headers = pe::ParseHeaders(source);
  ASSERT_TRUE(headers);
  const auto at = static_cast<std::uint32_t>(bytes.size());
  for (int k = 0; k < 4; ++k) {
    bytes[headers->DirectoryOffset(pe::kDirSecurity) + k] = static_cast<std::uint8_t>(at >> (8 * k));
    bytes[headers->DirectoryOffset(pe::kDirSecurity) + 4 + k] = static_cast<std::uint8_t>(64u >> (8 * k));
  }
  bytes.resize(bytes.size() + 64, 0x30);
  WriteBytes(dir.path() / "tiny.exe", bytes);
}

TEST_F(ModuleCommands, ForceStampsAnInnoSetupInstallerWithANotice) {
  AppendInnoData(dir);
  const auto before = ReadBytes(dir.path() / "tiny.exe");
  const CliRun run = RunCliCaptured({"inject", "--force", dir / "tiny.exe", dir / "block.res"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.err.find("stamped with --force"), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  const auto after = ReadBytes(dir.path() / "tiny.exe");
  ASSERT_GE(after.size(), 229u);
  EXPECT_TRUE(std::equal(before.end() - 229, before.end(), after.end() - 229)) << "the data is kept as it was";
  const CliRun shown = RunCliCaptured({"show", dir / "tiny.exe"});
  EXPECT_NE(shown.out.find("Appended data:   Inno Setup installer at 0x"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("Signature:       none"), std::string::npos) << shown.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, ModuleCommandFails,
    ::testing::Values(
        Failing{"InjectMissingBlock", nullptr, {"inject", "@/tiny.exe", "@/none.res"}, 3, "does not exist"},
        Failing{"InjectBlockIsFolder",
                [](const ScratchDir &d) { fs::create_directory(d.path() / "folder.res"); },
                {"inject", "@/tiny.exe", "@/folder.res"},
                3,
                "it is a folder"},
        Failing{"InjectEmptyBlock",
                [](const ScratchDir &d) { Write(d, "empty.res", {}); },
                {"inject", "@/tiny.exe", "@/empty.res"},
                4,
                "is empty"},
        Failing{"InjectEmptyBlockRaw",
                [](const ScratchDir &d) { Write(d, "empty.res", {}); },
                {"inject", "--raw", "@/tiny.exe", "@/empty.res"},
                4,
                "is empty"},
        Failing{"InjectResWithEmptyVersion",
                [](const ScratchDir &d) {
                  // The leading empty entry, then 16/1/0 with no data.
                  std::vector<std::uint8_t> res(64, 0);
                  for (std::size_t at : {0u, 32u}) {
                    res[at + 4] = 32;
                    res[at + 8] = res[at + 9] = res[at + 12] = res[at + 13] = 0xFF;
                  }
                  res[32 + 10] = 16;
                  res[32 + 14] = 1;
                  Write(d, "empty_version.res", res);
                },
                {"inject", "@/tiny.exe", "@/empty_version.res"},
                4,
                "is empty"},
        Failing{"InjectMissingModule", nullptr, {"inject", "@/none.exe", "@/block.res"}, 5, "does not exist"},
        Failing{"InjectIntoAnInnoSetupInstaller", AppendInnoData, {"inject", "@/tiny.exe", "@/block.res"}, 12,
                "carries an appended Inno Setup installer that checks the file"},
        Failing{"StampSignedRefused", FakeSignature, {"stamp", "--signed=refuse", "@/tiny.exe", "@/fields.json"}, 12,
                "is signed, and a stamp would remove its signature"},
        Failing{"SetSignedWithUnknownPolicy", FakeSignature,
                {"set", "--signed=keep", "@/tiny.exe", "--file-version", "1.2.3.4"}, 2, "--signed"},
        Failing{"InjectIntoText",
                [](const ScratchDir &d) {
                  Write(d, "text.exe", {'h', 'i'});
                },
                {"inject", "@/text.exe", "@/block.res"},
                6,
                "is not a PE module"},
        Failing{"InjectIntoDosStub",
                [](const ScratchDir &d) {
                  Write(d, "stub.exe", {'M', 'Z', 0x40, 0, 0, 0});
                },
                {"inject", "@/stub.exe", "@/block.res"},
                6,
                "is not a PE module"},
        Failing{"InjectRefusesOtherBytes",
                [](const ScratchDir &d) {
                  Write(d, "data.bin", {1, 2, 3, 4});
                },
                {"inject", "@/tiny.exe", "@/data.bin"},
                8,
                "add --raw"},
        Failing{"InjectResWithoutVersion",
                [](const ScratchDir &d) { fs::copy_file(Fixture("plain.res"), d.path() / "plain.res"); },
                {"inject", "@/tiny.exe", "@/plain.res"},
                8,
                "holds no version resource"},
        Failing{"InjectMissingArgument", nullptr, {"inject", "@/tiny.exe"}, 2, "BLOCKFILE is required"},
        Failing{"ExtractWithoutVersion", nullptr, {"extract", "@/plain.exe", "@/x.res"}, 9, "has no version resource"},
        Failing{"ExtractFromText",
                [](const ScratchDir &d) {
                  Write(d, "text.exe", {'h', 'i'});
                },
                {"extract", "@/text.exe", "@/x.res"},
                6,
                "is not a PE module"},
        Failing{"StampMissingFields", nullptr, {"stamp", "@/tiny.exe", "@/none.json"}, 3, "does not exist"},
        Failing{"StampBadFields",
                [](const ScratchDir &d) { WriteText(d / "bad.json", R"j({"language": "", "codePage": "1252"})j"); },
                {"stamp", "@/tiny.exe", "@/bad.json"},
                10,
                "'$' is not a valid integer value"},
        Failing{"StampNotJson",
                [](const ScratchDir &d) { WriteText(d / "bad.json", "language=0809"); },
                {"stamp", "@/tiny.exe", "@/bad.json"},
                10,
                "not valid JSON"},
        // Only a regular file is replaced; the node stays what it was.
        Failing{"ExtractIntoFifo",
                [](const ScratchDir &d) { ::mkfifo((d / "out.res").c_str(), 0644); },
                {"extract", "@/tiny.exe", "@/out.res"},
                11,
                "cannot write the block file '@/out.res': it is a FIFO, not a regular file"},
        Failing{"ExtractIntoADeviceThroughALink",
                [](const ScratchDir &d) { fs::create_symlink("/dev/null", d.path() / "out.res"); },
                {"extract", "@/tiny.exe", "@/out.res"},
                11,
                "it is a character device, not a regular file"},
        Failing{"BuildIntoAFolder",
                [](const ScratchDir &d) { fs::create_directory(d.path() / "out.res"); },
                {"build", "@/fields.json", "@/out.res"},
                11,
                "cannot write the block file '@/out.res': it is a folder"},
        Failing{"InjectIntoAFolder",
                [](const ScratchDir &d) { fs::create_directory(d.path() / "dir.exe"); },
                {"inject", "@/dir.exe", "@/block.res"},
                7,
                "the module '@/dir.exe' cannot be stamped: it is a folder; it was left as it was"},
        Failing{"UnknownCommand", nullptr, {"stomp", "@/tiny.exe", "@/block.res"}, 2, "unknown command 'stomp'"},
        Failing{"StampMemberTwice",
                [](const ScratchDir &d) {
                  WriteText(d / "twice.json",
                            R"j({"fileVersion": "7.7.7.7", "language": "0809", "codePage": "1252", "fileVersion": "1"})j");
                },
                {"stamp", "@/tiny.exe", "@/twice.json"},
                10,
                "the member \"fileVersion\" is named twice in one object"},
        // An output that is an input, by its own name, a link or a hard link:
        // refused before anything is read or written.
        Failing{"ExtractOntoTheModule", nullptr, {"extract", "@/tiny.exe", "@/tiny.exe"}, 11,
                "the block file '@/tiny.exe' is the same file as the module; nothing was written"},
        Failing{"ExtractOntoALinkToTheModule",
                [](const ScratchDir &d) { fs::create_symlink("tiny.exe", d.path() / "link.res"); },
                {"extract", "@/tiny.exe", "@/link.res"},
                11,
                "is the same file as the module"},
        Failing{"ExtractOntoAHardLinkOfTheModule",
                [](const ScratchDir &d) { fs::create_hard_link(d.path() / "tiny.exe", d.path() / "hard.res"); },
                {"extract", "@/tiny.exe", "@/hard.res"},
                11,
                "is the same file as the module"},
        Failing{"BuildOntoTheFieldsFile", nullptr, {"build", "@/fields.json", "@/fields.json"}, 11,
                "is the same file as the fields file"},
        // Hostile texts from each source through each command's failing path.
        Failing{"ShowDamagedBlockWithForgedKey", HostileModule, {"show", "@/hostile.exe"}, 8,
                "040904B0/\\n\\x1B[31mquillmark-cli: forged\\x1B]0;title\\x07\\u009BKKK"},
        Failing{"SetDamagedBlockWithForgedKey",
                HostileModule,
                {"set", "@/hostile.exe", "--file-version", "1.2.3.4"},
                8,
                "is damaged: StringFileInfo/040904B0/\\n\\x1B[31m"},
        Failing{"SetForgedLongKey",
                nullptr,
                {"set", "@/tiny.exe", "--string", kForgedLong + "=v"},
                10,
                "\\n\\x1B[31mquillmark-cli: forged"},
        Failing{"ApplyForgedLongKey",
                [](const ScratchDir &d) {
                  HostileJson(d, "v.json",
                              {{"stringTables", json::array({{{"key", "040904B0"}, {"strings", json::array({json::array({kForgedLong, "v"})})}}})}});
                },
                {"apply", "@/tiny.exe", "@/v.json"},
                10,
                "must stay below 65536 bytes"},
        Failing{"BuildForgedLongKey",
                [](const ScratchDir &d) {
                  HostileJson(d, "f.json", {{"language", "0809"}, {"codePage", "1252"}, {"strings", json::array({json::array({kForgedLong, "v"})})}});
                },
                {"build", "@/f.json", "@/out.res"},
                10,
                "String entry '\\n\\x1B[31mquillmark-cli"},
        Failing{"BuildForgedLanguage",
                [](const ScratchDir &d) { HostileJson(d, "f.json", {{"language", kForgedLong}, {"codePage", "1252"}}); },
                {"build", "@/f.json", "@/out.res"},
                10,
                "is not a valid integer value"},
        Failing{"BuildForgedMemberTwice",
                [](const ScratchDir &d) {
                  const std::string member = json(kForgedLong).dump();
                  WriteText(d / "f.json", "{" + member + ": 1, " + member + ": 2}");
                },
                {"build", "@/f.json", "@/out.res"},
                10,
                "\"\\n\\x1B[31mquillmark-cli: forged"},
        Failing{"ShowForgedFileName", nullptr, {"show", "@/" + kForged + std::string(3000, 'p')}, 3,
                "cannot read the file '@/\\n\\x1B[31m"},
        Failing{"InjectForgedModuleName", nullptr, {"inject", "@/" + kForged, "@/block.res"}, 5,
                "\\x1B[31mquillmark-cli: forged"},
        Failing{"SetForgedTable", nullptr, {"set", "@/tiny.exe", "--table", kForgedLong, "--string", "A=b"}, 2,
                "--table: '\\n\\x1B[31m"},
        Failing{"ForgedCommand", nullptr, {kForgedLong}, 2, "unknown command '\\n\\x1B[31m"},
        Failing{"ForgedExtraArgument", nullptr, {"build", "@/fields.json", "@/out.res", kForgedLong}, 2,
                "\\n\\x1B[31mquillmark-cli: forged"}),
    [](const ::testing::TestParamInfo<Failing> &info) { return std::string(info.param.name); });

} // namespace
} // namespace qm::cli::test
