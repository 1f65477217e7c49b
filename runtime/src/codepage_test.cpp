#include "runtime/codepage.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <iconv.h>
#endif

#include <optional>

namespace rt {
namespace {

TEST(CodePage, ChineseRoundTrips) {
  const std::string gbk = "鹤溪堂 铃兰小闹钟";  // code page 936 bytes
  const std::string utf8 =
      "\xE9\xB9\xA4\xE6\xBA\xAA\xE5\xA0\x82 \xE9\x93\x83\xE5\x85\xB0"
      "\xE5\xB0\x8F\xE9\x97\xB9\xE9\x92\x9F";
  EXPECT_EQ(GbkToUtf8(gbk), utf8);
  EXPECT_EQ(Utf8ToGbk(utf8), gbk);
  EXPECT_EQ(WideToGbk(GbkToWide(gbk)), gbk);
  EXPECT_EQ(GbkToWide("\xD6\xD0"), u"\u4E2D");
  EXPECT_EQ(WideToUtf8(Utf8ToWide(utf8)), utf8);
  EXPECT_EQ(GbkToWide("\x80"), u"\u20AC");
}

TEST(CodePage, MalformedUtf8BecomesReplacement) {
  struct Case {
    std::string in;
    std::u16string out;
  } cases[] = {
      {"a\xFF"
       "b",
       u"a\uFFFDb"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xE4\xB8", u"\uFFFD"},                  // truncated
      {"\xE4\xB8"
       "a",
       u"\uFFFDa"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToWide(c.in), c.out) << c.in;
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));
  EXPECT_TRUE(IsValidUtf8("plain \xE4\xB8\xAD"));
}

TEST(CodePage, UnrepresentableBecomesQuestionMark) {
  EXPECT_EQ(WideToGbk(u"a\U0001F600b"), "a??b");  // each half of the pair
  EXPECT_EQ(WideToGbk(u"\xD800x"), "?x");         // lone surrogate
  EXPECT_EQ(WideToUtf8(u"\xDC00"), "\xEF\xBF\xBD");
  EXPECT_EQ(GbkToWide("a\xD6"), u"a?");  // lead byte without its trail
#ifndef _WIN32  // the platform's own table has a private-use character there
  EXPECT_EQ(GbkToWide("\xFF"), u"?");
#endif
}

TEST(CodePage, NoLookAlikesForWhat936Lacks) {
  // Both platforms write "?" rather than a similar letter: a text must not
  // change silently into another word.
  struct Case {
    std::u16string wide;
    const char* gbk;
  } cases[] = {
      {u"\u0100", "?"},         // A with macron (the lower case one is in 936)
      {u"x\u0141y", "x?y"},     // L with stroke
      {u"\u00C5", "?"},         // A with ring
      {u"\u0107", "?"},         // c with acute
      {u"\u0101", "\xA8\xA1"},  // present: a with macron
  };
  for (const auto& c : cases) EXPECT_EQ(WideToGbk(c.wide), c.gbk) << WideToUtf8(c.wide);
}

TEST(CodePage, MixedTextKeepsWhatItCanHold) {
  // Hangul, an emoji, the euro sign (one byte, 80), Chinese, broken UTF-8.
  EXPECT_EQ(Utf8ToGbk("a\xED\x95\x9C\xF0\x9F\x98\x80\xE2\x82\xAC\xE4\xB8\xAD\xFF"
                      "b"),
            "a???\x80\xD6\xD0?b");
  EXPECT_EQ(Utf8ToGbk("plain ascii"), "plain ascii");
  EXPECT_EQ(GbkToWide("\xD6\xD0\x80\xD6"), u"\u4E2D\u20AC?");
#ifndef _WIN32  // the platform's own conversion takes such a pair as one "?"
  // D6 30 is no pair: "?" for the lead, then "0" read on its own.
  EXPECT_EQ(GbkToWide("\xD6"
                      "0"),
            u"?0");
#endif
}

#ifndef _WIN32
// Character by character through the tables gives what the system's
// converter gives for each unit and each byte pair on its own.
TEST(CodePage, TablesAgreeWithTheSystemConverter) {
  iconv_t toGbk = iconv_open("CP936", "UTF-16LE");
  iconv_t fromGbk = iconv_open("UTF-16LE", "CP936");
  ASSERT_NE(toGbk, reinterpret_cast<iconv_t>(-1));
  ASSERT_NE(fromGbk, reinterpret_cast<iconv_t>(-1));
  auto convert = [](iconv_t cd, const void* in, std::size_t n) -> std::optional<std::string> {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char out[16];
    char* src = static_cast<char*>(const_cast<void*>(in));
    char* dst = out;
    std::size_t left = n, room = sizeof out;
    if (iconv(cd, &src, &left, &dst, &room) == static_cast<std::size_t>(-1)) return std::nullopt;
    return std::string(out, dst);
  };
  for (unsigned u = 0x80; u < 0x10000; ++u) {
    if (u >= 0xD800 && u <= 0xDFFF) continue;
    const auto unit = static_cast<char16_t>(u);
    const auto expected = convert(toGbk, &unit, 2);
    ASSERT_EQ(WideToGbk(std::u16string(1, unit)), expected.value_or("?")) << std::hex << u;
  }
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      const auto expected = convert(fromGbk, pair, 2);
      if (!expected) continue;
      ASSERT_EQ(expected->size(), 2u);
      std::u16string wide(1,
                          static_cast<char16_t>(static_cast<unsigned char>((*expected)[0]) |
                                                static_cast<unsigned char>((*expected)[1]) << 8));
      ASSERT_EQ(GbkToWide(std::string_view(pair, 2)), wide) << std::hex << lead << " " << trail;
    }
  }
  iconv_close(toGbk);
  iconv_close(fromGbk);
}
#endif

TEST(CodePage, LongInputCrossesBuffers) {
  std::string gbk;
  for (int i = 0; i < 5000; ++i) gbk += "中a";
  EXPECT_EQ(WideToGbk(GbkToWide(gbk)), gbk);
  EXPECT_EQ(Utf8ToGbk(GbkToUtf8(gbk)), gbk);
}

}  // namespace
}  // namespace rt
