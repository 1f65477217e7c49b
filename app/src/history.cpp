#include "app/history.h"

#include "app/command_line.h"
#include "crontab/schedule.h"
#include "runtime/codepage.h"
#include "runtime/datetime_text.h"
#include "runtime/file.h"
#include "runtime/text.h"

namespace app {
namespace {

bool Append(const AppContext& ctx, const std::string& line) {
  const rt::Path path = ProgramFile(ctx, kHistoryFile);
  const rt::FileStamp stamp = rt::StatFile(path);
  bool fresh = !stamp.exists || stamp.size == 0;
  // One old file is kept; a log that cannot be moved is not let grow.
  if (!fresh && stamp.size + line.size() > kHistoryMaxBytes) {
    if (!rt::RenameFile(path, ProgramFile(ctx, kOldHistoryFile))) return false;
    fresh = true;
  }
  const std::string text = fresh ? rt::JoinTexts(rt::kUtf8FileMark, line) : line;
  return rt::AppendFileBytes(path, rt::Bytes(text.begin(), text.end()));
}

// "yyyy-MM-dd hh:mm:ss" at the start of a line, as LocalSeconds.
std::optional<std::int64_t> ScheduledSecond(std::string_view line) {
  static constexpr std::string_view kForm = "0000-00-00 00:00:00";
  if (line.size() < kForm.size()) return std::nullopt;
  int fields[6] = {};
  std::size_t pos = 0;
  for (int& field : fields) {
    const std::size_t width = pos == 0 ? 4 : 2;
    const rt::DigitRun run = rt::ReadDigits(line, pos, 10, width);
    if (run.length != width) return std::nullopt;
    field = static_cast<int>(run.value);
    pos += width;
    if (pos < kForm.size() && line[pos] != kForm[pos]) return std::nullopt;
    ++pos;
  }
  return cron::LocalSeconds({.year = fields[0],
                             .month = fields[1],
                             .day = fields[2],
                             .hour = fields[3],
                             .minute = fields[4],
                             .second = fields[5]});
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// A log larger than this was not written by the program: it is not read.
constexpr std::uint64_t kMaxReadHistoryBytes = 4 * kHistoryMaxBytes;

}  // namespace

std::optional<std::int64_t> LatestRecordedFiring(const AppContext& ctx) {
  const rt::Path path = ProgramFile(ctx, kHistoryFile);
  if (rt::StatFile(path).size > kMaxReadHistoryBytes) return std::nullopt;
  const rt::Bytes bytes = rt::ReadFileBytes(path).value_or({});
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const std::string testTask = rt::TextToUtf8(kTestTaskName);
  std::optional<std::int64_t> latest;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (line.starts_with(kByteOrderMark)) line.remove_prefix(kByteOrderMark.size());
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos ||
        line.substr(tab + 1, testTask.size() + 1) == testTask + "\t") {
      continue;
    }
    const auto second = ScheduledSecond(line);
    if (second && (!latest || *second > *latest)) latest = second;
  }
  return latest;
}

std::string LogStamp(rt::DateTime when) {
  return rt::FormatDateTime(when, "yyyy-MM-dd", " hh:mm:ss", true);
}

std::string HistoryLine(const HistoryRecord& r) {
  const std::string line =
      rt::JoinTexts(LogStamp(r.scheduled), "\t", rt::PrintableText(r.task), "\t",
                    rt::PrintableText(r.verdict), "\t", std::to_string(r.tries), "\t",
                    r.status == 0 ? std::string("-") : std::to_string(r.status), "\t",
                    rt::PrintableText(r.detail), rt::kTextLineEnd);
  return rt::TextToUtf8(line);
}

void History::Write(const AppContext& ctx, const HistoryRecord& record) {
  const std::string line = HistoryLine(record);
  const std::lock_guard lock(mutex_);
  if (Append(ctx, line)) {
    reported_ = false;
    return;
  }
  if (reported_) return;
  reported_ = true;
  ctx.console->Write(rt::JoinTexts("发送记录无法写入 ", ShownPath(ProgramFile(ctx, kHistoryFile)),
                                   "，程序照常运行\r\n"));
}

void History::ResetReport() {
  const std::lock_guard lock(mutex_);
  reported_ = false;
}

}  // namespace app
