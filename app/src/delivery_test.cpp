#include <gtest/gtest.h>

#include <random>

#include "app/exchange.h"
#include "app/reminder.h"
#include "app/schedule_file.h"
#include "runtime/codepage.h"
#include "runtime/text.h"
#include "shown_reply.h"
#include "web/reply_text.h"
#include "web/web_request.h"

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
      {rt::TextToUtf8("1 1 8 * * * * 定时提醒"), "1 1 8 * * * * 定时提醒"},  // saved as UTF-8
      {"1 1 8 * * * * 定时提醒", "1 1 8 * * * * 定时提醒"},                  // saved as 936
      {std::string("ab\0cd", 5), "ab"},
      {"", ""},
      // UTF-16 with its byte-order mark, little and big endian.
      {std::string("\xFF\xFES\0C\0T\0"
                   "1\0\x2D\x4E\r\0\n\0",
                   16),
       "SCT1中\r\n"},
      {std::string("\xFE\xFF\0S\0C\0T\0"
                   "1\x4E\x2D",
                   12),
       "SCT1中"},
      {std::string("\xFF\xFE"
                   "a\0\0\0b\0",
                   8),
       "a"},
      {std::string("\xFF\xFE"
                   "a\0b",
                   5),
       "a"},  // an odd last byte is no character
      {"\xFF\xFE", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FileText(B(c.bytes)), c.text) << c.bytes;
}

TEST(KeyFromFileText, TrimsOnlyWhatSurroundsTheKey) {
  struct Case {
    std::string text, key;
  } cases[] = {
      {"SCT1a\r\n", "SCT1a"},
      {" \tSCT1a \t\n\n", "SCT1a"},
      {"\r\n", ""},
      {"   ", ""},
      {"a b", "a b"},
      {"　SCT1a　\r\n", "SCT1a"},  // full-width blanks from an input method
      {"　 　", ""},
      {"a　b", "a　b"},
      // "\xB0\xA1" is one character: its trail byte and the next lead byte
      // are no full-width blank.
      {"\xB0\xA1\xA1\xA1", "\xB0\xA1"},
      {"\xB0\xA1\xA1", "\xB0\xA1\xA1"},
  };
  for (const auto& c : cases) EXPECT_EQ(KeyFromFileText(c.text), c.key) << c.text;
}

TEST(ScheduleLines, OneTaskPerNonEmptyLine) {
  using V = std::vector<std::string>;
  EXPECT_EQ(ScheduleLines(""), V{std::string(kDefaultScheduleLine)});
  EXPECT_EQ(ScheduleLines("\r\n\r\n"), V{std::string(kDefaultScheduleLine)});
  EXPECT_EQ(ScheduleLines("1 * * * * * * a\r\n"), V{"1 * * * * * * a"});
  EXPECT_EQ(ScheduleLines("1 * * * * * * a\n\n2 * * * * * * b"),
            (V{"1 * * * * * * a", "2 * * * * * * b"}));
}

TEST(ScheduleLines, CommentsAndBlankLinesAreSkipped) {
  using V = std::vector<std::string>;
  // The first non-blank character decides; a "#" later on is part of the line.
  EXPECT_EQ(TaskLines("# 秒 分 时\r\n \t　# indented\r\n   \r\n　\r\n0 0 9 * * * * #1\r\n"),
            V{"0 0 9 * * * * #1"});
  EXPECT_EQ(TaskLines(" 1 * * * * * * a"), V{" 1 * * * * * * a"});  // kept as it is
  EXPECT_EQ(TaskLines("#only\n# comments"), V{});
  EXPECT_EQ(ScheduleLines("#only\n# comments"), V{std::string(kDefaultScheduleLine)});
}

