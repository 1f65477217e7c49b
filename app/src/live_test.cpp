// The running program over simulated time: a scheduler and timers driven by
// hand, a scripted console, a schedule file edited while it runs, and a raw
// local relay that answers as each test scripts it.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "app/history.h"
#include "app/live.h"
#include "app/reminder.h"
#include "app/report.h"
#include "app/schedule_file.h"
#include "crontab_object.h"
#include "fault_server.h"
#include "form_fields.h"
#include "runtime/codepage.h"
#include "runtime/file.h"
#include "scripted_console.h"
#include "sim_time.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using rt::testing::SimQueue;
using rt::testing::SimTime;
using web::testing::Connection;
using web::testing::FaultServer;

const std::string kOk = R"({"code":0,"message":"","data":{}})";

std::string Response(std::string_view status, std::string_view body) {
  return "HTTP/1.1 " + std::string(status) +
         "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + std::string(body);
}

// A relay that plays its script, one entry per request, then accepts.
// "close": the connection is closed without an answer.
class ScriptedRelay {
 public:
  ScriptedRelay()
      : server_([this](Connection& c) {
          std::string body;
          if (!c.ReadRequest(nullptr, &body)) return;
          std::string answer = Response("200 OK", kOk);
          {
            const std::lock_guard lock(mutex_);
            bodies_.push_back(std::move(body));
            if (!script_.empty()) {
              answer = std::move(script_.front());
              script_.pop_front();
            }
          }
          if (answer != "close") c.Send(answer);
        }) {}
  void Script(std::vector<std::string> answers) {
    const std::lock_guard lock(mutex_);
    script_.assign(answers.begin(), answers.end());
  }
  std::string Url() const { return server_.Url(); }
  int Requests() const { return server_.Requests(); }
  // The form fields of every request, in order, as code page 936 texts.
  std::vector<std::map<std::string, std::string>> Forms() {
    const std::lock_guard lock(mutex_);
    std::vector<std::map<std::string, std::string>> forms;
    for (const auto& body : bodies_) {
      auto& fields = forms.emplace_back(FormFields(body));
      for (auto& [name, value] : fields) value = rt::Utf8ToText(value);
    }
    return forms;
  }

 private:
  std::mutex mutex_;
  std::deque<std::string> script_;
  std::vector<std::string> bodies_;
  FaultServer server_;
};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int Count(const std::string& text, std::string_view part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class LiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshTestFolder("live_test_");
    std::ofstream(dir_ / "weskey.txt") << kKey;
    context_.console = &console_;
    context_.clock = &sim_;
    context_.timers = &sim_;
    context_.directory = rt::Path::FromText(dir_.string());
    context_.settings = {relay_.Url(), "https://help.example/3.version", "https://site.example"};
    context_.openEditor = [](const rt::Path&) { return true; };
    context_.pause = [] {};
    context_.timeoutSeconds = 2;
    UseContext(&context_);
    cron::SetObjectFactory([this] {
      return std::make_unique<cron::crontab>(sim_,
                                             [this] { return std::make_unique<SimQueue>(sim_); });
    });
    CreateAppScheduler();
  }
  void TearDown() override {
    if (main_.joinable()) Quit();
    WaitForDeliveries();
    DestroyAppScheduler();
    cron::SetObjectFactory(nullptr);
    UseContext(nullptr);
    fs::remove_all(dir_);
  }

  // Starts the program; returns once it waits for a console line.
  void Start(const std::string& schedule) {
    Edit(schedule);
    const int reads = console_.Reads();
    main_ = std::thread([this] { result_ = ReminderMain(); });
    console_.WaitForReads(reads + 1);
  }
  void Quit() {
    console_.Type("q");
    console_.Type("");
    main_.join();
    EXPECT_EQ(result_, 0);
  }
  // Replaces time.txt whole (UTF-8), as an editor saves it.
  void Edit(const std::string& text) {
    const std::string utf8 = rt::TextToUtf8(text);
    ASSERT_TRUE(rt::WriteFileBytes(rt::Path::FromText((dir_ / "time.txt").string()),
                                   rt::Bytes(utf8.begin(), utf8.end())));
  }
  // Simulated time passes; deliveries it started end.
  void Step(std::int64_t ms) {
    sim_.Advance(ms);
    WaitForDeliveries();
  }
  // The output written since the last call.
  std::string Fresh() {
    const std::string out = console_.Output();
    std::string fresh = out.substr(seen_);
    seen_ = out.size();
    return fresh;
  }
  // The log's text with LF line ends, whichever the system writes.
  std::string Log() {
    std::string text = rt::Utf8ToText(ReadText(dir_ / "reminder.log"));
    std::erase(text, '\r');
    return text;
  }
  // Fires a task by hand, against a relay that answers with the script;
  // returns the relay's request count from before.
  int FireAgainst(const std::vector<std::string>& script, const char* task) {
    relay_.Script(script);
    const int before = relay_.Requests();
    OnReminderTrigger(rt::NowLocal(sim_), task);
    WaitForDeliveries();
    return before;
  }

  static constexpr const char* kKey = "SCT1livesecret";
  ScriptedRelay relay_;
  RecordingConsole console_;
  SimTime sim_{{2026, 12, 0, 6, 9, 0, 0, 0}};
  AppContext context_;
  fs::path dir_;
  std::thread main_;
  int result_ = -1;
  std::size_t seen_ = 0;
};

