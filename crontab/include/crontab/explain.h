// Why the scheduler refuses a line, in the words its users read: one
// routine for the console at start and reload, --check and crontab-next.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crontab/schedule.h"

namespace cron {

// A refused line's fault in Chinese ("第 2 项(分) \"60\": 60 超出范围 0-59").
std::string RefusalText(const Refusal& refusal);

// A name refused because an earlier task's name folds like it.
std::string DuplicateNameText(std::string_view name, std::string_view earlierName);

inline constexpr std::size_t kNoLine = static_cast<std::size_t>(-1);

struct LineVerdict {
  bool accepted = false;
  std::optional<Refusal> refusal;  // refused for its form
  std::size_t earlier = kNoLine;   // refused for its name: the accepted line it clashes with
  std::string reason;              // RefusalText or DuplicateNameText; "" when accepted
};

// What the scheduler makes of these lines given together (crontab_Replace,
// or crontab_Add one by one on an empty scheduler): per line, accepted or
// why not. The first line of a name wins; names clash when equal once ASCII
// letters are folded.
std::vector<LineVerdict> JudgeLines(std::span<const std::string> lines, int currentYear);

// A text from outside made fit for one console line: control characters
// become "?", and past maxBytes it is cut on a character boundary, "..." added.
std::string ShownPiece(std::string_view text, std::size_t maxBytes = 60);

}  // namespace cron
