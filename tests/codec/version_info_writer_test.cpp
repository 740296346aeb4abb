// The general encoder against the general reader: blocks of many shapes,
// from windres and built by hand, read, written and read again.
#include "codec/version_info_writer.h"

#include <gtest/gtest.h>

#include <fstream>

#include "block_builder.h"
#include "codec/text_codec.h"
#include "res_file.h"

namespace qm {
namespace {

using test::Bytes;

// Everything the reader can tell apart, as one comparable text.
std::string Describe(const VersionInfo &info) {
  const FixedFileInfo &f = info.Fixed;
  std::string out = info.HasFixedPart ? "fixed" : "none";
  for (std::uint64_t v : {std::uint64_t{f.StrucVersion}, std::uint64_t{f.FileMajor}, std::uint64_t{f.FileMinor},
                          std::uint64_t{f.FileRelease}, std::uint64_t{f.FileBuild}, std::uint64_t{f.ProdMajor},
                          std::uint64_t{f.ProdMinor}, std::uint64_t{f.ProdRelease}, std::uint64_t{f.ProdBuild},
                          std::uint64_t{f.FlagsMask}, std::uint64_t{f.Flags}, std::uint64_t{f.FileOs},
                          std::uint64_t{f.FileType}, std::uint64_t{f.FileSubType}, f.FileDate}) {
    out += " " + std::to_string(v);
  }
  for (const StringTable &table : info.Tables) {
    out += "\n[" + Utf16ToUtf8(table.Key) + "]";
    for (const DecodedString &s : table.Strings)
      out += " <" + Utf16ToUtf8(s.Key) + "=" + Utf16ToUtf8(s.Value) + ">";
  }
  for (const Translation &t : info.Translations)
    out += "\n" + std::to_string(t.Language) + "/" + std::to_string(t.CodePage);
  return out;
}

struct RcShape {
  const char *name;
  const char *body; // between BEGIN and END of a VERSIONINFO
  bool sameBytes;   // false where windres's node order is not the standard one
};

const RcShape kRcShapes[] = {
    {"one_table",
     R"(BLOCK "StringFileInfo" { BLOCK "040904B0" { VALUE "CompanyName", "Quill" VALUE "FileVersion", "1.2.3.4" } }
                     BLOCK "VarFileInfo" { VALUE "Translation", 0x0409, 1200 })",
     true},
    {"two_tables_three_translations",
     R"(BLOCK "StringFileInfo" { BLOCK "040904E4" { VALUE "A", "x" } BLOCK "040704E4" { VALUE "Bb", "yz" VALUE "C", "" } }
        BLOCK "VarFileInfo" { VALUE "Translation", 0x0409, 1252, 0x0407, 1252, 0x0C0A, 1200 })",
     true},
    {"empty_values_and_duplicates",
     R"(BLOCK "StringFileInfo" { BLOCK "080904E4" { VALUE "Comments", "" VALUE "Odd", "" VALUE "Odd", "second" VALUE "Even", "ab" } }
        BLOCK "VarFileInfo" { VALUE "Translation", 0x0809, 1252 })",
     true},
    {"non_ascii",
     R"(BLOCK "StringFileInfo" { BLOCK "041104B0" { VALUE "CompanyName", "Société Ünïcode 日本" VALUE "Ключ", "значение" } }
        BLOCK "VarFileInfo" { VALUE "Translation", 0x0411, 1200 })",
     true},
    {"translations_only", R"(BLOCK "VarFileInfo" { VALUE "Translation", 0x0409, 1200, 0x0000, 0 })", true},
    {"strings_only", R"(BLOCK "StringFileInfo" { BLOCK "040904B0" { VALUE "ProductName", "Quill" } })", true},
    {"var_first", R"(BLOCK "VarFileInfo" { VALUE "Translation", 0x0409, 1200 }
                     BLOCK "StringFileInfo" { BLOCK "040904B0" { VALUE "ProductVersion", "9.8.7.6" } })",
     false},
};

class WindresShapes : public testing::TestWithParam<RcShape> {};

TEST_P(WindresShapes, ComeBackFromTheEncoder) {
  if (std::string(QM_WINDRES).empty()) GTEST_SKIP() << "no resource compiler";
  const RcShape &shape = GetParam();
  const std::filesystem::path rc = std::filesystem::current_path() / (std::string("writer_") + shape.name + ".rc");
  std::ofstream(rc) << "#pragma code_page(65001)\n1 VERSIONINFO\nFILEVERSION 1,2,3,4\nPRODUCTVERSION 5,6,7,8\n"
                       "FILEFLAGSMASK 0x3F\nFILEFLAGS 0x21\nFILEOS 0x40004\nFILETYPE 0x2\nFILESUBTYPE 0x3\nBEGIN\n"
                    << shape.body << "\nEND\n";
  std::optional<Bytes> block = test::CompileVersionResource(rc, QM_WINDRES);
  ASSERT_TRUE(block) << "windres failed on " << rc;
  Result<VersionInfo> info = ReadVersionInfo(*block);
  ASSERT_TRUE(info) << info.error();
  Result<Bytes> written = EncodeVersionInfo(*info);
  ASSERT_TRUE(written) << written.error();
  if (shape.sameBytes) {
    EXPECT_EQ(*written, *block);
  }
  Result<VersionInfo> again = ReadVersionInfo(*written);
  ASSERT_TRUE(again) << again.error();
  EXPECT_EQ(Describe(*again), Describe(*info));
}

