#include "web/reply_text.h"

#include <gtest/gtest.h>

namespace web {
namespace {

rt::Bytes B(std::string_view s) {
  return rt::Bytes(s.begin(), s.end());
}

TEST(Utf8ToGbk, Converts) {
  EXPECT_EQ(Utf8ToGbk({}), "");
  EXPECT_EQ(Utf8ToGbk(B("plain ascii")), "plain ascii");
  EXPECT_EQ(Utf8ToGbk(B("\xE4\xB8\xAD\xE6\x96\x87")), "中文");
  EXPECT_EQ(Utf8ToGbk(B(std::string_view("ab\0cd", 5))), "ab");
  EXPECT_EQ(Utf8ToGbk(B("\xE2\x82\xAC")), "\x80");  // the euro sign is 0x80 in code page 936
}

TEST(DecodeUnicodeEscapes, Table) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"", ""},
      {"{\"code\":0,\"message\":\"\\u6210\\u529f\"}", "{\"code\":0,\"message\":\"成功\"}"},
      {"\\u4e2d", "中"},
      {"line one\r\nline two\r\n", "line one\r\nline two\r\n"},
      {"%41%u0042", "AB"},
      {"100% sure %zz %u12", "100% sure %zz %u12"},
      {"it's", "it's"},
      {"‘’", "‘'"},
      {"a{$}b", "a\r\nb"},
      {"\rstart\r", "start\r"},
      {"\r\nstart", "\r\nstart"},
      // Backslash sequences as a single-quoted script literal reads them.
      {"http:\\/\\/a.b\\/c", "http://a.b/c"},
      {"a\\nb\\tc", "a\nb\tc"},
      {"\\x41\\101\\0", "AA"},
      {"\\b\\f\\r\\v", "\b\f\r\v"},
      {"\\xZ1\\x4", "xZ1x4"},
      {"\\\\", "\\"},
      {"\\q", "q"},
      {"\\\"quoted\\\"", "\"quoted\""},
      // Would break the script literal: kept as they stand.
      {"pretty\n{\n  \"a\": 1\n}", "pretty\n{\n  \"a\": 1\n}"},
      {"<p>\rx</p>", "<p>\rx</p>"},
      {"ends with \\", "ends with \\"},
      {"\xD6\xD0\\u6587", "中文"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeUnicodeEscapes(c.in), c.out) << c.in;
}

TEST(DecodeUnicodeEscapes, NothingDecodedStaysNothing) {
  // Texts that decode to nothing are never read as UTF-16 instead.
  for (const char* in : {"\\\n", "\\u0000{\"code\":0}", "%00abc", "\\0rest"}) {
    EXPECT_EQ(DecodeUnicodeEscapes(in), "") << in;
  }
  EXPECT_EQ(DecodeUnicodeEscapes("ok\\u0000rest"), "ok");
}

TEST(StreamTextFromBytes, ReadsUtf16) {
  EXPECT_EQ(StreamTextFromBytes({}), "");
  EXPECT_EQ(StreamTextFromBytes(B(std::string_view("A\0B\0", 4))), "AB");
  EXPECT_EQ(StreamTextFromBytes(B(std::string_view("\xFF\xFE-\0\x2D\x4E", 6))), "-中");
  EXPECT_EQ(StreamTextFromBytes(B(std::string_view("A\0\0\0B\0", 6))), "A");
  EXPECT_EQ(StreamTextFromBytes(B(std::string_view("A\0B", 3))), "A");
}

}  // namespace
}  // namespace web
