#include "app/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/message.h"
#include "crontab/crontab.h"
#include "runtime/codepage.h"
#include "scripted_console.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using Action = CommandLine::Action;

// A Monday.
constexpr rt::SystemTime kMonday{2026, 12, 1, 7, 9, 0, 0, 0};

TEST(ParseCommandLine, Forms) {
  struct Case {
    std::vector<std::string> args;
    Action action;
    std::string file;
  } cases[] = {
      {{}, Action::kRun, ""},
      {{"--help"}, Action::kHelp, ""},
      {{"-h"}, Action::kHelp, ""},
      {{"/?"}, Action::kHelp, ""},
      {{"--version"}, Action::kVersion, ""},
      {{"--test"}, Action::kTest, ""},
      {{"--test", "x"}, Action::kError, ""},
      {{"--check"}, Action::kCheck, ""},
      {{"--check", "计划.txt"}, Action::kCheck, "计划.txt"},
      {{"--check", "a", "b"}, Action::kError, ""},
      {{"--check", "--help"}, Action::kError, ""},
      {{"--help", "x"}, Action::kError, ""},
      {{"--verbose"}, Action::kError, ""},
      {{"-x"}, Action::kError, ""},
      {{"time.txt"}, Action::kError, ""},
      {{"--autostart", "on"}, Action::kAutostart, ""},
      {{"--autostart", "status"}, Action::kAutostart, ""},
      {{"--autostart"}, Action::kError, ""},
      {{"--autostart", "yes"}, Action::kError, ""},
      {{"--autostart", "on", "off"}, Action::kError, ""},
  };
  for (const auto& c : cases) {
    const CommandLine got = ParseCommandLine(c.args);
    EXPECT_EQ(got.action, c.action) << (c.args.empty() ? "(none)" : c.args[0]);
    EXPECT_EQ(got.file, c.file);
    EXPECT_EQ(got.error.empty(), c.action != Action::kError);
    EXPECT_EQ(got.error.find('\n'), std::string::npos);
  }
  EXPECT_EQ(ParseCommandLine({"--bogus"}).error, "未知选项 \"--bogus\"，用 --help 查看用法");
  EXPECT_EQ(ParseCommandLine({"--autostart", "on"}).autostart, CommandLine::Autostart::kOn);
  EXPECT_EQ(ParseCommandLine({"--autostart", "off"}).autostart, CommandLine::Autostart::kOff);
  EXPECT_EQ(ParseCommandLine({"--autostart", "status"}).autostart, CommandLine::Autostart::kStatus);
  EXPECT_EQ(ParseCommandLine({"--autostart"}).error,
            "--autostart 后面要写 on、off 或 status，用 --help 查看用法");
  // What came from outside is shown tamed.
  EXPECT_EQ(ParseCommandLine({"--\x1b[2J"}).error, "未知选项 \"--?[2J\"，用 --help 查看用法");
}

