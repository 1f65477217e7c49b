#include "next_command.h"

#include <climits>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "crontab/explain.h"
#include "crontab/schedule.h"
#include "runtime/datetime_text.h"
#include "runtime/text.h"

namespace cron {
namespace {

constexpr std::string_view kUsage =
    "用法: crontab-next [--from \"YYYY-MM-DD hh:mm:ss\"] [--count N] \"一行计划\"\n"
    "  一行计划: time.txt 里的一行 (秒 分 时 日 月 星期 年 任务名 [消息])，\n"
    "            任务名和消息可以不写\n"
    "  --from    从这个时间之后算起 (默认: 现在)\n"
    "  --count   列出几次 (默认: 5)\n";

// Seven fields alone are previewed under a name of their own.
std::string WithName(std::string line) {
  std::size_t spaces = 0;
  for (std::size_t i = 0; i < line.size(); i += rt::CharLength(line, i)) spaces += line[i] == ' ';
  if (spaces == cron::kFieldCount - 1 && !line.empty() && line.back() != ' ') line += " -";
  return line;
}

// Digits alone (no sign), up to the largest int.
std::optional<int> ReadInt(std::string_view text) {
  const auto value = rt::ParseDecimal(text);
  if (!value || *value > INT_MAX) return std::nullopt;
  return static_cast<int>(*value);
}

std::optional<rt::SystemTime> ReadDateTime(std::string_view text) {
  // YYYY-MM-DD hh:mm:ss; the year may have up to five digits.
  const auto space = text.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  const std::string_view date = text.substr(0, space);
  const std::string_view time = text.substr(space + 1);
  const auto d1 = date.find('-');
  const auto d2 = date.find('-', d1 == std::string_view::npos ? 0 : d1 + 1);
  if (d1 == std::string_view::npos || d2 == std::string_view::npos || time.size() != 8 ||
      time[2] != ':' || time[5] != ':') {
    return std::nullopt;
  }
  const auto year = ReadInt(date.substr(0, d1));
  const auto month = ReadInt(date.substr(d1 + 1, d2 - d1 - 1));
  const auto day = ReadInt(date.substr(d2 + 1));
  const auto hour = ReadInt(time.substr(0, 2));
  const auto minute = ReadInt(time.substr(3, 2));
  const auto second = ReadInt(time.substr(6, 2));
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  if (*year < 1 || *year > cron::kMaxYear || *month < 1 || *month > 12 || *day < 1 ||
      *day > rt::DaysInMonth(*year, *month) || *hour > 23 || *minute > 59 || *second > 59) {
    return std::nullopt;
  }
  return rt::SystemTime{*year, *month, 0, *day, *hour, *minute, *second, 0};
}

int Fail(rt::Console& console, std::string_view message) {
  console.Write(std::string("crontab-next: ") + std::string(message) + "\n", rt::Stream::kErr);
  return 1;
}

// What the arguments ask for.
struct NextRequest {
  std::optional<rt::SystemTime> from;
  int count = 5;
  std::string line;  // in the terminal's bytes
};

// The request, or the exit code when the arguments end the run (help, a
// fault, no line).
std::variant<NextRequest, int> ReadArgs(const std::vector<std::string>& args,
                                        rt::Console& console) {
  NextRequest r;
  bool haveLine = false;
  const auto argc = args.size();
  for (std::size_t i = 0; i < argc; ++i) {
    const std::string_view arg = args[i];
    // No item of a line starts with "-": before the line, such a word is an option.
    if (!haveLine && arg.starts_with('-')) {
      if (arg == "--help" || arg == "-h") {
        console.Write(kUsage);
        return 0;
      }
      if (arg != "--from" && arg != "--count") {
        return Fail(
            console,
            rt::JoinTexts("未知选项 \"", rt::ShownText(rt::TextFromConsole(arg), kShownPieceBytes),
                          "\"，用 --help 查看用法"));
      }
      const std::string_view value = i + 1 < argc ? std::string_view(args[++i]) : "";
      if (arg == "--from") {
        r.from = ReadDateTime(value);
        if (!r.from) return Fail(console, "--from 后面要写日期时间，如 \"2026-12-06 09:00:00\"");
      } else {
        const auto n = ReadInt(value);
        if (!n) return Fail(console, "--count 后面要写 0 或更大的整数");
        r.count = *n;
      }
      continue;
    }
    // An unquoted line arrives as several arguments: join them again.
    if (haveLine) r.line += ' ';
    r.line += arg;
    haveLine = true;
  }
  if (!haveLine) {
    console.Write(kUsage, rt::Stream::kErr);
    return 1;
  }
  return r;
}

// Writes the next `count` firings after `at`, as found, in pieces: a large
// count needs no more memory than a small one.
int WriteFirings(const Schedule& schedule, rt::SystemTime at, int count, const LocalZone& zone,
                 rt::Console& console) {
  constexpr std::size_t kPiece = 16 * 1024;
  std::string out;
  for (int i = 0; i < count; ++i) {
    const auto next = schedule.NextAfter(at, zone);
    if (!next && i == 0) return Fail(console, kNeverFiresText);
    if (!next) break;
    at = *next;
    out += rt::SystemTimeText(at);
    out += '\n';
    if (out.size() >= kPiece) console.Write(std::exchange(out, {}));
  }
  if (!out.empty()) console.Write(out);
  return 0;
}

}  // namespace

int RunNextCommand(const std::vector<std::string>& args, rt::Clock& clock, rt::Console& console) {
  auto read = ReadArgs(args, console);
  if (const int* code = std::get_if<int>(&read)) return *code;
  const NextRequest& request = std::get<NextRequest>(read);
  const rt::SystemTime now = clock.LocalTime();
  // The terminal's bytes become program text as at the console edge; a
  // time.txt line as it stands: its message is no part of the schedule.
  const std::string line =
      WithName(std::string(SplitTaskLine(rt::TextFromConsole(request.line)).schedule));
  const auto schedule = Schedule::Parse(line, now.year);
  if (!schedule) {
    const auto refusal = ExplainRefusal(line, now.year);
    return Fail(console, rt::JoinTexts("这一行无法使用: ", refusal ? RefusalText(*refusal) : ""));
  }
  return WriteFirings(*schedule, request.from.value_or(now), request.count, LocalZone(clock),
                      console);
}

}  // namespace cron
