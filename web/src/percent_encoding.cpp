#include "web/percent_encoding.h"

#include "runtime/text.h"

namespace web {

bool IsUnreservedByte(unsigned char b) {
  return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
         b == '.' || b == '_' || b == '~';
}

std::string PercentEncode(std::string_view bytes, bool (*keep)(unsigned char)) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (keep(b)) {
      out += c;
    } else {
      rt::AppendPercentByte(out, b);
    }
  }
  return out;
}

std::string FormEncode(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b == ' ') {
      out += '+';
    } else if (IsUnreservedByte(b)) {
      out += c;
    } else {
      rt::AppendPercentByte(out, b);
    }
  }
  return out;
}

}  // namespace web