TEST(CheckSchedule, ReportsEachLineAsTheProgramWouldTakeIt) {
  const rt::SystemTime now{2026, 12, 1, 7, 9, 0, 0, 0};
  const ScheduleCheck check = CheckSchedule(
      "0 30 9 * * 1-5 * 工作日\r\n\r\n"
      "0 60 9 * * * * 坏\n"
      "0 0 12 * * * * 工作日\r\n"
      "0 0 0 31 2 * * never\r\n"
      "0 0 0 1 1 * * Never\r\n"
      "5/15 * * * * * * x\r\n"
      "1 2 3\r\n"
      "* * * * * * * A\r\n* * * * * * * a\r\n",
      now);
  EXPECT_FALSE(check.allAccepted);
  EXPECT_EQ(check.report,
            "OK   0 30 9 * * 1-5 * 工作日\r\n"
            "     2026-12-07 09:30:00  2026-12-08 09:30:00  2026-12-09 09:30:00\r\n"
            "错误 0 60 9 * * * * 坏\r\n"
            "     第 2 项(分) \"60\": 60 超出范围 0-59\r\n"
            "错误 0 0 12 * * * * 工作日\r\n"
            "     任务名 \"工作日\" 与前面的任务 \"工作日\" 重复 (不分大小写，先写的一行有效)\r\n"
            "错误 0 0 0 31 2 * * never\r\n"
            "     以后不会再触发 (日期不存在或年份已过)，这一行没有用\r\n"
            // A line that never fires holds no name.
            "OK   0 0 0 1 1 * * Never\r\n"
            "     2027-01-01 00:00:00  2028-01-01 00:00:00  2029-01-01 00:00:00\r\n"
            "错误 5/15 * * * * * * x\r\n"
            "     第 1 项(秒) \"5/15\": 范围里没有步长 15 的倍数，这一项永远不会触发\r\n"
            "错误 1 2 3\r\n"
            "     应有 7 个时间项和 1 个任务名，各用一个空格隔开；这一行分出 3 项\r\n"
            "OK   * * * * * * * A\r\n"
            "     2026-12-07 09:00:01  2026-12-07 09:00:02  2026-12-07 09:00:03\r\n"
            "错误 * * * * * * * a\r\n"
            "     任务名 \"a\" 与前面的任务 \"A\" 重复 (不分大小写，先写的一行有效)\r\n"
            "共 9 行，6 行有错误，运行时会跳过\r\n");

  const ScheduleCheck empty = CheckSchedule("\r\n", now);
  EXPECT_TRUE(empty.allAccepted);
  EXPECT_EQ(empty.report.substr(0, empty.report.find("OK")),
            "文件为空或不存在，程序会使用默认计划:\r\n");
  EXPECT_NE(empty.report.find("共 1 行，全部可用\r\n"), std::string::npos);

  // Comments are neither checked nor counted.
  const ScheduleCheck commented =
      CheckSchedule("# 秒 分 时 ...\r\n  # 0 0 24 * * * * bad\r\n0 0 9 * * * * 早\r\n", now);
  EXPECT_TRUE(commented.allAccepted);
  EXPECT_EQ(commented.report.substr(0, commented.report.find("\r\n") + 2),
            "OK   0 0 9 * * * * 早\r\n");
  EXPECT_NE(commented.report.find("共 1 行，全部可用\r\n"), std::string::npos);
  // A task's own message is shown under its times.
  const ScheduleCheck withMessage =
      CheckSchedule("0 0 12 * * * * 午饭 吃饭了 & 休息\x1b[2J  \r\n", now);
  EXPECT_EQ(withMessage.report,
            "OK   0 0 12 * * * * 午饭\r\n"
            "     2026-12-07 12:00:00  2026-12-08 12:00:00  2026-12-09 12:00:00\r\n"
            "     消息: 吃饭了 & 休息?[2J\r\n"
            "共 1 行，全部可用\r\n");
  const ScheduleCheck onlyComments = CheckSchedule("# nothing yet\r\n", now);
  EXPECT_EQ(onlyComments.report.substr(0, onlyComments.report.find("OK")),
            "文件里只有注释或空行，程序会使用默认计划:\r\n");
}

TEST(CheckSchedule, RefusalTexts) {
  struct Case {
    std::string field;
    std::string reason;
  } cases[] = {
      {"*/0", "第 1 项(秒) \"*/0\": 步长 0 超出范围 1-59"},
      {"08", "第 1 项(秒) \"08\": \"08\" 不是数字，只能写不带正负号、不以 0 开头的整数"},
      {"9-3", "第 1 项(秒) \"9-3\": 范围 9-3 的后一个数要大于前一个数"},
      {"3,1,3", "第 1 项(秒) \"3,1,3\": 3 在列表里出现了两次"},
      {"1-5,10",
       "第 1 项(秒) \"1-5,10\": \"5,10\" 写法不对，可用 *、5、1-5、1,3,5、*/15、10-40/15"},
      {",5", "第 1 项(秒) \",5\": 缺少数字 (多了空格或符号?)"},
  };
  for (const auto& c : cases) {
    const auto refusal = cron::ExplainRefusal(c.field + " * * * * * * n", 2026);
    ASSERT_TRUE(refusal) << c.field;
    EXPECT_EQ(RefusalText(*refusal), c.reason);
  }
}

// The check refuses exactly the lines the scheduler refuses, names included.
TEST(CheckSchedule, AgreesWithTheScheduler) {
  const char* lines[] = {"0 0 9 * * * * a",    "0 0 9 * * * * A",    "0 0 9 * * * * 提醒",
                         "0 0 9 * * * * 提醒", "0 0 9 * * * * b c",  "0 0 9 * * * * Ａ",
                         "0 0 9 * * * * ａ",   "*/60 * * * * * * d", "0 0 9 * * * *  ",
                         "0 0 9 * * * * e\t",  "0 0 9 * * * * E\t"};
  crontab_handle handle{};
  crontab_Intialize(&handle);
  int refusedByScheduler = 0;
  std::string text;
  for (const char* line : lines) {
    // The program hands the scheduler a line without its message.
    refusedByScheduler +=
        crontab_Add(&handle, SplitTaskLine(line).schedule.c_str(), [](double, const char*) {}) == 0;
    text += std::string(line) + "\r\n";
  }
  crontab_Destroy(&handle);
  FixedClock clock{kMonday};
  const std::string report = CheckSchedule(text, clock.now).report;
  int refusedByCheck = 0;
  for (std::size_t at = 0; (at = report.find("错误 ", at)) != std::string::npos; ++at) {
    ++refusedByCheck;
  }
  EXPECT_EQ(refusedByCheck, refusedByScheduler) << report;
}

class RunCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshTestFolder("command_line_test_");
    console_.EndInput();  // nothing is typed
  }
  void TearDown() override { fs::remove_all(dir_); }
  int Run(const std::vector<std::string>& args) {
    console_.Clear();
    return RunCommand(ParseCommandLine(args), console_, clock_, rt::Path::FromText(dir_.string()));
  }
  fs::path dir_;
  RecordingConsole console_;
  FixedClock clock_{kMonday};
};

TEST_F(RunCommandTest, ExitCodesAndStreams) {
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_NE(console_.Out().find("--check [文件]"), std::string::npos);
  EXPECT_EQ(Run({"--version"}), 0);
  EXPECT_EQ(console_.Out(), std::string("铃兰小闹钟 reminder ") + REMINDER_VERSION + "\r\n");
  EXPECT_EQ(Run({"--nope"}), 2);
  EXPECT_EQ(console_.Out(), "");
  EXPECT_EQ(console_.Err(), "reminder: 未知选项 \"--nope\"，用 --help 查看用法\r\n");

  // No time.txt beside the program: the default schedule, which is fine.
  EXPECT_EQ(Run({"--check"}), 0);
  EXPECT_EQ(console_.Out().substr(0, console_.Out().find("\r\n")),
            "检查计划文件: " + (rt::Path::FromText(dir_.string()) / "time.txt").Display());
  EXPECT_NE(console_.Out().find("程序会使用默认计划"), std::string::npos);

  // A file saved in UTF-8 with a byte-order mark is read as the program reads it.
  std::ofstream(dir_ / "time.txt", std::ios::binary)
      << "\xEF\xBB\xBF" << rt::TextToUtf8("0 0 9 * * * * 早\r\n");
  EXPECT_EQ(Run({"--check"}), 0);
  EXPECT_NE(console_.Out().find("OK   0 0 9 * * * * 早\r\n     2026-12-08 09:00:00"),
            std::string::npos)
      << console_.Out();

  // An empty file named on the command line is read, not taken for a folder.
  const std::string empty = (dir_ / "empty.txt").string();
  std::ofstream(empty, std::ios::binary).flush();
  EXPECT_EQ(Run({"--check", empty}), 0);
  EXPECT_NE(console_.Out().find("文件为空或不存在，程序会使用默认计划"), std::string::npos)
      << console_.Out();

  const std::string bad = (dir_ / "bad.txt").string();
  std::ofstream(bad, std::ios::binary) << "0 0 9 * * * * ok\n0 0 24 * * * * late\n";
  EXPECT_EQ(Run({"--check", bad}), 1);
  EXPECT_NE(console_.Out().find("第 3 项(时) \"24\": 24 超出范围 0-23"), std::string::npos);
}

// A FILE named on the command line that cannot be read, and a line that
// never fires again, are errors; the default schedule is no answer to a typo.
TEST_F(RunCommandTest, UnreadableFilesAndDeadLinesFail) {
  const std::string never = (dir_ / "never.txt").string();
  std::ofstream(never, std::ios::binary) << "0 0 12 31 2 * * x\n";
  const std::string big = (dir_ / "big.txt").string();
  std::ofstream(big, std::ios::binary) << std::string((1 << 20) + 1, '#');
  struct Case {
    std::string file;
    std::string says;
  } cases[] = {
      {(dir_ / "no-such-file.txt").string(), "错误: 无法读取这个文件"},
      {dir_.string(), "错误: 无法读取这个文件"},
      {big, "错误: 文件超过 1 MiB"},
      {never, "以后不会再触发"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run({"--check", c.file}), 1) << c.file;
    EXPECT_NE(console_.Out().find(c.says), std::string::npos) << console_.Out();
    EXPECT_EQ(console_.Out().find("默认计划"), std::string::npos) << console_.Out();
  }
}

}  // namespace
}  // namespace app
