// The process heap is the one heap every module of the process can release
// into, whatever C runtime it was built with.
#include <windows.h>

#include "host_text.h"

namespace cron {

char* AllocateHostBytes(std::size_t size) {
  return static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size));
}

void FreeHostText(char* text) {
  if (text) HeapFree(GetProcessHeap(), 0, text);
}

}  // namespace cron
