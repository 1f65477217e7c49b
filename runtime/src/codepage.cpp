#include "runtime/codepage.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "codepage_internal.h"

namespace rt {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t cp) {
  return cp >= 0xD800 && cp <= 0xDFFF;
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at s[i]; on a malformed sequence returns false
// and sets `next` past its maximal valid prefix (at least one byte).
bool DecodeOne(std::string_view s, std::size_t i, char32_t& cp, std::size_t& next) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  next = i + 1;
  if (b0 < 0x80) {
    cp = b0;
    return true;
  }
  int need = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return false;
  }
  for (int k = 0; k < need; ++k) {
    if (next >= s.size()) return false;
    const auto b = static_cast<unsigned char>(s[next]);
    if (b < lo || b > hi) return false;
    cp = (cp << 6) | (b & 0x3F);
    ++next;
    lo = 0x80;
    hi = 0xBF;
  }
  return true;
}

// What the platform and the tables say is kept per character: asking the
// platform once per character is cheap, asking it per occurrence is not.

// The unit of each pair (lead - 0x81) << 8 | trail: 0 not yet known.
constexpr char16_t kNoUnit = 0xFFFF;
std::atomic<char16_t> gPairUnit[126 << 8];
// The units of the bytes 0x80 and 0xFF on their own.
std::atomic<char16_t> gHighUnit[2];

char16_t Cached(std::atomic<char16_t>& slot, char16_t (*find)(const unsigned char*),
                const unsigned char* bytes) {
  char16_t known = slot.load(std::memory_order_relaxed);
  if (known == 0) {
    known = find(bytes);
    if (known == 0) known = kNoUnit;
    slot.store(known, std::memory_order_relaxed);
  }
  return known;
}

char16_t FindPairUnit(const unsigned char* pair) {
  const char16_t unit = codepage::PlatformUnitOf(pair, 2);
  return unit != 0 ? unit : codepage::PrivateUseUnitOf(pair[0], pair[1]);
}

char16_t FindHighUnit(const unsigned char* byte) {
  return codepage::PlatformUnitOf(byte, 1);
}

bool IsLead(unsigned char b) {
  return b >= 0x81 && b <= 0xFE;
}
bool IsDigit(unsigned char b) {
  return b >= 0x30 && b <= 0x39;
}

char32_t FourByteChar(const unsigned char* code) {
  const std::uint32_t number = codepage::FourByteNumber(code);
  if (number < codepage::kBasicFourByteCount) return codepage::BasicUnitOfNumber(number);
  const std::uint32_t plane = number - codepage::kSupplementaryBase;
  return number >= codepage::kSupplementaryBase && plane < 0x100000 ? 0x10000 + plane : U'?';
}

// The character at t[i], moving i past it. Bytes that stand for none give
// "?": a lead byte alone, and the byte after it is read again on its own.
char32_t ReadChar(std::string_view t, std::size_t& i) {
  const auto* p = reinterpret_cast<const unsigned char*>(t.data()) + i;
  const std::size_t left = t.size() - i;
  if (p[0] < 0x80) {
    ++i;
    return p[0];
  }
  if (!IsLead(p[0])) {
    ++i;
    const char16_t unit = Cached(gHighUnit[p[0] == 0xFF], FindHighUnit, p);
    return unit == kNoUnit ? U'?' : unit;
  }
  if (left >= 4 && IsDigit(p[1]) && IsLead(p[2]) && IsDigit(p[3])) {
    i += 4;
    return FourByteChar(p);
  }
  if (left >= 2 && p[1] >= 0x40 && p[1] != 0x7F && p[1] != 0xFF) {
    const char16_t unit = Cached(gPairUnit[(p[0] - 0x81) << 8 | p[1]], FindPairUnit, p);
    if (unit != kNoUnit) {
      i += 2;
      return unit;
    }
  }
  ++i;
  return U'?';
}

// The code of each unit of the basic plane: 0 not yet known, else its kind
// in the high byte and the byte, the pair or the four-byte number below.
constexpr std::uint32_t kOneByte = 1u << 24, kTwoBytes = 2u << 24, kFourBytes = 3u << 24;
constexpr std::uint32_t kNoCode = 4u << 24;
std::atomic<std::uint32_t> gUnitCode[0x10000];

std::uint32_t FindUnitCode(char16_t unit) {
  unsigned char bytes[2];
  const int n = codepage::PlatformBytesOf(unit, bytes);
  if (n == 1) return kOneByte | bytes[0];
  if (n == 2) return kTwoBytes | bytes[0] << 8 | bytes[1];
  if (const std::uint16_t pair = codepage::PrivateUsePairOf(unit)) return kTwoBytes | pair;
  const int number = codepage::NumberOfBasicUnit(unit);
  return number >= 0 ? kFourBytes | static_cast<std::uint32_t>(number) : kNoCode;
}

