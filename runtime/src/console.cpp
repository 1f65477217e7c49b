#include "runtime/console.h"

#include "console_internal.h"
#include "runtime/text.h"

namespace rt {
namespace {

class ProcessConsole final : public Console {
 public:
  void Write(std::string_view text, Stream stream) override { WriteStdout(text, stream); }
  std::string ReadLine() override { return ReadConsoleLine(); }
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

std::string ReadConsolePiece(std::string& pending, bool (*readByte)(char& c),
                             std::string (*fromBytes)(std::string_view bytes)) {
  if (pending.empty()) {
    std::string raw;
    bool ended = false;
    for (char c = 0; readByte(c);) {
      if (c == '\n') {
        ended = true;
        break;
      }
      raw.push_back(c);
    }
    if (!ended && raw.empty()) return {};  // end of input
    if (ended && !raw.empty() && raw.back() == '\r') raw.pop_back();
    pending = fromBytes(raw);
    if (ended) pending += "\r\n";
  }
  std::size_t take = pending.size();
  if (take > kConsoleReadBuffer) {
    take = 0;
    while (take + CharLength(pending, take) <= kConsoleReadBuffer)
      take += CharLength(pending, take);
  }
  const std::string piece = pending.substr(0, take);
  pending.erase(0, take);
  return ConsoleLineFromRaw(piece);
}

}  // namespace rt
