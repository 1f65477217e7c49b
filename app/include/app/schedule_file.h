// The two files beside the program: weskey.txt (the key) and time.txt (the
// schedule), read from whatever encoding an editor saved them in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/file.h"

namespace app {

inline constexpr std::string_view kKeyFile = "weskey.txt";
inline constexpr std::string_view kScheduleFile = "time.txt";
inline constexpr std::uint64_t kMaxScheduleBytes = 1 << 20;
// kMaxScheduleBytes as the console says it, "1 MiB".
std::string ScheduleLimitText();

inline constexpr std::string_view kDefaultScheduleLine =
    "1 1 8,10,11,12,13,14,15,17,19,21,22,23 * * * * 定时提醒";

// File contents as text: UTF-16 with a byte-order mark (either order) is
// converted; otherwise a UTF-8 byte-order mark is dropped, valid UTF-8
// holding non-ASCII bytes is converted, anything else is code page 936; the
// text ends at the first zero.
std::string FileText(const rt::Bytes& bytes);
// The key without the blanks (full-width ones too), tabs and line ends
// around it.
std::string KeyFromFileText(std::string_view text);
// The task lines of a schedule file: every line but blank ones and comments
// (the first non-blank character is "#"), as the program takes them
// (TaskLine::Text: blanks at the end dropped), so that lines equal in that
// form are one task.
std::vector<std::string> TaskLines(std::string_view text);
// The task lines, or the default line when there are none.
std::vector<std::string> ScheduleLines(std::string_view text);

}  // namespace app
