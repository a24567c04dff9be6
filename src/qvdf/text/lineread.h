// The text line reader and the value-getter contract shared by every form
// that carries text-table lines (text, resource script, module, subset).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "qvutil/types.h"

// Value getter: key (empty accepts any record line), buffer, capacity,
// callback. 0: value of the expected key delivered (at most capacity - 1
// bytes and a NUL); 1: the next record line has another key and stays
// current; 2: no record line left; -1: the line source failed (a line longer
// than kMaxLineLength) after sending its own level-100 message, and the read
// must stop.
using GetValueFn = int (*)(const char* key, char* buf, int size, MessageFn msg);
constexpr int kValueFound = 0;
constexpr int kValueOtherKey = 1;
constexpr int kValueEnd = 2;
constexpr int kValueError = -1;

// Longest line a reader accepts, line end included; past it the read fails
// with kLineTooLongMessage.
constexpr size_t kMaxLineLength = 64 * 1024;
constexpr const char* kLineTooLongMessage = "***ERROR: Line too long";

// Buffered reader over an open handle; the handle stays the caller's.
class TextInput {
 public:
  explicit TextInput(platform::FileHandle h = platform::kInvalidHandle);
  void Reset(platform::FileHandle h);
  platform::FileHandle handle() const { return h_; }
  // In the line ReadTextView handed out last: the index of its first CR,
  // NUL or byte above 0x7F, or its length when it has none. Everything
  // before it is plain ASCII, which spares a value getter a second scan.
  size_t stop() const { return stop_; }
  // Next byte, or -1 at end of input or on a failed read.
  int Get();

 private:
  friend int ReadTextLine(TextInput* in, std::string* line);
  friend int ReadTextView(TextInput* in, std::string_view* line);
  // Reads the next chunk; false at end of input or on a failed read.
  bool Fill();

  platform::FileHandle h_;
  std::string buf_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
  std::string spill_;  // a line that crosses a chunk boundary
  size_t stop_ = 0;    // see stop()
};

constexpr int kLineNone = 0;     // end of input (no byte stored)
constexpr int kLineRead = 1;
constexpr int kLineTooLong = -1; // longer than kMaxLineLength
// Reads one line into *line: up to and including its LF, or up to a 0x1A
// (which ends the line and is not stored), or up to the end of the input.
// kLineRead with the line; kLineNone when nothing was stored before the end
// of the input, a failed read or a 0x1A; kLineTooLong when the line would
// exceed kMaxLineLength bytes (the caller stops reading).
int ReadTextLine(TextInput* in, std::string* line);
// Same, handing the line out as a view that stays valid until the next read
// from in: most lines are never copied.
int ReadTextView(TextInput* in, std::string_view* line);

// Process-wide state of the text reader: the version of the open input and
// the sequence counters that start afresh with each input. Every front end
// (text, resource script, module) calls BeginTxtInput at open.
struct TxtReaderState {
  int version = 4;
  int fieldListOrdinal = -1;
  int lastMapId = 0;
  int lastCharMapId = 0;
  int16_t lastItem = 0;  // never reset
};
// The one process-wide state.
TxtReaderState& TxtState();
// Sets the version and restarts the sequence counters (not lastItem).
void BeginTxtInput(int version);