// A restart takes the seconds reminder.log records as sent: the start
// second fires, and "下次提醒" names it, unless an earlier run's line has it
// (its test reminder's lines aside; a line ahead of the clock holds back
// nothing later than now).
TEST_F(LiveTest, ARestartFiresNoSecondTheLogRecords) {
  const struct {
    std::string log;
    std::string next;
    int firedAtStart;
  } cases[] = {
      {"", "09:00:00", 1},
      {"2026-12-06 08:59:59\te\t推送完成\t1\t200\t{}\n", "09:00:00", 1},
      {"2026-12-06 09:00:00\te\t推送完成\t1\t200\t{}\n", "09:00:01", 0},
      {"2026-12-06 09:00:00\t(测试)\t推送完成\t1\t200\t{}\n", "09:00:00", 1},
      {"2026-12-06 09:00:00\tx\t错过\t0\t-\t\n2026-12-06 08:00:00\te\t推送完成\t1\t200\t{}\n",
       "09:00:01", 0},
      {"2026-12-06 10:00:00\te\t推送完成\t1\t200\t{}\ntorn line\n", "09:00:01", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.log);
    // With the mark a new log starts with on Windows: it is read past.
    const std::string utf8 = c.log.empty() ? "" : "\xEF\xBB\xBF" + rt::TextToUtf8(c.log);
    std::ofstream(dir_ / "reminder.log", std::ios::binary | std::ios::trunc) << utf8;
    const std::int64_t begun = sim_.ElapsedMs();
    Start("* * * * * * * e\n");
    Step(0);
    const std::string atStart = Fresh();
    EXPECT_NE(atStart.find("下次提醒: 2026-12-06 " + c.next + "\r\n"), std::string::npos)
        << atStart;
    // Lines this run wrote, past the earlier run's.
    const auto written = [&](const std::string& line) {
      return Count(Log(), line) - Count(c.log, line);
    };
    EXPECT_EQ(written("2026-12-06 09:00:00\te\t推送完成"), c.firedAtStart);
    Step(1100);
    EXPECT_EQ(written("2026-12-06 09:00:01\te\t推送完成"), 1);
    Quit();
    WaitForDeliveries();
    // A new process: a scheduler of its own, at 09:00:00 again.
    DestroyAppScheduler();
    CreateAppScheduler();
    sim_.Jump(begun - sim_.ElapsedMs());
  }
}

// Timers that cannot be had: the watch of time.txt is not started, and the
// console says edits need a restart rather than leaving them unseen.
TEST_F(LiveTest, AWatchThatCannotStartIsSaid) {
  class NoTimers final : public rt::TimerQueue {
   public:
    rt::TimerId CreateTimer(rt::TimerCallback, std::uint32_t, std::uint32_t) override { return 0; }
    bool DeleteTimer(rt::TimerId, rt::TimerWait) override { return false; }
    void Close(rt::TimerWait) override {}
  } none;
  context_.timers = &none;
  Start("0 0 12 * * * * noon\n");
  EXPECT_NE(Fresh().find("无法监视 time.txt，修改后要重新启动程序才生效\r\n"), std::string::npos);
  Quit();
}

