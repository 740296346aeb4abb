// The differences diff lists between two pieces of version information, and
// the string table a lookup reads.
#include "codec/version_diff.h"

#include <gtest/gtest.h>

#include "codec/text_codec.h"
#include "codec/version_query.h"

namespace qm {
namespace {

using Strings = std::vector<std::pair<const char *, const char *>>;

StringTable Table(const char *key, const Strings &strings) {
  StringTable table{Utf8ToUtf16(key), {}};
  for (const auto &[k, v] : strings)
    table.Strings.push_back({Utf8ToUtf16(k), Utf8ToUtf16(v)});
  return table;
}

VersionInfo Info(std::vector<StringTable> tables, std::vector<Translation> translations = {{0x0409, 1200}}) {
  VersionInfo info;
  info.HasFixedPart = true;
  info.Fixed.FileMajor = 1;
  info.Tables = std::move(tables);
  info.Translations = std::move(translations);
  return info;
}

// One difference per line: change|section|table|key|a|b, "-" where a side has none.
std::string Lines(const std::vector<VersionDifference> &differences) {
  std::string text;
  for (const VersionDifference &d : differences)
    text += std::string(DiffChangeName(d.Change)) + "|" + d.Section + "|" + d.Table + "|" + d.Key + "|" +
            d.A.value_or("-") + "|" + d.B.value_or("-") + "\n";
  return text;
}

struct DiffRow {
  const char *name;
  VersionInfo a, b;
  const char *expected;
  friend void PrintTo(const DiffRow &row, std::ostream *os) { *os << row.name; }
};

class VersionDiff : public ::testing::TestWithParam<DiffRow> {};

TEST_P(VersionDiff, ListsEachDifferenceOnce) {
  EXPECT_EQ(Lines(DiffVersionInfo(GetParam().a, GetParam().b)), GetParam().expected);
}

VersionInfo WithFixed(void (*change)(FixedFileInfo &)) {
  VersionInfo info = Info({});
  change(info.Fixed);
  return info;
}

const VersionInfo kAbc = Info({Table("040904B0", {{"a", "1"}, {"b", "2"}, {"c", "3"}})});

INSTANTIATE_TEST_SUITE_P(
    Table, VersionDiff,
    ::testing::Values(
        DiffRow{"same", kAbc, kAbc, ""},
        DiffRow{"keys in another letter case are the same key",
                Info({Table("040904b0", {{"A", "1"}, {"b", "2"}, {"C", "3"}})}), kAbc, ""},
        DiffRow{"a value's case counts", kAbc, Info({Table("040904B0", {{"a", "1"}, {"b", "2"}, {"c", "x"}})}),
                "changed|string|040904B0|c|3|x\n"},
        DiffRow{"one string moved, the others keep their order", kAbc,
                Info({Table("040904B0", {{"c", "3"}, {"a", "1"}, {"b", "2"}})}), "moved|string|040904B0|c|3|1\n"},
        DiffRow{"the first moved to the end", kAbc, Info({Table("040904B0", {{"b", "2"}, {"c", "3"}, {"a", "1"}})}),
                "moved|string|040904B0|a|1|3\n"},
        DiffRow{"one moved down past two",
                Info({Table("040904B0", {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}})}),
                Info({Table("040904B0", {{"a", "1"}, {"c", "3"}, {"d", "4"}, {"b", "2"}})}),
                "moved|string|040904B0|b|2|4\n"},
        DiffRow{"pairs swapped: one of each pair moved",
                Info({Table("040904B0", {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}})}),
                Info({Table("040904B0", {{"b", "2"}, {"a", "1"}, {"d", "4"}, {"c", "3"}})}),
                "moved|string|040904B0|a|1|2\nmoved|string|040904B0|c|3|4\n"},
        DiffRow{"moved and changed", kAbc, Info({Table("040904B0", {{"c", "x"}, {"a", "1"}, {"b", "2"}})}),
                "changed|string|040904B0|c|3|x\nmoved|string|040904B0|c|3|1\n"},
        DiffRow{"removed, then added in B's order", kAbc,
                Info({Table("040904B0", {{"a", "1"}, {"z", "9"}, {"c", "3"}, {"y", "8"}})}),
                "removed|string|040904B0|b|2|-\nadded|string|040904B0|z|-|9\nadded|string|040904B0|y|-|8\n"},
        DiffRow{"a key given twice pairs first with first",
                Info({Table("040904B0", {{"x", "1"}, {"x", "2"}})}), Info({Table("040904B0", {{"X", "1"}})}),
                "removed|string|040904B0|x|2|-\n"},
        DiffRow{"tables by key", Info({Table("040904B0", {}), Table("040704B0", {{"k", "v"}})}),
                Info({Table("040904B0", {}), Table("041104B0", {})}),
                "removed|table|040704B0||-|-\nadded|table|041104B0||-|-\n"},
        DiffRow{"fixed members by show's names, codes with their names",
                WithFixed([](FixedFileInfo &f) { f.FileOs = 0x40004; }), WithFixed([](FixedFileInfo &f) {
                  f.FileBuild = 7, f.Flags = 0x3, f.FileOs = 0x4, f.FileDate = 1;
                }),
                "changed|fixed||fileVersion|1.0.0.0|1.0.0.7\n"
                "changed|fixed||fileFlags|0x00000000|0x00000003 (Debug Build, Pre-release)\n"
                "changed|fixed||fileOs|0x00040004 (NT (WINDOWS32))|0x00000004 (WINDOWS32)\n"
                "changed|fixed||fileDate|0x0000000000000000|0x0000000000000001\n"},
        DiffRow{"a missing fixed part is one difference", Info({}),
                [] {
                  VersionInfo none = Info({});
                  none.HasFixedPart = false;
                  return none;
                }(),
                "changed|fixed||hasFixedPart|true|false\n"},
        DiffRow{"translations as lists", Info({}), Info({}, {{0x0409, 1200}, {0x0407, 1252}}),
                "changed|translations|||0x0409/1200|0x0409/1200, 0x0407/1252\n"}));

