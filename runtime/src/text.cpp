#include "runtime/text.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace rt {
namespace {

constexpr unsigned char kFullWidthBlank = 0xA1;

bool IsBlankAt(std::string_view t, std::size_t i) {
  if (t[i] == ' ') return true;
  return static_cast<unsigned char>(t[i]) == kFullWidthBlank && i + 1 < t.size() &&
         static_cast<unsigned char>(t[i + 1]) == kFullWidthBlank;
}

// Length of what trimming takes away at t[i] (a character start), or 0.
std::size_t TrimmedAt(std::string_view t, std::size_t i, Blanks what) {
  const char c = t[i];
  if (what == Blanks::kWhitespace && (c == '\t' || c == '\r' || c == '\n')) return 1;
  return IsBlankAt(t, i) ? CharLength(t, i) : 0;
}

// Byte offset where a search from a 1-based start begins: whole characters
// are skipped, so a start inside a character moves past it.
std::size_t StartOffset(std::string_view t, int start) {
  std::size_t pos = 0;
  if (start <= 1) return 0;
  const auto skip = static_cast<std::size_t>(start - 1);
  while (pos < skip && pos < t.size()) pos += CharLength(t, pos);
  return pos;
}

// Knuth-Morris-Pratt search that only reports matches starting on a
// character boundary; linear in the text whatever the pattern. Ignoring
// case compares the folded pattern with the text folded as it is walked;
// both fold by their own character boundaries, which agree wherever a
// match starts on a boundary (folding never moves a byte across 0x80).
class Searcher {
 public:
  Searcher(std::string_view pattern, bool ignoreCase)
      : pattern_(ignoreCase ? LowerLetters(pattern) : std::string(pattern)), fold_(ignoreCase) {
    failure_.assign(pattern_.size() + 1, 0);
    std::size_t k = 0;
    for (std::size_t i = 1; i < pattern_.size(); ++i) {
      while (k > 0 && pattern_[i] != pattern_[k]) k = failure_[k];
      if (pattern_[i] == pattern_[k]) ++k;
      failure_[i + 1] = k;
    }
  }

  // Offset of the first match at or after `from` (which must be a character
  // boundary), or npos.
  std::size_t Find(std::string_view t, std::size_t from) const {
    const std::size_t m = pattern_.size();
    std::size_t boundary = from;  // a character start <= every later candidate
    std::size_t nextChar = from;  // where the character after t[i] starts
    std::size_t k = 0;
    for (std::size_t i = from; i < t.size(); ++i) {
      if (k == 0 && !fold_) {
        const void* hit = std::memchr(t.data() + i, pattern_[0], t.size() - i);
        if (hit == nullptr) return std::string_view::npos;
        i = static_cast<std::size_t>(static_cast<const char*>(hit) - t.data());
      }
      char c = t[i];
      if (fold_) {
        // Without the skip above, i walks every byte: a byte at nextChar
        // starts a character, the ones after a lead byte belong to it.
        if (i == nextChar) {
          nextChar = i + CharLength(t, i);
          c = LowerAscii(c);
        }
      }
      while (k > 0 && c != pattern_[k]) k = failure_[k];
      if (c == pattern_[k]) ++k;
      if (k == m) {
        const std::size_t candidate = i + 1 - m;
        while (boundary < candidate) boundary += CharLength(t, boundary);
        if (boundary == candidate) return candidate;
        k = failure_[k];
      }
    }
    return std::string_view::npos;
  }

 private:
  std::string pattern_;
  bool fold_;
  std::vector<std::size_t> failure_;
};

}  // namespace

int TextLength(std::string_view t) {
  return static_cast<int>(t.size());
}

int CompareTexts(std::string_view a, std::string_view b) {
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int FindText(std::string_view t, std::string_view s, int start, bool ignoreCase) {
  if (t.empty()) return -1;
  if (s.empty()) return 1;
  const std::size_t from = StartOffset(t, start);
  if (from >= t.size()) return -1;
  const std::size_t at = Searcher(s, ignoreCase).Find(t, from);
  return at == std::string_view::npos ? -1 : static_cast<int>(at + 1);
}

std::string ReplaceText(std::string_view t, std::string_view oldText, std::string_view newText,
                        int start, std::optional<int> count, bool caseSensitive) {
  if (t.empty()) return {};
  const std::size_t from = StartOffset(t, start);
  if (from >= t.size() || oldText.empty() || (count && *count < 1)) return std::string(t);
  const Searcher searcher(oldText, !caseSensitive);
  std::string out(t.substr(0, from));
  std::size_t pos = from;
  for (int done = 0; !count || done < *count; ++done) {
    const std::size_t at = searcher.Find(t, pos);
    if (at == std::string_view::npos) break;
    out.append(t.substr(pos, at - pos)).append(newText);
    pos = at + oldText.size();
  }
  out.append(t.substr(pos));
  return out;
}

std::vector<std::string> SplitText(std::string_view t, std::string_view sep,
                                   std::optional<int> count) {
  std::vector<std::string> parts;
  if ((count && *count < 1) || t.empty()) return parts;
  if (sep.empty()) {
    parts.emplace_back(t);
    return parts;
  }
  const Searcher searcher(sep, false);
  std::size_t pos = 0;
  bool exhausted = false;
  while (!count || static_cast<int>(parts.size()) < *count) {
    const std::size_t at = searcher.Find(t, pos);
    if (at == std::string_view::npos) {
      exhausted = true;
      break;
    }
    parts.emplace_back(t.substr(pos, at - pos));
    pos = at + sep.size();
  }
  if (exhausted && pos < t.size()) parts.emplace_back(t.substr(pos));
  return parts;
}

std::string LeftPart(std::string_view t, int n) {
  if (n < 1) return {};
  return std::string(t.substr(0, static_cast<std::size_t>(n)));
}

std::string RightPart(std::string_view t, int n) {
  if (n < 1) return {};
  const auto k = std::min(t.size(), static_cast<std::size_t>(n));
  return std::string(t.substr(t.size() - k));
}

std::string MiddlePart(std::string_view t, int start, int n) {
  if (start < 1 || n < 1 || static_cast<std::size_t>(start) > t.size()) return {};
  return std::string(t.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(n)));
}

