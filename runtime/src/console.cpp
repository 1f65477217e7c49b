#include "runtime/console.h"

#include "console_internal.h"
#include "runtime/text.h"

namespace rt {
namespace {

class ProcessConsole final : public Console {
 public:
  void Write(std::string_view text, Stream stream) override { WriteStdout(text, stream); }
  std::string ReadLine() override { return ReadConsoleLine(); }
  bool InputEnded() override { return ConsoleInputEnded(); }
  ConsoleInput InputKind() override { return StandardInputKind(); }
  void SetTitle(std::string_view title) override { SetConsoleTitle(title); }
  void Release() override { FreeConsole(); }
};

}  // namespace

Console& SystemConsole() {
  static ProcessConsole console;
  return console;
}

std::string ConsoleLineFromRaw(std::string_view raw) {
  // Short reads (a bare Enter) are kept whole, line end included.
  const std::size_t stop =
      raw.size() > 2 ? raw.find_first_of(std::string_view("\0\r\n", 3)) : raw.find('\0');
  return std::string(raw.substr(0, stop));
}

void StreamLineReader::Fill() {
  if (!lineDone_ && text_.size() - textPos_ <= kConsoleReadBuffer) {
    text_.erase(0, textPos_);  // what is handed out goes before more comes in
    textPos_ = 0;
  }
  while (!lineDone_ && text_.size() - textPos_ <= kConsoleReadBuffer) {
    const std::size_t end = raw_.find('\n');
    if (end != std::string::npos) {
      std::string_view line(raw_.data(), end);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      text_ += source_.convert(line);
      text_ += "\r\n";
      raw_.erase(0, end + 1);
      lineDone_ = true;
      break;
    }
    // A "\r" may be the first half of a line end; a character may go on in
    // the next chunk.
    std::size_t wait = 0;
    if (!ended_) wait = !raw_.empty() && raw_.back() == '\r' ? 1 : source_.openTail(raw_);
    if (raw_.size() > wait) {
      text_ += source_.convert(std::string_view(raw_).substr(0, raw_.size() - wait));
      raw_.erase(0, raw_.size() - wait);
      continue;
    }
    if (ended_) break;
    chunk_.resize(kStreamReadChunk);  // once; a source may give a few bytes per call
    const std::size_t got = source_.read(chunk_.data(), chunk_.size());
    raw_.append(chunk_.data(), got);
    if (got == 0) ended_ = true;
  }
}

std::string StreamLineReader::Read() {
  if (Ended()) ended_ = false;  // asked again: the source may have more now
  if (textPos_ == text_.size()) {
    text_.clear();
    textPos_ = 0;
    lineDone_ = false;
  }
  Fill();
  const std::string_view rest = std::string_view(text_).substr(textPos_);
  if (rest.empty()) return {};  // end of input
  std::size_t take = rest.size();
  if (take > kConsoleReadBuffer) {
    take = 0;
    while (take + CharLength(rest, take) <= kConsoleReadBuffer) take += CharLength(rest, take);
  }
  textPos_ += take;
  return ConsoleLineFromRaw(rest.substr(0, take));
}

std::size_t Utf8OpenTail(std::string_view bytes) {
  // Walk back over at most three continuation bytes to the sequence's lead.
  for (std::size_t k = 1; k <= 4 && k <= bytes.size(); ++k) {
    const auto b = static_cast<unsigned char>(bytes[bytes.size() - k]);
    if (b >= 0x80 && b <= 0xBF) continue;
    const std::size_t length = b >= 0xF0 && b <= 0xF4   ? 4
                               : b >= 0xE0 && b <= 0xEF ? 3
                               : b >= 0xC2 && b <= 0xDF ? 2
                                                        : 0;
    if (length <= k) return 0;  // complete, or not a lead at all
    // The second byte narrows what may follow some leads.
    if (k >= 2) {
      const auto second = static_cast<unsigned char>(bytes[bytes.size() - k + 1]);
      if ((b == 0xE0 && second < 0xA0) || (b == 0xED && second > 0x9F) ||
          (b == 0xF0 && second < 0x90) || (b == 0xF4 && second > 0x8F)) {
        return 0;
      }
    }
    return k;
  }
  return 0;
}

std::size_t GbkOpenTail(std::string_view bytes) {
  // What may begin a four-byte code: a lead byte, a digit, a lead byte.
  const auto opens = [](std::string_view tail) {
    return IsLeadByte(tail[0]) && (tail.size() < 2 || IsAsciiDigit(tail[1])) &&
           (tail.size() < 3 || IsLeadByte(tail[2]));
  };
  for (std::size_t i = 0; i < bytes.size(); i += CharLength(bytes, i)) {
    const std::size_t rest = bytes.size() - i;
    if (rest < 4 && opens(bytes.substr(i))) return rest;
  }
  return 0;
}

}  // namespace rt
