#include <cstdlib>

#include "host_text.h"

namespace cron {

char* AllocateHostBytes(std::size_t size) {
  return static_cast<char*>(std::malloc(size));
}

void FreeHostText(char* text) {
  std::free(text);
}

}  // namespace cron
