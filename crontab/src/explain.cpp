#include "crontab/explain.h"

#include <unordered_map>

#include "crontab_object.h"
#include "runtime/text.h"

namespace cron {
namespace {

constexpr const char* kFieldNames[] = {"秒", "分", "时", "日", "月", "星期", "年"};

std::string Quoted(std::string_view text) {
  return rt::JoinTexts("\"", rt::ShownText(text, kShownPieceBytes), "\"");
}

}  // namespace

std::string RefusalText(const Refusal& r) {
  using K = Refusal::Kind;
  if (r.kind == K::kItemCount || r.field < 1 || r.field > kFieldCount) {
    return rt::JoinTexts("应有 7 个时间项和 1 个任务名，各用一个空格隔开；这一行分出 ",
                         std::to_string(r.items), " 项");
  }
  const std::string head = rt::JoinTexts("第 ", std::to_string(r.field), " 项(",
                                         kFieldNames[r.field - 1], ") ", Quoted(r.text), ": ");
  const std::string range = rt::JoinTexts(std::to_string(r.low), "-", std::to_string(r.high));
  const std::string part = rt::ShownText(r.part, kShownPieceBytes);
  switch (r.kind) {
    case K::kEmpty:
      return head + "缺少数字 (多了空格或符号?)";
    case K::kNotANumber:
      return rt::JoinTexts(head, Quoted(r.part), " 不是数字，只能写不带正负号、不以 0 开头的整数");
    case K::kOutOfRange:
      return rt::JoinTexts(head, part, " 超出范围 ", range);
    case K::kStepOutOfRange:
      return rt::JoinTexts(head, "步长 ", part, " 超出范围 ", range);
    case K::kRangeNotAscending:
      return rt::JoinTexts(head, "范围 ", part, " 的后一个数要大于前一个数");
    case K::kRepeated:
      return rt::JoinTexts(head, part, " 在列表里出现了两次");
    case K::kNoValue:
      return rt::JoinTexts(head, "范围里没有步长 ", part, " 的倍数，这一项永远不会触发");
    case K::kBadForm:
    case K::kItemCount:
      break;
  }
  return rt::JoinTexts(head, Quoted(r.part), " 写法不对，可用 *、5、1-5、1,3,5、*/15、10-40/15");
}

std::string DuplicateNameText(std::string_view name, std::string_view earlierName) {
  return rt::JoinTexts("任务名 ", Quoted(name), " 与前面的任务 ", Quoted(earlierName),
                       " 重复 (不分大小写，先写的一行有效)");
}

namespace {

// The verdicts; with `now`, a line that never fires after it is refused
// before its name is taken.
std::vector<LineVerdict> Judge(std::span<const std::string> lines, int currentYear,
                               const rt::SystemTime* now, const LocalZone& zone) {
  std::vector<LineVerdict> verdicts(lines.size());
  std::vector<std::optional<Schedule>> accepted(lines.size());
  std::unordered_multimap<std::uint32_t, std::size_t> names;  // folded hash -> accepted line
  for (std::size_t i = 0; i < lines.size(); ++i) {
    LineVerdict& v = verdicts[i];
    auto schedule = Schedule::Parse(lines[i], currentYear);
    if (!schedule) {
      v.refusal = ExplainRefusal(lines[i], currentYear);
      v.reason = v.refusal ? RefusalText(*v.refusal) : "格式错误";
      continue;
    }
    if (now && !schedule->NextAfter(*now, zone)) {
      v.reason = kNeverFiresText;
      continue;
    }
    const std::uint32_t hash = FoldedNameHash(schedule->name());
    const auto [from, to] = names.equal_range(hash);
    for (auto it = from; it != to && v.earlier == kNoLine; ++it) {
      if (rt::EqualsIgnoreCase(accepted[it->second]->name(), schedule->name()))
        v.earlier = it->second;
    }
    if (v.earlier != kNoLine) {
      v.reason = DuplicateNameText(schedule->name(), accepted[v.earlier]->name());
      continue;
    }
    v.accepted = true;
    names.emplace(hash, i);
    accepted[i] = std::move(schedule);
  }
  return verdicts;
}

}  // namespace

std::vector<LineVerdict> JudgeLines(std::span<const std::string> lines, int currentYear) {
  return Judge(lines, currentYear, nullptr, LocalZone());
}

std::vector<LineVerdict> JudgeLines(std::span<const std::string> lines, const rt::SystemTime& now,
                                    const LocalZone& zone) {
  return Judge(lines, now.year, &now, zone);
}

TaskLineParts SplitTaskLine(std::string_view line) {
  // Separators are found as the scheduler finds them: never a trail byte.
  std::size_t nameStart = std::string_view::npos;
  std::size_t nameEnd = line.size();
  int separators = 0;
  for (std::size_t i = 0; i < line.size(); i += rt::CharLength(line, i)) {
    if (line[i] != ' ') continue;
    if (++separators == kFieldCount) nameStart = i + 1;
    if (separators == kFieldCount + 1) {
      nameEnd = i;
      break;
    }
  }
  if (nameStart == std::string_view::npos) return {line, {}, {}};
  const std::string_view name = line.substr(nameStart, nameEnd - nameStart);
  if (nameEnd == line.size() || name.empty()) return {line, name, {}};
  return {line.substr(0, nameEnd), name, rt::TrimEnd(line.substr(nameEnd + 1))};
}

}  // namespace cron
