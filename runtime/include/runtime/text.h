// Text services on the program's texts (GB18030: code page 936 and beyond).
//
// A byte from 0x81 to 0xFE leads a character: of four bytes when a digit,
// a lead byte and a digit follow it, else of two, together with the byte
// after it. Searches never match from inside a character. Positions and
// lengths count bytes; positions are 1-based and -1 means "not found". An
// absent text is the empty text. Pure functions: any thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rt {

using Bytes = std::vector<std::uint8_t>;

inline bool IsAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}

// 0x80 (the euro sign in code page 936) and 0xFF stand alone.
inline bool IsLeadByte(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b >= 0x81 && b <= 0xFE;
}

// Length of the character starting at t[i]: 4 for a lead byte, a digit, a
// lead byte and a digit; 2 for a lead byte and another byte; otherwise 1 (a
// lone lead byte at the end counts as 1).
inline std::size_t CharLength(std::string_view t, std::size_t i) {
  if (!IsLeadByte(t[i]) || i + 1 >= t.size()) return 1;
  if (IsAsciiDigit(t[i + 1]) && i + 3 < t.size() && IsLeadByte(t[i + 2]) &&
      IsAsciiDigit(t[i + 3])) {
    return 4;
  }
  return 2;
}

// The length in bytes, not characters.
int TextLength(std::string_view t);

// The texts (anything a string_view takes) one after another, in one
// allocation.
template <class... Texts>
std::string JoinTexts(const Texts&... texts) {
  std::string out;
  out.reserve((std::string_view(texts).size() + ... + 0));
  (out.append(std::string_view(texts)), ...);
  return out;
}

// -1, 0 or 1, comparing bytes as unsigned values.
int CompareTexts(std::string_view a, std::string_view b);

// Position of the first match of s at or after start (a start inside a
// character moves past it), or -1; ignoreCase folds ASCII letters only. An
// empty s in a non-empty t is found at 1, whatever start. Linear in t.
int FindText(std::string_view t, std::string_view s, int start = 1, bool ignoreCase = false);

// The text with the matches of oldText from start on replaced by newText,
// the part before start kept. count: at most that many replacements
// (nullopt: all). An empty oldText, a count below 1 or a start past the end
// leaves the text as it is. Note caseSensitive, where FindText has ignoreCase.
std::string ReplaceText(std::string_view t, std::string_view oldText, std::string_view newText = {},
                        int start = 1, std::optional<int> count = std::nullopt,
                        bool caseSensitive = true);

// The pieces between separators. Empty pieces between separators stay; an
// empty last piece is dropped; an empty t gives none, an empty sep the whole
// text. count: at most that many pieces, the rest of the text dropped (below
// 1: none).
std::vector<std::string> SplitText(std::string_view t, std::string_view sep = ",",
                                   std::optional<int> count = std::nullopt);

// The first n bytes, the last n, or n from the 1-based start: "" for n below
// 1 (or a start outside the text). These may cut a character.
std::string LeftPart(std::string_view t, int n);
std::string RightPart(std::string_view t, int n);
std::string MiddlePart(std::string_view t, int start, int n);

// What trimming takes away: blanks (the half-width one and the full-width
// A1 A1), or blanks, tabs and line ends as well.
enum class Blanks { kBlanks, kWhitespace };
// The text without what leads it, or what ends it: a view into t.
std::string_view TrimStart(std::string_view t, Blanks what = Blanks::kBlanks);
std::string_view TrimEnd(std::string_view t, Blanks what = Blanks::kBlanks);
// Removes blanks at both ends.
std::string TrimText(std::string_view t);
// The text as it may safely reach a terminal, on one line: tabs, CR and LF
// become blanks, other control characters "?" (so a text from outside can
// neither move the cursor nor start a line that looks like the program's).
std::string PrintableText(std::string_view t);
// At most maxBytes of the text, cut before a character rather than through
// it: a view into t.
std::string_view TextPrefix(std::string_view t, std::size_t maxBytes);
// A text from outside as the console shows it: PrintableText of at most
// maxBytes of it, cut on a character boundary, "..." where it was cut.
std::string ShownText(std::string_view t, std::size_t maxBytes);
// The text without any blank, half- or full-width (tabs and line ends stay).
std::string RemoveAllBlanks(std::string_view t);
// ASCII letters upper-cased, read on character boundaries as LowerLetters.
std::string UpperCase(std::string_view t);
// A C0 control or DEL: what never reaches a terminal, a log field or the
// wire as it is.
inline bool IsControlByte(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b < 0x20 || b == 0x7F;
}
// "%XX", upper-case hex: the one percent form of a byte (addresses, forms,
// escaped task names).
inline void AppendPercentByte(std::string& out, unsigned char b) {
  constexpr char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[b >> 4];
  out += kHex[b & 15];
}
// ASCII letter case: the one folding every layer uses (header and member
// names, task names, URL schemes and hosts).
inline char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
inline char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
// ASCII letters lowered, read on character boundaries: the bytes after a
// lead byte stay as they are.
std::string LowerLetters(std::string_view t);
// Equal when ASCII letters are folded as LowerLetters does; allocates nothing.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// The byte at a 1-based position as a signed 8-bit value; 0 outside the text.
int CharCode(std::string_view t, int position = 1);

// printf-style formatting into a text of exactly the needed length; "" for
// empty output or an encoding error. The format must suit the arguments.
template <class... Args>
std::string FormatText(const char* format, Args... args) {
  const int n = std::snprintf(nullptr, 0, format, args...);
  if (n <= 0) return {};
  std::string text(static_cast<std::size_t>(n), '\0');
  (void)std::snprintf(text.data(), text.size() + 1, format, args...);
  return text;
}

// The digits of a base (2 to 16; letters in either case) at t[pos], at
// most maxDigits of them: their value and how many there were (0: none).
// overflowed: the value passed 2^63 - 1 and stopped growing.
struct DigitRun {
  std::int64_t value = 0;
  std::size_t length = 0;
  bool overflowed = false;
};
DigitRun ReadDigits(std::string_view t, std::size_t pos, int base,
                    std::size_t maxDigits = std::string_view::npos);

// Reads a whole decimal number ("123", no sign, no blanks); nullopt on any
// other text or on overflow.
std::optional<std::int64_t> ParseDecimal(std::string_view t);

}  // namespace rt
