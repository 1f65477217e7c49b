// The HTTP request component of Windows, on the platform's HTTP functions.
#pragma once

#include <memory>

#include "web/automation.h"

namespace web {

std::shared_ptr<Component> MakeWinHttpRequest();

}  // namespace web
