// Percent-encoding (RFC 3986), the one encoder for addresses and for
// application/x-www-form-urlencoded bodies. Input and output are bytes; the
// caller converts texts to UTF-8 first. Pure functions: any thread.
#pragma once

#include <string>
#include <string_view>

namespace web {

// RFC 3986 "unreserved": letters, digits and - . _ ~.
bool IsUnreservedByte(unsigned char b);

// Every byte that `keep` (not null) refuses becomes "%" and two upper-case
// hex digits.
std::string PercentEncode(std::string_view bytes, bool (*keep)(unsigned char) = IsUnreservedByte);

// One name or value of an application/x-www-form-urlencoded body: the blank
// as "+", every other byte but the unreserved ones percent-encoded, so that a
// form parser gives back exactly these bytes ("&", "=", "+", "%" included).
std::string FormEncode(std::string_view bytes);

}  // namespace web