void AppendFourBytes(std::string& out, std::uint32_t number) {
  unsigned char code[4];
  codepage::FourByteCode(number, code);
  out.append(reinterpret_cast<const char*>(code), 4);
}

void AppendChar(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
    return;
  }
  if (cp >= 0x10000) {
    AppendFourBytes(out, codepage::kSupplementaryBase + (cp - 0x10000));
    return;
  }
  if (IsSurrogate(cp)) {
    out.push_back('?');
    return;
  }
  auto& slot = gUnitCode[cp];
  std::uint32_t code = slot.load(std::memory_order_relaxed);
  if (code == 0) {
    code = FindUnitCode(static_cast<char16_t>(cp));
    slot.store(code, std::memory_order_relaxed);
  }
  switch (code & 0xFF000000u) {
    case kOneByte:
      out.push_back(static_cast<char>(code & 0xFF));
      break;
    case kTwoBytes:
      out.push_back(static_cast<char>(code >> 8 & 0xFF));
      out.push_back(static_cast<char>(code & 0xFF));
      break;
    case kFourBytes:
      AppendFourBytes(out, code & 0xFFFFFF);
      break;
    default:
      out.push_back('?');
  }
}

// The code point at s[i] (U+FFFD for a malformed sequence), moving i past it.
char32_t ReadUtf8(std::string_view s, std::size_t& i) {
  char32_t cp = 0;
  std::size_t next = 0;
  const bool ok = DecodeOne(s, i, cp, next);
  i = next;
  return ok ? cp : kReplacement;
}

// The code point at w[i] (a lone surrogate stays one), moving i past it.
char32_t ReadWide(std::u16string_view w, std::size_t& i) {
  const char32_t unit = w[i++];
  if (unit >= 0xD800 && unit <= 0xDBFF && i < w.size() && w[i] >= 0xDC00 && w[i] <= 0xDFFF) {
    return 0x10000 + ((unit - 0xD800) << 10) + (w[i++] - 0xDC00);
  }
  return unit;
}

}  // namespace

namespace {

// Every conversion is one walk: read a character of `in`, append it to the
// output in the other form.
template <class Out, class In, class Read, class Append>
Out Recode(In in, std::size_t reserve, Read read, Append append) {
  Out out;
  out.reserve(reserve);
  for (std::size_t i = 0; i < in.size();) append(out, read(in, i));
  return out;
}

}  // namespace

std::u16string Utf8ToWide(std::string_view utf8) {
  return Recode<std::u16string>(utf8, utf8.size(), ReadUtf8, AppendUtf16);
}

std::string WideToUtf8(std::u16string_view wide) {
  // A lone surrogate is no character: U+FFFD, as the platforms make it.
  return Recode<std::string>(
      wide, wide.size() * 3,
      [](std::u16string_view w, std::size_t& i) {
        const char32_t cp = ReadWide(w, i);
        return IsSurrogate(cp) ? kReplacement : cp;
      },
      AppendUtf8);
}

std::u16string TextToWide(std::string_view text) {
  return Recode<std::u16string>(text, text.size(), ReadChar, AppendUtf16);
}

std::string WideToText(std::u16string_view wide) {
  return Recode<std::string>(wide, wide.size() * 2, ReadWide, AppendChar);
}

std::string TextToUtf8(std::string_view text) {
  return Recode<std::string>(text, text.size() + text.size() / 2, ReadChar, AppendUtf8);
}

std::string Utf8ToText(std::string_view utf8) {
  // Plain ASCII, the usual console line, is the same in both.
  const bool ascii = std::all_of(utf8.begin(), utf8.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) return std::string(utf8);
  return Recode<std::string>(utf8, utf8.size(), ReadUtf8, AppendChar);
}

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    std::size_t next = 0;
    if (!DecodeOne(bytes, i, cp, next)) return false;
    i = next;
  }
  return true;
}

std::string Utf16BytesToText(std::span<const std::uint8_t> bytes, bool littleEndian) {
  std::u16string wide;
  wide.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const unsigned first = bytes[i], second = bytes[i + 1];
    const auto unit =
        static_cast<char16_t>(littleEndian ? first | second << 8 : first << 8 | second);
    if (unit == 0) break;
    wide += unit;
  }
  return WideToText(wide);
}

}  // namespace rt
