#include <errno.h>
#include <iconv.h>

#include <bit>
#include <cstdint>

#include "codepage_internal.h"

namespace rt::codepage {
namespace {

static_assert(std::endian::native == std::endian::little, "UTF-16LE is the in-memory form");

// One conversion descriptor per thread and direction: iconv_t is not
// thread-safe and opening one per call is slow.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (Ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts one unit on its own: the number of bytes written to out, or -1.
  int One(const void* in, std::size_t inSize, void* out, std::size_t outSize) {
    if (!Ok()) return -1;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    auto* src = static_cast<char*>(const_cast<void*>(in));
    auto* dst = static_cast<char*>(out);
    std::size_t left = inSize, room = outSize;
    if (iconv(cd_, &src, &left, &dst, &room) == static_cast<std::size_t>(-1) || left != 0) {
      return -1;
    }
    return static_cast<int>(dst - static_cast<char*>(out));
  }

 private:
  iconv_t cd_;
};

}  // namespace

// Character by character: handed whole texts, the system converter costs
// time in proportion to the rest of the text at every character it cannot
// convert (it converts the rest again to find where it stopped).
int PlatformBytesOf(char16_t unit, unsigned char out[2]) {
  thread_local Converter conv("CP936", "UTF-16LE");
  unsigned char bytes[8];
  const int n = conv.One(&unit, sizeof unit, bytes, sizeof bytes);
  if (n == 1 || (n == 2 && bytes[0] >= 0x81)) {
    out[0] = bytes[0];
    out[1] = bytes[1];
    return n;
  }
  return 0;
}

char16_t PlatformUnitOf(const unsigned char* bytes, std::size_t size) {
  thread_local Converter conv("UTF-16LE", "CP936");
  char16_t out[4];
  const int n = conv.One(bytes, size, out, sizeof out);
  return n == 2 ? out[0] : 0;
}

}  // namespace rt::codepage
