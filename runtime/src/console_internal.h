// Console pieces shared by the platform implementations.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rt {

// Size of one console read.
inline constexpr std::size_t kConsoleReadBuffer = 2048;
// Pieces of at most this size go to the output handle.
inline constexpr std::size_t kConsoleWritePiece = 1024;
// Bytes taken from redirected input per system call.
inline constexpr std::size_t kStreamReadChunk = std::size_t{64} << 10;

// Where a StreamLineReader gets its bytes.
struct LineSource {
  // Up to `size` bytes into `buffer`; 0 at the end of input or on failure.
  std::size_t (*read)(char* buffer, std::size_t size);
  // Whole characters of the input as program text.
  std::string (*convert)(std::string_view bytes);
  // How many bytes at the end of `bytes` begin a character that later input
  // may complete (they wait for it instead of being converted alone).
  std::size_t (*openTail)(std::string_view bytes);
};

// Serves console reads from redirected input as a console read gives them:
// each line without its "\r" or "\n" line end, converted, followed by
// "\r\n" when it ended in one; a line longer than one read is handed out
// over several reads, never cutting a character. Input is taken
// in chunks, and only the current chunk and the part of the line not yet
// handed out are kept, so a line without end costs bounded memory.
class StreamLineReader {
 public:
  explicit StreamLineReader(LineSource source) : source_(source) {}

  // One console read with the line rules applied (ConsoleLineFromRaw); ""
  // at the end of input.
  std::string Read();
  // True once the input has ended and everything before it was handed out.
  bool Ended() const { return ended_ && raw_.empty() && textPos_ == text_.size(); }
  // True while input taken from the source waits to be handed out.
  bool Holds() const { return !raw_.empty() || textPos_ < text_.size(); }

 private:
  // Converts input until more than one read of the line is ready or the
  // line is complete.
  void Fill();

  LineSource source_;
  std::string chunk_;        // what one call of the source fills
  std::string raw_;          // input not yet converted
  std::string text_;         // converted text of the current line
  std::size_t textPos_ = 0;  // start of what is not yet handed out
  bool lineDone_ = false;    // text_ holds the line's end
  bool ended_ = false;       // the source reported its end
};

// Trailing bytes of a UTF-8 text that begin a sequence later bytes may
// complete; of a program text (read from a character boundary), a lone lead
// byte or the start of a four-byte code at the end.
std::size_t Utf8OpenTail(std::string_view bytes);
std::size_t GbkOpenTail(std::string_view bytes);

}  // namespace rt
