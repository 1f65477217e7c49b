#include "runtime/console.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <thread>

#include "console_internal.h"
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

// Redirected input served in chunks of a chosen size.
struct ScriptedInput {
  static inline std::string_view bytes;
  static inline std::size_t chunk = 1;
  static inline std::size_t taken = 0;
  static std::size_t Read(char* buffer, std::size_t size) {
    const std::size_t n = std::min({size, chunk, bytes.size() - taken});
    bytes.copy(buffer, n, taken);
    taken += n;
    return n;
  }
  static StreamLineReader Reader(std::string_view input, std::size_t chunkSize, bool utf8) {
    bytes = input;
    chunk = chunkSize;
    taken = 0;
    if (utf8)
      return StreamLineReader(
          {Read, [](std::string_view b) { return Utf8ToText(b); }, Utf8OpenTail});
    return StreamLineReader({Read, [](std::string_view b) { return std::string(b); }, GbkOpenTail});
  }
};

// However the input is cut into chunks, the reads are those of the whole
// lines: characters and "\r\n" line ends are never split by a chunk edge.
TEST(StreamLineReader, ChunkEdgesDoNotChangeTheReads) {
  const std::string longLine(2047, 'a');
  const std::string kEmoji = "\x94\x39\xFC\x36";  // U+1F600
  const std::string kBad = "\x84\x31\xA4\x37";    // U+FFFD
  struct Case {
    std::string input;
    bool utf8;
    std::vector<std::string> reads;  // up to the end of input
  } cases[] = {
      {"q\r\n\r\np \n\xE4\xB8\xAD\xF0\x9F\x98\x80x\nlast",
       true,
       {"q", "\r\n", "p ", "\xD6\xD0" + kEmoji + "x", "last"}},
      // Broken UTF-8 stays broken the same way: one replacement character
      // per maximal bad run.
      {"\xE4\xB8\n\xED\xA0\x80\n\xF0\x9F\n", true, {kBad, kBad + kBad + kBad, kBad}},
      // A line end split as "\r" | "\n", and a lone "\r" inside a line.
      {"ab\r\ncd\ref\n", true, {"ab", "cd"}},
      // 2047 bytes then a double-byte character: it goes to the next read.
      {longLine + "\xE4\xB8\xAD\n", true, {longLine, "\xD6\xD0"}},
      {"\xD6\xD0\xB0\xA1\n\xD6", false, {"\xD6\xD0\xB0\xA1", "\xD6"}},
      {longLine + "\xD6\xD0\n", false, {longLine, "\xD6\xD0"}},
      // Four-byte codes are never cut, by a chunk or by a read.
      {"a" + kEmoji + kEmoji + "\n" + kEmoji, false, {"a" + kEmoji + kEmoji, kEmoji}},
      {longLine.substr(2) + kEmoji + "\n", false, {longLine.substr(2), kEmoji}},
      {longLine + "\xF0\x9F\x98\x80\n", true, {longLine, kEmoji}},
      {"", true, {}},
  };
  for (const auto& c : cases) {
    for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{3}, kStreamReadChunk}) {
      StreamLineReader reader = ScriptedInput::Reader(c.input, chunk, c.utf8);
      std::vector<std::string> reads;
      for (std::string r; !(r = reader.Read()).empty();) reads.push_back(r);
      EXPECT_EQ(reads, c.reads) << "chunk " << chunk << ": " << c.input.substr(0, 40);
      EXPECT_TRUE(reader.Ended());
    }
  }
}

