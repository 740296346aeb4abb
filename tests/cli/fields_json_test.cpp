// The fields file: version texts, list texts, types, and the encoder's own
// conversion messages reaching the user unchanged.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>

#include "cli/fields_json.h"
#include "cli_test_support.h"

namespace qm::cli::test {
namespace {

TEST(FieldsFromJson, TakesEveryFieldAndListTexts) {
  auto fields = FieldsFromJson(R"j({
    "fileVersion": "1.2.3.4", "productVersion": "5.6.7.8",
    "debug": true, "preRelease": true, "special": false, "private": true,
    "fileOs": "DOS (WINDOWS16)", "fileType": "STATIC LIB", "fileSubType": "DRV SOUND",
    "language": "0c0a", "codePage": "0037",
    "strings": [["B", "2"], ["A", ""], ["B", "again"]]})j");
  ASSERT_TRUE(fields) << fields.error();
  EXPECT_EQ(fields->FileMajor, 1);
  EXPECT_EQ(fields->FileMinor, 2);
  EXPECT_EQ(fields->FileRelease, 3);
  EXPECT_EQ(fields->FileBuild, 4);
  EXPECT_EQ(fields->ProdMajor, 5);
  EXPECT_EQ(fields->ProdBuild, 8);
  EXPECT_TRUE(fields->Debug);
  EXPECT_TRUE(fields->PreRelease);
  EXPECT_FALSE(fields->Special);
  EXPECT_TRUE(fields->Private);
  EXPECT_EQ(fields->FileOs, 0x00010001u);
  EXPECT_EQ(fields->FileType, 7u); // the last item stands for 7, not its index 6
  EXPECT_EQ(fields->FileSubType, 9u);
  EXPECT_EQ(fields->LanguageText, "0c0a");
  EXPECT_EQ(fields->CodePageText, "0037");
  ASSERT_EQ(fields->Rows.size(), 3u); // order and duplicates kept
  EXPECT_EQ(fields->Rows[0].Key, "B");
  EXPECT_EQ(fields->Rows[1].Value, "");
  EXPECT_EQ(fields->Rows[2].Value, "again");
}

TEST(FieldsFromJson, DefaultsWhenOnlyTheTranslationIsGiven) {
  auto fields = FieldsFromJson(R"j({"language": "0409", "codePage": "1200", "fileOs": 4294967295})j");
  ASSERT_TRUE(fields) << fields.error();
  EXPECT_EQ(fields->FileMajor + fields->FileMinor + fields->FileRelease + fields->FileBuild, 0);
  EXPECT_FALSE(fields->Debug || fields->PreRelease || fields->Special || fields->Private);
  EXPECT_EQ(fields->FileOs, 0xFFFFFFFFu);
  EXPECT_TRUE(fields->Rows.empty());
}

// A version as people write it: the numbers go to the fixed part, and any
// form but A.B.C.D gives its string too, unless the file lists that string.
TEST(FieldsFromJson, VersionsAsWritten) {
  const struct {
    const char *members;
    std::array<int, 8> numbers;
    const char *rows;
  } cases[] = {
      {R"j("fileVersion": "v2.4-rc.1", "productVersion": "1.2.3.4")j",
       {2, 4, 0, 0, 1, 2, 3, 4},
       " FileVersion=v2.4-rc.1"},
      {R"j("fileVersion": "2.4.0 beta", "strings": [["fileversion", "own"]])j",
       {2, 4, 0, 0, 0, 0, 0, 0},
       " fileversion=own"},
      {R"j("productVersion": "7", "strings": [["A", "1"]])j", {0, 0, 0, 0, 7, 0, 0, 0}, " A=1 ProductVersion=7"},
      {R"j("fileVersion": "01.2.3.4", "strings": [])j", {1, 2, 3, 4, 0, 0, 0, 0}, ""},
  };
  for (const auto &c : cases) {
    auto fields = FieldsFromJson(std::string(R"j({"language": "0409", "codePage": "1200", )j") + c.members + "}");
    ASSERT_TRUE(fields) << c.members << ": " << fields.error();
    const VersionFields &f = *fields;
    EXPECT_EQ((std::array<int, 8>{f.FileMajor, f.FileMinor, f.FileRelease, f.FileBuild, f.ProdMajor, f.ProdMinor,
                                  f.ProdRelease, f.ProdBuild}),
              c.numbers)
        << c.members;
    std::string rows;
    for (const StringRow &row : f.Rows)
      rows += " " + row.Key + "=" + row.Value;
    EXPECT_EQ(rows, c.rows) << c.members;
  }
}

struct BadFields {
  const char *name;
  const char *json;
  const char *message; // a piece of the message
  friend void PrintTo(const BadFields &c, std::ostream *os) { *os << c.name; }
};

class FieldsFromJsonRefuses : public ::testing::TestWithParam<BadFields> {};

TEST_P(FieldsFromJsonRefuses, WithAMessageNamingTheProblem) {
  auto fields = FieldsFromJson(GetParam().json);
  ASSERT_FALSE(fields);
  EXPECT_NE(fields.error().find(GetParam().message), std::string::npos) << fields.error();
  EXPECT_EQ(fields.kind(), ErrorKind::Invalid) << "a refused fields file is an invalid one: " << fields.error();
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FieldsFromJsonRefuses,
    ::testing::Values(
        BadFields{"NotJson", R"j({"language": "0409",)j", "not valid JSON"},
        BadFields{"NotAnObject", R"j(["0409", "1252"])j", "expected a JSON object"},
        BadFields{"NoLanguage", R"j({"codePage": "1252"})j", "missing field \"language\""},
        BadFields{"NoCodePage", R"j({"language": "0409"})j", "missing field \"codePage\""},
        BadFields{"UnknownKey", R"j({"language": "0409", "codePage": "1252", "fileversion": "1.0.0.0"})j",
                  "unknown field \"fileversion\""},
        BadFields{"LanguageAsNumber", R"j({"language": 809, "codePage": "1252"})j", "language: expected a text"},
        BadFields{"VersionAsNumber", R"j({"language": "0409", "codePage": "1252", "fileVersion": 1})j",
                  "fileVersion: expected a text"},
        BadFields{"LongVersion", R"j({"language": "0409", "codePage": "1252", "productVersion": "1.2.3.4.5"})j",
                  "productVersion: '1.2.3.4.5' has more than four parts; write [v]A[.B[.C[.D]]]"},
        BadFields{"VersionWithNul", R"j({"language": "0409", "codePage": "1252", "fileVersion": "1-\u0000"})j",
                  "fileVersion: a text may not contain"},
        BadFields{"FlagAsText", R"j({"language": "0409", "codePage": "1252", "debug": "yes"})j",
                  "debug: expected true or false"},
        BadFields{"UnknownOsText", R"j({"language": "0409", "codePage": "1252", "fileOs": "nt (windows32)"})j",
                  "fileOs: \"nt (windows32)\" is not an item"},
        BadFields{"UnknownTypeText", R"j({"language": "0409", "codePage": "1252", "fileType": "EXE"})j",
                  "the items are \"UNKNOWN\", \"APP\""},
        BadFields{"CodeTooLarge", R"j({"language": "0409", "codePage": "1252", "fileSubType": 4294967296})j",
                  "does not fit in 32 bits"},
        BadFields{"NegativeCode", R"j({"language": "0409", "codePage": "1252", "fileType": -1})j",
                  "fileType: expected a number"},
        BadFields{"StringsAsObject", R"j({"language": "0409", "codePage": "1252", "strings": {"A": "1"}})j",
                  "strings: expected an array"},
        BadFields{"PairOfThree",
                  R"j({"language": "0409", "codePage": "1252", "strings": [["A", "1"], ["B", "2", "3"]]})j",
                  "strings[1]: expected a pair"},
        BadFields{"ValueAsNumber", R"j({"language": "0409", "codePage": "1252", "strings": [["A", 1]]})j",
                  "strings[0]: expected a pair"},
        BadFields{"EmbeddedNul", R"j({"language": "0409", "codePage": "1252", "strings": [["A", "x\u0000y"]]})j",
                  "strings[0]: a text may not contain"},
        // The parser would keep one of the two values and drop the other.
        BadFields{"MemberTwice", R"j({"fileVersion": "7.7.7.7", "language": "0409", "codePage": "1252",
                  "fileVersion": "1.2.3.4"})j",
                  "the member \"fileVersion\" is named twice"},
        BadFields{
            "MemberTwiceInANestedObject",
            R"j({"language": "0409", "codePage": "1252", "strings": [], "x": [{"a": 1, "b": {"a": 2}, "a": 3}]})j",
            "the member \"a\" is named twice"},
        // Converts, but would wrap in the block's 16-bit words.
        BadFields{"LanguagePast16Bits", R"j({"language": "10409", "codePage": "1252"})j",
                  "language: \"10409\" is outside 0000 to FFFF"},
        BadFields{"CodePagePast16Bits", R"j({"language": "0409", "codePage": "70000"})j",
                  "codePage: \"70000\" is outside 0 to 65535"},
        BadFields{"NegativeCodePage", R"j({"language": "0409", "codePage": "-1"})j", "codePage: \"-1\" is outside"},
        BadFields{
            "NestedTooDeep",
            R"j({"language": "0409", "codePage": "1252", "strings": [[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]})j",
            "nested deeper than 64 levels"}),
    [](const ::testing::TestParamInfo<BadFields> &info) { return std::string(info.param.name); });

