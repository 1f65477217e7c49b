#include "runtime/autostart.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "temp_folder.h"

#ifndef _WIN32
#include <stdlib.h>
#include <sys/stat.h>
#endif

namespace rt {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The path a unit starts is read back exactly, whatever it holds.
TEST(UserUnit, ExecStartReadsBackEveryPath) {
  const char* paths[] = {
      "/home/me/reminder/build/release/app/reminder",
      "/home/me/my apps/reminder",
      "/opt/100%/%h/reminder",
      "/opt/semi;colon/reminder",
      "/home/j\xC3\xB6rg/\xE9\x93\x83\xE5\x85\xB0/reminder",  // UTF-8 bytes
  };
  for (const std::string path : paths) {
    const auto unit = UserUnitText(path, "铃兰小闹钟");
    ASSERT_TRUE(unit) << path;
    EXPECT_EQ(UnitExecStart(*unit, "/home/other"), path) << *unit;
  }
}

TEST(UserUnit, PathsThatCannotBeWrittenAreRefused) {
  for (const std::string path : {"", "reminder", "/a\nExecStartPre=/bin/evil", "/a\rb", "/a$HOME/b",
                                 "/bad\xff/utf8", "/it's", "/\"q\"", "/back\\slash"}) {
    EXPECT_FALSE(UserUnitText(path, "t")) << path;
  }
}

TEST(UserUnit, ExecStartOfUnitsWrittenByHand) {
  struct Case {
    std::string unit;
    std::optional<std::string> program;
  } cases[] = {
      {"[Service]\nExecStart=%h/reminder/build/release/app/reminder\n",
       "/home/me/reminder/build/release/app/reminder"},
      {"[Service]\r\n  ExecStart=/usr/bin/x --flag\r\n", "/usr/bin/x"},
      {"[Service]\nExecStart='/a b/c' d\n", "/a b/c"},
      {"[Service]\nExecStartPre=/bin/true\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(UnitExecStart(c.unit, "/home/me"), c.program) << c.unit;
}

// docs/reminder.service is what --autostart on writes, but for its program.
TEST(UserUnit, TheDocumentedUnitIsTheWrittenOne) {
  std::string documented = ReadAll(REMINDER_DOCS_UNIT);
  ASSERT_FALSE(documented.empty());
  const auto written = UserUnitText("/PROGRAM", "铃兰小闹钟");
  ASSERT_TRUE(written);
  const std::string execStart = "ExecStart=%h/reminder/build/release/app/reminder\n";
  const std::size_t at = documented.find(execStart);
  ASSERT_NE(at, std::string::npos);
  documented.replace(at, execStart.size(), "ExecStart=/PROGRAM\n");
  const std::string body = written->substr(written->find("[Unit]"));
  EXPECT_EQ(documented.substr(documented.find("[Unit]")), body);
}

#ifndef _WIN32
// The unit in a folder of the test's own, with a systemctl of the test's own
// (or none) on PATH: the user's real systemd is never touched.
class AutostartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Save("XDG_CONFIG_HOME");
    Save("PATH");
    ::setenv("XDG_CONFIG_HOME", (folder_.path() / "config").c_str(), 1);
    ::setenv("PATH", (folder_.path() / "bin").c_str(), 1);
    fs::create_directories(folder_.path() / "bin");
    program_.program = Path((folder_.path() / "app dir" / "reminder").string());
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  void Save(const std::string& name) {
    const char* value = ::getenv(name.c_str());
    saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }
  // A systemctl that logs its arguments and answers with `script`.
  void FakeSystemctl(const std::string& script) {
    const fs::path tool = folder_.path() / "bin" / "systemctl";
    std::ofstream(tool) << "#!/bin/sh\necho \"$@\" >> \"" << Log().string() << "\"\n" << script;
    fs::permissions(tool, fs::perms::owner_all);
  }
  fs::path Log() const { return folder_.path() / "systemctl.log"; }
  fs::path Unit() const { return folder_.path() / "config/systemd/user/reminder.service"; }

  testing::TempFolder folder_{"autostart_test_"};
  AutostartProgram program_{Path(), "reminder", "铃兰小闹钟"};
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(AutostartTest, SystemctlIsToldInOrder) {
  FakeSystemctl("exit 0\n");
  EXPECT_EQ(EnableAutostart(program_).outcome, AutostartOutcome::kDone);
  // What enabling links, for disabling to take away even without systemctl.
  fs::create_directories(Unit().parent_path() / "default.target.wants");
  fs::create_symlink(Unit(), Unit().parent_path() / "default.target.wants/reminder.service");
  EXPECT_EQ(DisableAutostart(program_).outcome, AutostartOutcome::kDone);
  EXPECT_EQ(ReadAll(Log()),
            "--user daemon-reload\n--user enable --now reminder.service\n"
            "--user disable --now reminder.service\n--user daemon-reload\n");
  EXPECT_FALSE(fs::exists(Unit()));
  EXPECT_FALSE(fs::is_symlink(Unit().parent_path() / "default.target.wants/reminder.service"));
}

TEST_F(AutostartTest, SystemctlFailureIsReportedWithItsFirstLine) {
  FakeSystemctl("echo 'Failed to connect to bus: No medium found' >&2\necho more >&2\nexit 1\n");
  const AutostartResult on = EnableAutostart(program_);
  EXPECT_EQ(on.outcome, AutostartOutcome::kManagerFailed);
  EXPECT_EQ(on.detail, "Failed to connect to bus: No medium found");
  EXPECT_TRUE(fs::exists(Unit()));  // written all the same, to be enabled by hand
  EXPECT_EQ(ReadAll(Log()), "--user daemon-reload\n");
}

TEST_F(AutostartTest, UnfitProgramPathWritesNothing) {
  program_.program = Path("/apps/a$b/reminder");
  EXPECT_EQ(EnableAutostart(program_).outcome, AutostartOutcome::kUnfitPath);
  EXPECT_FALSE(fs::exists(Unit()));
}
#endif

}  // namespace
}  // namespace rt