TEST_F(LiveTest, AnEditIsAppliedAndReported) {
  Start("0 0 12 * * * * keep\n0 0 13 * * * * gone\n");
  Step(0);
  Fresh();
  Edit("# 秒 分 时 日 月 星期 年 任务名\n0 0 12 * * * * keep\n* * * * * * * new\nbad line\n");
  Step(1000);
  EXPECT_EQ(Fresh(),
            "任务已更新: +1 -1\r\n任务已停止: 0 0 13 * * * * gone\r\n"
            "任务已添加: * * * * * * * new\r\n\r\n\r\n"
            "任务添加失败: bad line\r\n"
            "     应有 7 个时间项和 1 个任务名，各用一个空格隔开；这一行分出 2 项\r\n"
            "下次提醒: 2026-12-06 09:00:02\r\n");
  Step(1000);  // the new task fires from the next second on
  EXPECT_EQ(Count(Fresh(), "  推送完成 [new]\r\n"), 1);

  // A comment changed: nothing to say, nothing to do.
  Edit("# fields: second minute hour ...\n0 0 12 * * * * keep\n* * * * * * * new\nbad line\n");
  Step(1000);
  EXPECT_EQ(Count(Fresh(), "任务已更新"), 0);
}

// A file that cannot be used keeps the tasks in force (never the default
// schedule): each state it passes through is said when it comes, a save
// that changes nothing says nothing, and the way back is said too.
TEST_F(LiveTest, EveryEditIsAnswered) {
  const std::string good = "0 0 0 1 1 * 30000 a\n0 0 0 1 2 * 30000 b\n";
  const std::string bigger(kMaxScheduleBytes + 1, '#');
  const auto noTask = [](const char* why) {
    return rt::JoinTexts("time.txt 里没有任务(", why, ")，继续使用现有的任务\r\n");
  };
  const auto refused = [](const char* line, const char* reason) {
    return rt::JoinTexts("任务添加失败: ", line, "\r\n     ", reason, "\r\n");
  };
  const std::string noUsable = "time.txt 里没有可用的任务，继续使用现有的任务\r\n";
  const struct {
    const char* what;
    std::function<void()> edit;
    std::string said;
  } steps[] = {
      {"all refused", [&] { Edit("0 60 9 * * * * 坏\n"); },
       refused("0 60 9 * * * * 坏", "第 2 项(分) \"60\": 60 超出范围 0-59") + noUsable},
      {"refused otherwise", [&] { Edit("0 61 9 * * * * 坏\n"); },
       refused("0 61 9 * * * * 坏", "第 2 项(分) \"61\": 61 超出范围 0-59") + noUsable},
      {"and again", [&] { Edit("99 0 9 * * * * 坏\n"); },
       refused("99 0 9 * * * * 坏", "第 1 项(秒) \"99\": 99 超出范围 0-59") + noUsable},
      {"the same with a comment", [&] { Edit("# x\n99 0 9 * * * * 坏\n"); }, ""},
      {"only comments", [&] { Edit("# all commented out\n"); }, noTask("只有注释或空行")},
      {"empty", [&] { Edit(""); }, noTask("文件为空")},
      {"deleted", [&] { fs::remove(dir_ / "time.txt"); }, noTask("文件不存在")},
      // A folder of its name cannot be read.
      {"unreadable", [&] { fs::create_directories(dir_ / "time.txt"); }, noTask("无法读取")},
      {"too big",
       [&] {
         fs::remove_all(dir_ / "time.txt");
         Edit(bigger);
       },
       "time.txt 超过 1 MiB，没有读取，继续使用现有的任务\r\n"},
      {"too big again", [&] { Edit(bigger + "#"); }, ""},
      {"the file in force again", [&] { Edit(good); }, "time.txt 已恢复，任务没有变化\r\n"},
      // Blanks after a line are no change of its task.
      {"trailing blanks", [&] { Edit("0 0 0 1 1 * 30000 a  \n0 0 0 1 2 * 30000 b 　\n"); }, ""},
      {"a refused line added", [&] { Edit(good + "0 60 9 * * * * 坏\n"); },
       refused("0 60 9 * * * * 坏", "第 2 项(分) \"60\": 60 超出范围 0-59")},
      {"another one instead", [&] { Edit(good + "0 61 9 * * * * 坏\n"); },
       refused("0 61 9 * * * * 坏", "第 2 项(分) \"61\": 61 超出范围 0-59")},
      {"only comments changed", [&] { Edit("# x\n" + good + "0 61 9 * * * * 坏\n"); }, ""},
  };
  Start(good);
  Step(0);
  Fresh();
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    step.edit();
    Step(1000);
    EXPECT_EQ(Fresh(), step.said);
  }
  EXPECT_EQ(Count(console_.Output(), "任务已停止"), 0);
}