struct Nesting {
  std::string text;
  bool accepted;
};

class JsonNesting : public ::testing::TestWithParam<Nesting> {};

// Counted before parsing: brackets inside strings (escaped quotes too) are
// text, and a document of any depth is refused without recursion.
TEST_P(JsonNesting, IsCountedOutsideStringsOnly) {
  EXPECT_EQ(CheckJsonNesting(GetParam().text, 8).ok(), GetParam().accepted) << GetParam().text.substr(0, 40);
}

INSTANTIATE_TEST_SUITE_P(Fields, JsonNesting,
                         ::testing::Values(Nesting{std::string(8, '[') + std::string(8, ']'), true},
                                           Nesting{std::string(9, '[') + std::string(9, ']'), false},
                                           Nesting{"[[[[[[[[\"[[[[{{{{\"]]]]]]]]", true},
                                           Nesting{"[[[[[[[[\"\\\"[\"]]]]]]]]", true},
                                           Nesting{"[[[[[[[[\"\\\\\"[]]]]]]]]", false},
                                           Nesting{std::string(200000, '{'), false}));

// A name is counted twice only within one object: the same name in a
// nested or a sibling object is another member.
TEST(ParseJsonText, TellsMembersApartPerObject) {
  EXPECT_TRUE(ParseJsonText(R"j({"a": {"a": 1}, "b": [{"a": 2, "b": 0}, {"a": 3}], "c": {"b": {}}})j"));
  auto twice = ParseJsonText(R"j({"a": {"a": 1}, "b": [{"a": 2}, {"a": 3, "b": 0, "a": 4}]})j");
  ASSERT_FALSE(twice);
  EXPECT_NE(twice.error().find("\"a\" is named twice"), std::string::npos) << twice.error();
}

