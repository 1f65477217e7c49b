#include "runtime/console.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <thread>

#include "runtime/codepage.h"

namespace rt {
namespace {

TEST(ConsoleLineFromRaw, LineRules) {
  struct Case {
    std::string raw, line;
  } cases[] = {
      {"q\r\n", "q"},   {"\r\n", "\r\n"}, {"q ", "q "},
      {"ab\ncd", "ab"}, {"p\r\n", "p"},   {std::string("a\0b\r\n", 5), "a"},
      {"", ""},         {"x", "x"},
  };
  for (const auto& c : cases) EXPECT_EQ(ConsoleLineFromRaw(c.raw), c.line) << c.raw;
}

#ifndef _WIN32  // the Windows console is exercised by running the program
// Swaps a standard descriptor for a pipe for the life of the object.
class PipedFd {
 public:
  explicit PipedFd(int fd) : fd_(fd), saved_(::dup(fd)) {
    EXPECT_EQ(::pipe(ends_), 0);
    ::dup2(fd == STDIN_FILENO ? ends_[0] : ends_[1], fd);
  }
  ~PipedFd() {
    ::dup2(saved_, fd_);
    ::close(saved_);
    ::close(ends_[0]);
    ::close(ends_[1]);
  }
  void Feed(std::string_view bytes) {
    ASSERT_EQ(::write(ends_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void CloseWriteEnd() {
    ::close(ends_[1]);
    ends_[1] = -1;
  }
  std::string Drain() {
    ::dup2(saved_, fd_);  // so the write end closes
    ::close(ends_[1]);
    ends_[1] = -1;
    std::string out;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(ends_[0], buffer, sizeof buffer)) > 0) out.append(buffer, n);
    return out;
  }

 private:
  int fd_;
  int saved_;
  int ends_[2]{-1, -1};
};

TEST(Console, ReadsScriptedLinesWithPlatformRules) {
  PipedFd in(STDIN_FILENO);
  // UTF-8 from the terminal comes back as code page 936.
  in.Feed("q\n\np \r\n\xE4\xB8\xAD\nlast");
  in.CloseWriteEnd();
  EXPECT_EQ(ReadConsoleLine(), "q");
  EXPECT_EQ(ReadConsoleLine(), "\r\n");
  EXPECT_EQ(ReadConsoleLine(), "p ");
  EXPECT_EQ(ReadConsoleLine(), "中");
  EXPECT_EQ(ReadConsoleLine(), "last");
  EXPECT_EQ(ReadConsoleLine(), "");  // end of input
}

TEST(Console, LongLineIsSplitAtCharacterBoundary) {
  PipedFd in(STDIN_FILENO);
  std::string line = "a";
  for (int i = 0; i < 1500; ++i) line += "\xE4\xB8\xAD";  // 1 + 3000 bytes in 936
  in.Feed(line + "\n");
  in.CloseWriteEnd();
  const std::string first = ReadConsoleLine();
  EXPECT_EQ(first.size(), 2047u);  // the 2048th byte would split a character
  EXPECT_EQ(GbkToUtf8(first + ReadConsoleLine()), line);
}

TEST(Console, WritesWholeTextConvertedWithoutAddingLineEnd) {
  PipedFd out(STDOUT_FILENO);
  std::thread writer([] {
    WriteStdout(std::string(2560, 'x'));
    WriteStdout("鹤\r\n");
    WriteStdout("");
  });
  writer.join();
  const std::string bytes = out.Drain();
  EXPECT_EQ(bytes, std::string(2560, 'x') + TextToConsole("鹤\r\n"));
}

TEST(Console, TitleIsNotWrittenToAPipe) {
  PipedFd out(STDOUT_FILENO);
  SetConsoleTitle("title");
  EXPECT_EQ(out.Drain(), "");
}

#endif

}  // namespace
}  // namespace rt
