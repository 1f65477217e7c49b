#include "web/header_text.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace web {

namespace {

// Byte offset of the first `what` in text, or npos.
std::size_t Find(std::string_view text, std::string_view what, HeaderBytes bytes) {
  if (bytes == HeaderBytes::kWire) return text.find(what);
  const int p = rt::FindText(text, what);
  return p < 1 ? std::string_view::npos : static_cast<std::size_t>(p - 1);
}

}  // namespace

HeaderLine SplitHeaderLine(std::string_view line, HeaderBytes bytes) {
  const std::size_t colon = Find(line, ":", bytes);
  if (colon == std::string_view::npos) return {line, {}, {}, false};
  return {line, line.substr(0, colon), line.substr(colon + 1), true};
}

std::vector<HeaderLine> ScanHeaderLines(std::string_view block, HeaderBytes bytes) {
  std::vector<HeaderLine> lines;
  while (!block.empty()) {
    // Searched in what is left: it starts at a character boundary.
    const std::size_t end = std::min(Find(block, "\r\n", bytes), block.size());
    lines.push_back(SplitHeaderLine(block.substr(0, end), bytes));
    block.remove_prefix(std::min(end + 2, block.size()));
  }
  return lines;
}

std::string NormalizeHeaderCase(std::string_view headers) {
  std::string result;
  for (const HeaderLine& h : ScanHeaderLines(headers)) {
    if (!h.hasColon) continue;
    const std::string_view line = h.line;
    const std::string_view name = h.name;
    std::string newName;
    if (rt::FindText(name, "-") > 0) {
      const std::vector<std::string> words = rt::SplitText(name, "-");
      for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) newName += '-';
        newName += CapitalizeFirst(words[i]);
      }
    } else {
      newName = CapitalizeFirst(name);
    }
    // The rest is counted from the end, so a trailing "-" the split dropped
    // stays part of the line.
    result += newName;
    result += rt::RightPart(line, static_cast<int>(line.size() - newName.size()));
    result += "\r\n";
  }
  if (result.size() >= 2) result.resize(result.size() - 2);
  return result;
}

std::string CapitalizeFirst(std::string_view text) {
  std::string out(text);
  if (!out.empty()) out[0] = rt::UpperAscii(out[0]);
  return out;
}

std::string NormalizeLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      out += "\r\n";
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += c;
    }
  }
  return out;
}

std::string HeaderName(std::string_view line) {
  return rt::TrimText(SplitHeaderLine(line).name);
}

std::string HeaderValue(std::string_view line) {
  return rt::TrimText(SplitHeaderLine(line).value);
}

std::string TextBefore(std::string_view text, std::string_view separator, std::optional<int> start,
                       bool ignoreCase) {
  const int from = start && *start >= 1 ? *start : 1;
  const int p = rt::FindText(text, separator, from, ignoreCase);
  if (p < 1) return {};
  return std::string(text.substr(0, static_cast<std::size_t>(p - 1)));
}

std::string TextBetween(std::string_view text, std::string_view left, std::string_view right,
                        std::optional<int> start, bool ignoreCase) {
  const int from = start && *start >= 1 ? *start : 1;
  const int p = rt::FindText(text, left, from, ignoreCase);
  if (p < 1) return {};
  const int q = p + static_cast<int>(left.size());
  const int r = rt::FindText(text, right, q, ignoreCase);
  if (r < q) return {};
  return std::string(text.substr(static_cast<std::size_t>(q - 1), static_cast<std::size_t>(r - q)));
}

namespace {
constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}  // namespace

std::string Base64Encode(const rt::Bytes& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v =
        (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const std::size_t left = bytes.size() - i;
  if (left > 0) {
    std::uint32_t v = std::uint32_t{bytes[i]} << 16;
    if (left == 2) v |= std::uint32_t{bytes[i + 1]} << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += left == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::optional<rt::Bytes> Base64Decode(std::string_view text) {
  while (text.ends_with('=')) text.remove_suffix(1);
  rt::Bytes out;
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    const std::size_t digit = kAlphabet.find(c);
    if (digit == std::string_view::npos) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(digit);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<std::uint8_t>(bits >> count));
    }
  }
  return out;
}

std::string CookieName(std::string_view cookie) {
  const int eq = rt::FindText(cookie, "=");
  if (eq < 1) return rt::TrimText(cookie);
  return rt::TrimText(cookie.substr(0, static_cast<std::size_t>(eq - 1)));
}

std::string RemoveDuplicateItems(std::string_view text, std::string_view separator) {
  const std::vector<std::string> items = rt::SplitText(text, separator);
  std::unordered_set<std::string_view> seen;
  seen.reserve(items.size());
  std::string out;
  bool first = true;
  for (const std::string& item : items) {
    if (!seen.insert(item).second) continue;
    if (!first) out += separator;
    out += item;
    first = false;
  }
  return out;
}

std::string MergeCookies(std::string& sent, std::string& returned) {
  sent = rt::RemoveAllBlanks(sent);
  returned = rt::RemoveAllBlanks(returned);
  const std::vector<std::string> sentItems = rt::SplitText(sent, ";");
  std::vector<std::string> items = rt::SplitText(returned, ";");
  // Names in a hash set: thousands of cookies merge in linear time.
  std::unordered_set<std::string> returnedNames;
  returnedNames.reserve(items.size() + sentItems.size());
  for (const std::string& r : items) returnedNames.insert(CookieName(r));
  for (const std::string& s : sentItems) {
    if (returnedNames.insert(CookieName(s)).second) items.push_back(s);
  }
  std::string merged;
  for (const std::string& item : items) {
    if (item.size() >= 8 && item.compare(item.size() - 8, 8, "=deleted") == 0) continue;
    merged += item;
    merged += "; ";
  }
  if (merged.size() >= 2) merged.resize(merged.size() - 2);
  sent = RemoveDuplicateItems(merged, "; ");
  return sent;
}

}  // namespace web
