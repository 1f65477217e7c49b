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

// The console as the program sees it, injectable for tests.
class Console {
 public:
  virtual ~Console() = default;
  virtual void Write(std::string_view text, Stream stream = Stream::kOut) = 0;
  // One line without its line end; a bare Enter gives "\r\n"; "" when input
  // cannot be read.
  virtual std::string ReadLine() = 0;
  // True once input has ended for good: no later ReadLine brings a line.
  virtual bool InputEnded() { return false; }
  // Looked at without reading: whether anyone can answer a prompt.
  virtual ConsoleInput InputKind() { return ConsoleInput::kTerminal; }
  virtual void SetTitle(std::string_view title) = 0;
  virtual void Release() {}
};

// The process's own console.
Console& SystemConsole();

// Writes a text unchanged (no line end added) in pieces of at most 1024 bytes.
void WriteStdout(std::string_view text, Stream stream = Stream::kOut);
std::string ReadConsoleLine();
// True once standard input has ended and every line before the end was read.
bool ConsoleInputEnded();
// Standard input's kind, without taking anything from it.
ConsoleInput StandardInputKind();
void SetConsoleTitle(std::string_view title);
// Detaches from the console (no effect where there is none to detach).
void FreeConsole();

// The console edge: program text to the bytes written and back. On Linux
// the locale's character set (UTF-8 unless it is GB18030 or GBK, which shows
// four-byte characters as "?") and plain LF line ends; on Windows, where a
// console is written wide, redirected output as program text (UTF-8 where
// that is the system's code page).
std::string TextToConsole(std::string_view text);
std::string TextFromConsole(std::string_view bytes);

// Applies the line rules to the raw bytes of one console read ("q\r\n" gives
// "q", a bare "\r\n" stays "\r\n"); shared by every platform.
std::string ConsoleLineFromRaw(std::string_view raw);

}  // namespace rt
