// Reading the two files beside the program: the key and the schedule.
#include "app/schedule_file.h"

#include <algorithm>

#include "app/message.h"
#include "runtime/codepage.h"
#include "runtime/text.h"

namespace app {

std::string ScheduleLimitText() {
  static_assert(kMaxScheduleBytes % (1 << 20) == 0);
  return rt::JoinTexts(std::to_string(kMaxScheduleBytes >> 20), " MiB");
}
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace

std::string FileText(const rt::Bytes& bytes) {
  // UTF-16 with its byte-order mark: what "Unicode" in an editor's save
  // dialog writes.
  if (bytes.size() >= 2 &&
      ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
    return rt::Utf16BytesToText(std::span(bytes).subspan(2), bytes[0] == 0xFF);
  }
  std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (raw.substr(0, kUtf8Bom.size()) == kUtf8Bom) raw.remove_prefix(kUtf8Bom.size());
  raw = raw.substr(0, raw.find('\0'));
  const bool ascii = std::all_of(raw.begin(), raw.end(), [](char c) { return c >= 0; });
  if (!ascii && rt::IsValidUtf8(raw)) return rt::Utf8ToText(raw);
  return std::string(raw);
}

std::string KeyFromFileText(std::string_view text) {
  return std::string(
      rt::TrimEnd(rt::TrimStart(text, rt::Blanks::kWhitespace), rt::Blanks::kWhitespace));
}

std::vector<std::string> TaskLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    const std::string_view shown = rt::TrimStart(line, rt::Blanks::kWhitespace);
    if (!shown.empty() && shown[0] != '#') lines.push_back(SplitTaskLine(line).Text());
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> ScheduleLines(std::string_view text) {
  std::vector<std::string> lines = TaskLines(text);
  if (lines.empty()) lines.emplace_back(kDefaultScheduleLine);
  return lines;
}

}  // namespace app
