// What each platform provides to the automation layer.
#pragma once

#include <memory>
#include <string_view>

#include "web/automation.h"

namespace web::detail {

// Creates an instance of progId; kOk and a non-null instance on success.
ResultCode CreateInstance(std::string_view progId, std::shared_ptr<Component>& instance);

}  // namespace web::detail

namespace web::detail {

// Initialises the platform's component library on this thread for the
// lifetime of the scope (nothing to do where components are in-process).
class ComponentLibraryScope {
 public:
  ComponentLibraryScope();
  ~ComponentLibraryScope();  // NOLINT(performance-trivially-destructible): not on every platform
  ComponentLibraryScope(const ComponentLibraryScope&) = delete;
  ComponentLibraryScope& operator=(const ComponentLibraryScope&) = delete;
};

}  // namespace web::detail
