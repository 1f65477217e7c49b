// Code page conversions on arbitrary bytes: UTF-8 comes back from the
// program's text as it went in, every character the walk finds in a text is
// one character of its conversion (no cut splits one), and UTF-8 made by the
// program is well-formed.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "runtime/codepage.h"
#include "runtime/text.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Converted piece by piece along the character walk, the text gives what it
// gives whole, and a well-formed text gives one code point per piece.
void CheckWalk(std::string_view text, bool wellFormed) {
  std::u16string pieces;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t len = rt::CharLength(text, i);
    const std::u16string one = rt::TextToWide(text.substr(i, len));
    if (wellFormed) {
      const bool pair = one.size() == 2 && one[0] >= 0xD800 && one[0] <= 0xDBFF;
      Check(one.size() == 1 || pair);
    }
    pieces += one;
    i += len;
  }
  Check(pieces == rt::TextToWide(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // The bytes as program text: converting what they give converts to
  // itself again.
  const std::u16string wide = rt::TextToWide(bytes);
  CheckWalk(bytes, false);
  const std::string text = rt::WideToText(wide);
  Check(rt::WideToText(rt::TextToWide(text)) == text);
  CheckWalk(text, true);

  // The same bytes as UTF-8: every character arrives, malformed runs as
  // U+FFFD, and UTF-8 comes back byte for byte.
  const std::u16string fromUtf8 = rt::Utf8ToWide(bytes);
  const std::string utf8 = rt::WideToUtf8(fromUtf8);
  Check(rt::IsValidUtf8(utf8) && rt::Utf8ToWide(utf8) == fromUtf8);
  Check(!rt::IsValidUtf8(bytes) || utf8 == bytes);
  const std::string viaUtf8 = rt::Utf8ToText(bytes);
  Check(viaUtf8 == rt::WideToText(fromUtf8));
  Check(rt::TextToUtf8(viaUtf8) == utf8);
  Check(viaUtf8.size() <= 4 * bytes.size());  // a stray byte gives U+FFFD, four bytes
  CheckWalk(viaUtf8, true);

  // As UTF-16 units: all but lone surrogates come back.
  const std::u16string units(reinterpret_cast<const char16_t*>(data), size / 2);
  std::u16string expected = units;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const char16_t u = expected[i];
    const bool high = u >= 0xD800 && u <= 0xDBFF, low = u >= 0xDC00 && u <= 0xDFFF;
    if (high && i + 1 < expected.size() && expected[i + 1] >= 0xDC00 && expected[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || low) {
      expected[i] = u'?';
    }
  }
  Check(rt::TextToWide(rt::WideToText(units)) == expected);
  return 0;
}
