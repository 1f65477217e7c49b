#include "app/history.h"

#include "app/command_line.h"
#include "app/report.h"
#include "runtime/codepage.h"
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

}  // namespace

std::string HistoryLine(const HistoryRecord& r) {
  const std::string line =
      rt::JoinTexts(LogStamp(r.scheduled), "\t", rt::PrintableText(r.task), "\t",
                    rt::PrintableText(r.verdict), "\t", std::to_string(r.attempts), "\t",
                    r.status == 0 ? std::string("-") : std::to_string(r.status), "\t",
                    rt::PrintableText(r.detail), rt::kTextLineEnd);
  return rt::GbkToUtf8(line);
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
  ctx.console->Write(rt::JoinTexts("发送记录无法写入 ",
                                   ShownText(ProgramFile(ctx, kHistoryFile).Display(), 400),
                                   "，程序照常运行\r\n"));
}

void History::ResetReport() {
  const std::lock_guard lock(mutex_);
  reported_ = false;
}

}  // namespace app
