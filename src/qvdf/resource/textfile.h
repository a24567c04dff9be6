// A text file of the split pair, opened through the platform layer: whole
// lines in (line ends kept, up to the line reader's limit) and buffered
// writes out, written behind in large pieces. A failed write is remembered
// and reported by Close, so that a truncated file is never taken for a
// finished one.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "qvdf/text/lineread.h"
#include "qvutil/writebehind.h"

class TextFile {
 public:
  TextFile() = default;
  ~TextFile() { Close(); }
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  // Opens path; any file open before is closed first. 0, or the OS error
  // code with the file left closed.
  int Open(const std::string& path, platform::Access access, platform::Disposition disp);
  bool IsOpen() const { return h_ != platform::kInvalidHandle; }

  // kLineRead with *line viewing the next line in the read buffer (valid
  // until the next read): up to and including its LF, or up to a 0x1A
  // (consumed, not shown), or up to the end of the file. kLineNone when
  // nothing came before the end of the file, a failed read or a 0x1A;
  // kLineTooLong for a line past kMaxLineLength (the caller stops reading).
  int ReadLine(std::string_view* line);
  // Queues text for the file; false once a write has failed.
  bool Write(std::string_view text) {
    if (!IsOpen()) failed_ = true;
    if (failed_) return false;
    written_ = true;
    if (text.size() > kOutSize - outLen_) return WriteLarge(text);
    std::memcpy(out_.get() + outLen_, text.data(), text.size());
    outLen_ += text.size();
    if (outLen_ >= kFlushSize) Flush();
    return !failed_;
  }
  // The size of the open file in bytes; -1 when it cannot be had.
  int64_t Size() const;
  // True until a write has failed.
  bool Good() const { return !failed_; }
  // True when anything was written since the open.
  bool Written() const { return written_; }

  // Writes what is queued and closes. True when every write and the close
  // succeeded (also for a file that is not open); the file is closed either
  // way.
  bool Close();

 private:
  // Queued output is written once it reaches this size; the queue has room
  // for one more line past it.
  static constexpr size_t kFlushSize = 1024 * 1024;
  static constexpr size_t kOutSize = kFlushSize + kMaxLineLength;

  // Sends the queue to be written behind.
  bool Flush();
  // Flush, and waits until everything is written.
  bool Drain();
  // Writes a piece too large for the room left in the queue.
  bool WriteLarge(std::string_view text);
  // Moves the unread bytes to the front of the buffer and reads more after
  // them; false at the end of the file or on a failed read.
  bool Fill();

  platform::FileHandle h_ = platform::kInvalidHandle;
  std::unique_ptr<char[]> in_;  // kMaxLineLength + a read chunk, made on demand
  size_t inPos_ = 0;
  size_t inEnd_ = 0;
  bool inEof_ = false;
  std::unique_ptr<char[]> out_;  // kOutSize, made at the open
  size_t outCap_ = 0;
  size_t outLen_ = 0;
  bool failed_ = false;
  bool written_ = false;
  WriteBehind behind_;  // last: its write ends before out_ goes
};
