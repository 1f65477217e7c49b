// The console line reader on arbitrary redirected input: however the input
// is cut into chunks, the reads are those of the whole lines converted at
// once and handed out in pieces of one console read.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "console_internal.h"
#include "runtime/codepage.h"
#include "runtime/console.h"
#include "runtime/text.h"

namespace {

std::string_view gInput;
std::size_t gChunk = 1;
std::size_t gTaken = 0;

std::size_t Read(char* buffer, std::size_t size) {
  const std::size_t n = std::min({size, gChunk, gInput.size() - gTaken});
  gInput.copy(buffer, n, gTaken);
  gTaken += n;
  return n;
}

std::string Same(std::string_view bytes) {
  return std::string(bytes);
}
std::string FromUtf8(std::string_view bytes) {
  return rt::Utf8ToText(bytes);
}

// The reads, gathering each line whole first.
std::vector<std::string> WholeLineReads(std::string_view input, bool utf8) {
  std::vector<std::string> reads;
  while (!input.empty()) {
    const std::size_t end = input.find('\n');
    std::string_view raw = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    if (end != std::string_view::npos && !raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    std::string line = utf8 ? FromUtf8(raw) : Same(raw);
    if (end != std::string_view::npos) line += "\r\n";
    for (std::size_t at = 0; at < line.size();) {
      const std::string_view rest = std::string_view(line).substr(at);
      std::size_t take = rest.size();
      if (take > rt::kConsoleReadBuffer) {
        take = 0;
        while (take + rt::CharLength(rest, take) <= rt::kConsoleReadBuffer)
          take += rt::CharLength(rest, take);
      }
      reads.push_back(rt::ConsoleLineFromRaw(rest.substr(0, take)));
      at += take;
    }
  }
  return reads;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool utf8 = data[0] & 1;
  // The top bit repeats the input past one console read, which short
  // inputs never reach.
  static std::string input;
  input.assign(reinterpret_cast<const char*>(data + 1), size - 1);
  while ((data[0] & 0x80) && !input.empty() && input.size() <= rt::kConsoleReadBuffer)
    input.append(reinterpret_cast<const char*>(data + 1), size - 1);
  gInput = input;
  gChunk = 1 + (data[0] & 0x7F) / 2 % 9;  // small chunks put edges everywhere
  gTaken = 0;
  rt::StreamLineReader reader(
      {Read, utf8 ? FromUtf8 : Same, utf8 ? rt::Utf8OpenTail : rt::GbkOpenTail});
  std::vector<std::string> reads;
  // Every read but the last hands out at least one byte of input.
  for (std::size_t n = 0; n <= gInput.size() + 1 && !reader.Ended(); ++n) {
    reads.push_back(reader.Read());
    if (reads.back().size() > rt::kConsoleReadBuffer) std::abort();
    if (reads.back().find('\0') != std::string::npos) std::abort();
  }
  if (!reader.Ended() || gTaken != gInput.size()) std::abort();
  // The read that meets the end of input is empty, like a read of a line
  // that starts with a zero byte: drop it when it is the former.
  const std::vector<std::string> expected = WholeLineReads(gInput, utf8);
  if (reads != expected && !reads.empty() && reads.back().empty()) reads.pop_back();
  if (reads != expected) std::abort();
  return 0;
}
