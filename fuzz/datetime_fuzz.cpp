// Reading date-times from arbitrary text: any date it accepts from the year
// 100 on is written back and read again as the same value.
#include <cstdint>
#include <cstdlib>

#include "runtime/datetime_text.h"

// The fixed texts are code page 936 bytes, as in the shipped build.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const rt::DateTime sunday = rt::MakeDateTime(2026, 12, 6);
  if (rt::FormatDateTime(sunday, "dddd", "", true) != "\xD0\xC7\xC6\xDA\xC8\xD5") std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const rt::DateTime dt = rt::TextToDateTime(text);
  if (dt == rt::kMinimumDate || dt < rt::kMinimumDate) return 0;
  const std::string written = rt::FormatDateTime(dt, "yyyy-MM-dd", " HH:mm:ss", true);
  if (written.empty() || rt::TextToDateTime(written) != dt) std::abort();
  rt::ToUnixTimestamp(dt, data[0] & 1, data[0] & 2);
  return 0;
}
