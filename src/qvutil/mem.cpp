// Movable memory blocks with heap logging: each block is allocated movable
// and locked once for its pointer; when "HeapLogging" in section "qvwin" of
// the options file is nonzero, every operation writes one line to the error
// log.
#include "qvutil/mem.h"

#include <cstdio>

#include "qvutil/errlog.h"
#include "qvutil/options.h"

namespace {

// -1 until the first operation reads the setting, then 0 (off) or on.
int g_heap_logging = -1;

platform::Env* E() { return platform::Env::Get(); }

bool Logging() {
  if (g_heap_logging == -1) {
    // The options file lies in the error log's directory: start the log
    // first, as its settings are read from the same file.
    ErrorLogGetPath();
    g_heap_logging = ReadOptionInt("qvwin", "HeapLogging", 0);
  }
  return g_heap_logging != 0;
}

constexpr const char* kNotShown = "   --   ";

void LogLine(const char* op, MemHandle handle, void* ptr, const char* old_handle,
             const char* old_ptr, const char* size) {
  char line[256];
  std::snprintf(line, sizeof line, "%-11s %s %8x  %p   %s  %s  %s\r\n", "[Unknown]", op,
                static_cast<unsigned>(handle), ptr, old_handle, old_ptr, size);
  ErrorLogTrace00(line);
}

std::string Size(unsigned long n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%8lu", n);
  return buf;
}

}  // namespace

void* MemAlloc(size_t size, MemHandle* handle) {
  *handle = size ? E()->MemAllocMovable(size) : 0;
  void* p = *handle ? E()->MemLock(*handle) : nullptr;
  if (*handle && !p) {
    E()->MemFreeMovable(*handle);
    *handle = 0;
  }
  if (Logging()) LogLine("Alloc  ", *handle, p, kNotShown, kNotShown, Size(size).c_str());
  return p;
}

void MemFree(MemHandle handle, void* ptr) {
  unsigned locks = handle ? E()->MemLockCount(handle) : 0;
  if (Logging()) LogLine("Free   ", handle, ptr, kNotShown, kNotShown, Size(locks).c_str());
  if (!handle) return;
  for (unsigned i = 0; i < locks; ++i) E()->MemUnlock(handle);
  E()->MemFreeMovable(handle);
}

void* MemReAlloc(size_t size, MemHandle* handle, void* old_ptr) {
  MemHandle old = *handle;
  MemHandle h = 0;
  void* p = nullptr;
  if (old) {
    unsigned locks = E()->MemLockCount(old);
    for (unsigned i = 0; i < locks; ++i) E()->MemUnlock(old);
    h = E()->MemReAllocMovable(old, size);
  } else if (size) {
    h = E()->MemAllocMovable(size);  // no block yet: a fresh one
  }
  if (h) p = E()->MemLock(h);
  if (Logging()) {
    char oh[32], op[32];
    std::snprintf(oh, sizeof oh, "%8x", static_cast<unsigned>(old));
    std::snprintf(op, sizeof op, "%p", old_ptr);
    bool show_handle = h != old || old == 0;
    bool show_ptr = p != old_ptr || old_ptr == nullptr;
    LogLine("ReAlloc", h, p, show_handle ? oh : kNotShown, show_ptr ? op : kNotShown,
            Size(size).c_str());
  }
  if (!p) {
    // The caller counts on a null result meaning the block is gone.
    if (h) E()->MemFreeMovable(h);
    if (old && old != h) E()->MemFreeMovable(old);
    *handle = 0;
    return nullptr;
  }
  *handle = h;
  return p;
}

void MemResetForTesting() { g_heap_logging = -1; }
