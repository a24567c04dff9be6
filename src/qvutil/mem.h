// Movable memory blocks with optional heap logging. Every table-store buffer
// comes from here; MemBlock owns one so that nothing frees by hand.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

using MemHandle = platform::MemHandle;

// Pointer to a new block of `size` bytes (not cleared) and its handle in
// *handle; null and handle 0 on failure or for size 0.
void* MemAlloc(size_t size, MemHandle* handle);
// Frees the block; both may be 0/null.
void MemFree(MemHandle handle, void* ptr);
// Resizes the block (contents kept, it may move): new pointer, *handle
// replaced; a *handle of 0 gets a fresh block. On failure (or size 0) the old
// block is freed, *handle is 0 and null is returned.
void* MemReAlloc(size_t size, MemHandle* handle, void* old_ptr);

// Owner of one movable block.
class MemBlock {
 public:
  MemBlock() = default;
  ~MemBlock() { Reset(); }
  MemBlock(const MemBlock&) = delete;
  MemBlock& operator=(const MemBlock&) = delete;
  MemBlock(MemBlock&& o) noexcept : h_(o.h_), p_(o.p_) {
    o.h_ = 0;
    o.p_ = nullptr;
  }
  MemBlock& operator=(MemBlock&& o) noexcept {
    if (this != &o) {
      Reset();
      h_ = o.h_;
      p_ = o.p_;
      o.h_ = 0;
      o.p_ = nullptr;
    }
    return *this;
  }
  // false on failure (the block is then empty).
  bool Alloc(size_t size) {
    Reset();
    p_ = MemAlloc(size, &h_);
    return p_ != nullptr;
  }
  // false on failure; the old contents are then lost, as MemReAlloc says.
  bool ReAlloc(size_t size) {
    p_ = MemReAlloc(size, &h_, p_);
    return p_ != nullptr;
  }
  void Reset() {
    if (h_ || p_) MemFree(h_, p_);
    h_ = 0;
    p_ = nullptr;
  }
  void* get() const { return p_; }
  template <typename T>
  T* as() const {
    return static_cast<T*>(p_);
  }
  MemHandle handle() const { return h_; }

 private:
  MemHandle h_ = 0;
  void* p_ = nullptr;
};

// Test hook: read the "HeapLogging" setting again at the next operation.
void MemResetForTesting();
