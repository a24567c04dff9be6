// Movable memory straight from the Win32 global heap: GlobalAlloc with
// GMEM_MOVEABLE, GlobalReAlloc, GlobalLock/GlobalUnlock, the lock count from
// GlobalFlags, GlobalFree. A handle is the HGLOBAL itself.
#include "platform/win32/env_win32.h"

namespace platform {

namespace {

HGLOBAL H(MemHandle h) { return reinterpret_cast<HGLOBAL>(h); }

// The block's flags, or GMEM_INVALID_HANDLE for 0 and unknown handles.
UINT Flags(MemHandle h) { return h ? GlobalFlags(H(h)) : GMEM_INVALID_HANDLE; }

}  // namespace

MemHandle Win32Env::MemAllocMovable(size_t n) {
  if (n == 0) return 0;
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, n);
  if (!h) SaveLastError();
  return reinterpret_cast<MemHandle>(h);
}

MemHandle Win32Env::MemReAllocMovable(MemHandle h, size_t n) {
  UINT flags = Flags(h);
  if (n == 0 || flags == GMEM_INVALID_HANDLE || (flags & GMEM_LOCKCOUNT) != 0) return 0;
  HGLOBAL moved = GlobalReAlloc(H(h), n, GMEM_MOVEABLE);
  if (!moved) SaveLastError();
  return reinterpret_cast<MemHandle>(moved);
}

void* Win32Env::MemLock(MemHandle h) {
  if (Flags(h) == GMEM_INVALID_HANDLE) return nullptr;
  return GlobalLock(H(h));
}

bool Win32Env::MemUnlock(MemHandle h) {
  UINT flags = Flags(h);
  if (flags == GMEM_INVALID_HANDLE || (flags & GMEM_LOCKCOUNT) == 0) return false;
  GlobalUnlock(H(h));
  return true;
}

unsigned Win32Env::MemLockCount(MemHandle h) {
  UINT flags = Flags(h);
  return flags == GMEM_INVALID_HANDLE ? 0 : (flags & GMEM_LOCKCOUNT);
}

void Win32Env::MemFreeMovable(MemHandle h) {
  if (h) GlobalFree(H(h));
}

}  // namespace platform