TEST(StreamLineReader, EndlessLineTakesBoundedInput) {
  const std::string zeros(8 << 20, '\0');
  StreamLineReader reader = ScriptedInput::Reader(zeros, kStreamReadChunk, true);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(reader.Read(), "");  // a zero ends each read's text
  EXPECT_FALSE(reader.Ended());
  EXPECT_LE(ScriptedInput::taken, 100 * kConsoleReadBuffer + 2 * kStreamReadChunk);
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
  // Blocks while the pipe is full; the bytes written.
  std::size_t Write(std::string_view bytes) {
    const ssize_t n = ::write(ends_[1], bytes.data(), bytes.size());
    return n > 0 ? static_cast<std::size_t>(n) : 0;
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
  // UTF-8 from the terminal comes back as program text, every character.
  in.Feed("q\n\np \r\n\xE4\xB8\xAD\xF0\x9F\x98\x80\nlast");
  in.CloseWriteEnd();
  EXPECT_EQ(ReadConsoleLine(), "q");
  EXPECT_EQ(ReadConsoleLine(), "\r\n");
  EXPECT_EQ(ReadConsoleLine(), "p ");
  EXPECT_EQ(ReadConsoleLine(), "中\x94\x39\xFC\x36");
  EXPECT_FALSE(ConsoleInputEnded());
  EXPECT_EQ(ReadConsoleLine(), "last");
  EXPECT_TRUE(ConsoleInputEnded());
  EXPECT_EQ(ReadConsoleLine(), "");  // end of input
  EXPECT_TRUE(ConsoleInputEnded());
}

// A line without end (as from /dev/zero) is read as it comes, not gathered
// whole first: one read takes a bounded part of it.
TEST(Console, EndlessLineIsReadInBoundedPieces) {
  PipedFd in(STDIN_FILENO);
  constexpr std::size_t kTotal = 4 << 20;
  std::atomic<std::size_t> written{0};
  std::thread writer([&] {
    const std::string zeros(4096, '\0');
    while (written < kTotal) written += in.Write(zeros);
    in.CloseWriteEnd();
  });
  EXPECT_EQ(ReadConsoleLine(), "");
  // What the first read took, plus what the pipe holds.
  EXPECT_LE(written.load(), 2 * kStreamReadChunk + (1 << 20));
  std::size_t reads = 1;
  while (!ConsoleInputEnded() && reads < kTotal) {
    ReadConsoleLine();
    ++reads;
  }
  writer.join();
  EXPECT_GE(reads, kTotal / kConsoleReadBuffer);
}

TEST(Console, LongLineIsSplitAtCharacterBoundary) {
  PipedFd in(STDIN_FILENO);
  std::string line = "a";
  for (int i = 0; i < 1500; ++i) line += "\xE4\xB8\xAD";  // 1 + 3000 bytes in 936
  in.Feed(line + "\n");
  in.CloseWriteEnd();
  const std::string first = ReadConsoleLine();
  EXPECT_EQ(first.size(), 2047u);  // the 2048th byte would split a character
  EXPECT_EQ(TextToUtf8(first + ReadConsoleLine()), line);
}

// UTF-8 with plain LF line ends, as files, pipes and journald take lines.
TEST(Console, WritesWholeTextConvertedWithoutAddingLineEnd) {
  PipedFd out(STDOUT_FILENO);
  std::thread writer([] {
    WriteStdout(std::string(2560, 'x'));
    WriteStdout("鹤\x94\x39\xFC\x36\r\n\r\na\rb\n");
    WriteStdout("");
  });
  writer.join();
  const std::string bytes = out.Drain();
  EXPECT_EQ(bytes, std::string(2560, 'x') + "\xE9\xB9\xA4\xF0\x9F\x98\x80\n\na\rb\n");
  EXPECT_EQ(TextToConsole("鹤\r\n"), "\xE9\xB9\xA4\n");
}

TEST(Console, TitleIsNotWrittenToAPipe) {
  PipedFd out(STDOUT_FILENO);
  SetConsoleTitle("title");
  EXPECT_EQ(out.Drain(), "");
}

// Standard input swapped for a file for the life of the object.
class FileFd {
 public:
  explicit FileFd(const char* path) : saved_(::dup(STDIN_FILENO)) {
    const int fd = ::open(path, O_RDONLY);
    EXPECT_GE(fd, 0) << path;
    ::dup2(fd, STDIN_FILENO);
    ::close(fd);
  }
  ~FileFd() {
    ::dup2(saved_, STDIN_FILENO);
    ::close(saved_);
  }

 private:
  int saved_;
};

// Whether a prompt can be answered is told without taking any input.
TEST(Console, InputKindIsToldWithoutReading) {
  {
    PipedFd in(STDIN_FILENO);
    EXPECT_EQ(StandardInputKind(), ConsoleInput::kRedirected);  // the writer may still write
    in.Feed("key\n");
    in.CloseWriteEnd();
    EXPECT_EQ(StandardInputKind(), ConsoleInput::kRedirected);  // a line waits
    EXPECT_EQ(ReadConsoleLine(), "key");
    EXPECT_EQ(StandardInputKind(), ConsoleInput::kEnded);
  }
  {
    FileFd in("/dev/null");
    EXPECT_EQ(StandardInputKind(), ConsoleInput::kEnded);
  }
  char name[] = "/tmp/input_kind_XXXXXX";
  const int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  {
    FileFd in(name);
    EXPECT_EQ(StandardInputKind(), ConsoleInput::kEnded);  // an empty file
  }
  ASSERT_EQ(::write(fd, "q\n", 2), 2);
  ::close(fd);
  {
    FileFd in(name);
    EXPECT_EQ(StandardInputKind(), ConsoleInput::kRedirected);
  }
  ::unlink(name);
}

#else

// Standard input swapped for a handle for the life of the object.
class StdinHandle {
 public:
  explicit StdinHandle(HANDLE h) : saved_(GetStdHandle(STD_INPUT_HANDLE)) {
    SetStdHandle(STD_INPUT_HANDLE, h);
  }
  ~StdinHandle() { SetStdHandle(STD_INPUT_HANDLE, saved_); }

 private:
  HANDLE saved_;
};

TEST(Console, InputKindIsToldWithoutReading) {
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
  {
    StdinHandle in(readEnd);
    EXPECT_EQ(StandardInputKind(), ConsoleInput::kRedirected);  // the writer may still write
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writeEnd, "q\r\n", 3, &written, nullptr));
    CloseHandle(writeEnd);
    EXPECT_EQ(StandardInputKind(), ConsoleInput::kRedirected);  // a line waits
    EXPECT_EQ(ReadConsoleLine(), "q");
    EXPECT_EQ(StandardInputKind(), ConsoleInput::kEnded);
  }
  CloseHandle(readEnd);
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(nul, INVALID_HANDLE_VALUE);
  {
    StdinHandle in(nul);
    EXPECT_EQ(StandardInputKind(), ConsoleInput::kEnded);
  }
  CloseHandle(nul);
  {
    StdinHandle in(nullptr);
    EXPECT_EQ(StandardInputKind(), ConsoleInput::kEnded);
  }
}

#endif

}  // namespace
}  // namespace rt
