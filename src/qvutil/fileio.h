// The buffered I/O layer every format reads and writes through:
//   LineReader    the lines of an open file, handed out as views into a
//                 large read buffer;
//   OutputBuffer  bytes written in order, in 1 MiB pieces that go out on a
//                 writer thread while the next piece fills;
//   RandomFile    positional reads and writes through a cache window, with
//                 appends at the end of the data through an OutputBuffer
//                 (the block-structured data file sits on it).
// None of them owns the handle it is given. A failed write is remembered
// and reported where its owner asks (Finish, Flush), never lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <thread>

#include "platform/platform.h"

// Longest line a reader accepts, line end included; a longer one stops the
// read (kLineTooLong).
constexpr size_t kMaxLineLength = 64 * 1024;

constexpr int kLineNone = 0;  // end of input: no byte before it
constexpr int kLineRead = 1;
constexpr int kLineTooLong = -1;  // the caller stops reading

class LineReader {
 public:
  LineReader() = default;
  explicit LineReader(platform::FileHandle h) { Reset(h); }
  // Reads h from its present position on (kInvalidHandle: no input).
  void Reset(platform::FileHandle h);
  // The next line, viewed in the buffer until the next call: up to and
  // including its LF, or up to a 0x1A (which ends the line and is not
  // shown), or up to the end of the input. kLineNone when nothing came
  // before the end of the input, a failed read or a 0x1A (the bytes after a
  // 0x1A are read by the next call); kLineTooLong for a line longer than
  // kMaxLineLength. End of input and a failed read are not told apart.
  int Next(std::string_view* line);
  // Lines handed out since Reset: the number of the last one.
  uint64_t count() const { return count_; }

 private:
  // Keeps the unread bytes and reads more after them; false at the end.
  bool Fill();

  platform::FileHandle h_ = platform::kInvalidHandle;
  std::unique_ptr<char[]> buf_;  // kMaxLineLength + one read, made on demand
  size_t pos_ = 0;
  size_t end_ = 0;
  bool eof_ = true;
  uint64_t count_ = 0;
};

class OutputBuffer {
 public:
  // Bytes held before they are handed to the writer thread.
  static constexpr size_t kPiece = 1024 * 1024;
  // For Start: write at the file's own position, one piece after another.
  static constexpr uint64_t kHere = UINT64_MAX;

  OutputBuffer() = default;
  // Waits for the write in flight; what is still held is dropped.
  ~OutputBuffer() { Wait(); }
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  // Output goes to h from offset `at` on (kHere: h's own position). Any
  // earlier output is dropped and its failure forgotten.
  void Start(platform::FileHandle h, uint64_t at = kHere);
  bool started() const { return h_ != platform::kInvalidHandle; }

  // Room for n more bytes after those held; write them, then Commit their
  // end. The room stays valid until the next Room, Flush or Finish.
  char* Room(size_t n) {
    if (cap_ - len_ < n) Grow(n);
    return buf_.get() + len_;
  }
  void Commit(const char* end) { len_ = static_cast<size_t>(end - buf_.get()); }
  void Append(std::string_view s);
  // Bytes held, and the held bytes from `from` on (for a line being built).
  size_t held() const { return len_; }
  std::string_view HeldFrom(size_t from) const { return {buf_.get() + from, len_ - from}; }
  // Drops the held bytes from `from` on.
  void Truncate(size_t from) { len_ = from; }
  // Hands the held bytes over once they make a piece; false once a write
  // has failed.
  bool FlushIfFull() { return len_ >= kPiece ? Flush() : !failed_; }
  // Hands every held byte to the writer thread. False once a write failed.
  bool Flush();
  // Flush, then waits: true when every byte taken reached the file.
  bool Finish();
  bool failed() const { return failed_; }
  // The file offset after the last byte taken (positional output only).
  uint64_t end() const { return start_ + len_; }

  // For positional output read back and changed while it is held or in
  // flight (RandomFile). Held: [heldStart(), end()).
  uint64_t heldStart() const { return start_; }
  const char* heldData() const { return buf_.get(); }
  char* heldData() { return buf_.get(); }
  // The piece the writer thread is writing: whether [off, off + n) touches
  // it, or lies wholly in it, and its bytes.
  bool TouchesFlight(uint64_t off, size_t n) const {
    return busy_ && off < flightOff_ + flightLen_ && off + n > flightOff_;
  }
  bool WithinFlight(uint64_t off, size_t n) const {
    return busy_ && off >= flightOff_ && off + n <= flightOff_ + flightLen_;
  }
  const char* flightData() const { return spare_.get(); }
  uint64_t flightOffset() const { return flightOff_; }
  // Waits for the piece in flight; false when it (or an earlier one) failed.
  bool Wait();
  // Writes the held bytes here and now, after the piece in flight; false
  // when a write failed. Nothing stays held.
  bool WriteHeldNow();
  // Marks the output failed: everything held is dropped and every later
  // Flush or Finish fails.
  void Fail() {
    failed_ = true;
    len_ = 0;
  }

 private:
  void Grow(size_t n);
  // Writes n bytes of p at off (or at the file's position); true when all went.
  bool Write(const char* p, size_t n, uint64_t off) const;

  platform::FileHandle h_ = platform::kInvalidHandle;
  std::unique_ptr<char[]> buf_;
  size_t cap_ = 0;
  size_t len_ = 0;
  uint64_t start_ = 0;  // file offset of buf_[0]; kHere for sequential output
  bool failed_ = false;

  // The writer thread: one per piece, joined by Wait, so that no thread
  // outlives the write it was made for.
  std::unique_ptr<char[]> spare_;  // the piece in flight, or a free buffer
  size_t spareCap_ = 0;
  uint64_t flightOff_ = 0;
  size_t flightLen_ = 0;
  bool busy_ = false;
  bool flightOk_ = true;
  std::thread thread_;
};

class RandomFile {
 public:
  // Reads and writes h; appends start at `end` (the end of the data).
  void Attach(platform::FileHandle h, uint64_t end);
  // Forgets the handle and everything held (nothing is written).
  void Detach();
  platform::FileHandle handle() const { return h_; }

  // Up to n bytes at off (fewer at the end of the file), or -1: from the
  // appended bytes while they are held, else through the cache window.
  long ReadAt(uint64_t off, void* dst, size_t n);
  // Writes n bytes at off, into the held bytes where they lie there. False
  // when the write (or an earlier write of held bytes) failed.
  bool WriteAt(uint64_t off, const void* src, size_t n);
  // Room for n bytes at the end of the data; fill it, then CommitAppend.
  // Null once a write of held bytes has failed. A full piece goes out on the
  // writer thread at the next Room.
  char* AppendRoom(size_t n);
  void CommitAppend(const char* end);
  // The offset the next append goes to.
  uint64_t end() const { return out_.end(); }
  // Writes every held byte now. False when that, or an earlier write of
  // held bytes, failed; after such a failure every change fails.
  bool Flush();
  bool failed() const { return out_.failed(); }

 private:
  // A window of the file's bytes as last read or written.
  static constexpr size_t kCacheSize = 64 * 1024;
  bool CacheReady();
  void CacheOverlap(uint64_t off, const void* data, size_t n);
  void CacheWritten(uint64_t off, const void* data, size_t n);
  // A failed write of held bytes: they are gone, and so is the window.
  bool LoseHeld();

  platform::FileHandle h_ = platform::kInvalidHandle;
  std::unique_ptr<unsigned char[]> cache_;
  uint64_t cacheStart_ = 0;
  size_t cacheLen_ = 0;
  OutputBuffer out_;  // last: its write ends before anything else goes
};
