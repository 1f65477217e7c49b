#include "web/header_text.h"

#include <gtest/gtest.h>

#include <string>

namespace web {
namespace {

TEST(HeaderText, NormalizeHeaderCase) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"content-type: text/plain", "Content-Type: text/plain"},
      {"x-my-header:1", "X-My-Header:1"},
      {"ACCEPT: */*", "ACCEPT: */*"},
      {"\r\nAccept: */*\r\nreferer: http://a.b/c?k=1", "Accept: */*\r\nReferer: http://a.b/c?k=1"},
      {"no colon\r\n\r\nalso none", ""},
      {"", ""},
      {"a:1\r\n", "A:1"},
      // The rest is counted from the end: a trailing "-" stays.
      {"x-:1", "X-:1"},
      {"a--b: v", "A--B: v"},
      {"-a: v", "-A: v"},
      {":v", ":v"},
      // Values are never touched, blanks stay.
      {" accept : x-y ", " accept : x-y "},
      {"\xD6\xD0-a:1", "\xD6\xD0-A:1"},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizeHeaderCase(c.in), c.out) << c.in;
}

TEST(HeaderText, CapitalizeFirst) {
  EXPECT_EQ(CapitalizeFirst("abc"), "Abc");
  EXPECT_EQ(CapitalizeFirst("aBC"), "ABC");
  EXPECT_EQ(CapitalizeFirst("1a"), "1a");
  EXPECT_EQ(CapitalizeFirst(""), "");
}

TEST(HeaderText, NameAndValue) {
  struct Case {
    const char* line;
    const char* name;
    const char* value;
  };
  const Case cases[] = {
      {"Accept: */*", "Accept", "*/*"},
      {"  Host :  a:80  ", "Host", "a:80"},
      {"\xA1\xA1X:\xA1\xA1v\xA1\xA1", "X", "v"},
      {"no colon", "", ""},
      {":", "", ""},
      {"Cookie:", "Cookie", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HeaderName(c.line), c.name) << c.line;
    EXPECT_EQ(HeaderValue(c.line), c.value) << c.line;
  }
}

// Lines as "[name|value]", or "[line]" for one without ":".
std::string Scanned(std::string_view block, HeaderBytes bytes) {
  std::string out;
  for (const HeaderLine& h : ScanHeaderLines(block, bytes)) {
    out += h.hasColon ? "[" + std::string(h.name) + "|" + std::string(h.value) + "]"
                      : "[" + std::string(h.line) + "]";
  }
  return out;
}

