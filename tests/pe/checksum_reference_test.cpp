// The checksum against a reference written here from the platform's
// definition rather than from the product's code: a plain loop over the
// words, carries folded after every addition, the field's bytes left out.
#include <gtest/gtest.h>

#include "base/byte_reader.h"
#include "crafted_modules.h"
#include "pe/checksum.h"

namespace qm::pe::test {
namespace {

using craft::Bytes;

std::uint32_t U32(const Bytes &b, std::size_t at) { return *ByteReader(b).u32(at); }

std::uint32_t FoldedWordSum(const Bytes &file, std::size_t skipFrom, std::size_t skipTo) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < file.size(); ++i) {
    const std::uint32_t byte = (i >= skipFrom && i < skipTo) ? 0 : file[i];
    sum += (i % 2 == 0) ? byte : byte << 8;
    if (sum > 0xFFFF) sum = (sum & 0xFFFF) + 1;
  }
  return sum;
}

// A field on a word boundary: its words enter the sum and are taken off
// again, which is the sum without them.
std::uint32_t ReferenceAligned(const Bytes &file, std::size_t at) {
  return FoldedWordSum(file, at, at + 4) + static_cast<std::uint32_t>(file.size());
}

// Taking a word off in one's complement is adding its complement; 0 and
// 0xFFFF are the same number there, so the 16-bit parts are compared mod
// 0xFFFF.
std::uint32_t ModOnes(std::uint32_t sum, std::size_t length) {
  return (sum - static_cast<std::uint32_t>(length)) % 0xFFFF;
}
std::uint32_t ReferenceAnywhere(const Bytes &file, std::size_t at) {
  const std::uint32_t stored = U32(file, at);
  std::uint32_t sum = FoldedWordSum(file, 0, 0);
  for (std::uint32_t word : {stored & 0xFFFF, stored >> 16}) {
    sum += ~word & 0xFFFF;
    if (sum > 0xFFFF) sum = (sum & 0xFFFF) + 1;
  }
  return sum + static_cast<std::uint32_t>(file.size());
}

struct ImageCase {
  const char *name;
  std::uint32_t peOffset;      // odd ones put the field across word boundaries
  std::uint8_t fill;           // the section's bytes: large words make carries
  std::uint32_t oldChecksum;   // what the field held before: its high word must be taken off
  std::size_t extra;           // bytes appended: odd lengths end in half a word
  bool carryAfterFold = false; // a last word makes the first fold carry again
};

class ChecksumReference : public ::testing::TestWithParam<ImageCase> {};

Bytes Image(const ImageCase &c) {
  craft::ImageShape shape;
  craft::SectionShape data;
  data.rva = 0x1000;
  data.virtualSize = 0x400;
  data.rawPointer = 0x200;
  data.raw = Bytes(0x400, c.fill);
  for (std::size_t i = 0; i < data.raw.size(); i += 7)
    data.raw[i] = static_cast<std::uint8_t>(i * 31);
  shape.sections.push_back(data);
  shape.overlay = Bytes(c.extra, 0xFF);
  Bytes image = craft::BuildImage(shape);
  if (c.peOffset != shape.peOffset) {
    EXPECT_TRUE(craft::MovePeHeaders(image, c.peOffset));
  }
  return image;
}

std::size_t ChecksumAt(const Bytes &image) { return std::size_t{U32(image, 0x3C)} + 4 + 20 + 64; }

TEST_P(ChecksumReference, MatchesTheDefinition) {
  const ImageCase &c = GetParam();
  Bytes image = Image(c);
  const std::size_t at = ChecksumAt(image);
  PutU32(image, at, c.oldChecksum);
  if (c.carryAfterFold) {
    // With the low half of the plain sum at 0xFFFF, adding the high half
    // back carries out of 16 bits once more.
    ASSERT_EQ(image.size() % 2, 0u);
    std::uint64_t plain = 0;
    for (std::size_t i = 0; i < image.size(); i += 2)
      plain += image[i] | (image[i + 1] << 8);
    ASSERT_GT(plain >> 16, 0u);
    const auto last = static_cast<std::uint16_t>(0xFFFF - (plain & 0xFFFF));
    image.push_back(static_cast<std::uint8_t>(last & 0xFF));
    image.push_back(static_cast<std::uint8_t>(last >> 8));
  }
  if (at % 2 == 0) {
    EXPECT_EQ(ComputeChecksum(image, at), ReferenceAligned(image, at));
  }
  EXPECT_EQ(ModOnes(ComputeChecksum(image, at), image.size()), ModOnes(ReferenceAnywhere(image, at), image.size()));

  // The value the writer stores is its own checksum by the reference too.
  const std::uint32_t stored = ChecksumToStore(image, at);
  PutU32(image, at, stored);
  EXPECT_EQ(ModOnes(ReferenceAnywhere(image, at), image.size()), ModOnes(stored, image.size()));
  if (at % 2 == 0) {
    EXPECT_EQ(stored, ReferenceAligned(image, at));
  }
}

INSTANTIATE_TEST_SUITE_P(Images, ChecksumReference,
                         ::testing::Values(ImageCase{"zero_field", 0x40, 0x00, 0, 0},
                                           ImageCase{"carries", 0x40, 0xFF, 0, 0},
                                           ImageCase{"old_high_word", 0x40, 0x80, 0x0003A1B2u, 1},
                                           ImageCase{"old_value_carries", 0x80, 0xFF, 0xFFFEFFFFu, 3},
                                           ImageCase{"carry_after_the_first_fold", 0x40, 0x37, 0x00020001u, 0, true},
                                           ImageCase{"odd_e_lfanew", 0x41, 0xFF, 0x00051234u, 0},
                                           ImageCase{"odd_e_lfanew_carry_after_the_first_fold", 0x41, 0x91, 0, 0, true},
                                           ImageCase{"odd_e_lfanew_odd_length", 0x43, 0xC3, 0x7FFF0001u, 1}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace qm::pe::test
