// The application end to end, in process: scripted console, fixed clock, a
// local relay, and the real scheduler library and web request.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <thread>

#include "app/message.h"
#include "app/reminder.h"
#include "app/schedule_file.h"
#include "crontab/crontab.h"
#include "form_fields.h"
#include "local_http_server.h"
#include "runtime/codepage.h"
#include "runtime/frame.h"
#include "runtime/text.h"
#include "scripted_console.h"

namespace app {
namespace {

namespace fs = std::filesystem;

struct Received {
  explicit Received(web::testing::ReceivedRequest r)
      : path(r.target.substr(0, r.target.find('?'))), request(std::move(r)) {
    // Only a form is parsed, and every pair counts, a repeated name too.
    if (request.Header("Content-Type").starts_with("application/x-www-form-urlencoded")) {
      params = FormPairs(request.body);
    }
  }
  std::string path;
  web::testing::ReceivedRequest request;
  std::vector<std::pair<std::string, std::string>> params;  // the form, as a form parser reads it
  // A form field as code page 936 text; "(none)" when it is missing.
  std::string Field(const std::string& name) const {
    const auto it =
        std::find_if(params.begin(), params.end(), [&](const auto& p) { return p.first == name; });
    return it == params.end() ? "(none)" : rt::Utf8ToText(it->second);
  }
};

// A relay on 127.0.0.1 that answers every push with a set status and body.
class Relay {
 public:
  std::string BaseUrl() const { return server_.Url(); }
  std::vector<Received> Requests() {
    std::vector<Received> received;
    for (const auto& r : server_.Requests()) received.emplace_back(r);
    return received;
  }
  void Hang(bool hang) {
    const std::lock_guard lock(mutex_);
    hang_ = hang;
    if (!hang) hangPath_.clear();
  }
  // Requests whose path holds `part` get no answer.
  void HangOn(std::string part) {
    const std::lock_guard lock(mutex_);
    hangPath_ = std::move(part);
  }

  // What every push gets from now on.
  void Answer(int status, std::string reply) {
    const std::lock_guard lock(mutex_);
    status_ = status;
    reply_ = std::move(reply);
  }
  std::string Reply() {
    const std::lock_guard lock(mutex_);
    return reply_;
  }

 private:
  web::testing::Answer AnswerTo(const web::testing::ReceivedRequest& r) {
    const std::lock_guard lock(mutex_);
    const bool hangs = !hangPath_.empty() && r.target.find(hangPath_) != std::string::npos;
    if (hang_ || hangs) return {.hold = true};
    if (r.method != "POST") return {.status = 404};
    return {.status = status_, .headers = "Content-Type: application/json\r\n", .body = reply_};
  }