TEST(FieldsFromJson, MessagesQuoteABoundedExcerptOnOneLine) {
  const std::string huge(100000, 'x');
  for (const std::string &json :
       {R"j({"language": "0409", "codePage": "1252", ")j" + huge + "\n\": 1}",
        R"j({"language": "0409", "codePage": "1252", "fileType": ")j" + huge + "\u001b[2J\"}",
        R"j({"language": "0409", "codePage": "1252", "debug": [")j" + huge + "\"]}", "{\"language\": \"" + huge}) {
    auto fields = FieldsFromJson(json);
    ASSERT_FALSE(fields);
    EXPECT_LT(fields.error().size(), 400u) << fields.error().substr(0, 400);
    EXPECT_EQ(fields.error().find_first_of("\n\x1b"), std::string::npos) << fields.error();
  }
}

// The language and code page texts reach the encoder as they are, so its
// message is the one the user sees, as the editor would show it.
struct BadTranslation {
  const char *language;
  const char *codePage;
  const char *message;
  friend void PrintTo(const BadTranslation &c, std::ostream *os) {
    *os << '"' << c.language << "\" \"" << c.codePage << '"';
  }
};

class BuildReportsEncoderMessage : public ::testing::TestWithParam<BadTranslation> {};

TEST_P(BuildReportsEncoderMessage, ExitsTenAndWritesNothing) {
  ScratchDir dir;
  WriteText(dir / "fields.json", std::string(R"j({"language": ")j") + GetParam().language + R"j(", "codePage": ")j" +
                                     GetParam().codePage + R"j("})j");
  CliRun run = RunCliCaptured({"build", dir / "fields.json", dir / "out.res"});
  EXPECT_EQ(run.code, 10);
  EXPECT_EQ(run.err, std::string("quillmark-cli: ") + GetParam().message + "\n");
  EXPECT_FALSE(fs::exists(dir.path() / "out.res"));
}

INSTANTIATE_TEST_SUITE_P(Fields, BuildReportsEncoderMessage,
                         ::testing::Values(BadTranslation{"", "1252", "'$' is not a valid integer value"},
                                           BadTranslation{"", "", "'$' is not a valid integer value"},
                                           BadTranslation{"zz09", "1252", "'$zz09' is not a valid integer value"},
                                           BadTranslation{"0809", "", "'' is not a valid integer value"},
                                           BadTranslation{"0809", "12x", "'12x' is not a valid integer value"},
                                           BadTranslation{"0809", "1252 ", "'1252 ' is not a valid integer value"}));

} // namespace
} // namespace qm::cli::test
