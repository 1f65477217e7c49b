#include "runtime/text.h"

#include <gtest/gtest.h>

#include <random>

namespace rt {
namespace {

// "中" in code page 936; its trail byte D0 and a lead byte of "文" (CE C4).
const std::string kZhong = "\xD6\xD0";

TEST(FindText, Cases) {
  struct Case {
    std::string t, s;
    int start;
    bool ignoreCase;
    int expected;
  } cases[] = {
      {"Host: x\r\naccept: */*", "Accept:", 1, true, 10},
      {"Host: x\r\naccept: */*", "Accept:", 1, false, -1},
      {"abc", "", 1, false, 1},
      {"abc", "", 3, false, 1},
      {"", "", 1, false, -1},
      {"", "a", 1, false, -1},
      {"abcabc", "abc", 2, false, 4},
      {"abcabc", "abc", 0, false, 1},
      {"abcabc", "abc", 7, false, -1},
      {"abc", "c", 3, false, 3},
      {"aaab", "aab", 1, false, 2},
      {"ABCD", "bcd", 1, true, 2},
      // D6 D0 41 (中A): "D0 41" starts on a trail byte and is not a match.
      {kZhong + "A",
       "\xD0"
       "A",
       1, false, -1},
      {kZhong + "\xD0"
                "A",
       "\xD0"
       "A",
       1, false, 3},
      // A start inside a double-byte character moves past it.
      {kZhong + "x" + kZhong, kZhong, 2, false, 4},
      // Letters are folded, other bytes never: not the trail byte of a
      // double-byte character either, even when it is a letter's byte.
      {"\xC1\xE1", "\xC1\xC1", 1, true, -1},
      {"\x81\x41", "\x81\x61", 1, true, -1},
      {"\x81\x61", "\x81\x41", 1, true, -1},
      {"x\x81\x41", "\x81\x41", 1, true, 2},
      {"\x81\x41"
       "A",
       "\x41"
       "a",
       1, true, -1},  // the first "\x41" is a trail byte
      {"a\x81\x41"
       "b",
       "A\x81\x41"
       "B",
       1, true, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindText(c.t, c.s, c.start, c.ignoreCase), c.expected)
        << c.t << " / " << c.s << " from " << c.start;
  }
}

TEST(CharLength, FourByteCodesAreOneCharacter) {
  struct Case {
    std::string t;
    std::size_t length;
  } cases[] = {
      {"\x81\x30\x81\x30", 4},
      {"\x94\x39\xFC\x36x", 4},
      {"\xD6\xD0", 2},
      {"\x81\x30\x81", 2},
      {"\x81\x30"
       "a",
       2},
      {"\x81\x30\x80\x30", 2},
      {"\xD6", 1},
      {"\x80"
       "a",
       1},
      {"\xFF\xD6", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(CharLength(c.t, 0), c.length) << c.t;
}

// Two four-byte characters side by side hold the bytes of a third in their
// middle, and digits: none of them is found there, and nothing cuts them.
TEST(FindText, NeverInsideAFourByteCharacter) {
  const std::string x = "\x81\x30\x82\x31", y = "\x83\x32\x84\x33", xy = x + y;
  EXPECT_EQ(FindText(xy, "\x82\x31\x83\x32"), -1);
  EXPECT_EQ(FindText(xy, "1"), -1);
  EXPECT_EQ(FindText(xy + "1", "1"), 9);
  EXPECT_EQ(FindText(xy, y), 5);
  EXPECT_EQ(FindText(xy, y, 2), 5);  // a start inside x moves past it
  EXPECT_EQ(ReplaceText(xy + "0", "0", "-"), xy + "-");
  EXPECT_EQ(SplitText(x + "0" + y + "0", "0"), (std::vector<std::string>{x, y}));
  EXPECT_EQ(TextPrefix(xy, 7), x);
  EXPECT_EQ(TrimText(" " + x + " "), x);
  EXPECT_EQ(UpperCase(x + "a"), x + "A");
  EXPECT_TRUE(EqualsIgnoreCase(x + "A", x + "a"));
  EXPECT_FALSE(EqualsIgnoreCase(xy, x + "\x83\x32\x84\x34"));
}

TEST(FindText, LoneLeadByteAtEndIsSafe) {
  EXPECT_EQ(FindText("ab\xD6", "\xD6"), 3);
  EXPECT_EQ(FindText("\xD6", "\xD6\xD0"), -1);
}

TEST(ReplaceText, Cases) {
  struct Case {
    std::string t, oldText, newText;
    int start;
    std::optional<int> count;
    bool caseSensitive;
    std::string expected;
  } cases[] = {
      {"a-b-c", "-", "+", 1, std::nullopt, true, "a+b+c"},
      {"a-b-c", "-", "+", 1, 1, true, "a+b-c"},
      {"a-b-c", "-", "+", 1, 0, true, "a-b-c"},
      {"a-b-c", "-", "+", 3, std::nullopt, true, "a-b+c"},
      {"a-b-c", "-", "+", 6, std::nullopt, true, "a-b-c"},
      {"Cookie: a; cookie:b", "cookie:", "", 1, std::nullopt, false, " a; b"},
      {"Cookie: a; cookie:b", "cookie:", "", 1, std::nullopt, true, "Cookie: a; b"},
      {"abc", "", "x", 1, std::nullopt, true, "abc"},
      {"", "a", "x", 1, std::nullopt, true, ""},
      {"\r\n\r\n", "\r\n", "{$}", 1, std::nullopt, true, "{$}{$}"},
      {"aaa", "aa", "b", 1, std::nullopt, true, "ba"},
      // No match starting on a trail byte.
      {kZhong + "\xD0", "\xD0", "x", 1, std::nullopt, true, kZhong + "x"},
      // Ignoring case never folds a trail byte.
      {"\x81\x41\x81\x61", "\x81\x61", "x", 1, std::nullopt, false, "\x81\x41x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReplaceText(c.t, c.oldText, c.newText, c.start, c.count, c.caseSensitive), c.expected)
        << c.t;
  }
}

TEST(SplitText, Cases) {
  using V = std::vector<std::string>;
  struct Case {
    std::string t, sep;
    std::optional<int> count;
    V expected;
  } cases[] = {
      {",a,,b,", ",", std::nullopt, {"", "a", "", "b"}},
      {"a,b,c", ",", 1, {"a"}},
      {"a,b,c", ",", 0, {}},
      {"", ",", std::nullopt, {}},
      {"abc", "", std::nullopt, {"abc"}},
      {"a\r\nb\r\n", "\r\n", std::nullopt, {"a", "b"}},
      {"1 1 8 * * * * name", " ", std::nullopt, {"1", "1", "8", "*", "*", "*", "*", "name"}},
      {" x", " ", std::nullopt, {"", "x"}},
      {"x ", " ", std::nullopt, {"x"}},
      {"x  ", " ", std::nullopt, {"x", ""}},
      // A trail byte equal to the separator does not split.
      {"\xB5\x7C|b", "|", std::nullopt, {"\xB5\x7C", "b"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitText(c.t, c.sep, c.count), c.expected) << c.t;
}

TEST(Parts, LeftRightMiddle) {
  EXPECT_EQ(LeftPart("abc", 2), "ab");
  EXPECT_EQ(LeftPart("abc", 9), "abc");
  EXPECT_EQ(LeftPart("abc", 0), "");
  EXPECT_EQ(RightPart("abc", 2), "bc");
  EXPECT_EQ(RightPart("abc", -1), "");
  EXPECT_EQ(MiddlePart("abcdef", 2, 3), "bcd");
  EXPECT_EQ(MiddlePart("abcdef", 5, 9), "ef");
  EXPECT_EQ(MiddlePart("abc", 4, 1), "");
  EXPECT_EQ(MiddlePart("abc", 0, 1), "");
}

TEST(Blanks, TrimAndRemove) {
  const std::string fw = "\xA1\xA1";  // full-width blank
  struct Case {
    std::string t, trimmed, removed;
  } cases[] = {
      {"  a b  ", "a b", "ab"},
      {fw + "a" + fw + "b" + fw, "a" + fw + "b", "ab"},
      {"   ", "", ""},
      {fw, "", ""},
      {"", "", ""},
      {kZhong + " ", kZhong, kZhong},
      // A1 as a trail byte is no blank: B0 A1 A1 41 is "啊" then A1 41.
      {"\xB0\xA1\xA1"
       "A",
       "\xB0\xA1\xA1"
       "A",
       "\xB0\xA1\xA1"
       "A"},
      {"a\xD6", "a\xD6", "a\xD6"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TrimText(c.t), c.trimmed) << c.t;
    EXPECT_EQ(RemoveAllBlanks(c.t), c.removed) << c.t;
  }
}

TEST(TrimText, WhitespaceAsWellWhenAsked) {
  const std::string fw = "\xA1\xA1";
  const std::string t = "\r\n\t " + fw + "SCT1" + fw + " \t\r\n";
  EXPECT_EQ(TrimStart(t, Blanks::kWhitespace), "SCT1" + fw + " \t\r\n");
  EXPECT_EQ(TrimEnd(t, Blanks::kWhitespace), "\r\n\t " + fw + "SCT1");
  EXPECT_EQ(TrimStart(t), t);  // blanks alone: the line end in front stays
  EXPECT_EQ(TrimEnd("a" + fw + "\xB0\xA1\xA1\xA1"), "a" + fw + "\xB0\xA1");  // A1 after a lead
}

TEST(Bytes, UpperCaseCompareCharCode) {
  EXPECT_EQ(UpperCase("content-type" + kZhong +
                      "\xC1"
                      "a"),
            "CONTENT-TYPE" + kZhong +
                "\xC1"
                "a");
  EXPECT_EQ(CompareTexts("", ""), 0);
  EXPECT_EQ(CompareTexts("", "a"), -1);
  EXPECT_EQ(CompareTexts("b", "a"), 1);
  EXPECT_EQ(CompareTexts("a", "\xD6"), -1);  // bytes compare unsigned
  EXPECT_EQ(CharCode("A"), 65);
  EXPECT_EQ(CharCode(kZhong, 1), static_cast<signed char>(0xD6));
  EXPECT_EQ(CharCode("A", 2), 0);
  EXPECT_EQ(CharCode("A", 0), 0);
  EXPECT_TRUE(EqualsIgnoreCase("content-TYPE", "Content-Type"));
  EXPECT_FALSE(EqualsIgnoreCase("\xC1", "\xE1"));          // only ASCII letters fold
  EXPECT_FALSE(EqualsIgnoreCase("\x81\x41", "\x81\x61"));  // not a trail byte
  EXPECT_FALSE(EqualsIgnoreCase("Cookie", "Cookies"));
  EXPECT_TRUE(
      EqualsIgnoreCase("\xB0\x41"
                       "Ab\x81",
                       "\xB0\x41"
                       "aB\x81"));  // a lone lead byte last
  EXPECT_FALSE(EqualsIgnoreCase("a\x81\x41", "A\x81\x61"));
  EXPECT_EQ(LowerLetters("HTTP://\xB0\x41"
                         "Host\x81"),
            "http://\xB0\x41"
            "host\x81");
  EXPECT_EQ(JoinTexts(std::string("a"), "", std::string_view("b")), "ab");
}

// A text from outside stays on one console line, whatever it holds.
TEST(PrintableText, OneLineWithoutControls) {
  const struct {
    std::string text, shown;
  } cases[] = {
      {"a\r\nb\nc\rd\te", "a  b c d e"},
      {"\x1b[2J\x7f\x01", "?[2J??"},
      {"中文 \xA1\xA1", "中文 \xA1\xA1"},
      {"\x81\n\x81\x1b", "\x81 \x81?"},  // never hidden behind a stray lead byte
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(PrintableText(c.text), c.shown) << c.text;
}

TEST(ByteHelpers, ControlBytesAndPercentForms) {
  for (const int b : {0x00, 0x09, 0x1F, 0x7F})
    EXPECT_TRUE(IsControlByte(static_cast<char>(b))) << b;
  for (const int b : {0x20, 0x7E, 0x80, 0xFF})
    EXPECT_FALSE(IsControlByte(static_cast<char>(b))) << b;
  std::string out;
  for (const int b : {0x00, 0x0A, 0x25, 0x7F, 0xB0, 0xFF}) {
    AppendPercentByte(out, static_cast<unsigned char>(b));
  }
  EXPECT_EQ(out, "%00%0A%25%7F%B0%FF");
}

TEST(ParseDecimal, RejectsAnythingButPlainDigits) {
  EXPECT_EQ(ParseDecimal("0"), 0);
  EXPECT_EQ(ParseDecimal("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(ParseDecimal("9223372036854775808"), std::nullopt);
  for (const char* bad : {"", "-1", "+1", "1x", " 1"}) EXPECT_EQ(ParseDecimal(bad), std::nullopt);
}

TEST(ReadDigits, RunsOfEveryBase) {
  struct Case {
    std::string_view text;
    std::size_t pos;
    int base;
    std::size_t most;
    std::int64_t value;
    std::size_t length;
  };
  const Case cases[] = {
      {"x0377y", 1, 8, 3, 037, 3},     // at most three octal digits
      {"\\48", 1, 8, 3, 4, 1},         // 8 is no octal digit
      {"%4a%", 1, 16, 2, 0x4A, 2},     // either letter case
      {"%4G", 1, 16, 2, 4, 1},         // G is no hex digit
      {"2026-12", 0, 10, 4, 2026, 4},  // a date's field
      {"abc", 0, 10, 4, 0, 0},         // none there
      {"12", 2, 10, 4, 0, 0},          // past the end
  };
  for (const Case& c : cases) {
    const DigitRun run = ReadDigits(c.text, c.pos, c.base, c.most);
    EXPECT_EQ(run.value, c.value) << c.text;
    EXPECT_EQ(run.length, c.length) << c.text;
    EXPECT_FALSE(run.overflowed) << c.text;
  }
  EXPECT_TRUE(ReadDigits("99999999999999999999", 0, 10).overflowed);
}

// The searches agree with a naive scan over character positions.
TEST(FindText, MatchesNaiveScanOnRandomTexts) {
  std::mt19937 rng(7);
  const char alphabet[] = {'a', 'A', 'b', '\xD6', '\xD0', 'a', 'B', '0', '\x81'};
  auto randomText = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s.push_back(alphabet[rng() % sizeof alphabet]);
    return s;
  };
  for (int round = 0; round < 5000; ++round) {
    const std::string t = randomText(static_cast<int>(rng() % 16));
    const std::string s = randomText(1 + static_cast<int>(rng() % 3));
    const bool fold = rng() % 2;
    // Which bytes are trail bytes, each text read from its start.
    auto trails = [](const std::string& x) {
      std::vector<bool> trail(x.size());
      for (std::size_t i = 0; i < x.size(); i += CharLength(x, i)) {
        for (std::size_t k = 1; k < CharLength(x, i); ++k) trail[i + k] = true;
      }
      return trail;
    };
    const auto tTrail = trails(t), sTrail = trails(s);
    auto folded = [&](unsigned char c, bool trail) {
      return fold && !trail && c >= 'A' && c <= 'Z' ? c + 32 : c;
    };
    int expected = -1;
    for (std::size_t i = 0; i < t.size(); i += CharLength(t, i)) {
      bool ok = i + s.size() <= t.size();
      for (std::size_t k = 0; ok && k < s.size(); ++k) {
        const auto a = folded(static_cast<unsigned char>(t[i + k]), tTrail[i + k]);
        const auto b = folded(static_cast<unsigned char>(s[k]), sTrail[k]);
        ok = a == b;
      }
      if (ok) {
        expected = static_cast<int>(i + 1);
        break;
      }
    }
    ASSERT_EQ(FindText(t, s, 1, fold), expected) << t << " / " << s;
  }
}

}  // namespace

TEST(ShownText, OneLineCutOnACharacter) {
  EXPECT_EQ(ShownText("a\tb\x7f\r\n", 200), "a b?  ");
  EXPECT_EQ(ShownText("提醒", 200), "提醒");
  EXPECT_EQ(ShownText("ab提醒", 5), "ab提...");            // never half a character
  EXPECT_EQ(ShownText("ab\x81\x30\x81\x30", 5), "ab...");  // nor half of a four-byte one
  EXPECT_EQ(ShownText(std::string(300, 'x'), 200).size(), 203u);
  EXPECT_EQ(ShownText("\x81\x1b[2J", 200), "\x81?[2J");  // no escape hides behind a stray lead byte
}

}  // namespace rt
