// The fields of an application/x-www-form-urlencoded body as a form parser
// reads them: pairs split at "&", name and value at the first "=", "+" a
// blank, "%" and two hex digits a byte (anything else after "%" kept).
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace app {

inline std::string FormDecode(std::string_view text) {
  const auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
               hex(text[i + 2]) >= 0) {
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Every pair in order, a repeated name too.
inline std::vector<std::pair<std::string, std::string>> FormPairs(std::string_view body) {
  std::vector<std::pair<std::string, std::string>> pairs;
  while (!body.empty()) {
    const std::size_t amp = body.find('&');
    const std::string_view pair = body.substr(0, amp);
    const std::size_t eq = pair.find('=');
    pairs.emplace_back(FormDecode(pair.substr(0, eq)), eq == std::string_view::npos
                                                           ? std::string()
                                                           : FormDecode(pair.substr(eq + 1)));
    body = amp == std::string_view::npos ? std::string_view() : body.substr(amp + 1);
  }
  return pairs;
}

// By name; the last of a repeated name wins.
inline std::map<std::string, std::string> FormFields(std::string_view body) {
  std::map<std::string, std::string> fields;
  for (auto& [name, value] : FormPairs(body)) fields[name] = std::move(value);
  return fields;
}

}  // namespace app
