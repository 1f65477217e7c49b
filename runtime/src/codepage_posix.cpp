#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "runtime/codepage.h"

namespace rt {
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

  // Converts all of in; `skip` tells how many input bytes an undecodable or
  // unencodable unit takes, `bad` what to emit for it.
  template <class Out, class SkipFn>
  Out Run(const char* in, std::size_t inSize, SkipFn skip, Out bad) {
    Out out;
    if (!Ok()) return out;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buffer[4096];
    while (inSize > 0) {
      char* dst = buffer;
      std::size_t room = sizeof buffer;
      const std::size_t r = iconv(cd_, const_cast<char**>(&in), &inSize, &dst, &room);
      out.append(reinterpret_cast<const typename Out::value_type*>(buffer),
                 static_cast<std::size_t>(dst - buffer) / sizeof(typename Out::value_type));
      if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
        const std::size_t n = std::min(skip(in, inSize), inSize);
        in += n;
        inSize -= n;
        out += bad;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
      }
    }
    return out;
  }

 private:
  iconv_t cd_;
};

}  // namespace

std::u16string GbkToWide(std::string_view gbk) {
  thread_local Converter conv("UTF-16LE", "CP936");
  return conv.Run(
      gbk.data(), gbk.size(), [](const char*, std::size_t) { return std::size_t{1}; },
      std::u16string(u"?"));
}

std::string WideToGbk(std::u16string_view wide) {
  thread_local Converter conv("CP936", "UTF-16LE");
  return conv.Run(
      reinterpret_cast<const char*>(wide.data()), wide.size() * 2,
      // Each unit that cannot be written is one "?", halves of a pair too,
      // as the platform's conversion does.
      [](const char*, std::size_t) { return std::size_t{2}; }, std::string("?"));
}

}  // namespace rt
