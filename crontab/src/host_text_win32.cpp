// The process heap is the one heap every module of the process can release
// into, whatever C runtime it was built with.
#include <windows.h>

#include <cstring>

#include "host_text.h"
#include "runtime/frame.h"

namespace cron {

char* NewHostText(std::string_view text) {
  auto* out = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, text.size() + 1));
  if (!out) rt::ReportOutOfMemory();
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  return out;
}

void FreeHostText(char* text) {
  if (text) HeapFree(GetProcessHeap(), 0, text);
}

}  // namespace cron
