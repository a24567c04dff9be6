// The process-wide environment: the build's default Env unless a test has
// installed its own.
#include "platform/env_internal.h"
#include "platform/platform.h"

namespace platform {

namespace {
Env* g_installed = nullptr;
}  // namespace

Env* Env::Get() { return g_installed ? g_installed : DefaultEnv(); }

void Env::SetForTesting(Env* env) {
  g_installed = env;
  ReloadDefaultEnvSettings();
}

}  // namespace platform
