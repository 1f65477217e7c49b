#include "web/reply_text.h"

#include <algorithm>
#include <optional>

#include "runtime/codepage.h"

namespace web {
namespace {

// "’" in code page 936: stands in for the apostrophe while decoding, so the
// text cannot end the string literal early.
constexpr std::string_view kQuoteStandIn = "\xA1\xAF";
constexpr std::string_view kLineBreakStandIn = "{$}";

bool IsLineTerminator(char16_t c) {
  return c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029;
}

std::optional<unsigned> HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return static_cast<unsigned>(c - u'0');
  if (c >= u'a' && c <= u'f') return static_cast<unsigned>(c - u'a' + 10);
  if (c >= u'A' && c <= u'F') return static_cast<unsigned>(c - u'A' + 10);
  return std::nullopt;
}

// Value of count hex digits at s[i], if they are all there.
std::optional<char16_t> HexRun(std::u16string_view s, std::size_t i, std::size_t count) {
  if (i + count > s.size()) return std::nullopt;
  unsigned v = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const auto d = HexValue(s[i + k]);
    if (!d) return std::nullopt;
    v = v * 16 + *d;
  }
  return static_cast<char16_t>(v);
}

// What "\b", "\f", "\n", "\r", "\t" and "\v" stand for.
std::optional<char16_t> SingleCharacterEscape(char16_t letter) {
  constexpr std::u16string_view kLetters = u"bfnrtv";
  constexpr std::u16string_view kMeanings = u"\b\f\n\r\t\v";
  const std::size_t at = kLetters.find(letter);
  if (at == std::u16string_view::npos) return std::nullopt;
  return kMeanings[at];
}

// The body of a single-quoted script string literal, evaluated. Where the
// script engine would refuse the literal (a line break inside it, a backslash
// escaping the closing quote), the characters are kept as they stand.
std::u16string EvaluateLiteral(std::u16string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const char16_t c = s[i];
    if (c != u'\\' || i + 1 >= s.size()) {
      out += c;
      ++i;
      continue;
    }
    const char16_t e = s[i + 1];
    i += 2;
    if (const auto meaning = SingleCharacterEscape(e)) {
      out += *meaning;
    } else if (e == u'x' || e == u'u') {
      // "\xHH" and "\uHHHH"; without all their digits, the letter itself.
      const std::size_t digits = e == u'x' ? 2 : 4;
      if (const auto v = HexRun(s, i, digits)) {
        out += *v;
        i += digits;
      } else {
        out += e;
      }
    } else if (e >= u'0' && e <= u'7') {
      // Legacy octal escape: up to three digits, at most 0377.
      unsigned v = static_cast<unsigned>(e - u'0');
      const std::size_t maxMore = e <= u'3' ? 2 : 1;
      for (std::size_t k = 0; k < maxMore && i < s.size() && s[i] >= u'0' && s[i] <= u'7';
           ++k, ++i) {
        v = v * 8 + static_cast<unsigned>(s[i] - u'0');
      }
      out += static_cast<char16_t>(v);
    } else if (IsLineTerminator(e)) {
      // Line continuation.
      if (e == u'\r' && i < s.size() && s[i] == u'\n') ++i;
    } else {
      out += e;
    }
  }
  return out;
}

// The script engine's unescape: "%uXXXX" and "%XX"; anything else as is.
std::u16string Unescape(std::u16string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    if (s[i] == u'%') {
      if (i + 1 < s.size() && s[i + 1] == u'u') {
        if (const auto v = HexRun(s, i + 2, 4)) {
          out += *v;
          i += 6;
          continue;
        }
      }
      if (const auto v = HexRun(s, i + 1, 2)) {
        out += *v;
        i += 3;
        continue;
      }
    }
    out += s[i++];
  }
  return out;
}

// A text ends at its first zero.
std::string UpToZero(std::string text) {
  const std::size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

}  // namespace

std::string Utf8ToGbk(const rt::Bytes& bytes) {
  if (bytes.empty()) return {};
  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  const std::string_view utf8(reinterpret_cast<const char*>(bytes.data()),
                              static_cast<std::size_t>(end - bytes.begin()));
  return rt::Utf8ToText(utf8);
}

std::string DecodeUnicodeEscapes(std::string_view text) {
  std::string prepared = rt::ReplaceText(text, "\r\n", kLineBreakStandIn);
  if (!prepared.empty() && prepared[0] == '\r') prepared.erase(0, 1);
  prepared = rt::ReplaceText(prepared, "\\u", "%u");
  prepared = rt::ReplaceText(prepared, "'", kQuoteStandIn);

  // A decoded zero ends the text; an empty result stays empty (reading the
  // bytes another way would only make mojibake).
  std::string result =
      UpToZero(rt::WideToText(Unescape(EvaluateLiteral(rt::TextToWide(prepared)))));
  result = rt::ReplaceText(result, kQuoteStandIn, "'");
  return rt::ReplaceText(result, kLineBreakStandIn, "\r\n");
}

std::string StreamTextFromBytes(const rt::Bytes& bytes) {
  const bool mark = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
  return rt::Utf16BytesToText(std::span(bytes).subspan(mark ? 2 : 0), true);
}

}  // namespace web
