// Conversions between the program's texts, UTF-16 and UTF-8.
//
// The program's texts are GB18030: code page 936's one- and two-byte codes
// (every code page 936 text is one as it is) and a four-byte code for every
// other character, so a round trip through them loses nothing. Malformed
// UTF-8 becomes U+FFFD, one for each maximal ill-formed piece, as the
// platform conversions make it. A lone surrogate becomes "?" in a text and
// U+FFFD in UTF-8; bytes of a text that stand for no character become "?".
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace rt {

// Each conversion takes any bytes and never fails: what stands for no
// character is replaced as said above. Pure functions: any thread.
std::u16string TextToWide(std::string_view text);
std::string WideToText(std::u16string_view wide);
std::u16string Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::u16string_view wide);

std::string TextToUtf8(std::string_view text);
std::string Utf8ToText(std::string_view utf8);

// UTF-16 bytes, in either byte order, as text up to the first zero unit
// (an odd last byte is dropped; a byte-order mark is not looked for).
std::string Utf16BytesToText(std::span<const std::uint8_t> bytes, bool littleEndian);

// True when the bytes are well-formed UTF-8: no overlong form, surrogate or
// code point past U+10FFFF. The empty text is.
bool IsValidUtf8(std::string_view bytes);

}  // namespace rt
