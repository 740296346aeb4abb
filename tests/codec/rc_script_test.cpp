// Resource scripts out and in: what the writer prints compiles with windres
// to the same information, and the reader reads what scripts hold or says
// where it stopped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "codec/rc_script_names.h"
#include "codec/rc_script_reader.h"
#include "codec/rc_script_writer.h"
#include "codec/version_info_writer.h"
#include "res_file.h"

namespace qm {
namespace {

bool HaveWindres() { return !std::string(QM_WINDRES).empty(); }

// The block windres makes of a script, read back whole.
std::optional<VersionInfo> Compiled(const std::string &script, const std::string &name) {
  std::filesystem::path rc = std::filesystem::current_path() / (name + ".rc");
  std::ofstream(rc, std::ios::binary) << script;
  std::optional<std::vector<std::uint8_t>> block = test::CompileVersionResource(rc, QM_WINDRES);
  if (!block) return std::nullopt;
  Result<VersionInfo> info = ReadVersionInfo(*block);
  if (!info) return std::nullopt;
  return *info;
}

void ExpectSame(const VersionInfo &got, const VersionInfo &want) {
  const FixedFileInfo &g = got.Fixed, &w = want.Fixed;
  EXPECT_EQ(got.HasFixedPart, want.HasFixedPart);
  EXPECT_EQ(std::tie(g.FileMajor, g.FileMinor, g.FileRelease, g.FileBuild),
            std::tie(w.FileMajor, w.FileMinor, w.FileRelease, w.FileBuild));
  EXPECT_EQ(std::tie(g.ProdMajor, g.ProdMinor, g.ProdRelease, g.ProdBuild),
            std::tie(w.ProdMajor, w.ProdMinor, w.ProdRelease, w.ProdBuild));
  EXPECT_EQ(std::tie(g.FlagsMask, g.Flags, g.FileOs, g.FileType, g.FileSubType),
            std::tie(w.FlagsMask, w.Flags, w.FileOs, w.FileType, w.FileSubType));
  ASSERT_EQ(got.Tables.size(), want.Tables.size());
  for (std::size_t i = 0; i < want.Tables.size(); ++i) {
    EXPECT_EQ(got.Tables[i].Key, want.Tables[i].Key);
    EXPECT_EQ(got.Tables[i].Strings, want.Tables[i].Strings) << "table " << i;
  }
  ASSERT_EQ(got.Translations.size(), want.Translations.size());
  for (std::size_t i = 0; i < want.Translations.size(); ++i) {
    EXPECT_EQ(got.Translations[i].Language, want.Translations[i].Language);
    EXPECT_EQ(got.Translations[i].CodePage, want.Translations[i].CodePage);
  }
}

VersionInfo Info(std::uint32_t flags, std::uint32_t os, std::uint32_t type, std::uint32_t subType,
                 std::vector<StringTable> tables, std::vector<Translation> translations) {
  VersionInfo info;
  info.HasFixedPart = true;
  info.Fixed = {0x10000, 1, 2, 3, 4, 5, 6, 7, 65535, 0x3F, flags, os, type, subType, 0};
  info.Tables = std::move(tables);
  info.Translations = std::move(translations);
  return info;
}

// A script that includes the system's header tests the same names in #if
// as it writes in its values.
TEST(ScriptNames, HoldInConditionsAsInValues) {
  std::string script = "#include <windows.h>\n#if MAKELANGID(7, 2) != 0x807\n#error MAKELANGID\n#endif\n";
  for (const ScriptName &name : KnownScriptNames())
    script += "#if " + std::string(name.Name) + " != " + std::to_string(name.Value) + "\n#error " +
              std::string(name.Name) + "\n#endif\n";
  const auto parsed = ReadResourceScript(script + "1 VERSIONINFO\nBEGIN\nEND\n", {});
  EXPECT_TRUE(parsed) << parsed.error();
}

// The names are winver.h's: the toolchain's own header, through its
// preprocessor, gives every value the reader knows without it.
TEST(ScriptNames, AgreeWithTheToolchainHeader) {
  std::string compiler = QM_WINDRES;
  const std::size_t tool = compiler.rfind("windres");
  if (tool == std::string::npos || tool == 0) GTEST_SKIP() << "no cross compiler beside the resource compiler";
  compiler.replace(tool, 7, "gcc");
  if (!std::filesystem::exists(compiler)) GTEST_SKIP() << "no " << compiler;
  const std::filesystem::path source = std::filesystem::current_path() / "script_names.c";
  {
    std::ofstream out(source);
    out << "#include <windows.h>\n";
    for (const ScriptName &name : KnownScriptNames())
      out << "@ " << name.Name << "\n";
  }
  FILE *pipe = ::popen((compiler + " -E -P -x c " + source.string()).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  for (char buffer[4096]; std::fgets(buffer, sizeof buffer, pipe);)
    output += buffer;
  ASSERT_EQ(::pclose(pipe), 0) << output;
  std::istringstream lines(output);
  std::size_t index = 0;
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("@ ")) continue;
    ASSERT_LT(index, KnownScriptNames().size());
    std::string value = line.substr(2);
    while (!value.empty() && std::strchr("lLuU ", value.back()))
      value.pop_back();
    const ScriptName &name = KnownScriptNames()[index++];
    EXPECT_EQ(std::stoul(value, nullptr, 0), name.Value) << name.Name << " is " << line.substr(2);
  }
  EXPECT_EQ(index, KnownScriptNames().size());
}

// ---- writer -> windres -> reader, and writer -> our reader ----

struct OutCase {
  const char *name;
  VersionInfo info;
  std::uint16_t language;
  const char *shown; // a piece the script must hold
};

const std::u16string kAllAscii = [] {
  std::u16string text;
  for (char16_t c = 1; c < 0x80; ++c)
    text.push_back(c);
  return text;
}();

const OutCase kOutCases[] = {
    {"names", Info(0x3, 0x40004, 1, 0, {{u"040904B0", {{u"A", u"b"}}}}, {{0x409, 1200}}), 0x409,
     "FILEFLAGS 0x3 // VS_FF_DEBUG | VS_FF_PRERELEASE"},
    {"unnamedBits", Info(0x41, 0x40001, 3, 1, {}, {{0x407, 1252}}), 0x0407, "// VS_FF_DEBUG | 0x40"},
    {"driver", Info(0x3F, 4, 3, 12, {}, {}), 0x0C0A, "// VFT2_DRV_VERSIONED_PRINTER"},
    {"usualMask", Info(0, 4, 1, 0, {}, {}), 0, "FILEFLAGSMASK 0x3F // VS_FFI_FILEFLAGSMASK\n"},
    {"deleteIsNotWide", Info(0, 4, 1, 0, {{u"040904E4", {{u"D", u"a\x7f"}}}}, {}), 0, "\"a\\177\""},
    {"font", Info(0x20, 0x10001, 4, 3, {{u"000004E4", {}}}, {}), 0, "// VFT2_FONT_TRUETYPE"},
    {"escapes",
     Info(0, 0, 2, 0,
          {{u"080904E4",
            {{u"Quote", u"say \"hi\" \\ there"},
             {u"Lines", u"a\nb\tc\rd"},
             {u"Controls", u"\x01"
                           u"1\x1f\x7f"
                           u"7"},
             {u"Empty", u""},
             {u"All", kAllAscii}}}},
          {{0x809, 1252}}),
     0x809, "\"say \"\"hi\"\" \\\\ there\""},
    {"nonAscii",
     Info(0, 0, 1, 0,
          {{u"040704B0",
            {{u"K\u00e9y", u"\u00e9t\u00e9 \u4e2d\u6587 \U0001F600 caf\u00e9"
                           u"0ab"},
             {u"Lone", u"\xd800x"}}},
           {u"041104B0", {{u"Copyright", u"\u00a9 2026"}}}},
          {{0x407, 1200}, {0x411, 932}, {0, 0}}),
     0x411, "L\"\\x00A9 2026\""},
    // The lowest unit past ASCII makes the literal wide.
    {"firstPastAscii", Info(0, 0, 1, 0, {{u"040904B0", {{u"Edge", u"a\u0080"}}}}, {{0x409, 1200}}), 0x409,
     "L\"a\\x0080\""},
};

class ScriptOut : public testing::TestWithParam<OutCase> {};

TEST_P(ScriptOut, ReadsBackThroughWindresAndTheReader) {
  const OutCase &c = GetParam();
  // The information as a block made by the block writer and read again.
  Result<std::vector<std::uint8_t>> block = EncodeVersionInfo(c.info);
  ASSERT_TRUE(block) << block.error();
  Result<VersionInfo> info = ReadVersionInfo(*block);
  ASSERT_TRUE(info) << info.error();
  Result<std::string> script = ToResourceScript(*info, c.language);
  ASSERT_TRUE(script) << script.error();
  EXPECT_NE(script->find(c.shown), std::string::npos) << *script;

  Result<ParsedScript> parsed = ReadResourceScript(*script);
  ASSERT_TRUE(parsed) << parsed.error() << "\n" << *script;
  EXPECT_TRUE(parsed->HasLanguage);
  EXPECT_EQ(parsed->Language, c.language);
  EXPECT_EQ(parsed->Name, "1") << "a version resource is resource 1 unless told otherwise";
  ExpectSame(parsed->Info, *info);

  if (!HaveWindres()) GTEST_SKIP() << "no resource compiler";
  std::optional<VersionInfo> compiled = Compiled(*script, std::string("out_") + c.name);
  ASSERT_TRUE(compiled) << *script;
  ExpectSame(*compiled, *info);
}

INSTANTIATE_TEST_SUITE_P(Rows, ScriptOut, testing::ValuesIn(kOutCases),
                         [](const testing::TestParamInfo<OutCase> &p) { return std::string(p.param.name); });

// The blocks windres makes of the data scripts survive read -> script -> windres -> read.
TEST(ScriptOut, DataScriptsSurviveTheWayRound) {
  if (!HaveWindres()) GTEST_SKIP() << "no resource compiler";
  int seen = 0;
  for (const auto &entry : std::filesystem::directory_iterator(QM_CODEC_TEST_DATA)) {
    if (entry.path().extension() != ".rc") continue;
    ++seen;
    std::optional<std::vector<std::uint8_t>> block = test::CompileVersionResource(entry.path(), QM_WINDRES);
    ASSERT_TRUE(block) << entry.path();
    Result<VersionInfo> first = ReadVersionInfo(*block);
    ASSERT_TRUE(first) << first.error();
    Result<std::string> script = ToResourceScript(*first, 0x409);
    ASSERT_TRUE(script) << script.error();
    std::optional<VersionInfo> again = Compiled(*script, "again_" + entry.path().stem().string());
    ASSERT_TRUE(again) << *script;
    ExpectSame(*again, *first);
    // And the reader reads the original script as windres did.
    std::ifstream in(entry.path(), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Result<ParsedScript> parsed = ReadResourceScript(text);
    ASSERT_TRUE(parsed) << parsed.error();
    ExpectSame(parsed->Info, *first);
  }
  EXPECT_GE(seen, 3);
}

TEST(ScriptOut, RefusesWhatNoScriptCanSay) {
  const VersionInfo withNul = Info(0, 0, 0, 0, {{u"040904B0", {{u"K", std::u16string(u"a\0b", 3)}}}}, {});
  const VersionInfo wideKey = Info(0, 0, 0, 0, {{u"04\u00e904B0", {}}}, {});
  for (const VersionInfo &info : {withNul, wideKey}) {
    Result<std::string> script = ToResourceScript(info, 0);
    ASSERT_FALSE(script);
    EXPECT_EQ(script.kind(), ErrorKind::Invalid);
  }
}

// ---- the reader ----

// Included files from a table instead of a disk.
class TableResolver final : public IncludeResolver {
public:
  // "<only.h>" is found only when named in angle brackets.
  Result<std::optional<IncludedFile>> Find(std::string_view name, bool quoted, std::string_view) override {
    static const std::map<std::string, std::string, std::less<>> kFiles = {
        {"version.h", "#pragma once\n#ifndef VERSION_H\n#define VERSION_H\nint declared(void);\n"
                      "#define VER_MAJOR 3\n#define VER_TEXT \"3.1\"\n#define VER_OS VOS_MARS\n#endif\n"},
        {"version.rc2", "#include \"version.h\"\n#include \"version.h\"\n1 VERSIONINFO FILEVERSION VER_MAJOR,1\n"
                        "BEGIN BLOCK \"StringFileInfo\" BEGIN BLOCK \"040904B0\" BEGIN\n"
                        "VALUE \"FileVersion\", VER_TEXT \"\\0\"\nEND END END\n"},
        {"loop.rc", "#include \"loop.rc\"\n"},
        {"blank.h", "\n"},
        {"<only.h>", "#define FROM_ANGLES 1\n"},
        {"bad.rc2", "1 VERSIONINFO\nFILEOS VOS_MARS\n"},
    };
    auto found = kFiles.find(quoted ? std::string(name) : "<" + std::string(name) + ">");
    if (found == kFiles.end()) found = kFiles.find(name);
    if (found == kFiles.end()) return std::optional<IncludedFile>();
    return std::optional<IncludedFile>(IncludedFile{found->first, "", found->second});
  }
};

struct InCase {
  const char *name;
  std::string script;
  std::uint16_t language;
  VersionInfo want;
  bool onlyVersion = false;
  bool windres = true;        // cross-check with windres's block
  const char *resource = "1"; // the VERSIONINFO's name
};

const std::string kValue =
    "1 VERSIONINFO\nBEGIN\nBLOCK \"StringFileInfo\"\nBEGIN\nBLOCK \"040904B0\"\nBEGIN\nVALUE \"A\", ";

const char *kFixed = "FILEVERSION 1,2,3,4\nPRODUCTVERSION 5,6,7,65535\nFILEFLAGSMASK 0x3F\n";

const InCase kInCases[] = {
    {"namesAndExpressions",
     std::string("#include <winver.h>\n1 VERSIONINFO\n") + kFixed +
         "FILEFLAGS VS_FF_DEBUG | 0x40L\nFILEOS (VOS_NT + 4) & ~0\nFILETYPE VFT_DRV\nFILESUBTYPE VFT2_DRV_PRINTER\n"
         "BEGIN\nEND\n",
     0, Info(0x41, 0x40004, 3, 1, {}, {})},
    {"defineCommentsBraces",
     "#include <winver.h>\n#define MAJOR 1\n#define VER MAJOR,2,3,4\n#define NAME \"Quill\" \" Works\"\n"
     "/* a block\n   comment */ LANGUAGE 7, 1 // German\n"
     "VS_VERSION_INFO VERSIONINFO\nFILEVERSION VER\nPRODUCTVERSION 5,6,7,0xFFFF\nFILEFLAGSMASK 63\n"
     "FILEFLAGS 0\nFILEOS 0x40004\nFILETYPE 1\n{\n BLOCK \"StringFileInfo\" {\n  BLOCK \"040704B0\" {\n"
     "   VALUE \"CompanyName\", NAME\n   VALUE \"Joined\", \"a\" \"b\" L\"c\"\n  }\n }\n}\n",
     0x0407, Info(0, 0x40004, 1, 0, {{u"040704B0", {{u"CompanyName", u"Quill Works"}, {u"Joined", u"abc"}}}}, {})},
    {"escapes",
     std::string("1 VERSIONINFO\n") + kFixed +
         "BEGIN BLOCK \"StringFileInfo\" BEGIN BLOCK \"040904B0\" BEGIN\n"
         "VALUE \"A\", \"x\"\"y\\\\z\\n\\t\\a\\x41\\101\\0\"\nVALUE \"B\", \"cut\\0here\" \"and\"\n"
         "VALUE L\"K\\x00e9\", L\"\\x00e9\\x4e2dZ\\xd800\"\nEND END END\n",
     0,
     Info(0, 0, 0, 0,
          {{u"040904B0", {{u"A", u"x\"y\\z\n\t\bAA"}, {u"B", u"cut"}, {u"K\u00e9", u"\u00e9\u4e2dZ\xd800"}}}}, {})},
    {"varFirstSeveral",
     std::string("LANGUAGE 9, 2\n1 VERSIONINFO\n") + kFixed +
         "BEGIN\nBLOCK \"VarFileInfo\"\nBEGIN\nVALUE \"Translation\", 0x409, 1200, 0x407, 1252\nEND\n"
         "BLOCK \"StringFileInfo\"\nBEGIN\nBLOCK \"040904B0\"\nBEGIN\nEND\n"
         "BLOCK \"040704E4\"\nBEGIN\nVALUE \"A\", \"1\"\nEND\nEND\nEND\n",
     0x0809, Info(0, 0, 0, 0, {{u"040904B0", {}}, {u"040704E4", {{u"A", u"1"}}}}, {{0x409, 1200}, {0x407, 1252}})},
    {"otherResourcesSkipped",
     std::string("1 ICON \"app.ico\"\n2 ICON other.ico\nSTRINGTABLE\nBEGIN\n 1, \"x\"\nEND\n"
                 "10 DIALOG 0, 0, 100, 50\nCAPTION \"About\"\nBEGIN\n CONTROL \"\", 1, \"Static\", 0, 0, 0, 1, 1\n"
                 "END\nLANGUAGE 9, 1\n1 VERSIONINFO\n") +
         kFixed + "BEGIN\nEND\n3 RCDATA { 1, 2 }\n",
     0x0409, Info(0, 0, 0, 0, {}, {}), true, false},
    {"preprocessed",
     std::string(
         "#include <windows.h>\n#define STR2(x) #x\n#define STR(x) STR2(x)\n#define VER_MAJOR 2\n"
         "#define CAT(a, b) a##b\n#ifdef _DEBUG\n#define FLAGS VS_FF_DEBUG\n"
         "#elif defined(RC_INVOKED) && (VER_MAJOR > 1 || FOO / 0)\n#define FLAGS VS_FF_PRERELEASE\n"
         "#else\n#define FLAGS 0\n#endif\n#if 0\nit's not read \" /*\n#error no\n#endif /* a comment\n that ends here "
         "*/\n"
         "#if 1\n#endif 1/2 // holds /* no comment\n#define ENDED 1\n#ifndef ENDED\n#error a // comment ran "
         "on\n#endif\n"
         "#if 2 == 1 <= 0 || 2 == 2 >= 1 || 2 == 0 < 1 || 2 == 2 > 0 || !" +
         std::string(40, '(') + "1" + std::string(40, ')') +
         "\n#error comparisons bind tighter than ==, and 40 parentheses are read\n#endif\n"
         "#define SELF (SELF + 4)\n#define WRAP SELF\n#if SELF != 4 || WRAP != 4 || 3 > 4\n#error a macro expanded "
         "inside itself\n#endif\n"
         "LANGUAGE LANG_GERMAN, SUBLANG_GERMAN_SWISS\nVS_VERSION_INFO VERSIONINFO\n"
         "FILEVERSION VER_MAJOR,CAT(1,0),3,4\nPRODUCTVERSION 5,6,7,65535\nFILEFLAGSMASK 0x3F\n"
         "FILEFLAGS FLAGS\nFILEOS VOS_NT_WINDOWS32\nFILETYPE VFT_APP\nBEGIN\n"
         "BLOCK \"StringFileInfo\"\nBEGIN\nBLOCK \"080704b0\"\nBEGIN\n"
         "VALUE \"FileVersion\", STR(VER_MAJOR) \".\" STR(CAT(1,0)) \"\\0\"\n"
         "VALUE \"Lines\", \"a\\\nb\"\nVALUE \"Spaced\", STR2(a   b+ c)\nVALUE \"Quoted\", STR2(\"ab\")\nEND\nEND\n"
         "BLOCK \"VarFileInfo\"\nBEGIN\nVALUE \"Translation\", 0x807, 1200\nEND\nEND\n"),
     0x0807,
     [] {
       VersionInfo info =
           Info(2, 0x40004, 1, 0,
                {{u"080704b0",
                  {{u"FileVersion", u"2.10"}, {u"Lines", u"ab"}, {u"Spaced", u"a b+ c"}, {u"Quoted", u"\"ab\""}}}},
                {{0x0807, 1200}});
       info.Fixed.FileMajor = 2, info.Fixed.FileMinor = 10;
       return info;
     }()},
    {"codePages",
     kValue + "\"\\251 \xa9\"\n#pragma code_page(65001)\nVALUE \"B\", \"\xc2\xa9\"\n"
              "#pragma code_page(1252)\nVALUE \"C\", \"\\x80\"\n#pragma code_page(1251)\nVALUE \"D\", \"\x7f\"\nEND "
              "END END\n",
     0,
     [] {
       VersionInfo info =
           Info(0, 0, 0, 0,
                {{u"040904B0", {{u"A", u"\u00a9 \u00a9"}, {u"B", u"\u00a9"}, {u"C", u"\u20ac"}, {u"D", u"\x7f"}}}}, {});
       info.Fixed = {0x10000};
       return info;
     }()},
    {"includedAndDefined",
     "#include <winnt.h>\n#undef RC_INVOKED\nLANGUAGE MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH_CANADIAN) & 0x3FF, "
     "(WORD)3\n"
     "#define ANGLED <only.h>\n#include ANGLED\n#include \"version.rc2\"\n#if !FROM_ANGLES || FROM_COMMAND_LINE != 7 "
     "|| defined(DROPPED) || defined(RC_INVOKED)\n#error not defined\n#endif\n",
     0x0C0C,
     [] {
       VersionInfo info = Info(0, 0, 0, 0, {{u"040904B0", {{u"FileVersion", u"3.1"}}}}, {});
       info.Fixed = {0x10000, 3, 1, 0, 0};
       return info;
     }(),
     false, false},
    {"nothingSwallowsTheVersion",
     std::string("#include \"version.h\"\nIDI_APP ICON DISCARDABLE res\\\\app.ico\nSTUFF THINGS\n"
                 "TEXT RCDATA MOVEABLE { 1 { 2 } }\nLANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_UK\n1 VERSIONINFO\n") +
         kFixed + "BEGIN\nEND\n",
     0x0809, Info(0, 0, 0, 0, {}, {}), true, false},
    // Each pair of neighbouring operators, where binding them alike, or the
    // other way round, gives another number.
    {"operatorPrecedence",
     "1 VERSIONINFO\nFILEVERSION 1 | 2 ^ 3, 1 ^ 3 & 2, 6 & 8 >> 1, 1 << 1 + 1\n"
     "PRODUCTVERSION 8 >> 1 + 1, 10 - 2 * 3, 8 / 2 * 2, 8 * 2 / 4\nFILEFLAGSMASK 7 * 3 % 4\nFILEFLAGS 2 + 8 / 2\n"
     "FILEOS 2 + 7 % 4\nFILETYPE 1 << 3 - 1\nFILESUBTYPE 1 & 1 << 1\nBEGIN\nEND\n",
     0,
     [] {
       VersionInfo info = Info(6, 5, 4, 0, {}, {});
       info.Fixed = {0x10000, 1, 3, 4, 4, 2, 4, 8, 4, 1, 6, 5, 4, 0};
       return info;
     }(),
     false, false}, // windres takes no shifts
    // A shift by the width of a number or more gives 0, never the number.
    {"shiftsPastTheWidth",
     "1 VERSIONINFO\nFILEFLAGSMASK 0x80000000 >> 32\nFILEFLAGS 1 << 32\nFILEOS 0x80000000 >> 31\n"
     "FILETYPE 1 << 31 >> 31\nBEGIN\nEND\n",
     0,
     [] {
       VersionInfo info = Info(0, 1, 1, 0, {}, {});
       info.Fixed = {0x10000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0};
       return info;
     }(),
     false, false},
    // A zero on the right is no division by zero but for '/' and '%'.
    {"zeroOnTheRight",
     "1 VERSIONINFO\nFILEFLAGSMASK 5 + 0\nFILEFLAGS 5 - 0 * 3\nFILEOS 5 | 0 & 1\nFILETYPE 5 ^ 0 >> 1\n"
     "FILESUBTYPE 5 << 0\nBEGIN\nEND\n",
     0,
     [] {
       VersionInfo info = Info(0, 0, 0, 0, {}, {});
       info.Fixed = {0x10000, 0, 0, 0, 0, 0, 0, 0, 0, 5, 5, 5, 5, 5};
       return info;
     }(),
     false, false},
    // A bare name runs on up to a blank.
    {"runOnName", std::string("app.ver-2 VERSIONINFO\n") + kFixed + "BEGIN\nEND\n", 0, Info(0, 0, 0, 0, {}, {}), false,
     false, "app.ver-2"},
    {"lineFromAMacro", std::string("#line __LINE__ \"versioninfo.rc.in\"\n1 VERSIONINFO\n") + kFixed + "BEGIN\nEND\n",
     0, Info(0, 0, 0, 0, {}, {})},
    // The file named is the script itself, so that windres finds it.
    {"dottedNames",
     std::string("blank.htm HTML \"in_dottedNames.rc\"\nx.y-z\\w HTML \"in_dottedNames.rc\"\n") + "1 VERSIONINFO\n" +
         kFixed + "BEGIN\nEND\n",
     0, Info(0, 0, 0, 0, {}, {}), true},
    // Commas inside the variable arguments stay with them; () is no argument.
    {"variadicMacro",
     std::string("#define V(a, ...) a, __VA_ARGS__\n#define W(...) 9, __VA_ARGS__\n#define NONE() 8\n1 VERSIONINFO\n"
                 "FILEVERSION V(1, 2, 3, 4)\nPRODUCTVERSION W(5, 6, 7)\nFILEFLAGSMASK NONE()\nBEGIN\nEND\n"),
     0,
     [] {
       VersionInfo info = Info(0, 0, 0, 0, {}, {});
       info.Fixed = {0x10000, 1, 2, 3, 4, 9, 5, 6, 7, 8, 0, 0, 0, 0};
       return info;
     }()},
    // 16-bit Windows' loading hints are passed over (windres refuses them here).
    {"memoryFlags",
     std::string("1 VERSIONINFO MOVEABLE IMPURE LOADONCALL DISCARDABLE PURE PRELOAD FIXED\n") + kFixed + "BEGIN\nEND\n",
     0, Info(0, 0, 0, 0, {}, {}), false, false},
    // The statement skipped ends where a named VERSIONINFO begins (windres
    // would take the name for the file of a resource of type FOO).
    {"skippedBeforeANamedVersion", std::string("FOO BAR\nVS_VERSION_INFO VERSIONINFO\n") + kFixed + "BEGIN\nEND\n", 0,
     Info(0, 0, 0, 0, {}, {}), true, false, "VS_VERSION_INFO"},
    // Only the dialog's header names a language: the script has none.
    {"dialogHeaderFromMacros",
     std::string("#define MY_STYLE STYLE 0x80 | 0x80000000L\n#define MY_FONT FONT 8, \"MS Shell Dlg\"\n"
                 "100 DIALOGEX 0, 0, 10, 20 MY_STYLE MY_FONT\nLANGUAGE 7, 1\nCAPTION \"About\"\nEXSTYLE 0\n"
                 "BEGIN\n LTEXT \"x\", 1, 0, 0, 1, 1\nEND\n1 VERSIONINFO\n") +
         kFixed + "BEGIN\nEND\n",
     0, Info(0, 0, 0, 0, {}, {}), true},
};

class ScriptIn : public testing::TestWithParam<InCase> {};

TEST_P(ScriptIn, ReadsWhatTheScriptSays) {
  const InCase &c = GetParam();
  TableResolver files;
  ScriptOptions options;
  options.OnlyVersion = c.onlyVersion;
  options.Defines = {"FROM_COMMAND_LINE=7", "DROPPED"};
  options.Undefines = {"DROPPED"};
  options.Resolver = &files;
  Result<ParsedScript> parsed = ReadResourceScript(c.script, options);
  ASSERT_TRUE(parsed) << parsed.error();
  EXPECT_EQ(parsed->Language, c.language);
  EXPECT_EQ(parsed->Name, c.resource);
  ExpectSame(parsed->Info, c.want);
  if (!c.windres) return;
  if (!HaveWindres()) GTEST_SKIP() << "no resource compiler";
  std::optional<VersionInfo> compiled = Compiled(c.script, std::string("in_") + c.name);
  ASSERT_TRUE(compiled);
  ExpectSame(*compiled, parsed->Info);
}

INSTANTIATE_TEST_SUITE_P(Rows, ScriptIn, testing::ValuesIn(kInCases),
                         [](const testing::TestParamInfo<InCase> &p) { return std::string(p.param.name); });

// A header's name in a message is cut at 60 characters.
const std::string kLongHeaderShown = "; skipped, not found: <" + std::string(60, 'h') + ">)";

struct RefusedCase {
  std::string script;
  const char *where; // "line L, column C", or empty when the message names no place
  const char *word;
  ErrorKind kind = ErrorKind::Invalid;
  std::uint16_t codePage = 1252;
  bool onlyVersion = false;
};

std::string Repeated(const std::string &text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i)
    out += text;
  return out;
}

std::string Nested(int depth) { return "1 VERSIONINFO\nFILEFLAGS " + std::string(depth, '(') + "1\nBEGIN\nEND\n"; }

std::string MacroBomb() {
  std::string text = "#define A0 1|1\n";
  for (int i = 1; i < 20; ++i)
    text += "#define A" + std::to_string(i) + " A" + std::to_string(i - 1) + "|A" + std::to_string(i - 1) + "\n";
  return text;
}

// Each define within bounds, together more than the reader keeps.
std::string ManyCopies() {
  std::string text = "#define A 1";
  for (int i = 0; i < 500; ++i)
    text += "|1";
  text += "\n";
  for (int i = 1; i < 100; ++i)
    text += "#define B" + std::to_string(i) + " A\n";
  return text;
}

const RefusedCase kRefused[] = {
    {"1 VERSIONINFO\nFILEVERSON 1\nBEGIN\nEND\n", "line 2, column 1", "FILEVERSON"},
    {"1 VERSIONINFO\nBEGIN\n  BLOCK \"StringFileInfo\"\n  BEGIN\n", "line 3, column 9", "never closed"},
    {"1 ICON \"a.ico\"\n", "line 1, column 3", "only VERSIONINFO"},
    {"STRINGTABLE\nBEGIN\nEND\n", "line 1, column 1", "only VERSIONINFO"},
    {"1 VERSIONINFO\nBEGIN\nBLOCK \"VarFileInfo\"\nBEGIN\nVALUE \"Translation\", 0x409\nEND\nEND\n", "line 5, column 7",
     "code page"},
    {"1 VERSIONINFO\nFILEOS VOS_MARS\nBEGIN\nEND\n", "line 2, column 8", "VOS_MARS"},
    {kValue + "\"caf\x81\"\n", "line 7, column 12", "--codepage"},
    {"#pragma code_page(65001)\n" + kValue + "\"caf\xe9\"\n", "line 8, column 12", "not UTF-8"},
    {kValue + "\"caf\x80\"\n", "line 7, column 12", "1251", ErrorKind::Invalid, 1251},
    {kValue + "\"a" + std::string(1, '\0') + "b\"\n", "line 7, column 14", "NUL"},
    // The smallest entry past 16 bits: 6 + 4 (key) + 2 (padding) + 65524 (value).
    {kValue + "\"" + std::string(32761, 'x') + "\"\n", "line 7, column 12", "a VALUE of 65536 bytes"},
    {kValue + "\"" + std::string(30000, 'x') + "\"\nVALUE \"B\", \"" + std::string(30000, 'x') + "\"\n",
     "line 8, column 1", "65535"},
    {"/* open\n1 VERSIONINFO\n", "line 1, column 1", "comment"},
    {"1 VERSIONINFO\nBEGIN\nBLOCK \"StringFileInfo\nEND\n", "line 3, column 7", "literal"},
    {"1 VERSIONINFO\nBEGIN\nBLOCK \"ab\\", "line 3, column 7", "literal"},
    {"#define S \"" + std::string(1000, 'x') + "\" \"" + std::string(1000, 'x') +
         "\"\n#define T S S S S S S S S\n"
         "1 VERSIONINFO\nBEGIN\nBLOCK \"StringFileInfo\"\nBEGIN\nBLOCK \"040904B0\"\nBEGIN\nVALUE \"A\", T T T\n",
     "line 9, column 12", "longer"},
    {"1 \"x\" \"a.ico\"\n", "line 1, column 3", "expected a resource type"},
    {"#if 1\n", "line 1, column 1", "#endif"},
    {"#if 1/0\n#endif\n", "line 1, column 6", "division"},
    {"#ifdef X\n#else\n#elif 1\n#endif\n", "line 3, column 1", "after #else"},
    {"#endif\n", "line 1, column 1", "without #if"},
    {"\n#error Needs a newer SDK\n", "line 2, column 1", "#error Needs a newer SDK"},
    {"#include \"missing.h\"\n", "line 1, column 1", "-I"},
    {"#define NOTHING <>\n#include NOTHING\n", "line 2, column 1", "#include without a"},
    {"#include \"loop.rc\"\n", "line 1, column 1 of 'loop.rc'", "deep"},
    {"#include \"bad.rc2\"\n", "line 2, column 8 of 'bad.rc2'", "VOS_MARS"},
    {"#include <commctrl.h>\n1 VERSIONINFO\nFILEFLAGS TBS_TOP\n", "line 3, column 11", "<commctrl.h>"},
    {"1 VERSIONINFO\nFILEFLAGS VER_FLAGS\n", "line 2, column 11", "-D VER_FLAGS"},
    {Repeated("#if 1\n", 300), "line 257, column 1", "deeper"},
    {"#define F(x) x x\n1 VERSIONINFO\nFILEFLAGS " + Repeated("F(", 40) + "1" + Repeated(")", 40) + "\n",
     "line 3, column ", "more than"},
    {"#define F(a, b) a\n1 VERSIONINFO\nFILEFLAGS F(1)\n", "line 3, column 11", "takes 2"},
    {"#define F(a) a\n1 VERSIONINFO\nFILEFLAGS F(1\n", "line 3, column 11", "never end"},
    {"#define P(a, b) a ## b\n1 VERSIONINFO\nFILEFLAGS P(1, +)\n", "line 3, column 11", "one token"},
    {"#line 40 \"gen.rc\"\n1 VERSIONINFO\nFILEOS VOS_MARS\n", "line 41, column 8 of 'gen.rc'", "VOS_MARS"},
    {"#line\n", "line 1, column 1", "without a line number"},
    {"#if 5 - 3 == 2 && 8 - 3 * 2 == 2\n#error minus\n#endif\n", "line 2, column 1", "#error minus"},
    {"#if 10 - 4 - 3 == 3 && 64 / 8 / 2 == 4\n#error from the left\n#endif\n", "line 2, column 1",
     "#error from the left"},
    {"#if 1 ? 0 : 1\n#elif 0 ? 0 : 2\n#error the other branch\n#endif\n", "line 3, column 1", "#error the other branch"},
    {"#include <abc\n", "line 1, column 1", "without its '>'"},
    // '#' begins a directive only at the start of a line.
    {"1 VERSIONINFO\nFILEFLAGS 1 #error not here\n", "line 2, column 13", "'#'"},
    // X stays hidden in its own expansion when that passes through F's
    // argument: F(X) is 1 + X, X then a name that counts as 0.
    {"#define X 1 + X\n#define F(a) a\n#if F(X) == 1\n#error still hidden\n#endif\n", "line 4, column 1",
     "#error still hidden"},
    {"#include <a1.h>\n#include <a2.h>\n#include <a3.h>\n#include <a4.h>\n#include <a5.h>\n1 VERSIONINFO\nFILEOS "
     "NOPE\n",
     "line 7, column 8", "; skipped, not found: <a1.h>, <a2.h>, <a3.h>, <a4.h>)"},
    {"#include <" + std::string(70, 'h') + ">\n1 VERSIONINFO\nFILEOS NOPE\n", "line 3, column 8",
     kLongHeaderShown.c_str()},
    // Each use of Z counts its one token and itself: 8192 uses are all the reader takes.
    {"#define Z 1\n" + Repeated("#if Z\n#endif\n", 8193), "line 16386, column 5", "macros expand to more"},
    {"#line __LINE__ \"v.rc.in\"\n\n1 VERSIONINFO\nFILEOS VOS_MARS\n", "line 3, column 8 of 'v.rc.in'", "VOS_MARS"},
    {"#frobnicate\n", "line 1, column 1", "#frobnicate"},
    {"#pragma code_page(70000)\n", "line 1, column 19", "a code page's number"},
    {"#define F(1) x\n", "line 1, column ", "parameter's name"},
    {"#define OS VOS_MARS\n1 VERSIONINFO\nFILEOS OS\n", "line 3, column 8", "VOS_MARS"},
    {"#include \"version.h\"\n1 VERSIONINFO\nFILEOS VER_OS\n", "line 3, column 8: ", "VOS_MARS"},
    {"#if " + Repeated("~", 70) + "1\n#endif\n", "line 1, column ", "nested too deeply"},
    {"STRINGTABLE\n" + Repeated("BEGIN\n", 300), "line 258, column 1", "nested too deeply", ErrorKind::Invalid, 1252,
     true},
    {"STRINGTABLE\nBEGIN\n", "line 2, column 1", "never closed", ErrorKind::Invalid, 1252, true},
    {"1 VERSIONINFO\nGILEVERSION 1\nBEGIN\nEND\n", "line 2, column 1", "GILEVERSION"},
    // The macro goes while its arguments are looked for; its expansion goes on.
    {"#define F(x) x\n1 VERSIONINFO\nFILEFLAGS F\n#undef F\n(VOS_MARS)\n", "line 3, column 11", "VOS_MARS"},
    {"FOO BAR\n1 VERSIONINFO\nBEGIN\nEND\n", "line 1, column 5", "--only-version"},
    {"LANGUAGE 0x400, 0\n", "line 1, column 10", "out of range"},
    {"LANGUAGE 9,\n 0x40\n", "line 1, column 10", "out of range"},
    {"1 VERSIONINFO\nFILEVERSION 65536\nBEGIN\nEND\n", "line 2, column 13", "65535"},
    {"1 VERSIONINFO\nBEGIN\nEND\n2 VERSIONINFO\nBEGIN\nEND\n", "line 4, column 3", "second"},
    {"1 VERSIONINFO\nFILEOS 0x100000000\n", "line 2, column 8", "32 bits"},
    {"1 VERSIONINFO\nBEGIN\nBLOCK \"Other\"\nBEGIN\nEND\nEND\n", "line 3, column 7", "other"},
    {"1 VERSIONINFO\nBEGIN\nBLOCK \"StringFileInfo\"\nBEGIN\nBLOCK \"040904B0\"\nBEGIN\nBLOCK \"x\"\n",
     "line 7, column 1", "VALUE"},
    {"1 VERSIONINFO\nBEGIN\nBLOCK \"StringFileInfo\"\nBEGIN\nBLOCK L\"040904B0\"\n", "line 5, column 7", "plain"},
    {"1 VERSIONINFO\nBEGIN\nBLOCK \"VarFileInfo\"\nBEGIN\nVALUE \"Other\", 1\nEND\nEND\n", "line 5, column 7",
     "Translation"},
    {"1 VERSIONINFO\nFILEFLAGS 12ab\n", "line 2, column 11", "not a number"},
    {"1 VERSIONINFO\nFILEFLAGS 8 / 2 / 0\n", "line 2, column 17", "division by zero"},
    {"1 VERSIONINFO\nFILEFLAGS 8 % (1 - 1)\n", "line 2, column 13", "division by zero"},
    {"1 VERSIONINFO\nFILEVERSION 1\n", "line 3, column 1", "BEGIN"},
    {Nested(40), "line 2, column 44", "nested"},
    {MacroBomb() + "1 VERSIONINFO\nFILEFLAGS A19\n", "line 22, column 11", "more than"},
    {ManyCopies() + "1 VERSIONINFO\nFILEFLAGS " + Repeated("B1|", 300) + "1\n", "line 102, column ", "more than"},
    {"LANGUAGE 9, 1\n", "", "no VERSIONINFO"},
    {std::string(kMaxScriptBytes + 1, ' '), "", "too large", ErrorKind::TooLarge},
};

TEST(ScriptIn, TakesALanguageUpToItsLimits) {
  const auto script = ReadResourceScript("LANGUAGE 0x3FF, 0x3F\n1 VERSIONINFO\nBEGIN\nEND\n");
  ASSERT_TRUE(script) << script.error();
  EXPECT_TRUE(script->HasLanguage);
  EXPECT_EQ(script->Language, 0xFFFF);
}

// Sizes given as numbers, not as the reader's constants, so that a limit
// moved by one shows.
TEST(ScriptIn, TakesIncludesAndBytesUpToTheirLimits) {
  TableResolver files;
  ScriptOptions options;
  options.Resolver = &files;
  const std::string version = "1 VERSIONINFO\nBEGIN\nEND\n";
  for (const int includes : {4096, 4097}) {
    const auto read = ReadResourceScript(Repeated("#include \"blank.h\"\n", includes) + version, options);
    EXPECT_EQ(read.ok(), includes == 4096) << includes << " includes: " << (read ? "" : read.error());
  }
  for (const std::size_t bytes : {std::size_t{1} << 20, (std::size_t{1} << 20) + 1}) {
    const auto read = ReadResourceScript(std::string(bytes - version.size(), ' ') + version);
    EXPECT_EQ(read.ok(), bytes == std::size_t{1} << 20) << bytes << " bytes";
  }
  // A macro's body may hold 4096 tokens.
  for (const int tokens : {4096, 4097}) {
    const auto read = ReadResourceScript("#define X" + Repeated(" 1", tokens) + "\n" + version);
    EXPECT_EQ(read.ok(), tokens == 4096) << tokens << " tokens: " << (read ? "" : read.error());
  }
  // A directive may hold 8192 tokens: "0", then pairs of "+" and "0".
  for (const int tokens : {8191, 8193}) {
    const auto read = ReadResourceScript("#if 0" + Repeated("+0", (tokens - 1) / 2) + "\n#endif\n" + version);
    EXPECT_EQ(read.ok(), tokens < 8192) << tokens << " tokens: " << (read ? "" : read.error());
  }
  // A macro takes 256 parameters.
  for (const int count : {256, 257}) {
    std::string params = "p0";
    for (int i = 1; i < count; ++i)
      params += ",p" + std::to_string(i);
    const auto read = ReadResourceScript("#define F(" + params + ") p0\n" + version);
    EXPECT_EQ(read.ok(), count == 256) << count << " parameters: " << (read ? "" : read.error());
  }
  // #if nests 64 deep: by unary operators, or by ten binary ones of rising
  // precedence and then unary ones.
  const std::string chain = "1||0&&0|0^0&0==0<0<<0+0*";
  for (const int depth : {64, 65}) {
    for (const std::string &condition : {Repeated("~", depth) + "1", chain + Repeated("~", depth - 10) + "1"}) {
      const auto read = ReadResourceScript("#if " + condition + "\n#endif\n" + version);
      EXPECT_EQ(read.ok(), depth == 64) << condition << ": " << (read ? "" : read.error());
    }
  }
  // An expression nests 32 deep wherever it stands.
  for (const int depth : {32, 33}) {
    const std::string e = Repeated("(", depth) + "1" + Repeated(")", depth);
    for (const std::string &script :
         {"LANGUAGE " + e + ", 1\n" + version, "LANGUAGE 1, " + e + "\n" + version,
          "1 VERSIONINFO\nFILEVERSION 1, " + e + "\nBEGIN\nEND\n", "1 VERSIONINFO\nFILEOS " + e + "\nBEGIN\nEND\n",
          "1 VERSIONINFO\nBEGIN\nBLOCK \"VarFileInfo\"\nBEGIN\nVALUE \"Translation\", 9, " + e + "\nEND\nEND\n"}) {
      const auto read = ReadResourceScript(script);
      EXPECT_EQ(read.ok(), depth == 32) << script << (read ? "" : read.error());
    }
  }
  // '#' makes a literal of 64 Ki bytes at most.
  options.OnlyVersion = true;
  for (const std::size_t bytes : {std::size_t{1} << 16, (std::size_t{1} << 16) + 1}) {
    const auto read = ReadResourceScript(
        "#define S(x) #x\n1 RCDATA\nBEGIN\nS(" + std::string(bytes, 'n') + ")\nEND\n" + version, options);
    EXPECT_EQ(read.ok(), bytes == std::size_t{1} << 16) << bytes << " bytes: " << (read ? "" : read.error());
  }
}

class ScriptRefused : public testing::TestWithParam<RefusedCase> {};

TEST_P(ScriptRefused, SaysWhereAndWhy) {
  const RefusedCase &c = GetParam();
  TableResolver files;
  const auto started = std::chrono::steady_clock::now();
  ScriptOptions options;
  options.CodePage = c.codePage;
  options.OnlyVersion = c.onlyVersion;
  options.Resolver = &files;
  Result<ParsedScript> parsed = ReadResourceScript(c.script, options);
  // Hostile scripts are refused at once, not after a long expansion.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
  ASSERT_FALSE(parsed);
  EXPECT_EQ(parsed.kind(), c.kind);
  EXPECT_EQ(parsed.error().rfind(c.where, 0), 0u) << parsed.error();
  EXPECT_NE(parsed.error().find(c.word), std::string::npos) << parsed.error();
}

INSTANTIATE_TEST_SUITE_P(Rows, ScriptRefused, testing::ValuesIn(kRefused));

} // namespace
} // namespace qm