  std::mutex mutex_;
  bool hang_ = false;
  std::string hangPath_;
  int status_ = 200;
  std::string reply_ = R"({"code":0,"message":"","data":{"pushid":"1"}})";
  web::testing::LocalHttpServer server_{
      [this](const web::testing::ReceivedRequest& r) { return AnswerTo(r); }};
};

class ReminderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshTestFolder("reminder_test_");
    context_.console = &console_;
    context_.clock = &clock_;
    context_.directory = rt::Path(dir_.native());
    context_.settings = {relay_.BaseUrl(), "https://help.example/3.version",
                         "https://site.example"};
    context_.openEditor = [this](const rt::Path& path) {
      editorPath_ = path.Display();
      editorMode_ = fs::status(dir_ / "weskey.txt").permissions() & fs::perms::all;
      return true;
    };
    context_.pause = [this] { ++pauses_; };
    context_.timeoutSeconds = 1;
    UseContext(&context_);
    CreateAppScheduler();
  }
  void TearDown() override {
    DestroyAppScheduler();
    UseContext(nullptr);
    fs::remove_all(dir_);
  }
  void WriteFile(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  // Runs the program, fires `task` (at `hour`, when given) once the test
  // reminder has its verdict, quits, and returns what reached the relay.
  std::vector<Received> RunAndTrigger(const char* task, std::optional<int> hour = {}) {
    int result = -1;
    std::thread main([&] { result = ReminderMain(); });
    console_.WaitForReads(1);  // the loop waits for a line
    WaitForDeliveries();       // the test reminder's
    if (hour) clock_.now.hour = *hour;
    OnReminderTrigger(rt::NowLocal(clock_), task);
    WaitForDeliveries();
    console_.Type("q");
    console_.Type("");
    main.join();
    EXPECT_EQ(result, 0);
    return relay_.Requests();
  }
  // Runs ReminderMain with the lines typed in advance, except that "q" is
  // typed, as a person would, once the test reminder has its verdict.
  int Run(std::initializer_list<std::string> typed) {
    int result = -1;
    std::thread main([&] { result = ReminderMain(); });
    for (const auto& line : typed) {
      if (line == "q") {
        EXPECT_TRUE(console_.WaitForOutput("测试完成\r\n"));
      }
      console_.Type(line);
    }
    main.join();
    return result;
  }
  std::string Stamp() const { return "2026-12-06 09:01:01"; }

  Relay relay_;
  RecordingConsole console_;
  FixedClock clock_;
  AppContext context_;
  // The test reminder, once, with this key in the folder.
  void Send(const std::string& key) {
    WriteFile("weskey.txt", key);
    SendTestReminder(context_);
  }

  fs::path dir_;
  std::string editorPath_;
  fs::perms editorMode_ = fs::perms::unknown;
  int pauses_ = 0;
};

const std::string kBody =
    "整点抢购已完成,请注意查看  \r\n 09:01\r\n  [立即前往星河速览网](https://site.example/"
    "#1796518800)           ";

std::string ReadBack(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(ReminderTest, WithoutKeyPromptsNamesTheFileAndFailsOnABareEnter) {
  WriteFile("weskey.txt", " \r\n");  // blanks only: no key
  EXPECT_EQ(Run({"\r\n"}), 1);
  const std::string keyPath = dir_.string() + "/weskey.txt";
  EXPECT_EQ(console_.Output(), Banner(context_.settings) + "请输入Server酱微信key\r\n" +
                                   "key 文件: " + keyPath + "\r\n" +
                                   "已用编辑器打开这个文件，填好 key 保存后在这里按回车；"
                                   "也可以直接在这里粘贴 key 回车\r\n" +
                                   "没有 key: " + keyPath + " 为空或不存在\r\n");
  EXPECT_EQ(console_.Err(), "没有 key: " + keyPath + " 为空或不存在\r\n");
  EXPECT_EQ(console_.Title(), "鹤溪堂 铃兰小闹钟");
  EXPECT_EQ(editorPath_, keyPath);
  EXPECT_EQ(ReadBack(keyPath), " \r\n");
  EXPECT_TRUE(relay_.Requests().empty());
}

TEST_F(ReminderTest, WithoutAnEditorSaysSo) {
  context_.openEditor = [](const rt::Path&) { return false; };
  EXPECT_EQ(Run({""}), 1);  // the end of input ends it too
  EXPECT_NE(console_.Output().find("没能打开编辑器，请自己编辑这个文件，保存后在这里按回车；"
                                   "也可以直接在这里粘贴 key 回车\r\n"),
            std::string::npos);
}

// The key written into the file the editor shows, then Enter at the prompt.
TEST_F(ReminderTest, KeyWrittenIntoTheFileIsTakenAtABareEnter) {
  WriteFile("time.txt", "0 0 0 1 1 * 30000 never");
  int result = -1;
  std::thread main([&] { result = ReminderMain(); });
  console_.WaitForReads(1);
  WriteFile("weskey.txt", "\xEF\xBB\xBFSCT1edited\r\n");
  console_.Type("\r\n");
  EXPECT_TRUE(console_.WaitForOutput("测试完成\r\n"));
  console_.Type("q");
  console_.Type("");
  main.join();
  EXPECT_EQ(result, 0);
  const std::string out = console_.Output();
  EXPECT_NE(out.find("粘贴 key 回车\r\n已读取 key\r\n任务已添加: 0 0 0 1 1 * 30000 never"),
            std::string::npos)
      << out;
  const auto requests = relay_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/SCT1edited.send");
  EXPECT_EQ(out.find("SCT1edited"), std::string::npos);
}

// Input that has ended before the prompt (a service): no prompt, no editor,
// one line naming the key file, and a failure a service manager sees.
TEST_F(ReminderTest, HeadlessWithoutKeyFailsAtOnce) {
  console_.SetInputKind(rt::ConsoleInput::kEnded);
  EXPECT_EQ(Run({}), 1);
  const std::string keyPath = dir_.string() + "/weskey.txt";
  EXPECT_EQ(console_.Output(),
            Banner(context_.settings) + "没有 key: " + keyPath + " 为空或不存在\r\n");
  EXPECT_EQ(console_.Reads(), 0);
  EXPECT_TRUE(editorPath_.empty());
  EXPECT_FALSE(fs::exists(dir_ / "weskey.txt"));
}

// A key pasted at the prompt is saved and the key road follows at once.
TEST_F(ReminderTest, KeyTypedAtThePromptIsSavedAndUsed) {
  WriteFile("time.txt", "0 0 0 1 1 * 30000 never");
  EXPECT_EQ(Run({" \tSCT1typed \t", "q", ""}), 0);
  EXPECT_EQ(ReadBack(dir_ / "weskey.txt"), "SCT1typed");
  EXPECT_FALSE(fs::exists(dir_ / "weskey.txt.tmp"));
  // A secret: the owner's alone, from the moment the editor could see it.
  EXPECT_EQ(editorMode_, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(dir_ / "weskey.txt").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  const auto requests = relay_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/SCT1typed.send");
  const std::string out = console_.Output();
  EXPECT_NE(
      out.find(
          "也可以直接在这里粘贴 key 回车\r\nkey 已保存\r\n任务已添加: 0 0 0 1 1 * 30000 never"),
      std::string::npos)
      << out;
  EXPECT_NE(out.find("测试完成\r\n已停止发送提醒，再按一次回车退出\r\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("SCT1typed"), std::string::npos);
}

TEST_F(ReminderTest, TypedKeyIsStoredAsUtf8WithoutMark) {
  WriteFile("time.txt", "0 0 0 1 1 * 30000 never");
  EXPECT_EQ(Run({"SCT1键", "q", ""}), 0);
  EXPECT_EQ(ReadBack(dir_ / "weskey.txt"), rt::TextToUtf8("SCT1键"));
}

TEST_F(ReminderTest, KeyThatCannotBeSavedEndsTheRun) {
  fs::create_directories(dir_ / "weskey.txt");  // in the way of the file
  EXPECT_EQ(Run({"SCT1typed"}), 1);
  EXPECT_NE(console_.Output().find("key 没能保存到这个文件，请自己编辑后重新运行\r\n"),
            std::string::npos);
  EXPECT_TRUE(relay_.Requests().empty());
}

TEST_F(ReminderTest, KeyRoadInstallsDefaultScheduleSendsTestReminderAndQuits) {
  WriteFile("weskey.txt", "\xEF\xBB\xBFSCT1test\r\n");
  EXPECT_EQ(Run({"p", "\r\n", "q", "\r\n"}), 0);
  EXPECT_EQ(pauses_, 2);

  const auto requests = relay_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/SCT1test.send");
  // UTF-8, percent-encoded: the relay's form parser reads the composed texts.
  EXPECT_EQ(requests[0].params.size(), 2u);
  EXPECT_EQ(requests[0].Field("text"), "鹤溪堂整点报时: 09:01");
  EXPECT_EQ(requests[0].Field("desp"), kBody);
  const auto header = [&](const char* name) {
    const auto& r = requests[0].request;
    return r.HeaderCount(name) == 0 ? std::string("(none)") : r.Header(name);
  };
  EXPECT_EQ(header("Accept"), "*/*");
  EXPECT_EQ(header("Referer"), relay_.BaseUrl() + "SCT1test.send");
  EXPECT_EQ(header("Accept-Language"), "zh-cn");
  EXPECT_EQ(header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)");
  EXPECT_EQ(header("Content-Type"), "application/x-www-form-urlencoded");

  EXPECT_EQ(console_.Output(),
            Banner(context_.settings) + "任务已添加: " + std::string(kDefaultScheduleLine) +
                "\r\n\r\n\r\n" + "下次提醒: 2026-12-06 10:01:01\r\n" + "下面开始测试发送一次\r\n" +
                Stamp() + "  推送完成\r\n" + Stamp() + " " + relay_.Reply() + "\r\n\r\n" +
                "测试完成\r\n" + "已停止发送提醒，再按一次回车退出\r\n");
}

TEST_F(ReminderTest, ScheduleFileLinesAreAddedOneByOne) {
  WriteFile("weskey.txt", "SCT1test");
  WriteFile("time.txt", rt::TextToUtf8("0 30 9 * * * * 早\r\n5/15 * * * * * * bad\r\n"
                                       "0 30 9 * * * * 早\r\n0 0 12 * * * * 午\r\n"));
  EXPECT_EQ(Run({"q", ""}), 0);
  const std::string out = console_.Output();
  // Each refusal says why, as --check does.
  EXPECT_NE(
      out.find("任务已添加: 0 30 9 * * * * 早\r\n\r\n\r\n任务添加失败: 5/15 * * * * * * bad\r\n"
               "     第 1 项(秒) \"5/15\": 范围里没有步长 15 的倍数，这一项永远不会触发\r\n"
               "任务添加失败: 0 30 9 * * * * 早\r\n"
               "     任务名 \"早\" 与前面的任务 \"早\" 重复 (不分大小写，先写的一行有效)\r\n"
               "任务已添加: 0 0 12 * * * * 午\r\n\r\n\r\n"
               "下次提醒: 2026-12-06 09:30:00\r\n"),
      std::string::npos)
      << out;
}

TEST_F(ReminderTest, RefusedDeliveriesAreReportedAsFailed) {
  WriteFile("weskey.txt", "SCT1test");
  WriteFile("time.txt", "0 0 0 1 1 * 30000 never");
  struct Case {
    int status;
    std::string reply;
  } cases[] = {{200, R"({"code":40001,"message":"超过当天的发送次数限制"})"},
               {400, R"({"code":400,"message":"bad request"})"}};
  for (const auto& c : cases) {
    relay_.Answer(c.status, rt::TextToUtf8(c.reply));
    Send("SCT1test");
  }
  // The relay's own words for a refusal; the status for an HTTP error.
  EXPECT_EQ(console_.Output(), Stamp() + "  推送失败\r\n" + Stamp() + " 超过当天的发送次数限制" +
                                   "\r\n\r\n" + Stamp() + "  推送失败\r\n" + Stamp() +
                                   " HTTP 400 " + cases[1].reply + "\r\n\r\n");
}

TEST_F(ReminderTest, NoAnswerGivesAReasonAndNeverTheKey) {
  relay_.Hang(true);
  Send("SCT1secret");
  relay_.Hang(false);
  context_.settings.pushBaseUrl = "http://127.0.0.1:9/";  // nothing listens there
  Send("SCT1secret");
  const std::string out = console_.Output();
  EXPECT_EQ(out, Stamp() + "  推送失败\r\n" + Stamp() + " 未收到回复: 超时\r\n\r\n" + Stamp() +
                     "  推送失败\r\n" + Stamp() + " 未收到回复: 无法连接\r\n\r\n");
  EXPECT_EQ(out.find("SCT1secret"), std::string::npos);
}

TEST_F(ReminderTest, TriggerRunsWhileMainThreadReadsTheConsole) {
  WriteFile("weskey.txt", "SCT1test");
  WriteFile("time.txt", "0 0 0 1 1 * 30000 never");
  const auto requests = RunAndTrigger("never", 10);  // an hour later, on the scheduler's side
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].Field("text"), "鹤溪堂整点报时: 10:01 never");
  EXPECT_NE(requests[1].Field("desp").find("/#1796522400)"), std::string::npos);
}

// The relay's threads run while the death tests start their child: the child
// is a fresh run of the test program, not a fork that could inherit a lock
// another thread held.
class ReminderDeathTest : public ReminderTest {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ReminderTest::SetUp();
  }
};

// The whole process, frame included: "q" and one more line end it with code 0
// while a scheduled delivery still waits for its answer.
TEST_F(ReminderDeathTest, QuitEndsTheProcessWhileADeliveryIsInFlight) {
  WriteFile("weskey.txt", "SCT1hang");  // the test reminder at start is held
  WriteFile("time.txt", "0 0 0 1 1 * 30000 never");
  relay_.HangOn("SCT1hang");
  context_.timeoutSeconds = 30;
  EXPECT_EXIT(
      {
        DestroyAppScheduler();  // the frame makes its own
        rt::AddLibraryModule(crontab_ProcessNotifyLib);
        rt::RuntimeStartup();
        console_.Type("q");
        console_.Type("");
        rt::ProgramStart(
            {.start = CreateAppScheduler, .exitHook = DestroyAppScheduler, .main = ReminderMain});
      },
      ::testing::ExitedWithCode(0), "");
}

// Input that has ended: every read is empty.
class EndedConsole final : public rt::Console {
 public:
  void Write(std::string_view, rt::Stream) override {}
  std::string ReadLine() override { return {}; }
  bool InputEnded() override {
    // What a service manager does to a program that runs without input.
    (void)std::raise(SIGTERM);
    return true;
  }
  void SetTitle(std::string_view) override {}
};

// At the end of input the loop stops reading and pausing; deliveries go on
// until a stop request runs the stop steps, and the process ends with 0.
TEST_F(ReminderDeathTest, EndOfInputWaitsForAStopRequest) {
  WriteFile("weskey.txt", "SCT1test");
  WriteFile("time.txt", "0 0 0 1 1 * 30000 never");
  EndedConsole ended;
  context_.console = &ended;
  context_.pause = [] { std::abort(); };  // polling an input that has ended
  EXPECT_EXIT(
      {
        DestroyAppScheduler();  // the frame makes its own
        rt::AddLibraryModule(crontab_ProcessNotifyLib);
        rt::RuntimeStartup();
        rt::SetExitHook(2, [] { rt::WriteStdout("[stopped]", rt::Stream::kErr); });
        rt::ProgramStart(
            {.start = CreateAppScheduler, .exitHook = DestroyAppScheduler, .main = ReminderMain});
      },
      ::testing::ExitedWithCode(0), "\\[stopped\\]$");
}

// A task's own message, whatever it holds, reaches the relay's form parser
// exactly as composed, beside the start-up test message.
TEST_F(ReminderTest, ATasksMessageReachesTheFormParserIntact) {
  const std::string message = "吃饭 & 休息=100% a+b %41 #1 [链接](https://x.example/?a=1&b=2)";
  WriteFile("weskey.txt", "SCT1test");
  WriteFile("time.txt", rt::TextToUtf8("0 0 12 * * * * 午饭 " + message + "  \r\n"));
  const auto requests = RunAndTrigger("午饭");
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Field("text"), "鹤溪堂整点报时: 09:01");
  EXPECT_EQ(requests[0].Field("desp"), kBody);
  EXPECT_EQ(requests[1].params.size(), 2u);
  EXPECT_EQ(requests[1].Field("text"), "午饭 09:01");
  EXPECT_EQ(requests[1].Field("desp"), message + "\r\n\r\n 09:01");
}

TEST_F(ReminderTest, HourAfterMidnightLinksToThatDaysMidnight) {
  clock_.now = {2026, 12, 1, 7, 0, 34, 5, 0};
  const Composition c = ComposeReminder(clock_, "https://s");
  EXPECT_EQ(c.title, "鹤溪堂整点报时: 00:34");
  EXPECT_NE(c.body.find("https://s/#1796572800)           "), std::string::npos) << c.body;
}

}  // namespace
}  // namespace app