std::string_view TrimStart(std::string_view t, Blanks what) {
  std::size_t first = 0;
  for (std::size_t n; first < t.size() && (n = TrimmedAt(t, first, what)) > 0;) first += n;
  return t.substr(first);
}

std::string_view TrimEnd(std::string_view t, Blanks what) {
  std::size_t end = 0;  // one past the last character that stays
  for (std::size_t i = 0; i < t.size();) {
    const std::size_t len = CharLength(t, i);
    if (TrimmedAt(t, i, what) == 0) end = i + len;
    i += len;
  }
  return t.substr(0, end);
}

std::string TrimText(std::string_view t) {
  return std::string(TrimEnd(TrimStart(t)));
}

std::string PrintableText(std::string_view t) {
  std::string out;
  out.reserve(t.size());
  // Byte by byte: a control character after a stray lead byte is caught too.
  for (const char c : t) {
    if (c == '\t' || c == '\r' || c == '\n') {
      out += ' ';
    } else {
      out += IsControlByte(c) ? '?' : c;
    }
  }
  return out;
}

std::string ShownText(std::string_view t, std::size_t maxBytes) {
  const std::string_view shown = TextPrefix(t, maxBytes);
  std::string out = PrintableText(shown);
  if (shown.size() < t.size()) out += "...";
  return out;
}

std::string_view TextPrefix(std::string_view t, std::size_t maxBytes) {
  if (t.size() <= maxBytes) return t;
  std::size_t end = 0;
  while (end < t.size()) {
    const std::size_t len = CharLength(t, end);
    if (end + len > maxBytes) break;
    end += len;
  }
  return t.substr(0, end);
}

std::string RemoveAllBlanks(std::string_view t) {
  std::string out;
  out.reserve(t.size());
  for (std::size_t i = 0; i < t.size();) {
    const std::size_t len = CharLength(t, i);
    if (!IsBlankAt(t, i)) out.append(t.substr(i, len));
    i += len;
  }
  return out;
}

std::string UpperCase(std::string_view t) {
  std::string out(t);
  for (std::size_t i = 0; i < out.size();) {
    const std::size_t len = CharLength(out, i);
    if (len == 1) out[i] = UpperAscii(out[i]);
    i += len;
  }
  return out;
}

std::string LowerLetters(std::string_view t) {
  std::string out(t);
  for (std::size_t i = 0; i < out.size(); i += CharLength(out, i)) out[i] = LowerAscii(out[i]);
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  // Equal bytes at a character start give the same character length, so
  // both texts are walked on the same boundaries.
  for (std::size_t i = 0; i < a.size();) {
    const std::size_t length = CharLength(a, i);
    if (length > 1) {
      if (a.compare(i, length, b, i, length) != 0) return false;
    } else if (LowerAscii(a[i]) != LowerAscii(b[i])) {
      return false;
    }
    i += length;
  }
  return true;
}

int CharCode(std::string_view t, int position) {
  if (position < 1 || static_cast<std::size_t>(position) > t.size()) return 0;
  return static_cast<signed char>(t[static_cast<std::size_t>(position - 1)]);
}

DigitRun ReadDigits(std::string_view t, std::size_t pos, int base, std::size_t maxDigits) {
  DigitRun run;
  for (; pos + run.length < t.size() && run.length < maxDigits; ++run.length) {
    const char c = LowerAscii(t[pos + run.length]);
    const int d = IsAsciiDigit(c) ? c - '0' : c >= 'a' && c <= 'z' ? c - 'a' + 10 : base;
    if (d >= base) break;
    if (run.value > (std::numeric_limits<std::int64_t>::max() - d) / base) {
      run.overflowed = true;
    } else {
      run.value = run.value * base + d;
    }
  }
  return run;
}

std::optional<std::int64_t> ParseDecimal(std::string_view t) {
  const DigitRun run = ReadDigits(t, 0, 10);
  if (run.length == 0 || run.length < t.size() || run.overflowed) return std::nullopt;
  return run.value;
}

}  // namespace rt
