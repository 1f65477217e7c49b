#include "runtime/codepage.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <cstdint>
#include <optional>
#include <vector>

#include "codepage_internal.h"
#include "runtime/text.h"

namespace rt {
namespace {

TEST(CodePage, ChineseRoundTrips) {
  const std::string gbk = "鹤溪堂 铃兰小闹钟";  // code page 936 bytes
  const std::string utf8 =
      "\xE9\xB9\xA4\xE6\xBA\xAA\xE5\xA0\x82 \xE9\x93\x83\xE5\x85\xB0"
      "\xE5\xB0\x8F\xE9\x97\xB9\xE9\x92\x9F";
  EXPECT_EQ(TextToUtf8(gbk), utf8);
  EXPECT_EQ(Utf8ToText(utf8), gbk);
  EXPECT_EQ(WideToText(TextToWide(gbk)), gbk);
  EXPECT_EQ(TextToWide("\xD6\xD0"), u"\u4E2D");
  EXPECT_EQ(WideToUtf8(Utf8ToWide(utf8)), utf8);
  EXPECT_EQ(TextToWide("\x80"), u"\u20AC");
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
  EXPECT_EQ(Utf8ToText("a\xFF"), "a\x84\x31\xA4\x37");  // U+FFFD has a code too
}

// The same codes on every platform: code page 936's where it has one, the
// four-byte codes of GB18030 for the rest.
TEST(CodePage, EveryCharacterHasItsCode) {
  struct Case {
    std::u16string wide;
    std::string code;
  } cases[] = {
      {u"\u4E2D", "\xD6\xD0"},
      {u"\u20AC", "\x80"},                  // the euro sign: code page 936's one byte
      {u"\u0101", "\xA8\xA1"},              // a with macron, in 936
      {u"\u0100", "\x81\x30\x8B\x38"},      // A with macron: its own code, no look-alike
      {u"\u00DF", "\x81\x30\x89\x38"},      // sharp s
      {u"\u00F1", "\x81\x30\x8A\x39"},      // n with tilde
      {u"\u2122", "\x81\x36\xBE\x34"},      // trade mark sign
      {u"\u00BD", "\x81\x30\x86\x35"},      // one half
      {u"\uD55C", "\x83\x36\x84\x33"},      // Hangul
      {u"\U0001F600", "\x94\x39\xFC\x36"},  // an emoji
      {u"\U0001F35A", "\x94\x39\xB8\x38"},
      {u"\U00010000", "\x90\x30\x81\x30"},  // the first and last beyond the basic plane
      {u"\U0010FFFF", "\xE3\x32\x9A\x35"},
      {u"\uFFFF", "\x84\x31\xA4\x39"},  // the last of the basic plane
      {u"\uE000", "\xAA\xA1"},          // private use, on 936's user-defined pairs
      {u"\uE7C7", "\xA8\xBC"},
      // What GB18030 puts on pairs that 936 gives to private use takes the
      // code GB18030 gives that private-use character.
      {u"\u1E3F", "\x81\x35\xF4\x37"},
      {u"\u01F9", "\x83\x36\xC8\x30"},
      {u"\u2E81", "\x83\x36\xC9\x34"},
      // Codes a later edition withdrew for its pairs stay theirs.
      {u"\uFE10", "\x84\x31\x82\x36"},
      {u"\u9FB4", "\x82\x35\x90\x37"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WideToText(c.wide), c.code) << WideToUtf8(c.wide);
    EXPECT_EQ(TextToWide(c.code), c.wide) << WideToUtf8(c.wide);
    EXPECT_EQ(Utf8ToText(WideToUtf8(c.wide)), c.code) << WideToUtf8(c.wide);
    EXPECT_EQ(TextToUtf8(c.code), WideToUtf8(c.wide));
  }
}

// Every character of every plane comes back from its code, and the
// character walk takes the code as one character.
TEST(CodePage, EveryCharacterRoundTrips) {
  for (std::uint32_t cp = 0x80; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::u16string wide;
    if (cp < 0x10000) {
      wide = std::u16string(1, static_cast<char16_t>(cp));
    } else {
      wide = {static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)),
              static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF))};
    }
    const std::string code = WideToText(wide);
    ASSERT_EQ(TextToWide(code), wide) << std::hex << cp;
    ASSERT_EQ(CharLength(code, 0), code.size()) << std::hex << cp;
  }
}

