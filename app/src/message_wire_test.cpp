// What the relay's form parser reads from each kind of reminder, through the
// real web request on this platform; and `reminder --test` against a relay.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "app/command_line.h"
#include "app/exchange.h"
#include "app/message.h"
#include "app/reminder.h"
#include "form_fields.h"
#include "local_http_server.h"
#include "runtime/codepage.h"
#include "scripted_console.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using web::testing::Answer;
using web::testing::LocalHttpServer;
using web::testing::ReceivedRequest;

Answer Json(std::string body, int status = 200) {
  return {
      .status = status, .headers = "Content-Type: application/json\r\n", .body = std::move(body)};
}

class MessageWire : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshTestFolder("message_wire_");
    context_.console = &console_;
    context_.clock = &clock_;
    context_.directory = rt::Path::FromText(dir_.string());
    context_.settings = {relay_.Url(), "https://help.example/3.version", "https://site.example"};
    context_.timeoutSeconds = 5;
    UseContext(&context_);
  }
  void TearDown() override {
    UseContext(nullptr);
    fs::remove_all(dir_);
  }
  int RunTest(const std::vector<std::string>& args = {"--test"}) {
    return RunCommand(ParseCommandLine(args), console_, clock_, context_.directory);
  }

  std::string reply_ = R"({"code":0,"message":"","data":{"pushid":"1"}})";
  int status_ = 200;
  LocalHttpServer relay_{[this](const ReceivedRequest&) { return Json(reply_, status_); }};
  RecordingConsole console_;
  FixedClock clock_;
  AppContext context_;
  fs::path dir_;
};

// The decoded "text" and "desp" are byte for byte what was composed.
TEST_F(MessageWire, TheRelaysFormParserReadsTheComposedTexts) {
  struct Case {
    const char* kind;
    std::string name, message;
  } cases[] = {
      {"start-up test", "", ""},
      {"default task", "定时提醒", ""},
      {"named task", "午饭", ""},
      {"own message", "午饭",
       "吃饭 & 休息=100% a+b\r\n第二行 #1 [链接](https://x.example/?a=1&b=2)"},
  };
  const bool show = std::getenv("REMINDER_SHOW_FORMS") != nullptr;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    const Composition sent = ComposeReminder(clock_, context_.settings.siteUrl, c.name, c.message);
    ASSERT_TRUE(Exchange(context_, "SCT1k", sent.title, sent.body).accepted);
    const auto form = FormFields(relay_.Requests().back().body);
    ASSERT_EQ(form.size(), 2u);
    EXPECT_EQ(rt::Utf8ToText(form.at("text")), sent.title);
    EXPECT_EQ(rt::Utf8ToText(form.at("desp")), sent.body);
    EXPECT_EQ(relay_.Requests().back().Header("Content-Type"), "application/x-www-form-urlencoded");
    if (show) {
      std::cout << "[" << c.kind << "]\ntext=" << form.at("text") << "\ndesp=" << form.at("desp")
                << "\n\n";
    }
  }
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(MessageWire, TestOptionSendsOnceAndTellsByItsExitCode) {
  const std::string stamp = "2026-12-06 09:01:01";
  // No key: nothing is sent.
  EXPECT_EQ(RunTest(), 1);
  EXPECT_TRUE(relay_.Requests().empty());
  EXPECT_NE(console_.Output().find("没有 key: "), std::string::npos) << console_.Output();

  std::ofstream(dir_ / "weskey.txt", std::ios::binary) << "\xEF\xBB\xBFSCT1test\r\n";
  const std::string before = console_.Output();
  EXPECT_EQ(RunTest(), 0);
  ASSERT_EQ(relay_.Requests().size(), 1u);
  EXPECT_EQ(relay_.Requests()[0].target, "/SCT1test.send");
  EXPECT_EQ(rt::Utf8ToText(FormFields(relay_.Requests()[0].body).at("text")),
            "鹤溪堂整点报时: 09:01");
  EXPECT_EQ(console_.Output().substr(before.size()),
            stamp + "  推送完成\r\n" + stamp + " " + reply_ + "\r\n\r\n");
  EXPECT_NE(rt::Utf8ToText(ReadText(dir_ / "reminder.log")).find("\t(测试)\t推送完成\t1\t200\t"),
            std::string::npos);

  // Refused, or busy: one try only, and exit code 1.
  for (const int status : {200, 503}) {
    reply_ = R"({"code":40001,"message":"no"})";
    status_ = status;
    EXPECT_EQ(RunTest(), 1);
  }
  EXPECT_EQ(relay_.Requests().size(), 3u);
  EXPECT_EQ(RunTest({"--test", "extra"}), 2);
  EXPECT_EQ(relay_.Requests().size(), 3u);
}

}  // namespace
}  // namespace app
