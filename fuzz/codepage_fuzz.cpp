// Code page conversions on arbitrary bytes: the character tables give what
// the system converter gives for the whole text, a converted text converts
// to itself again, and UTF-8 made by the program is well-formed.
#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "runtime/codepage.h"

namespace {

// The system converter over the whole text, one "?" for each unit it
// cannot convert (its first byte, or the 2 bytes of a UTF-16 unit).
template <class Out>
Out Whole(const char* to, const char* from, const char* in, std::size_t size, std::size_t unit) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) std::abort();
  Out out;
  char buffer[4096];
  while (size > 0) {
    char* dst = buffer;
    std::size_t room = sizeof buffer;
    const std::size_t r = iconv(cd, const_cast<char**>(&in), &size, &dst, &room);
    out.append(reinterpret_cast<const typename Out::value_type*>(buffer),
               static_cast<std::size_t>(dst - buffer) / sizeof(typename Out::value_type));
    if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
      const std::size_t n = std::min(unit, size);
      in += n;
      size -= n;
      out.push_back('?');
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // Code page 936 bytes.
  const std::u16string wide = rt::GbkToWide(bytes);
  if (wide != Whole<std::u16string>("UTF-16LE", "CP936", bytes.data(), bytes.size(), 1))
    std::abort();
  const std::string gbk = rt::WideToGbk(wide);
  if (rt::WideToGbk(rt::GbkToWide(gbk)) != gbk) std::abort();

  // The same bytes as UTF-8, and as UTF-16 units.
  const std::u16string fromUtf8 = rt::Utf8ToWide(bytes);
  const std::string utf8 = rt::WideToUtf8(fromUtf8);
  if (!rt::IsValidUtf8(utf8) || rt::Utf8ToWide(utf8) != fromUtf8) std::abort();
  if (rt::IsValidUtf8(bytes) && utf8 != bytes) std::abort();
  const std::string viaUtf8 = rt::Utf8ToGbk(bytes);
  if (viaUtf8 != rt::WideToGbk(fromUtf8)) std::abort();
  if (viaUtf8.size() > bytes.size()) std::abort();  // never longer than its UTF-8
  const std::u16string units(reinterpret_cast<const char16_t*>(data), size / 2);
  const std::string out = rt::WideToGbk(units);
  if (out != Whole<std::string>("CP936", "UTF-16LE", reinterpret_cast<const char*>(units.data()),
                                units.size() * 2, 2)) {
    std::abort();
  }
  return 0;
}
