// The process-wide environment (the build's default Env unless a test has
// installed its own) and the file owner that closes through it.
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

namespace platform {

int File::Open(const std::string& path, Access access, Disposition disp) {
  Close();
  FileHandle h = kInvalidHandle;
  int rc = Env::Get()->OpenFile(path, access, disp, &h);
  if (rc == 0) h_ = h;
  return rc;
}

int File::Close() {
  if (h_ == kInvalidHandle) return 0;
  int rc = Env::Get()->CloseFile(h_);
  h_ = kInvalidHandle;
  return rc == 0 ? 0 : -1;
}

}  // namespace platform