// After a reload the tasks in force are those a fresh start on the file would
// install (the first line of a name wins, names folded), and the console says
// what stopped, what started and which line was refused.
TEST_F(LiveTest, AReloadWithDuplicateNamesMatchesAFreshStart) {
  const auto dup = [](const char* earlier) {
    return rt::JoinTexts("     任务名 \"A\" 与前面的任务 \"", earlier,
                         "\" 重复 (不分大小写，先写的一行有效)\r\n");
  };
  const struct Case {
    const char* name;
    std::string start, edit, report;
    int firingsIn6s;  // of the one task in force afterwards
  } cases[] = {
      {"a new line above takes the name", "* * * * * * * A\n",
       "*/3 * * * * * * A\n* * * * * * * A\n",
       "任务已更新: +1 -1\r\n任务已停止: * * * * * * * A\r\n任务已添加: */3 * * * * * * "
       "A\r\n\r\n\r\n"
       "任务添加失败: * * * * * * * A\r\n" +
           dup("A"),
       2},
      {"two lines of one name swapped", "*/3 * * * * * * A\n* * * * * * * A\n",
       "* * * * * * * A\n*/3 * * * * * * A\n",
       "任务已更新: +1 -1\r\n任务已停止: */3 * * * * * * A\r\n任务已添加: * * * * * * * "
       "A\r\n\r\n\r\n"
       "任务添加失败: */3 * * * * * * A\r\n" +
           dup("A"),
       6},
      {"a name in another case above", "* * * * * * * A\n", "*/3 * * * * * * a\n* * * * * * * A\n",
       "任务已更新: +1 -1\r\n任务已停止: * * * * * * * A\r\n任务已添加: */3 * * * * * * "
       "a\r\n\r\n\r\n"
       "任务添加失败: * * * * * * * A\r\n" +
           dup("a"),
       2},
      {"a refused line moved: nothing changes", "* * * * * * * A\n*/3 * * * * * * a\n",
       "*/3 * * * * * * x\n* * * * * * * A\n*/3 * * * * * * a\n",
       "任务已更新: +1 -0\r\n任务已添加: */3 * * * * * * x\r\n\r\n\r\n", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(c.start);
    Step(0);
    Fresh();
    Edit(c.edit);
    Step(1000);
    const std::string report = Fresh();
    EXPECT_EQ(report.substr(0, report.find("下次提醒")), c.report);
    if (c.firingsIn6s >= 0) {
      sim_.Advance(0);
      Step(6000);
      EXPECT_EQ(Count(Fresh(), "  推送完成\r\n"), c.firingsIn6s);
    }
    Quit();
    WaitForDeliveries();
    DestroyAppScheduler();
    CreateAppScheduler();
  }
}

// A schedule whose every line is refused: at start the refusals and a clear
// word that nothing will be sent (not the default schedule); on a reload, the
// tasks in force go on and the trouble is said once.
TEST_F(LiveTest, AScheduleWithoutAUsableLineIsSaid) {
  Start("0 60 9 * * * * 坏\n");
  Step(0);
  const std::string atStart = Fresh();
  EXPECT_NE(atStart.find(
                "任务添加失败: 0 60 9 * * * * 坏\r\n     第 2 项(分) \"60\": 60 超出范围 0-59\r\n"
                "time.txt 里没有可用的任务，不会发送任何提醒\r\n"),
            std::string::npos)
      << atStart;
  EXPECT_EQ(atStart.find("定时提醒"), std::string::npos);
  EXPECT_EQ(atStart.find("下次提醒"), std::string::npos);
  Quit();
  WaitForDeliveries();
  DestroyAppScheduler();
  CreateAppScheduler();

  Start("* * * * * * * every\n");
  Step(0);
  Fresh();
  Edit("0 60 9 * * * * 坏\n5/15 * * * * * * 又坏\n");
  Step(1000);
  const std::string out = Fresh();
  EXPECT_EQ(Count(out, "time.txt 里没有可用的任务，继续使用现有的任务\r\n"), 1) << out;
  EXPECT_EQ(Count(out, "任务添加失败: "), 2) << out;
  EXPECT_EQ(Count(out, "任务已停止"), 0);
  Step(1000);
  Step(1000);
  EXPECT_EQ(Count(Fresh(), "  推送完成\r\n"), 2);  // every second, as before
}

// A line the scheduler would take but that never fires again gets the
// verdict --check gives it, at start and on a reload, and holds no name.
TEST_F(LiveTest, ALineThatNeverFiresIsRefusedAndTakesNoName) {
  const std::string never =
      "任务添加失败: 0 0 12 31 2 * * never\r\n     以后不会再触发 (日期不存在或年份已过)，"
      "这一行没有用\r\n";
  const struct {
    const char* what;
    std::string start, edit, said;
  } cases[] = {
      {"at start, alone", "0 0 12 31 2 * * never\n", "",
       never + "time.txt 里没有可用的任务，不会发送任何提醒\r\n"},
      {"at start, a task of its name below", "0 0 12 31 2 * * never\n0 0 0 1 1 * 30000 Never\n", "",
       never + "任务已添加: 0 0 0 1 1 * 30000 Never\r\n\r\n\r\n下次提醒: 30000-01-01 00:00:00\r\n"},
      {"on a reload", "0 0 0 1 1 * 30000 x\n", "0 0 12 31 2 * * never\n0 0 0 1 1 * 30000 Never\n",
       "任务已更新: +1 -1\r\n任务已停止: 0 0 0 1 1 * 30000 x\r\n" + never +
           "任务已添加: 0 0 0 1 1 * 30000 Never\r\n\r\n\r\n下次提醒: 30000-01-01 00:00:00\r\n"},
      {"on a reload, alone", "0 0 0 1 1 * 30000 x\n", "0 0 12 31 2 * * never\n",
       never + "time.txt 里没有可用的任务，继续使用现有的任务\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Start(c.start);
    Step(0);
    std::string out = Fresh().substr(Banner(context_.settings).size());
    if (!c.edit.empty()) {
      Edit(c.edit);
      Step(1000);
      out = Fresh();
    }
    EXPECT_EQ(out.substr(0, out.find("下面开始测试发送一次")), c.said);
    Quit();
    WaitForDeliveries();
    DestroyAppScheduler();
    CreateAppScheduler();
    Fresh();
  }
}

// A time.txt over 1 MiB is not read at start either: no task, said so.
TEST_F(LiveTest, AnOversizedScheduleIsRefusedAtStart) {
  Start(std::string(kMaxScheduleBytes, '#') + "\n* * * * * * * x\n");
  Step(0);
  const std::string out = Fresh();
  EXPECT_NE(
      out.find("time.txt 超过 1 MiB，没有读取\r\ntime.txt 里没有可用的任务，不会发送任何提醒\r\n"),
      std::string::npos)
      << out;
  EXPECT_EQ(out.find("任务已添加"), std::string::npos);
}

// A line added, one removed and one kept, a hundred times at random moments:
// each edit is applied within two simulated seconds, and the kept task fires
// at every one of its seconds exactly once.
TEST_F(LiveTest, RandomEditsNeverRepeatOrLoseAKeptFiring) {
  const std::string kept = "*/5 * * * * * * kept";
  Start(kept + "\n0 0 0 1 1 * 30000 v0\n");
  std::mt19937 rng(613);
  Step(0);
  for (int edit = 1; edit <= 100; ++edit) {
    std::string text;
    std::vector<std::string> lines = {kept, "0 0 0 1 1 * 30000 v" + std::to_string(edit)};
    for (int i = 0; i < 4; ++i) {
      if (rng() % 2) lines.push_back("0 0 0 1 1 * 30000 r" + std::to_string(i));
    }
    std::shuffle(lines.begin(), lines.end(), rng);
    for (const auto& line : lines) text += line + "\n";
    // Some edits come in the middle of a second, some just before one.
    Step(std::uniform_int_distribution(0, 999)(rng));
    const int updates = Count(console_.Output(), "任务已更新: +");
    Edit(text);
    const std::int64_t editedAt = sim_.ElapsedMs();
    while (Count(console_.Output(), "任务已更新: +") == updates) {
      ASSERT_LE(sim_.ElapsedMs() - editedAt, 2000) << "edit " << edit << " not applied";
      Step(100);
    }
    Step(std::uniform_int_distribution(0, 3000)(rng));
  }
  // Just past the tick of a second, so that every second up to now is done.
  Step(1100 - sim_.LocalTime().milliseconds);
  const rt::SystemTime end = sim_.LocalTime();
  const int seconds = end.hour * 3600 + end.minute * 60 + end.second - 9 * 3600 + 1;
  const int expected = (seconds + 4) / 5;  // 09:00:00, :05, ... up to now
  const std::string out = console_.Output();
  EXPECT_EQ(Count(out, "  推送完成 [kept]\r\n"), expected);
  EXPECT_EQ(relay_.Requests(), expected + 1);  // and the test reminder
  EXPECT_EQ(Count(Log(), "\tkept\t推送完成\t1\t200\t"), expected);
}

// A connection closed without a word.
constexpr const char* kClosedReason = "未收到回复: 连接被关闭";

TEST_F(LiveTest, RetriesAfterNoAnswerBusyAndTooManyRequests) {
  const std::string busy = Response("503 Service Unavailable", "busy");
  const std::string tooMany = Response("429 Too Many Requests", R"({"code":429})");
  struct Case {
    const char* name;
    std::vector<std::string> script;
    std::string first, second;  // the reasons the retry lines give
  } cases[] = {
      {"no answer", {"close", "close"}, kClosedReason, kClosedReason},
      {"503", {busy, busy}, "HTTP 503 busy", "HTTP 503 busy"},
      {"429", {tooMany, "close"}, R"(HTTP 429 {"code":429})", kClosedReason},
  };
  Start("0 0 10 * * * * 早\n0 0 12 * * * * 午\n");
  Step(0);
  Fresh();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int before = FireAgainst(c.script, "早");
    const std::string stamp = LogStamp(rt::NowLocal(sim_));
    EXPECT_EQ(Fresh(), stamp + " [早] " + c.first + "，10 秒后第 1 次重试\r\n");
    Step(9999);
    EXPECT_EQ(relay_.Requests(), before + 1);  // not before its time
    Step(1);
    EXPECT_EQ(Fresh(),
              LogStamp(rt::NowLocal(sim_)) + " [早] " + c.second + "，30 秒后第 2 次重试\r\n");
    Step(30000);
    const std::string now = LogStamp(rt::NowLocal(sim_));
    EXPECT_EQ(Fresh(), now + "  推送完成 [早]\r\n" + now + " [早] " + kOk + "\r\n\r\n");
    EXPECT_EQ(relay_.Requests(), before + 3);
    Step(60000);
    EXPECT_EQ(relay_.Requests(), before + 3);
    EXPECT_NE(Log().find(stamp + "\t早\t推送完成\t3\t200\t" + kOk + "\n"), std::string::npos);
  }
}

TEST_F(LiveTest, RefusalsAreNeverRetriedAndThreeFailuresEndIt) {
  const std::string echo = std::string("HTTP 400 /") + kKey + ".send";
  struct Case {
    const char* name;
    std::vector<std::string> script;
    int requests;
    std::string verdict;  // the second verdict line
    std::string status;
  } cases[] = {
      {"quota",
       {Response("200 OK", rt::TextToUtf8(R"({"code":40001,"message":"超过当天的发送次数限制"})"))},
       1,
       "超过当天的发送次数限制",
       "200"},
      {"400",
       {Response("400 Bad Request", std::string("/") + kKey + ".send")},
       1,
       "HTTP 400 /***.send",
       "400"},
      {"503 three times",
       {Response("503 No", "x"), Response("503 No", "x"), Response("503 No", "x")},
       3,
       "HTTP 503 x",
       "503"},
  };
  Start("0 0 10 * * * * 早\n");
  Step(0);
  Fresh();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int before = FireAgainst(c.script, "早");
    Step(10000);
    Step(30000);
    Step(60000);
    const std::string out = Fresh();
    EXPECT_EQ(relay_.Requests(), before + c.requests);
    EXPECT_EQ(Count(out, "次重试\r\n"), c.requests - 1) << out;
    EXPECT_EQ(Count(out, "  推送失败\r\n"), 1) << out;  // the verdict, once
    EXPECT_NE(out.find(" " + c.verdict + "\r\n\r\n"), std::string::npos) << out;
    EXPECT_NE(Log().find("\t早\t推送失败\t" + std::to_string(c.requests) + "\t" + c.status + "\t" +
                         c.verdict + "\n"),
              std::string::npos)
        << Log();
  }
  EXPECT_EQ(Log().find(kKey), std::string::npos);
}

