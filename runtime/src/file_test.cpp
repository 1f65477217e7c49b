#include "runtime/file.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "runtime/value.h"

namespace rt {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
// The running test's own path.
fs::path ExecutablePath() {
  wchar_t path[1024];
  const DWORD n = GetModuleFileNameW(nullptr, path, 1024);
  return fs::path(std::wstring(path, n));
}
std::string WriteMarkerCommand(const fs::path& marker) {
  return "cmd.exe /c echo x> \"" + marker.string() + "\"";
}
constexpr const char* kNoOpCommand = "cmd.exe /c exit 0";
constexpr char kSeparator = '\\';
#else
fs::path ExecutablePath() {
  return fs::canonical("/proc/self/exe");
}
std::string WriteMarkerCommand(const fs::path& marker) {
  return "touch \"" + marker.string() + "\"";
}
constexpr const char* kNoOpCommand = "true";
constexpr char kSeparator = '/';
#endif

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("rt_file_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& content) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }
  fs::path dir_;
};

TEST_F(TempDir, ReadFileBytesAndText) {
  EXPECT_TRUE(ReadFileBytes((dir_ / "missing.txt").string()).empty());
  const auto empty = Write("empty.txt", "");
  EXPECT_TRUE(ReadFileBytes(empty).empty());
  const auto zero = Write("zero.txt", std::string("abc\0def", 7));
  const Bytes bytes = ReadFileBytes(zero);
  EXPECT_EQ(bytes.size(), 7u);
  EXPECT_EQ(BytesToText(bytes), "abc");
  const std::string big(200000, 'k');
  EXPECT_EQ(BytesToText(ReadFileBytes(Write("big.txt", big))), big);
  // A byte-order mark and line end stay: nothing is trimmed here.
  EXPECT_EQ(BytesToText(ReadFileBytes(Write("bom.txt", "\xEF\xBB\xBFkey\r\n"))),
            "\xEF\xBB\xBFkey\r\n");
}

TEST_F(TempDir, ProgramDirectoryIsTheExecutablesFolder) {
  const std::string dir = ProgramDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_NE(dir.back(), kSeparator);
  EXPECT_EQ(fs::path(dir), ExecutablePath().parent_path());
  // The mixed form the application builds opens the file.
  EXPECT_FALSE(ReadFileBytes(dir + "/" + ExecutablePath().filename().string()).empty());
}

TEST_F(TempDir, RunCommandLine) {
  EXPECT_FALSE(RunCommandLine("no-such-program-here-1234"));
  EXPECT_FALSE(RunCommandLine(""));
  const auto marker = dir_ / "ran";
  EXPECT_TRUE(RunCommandLine(WriteMarkerCommand(marker), true));
  EXPECT_TRUE(fs::exists(marker));
  EXPECT_TRUE(RunCommandLine(kNoOpCommand));  // not waited for
}

TEST_F(TempDir, WriteFileBytesReplacesWholeOrNotAtAll) {
  const std::string path = (dir_ / "key.txt").string();
  struct Case {
    std::string before;  // "-": no file yet
    std::string bytes;
  } cases[] = {{"-", "SCT1new"},
               {std::string(1000, 'x'), "short"},
               {"old", ""},
               {"-", std::string("a\0b\r\n", 5)}};
  for (const auto& c : cases) {
    fs::remove(path);
    if (c.before != "-") Write("key.txt", c.before);
    EXPECT_TRUE(WriteFileBytes(path, Bytes(c.bytes.begin(), c.bytes.end())));
    const Bytes got = ReadFileBytes(path);
    EXPECT_EQ(std::string(got.begin(), got.end()), c.bytes);
    EXPECT_FALSE(fs::exists(path + ".tmp"));
  }
  // Nowhere to write: false, and nothing left behind.
  const Bytes some{'k'};
  EXPECT_FALSE(WriteFileBytes((dir_ / "missing" / "key.txt").string(), some));
  fs::create_directories(dir_ / "folder");
  EXPECT_FALSE(WriteFileBytes((dir_ / "folder").string(), some));
  EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
  EXPECT_FALSE(fs::exists(dir_ / "folder.tmp"));
#ifndef _WIN32
  // The replacement keeps the permissions of the file it replaces.
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE(WriteFileBytes(path, some));
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
#endif
}

TEST_F(TempDir, AppendRenameAndStamps) {
  const std::string log = (dir_ / "a.log").string();
  const std::string old = log + ".1";
  EXPECT_FALSE(StatFile(log).exists);
  EXPECT_TRUE(AppendFileBytes(log, Bytes{'a', '\n'}));
  EXPECT_TRUE(AppendFileBytes(log, Bytes{'b', '\n'}));
  EXPECT_TRUE(AppendFileBytes(log, Bytes{}));
  EXPECT_EQ(BytesToText(ReadFileBytes(log)), "a\nb\n");
  const FileStamp first = StatFile(log);
  EXPECT_TRUE(first.exists);
  EXPECT_EQ(first.size, 4u);
  EXPECT_EQ(StatFile(log), first);  // nothing changed

  // A rewrite of the same size is seen (mtime or the replacing file's id).
  EXPECT_TRUE(WriteFileBytes(log, Bytes{'c', '\n', 'd', '\n'}));
  EXPECT_NE(StatFile(log), first);

  Write("a.log.1", "older");
  EXPECT_TRUE(RenameFile(log, old));  // replaces the older one
  EXPECT_FALSE(StatFile(log).exists);
  EXPECT_EQ(BytesToText(ReadFileBytes(old)), "c\nd\n");
  EXPECT_FALSE(RenameFile(log, old));  // nothing to rename

  // Nowhere to write.
  fs::create_directories(dir_ / "folder");
  EXPECT_FALSE(AppendFileBytes((dir_ / "folder").string(), Bytes{'x'}));
  EXPECT_FALSE(AppendFileBytes((dir_ / "missing" / "a.log").string(), Bytes{'x'}));
}

#ifndef _WIN32
// The desktop's opener decides: one that gives up means no editor opened.
TEST_F(TempDir, OpenTextEditorTellsWhetherTheOpenerSucceeded) {
  const std::string file = (dir_ / "key.txt").string();
  const char* oldPath = std::getenv("PATH");
  const std::string savedPath = oldPath ? oldPath : "";
  struct Case {
    const char* script;
    bool opened;
  } cases[] = {{"#!/bin/sh\necho noise; echo noise >&2; exit 3\n", false},
               {"#!/bin/sh\nexit 0\n", true}};
  for (const auto& c : cases) {
    std::ofstream(dir_ / "xdg-open") << c.script;
    fs::permissions(dir_ / "xdg-open", fs::perms::owner_all);
    ::setenv("PATH", dir_.c_str(), 1);
    EXPECT_EQ(OpenTextEditor(file), c.opened) << c.script;
    ::setenv("PATH", savedPath.c_str(), 1);
    EXPECT_TRUE(fs::exists(file));  // made for the editor
  }
  ::setenv("PATH", (dir_ / "nothing-here").c_str(), 1);
  EXPECT_FALSE(OpenTextEditor(file));
  ::setenv("PATH", savedPath.c_str(), 1);
}
#endif

TEST(Delay, UnitTable) {
  EXPECT_EQ(DelayMilliseconds(300, 0), 300);
  EXPECT_EQ(DelayMilliseconds(2, 1), 2000);
  EXPECT_EQ(DelayMilliseconds(1, 2), 60000);
  EXPECT_EQ(DelayMilliseconds(1, 3), 3600000);
  EXPECT_EQ(DelayMilliseconds(3, 7), 21);
  EXPECT_TRUE(DelayWithMessages(0));
  EXPECT_TRUE(DelayWithMessages(-5, 1));
}

}  // namespace
}  // namespace rt
