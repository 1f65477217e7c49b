// The pieces of the program's text encoding. Its one- and two-byte codes are
// code page 936's, asked of the platform; everything 936 lacks takes the
// four-byte code of GB18030 (lead, digit, lead, digit), from tables held
// here, so no platform needs to know GB18030 itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rt::codepage {

// Asked of the platform, each once per character (the results are kept).
// Code page 936 bytes of one unit of the basic plane that decode back to it
// alone: the number written to out (1 or 2), 0 when there are none.
int PlatformBytesOf(char16_t unit, unsigned char out[2]);
// The unit that one byte (0x80 or 0xFF) or a lead and trail byte pair
// stands for in code page 936; 0 when none.
char16_t PlatformUnitOf(const unsigned char* bytes, std::size_t size);

// Private-use characters on the pairs of code page 936 that the system
// converter may leave out (its user-defined areas): the unit of a pair or 0,
// and the pair of a unit (lead << 8 | trail) or 0.
char16_t PrivateUseUnitOf(unsigned char lead, unsigned char trail);
std::uint16_t PrivateUsePairOf(char16_t unit);

// Four-byte codes are numbered from 81 30 81 30 on: the number of a code's
// four bytes, and its four bytes from the number.
inline constexpr std::uint32_t kFourByteCount = 126 * 10 * 126 * 10;
std::uint32_t FourByteNumber(const unsigned char* bytes);
void FourByteCode(std::uint32_t number, unsigned char out[4]);

// The basic plane's characters that code page 936 lacks hold the numbers
// below kBasicFourByteCount; those of the other planes follow from
// kSupplementaryBase in code point order.
inline constexpr std::uint32_t kBasicFourByteCount = 39420;
inline constexpr std::uint32_t kSupplementaryBase = 189000;  // 90 30 81 30
// The unit a number below kBasicFourByteCount stands for, and the number of
// a unit (-1 when it has none: the characters 936 holds).
char16_t BasicUnitOfNumber(std::uint32_t number);
int NumberOfBasicUnit(char16_t unit);

}  // namespace rt::codepage
