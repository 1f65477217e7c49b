// The addresses the executable was configured with (CMake cache variables).
#include <cstdlib>

#include "app/reminder.h"

namespace app {

Settings DefaultSettings() {
#ifdef REMINDER_RELAY_VARIABLE
  // Test builds only: the relay a test started, on a port of its own.
  if (const char* relay = std::getenv(REMINDER_RELAY_VARIABLE)) {
    return {relay, REMINDER_KEY_HELP_URL, REMINDER_SITE_URL};
  }
#endif
  return {REMINDER_PUSH_BASE_URL, REMINDER_KEY_HELP_URL, REMINDER_SITE_URL};
}

}  // namespace app
