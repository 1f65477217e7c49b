#include <gtest/gtest.h>

#include "app/reminder.h"
#include "runtime/codepage.h"

namespace app {
namespace {

rt::Bytes B(std::string_view s) {
  return rt::Bytes(s.begin(), s.end());
}

TEST(FileText, EncodingsAndMarks) {
  struct Case {
    std::string bytes, text;
  } cases[] = {
      {"SCT123", "SCT123"},
      {"\xEF\xBB\xBFSCT123\r\n", "SCT123\r\n"},
      {rt::GbkToUtf8("1 1 8 * * * * 定时提醒"), "1 1 8 * * * * 定时提醒"},  // saved as UTF-8
      {"1 1 8 * * * * 定时提醒", "1 1 8 * * * * 定时提醒"},                 // saved as 936
      {std::string("ab\0cd", 5), "ab"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FileText(B(c.bytes)), c.text) << c.bytes;
}

TEST(KeyFromFileText, TrimsOnlyWhatSurroundsTheKey) {
  EXPECT_EQ(KeyFromFileText("SCT1a\r\n"), "SCT1a");
  EXPECT_EQ(KeyFromFileText(" \tSCT1a \t\n\n"), "SCT1a");
  EXPECT_EQ(KeyFromFileText("\r\n"), "");
  EXPECT_EQ(KeyFromFileText("   "), "");
  EXPECT_EQ(KeyFromFileText("a b"), "a b");
}

TEST(ScheduleLines, OneTaskPerNonEmptyLine) {
  using V = std::vector<std::string>;
  EXPECT_EQ(ScheduleLines(""), V{std::string(kDefaultScheduleLine)});
  EXPECT_EQ(ScheduleLines("\r\n\r\n"), V{std::string(kDefaultScheduleLine)});
  EXPECT_EQ(ScheduleLines("1 * * * * * * a\r\n"), V{"1 * * * * * * a"});
  EXPECT_EQ(ScheduleLines("1 * * * * * * a\n\n2 * * * * * * b"),
            (V{"1 * * * * * * a", "2 * * * * * * b"}));
}

TEST(RequestAddress, KeyForms) {
  const Settings s{"https://relay.example/", "", ""};
  EXPECT_EQ(RequestAddress(s, "SCT12345abc"), "https://relay.example/SCT12345abc.send");
  // Another relay serves "sctp" keys itself; only the public one sends them away.
  EXPECT_EQ(RequestAddress(s, "sctp1234tABCdef"), "https://relay.example/sctp1234tABCdef.send");
  EXPECT_EQ(RequestAddress({"http://127.0.0.1:9/", "", ""}, "sctp1234tABCdef"),
            "http://127.0.0.1:9/sctp1234tABCdef.send");
  const Settings publicRelay{"https://sctapi.ftqq.com/", "", ""};
  EXPECT_EQ(RequestAddress(publicRelay, "sctp1234tABCdef"),
            "https://1234.push.ft07.com/send/sctp1234tABCdef.send");
  EXPECT_EQ(RequestAddress(publicRelay, "sctpXtABC"), "https://sctapi.ftqq.com/sctpXtABC.send");
  EXPECT_EQ(RequestAddress(publicRelay, "sctp12"), "https://sctapi.ftqq.com/sctp12.send");
  // A key is one path segment whatever it holds.
  EXPECT_EQ(RequestAddress(s, "a/b?c#d e"), "https://relay.example/a%2Fb%3Fc%23d%20e.send");
  EXPECT_EQ(RequestAddress(s, ""), "https://relay.example/.send");
}

TEST(DeliveryAccepted, StatusAndCode) {
  struct Case {
    int status;
    std::string reply;
    bool accepted;
  } cases[] = {
      {200, R"({"code":0,"message":"","data":{}})", true},
      {200, R"({"code": 0})", true},
      {200, "ok", true},
      {204, "", true},
      {200, R"({"code":40001,"message":"bad pushkey"})", false},
      {200, R"({"code":"40001"})", false},
      {400, R"({"code":0})", false},
      {500, "", false},
      {0, "", false},
  };
  for (const auto& c : cases) EXPECT_EQ(DeliveryAccepted(c.status, c.reply), c.accepted) << c.reply;
}

TEST(SafeReply, ControlsAndKeyNeverReachTheScreen) {
  EXPECT_EQ(SafeReply("a\x1b[2Jb\r\n\tc\x7f", "KEY"), "a?[2Jb\r\n\tc?");
  EXPECT_EQ(SafeReply("url /SCT9999.send", "SCT9999"), "url /***.send");
  EXPECT_EQ(SafeReply("中文", ""), "中文");
}

TEST(Banner, ExactBytes) {
  const std::string rule(74, '-');
  const std::string expected =
      "欢迎使用铃兰小闹钟\r\n" + rule + "\r\n教程\r\n    输入 q 回车 退出\r\n" +
      "    weskey.txt 放Server酱自己的微信key 地址:H\r\n" +
      "    time.txt   放定时任务时间 可自定义计划\r\n" + rule + "\r\n\r\n" + rule + "\r\n\r\n" +
      std::string(15, ' ') + "鹤溪堂 星河速览:S\r\n\r\n" + rule + "\r\n\r\n";
  EXPECT_EQ(Banner({"P", "H", "S"}), expected);
}

}  // namespace
}  // namespace app
