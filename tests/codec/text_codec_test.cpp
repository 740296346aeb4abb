// The text conversions against the C library's converter (iconv), an
// independent table of Windows-1252 and of UTF-8.
#include "codec/text_codec.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <optional>

namespace qm {
namespace {

// `in` converted by iconv from one encoding to UTF-16LE or back; none when
// iconv refuses it.
std::optional<std::string> Iconv(const char *to, const char *from, std::string in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(in.size() * 4 + 8, '\0');
  char *src = in.data(), *dst = out.data();
  std::size_t srcLeft = in.size(), dstLeft = out.size();
  const std::size_t done = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  iconv_close(cd);
  if (done == static_cast<std::size_t>(-1)) return std::nullopt;
  out.resize(out.size() - dstLeft);
  return out;
}

std::string Utf16Bytes(std::u16string_view text) {
  std::string out;
  for (char16_t unit : text) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

TEST(TextCodec, Windows1252AgreesWithIconvForEveryByte) {
  const Windows1252Codec codec;
  for (int byte = 1; byte < 256; ++byte) {
    const std::string one(1, static_cast<char>(byte));
    const std::u16string unit = codec.ToUtf16(one);
    ASSERT_EQ(unit.size(), 1u) << byte;
    // The five bytes the code page leaves out map to the control character
    // of the same number.
    const std::optional<std::string> expected = Iconv("UTF-16LE", "CP1252", one);
    if (expected) {
      EXPECT_EQ(Utf16Bytes(unit), *expected) << "byte " << byte;
    } else {
      EXPECT_EQ(unit[0], byte) << "byte " << byte;
    }
    EXPECT_EQ(codec.FromUtf16(unit), one) << "byte " << byte;
  }
  EXPECT_EQ(codec.FromUtf16(u"\x0100\x20AD\x4E00"), "???");
}

// Code points at the edges of each UTF-8 length, both ways.
TEST(TextCodec, Utf8AgreesWithIconvAtEveryLengthEdge) {
  for (char32_t cp : {0x01u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xD7FFu, 0xE000u, 0xFFFDu, 0xFFFFu, 0x10000u, 0x40000u,
                      0xFFFFFu, 0x10FFFFu}) {
    const std::string utf32(reinterpret_cast<const char *>(&cp), 4);
    const std::optional<std::string> utf8 = Iconv("UTF-8", "UTF-32LE", utf32);
    const std::optional<std::string> utf16 = Iconv("UTF-16LE", "UTF-32LE", utf32);
    ASSERT_TRUE(utf8 && utf16) << static_cast<unsigned>(cp);
    EXPECT_EQ(Utf16Bytes(Utf8ToUtf16(*utf8)), *utf16) << "U+" << std::hex << static_cast<unsigned>(cp);
    std::u16string units;
    for (std::size_t i = 0; i + 1 < utf16->size(); i += 2)
      units.push_back(static_cast<char16_t>(static_cast<unsigned char>((*utf16)[i]) |
                                            static_cast<unsigned char>((*utf16)[i + 1]) << 8));
    EXPECT_EQ(Utf16ToUtf8(units), *utf8) << "U+" << std::hex << static_cast<unsigned>(cp);
  }
}

// Each malformed sequence that iconv refuses becomes replacement characters
// and the text after it survives.
TEST(TextCodec, MalformedUtf8BecomesReplacementCharacters) {
  const struct {
    const char *bytes;
    std::u16string expected;
  } cases[] = {
      {"\xC0\xAF"
       "a",
       u"\xFFFD\xFFFD"
       u"a"}, // overlong
      {"\xC1\xBF"
       "a",
       u"\xFFFD\xFFFD"
       u"a"}, // overlong U+007F, the last code point one byte holds
      {"\xC0\x80"
       "a",
       u"\xFFFD\xFFFD"
       u"a"}, // overlong U+0000
      {"\xE0\x80\xAF"
       "a",
       u"\xFFFD\xFFFD\xFFFD"
       u"a"}, // overlong, three bytes
      {"\xE0\x9F\xBF"
       "a",
       u"\xFFFD\xFFFD\xFFFD"
       u"a"}, // overlong U+07FF, the last code point two bytes hold
      {"\xF0\x8F\xBF\xBF"
       "a",
       u"\xFFFD\xFFFD\xFFFD\xFFFD"
       u"a"}, // overlong U+FFFF, the last code point three bytes hold
      {"\xED\xA0\x80"
       "a",
       u"\xFFFD\xFFFD\xFFFD"
       u"a"}, // a surrogate
      {"\xF4\x90\x80\x80"
       "a",
       u"\xFFFD\xFFFD\xFFFD\xFFFD"
       u"a"},                                                      // past U+10FFFF
      {"\xF8\x88\x80\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD\xFFFD"}, // five-byte form
      {"\xE2\x82"
       "a",
       u"\xFFFD\xFFFD"
       u"a"}, // cut short
      {"\x80"
       "a",
       u"\xFFFD"
       u"a"}, // lone continuation
  };
  for (const auto &c : cases) {
    EXPECT_FALSE(Iconv("UTF-16LE", "UTF-8", c.bytes)) << "iconv takes " << c.bytes;
    EXPECT_EQ(Utf8ToUtf16(c.bytes), c.expected) << Utf16ToUtf8(c.expected);
  }
  EXPECT_EQ(Utf16ToUtf8(u"\xD800"
                        u"a"
                        u"\xDC00"),
            "\xEF\xBF\xBD"
            "a\xEF\xBF\xBD");
}

} // namespace
} // namespace qm
