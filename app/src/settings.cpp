// The addresses the executable was configured with (CMake cache variables).
#include "app/reminder.h"

namespace app {

Settings DefaultSettings() {
  return {REMINDER_PUSH_BASE_URL, REMINDER_KEY_HELP_URL, REMINDER_SITE_URL};
}

}  // namespace app
