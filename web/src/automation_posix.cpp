// Creation by name without a platform component library: registered
// components, and the built-in HTTP request component on libcurl.
#include "automation_platform.h"
#include "component_registry.h"
#include "redirect_guard.h"
#include "runtime/text.h"
#include "winhttp_curl.h"

namespace web::detail {

ComponentLibraryScope::ComponentLibraryScope() = default;
ComponentLibraryScope::~ComponentLibraryScope() = default;

ResultCode CreateInstance(std::string_view progId, std::shared_ptr<Component>& instance) {
  ComponentFactory factory = FindRegisteredComponent(progId);
  if (!factory && rt::EqualsIgnoreCase(progId, kHttpRequestProgId)) {
    factory = [] { return std::make_shared<RedirectGuard>(MakeCurlHttpRequest()); };
  }
  if (!factory) return kInvalidClassString;
  instance = factory();
  return instance ? kOk : kClassNotRegistered;
}

}  // namespace web::detail
