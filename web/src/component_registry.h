// Components registered in this process, found by name before the platform's.
#pragma once

#include <string_view>

#include "web/automation.h"

namespace web::detail {

// The factory registered for progId (names match without regard to case),
// or an empty one.
ComponentFactory FindRegisteredComponent(std::string_view progId);

}  // namespace web::detail
