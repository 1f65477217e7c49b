#include "runtime/file.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <thread>

#include "runtime/codepage.h"
#include "runtime/value.h"
#include "temp_folder.h"

namespace rt {
namespace {

namespace fs = std::filesystem;

Path ToPath(const fs::path& p) {
  return Path(Path::Native(p.native().begin(), p.native().end()));
}

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
    dir_ = rt::testing::UniqueTempFolder(
        std::string("rt_file_test_") +
        ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_");
  }
  void TearDown() override { fs::remove_all(dir_); }
  Path Write(const std::string& name, const std::string& content) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return ToPath(path);
  }
  fs::path dir_;
};

// Two runs of one test (two checkouts, CI beside a developer) never get the
// same folder: each is made anew, and none is taken over.
TEST(TempFolderTest, RunsSideBySideNeverShareAFolder) {
  const rt::testing::TempFolder first("rt_same_test_");
  const rt::testing::TempFolder second("rt_same_test_");
  EXPECT_NE(first.path(), second.path());
  EXPECT_TRUE(fs::is_directory(first.path()));
  std::ofstream(first.path() / "mine.txt") << "first";
  EXPECT_TRUE(fs::is_empty(second.path()));
  fs::path gone;
  {
    const rt::testing::TempFolder third("rt_same_test_");
    gone = third.path();
  }
  EXPECT_FALSE(fs::exists(gone));  // removed with the object
}

TEST_F(TempDir, ReadFileBytesAndText) {
  // Failures are told apart from an empty file, and from each other.
  EXPECT_EQ(ReadFileBytes(ToPath(dir_ / "missing.txt")).error(), ReadError::kMissing);
  EXPECT_EQ(ReadFileBytes(ToPath(dir_ / "no" / "missing.txt")).error(), ReadError::kMissing);
  fs::create_directories(dir_ / "folder");
  EXPECT_EQ(ReadFileBytes(ToPath(dir_ / "folder")).error(), ReadError::kFolder);
  const auto empty = Write("empty.txt", "");
  EXPECT_TRUE(ReadFileBytes(empty).value().empty());
  const auto zero = Write("zero.txt", std::string("abc\0def", 7));
  const Bytes bytes = ReadFileBytes(zero).value();
  EXPECT_EQ(bytes.size(), 7u);
  EXPECT_EQ(BytesToText(bytes), "abc");
  const std::string big(200000, 'k');
  EXPECT_EQ(BytesToText(ReadFileBytes(Write("big.txt", big)).value()), big);
  // A byte-order mark and line end stay: nothing is trimmed here.
  EXPECT_EQ(BytesToText(ReadFileBytes(Write("bom.txt", "\xEF\xBB\xBFkey\r\n")).value()),
            "\xEF\xBB\xBFkey\r\n");
}

TEST_F(TempDir, ProgramDirectoryIsTheExecutablesFolder) {
  const Path dir = ProgramDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_NE(dir.native().back(), kSeparator);
  EXPECT_EQ(dir, ToPath(ExecutablePath().parent_path()));
  EXPECT_FALSE(ReadFileBytes(dir / ExecutablePath().filename().string()).value().empty());
}

// Folder names code page 936 cannot hold are used as the system gives them;
// only their display loses characters.
TEST_F(TempDir, PathsKeepEveryCharacter) {
  struct Case {
    fs::path folder;
    std::string display;  // UTF-8
  } cases[] = {
      {fs::path(u8"jörg"), "j\xC3\xB6rg"},
      {fs::path(u8"한글"), "\xED\x95\x9C\xEA\xB8\x80"},
      {fs::path(u8"\U0001F600 \u4E2D"), "\xF0\x9F\x98\x80 \xE4\xB8\xAD"},
#ifndef _WIN32
      {fs::path("caf\xE9"), "caf\xEF\xBF\xBD"},  // not even UTF-8: a replacement character
#endif
  };
  for (const auto& c : cases) {
    const fs::path folder = dir_ / c.folder;
    std::error_code error;
    if (!fs::create_directories(folder, error)) {
      // Wine maps names through the Unix locale's character set; under a
      // code page 936 locale these names have no Unix form at all.
      GTEST_SKIP() << "the file system cannot hold the name: " << error.message();
    }
    const Path path = ToPath(folder);
    EXPECT_TRUE(TextToUtf8(path.Display()).ends_with(c.display)) << TextToUtf8(path.Display());
    EXPECT_TRUE(WriteFileBytes(path / "weskey.txt", Bytes{'o', 'l', 'd', '!'}));
    EXPECT_TRUE(WriteFileBytes(path / "weskey.txt", Bytes{'k', 'e', 'y'}));
    EXPECT_EQ(BytesToText(ReadFileBytes(path / "weskey.txt").value()), "key");
    EXPECT_TRUE(fs::exists(folder / "weskey.txt"));
    EXPECT_EQ(fs::file_size(folder / "weskey.txt"), 3u);
    EXPECT_FALSE(fs::exists(folder / "weskey.txt.tmp"));
  }
  // Joining: the system's separator; an empty folder leaves the name alone.
  EXPECT_EQ((Path() / "time.txt").Display(), "time.txt");
  EXPECT_EQ((Path::FromText("d") / "\xD6\xD0.txt").Display(),
            std::string("d") + kSeparator + "\xD6\xD0.txt");
  EXPECT_FALSE(WriteFileBytes(ToPath(dir_ / "no-such-folder" / "f"), Bytes{'x'}));
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
  const fs::path file = dir_ / "key.txt";
  const Path path = ToPath(file);
  struct Case {
    std::string before;  // "-": no file yet
    std::string bytes;
  } cases[] = {{"-", "SCT1new"},
               {std::string(1000, 'x'), "short"},
               {"old", ""},
               {"-", std::string("a\0b\r\n", 5)}};
  for (const auto& c : cases) {
    fs::remove(file);
    if (c.before != "-") Write("key.txt", c.before);
    EXPECT_TRUE(WriteFileBytes(path, Bytes(c.bytes.begin(), c.bytes.end())));
    const Bytes got = ReadFileBytes(path).value_or({});
    EXPECT_EQ(std::string(got.begin(), got.end()), c.bytes);
    EXPECT_FALSE(fs::exists(dir_ / "key.txt.tmp"));
  }
  // Nowhere to write: false, and nothing left behind.
  const Bytes some{'k'};
  EXPECT_FALSE(WriteFileBytes(ToPath(dir_ / "missing" / "key.txt"), some));
  fs::create_directories(dir_ / "folder");
  EXPECT_FALSE(WriteFileBytes(ToPath(dir_ / "folder"), some));
  EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
  EXPECT_FALSE(fs::exists(dir_ / "folder.tmp"));
#ifndef _WIN32
  // The replacement keeps the permissions of the file it replaces.
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE(WriteFileBytes(path, some));
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  // A secret is for its owner alone, new or replacing a file others could read.
  constexpr auto kOwner = fs::perms::owner_read | fs::perms::owner_write;
  for (const bool existed : {false, true}) {
    fs::remove(file);
    if (existed) {
      Write("key.txt", "old");
      fs::permissions(file, kOwner | fs::perms::group_read | fs::perms::others_read);
    }
    EXPECT_TRUE(WriteFileBytes(path, some, FileAccess::kOwnerOnly));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, kOwner) << existed;
  }