TEST(CodePage, BytesThatStandForNoCharacterBecomeQuestionMarks) {
  struct Case {
    std::string code;
    std::u16string wide;
  } cases[] = {
      {"a\xD6", u"a?"},  // a lead byte without its trail
      {"\xD6"
       "0",
       u"?0"},  // no pair: the byte after the lead is read again
      {"\x81\x30\x81", u"?0?"},
      {"\x81\x30\x81\x30\x81", u"\u0080?"},
      {"\x85\x30\x81\x30", u"?"},  // between the planes
      {"\xE3\x32\x9A\x36", u"?"},  // beyond the last code point
      {"\xFE\x39\xFE\x39", u"?"},
      {"\xFF", u"?"},
  };
  for (const auto& c : cases) EXPECT_EQ(TextToWide(c.code), c.wide) << c.code;
  EXPECT_EQ(WideToText(u"\xD800x"), "?x");  // a lone surrogate
  EXPECT_EQ(WideToText(u"x\xDC00"), "x?");
  EXPECT_EQ(WideToUtf8(u"\xDC00"), "\xEF\xBF\xBD");
}

TEST(CodePage, MixedTextKeepsEverything) {
  // Hangul, an emoji, the euro sign, Chinese, ASCII between them.
  const std::string utf8 =
      "a\xED\x95\x9C\xF0\x9F\x98\x80\xE2\x82\xAC\xE4\xB8\xAD"
      "b";
  const std::string code =
      "a\x83\x36\x84\x33\x94\x39\xFC\x36\x80\xD6\xD0"
      "b";
  EXPECT_EQ(Utf8ToText(utf8), code);
  EXPECT_EQ(TextToUtf8(code), utf8);
  EXPECT_EQ(Utf8ToText("plain ascii"), "plain ascii");
}

TEST(CodePage, LongInputCrossesBuffers) {
  std::string gbk;
  for (int i = 0; i < 5000; ++i) gbk += "中a\x94\x39\xFC\x36";
  EXPECT_EQ(WideToText(TextToWide(gbk)), gbk);
  EXPECT_EQ(Utf8ToText(TextToUtf8(gbk)), gbk);
}

#ifdef _WIN32
// The private-use pairs held for systems that leave them out are the
// platform's own.
TEST(CodePage, PrivateUsePairsAreThePlatformsOwn) {
  int held = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      const char16_t unit = codepage::PrivateUseUnitOf(static_cast<unsigned char>(lead),
                                                       static_cast<unsigned char>(trail));
      if (unit == 0) continue;
      ++held;
      const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      wchar_t platform = 0;
      ASSERT_EQ(MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, pair, 2, &platform, 1), 1);
      ASSERT_EQ(unit, static_cast<char16_t>(platform)) << std::hex << lead << " " << trail;
      ASSERT_EQ(codepage::PrivateUsePairOf(unit), lead << 8 | trail);
    }
  }
  EXPECT_GT(held, 2000);
}
#else
using CodePoints = std::vector<std::uint32_t>;

std::optional<CodePoints> Convert(iconv_t cd, std::string_view in) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char32_t out[4];
  char* src = const_cast<char*>(in.data());
  char* dst = reinterpret_cast<char*>(out);
  std::size_t left = in.size(), room = sizeof out;
  if (iconv(cd, &src, &left, &dst, &room) == static_cast<std::size_t>(-1) || left != 0) {
    return std::nullopt;
  }
  return CodePoints(out, reinterpret_cast<char32_t*>(dst));
}

bool IsPrivateUse(std::uint32_t cp) {
  return cp >= 0xE000 && cp <= 0xF8FF;
}

