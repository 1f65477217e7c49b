#include "runtime/codepage.h"

#include <gtest/gtest.h>

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

TEST(CodePage, LongInputCrossesBuffers) {
  std::string gbk;
  for (int i = 0; i < 5000; ++i) gbk += "中a";
  EXPECT_EQ(WideToGbk(GbkToWide(gbk)), gbk);
  EXPECT_EQ(Utf8ToGbk(GbkToUtf8(gbk)), gbk);
}

}  // namespace
}  // namespace rt