TEST(RetryDelaySeconds, TenThenThirtyThenNone) {
  EXPECT_EQ(RetryDelaySeconds(1), 10);
  EXPECT_EQ(RetryDelaySeconds(2), 30);
  EXPECT_EQ(RetryDelaySeconds(3), std::nullopt);
  EXPECT_EQ(RetryDelaySeconds(0), std::nullopt);
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

TEST(JudgeExchange, VerdictAndReason) {
  const std::string page = "<html><body>Login to the Wi-Fi</body></html>";
  struct Case {
    int status;
    std::int32_t sendResult;
    std::string body;  // as it came, UTF-8
    bool accepted;
    std::string detail;
  } cases[] = {
      {200, 0, R"({"code":0,"message":"","data":{}})", true,
       R"({"code":0,"message":"","data":{}})"},
      {200, 0, R"({"code": 0})", true, R"({"code": 0})"},
      {200, 0, R"({"errno":0,"errmsg":"success"})", true, R"({"errno":0,"errmsg":"success"})"},
      {200, 0, R"({"data":1})", true, R"({"data":1})"},
      {200, 0, rt::TextToUtf8(R"({"code":40001,"message":"超过当天的发送次数限制"})"), false,
       "超过当天的发送次数限制"},
      {200, 0, R"({"code":"40001"})", false, R"({"code":"40001"})"},
      {200, 0, R"({"errno":1024,"errmsg":"bad key"})", false, "bad key"},
      {200, 0, "ok", false, "回复不是中转站的应答 ok"},
      {200, 0, page, false, "回复不是中转站的应答 " + page},
      {204, 0, "", false, "回复不是中转站的应答"},
      {200, 0, "[0]", false, "回复不是中转站的应答 [0]"},
      {400, 0, R"({"code":0})", false, R"(HTTP 400 {"code":0})"},
      {500, 0, page, false, "HTTP 500 " + page},
      {503, 0, "", false, "HTTP 503"},
      {0, static_cast<std::int32_t>(0x80072EE2), "", false, "未收到回复: 超时"},
      {0, static_cast<std::int32_t>(0x80072EE7), "", false, "未收到回复: 无法解析域名"},
      {0, static_cast<std::int32_t>(0x80072EFD), "", false, "未收到回复: 无法连接"},
      {0, static_cast<std::int32_t>(0x80072EFE), "", false, "未收到回复: 连接被关闭"},
      {0, static_cast<std::int32_t>(0x80072F78), "", false, "未收到回复: 回复不是HTTP应答"},
      {0, static_cast<std::int32_t>(0x80072F97), "", false, "未收到回复: 回复头过长"},
      {0, static_cast<std::int32_t>(0x80072F0D), "", false, "未收到回复: 证书被拒绝"},
      {0, static_cast<std::int32_t>(0x80072F7D), "", false, "未收到回复: 安全连接失败"},
      {0, static_cast<std::int32_t>(0x80072F8F), "", false, "未收到回复: 安全连接失败"},
      {302, static_cast<std::int32_t>(0x80072F7C), "", false, "未收到回复: 重定向过多"},
      {302, web::kHttpRedirectRefused, "", false, "未收到回复: 重定向被拒绝"},
      {0, static_cast<std::int32_t>(0x80004005), "", false, "未收到回复 (错误 0x80004005)"},
  };
  for (const auto& c : cases) {
    const ExchangeOutcome o = JudgeExchange(c.status, c.sendResult, B(c.body), "SCT1key");
    EXPECT_EQ(o.accepted, c.accepted) << c.status << " " << c.body;
    EXPECT_EQ(o.detail, c.detail) << c.status << " " << c.body;
  }
}

// Only what another try may get past: no answer, busy, broken. A refusal
// (other 4xx, the relay's own non-zero code) stands.
TEST(JudgeExchange, WhatIsWorthRetrying) {
  struct Case {
    int status;
    std::int32_t sendResult;
    std::string body;
    bool retry;
  } cases[] = {
      {0, static_cast<std::int32_t>(0x80072EE2), "", true},   // time-out
      {0, static_cast<std::int32_t>(0x80072EE7), "", true},   // name not resolved
      {0, static_cast<std::int32_t>(0x80072EFD), "", true},   // cannot connect
      {0, static_cast<std::int32_t>(0x80072EFE), "", true},   // connection closed
      {0, static_cast<std::int32_t>(0x80072F78), "", false},  // not HTTP: plainly not the relay
      {0, static_cast<std::int32_t>(0x80072F97), "", false},  // header lines without end
      {0, static_cast<std::int32_t>(0x80072F0D), "", false},  // certificate refused
      {0, static_cast<std::int32_t>(0x80072F7D), "", false},  // TLS version refused
      {302, static_cast<std::int32_t>(0x80072F7C), "", false},
      {302, web::kHttpRedirectRefused, "", false},
      {0, static_cast<std::int32_t>(0x80004005), "", false},
      {429, 0, R"({"code":429})", true},
      {500, 0, "", true},
      {503, 0, "busy", true},
      {599, 0, "", true},
      {400, 0, R"({"code":400})", false},
      {404, 0, "", false},
      {200, 0, R"({"code":40001,"message":"quota"})", false},
      {200, 0, "<html>portal</html>", false},
      {200, 0, R"({"code":0})", false},
  };
  for (const auto& c : cases) {
    const ExchangeOutcome o = JudgeExchange(c.status, c.sendResult, B(c.body), "SCT1key");
    EXPECT_EQ(o.retry, c.retry) << c.status << " " << std::hex << c.sendResult;
    EXPECT_EQ(o.status, c.sendResult < 0 ? 0 : c.status);
  }
}

TEST(JudgeExchange, LongRepliesAreCutAtACharacterBoundary) {
  const std::string big = "<p>" + std::string(3000, 'x') + "</p>";
  const ExchangeOutcome o = JudgeExchange(500, 0, B(big), "");
  EXPECT_EQ(o.detail, "HTTP 500 " + big.substr(0, kShownReplyBytes) + "…(回复过长，已截断)");
  // 2047 ASCII bytes, then a two-byte character that does not fit whole.
  const std::string text = std::string(2047, 'a') + "中";
  EXPECT_EQ(SafeReply(text, ""), std::string(2047, 'a') + "…(回复过长，已截断)");
}

TEST(SafeReply, OneLineWithoutControlsAndNeverTheKey) {
  EXPECT_EQ(SafeReply("a\x1b[2Jb\r\n\tc\x7f", "KEY1"), "a?[2Jb   c?");
  // A relay's line breaks cannot start a line that looks like the program's.
  EXPECT_EQ(SafeReply("quota\r\n\r\n2026-12-06 09:01:01  推送完成\nx\ry", ""),
            "quota    2026-12-06 09:01:01  推送完成 x y");
  EXPECT_EQ(SafeReply("url /SCT9999.send", "SCT9999"), "url /***.send");
  EXPECT_EQ(SafeReply("中文", ""), "中文");
}

// The key in whatever form a relay may echo it, and what a cut leaves of it.
TEST(MaskKey, EveryFormAndEveryPieceOfSixBytes) {
  const std::string key = "SCTfakeKEY1234567";
  const struct {
    std::string text, key, masked;
  } cases[] = {
      {"GET /sctfakekey1234567.send", key, "GET /***.send"},
      {"path=/SCT1%E9%94%AEab.send", "SCT1键ab", "path=/***.send"},
      {"path=/SCT1%e9%94%aeab.send", "SCT1键ab", "path=/***.send"},
      {"path=/SCT1%BC%FCab.send", "SCT1键ab", "path=/***.send"},  // its own bytes
      {"a SCT1键ab b", "SCT1键ab", "a *** b"},
      {"denied %53%43%54%66%61%6B%65%4B%45%59%31%32%33%34%35%36%37!", key, "denied ***!"},
      {"denied %2553%2543%2554fakeKEY1234567", key, "denied ***"},  // encoded twice
      {"x %u0053CT\\x66ake\\u004BEY1234567 y", key, "x *** y"},
      {"x SCTfa\\\nkeKEY\\\r\n1234567 y", key, "x *** y"},  // line continuations
      {"x \\/SCTfakeKEY1234567", key, "x \\/***"},
      // Pieces of six bytes or more of its start, as a cut leaves them.
      {"... SCTfak", key, "... ***"},
      {"... %53CTfak", key, "... ***"},
      {"... SCTfa", key, "... SCTfa"},
      {"SCTfakeKEY1234567SCTfakeKEY1234567", key, "***"},
      // Short keys only whole; keys under four bytes not at all.
      {"abcd abc", "abcd", "*** abc"},
      {"abc", "abc", "abc"},
      {"", key, ""},
      // Never from the second byte of a character.
      {"\xB0SCT1abc SCT1abc", "SCT1abc", "\xB0SCT1abc ***"},
  };
  for (const auto& c : cases) EXPECT_EQ(MaskKey(c.text, c.key), c.masked) << c.text;
}

// Decoded in pieces, a reply reads exactly as decoded whole, whatever stands
// where a piece ends; and no further than asked when it can stop.
TEST(DecodedReply, PiecesReadAsTheWhole) {
  const std::string tricky[] = {"%41",
                                "%u4E2D",
                                "\\u0041",
                                "\\x41",
                                "\\101",
                                "\\\n",
                                "\r\n",
                                "{$}",
                                "'",
                                "\\'",
                                rt::TextToUtf8("中文"),
                                "%00 after a zero",
                                "\\u0000 too"};
  int compared = 0;
  for (const std::string& t : tricky) {
    for (std::size_t before = 16 * 1024 - 12; before <= 16 * 1024 + 4; ++before) {
      const std::string reply = std::string(before, 'x') + t + "tail" + std::string(20'000, 'y');
      ASSERT_EQ(DecodedReply(B(reply), std::string::npos),
                web::DecodeUnicodeEscapes(web::Utf8ToGbk(B(reply))))
          << t << " after " << before;
      ++compared;
    }
  }
  EXPECT_GT(compared, 200);
  const std::string plain(200'000, 'x');
  const std::size_t got = DecodedReply(B(plain), 1000).size();
  EXPECT_GE(got, 1000u);
  EXPECT_LT(got, 40'000u);
  // A leading carriage return goes, as in the whole.
  EXPECT_EQ(DecodedReply(B("\rab"), 10), "ab");
}

// Keys written a character at a time in mixed forms, among other text and
// cut anywhere: neither the masked text nor its decoding shows six bytes of it.
TEST(MaskKey, MixedFormsCutAnywhere) {
  const std::string key = "SCT987654321abcdefghijKLMNOPqrstuv";
  const std::string junk[] = {"w", "x y", "中", "\r\n", "%", "\\", "!", "'", "#&("};
  std::mt19937 rng(27);
  const auto pick = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (int part = 0; part < 4; ++part) {
      text += junk[pick(std::size(junk))];
      for (const char c : key) {
        const auto b = static_cast<unsigned char>(c);
        switch (pick(8)) {
          case 0:
            text += rt::FormatText("%%%02X", b);
            break;
          case 1:
            text += rt::FormatText("%%%02x", b);
            break;
          case 2:
            text += rt::FormatText("\\u%04X", b);
            break;
          case 3:
            text += rt::FormatText("%%u%04x", b);
            break;
          case 4:
            text += rt::FormatText("\\x%02X", b);
            break;
          case 5:
            text += rt::FormatText("%%25%02X", b);
            break;
          case 6:
            text += rt::FormatText("\\%o", b);
            break;
          default:
            text += c;
        }
        if (pick(10) == 0) text += "\\\n";
      }
    }
    text.resize(pick(text.size() + 1));
    const std::string masked = MaskKey(text, key);
    const std::string shown[] = {masked, web::DecodeUnicodeEscapes(masked)};
    for (const std::string& s : shown) {
      const std::string lower = rt::LowerLetters(s);
      for (std::size_t at = 0; at + kMinKeyPiece <= key.size(); ++at) {
        ASSERT_EQ(lower.find(rt::LowerLetters(key.substr(at, kMinKeyPiece))), std::string::npos)
            << text << "\n -> " << s;
      }
    }
  }
}

// Every placement of the key across the cuts (the raw reply's, the shown
// text's) behind each escape that shrinks when decoded, in each form the
// relay may write it: no six bytes of it ever reach the screen.
TEST(JudgeExchange, NoPieceOfTheKeyWhereverItStandsAgainstTheCuts) {
  const std::string key = "SCT987654321abcdefghijKLMNOPqrstuv";
  std::string percent, escaped, lower;
  for (const char c : key) {
    percent += rt::FormatText("%%%02X", static_cast<unsigned char>(c));
    lower += rt::FormatText("%%%02x", static_cast<unsigned char>(c));
    escaped += rt::FormatText("\\u%04X", static_cast<unsigned char>(c));
  }
  const std::string forms[] = {key, percent, lower, escaped,
                               "SCT98765\\\n4321abcdefghijKLMNOPqrstuv"};
  const struct {
    std::string filler;
    std::size_t shown;  // what one filler shows once decoded
  } fillers[] = {{"\\\n", 0}, {"\\u0041", 1}, {"%41", 1}, {"x", 1}};
  constexpr std::size_t kRawCut = 8 * kShownReplyBytes;
  int placements = 0;
  for (const auto& f : fillers) {
    for (const std::string& form : forms) {
      // Counts of fillers that put the key across each cut, and a byte either side.
      std::vector<std::size_t> counts;
      for (std::size_t raw = kRawCut - form.size() - 2; raw <= kRawCut + 2;
           raw += f.filler.size()) {
        counts.push_back(raw / f.filler.size());
      }
      for (std::size_t shown = kShownReplyBytes - key.size() - 2;
           f.shown > 0 && shown <= kShownReplyBytes + 2; ++shown) {
        counts.push_back(shown / f.shown);
      }
      for (const std::size_t n : counts) {
        std::string body;
        for (std::size_t i = 0; i < n; ++i) body += f.filler;
        body += "/" + form + ".send" + std::string(100, 'y');
        const std::string detail = rt::LowerLetters(JudgeExchange(500, 0, B(body), key).detail);
        ++placements;
        for (std::size_t at = 0; at + kMinKeyPiece <= key.size(); ++at) {
          ASSERT_EQ(detail.find(rt::LowerLetters(key.substr(at, kMinKeyPiece))), std::string::npos)
              << f.filler << " x " << n << ", key written as " << form;
        }
      }
    }
  }
  EXPECT_GT(placements, 500);
}

// The relay's own message: its JSON escapes undone, then every form masked.
TEST(JudgeExchange, TheKeyInTheRelaysMessageIsMaskedInEveryForm) {
  const std::string key = "SCTfakeKEY1234567";
  const struct {
    std::string message, detail;
  } cases[] = {
      {R"(bad key \u0053CTfakeKEY1234567)", "bad key ***"},
      {"denied %53%43%54%66%61%6B%65%4B%45%59%31%32%33%34%35%36%37", "denied ***"},
      {"denied %53%43%54%66%61%6b%65%4b%45%59%31%32%33%34%35%36%37", "denied ***"},
      {R"(bad \\u0053CTfakeKEY1234567)", "bad ***"},
      {R"(quota\r\n\r\n2026-12-06 09:01:01  \u63a8\u9001\u5b8c\u6210)",
       "quota    2026-12-06 09:01:01  推送完成"},
  };
  for (const auto& c : cases) {
    const std::string body = R"({"code":40001,"message":")" + c.message + R"("})";
    EXPECT_EQ(JudgeExchange(200, 0, B(body), key).detail, c.detail) << c.message;
  }
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