TEST_F(LiveTest, NoRetryWhenTheTasksNextFiringComesFirst) {
  // Fired (by hand) at 09:00:00; its own next reminder is at 09:00:25.
  Start("25 0 9 * * * * soon\n");
  Step(0);
  Fresh();
  FireAgainst({"close", "close", "close"}, "soon");
  EXPECT_NE(Fresh().find("，10 秒后第 1 次重试\r\n"), std::string::npos);
  Step(10000);  // a try at 09:00:10; the next would come after 09:00:25
  const std::string out = Fresh();
  EXPECT_EQ(Count(out, "次重试"), 0) << out;
  EXPECT_NE(out.find("  推送失败\r\n"), std::string::npos) << out;
  EXPECT_NE(Log().find(rt::JoinTexts("\tsoon\t推送失败\t2\t-\t", kClosedReason, "\n")),
            std::string::npos);
}

TEST_F(LiveTest, QuitDropsPendingRetries) {
  Start("0 0 10 * * * * 早\n");
  Step(0);
  FireAgainst({"close"}, "早");
  const int requests = relay_.Requests();
  console_.Type("q");
  ASSERT_TRUE(console_.WaitForOutput("再按一次回车退出\r\n"));
  Step(60000);  // the retry's time comes and goes
  EXPECT_EQ(relay_.Requests(), requests);
  console_.Type("");
  main_.join();
  EXPECT_EQ(result_, 0);
}

