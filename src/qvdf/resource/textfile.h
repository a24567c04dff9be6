// A text file of the split pair: whole lines in (line ends kept, up to the
// line reader's limit) and buffered writes out, written behind in large
// pieces. A failed write is remembered and reported by Close, so that a
// truncated file is never taken for a finished one.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"
#include "qvutil/fileio.h"

class TextFile {
 public:
  TextFile() = default;
  ~TextFile() { Close(); }
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  // Opens path; any file open before is closed first. 0, or the OS error
  // code with the file left closed.
  int Open(const std::string& path, platform::Access access, platform::Disposition disp);
  bool IsOpen() const { return file_.is_open(); }

  // The next line, as LineReader::Next gives it; kLineNone when not open.
  int ReadLine(std::string_view* line) { return in_.Next(line); }
  // Queues text for the file; false once a write has failed.
  bool Write(std::string_view text);
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
  platform::File file_;
  LineReader in_;
  OutputBuffer out_;
  bool failed_ = false;
  bool written_ = false;
};
