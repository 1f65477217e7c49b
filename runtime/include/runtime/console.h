// Console services. Texts are the program's own (GB18030) inside; the
// console edge converts them for the terminal and converts typed input back.
#pragma once

#include <string>
#include <string_view>

namespace rt {

enum class Stream { kOut = 1, kErr = 2 };

// Where console input comes from: a console or terminal a person types at,
// redirected input that may still bring lines, or redirected input that has
// nothing more (/dev/null, NUL, a closed pipe, the end of a file, none).
enum class ConsoleInput { kTerminal, kRedirected, kEnded };

// The console as the program sees it, injectable for tests. Write may be
// called from any thread; reading (ReadLine, InputEnded, InputKind) belongs
// to one thread, the one that asks the questions (the main thread).
class Console {
 public:
  virtual ~Console() = default;
  // No line end is added; a failed write is given up quietly.
  virtual void Write(std::string_view text, Stream stream = Stream::kOut) = 0;
  // One line without its line end; a bare Enter gives "\r\n"; "" at the end
  // of input or when input cannot be read. A line longer than one read
  // (2048 bytes or characters) comes over several calls, never cut inside a
  // character. Blocks until a line, or the end, comes.
  virtual std::string ReadLine() = 0;
  // True once input has ended for good: no later ReadLine brings a line.
  virtual bool InputEnded() { return false; }
  // Looked at without reading: whether anyone can answer a prompt.
  virtual ConsoleInput InputKind() { return ConsoleInput::kTerminal; }
  virtual void SetTitle(std::string_view title) = 0;
  // Lets go of the console for good (FreeConsole); by default nothing.
  virtual void Release() {}
};

// The process's own console, made of the functions below; lives as long as
// the process.
Console& SystemConsole();

// Writes a text through TextToConsole (no line end added) in pieces of at
// most 1024 bytes (UTF-16 units on a Windows console). Any thread: the
// pieces of one call are not mixed with another's. A failed write (a closed
// pipe) is given up quietly.
void WriteStdout(std::string_view text, Stream stream = Stream::kOut);
// Console::ReadLine of standard input; from one thread only (the main one).
std::string ReadConsoleLine();
// True once standard input has ended and every line before the end was
// read; never for a Windows console. The reading thread's question.
bool ConsoleInputEnded();
// Standard input's kind, without taking anything from it (kEnded when there
// is none at all). The reading thread's question.
ConsoleInput StandardInputKind();
// The console window's title on Windows; on POSIX a terminal's, by an escape
// sequence, and only when standard output is one (control characters as
// "?", tabs and line ends as blanks). Any thread.
void SetConsoleTitle(std::string_view title);
// Detaches from the console (no effect where there is none to detach).
void FreeConsole();

// The console edge: program text to the bytes written and back. On Linux
// the locale's character set (UTF-8 unless it is GB18030 or GBK, which shows
// four-byte characters as "?") and plain LF line ends; on Windows, where a
// console is written wide, redirected output as program text (UTF-8 where
// that is the system's code page). Bytes read come in the locale's
// character set on Linux and in the system's code page on Windows. Pure: any
// thread.
std::string TextToConsole(std::string_view text);
std::string TextFromConsole(std::string_view bytes);

// Applies the line rules to the raw bytes of one console read: a read of
// more than two bytes ends at its first CR, LF or zero ("q\r\n" gives "q"),
// a shorter one only at a zero (a bare "\r\n" stays "\r\n"); shared by every
// platform.
std::string ConsoleLineFromRaw(std::string_view raw);

}  // namespace rt
