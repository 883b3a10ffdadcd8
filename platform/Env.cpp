#include "platform/Env.h"

namespace plat {

namespace {
Env* g_default = nullptr;  // set by tests; null means the backend's own
}  // namespace

Env* Env::Default() { return g_default != nullptr ? g_default : BackendEnv(); }

void SetDefaultEnv(Env* env) { g_default = env; }

}  // namespace plat
