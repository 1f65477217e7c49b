// The built executable, run from a folder of its own with scripted input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "runtime/codepage.h"

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int exitCode = -1;
  std::string output;  // code page 936
};

class ReminderExe : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("reminder_exe_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(REMINDER_EXE, dir_ / "reminder");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void WriteFile(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  static std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Runs the program (from another working folder) with `input` typed.
  RunResult Run(const std::string& input) {
    WriteFile("input", input);
    const std::string cmd = "cd / && LC_ALL=C.UTF-8 timeout 20 '" + (dir_ / "reminder").string() +
                            "' < '" + (dir_ / "input").string() + "' > '" +
                            (dir_ / "output").string() + "' 2>&1; echo $? > '" +
                            (dir_ / "rc").string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    return {std::atoi(ReadFile(dir_ / "rc").c_str()), rt::Utf8ToGbk(ReadFile(dir_ / "output"))};
  }
  fs::path dir_;
};

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(ReminderExe, WithoutKeyPromptsAndEndsOnEnter) {
  const RunResult r = Run("\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(Has(r.output, "欢迎使用铃兰小闹钟\r\n")) << r.output;
  EXPECT_TRUE(Has(r.output, "    输入 q 回车 退出\r\n"));
  EXPECT_TRUE(r.output.ends_with("请输入Server酱微信key")) << r.output;
  EXPECT_TRUE(fs::exists(dir_ / "weskey.txt"));  // made for the editor
}

TEST_F(ReminderExe, KeyRoadWithUnreachableRelayLogsAndQuits) {
  WriteFile("weskey.txt", "SCT1blackbox\n");
  WriteFile("time.txt", "0 0 0 1 1 * 30000 never\n");
  const RunResult r = Run("p\nq\n\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(Has(r.output, "任务已添加0 0 0 1 1 * 30000 never\r\n\r\n\r\n")) << r.output;
  EXPECT_TRUE(Has(r.output, "下面开始测试发送一次\r\n"));
  EXPECT_TRUE(Has(r.output, "  推送失败\r\n"));
  EXPECT_TRUE(Has(r.output, " 未收到回复: 无法连接\r\n\r\n测试完成\r\n")) << r.output;
  EXPECT_FALSE(Has(r.output, "SCT1blackbox"));
}

TEST_F(ReminderExe, TwoScheduleLinesBothInstalled) {
  WriteFile("weskey.txt", "SCT1blackbox");
  WriteFile("time.txt", "0 0 0 1 1 * 30000 a\r\n0 0 0 1 2 * 30000 b\r\n");
  const RunResult r = Run("q\n\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(
      Has(r.output, "任务已添加0 0 0 1 1 * 30000 a\r\n\r\n\r\n任务已添加0 0 0 1 2 * 30000 b"))
      << r.output;
  EXPECT_TRUE(Has(r.output, "下次提醒: 30000-01-01 00:00:00\r\n"));
}

}  // namespace
