#include <cstdlib>
#include <cstring>

#include "host_text.h"
#include "runtime/frame.h"

namespace cron {

char* NewHostText(std::string_view text) {
  auto* out = static_cast<char*>(std::malloc(text.size() + 1));
  if (!out) rt::ReportOutOfMemory();
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  return out;
}

void FreeHostText(char* text) {
  std::free(text);
}

}  // namespace cron
