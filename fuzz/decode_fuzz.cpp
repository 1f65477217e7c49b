// Reply decoding on arbitrary bytes: never reads past the end and never
// gives a text with a zero byte in it.
#include <cstdint>
#include <cstdlib>

#include "web/reply_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const rt::Bytes bytes(data, data + size);
  for (const std::string& out :
       {web::DecodeUnicodeEscapes(text), web::Utf8ToGbk(bytes), web::StreamTextFromBytes(bytes)}) {
    if (out.find('\0') != std::string::npos) std::abort();
  }
  return 0;
}
