#include "crontab/explain.h"

#include <gtest/gtest.h>

#include <random>

#include "crontab/crontab.h"

namespace cron {
namespace {

TEST(JudgeLinesTest, FirstLineOfANameWinsAndEachRefusalSaysWhy) {
  const std::vector<std::string> lines = {"0 30 9 * * * * Morning", "0 60 9 * * * * 坏",
                                          "0 0 10 * * * * morning", "0 0 10 * * * * 坏",
                                          "0 0 11 * * * * MORNING", "1 2 3",
                                          "0 0 12 * * * * 提醒",    "0 0 13 * * * * 提醒",
                                          "0 0 14 * * * * Ａ",      "0 0 15 * * * * ａ"};
  const auto verdicts = JudgeLines(lines, 2026);
  std::vector<std::string> got;
  for (const auto& v : verdicts) got.push_back(v.accepted ? "OK" : v.reason);
  EXPECT_EQ(got,
            (std::vector<std::string>{
                "OK", "第 2 项(分) \"60\": 60 超出范围 0-59",
                "任务名 \"morning\" 与前面的任务 \"Morning\" 重复 (不分大小写，先写的一行有效)",
                "OK",  // the refused line above held no name
                "任务名 \"MORNING\" 与前面的任务 \"Morning\" 重复 (不分大小写，先写的一行有效)",
                "应有 7 个时间项和 1 个任务名，各用一个空格隔开；这一行分出 3 项", "OK",
                "任务名 \"提醒\" 与前面的任务 \"提醒\" 重复 (不分大小写，先写的一行有效)", "OK",
                "OK",  // full-width letters are not folded
            }));
  EXPECT_EQ(verdicts[2].earlier, 0u);
  EXPECT_EQ(verdicts[7].earlier, 6u);
  EXPECT_EQ(verdicts[1].earlier, kNoLine);
  ASSERT_TRUE(verdicts[1].refusal);
  EXPECT_EQ(verdicts[1].refusal->field, 2);
}

TEST(JudgeLinesTest, NamesFromOutsideAreShownTamed) {
  const auto verdicts = JudgeLines(
      std::vector<std::string>{"* * * * * * * a\x1b[2J", "* * * * * * * A\x1b[2J"}, 2026);
  EXPECT_EQ(verdicts[1].reason,
            "任务名 \"A?[2J\" 与前面的任务 \"a?[2J\" 重复 (不分大小写，先写的一行有效)");
}

// The verdicts are exactly what the scheduler installs from the same lines.
TEST(JudgeLinesTest, AgreesWithTheScheduler) {
  std::mt19937 rng(17);
  const char* fields[] = {"*", "0", "60", "*/7", "5-3", "1,1"};
  const char* names[] = {"a", "A", "b", "提醒", "B", "c"};
  for (int round = 0; round < 50; ++round) {
    std::vector<std::string> lines;
    for (int i = 0; i < 8; ++i) {
      lines.push_back(std::string(fields[rng() % 6]) + " * * * * * * " + names[rng() % 6]);
    }
    std::vector<const char*> texts;
    for (const auto& line : lines) texts.push_back(line.c_str());
    std::vector<int> accepted(lines.size(), -1);
    crontab_handle handle{};
    crontab_Intialize(&handle);
    crontab_Replace(
        &handle, texts.data(), static_cast<std::int32_t>(texts.size()), [](double, const char*) {},
        accepted.data());
    crontab_Destroy(&handle);
    const auto verdicts = JudgeLines(lines, rt::SystemClock().LocalTime().year);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(verdicts[i].accepted, accepted[i] == 1) << lines[i];
      EXPECT_EQ(verdicts[i].accepted, verdicts[i].reason.empty()) << lines[i];
    }
  }
}

}  // namespace
}  // namespace cron
