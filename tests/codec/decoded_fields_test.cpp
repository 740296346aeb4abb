// Every field both readers take from the fixed part, checked against a value
// placed at its offset in VS_FIXEDFILEINFO (which starts at byte 40 of the
// block). The values are all different, and each 32-bit one has distinct
// high and low words, so a field read from a neighbour's offset, or a word
// from the wrong half, shows.
#include <gtest/gtest.h>


#include "block_builder.h"
#include "codec/decoder.h"
#include "codec/integer_text.h"
#include "codec/version_info_reader.h"
#include "codec/version_info_writer.h"

namespace qm {
namespace {

using test::Bytes;

constexpr std::size_t kFixed = 40;

Bytes DistinctFixedPart() {
  Bytes block = test::Encode(test::BasicFields(), {{u"K", u"V"}});
  const std::uint16_t words[8] = {0x1101, 0x2202, 0x3303, 0x4404, 0x5505, 0x6606, 0x7707, 0x8808};
  for (std::size_t i = 0; i < 8; ++i)
    PutU16(block, kFixed + 8 + 2 * i, words[i]);
  PutU32(block, kFixed + 4, 0x00010000);  // dwStrucVersion
  PutU32(block, kFixed + 24, 0x0000003F); // dwFileFlagsMask
  PutU32(block, kFixed + 28, 0x00A0002B); // dwFileFlags
  PutU32(block, kFixed + 32, 0x00040004); // dwFileOS
  PutU32(block, kFixed + 36, 0x00B00007); // dwFileType
  PutU32(block, kFixed + 40, 0x00C0000A); // dwFileSubtype
  PutU32(block, kFixed + 44, 0x01D2A3B4); // dwFileDateMS
  PutU32(block, kFixed + 48, 0x55667788); // dwFileDateLS
  return block;
}

TEST(DecodedFields, GeneralReaderTakesEachFieldFromItsOwnOffset) {
  Result<VersionInfo> info = ReadVersionInfo(DistinctFixedPart());
  ASSERT_TRUE(info) << info.error();
  const FixedFileInfo &f = info->Fixed;
  EXPECT_EQ(f.StrucVersion, 0x00010000u);
  // dwFileVersionMS holds major (high word) and minor, LS release and build.
  EXPECT_EQ(f.FileMinor, 0x1101);
  EXPECT_EQ(f.FileMajor, 0x2202);
  EXPECT_EQ(f.FileBuild, 0x3303);
  EXPECT_EQ(f.FileRelease, 0x4404);
  EXPECT_EQ(f.ProdMinor, 0x5505);
  EXPECT_EQ(f.ProdMajor, 0x6606);
  EXPECT_EQ(f.ProdBuild, 0x7707);
  EXPECT_EQ(f.ProdRelease, 0x8808);
  EXPECT_EQ(f.FlagsMask, 0x3Fu);
  EXPECT_EQ(f.Flags, 0x00A0002Bu);
  EXPECT_EQ(f.FileOs, 0x00040004u);
  EXPECT_EQ(f.FileType, 0x00B00007u);
  EXPECT_EQ(f.FileSubType, 0x00C0000Au);
  EXPECT_EQ(f.FileDate, 0x01D2A3B455667788u);
  // And the writer puts each field back at the offset it came from.
  Result<Bytes> written = EncodeVersionInfo(*info);
  ASSERT_TRUE(written) << written.error();
  const Bytes original = DistinctFixedPart();
  EXPECT_EQ(Bytes(written->begin() + kFixed, written->begin() + kFixed + 52),
            Bytes(original.begin() + kFixed, original.begin() + kFixed + 52));
}

TEST(DecodedFields, EditorDecoderTakesEachFieldFromItsOwnOffset) {
  DecodedVersionBlock d = DecodeVersionBlock(DistinctFixedPart());
  ASSERT_TRUE(d.SignatureMatched);
  const std::int16_t positions[8] = {0x1101, 0x2202, 0x3303, 0x4404, 0x5505, 0x6606, 0x7707, -0x77F8};
  for (std::size_t i = 0; i < 8; ++i)
    EXPECT_EQ(d.Words[i].Position, positions[i]) << i;
  EXPECT_EQ(d.Flags, 0x00A0002Bu);
  EXPECT_EQ(d.FileOs, 0x00040004u);
  EXPECT_EQ(d.FileType, 0x00B00007u);
  EXPECT_EQ(d.FileSubType, 0x00C0000Au);
  EXPECT_EQ(d.Strings, (std::vector<DecodedString>{{u"K", u"V"}}));
}

// Each digit at the edges of the ranges the conversion accepts, in both
// cases; the characters just outside them are refused.
struct DigitCase {
  const char *text;
  std::optional<std::int32_t> value;
};
class HexDigits : public testing::TestWithParam<DigitCase> {};
TEST_P(HexDigits, EdgesOfEachRange) {
  Result<std::int32_t> value = IntegerFromText(GetParam().text);
  if (GetParam().value) {
    ASSERT_TRUE(value) << GetParam().text;
    EXPECT_EQ(*value, *GetParam().value) << GetParam().text;
  } else {
    EXPECT_FALSE(value) << GetParam().text;
  }
}
INSTANTIATE_TEST_SUITE_P(Table, HexDigits,
                         testing::Values(DigitCase{"$A", 10}, DigitCase{"$a", 10}, DigitCase{"$F", 15},
                                         DigitCase{"$f", 15}, DigitCase{"$9", 9}, DigitCase{"19", 19},
                                         DigitCase{"$@", {}}, DigitCase{"$G", {}}, DigitCase{"$`", {}},
                                         DigitCase{"$g", {}}, DigitCase{"1:", {}}, DigitCase{"1/", {}},
                                         DigitCase{"1A", {}}));

// A sink that cannot take the block: its failure is reported whole, not lost.
TEST(DecodedFields, SinkThatCannotWriteReportsIt) {
  const BlockSink sink = [](std::span<const std::uint8_t>) -> Status {
    return Fail(ErrorKind::CannotWrite, "Writing the version block failed");
  };
  Status status = BuildVersionBlock(EncodeTarget::BlockFile, sink, test::BasicFields(), Windows1252Codec());
  ASSERT_FALSE(status);
  EXPECT_EQ(status.error(), "Writing the version block failed");
  EXPECT_EQ(status.kind(), ErrorKind::CannotWrite);
}

} // namespace
} // namespace qm
