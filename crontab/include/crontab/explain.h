// Why the scheduler refuses a line, in the words its users read: one
// routine for the console at start and reload, --check and crontab-next.
// Pure functions: any thread (a LocalZone, as ever, one to a thread).
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crontab/schedule.h"

namespace cron {

// A refused line's fault in Chinese ("第 2 项(分) \"60\": 60 超出范围 0-59"),
// pieces of the line shown as rt::ShownText does (kShownPieceBytes at most).
std::string RefusalText(const Refusal& refusal);

// A name refused because an earlier task's name folds like it.
std::string DuplicateNameText(std::string_view name, std::string_view earlierName);

inline constexpr std::size_t kNoLine = static_cast<std::size_t>(-1);

struct LineVerdict {
  bool accepted = false;
  std::optional<Refusal> refusal;  // refused for its form
  std::size_t earlier = kNoLine;   // refused for its name: the accepted line it clashes with
  std::string reason;  // RefusalText, DuplicateNameText or kNeverFiresText; "" when accepted
};

// What the scheduler makes of these lines given together (crontab_Replace,
// or crontab_Add one by one on an empty scheduler): per line, accepted or
// why not, in the lines' order. The first line of a name wins; names clash
// when equal once ASCII letters are folded.
std::vector<LineVerdict> JudgeLines(std::span<const std::string> lines, int currentYear);

// What a running program installs from these lines at `now`: the verdicts
// above, and a line that never fires after `now` (a date no calendar has, a
// year gone by) is refused too, with kNeverFiresText, and takes no name.
// now.year serves as currentYear.
std::vector<LineVerdict> JudgeLines(std::span<const std::string> lines, const rt::SystemTime& now,
                                    const LocalZone& zone);
inline constexpr std::string_view kNeverFiresText =
    "以后不会再触发 (日期不存在或年份已过)，这一行没有用";

// A time.txt line cut where the scheduler's part ends: seven time fields and
// a name, then the task's own message after one blank, trailing blanks (the
// full-width one too) dropped. Without message text, the blanks after a name
// are dropped as well; a line without a name is kept whole, for the
// scheduler to judge as written.
// The parts are views into the line, which must outlive them.
struct TaskLineParts {
  std::string_view schedule;
  std::string_view name;     // its eighth item ("" when it has fewer)
  std::string_view message;  // "" for none
};
TaskLineParts SplitTaskLine(std::string_view line);

// How much of a piece of a line a refusal quotes (rt::ShownText).
inline constexpr std::size_t kShownPieceBytes = 60;

}  // namespace cron
