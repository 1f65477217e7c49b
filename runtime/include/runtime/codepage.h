// Conversions between code page 936, UTF-16 and UTF-8.
//
// They behave like the platform conversions without flags: malformed UTF-8
// becomes U+FFFD, a character code page 936 cannot hold becomes "?", an
// undecodable code page 936 byte becomes U+003F.
#pragma once

#include <string>
#include <string_view>

namespace rt {

std::u16string GbkToWide(std::string_view gbk);
std::string WideToGbk(std::u16string_view wide);
std::u16string Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::u16string_view wide);

inline std::string GbkToUtf8(std::string_view gbk) {
  return WideToUtf8(GbkToWide(gbk));
}
std::string Utf8ToGbk(std::string_view utf8);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

}  // namespace rt
