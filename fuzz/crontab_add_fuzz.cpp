// crontab_Add on arbitrary lines: never crashes, and agrees with the
// evaluation header on which lines are accepted.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crontab/crontab.h"
#include "crontab/schedule.h"
#include "runtime/clock.h"

namespace {
void Ignore(double, const char*) {}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Texts hold no zero byte: the line ends at the first one.
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.c_str();
  crontab_handle handle{};
  crontab_Intialize(&handle);
  const int added = crontab_Add(&handle, line.c_str(), Ignore);
  const bool valid = cron::Schedule::Parse(line, rt::SystemClock().LocalTime().year).has_value();
  if (added != (valid ? 1 : 0)) std::abort();
  if (added) {
    char* text = crontab_Get(&handle, nullptr);
    if (line != text) std::abort();
    std::free(text);
    if (crontab_Add(&handle, line.c_str(), Ignore) != 0) std::abort();  // same name
  }
  crontab_Destroy(&handle);
  return 0;
}