#endif
}

TEST_F(TempDir, AppendRenameAndStamps) {
  const Path log = ToPath(dir_ / "a.log");
  const Path old = ToPath(dir_ / "a.log.1");
  EXPECT_FALSE(StatFile(log).exists);
  EXPECT_TRUE(AppendFileBytes(log, Bytes{'a', '\n'}));
  EXPECT_TRUE(AppendFileBytes(log, Bytes{'b', '\n'}));
  EXPECT_TRUE(AppendFileBytes(log, Bytes{}));
  EXPECT_EQ(BytesToText(ReadFileBytes(log).value()), "a\nb\n");
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
  EXPECT_EQ(BytesToText(ReadFileBytes(old).value()), "c\nd\n");
  EXPECT_FALSE(RenameFile(log, old));  // nothing to rename

  // Nowhere to write.
  fs::create_directories(dir_ / "folder");
  EXPECT_FALSE(AppendFileBytes(ToPath(dir_ / "folder"), Bytes{'x'}));
  EXPECT_FALSE(AppendFileBytes(ToPath(dir_ / "missing" / "a.log"), Bytes{'x'}));
}

#ifndef _WIN32
// A full disk, as the file size limit gives one: the part of a line that fit
// is cut back off, so the next line written starts a line of its own.
TEST_F(TempDir, AShortAppendLeavesTheFileAsItWas) {
  const Path log = ToPath(dir_ / "a.log");
  ASSERT_TRUE(AppendFileBytes(log, Bytes{'a', '\n'}));
  struct rlimit before {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  const auto oldAction = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = before;
  small.rlim_cur = 5;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = AppendFileBytes(log, Bytes{'b', 'c', 'd', 'e', 'f', '\n'});
  EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &before), 0);
  EXPECT_NE(signal(SIGXFSZ, oldAction), SIG_ERR);
  EXPECT_FALSE(written);
  EXPECT_EQ(BytesToText(ReadFileBytes(log).value()), "a\n");
  ASSERT_TRUE(AppendFileBytes(log, Bytes{'g', '\n'}));
  EXPECT_EQ(BytesToText(ReadFileBytes(log).value()), "a\ng\n");
}
#endif

#ifndef _WIN32
// The desktop's opener decides: one that gives up means no editor opened.
TEST_F(TempDir, OpenTextEditorTellsWhetherTheOpenerSucceeded) {
  const fs::path keyFile = dir_ / "key.txt";
  const Path file = ToPath(keyFile);
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
    EXPECT_TRUE(fs::exists(keyFile));  // made for the editor
  }
  ::setenv("PATH", (dir_ / "nothing-here").c_str(), 1);
  EXPECT_FALSE(OpenTextEditor(file));
  ::setenv("PATH", savedPath.c_str(), 1);
}
#endif

// Waits of thousands of years are long, not over at once: the unit's
// multiplier must not wrap the count.
TEST(Delay, HugeIntervalsDoNotWrap) {
  for (int unit : {1, 2, 3, 100000}) {
    auto returned = std::make_shared<std::promise<void>>();
    auto waited = returned->get_future();
    // Left waiting when the test ends.
    std::thread([unit, returned] {
      DelayWithMessages(2147483647, unit);
      returned->set_value();
    }).detach();
    EXPECT_EQ(waited.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout)
        << "unit " << unit;
  }
  EXPECT_EQ(DelayMilliseconds(2147483647, 3), kMaxDelayMs);
}

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
