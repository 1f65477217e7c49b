#include "app/history.h"

#include <mutex>

#include "app/command_line.h"
#include "app/reminder.h"
#include "app/report.h"
#include "runtime/codepage.h"
#include "runtime/file.h"

namespace app {
namespace {

std::mutex& HistoryMutex() {
  static auto* mutex = new std::mutex;  // deliveries may write while the process ends
  return *mutex;
}
bool gReported = false;  // guarded by HistoryMutex()

std::string Field(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '\t' || c == '\r' || c == '\n') {
      out += ' ';
    } else {
      out += rt::IsControlByte(c) ? '?' : c;
    }
  }
  return out;
}

bool Append(const std::string& line) {
  const rt::Path path = ProgramFile(kHistoryFile);
  const rt::FileStamp stamp = rt::StatFile(path);
  bool fresh = !stamp.exists || stamp.size == 0;
  // One old file is kept; a log that cannot be moved is not let grow.
  if (!fresh && stamp.size + line.size() > kHistoryMaxBytes) {
    if (!rt::RenameFile(path, ProgramFile(kOldHistoryFile))) return false;
    fresh = true;
  }
  const std::string text = fresh ? rt::JoinTexts(rt::kUtf8FileMark, line) : line;
  return rt::AppendFileBytes(path, rt::Bytes(text.begin(), text.end()));
}

}  // namespace

std::string HistoryLine(const HistoryRecord& r) {
  const std::string line = rt::JoinTexts(
      LogStamp(r.scheduled), "\t", Field(r.task), "\t", Field(r.verdict), "\t",
      std::to_string(r.attempts), "\t", r.status == 0 ? std::string("-") : std::to_string(r.status),
      "\t", Field(r.detail), rt::kTextLineEnd);
  return rt::GbkToUtf8(line);
}

void WriteHistory(const HistoryRecord& record) {
  const std::string line = HistoryLine(record);
  const std::lock_guard lock(HistoryMutex());
  if (Append(line)) {
    gReported = false;
    return;
  }
  if (gReported) return;
  gReported = true;
  Context().console->Write(rt::JoinTexts("发送记录无法写入 ",
                                         ShownText(ProgramFile(kHistoryFile).Display(), 400),
                                         "，程序照常运行\r\n"));
}

void ResetHistoryReport() {
  const std::lock_guard lock(HistoryMutex());
  gReported = false;
}

}  // namespace app
