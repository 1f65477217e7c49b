#include <errno.h>
#include <iconv.h>

#include <atomic>
#include <bit>
#include <cstdint>

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

  // Converts one unit on its own: the number of bytes written to out, or -1
  // with errno (EILSEQ: not convertible, EINVAL: the start of a longer unit).
  int One(const void* in, std::size_t inSize, char* out, std::size_t outSize) {
    if (!Ok()) {
      errno = EILSEQ;
      return -1;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    auto* src = static_cast<char*>(const_cast<void*>(in));
    char* dst = out;
    std::size_t left = inSize, room = outSize;
    if (iconv(cd_, &src, &left, &dst, &room) == static_cast<std::size_t>(-1)) return -1;
    if (left != 0) {
      errno = EILSEQ;
      return -1;
    }
    return static_cast<int>(dst - out);
  }

 private:
  iconv_t cd_;
};

// The conversions go character by character through tables that the system
// converter fills on first use of each character. Handing the converter
// whole texts instead costs time in proportion to the rest of the text at
// every character it cannot convert (it converts the rest again to find
// where it stopped), which made text full of such characters crawl.

// Code page 936 bytes of each UTF-16 unit: 0 not yet known, 1 none,
// 0x100 | b the single byte b, otherwise the two bytes high and low.
constexpr std::uint16_t kUnknown = 0;
constexpr std::uint16_t kNoBytes = 1;
std::atomic<std::uint16_t> gToGbk[0x10000];

std::uint16_t GbkOfUnit(char16_t unit) {
  const std::uint16_t known = gToGbk[unit].load(std::memory_order_relaxed);
  if (known != kUnknown) return known;
  thread_local Converter conv("CP936", "UTF-16LE");
  char out[8];
  const int n = conv.One(&unit, sizeof unit, out, sizeof out);
  std::uint16_t entry = kNoBytes;
  if (n == 1) entry = static_cast<std::uint16_t>(0x100 | static_cast<unsigned char>(out[0]));
  if (n == 2 && static_cast<unsigned char>(out[0]) >= 0x80) {
    entry = static_cast<std::uint16_t>(static_cast<unsigned char>(out[0]) << 8 |
                                       static_cast<unsigned char>(out[1]));
  }
  gToGbk[unit].store(entry, std::memory_order_relaxed);
  return entry;
}

// What a byte from 0x80 up is on its own: 0 not yet known, kLead, kNoChar,
// or the character it stands for.
constexpr char16_t kLead = 1;
constexpr char16_t kNoChar = 2;
std::atomic<char16_t> gHighByte[0x80];
// The character of a lead and a following byte: 0 not yet known, kNoPair.
constexpr char16_t kNoPair = 0xFFFF;
std::atomic<char16_t> gPair[0x80 * 0x100];

thread_local Converter tFromGbk("UTF-16LE", "CP936");

char16_t WideOf(const char* bytes, std::size_t size, char16_t incomplete, char16_t invalid) {
  char16_t out[4];
  const int n = tFromGbk.One(bytes, size, reinterpret_cast<char*>(out), sizeof out);
  if (n == 2 && out[0] != 0 && out[0] != kNoPair) return out[0];
  return n < 0 && errno == EINVAL ? incomplete : invalid;
}

char16_t HighByte(unsigned char b) {
  auto& slot = gHighByte[b - 0x80];
  char16_t known = slot.load(std::memory_order_relaxed);
  if (known == 0) {
    const char c = static_cast<char>(b);
    known = WideOf(&c, 1, kLead, kNoChar);
    slot.store(known, std::memory_order_relaxed);
  }
  return known;
}

char16_t Pair(unsigned char lead, unsigned char trail) {
  auto& slot = gPair[(lead - 0x80) << 8 | trail];
  char16_t known = slot.load(std::memory_order_relaxed);
  if (known == 0) {
    const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    known = WideOf(pair, 2, kNoPair, kNoPair);
    slot.store(known, std::memory_order_relaxed);
  }
  return known;
}

}  // namespace

std::u16string GbkToWide(std::string_view gbk) {
  std::u16string out;
  out.reserve(gbk.size());
  for (std::size_t i = 0; i < gbk.size(); ++i) {
    const auto b = static_cast<unsigned char>(gbk[i]);
    if (b < 0x80) {
      out.push_back(b);
      continue;
    }
    const char16_t single = HighByte(b);
    if (single != kLead) {
      out.push_back(single == kNoChar ? u'?' : single);
      continue;
    }
    // A lead byte whose pair cannot be read is one "?"; the byte after it
    // is read again on its own.
    const char16_t pair =
        i + 1 < gbk.size() ? Pair(b, static_cast<unsigned char>(gbk[i + 1])) : kNoPair;
    if (pair == kNoPair) {
      out.push_back(u'?');
    } else {
      out.push_back(pair);
      ++i;
    }
  }
  return out;
}

std::string WideToGbk(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (const char16_t unit : wide) {
    if (unit < 0x80) {
      out.push_back(static_cast<char>(unit));
      continue;
    }
    // Each unit that cannot be written is one "?", halves of a pair too, as
    // the platform's conversion does; code page 936 holds nothing beyond
    // the basic plane.
    const std::uint16_t bytes = unit >= 0xD800 && unit <= 0xDFFF ? kNoBytes : GbkOfUnit(unit);
    if (bytes == kNoBytes) {
      out.push_back('?');
    } else if (bytes < 0x200) {
      out.push_back(static_cast<char>(bytes & 0xFF));
    } else {
      out.push_back(static_cast<char>(bytes >> 8));
      out.push_back(static_cast<char>(bytes & 0xFF));
    }
  }
  return out;
}

}  // namespace rt