INSTANTIATE_TEST_SUITE_P(Shapes, WindresShapes, testing::ValuesIn(kRcShapes),
                         [](const testing::TestParamInfo<RcShape> &p) { return std::string(p.param.name); });

// Blocks in layouts windres does not write: the information survives.
struct HandShape {
  const char *name;
  Bytes block;
};

Bytes Fields(std::uint16_t major, bool debug) {
  VersionFields fields = test::BasicFields();
  fields.FileMajor = major, fields.ProdRelease = 7, fields.Debug = debug, fields.FileOs = 4;
  return test::Encode(fields, {{u"CompanyName", u""}, {u"", u""}, {u"FileVersion", u"7.0.0.0"}, {u"Key", u"odd"}});
}

Bytes NoFixedPart() {
  Bytes root = test::Child(
      u"VS_VERSION_INFO", 0, 0, {},
      test::Child(u"StringFileInfo", 0, 1, {}, test::Child(u"040904B0", 0, 1, {}, test::Child(u"Zero", 0, 0, {0, 0}))));
  return root;
}

Bytes TwoVarsAndAStranger() {
  const Bytes base = Fields(2, false);
  const Bytes first = test::TranslationValue({0x0409, 1200});
  const Bytes second = test::TranslationValue({0x0407, 1252, 0x040C, 1252});
  Bytes vars = test::Child(u"Translation", 4, 0, first);
  const Bytes more = test::Child(u"Translation", 8, 0, second);
  vars.insert(vars.end(), more.begin(), more.end());
  const Bytes other = test::Child(u"Unknown", 0, 1, {});
  return test::WithChildren(base, {test::Child(u"VarFileInfo", 0, 1, {}, vars), other, test::StringPart(base)});
}

const HandShape kHandShapes[] = {
    {"program_encoder", Fields(1, true)},
    {"program_encoder_odd", Fields(65535, false)},
    {"no_fixed_part", NoFixedPart()},
    {"two_vars_and_a_stranger", TwoVarsAndAStranger()},
};

class HandShapes : public testing::TestWithParam<HandShape> {};

TEST_P(HandShapes, KeepTheirInformation) {
  Result<VersionInfo> info = ReadVersionInfo(GetParam().block);
  ASSERT_TRUE(info) << info.error();
  Result<Bytes> written = EncodeVersionInfo(*info);
  ASSERT_TRUE(written) << written.error();
  Result<VersionInfo> again = ReadVersionInfo(*written);
  ASSERT_TRUE(again) << again.error();
  EXPECT_EQ(Describe(*again), Describe(*info));
  // Written once in the standard layout, the block is a fixed point.
  Result<Bytes> twice = EncodeVersionInfo(*again);
  ASSERT_TRUE(twice);
  EXPECT_EQ(*twice, *written);
}

INSTANTIATE_TEST_SUITE_P(Shapes, HandShapes, testing::ValuesIn(kHandShapes),
                         [](const testing::TestParamInfo<HandShape> &p) { return std::string(p.param.name); });

struct Refused {
  const char *name;
  VersionInfo info;
  const char *message;
};

VersionInfo WithString(std::u16string key, std::u16string value) {
  VersionInfo info;
  info.HasFixedPart = true;
  info.Tables.push_back({u"040904B0", {{std::move(key), std::move(value)}}});
  return info;
}

VersionInfo ManyTranslations() {
  VersionInfo info;
  info.Translations.assign(16380, Translation{0x0409, 1200});
  return info;
}

TEST(VersionInfoWriter, RefusesWhatABlockCannotHold) {
  const Refused cases[] = {
      {"nul_in_value", WithString(u"Key", std::u16string(u"a\0b", 3)), "StringFileInfo/040904B0/Key: a text may not"},
      {"nul_in_key", WithString(std::u16string(u"K\0", 2), u"v"), "a text may not hold a NUL"},
      {"long_value", WithString(u"Key", std::u16string(40000, u'x')), "StringFileInfo/040904B0/Key: 80"},
      {"long_block", ManyTranslations(), "VarFileInfo/Translation: 65"},
  };
  for (const Refused &c : cases) {
    Result<Bytes> written = EncodeVersionInfo(c.info);
    ASSERT_FALSE(written) << c.name;
    EXPECT_NE(written.error().find(c.message), std::string::npos) << c.name << ": " << written.error();
    EXPECT_EQ(written.kind(), ErrorKind::Invalid) << c.name;
  }
}

} // namespace
} // namespace qm
