#include "component_registry.h"

#include <map>
#include <mutex>

#include "runtime/text.h"

namespace web {
namespace {

struct Registry {
  std::mutex mutex;
  // Keyed by upper-cased ProgID.
  std::map<std::string, ComponentFactory> factories;
};

Registry& TheRegistry() {
  static auto* registry = new Registry;  // components may be made while the process ends
  return *registry;
}

}  // namespace

void RegisterComponent(std::string_view progId, ComponentFactory factory) {
  Registry& r = TheRegistry();
  const std::lock_guard lock(r.mutex);
  if (factory) {
    r.factories[rt::UpperCase(progId)] = std::move(factory);
  } else {
    r.factories.erase(rt::UpperCase(progId));
  }
}

namespace detail {

ComponentFactory FindRegisteredComponent(std::string_view progId) {
  Registry& r = TheRegistry();
  const std::lock_guard lock(r.mutex);
  const auto it = r.factories.find(rt::UpperCase(progId));
  return it == r.factories.end() ? ComponentFactory() : it->second;
}

}  // namespace detail
}  // namespace web