// "q" ends the reminders at once, not at the second Enter: no tick fires,
// and a firing already on its way is turned away.
TEST_F(LiveTest, QuitStopsNewRemindersAtOnce) {
  Start("* * * * * * * every\n");
  Step(2000);
  EXPECT_GE(Count(Fresh(), "  推送完成\r\n"), 2);  // every second until then
  const int requests = relay_.Requests();
  console_.Type("q");
  ASSERT_TRUE(console_.WaitForOutput("已停止发送提醒，再按一次回车退出\r\n"));
  Step(5000);
  OnReminderTrigger(rt::NowLocal(sim_), "every");
  WaitForDeliveries();
  EXPECT_EQ(relay_.Requests(), requests);
  EXPECT_EQ(Count(Fresh(), "推送"), 0);
  console_.Type("");
  main_.join();
  EXPECT_EQ(result_, 0);
}

TEST_F(LiveTest, AForwardJumpNamesTheRemindersItSkipped) {
  Start(std::string(kDefaultScheduleLine) + "\n0 0 * * * * * 整点\n");
  Step(2000);
  Fresh();
  const int requests = relay_.Requests();
  sim_.Jump(std::int64_t{3} * 3600 * 1000);  // three hours asleep
  Step(1000);
  // Per task, in the schedule's order, each time when few.
  EXPECT_EQ(Fresh(),
            "错过的提醒: 定时提醒 2 次: 10:01:01、11:01:01 (计算机休眠或时钟跳变)\r\n"
            "错过的提醒: 整点 3 次: 10:00:00、11:00:00、12:00:00 (计算机休眠或时钟跳变)\r\n");
  EXPECT_EQ(relay_.Requests(), requests);  // not sent late
  const std::string log = Log();
  EXPECT_NE(log.find("2026-12-06 10:01:01\t定时提醒\t错过\t0\t-\t计算机休眠或时钟跳变\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(Count(log, "\t错过\t"), 5);
  Step(60000);  // and the schedule goes on: 12:01:01
  EXPECT_NE(Fresh().find("  推送完成 [定时提醒]\r\n"), std::string::npos);
}

// A long sleep: a frequent task is counted, not listed, and a rare one that
// also missed is named all the same, on the console and in the history.
TEST_F(LiveTest, ALongSleepNamesEveryTaskThatMissed) {
  Start("* * * * * * * every\n0 0 * * * * * hourly\n");
  Step(1000);
  Fresh();
  const std::string logBefore = Log();
  sim_.Jump(std::int64_t{7} * 86400 * 1000);
  Step(1000);
  const std::string out = Fresh();
  EXPECT_EQ(Count(out, "错过的提醒: "), 2) << out;
  // Dates where not of the day the sleep ended.
  EXPECT_NE(out.find("错过的提醒: every 604800 次: 2026-12-06 09:00:01 至 09:00:00 "
                     "(计算机休眠或时钟跳变)\r\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("错过的提醒: hourly 168 次: 2026-12-06 10:00:00 至 09:00:00 "),
            std::string::npos)
      << out;
  const std::string log = Log().substr(logBefore.size());
  EXPECT_EQ(Count(log, "\t错过\t"), 2) << log;
  EXPECT_NE(log.find("\thourly\t错过\t0\t-\t计算机休眠或时钟跳变，共 168 次，最后一次 2026-12-13 "
                     "09:00:00\n"),
            std::string::npos)
      << log;
}

// The clock set back: said once, with how far; nothing fires twice.
TEST_F(LiveTest, AClockSetBackIsSaidOnce) {
  Start("* * * * * * * every\n");
  Step(3000);
  Fresh();
  // Set back by the step itself, whatever the second evaluated last.
  const struct {
    std::int64_t seconds;
    const char* said;
  } steps[] = {{20, "时钟回拨 20 秒，"}, {3724, "时钟回拨 1 小时 2 分 4 秒，"}};
  for (const auto& step : steps) {
    sim_.Jump(-step.seconds * 1000);
    for (int i = 0; i < 5; ++i) Step(1000);
    const std::string out = Fresh();
    EXPECT_EQ(Count(out, "时钟回拨 "), 1) << out;
    EXPECT_NE(out.find(std::string(step.said) + "已经发送的提醒不会重发"), std::string::npos)
        << out;
    EXPECT_EQ(Count(out, "推送完成"), 0) << out;  // those seconds were sent already
  }
}

TEST(HistoryLine, FieldsTabSeparatedInUtf8) {
  const HistoryRecord r{.scheduled = rt::MakeDateTime(2026, 12, 6, 9, 1, 1),
                        .task = "定时\t提醒",
                        .verdict = "推送失败",
                        .tries = 3,
                        .status = 0,
                        .detail = "line\r\nbreak\x1b[2J"};
  EXPECT_EQ(HistoryLine(r), rt::TextToUtf8(rt::JoinTexts(
                                "2026-12-06 09:01:01\t定时 提醒\t推送失败\t3\t-\tline  break?[2J",
                                rt::kTextLineEnd)));
}

class HistoryTest : public LiveTest {};

TEST_F(HistoryTest, RotatesAtOneMebibyteKeepingOneOldFile) {
  const fs::path log = dir_ / "reminder.log";
  const fs::path old = dir_ / "reminder.log.1";
  const HistoryRecord r{.scheduled = rt::MakeDateTime(2026, 12, 6, 9, 1, 1),
                        .task = "t",
                        .verdict = "推送完成",
                        .tries = 1,
                        .status = 200,
                        .detail = "{}"};
  const std::string line = HistoryLine(r);
  std::ofstream(old) << "oldest";
  std::ofstream(log) << std::string(kHistoryMaxBytes - line.size(), 'x');
  History history;
  history.Write(context_, r);  // fits exactly
  EXPECT_EQ(fs::file_size(log), kHistoryMaxBytes);
  history.Write(context_, r);  // would not fit: the log moves aside
  const std::string mark(rt::kUtf8FileMark);
  EXPECT_EQ(ReadText(log), mark + line);  // a new log starts with the system's mark
  EXPECT_EQ(fs::file_size(old), kHistoryMaxBytes);
  history.Write(context_, r);
  EXPECT_EQ(ReadText(log), mark + line + line);
  EXPECT_EQ(console_.Output(), "");
}

TEST_F(HistoryTest, AnUnwritableLogIsReportedOnceAndTheProgramGoesOn) {
  fs::create_directories(dir_ / "reminder.log");  // in the way
  Start("0 0 10 * * * * 早\n");                   // the test reminder's line cannot be written
  OnReminderTrigger(rt::NowLocal(sim_), "早");
  WaitForDeliveries();
  const std::string out = console_.Output();
  EXPECT_EQ(Count(out, "发送记录无法写入 "), 1) << out;
  EXPECT_EQ(Count(out, "  推送完成\r\n"), 2) << out;
  fs::remove_all(dir_ / "reminder.log");
  OnReminderTrigger(rt::NowLocal(sim_), "早");
  WaitForDeliveries();
  EXPECT_EQ(Count(Log(), "\t早\t推送完成\t"), 1);
}

// A task's own message goes out with its name and time; a retry sends the
// very same texts; an edit of the message alone reaches the next reminder.
TEST_F(LiveTest, ATasksMessageIsSentAndResentAsComposed) {
  const std::string busy = Response("503 Service Unavailable", "busy");
  Start("0 0 12 * * * * 午饭 吃饭了 & 休息 100% a+b=c #1 [x]\n0 0 13 * * * * 午休\n");
  Step(55'000);
  FireAgainst({busy}, "午饭");  // at 09:00:55
  Step(10'000);                 // the retry leaves at 09:01:05
  FireAgainst({}, "午休");
  Edit("0 0 12 * * * * 午饭 换了  \n0 0 13 * * * * 午休\n");
  Step(1000);
  FireAgainst({}, "午饭");
  const auto forms = relay_.Forms();
  ASSERT_EQ(forms.size(), 5u);  // the test reminder, a try and its retry, two more
  const std::map<std::string, std::string> lunch = {
      {"text", "午饭 09:00"}, {"desp", "吃饭了 & 休息 100% a+b=c #1 [x]\r\n\r\n 09:00"}};
  EXPECT_EQ(forms[1], lunch);
  EXPECT_EQ(forms[2], lunch);
  EXPECT_EQ(forms[0].at("text"), "鹤溪堂整点报时: 09:00");
  EXPECT_EQ(forms[3].at("text"), "鹤溪堂整点报时: 09:01 午休");
  EXPECT_TRUE(forms[3].at("desp").starts_with("整点抢购已完成")) << forms[3].at("desp");
  EXPECT_EQ(forms[4].at("desp"), "换了\r\n\r\n 09:01");
}

}  // namespace
}  // namespace app
