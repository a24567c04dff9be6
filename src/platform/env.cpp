// The process-wide environment (the build's default Env unless a test has
// installed its own), the file owner that closes through it, and the list
// of temporary files an interrupt removes.
#include <atomic>
#include <cstring>

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

namespace platform {
namespace temporary_files {
namespace {

// Fixed slots, so that a signal handler reads them without locks or heap:
// a slot's path is complete before it is marked live, and marked dead
// before it is changed.
constexpr int kSlots = 64;
constexpr size_t kPathRoom = 1024;
struct Slot {
  std::atomic<int> state{0};  // 0 free, 1 being written, 2 live
  char path[kPathRoom];
};
Slot g_slots[kSlots];

Slot* Find(const std::string& path) {
  for (Slot& s : g_slots)
    if (s.state.load() == 2 && path == s.path) return &s;
  return nullptr;
}

}  // namespace

void Add(const std::string& path) {
  if (path.size() >= kPathRoom || Find(path)) return;
  for (Slot& s : g_slots) {
    int expected = 0;
    if (!s.state.compare_exchange_strong(expected, 1)) continue;
    std::memcpy(s.path, path.c_str(), path.size() + 1);
    s.state.store(2);
    return;
  }
}

void Forget(const std::string& path) {
  if (Slot* s = Find(path)) s->state.store(0);
}

void Move(const std::string& from, const std::string& to) {
  if (!Find(from)) return;
  Forget(from);
  Add(to);
}

bool Holds(const std::string& path) { return Find(path) != nullptr; }

void ForEach(void (*fn)(const char* path)) {
  for (Slot& s : g_slots)
    if (s.state.load() == 2) fn(s.path);
}

}  // namespace temporary_files
}  // namespace platform
