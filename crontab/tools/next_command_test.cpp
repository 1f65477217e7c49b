#include "next_command.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fakes.h"

namespace cron {
namespace {

using rt::testing::FixedClock;
using rt::testing::RecordingConsole;
constexpr rt::SystemTime kNow{2026, 3, 0, 1, 10, 0, 0, 0};

TEST(NextCommandTest, ArgumentsAndResults) {
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string out;
    std::string errPrefix;
  };
  const Case cases[] = {
      {{"--from", "2026-03-01 10:00:00", "--count", "2", "0 0 12 * * * * noon"},
       0,
       "2026-03-01 12:00:00\n2026-03-02 12:00:00\n",
       ""},
      // An unquoted line arrives in pieces.
      {{"--count", "1", "0", "0", "12", "*", "*", "*", "*", "noon"},
       0,
       "2026-03-01 12:00:00\n",
       ""},
      // Seven fields alone are a line too.
      {{"--count", "1", "0 0 12 * * * *"}, 0, "2026-03-01 12:00:00\n", ""},
      {{"--count", "1", "0", "0", "12", "*", "*", "*", "*"}, 0, "2026-03-01 12:00:00\n", ""},
      {{"--from", "2026-12-31 23:59:59", "* * * * * * 2026 gone"},
       1,
       "",
       "crontab-next: 以后不会再触发"},
      {{"0 0 12 31 2 * *"}, 1, "", "crontab-next: 以后不会再触发"},
      {{"--count", "0", "* * * * * * * x"}, 0, "", ""},
      {{"--count", "-1", "* * * * * * * x"},
       1,
       "",
       "crontab-next: --count 后面要写 0 或更大的整数"},
      {{"--count", "+1", "* * * * * * * x"},
       1,
       "",
       "crontab-next: --count 后面要写 0 或更大的整数"},
      {{"--count", "2147483648", "* * * * * * * x"},
       1,
       "",
       "crontab-next: --count 后面要写 0 或更大的整数"},
      {{"--from", "2026-02-30 00:00:00", "* * * * * * * x"},
       1,
       "",
       "crontab-next: --from 后面要写日期时间"},
      // A sign is no digit, in any part.
      {{"--from", "2026-03-01 -1:00:00", "* * * * * * * x"},
       1,
       "",
       "crontab-next: --from 后面要写日期时间"},
      {{"--from", "2026-03-01 10:-0:00", "* * * * * * * x"},
       1,
       "",
       "crontab-next: --from 后面要写日期时间"},
      {{"--from", "02026-03-01 10:00:00", "--count", "1", "* * * * * * * x"},
       0,
       "2026-03-01 10:00:01\n",
       ""},
      {{"* * * * * * 2025 old"},
       1,
       "",
       "crontab-next: 这一行无法使用: 第 7 项(年) \"2025\": 2025 超出范围 2026-30827"},
      {{"0 60 9 * * * * 坏"},
       1,
       "",
       "crontab-next: 这一行无法使用: 第 2 项(分) \"60\": 60 超出范围 0-59"},
      {{"0 0 9 * * *"}, 1, "", "crontab-next: 这一行无法使用: 应有 7 个时间项和 1 个任务名"},
      {{}, 1, "", "用法: crontab-next"},
      {{"--help"}, 0, "用法: crontab-next", ""},
      // Options are told apart from the line, and named when unknown.
      {{"--from"}, 1, "", "crontab-next: --from 后面要写日期时间"},
      {{"--count", "2", "--count"}, 1, "", "crontab-next: --count 后面要写"},
      {{"--frm", "2026-03-01 00:00:00", "* * * * * * * x"},
       1,
       "",
       "crontab-next: 未知选项 \"--frm\"，用 --help 查看用法"},
      // A whole time.txt line: the message after the name is no part of it.
      {{"--count", "1", "0 0 12 * * * * 午饭 该吃午饭了，记得起来走走  "},
       0,
       "2026-03-01 12:00:00\n",
       ""},
      {{"--count", "1", "0", "0", "12", "*", "*", "*", "*", "午饭", "吃饭", "了"},
       0,
       "2026-03-01 12:00:00\n",
       ""},
      {{"0 0 12 * * * 2025 午饭 吃饭"},
       1,
       "",
       "crontab-next: 这一行无法使用: 第 7 项(年) \"2025\""},
  };
  for (const auto& c : cases) {
    FixedClock clock{kNow};
    RecordingConsole console;
    const std::string shown = c.args.empty() ? "(none)" : c.args.back();
    EXPECT_EQ(RunNextCommand(c.args, clock, console), c.code) << shown;
    EXPECT_EQ(console.Out().substr(0, c.out.size()), c.out) << shown;
    EXPECT_EQ(console.Err().substr(0, c.errPrefix.size()), c.errPrefix) << shown;
    if (c.out.empty()) {
      EXPECT_EQ(console.Out(), "") << shown;
    }
  }
}

TEST(NextCommandTest, PrintsAsItGoes) {
  // A large count is written in bounded pieces, never gathered whole.
  FixedClock clock{kNow};
  RecordingConsole console;
  const int count = 50'000;
  ASSERT_EQ(RunNextCommand({"--from", "2026-03-01 00:00:00", "--count", std::to_string(count),
                            "* * * * * * * x"},
                           clock, console),
            0);
  const std::string out = console.Out();
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), count);
  EXPECT_EQ(out.substr(out.size() - 20), "2026-03-01 13:53:20\n");
  EXPECT_LE(console.LargestWrite(), 64u * 1024);
  EXPECT_GT(console.OutWrites(), 1);
}

}  // namespace
}  // namespace cron