TEST(VersionDiff, LanguagesDifferOnlyWhenTheListsDo) {
  EXPECT_FALSE(DiffLanguages({0x0407, 0x0409}, {0x0407, 0x0409}));
  EXPECT_EQ(Lines({*DiffLanguages({0x0409}, {})}), "changed|languages|||0x0409|none\n");
}

TEST(VersionDiff, ReversedStringsKeepTheOrderOfOneOnly) {
  VersionInfo a = Info({Table("040904B0", {})}), b = a;
  for (int i = 0; i < 4000; ++i) {
    a.Tables[0].Strings.push_back({Utf8ToUtf16(std::to_string(i)), u"v"});
    b.Tables[0].Strings.insert(b.Tables[0].Strings.begin(), {Utf8ToUtf16(std::to_string(i)), u"v"});
  }
  // No two keep their order with each other: one stays, every other one moved.
  EXPECT_EQ(DiffVersionInfo(a, b).size(), 3999u);
}

struct LookupRow {
  const char *name;
  VersionInfo info;
  std::optional<std::u16string> key;
  const char *expected; // the table read, or "" for none
  friend void PrintTo(const LookupRow &row, std::ostream *os) { *os << row.name; }
};

class TableLookup : public ::testing::TestWithParam<LookupRow> {};

TEST_P(TableLookup, ReadsTheTableThePlatformWould) {
  const StringTable *table = TableToRead(GetParam().info, GetParam().key);
  EXPECT_EQ(table ? Utf16ToUtf8(table->Key) : "", GetParam().expected);
}

const std::vector<StringTable> kTwo = {Table("040904B0", {}), Table("040704e4", {})};

INSTANTIATE_TEST_SUITE_P(
    Table, TableLookup,
    ::testing::Values(LookupRow{"the first translation's table", Info(kTwo, {{0x0407, 1252}}), {}, "040704e4"},
                      LookupRow{
                          "no table for the translation: the first", Info(kTwo, {{0x0411, 1200}}), {}, "040904B0"},
                      LookupRow{"no translation: the first", Info(kTwo, {}), {}, "040904B0"},
                      LookupRow{"asked by key, in any case", Info(kTwo), u"040704E4", "040704e4"},
                      LookupRow{"asked for a key not held: none", Info(kTwo), u"041104B0", ""},
                      LookupRow{"no tables at all", Info({}), {}, ""}));

TEST(TableLookup, FindsTheFirstStringOfAKeyInAnyCase) {
  const StringTable table = Table("040904B0", {{"Name", "1"}, {"NAME", "2"}});
  ASSERT_NE(FindString(table, u"nAmE"), nullptr);
  EXPECT_EQ(FindString(table, u"nAmE")->Value, u"1");
  EXPECT_EQ(FindString(table, u"Nam"), nullptr);
}

} // namespace
} // namespace qm