class SystemConverter : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(from936_, reinterpret_cast<iconv_t>(-1));
    ASSERT_NE(from18030_, reinterpret_cast<iconv_t>(-1));
    ASSERT_NE(to18030_, reinterpret_cast<iconv_t>(-1));
  }
  void TearDown() override {
    iconv_close(from936_);
    iconv_close(from18030_);
    iconv_close(to18030_);
  }
  static CodePoints Ours(std::string_view code) {
    const std::u16string wide = TextToWide(code);
    CodePoints out;
    for (std::size_t i = 0; i < wide.size(); ++i) {
      if (wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size()) {
        out.push_back(0x10000 + ((wide[i] - 0xD800u) << 10) + (wide[i + 1] - 0xDC00u));
        ++i;
      } else {
        out.push_back(wide[i]);
      }
    }
    return out;
  }
  static std::string Code(std::uint32_t unit) {
    return WideToText(std::u16string(1, static_cast<char16_t>(unit)));
  }
  std::optional<std::string> ToGb18030(std::uint32_t cp) {
    iconv(to18030_, nullptr, nullptr, nullptr, nullptr);
    char out[8];
    char* src = reinterpret_cast<char*>(&cp);
    char* dst = out;
    std::size_t left = sizeof cp, room = sizeof out;
    if (iconv(to18030_, &src, &left, &dst, &room) == static_cast<std::size_t>(-1)) {
      return std::nullopt;
    }
    return std::string(out, dst);
  }
  iconv_t from936_ = iconv_open("UTF-32LE", "CP936");
  iconv_t to18030_ = iconv_open("GB18030", "UTF-32LE");
  iconv_t from18030_ = iconv_open("UTF-32LE", "GB18030");
};

// Pairs read as the system's code page 936 reads them; the pairs it leaves
// out are private use, as GB18030 reads them where it has private use there.
TEST_F(SystemConverter, PairsAgree) {
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      const CodePoints ours = Ours(std::string_view(pair, 2));
      ASSERT_EQ(ours.size(), 1u) << std::hex << lead << " " << trail;
      if (const auto cp936 = Convert(from936_, std::string_view(pair, 2))) {
        ASSERT_EQ(ours, *cp936) << std::hex << lead << " " << trail;
        continue;
      }
      ASSERT_TRUE(IsPrivateUse(ours[0])) << std::hex << lead << " " << trail;
      const auto gb = Convert(from18030_, std::string_view(pair, 2));
      if (gb && IsPrivateUse((*gb)[0])) {
        ASSERT_EQ(ours, *gb) << std::hex << lead << " " << trail;
      }
    }
  }
}

// Four-byte codes read as GB18030 reads them, but where it names a private-
// use character that a pair holds here (ours: the character GB18030 reads
// from that pair) or names none (a withdrawn code: one that GB18030 writes
// as a pair held here by private use).
TEST_F(SystemConverter, FourByteCodesAgree) {
  int differ = 0;
  for (std::uint32_t n = 0; n < codepage::kBasicFourByteCount; ++n) {
    unsigned char b[4];
    codepage::FourByteCode(n, b);
    const std::string_view code(reinterpret_cast<char*>(b), 4);
    const CodePoints ours = Ours(code);
    ASSERT_EQ(ours.size(), 1u) << n;
    const auto gb = Convert(from18030_, code);
    const std::string heldAs = gb ? Code((*gb)[0]) : "";
    if (gb && !(IsPrivateUse((*gb)[0]) && heldAs.size() == 2)) {
      ASSERT_EQ(ours, *gb) << n;
      continue;
    }
    ++differ;
    if (gb) {
      ASSERT_EQ(Convert(from18030_, heldAs), ours) << n;
    } else {
      const auto pair = ToGb18030(ours[0]);
      ASSERT_TRUE(pair && pair->size() == 2) << n;
      ASSERT_TRUE(IsPrivateUse(Ours(*pair)[0])) << n;
    }
  }
  EXPECT_LT(differ, 120);
  for (std::uint32_t cp = 0x10000; cp <= 0x10FFFF; ++cp) {
    const std::u16string wide = {static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)),
                                 static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF))};
    const auto gb = ToGb18030(cp);
    ASSERT_TRUE(gb) << std::hex << cp;
    // A few are pairs in GB18030's latest edition, held here by private use.
    if (gb->size() == 2) {
      ASSERT_TRUE(IsPrivateUse(Ours(*gb)[0])) << std::hex << cp;
    } else {
      ASSERT_EQ(WideToText(wide), *gb) << std::hex << cp;
    }
  }
}
#endif

}  // namespace
}  // namespace rt
