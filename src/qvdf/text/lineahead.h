// Reads the lines of a large input ahead, a batch at a time, on a thread of
// its own, so that reading and decoding the next lines overlap the parse of
// the present ones. The consumer sees exactly the lines, results and order
// the source gives; only when they are produced changes.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "qvdf/text/lineread.h"

class LineAhead {
 public:
  // A line as the source gave it: its result, its bytes (followed by a NUL
  // that is not counted), and a number of the source's own.
  struct Line {
    int result = kLineNone;
    std::string_view text;
    size_t tag = 0;
  };
  // Run on the worker (never at the same time as the consumer's own use of
  // what it reads): appends one line's bytes to *out, may set *tag, and
  // returns the line's result. The stream ends with the first result other
  // than kLineRead; the source is not called after it. It must not send
  // messages: the consumer does that when it meets the line.
  using Source = std::function<int(std::string* out, size_t* tag)>;

  LineAhead() = default;
  ~LineAhead() { Stop(); }
  LineAhead(const LineAhead&) = delete;
  LineAhead& operator=(const LineAhead&) = delete;

  // Whether an input of this size is worth a thread: a small one is read
  // before a thread would have started.
  static bool WorthAThread(platform::FileHandle h);

  // Starts reading through source. With `threaded` false every batch is
  // read when it is needed, on the consumer's thread (for small inputs,
  // where a thread costs more than it saves).
  void Start(Source source, bool threaded);
  // The next line; once the stream has ended, its last line again. The
  // view stays valid until the next call. An exception the source threw
  // is thrown here, where its line would have been.
  Line Next();
  // Waits for the worker and drops every line not yet handed out; the
  // source is not called again.
  void Stop();
  bool active() const { return active_; }

 private:
  struct Entry {
    size_t offset;
    size_t length;
    size_t tag;
    int result;
  };
  struct Batch {
    std::string bytes;
    std::vector<Entry> entries;
    bool ended = false;  // the last entry ends the stream
    std::exception_ptr error;
  };
  // Fills b with lines up to the present batch limit (worker side).
  void Fill(Batch* b, size_t limit);
  // Begins filling next_, on the worker where there is one.
  void Launch();
  void Wait();
  // The line of an entry of cur_.
  Line LineAt(const Entry& e) const;

  Source source_;
  bool active_ = false;
  bool threaded_ = false;
  Batch cur_, next_;
  size_t pos_ = 0;        // next entry of cur_ to hand out
  size_t limit_ = 0;      // bytes the batch being filled may reach
  bool launched_ = false; // next_ is being filled
  std::thread worker_;
};
