// Texts handed to the host, which may run on another C runtime: they come
// from the process heap on Windows and from malloc elsewhere.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "runtime/frame.h"

namespace cron {

// size bytes of the host's heap, or nullptr.
inline char* AllocateHostBytes(std::size_t size) {
  return static_cast<char*>(rt::AllocateSharedBytes(size));
}
inline void FreeHostText(char* text) {
  rt::FreeSharedBytes(text);
}

// A zero-terminated copy; exhausted memory is a fatal report.
inline char* NewHostText(std::string_view text) {
  char* out = AllocateHostBytes(text.size() + 1);
  if (!out) rt::ReportOutOfMemory();
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  return out;
}

}  // namespace cron
