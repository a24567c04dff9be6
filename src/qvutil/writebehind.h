// Writes one buffer at a time to an open file on a thread of its own, so
// that the system's copy of a full buffer overlaps the work that fills the
// next one. The owner keeps the bytes untouched until it has waited. Each
// write has a thread of its own, ended by Wait: no thread outlives the
// write, so none is left for the process's exit to wait for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

#include "platform/platform.h"

class WriteBehind {
 public:
  WriteBehind() = default;
  // Waits for the write in flight.
  ~WriteBehind() { Wait(); }
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // For Start: write at the file's current position, as a plain write does.
  static constexpr uint64_t kHere = UINT64_MAX;

  // Starts writing the n bytes at data to h at off (or kHere); the previous
  // write must have been waited for. Where no thread can be had, the write
  // is done here and now.
  void Start(platform::FileHandle h, uint64_t off, const void* data, size_t n);
  // Start for a buffer of sequential output: hands *buf (n bytes to write
  // at the current position) over and puts in *buf the buffer of the write
  // before, once that is done (null at the first), with *cap its size. False
  // when that earlier write failed.
  bool Pass(platform::FileHandle h, std::unique_ptr<char[]>* buf, size_t* cap, size_t n);
  // Waits for the write started last. True when it wrote every byte, and
  // when there is none.
  bool Wait();
  // A write has been started and not yet waited for; its range.
  bool busy() const { return busy_; }
  uint64_t offset() const { return off_; }
  size_t size() const { return n_; }
  const unsigned char* data() const { return data_; }

 private:
  // Writes the job; true when every byte went out.
  bool Write() const;

  bool busy_ = false;
  platform::FileHandle h_ = platform::kInvalidHandle;
  uint64_t off_ = 0;
  size_t n_ = 0;
  const unsigned char* data_ = nullptr;
  // The thread's result, read after it has been joined.
  bool ok_ = true;
  std::thread thread_;

  // Pass: the buffer in flight, and its size.
  std::unique_ptr<char[]> passed_;
  size_t passedCap_ = 0;
};
