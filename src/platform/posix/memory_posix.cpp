// Movable memory as GlobalAlloc has it: a handle names a block with a lock
// count; locking yields the pointer, and only an unlocked block may be
// resized (and then may move).
#include <stdlib.h>

#include "platform/posix/env_posix.h"

namespace platform {

MemHandle PosixEnv::MemAllocMovable(size_t n) {
  if (n == 0) return 0;
  void* p = malloc(n);
  if (!p) return 0;
  std::lock_guard<std::mutex> lock(mem_mu_);
  MemHandle h = next_handle_;
  next_handle_ += 8;
  blocks_[h] = Block{p, n, 0};
  return h;
}

MemHandle PosixEnv::MemReAllocMovable(MemHandle h, size_t n) {
  std::lock_guard<std::mutex> lock(mem_mu_);
  auto it = blocks_.find(h);
  if (it == blocks_.end() || it->second.locks != 0 || n == 0) return 0;
  void* p = realloc(it->second.ptr, n);
  if (!p) return 0;
  it->second.ptr = p;
  it->second.size = n;
  return h;
}

void* PosixEnv::MemLock(MemHandle h) {
  std::lock_guard<std::mutex> lock(mem_mu_);
  auto it = blocks_.find(h);
  if (it == blocks_.end()) return nullptr;
  ++it->second.locks;
  return it->second.ptr;
}

bool PosixEnv::MemUnlock(MemHandle h) {
  std::lock_guard<std::mutex> lock(mem_mu_);
  auto it = blocks_.find(h);
  if (it == blocks_.end() || it->second.locks == 0) return false;
  --it->second.locks;
  return true;
}

unsigned PosixEnv::MemLockCount(MemHandle h) {
  std::lock_guard<std::mutex> lock(mem_mu_);
  auto it = blocks_.find(h);
  if (it == blocks_.end()) return 0;
  return it->second.locks > 255 ? 255 : it->second.locks;
}

void PosixEnv::MemFreeMovable(MemHandle h) {
  std::lock_guard<std::mutex> lock(mem_mu_);
  auto it = blocks_.find(h);
  if (it == blocks_.end()) return;
  free(it->second.ptr);
  blocks_.erase(it);
}

}  // namespace platform
