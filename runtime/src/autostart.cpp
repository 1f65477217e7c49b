// The systemd user unit's text, written and read back on every platform.
#include <algorithm>

#include "runtime/autostart.h"
#include "runtime/codepage.h"
#include "runtime/text.h"

namespace rt {
namespace {

constexpr std::string_view kUnitHead =
    "# Starts the program with the session; written by its --autostart on,\n"
    "# removed by its --autostart off.\n"
    "[Unit]\n";
constexpr std::string_view kUnitMiddle =
    "After=network-online.target\n"
    "\n"
    "[Service]\n"
    "Type=simple\n";
constexpr std::string_view kUnitTail =
    "# End of file on standard input: no console, the program runs headless.\n"
    "StandardInput=null\n"
    "StandardOutput=journal\n"
    "StandardError=journal\n"
    "# \"systemctl --user stop\" sends SIGTERM, which stops it in order.\n"
    "KillSignal=SIGTERM\n"
    "TimeoutStopSec=10\n"
    "Restart=on-failure\n"
    "RestartSec=60\n"
    "\n"
    "[Install]\n"
    "WantedBy=default.target\n";

// "%" starts a specifier wherever it stands.
std::string EscapePercent(std::string_view text) {
  std::string out;
  for (char c : text) {
    out.push_back(c);
    if (c == '%') out.push_back('%');
  }
  return out;
}

// The path as the first word of ExecStart, quoted when it holds a blank or
// ";". systemd refuses a program whose name holds quotes or backslashes,
// controls would end the line and "$" is not literal everywhere: such a
// path is not written at all.
std::optional<std::string> ExecWord(std::string_view path) {
  if (path.empty() || path[0] != '/' || !IsValidUtf8(path)) return std::nullopt;
  const bool unfit = std::any_of(path.begin(), path.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F ||
           std::string_view("$\"'\\").find(c) != std::string_view::npos;
  });
  if (unfit) return std::nullopt;
  const std::string word = EscapePercent(path);
  if (word.find_first_of(" \t;") == std::string::npos) return word;
  return "\"" + word + "\"";
}

// The first word of a command line, unquoted and with its escapes undone.
std::string FirstWord(std::string_view value) {
  std::string word;
  char quote = 0;
  if (!value.empty() && (value[0] == '"' || value[0] == '\'')) {
    quote = value[0];
    value.remove_prefix(1);
  }
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (quote ? c == quote : (c == ' ' || c == '\t')) break;
    if (c == '\\' && i + 1 < value.size()) {
      word.push_back(value[++i]);
      continue;
    }
    word.push_back(c);
  }
  return word;
}

}  // namespace

std::optional<std::string> UserUnitText(std::string_view path, std::string_view title) {
  const auto word = ExecWord(path);
  if (!word) return std::nullopt;
  return JoinTexts(kUnitHead, "Description=", EscapePercent(TextToUtf8(title)), "\n", kUnitMiddle,
                   "ExecStart=", *word, "\n", kUnitTail);
}

std::optional<std::string> UnitExecStart(std::string_view unitText, std::string_view home) {
  constexpr std::string_view kKey = "ExecStart=";
  while (!unitText.empty()) {
    const std::size_t end = std::min(unitText.find('\n'), unitText.size());
    std::string_view line = unitText.substr(0, end);
    unitText.remove_prefix(std::min(end + 1, unitText.size()));
    line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
    if (!line.starts_with(kKey)) continue;
    line.remove_prefix(kKey.size());
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string word = FirstWord(line);
    std::string program;
    for (std::size_t i = 0; i < word.size(); ++i) {
      if (word[i] == '%' && i + 1 < word.size()) {
        const char specifier = word[++i];
        if (specifier == 'h') {
          program += home;
        } else {
          program.push_back('%');
          if (specifier != '%') program.push_back(specifier);
        }
        continue;
      }
      program.push_back(word[i]);
    }
    return program;
  }
  return std::nullopt;
}

}  // namespace rt
