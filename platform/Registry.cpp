#include "platform/Registry.h"

namespace plat {

namespace {
Registry* g_registry = nullptr;
}

Registry* Registry::Default() { return g_registry != nullptr ? g_registry : BackendRegistry(); }
void SetDefaultRegistry(Registry* registry) { g_registry = registry; }

}  // namespace plat