TEST(HeaderText, ScanHeaderLines) {
  struct Case {
    const char* block;
    const char* text;  // read as code page 936
    const char* wire;  // read byte by byte
  };
  const Case cases[] = {
      {"", "", ""},
      {"a: 1", "[a| 1]", "[a| 1]"},
      {"a:1\r\n", "[a|1]", "[a|1]"},
      {"\r\n", "[]", "[]"},
      {"a:1\r\n\r\nb\r\n\r\n", "[a|1][][b][]", "[a|1][][b][]"},
      {"a:b:c", "[a|b:c]", "[a|b:c]"},
      {":v", "[|v]", "[|v]"},
      {"a\nb:1\rc", "[a\nb|1\rc]", "[a\nb|1\rc]"},  // only CR LF ends a line
      // A lead byte takes the next byte along in program text only.
      {"x:\xD6\r\ny:2", "[x|\xD6\r\ny:2]", "[x|\xD6][y|2]"},
      {"\xD6:a:b", "[\xD6:a|b]", "[\xD6|a:b]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Scanned(c.block, HeaderBytes::kText), c.text) << c.block;
    EXPECT_EQ(Scanned(c.block, HeaderBytes::kWire), c.wire) << c.block;
  }
}

TEST(HeaderText, TextBeforeAndBetween) {
  EXPECT_EQ(TextBefore("Set-Cookie: a=1; path=/", ": "), "Set-Cookie");
  EXPECT_EQ(TextBefore("abc", "x"), "");
  EXPECT_EQ(TextBefore("a:b:c", ":", 3), "a:b");
  EXPECT_EQ(TextBefore("a:b:c", ":", -5), "a");
  EXPECT_EQ(TextBefore("aXbxc", "x", 1, true), "a");
  EXPECT_EQ(TextBefore(" a : b", ":"), " a ");

  EXPECT_EQ(TextBetween("Set-Cookie: a=1; path=/", "Set-Cookie:", ";"), " a=1");
  EXPECT_EQ(TextBetween("Set-Cookie: b=2", "Set-Cookie:", ";"), "");
  EXPECT_EQ(TextBetween("x[1] [2]", "[", "]", 4), "2");
  EXPECT_EQ(TextBetween("[]", "[", "]"), "");
  EXPECT_EQ(TextBetween("a", "a", ""), "");
  EXPECT_EQ(TextBetween("SET-COOKIE:x;", "set-cookie:", ";", std::nullopt, true), "x");
}

TEST(HeaderText, Base64Encode) {
  const auto b = [](std::string_view s) { return rt::Bytes(s.begin(), s.end()); };
  EXPECT_EQ(Base64Encode({}), "");
  EXPECT_EQ(Base64Encode(b("f")), "Zg==");
  EXPECT_EQ(Base64Encode(b("fo")), "Zm8=");
  EXPECT_EQ(Base64Encode(b("foo")), "Zm9v");
  EXPECT_EQ(Base64Encode(b("foobar")), "Zm9vYmFy");
  EXPECT_EQ(Base64Encode({0xFB, 0xFF, 0xBF}), "+/+/");
  EXPECT_EQ(Base64Encode(b("user:pass")), "dXNlcjpwYXNz");
}

// Proxy credentials go back through it: every length of tail, and what is
// not Base64 at all.
TEST(HeaderText, Base64DecodeUndoesEncode) {
  const auto b = [](std::string_view s) { return rt::Bytes(s.begin(), s.end()); };
  for (const rt::Bytes& bytes :
       {b(""), b("f"), b("fo"), b("foo"), b("user:p\xE5ss"), rt::Bytes{0xFB, 0xFF, 0xBF, 0x00}}) {
    EXPECT_EQ(Base64Decode(Base64Encode(bytes)), bytes) << Base64Encode(bytes);
  }
  EXPECT_EQ(Base64Decode("Zm8"), b("fo"));  // without its padding
  EXPECT_EQ(Base64Decode("Zm 8="), std::nullopt);
  EXPECT_EQ(Base64Decode("Zm8=x"), std::nullopt);
}

TEST(HeaderText, CookieNameAndDuplicates) {
  EXPECT_EQ(CookieName(" a = 1 "), "a");
  EXPECT_EQ(CookieName(" flag "), "flag");
  EXPECT_EQ(CookieName("a=b=c"), "a");
  EXPECT_EQ(RemoveDuplicateItems("x=1; x=1", "; "), "x=1");
  EXPECT_EQ(RemoveDuplicateItems("a,b,a,c,b", ","), "a,b,c");
  EXPECT_EQ(RemoveDuplicateItems("a,,b,", ","), "a,,b");
  EXPECT_EQ(RemoveDuplicateItems("", ","), "");
}

TEST(HeaderText, MergeCookies) {
  struct Case {
    const char* sent;
    const char* returned;
    const char* merged;
    const char* returnedAfter;
  };
  const Case cases[] = {
      {"a=0;d=3", "a=1; b=2", "a=1; b=2; d=3", "a=1;b=2"},
      {"a=0", "a=deleted", "", "a=deleted"},
      {"", "x=1; x=1", "x=1", "x=1;x=1"},
      {"a=1; a=2", "", "a=1", ""},
      {"A=1", "a=2", "a=2; A=1", "a=2"},
      {"a = 1 ;\xA1\xA1 b=2", "", "a=1; b=2", ""},
      {"", "", "", ""},
  };
  for (const auto& c : cases) {
    std::string sent = c.sent, returned = c.returned;
    EXPECT_EQ(MergeCookies(sent, returned), c.merged) << c.sent << " | " << c.returned;
    EXPECT_EQ(sent, c.merged);
    EXPECT_EQ(returned, c.returnedAfter);
  }
}

TEST(HeaderText, MergeCookiesOfManyCookies) {
  // Large enough that a merge quadratic in the number of cookies runs for
  // minutes (and hits the test time-out); a linear one takes well under one.
  constexpr int kCount = 200000;
  std::string sent, returned, merged;
  for (int i = 0; i < kCount; ++i) sent += "k" + std::to_string(i) + "=s;";
  for (int round = 0; round < 2; ++round) {  // every returned cookie twice
    for (int i = kCount / 2; i < kCount + kCount / 2; ++i) {
      returned += "k" + std::to_string(i) + "=r; ";
    }
  }
  for (int i = kCount / 2; i < kCount + kCount / 2; ++i) merged += "k" + std::to_string(i) + "=r; ";
  for (int i = 0; i < kCount / 2; ++i) merged += "k" + std::to_string(i) + "=s; ";
  merged.resize(merged.size() - 2);
  EXPECT_EQ(MergeCookies(sent, returned), merged);
}

TEST(HeaderText, NormalizeLineEnds) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"a: 1\nb: 2\n", "a: 1\r\nb: 2\r\n"}, {"a: 1\r\nb: 2\r\n\r\n", "a: 1\r\nb: 2\r\n\r\n"},
      {"a: 1\rb: 2", "a: 1\r\nb: 2"},       {"\n\n\r\r\n", "\r\n\r\n\r\n\r\n"},
      {"\xD6\xD0\n", "\xD6\xD0\r\n"},       {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizeLineEnds(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace web
