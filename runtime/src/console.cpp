#include "runtime/console.h"

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

}  // namespace rt
