// The text line reader and the value-getter contract shared by every form
// that carries text-table lines (text, resource script, module, subset).
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"
#include "qvutil/types.h"

// Value getter: key (empty accepts any record line), buffer, capacity,
// callback. 0: value of the expected key delivered; 1: the next record line
// has another key and stays current; 2: no record line left.
using GetValueFn = int (*)(const char* key, char* buf, int size, MessageFn msg);
constexpr int kValueFound = 0;
constexpr int kValueOtherKey = 1;
constexpr int kValueEnd = 2;

// Longest line a reader accepts; past it the read fails ("Line too long").
constexpr size_t kMaxLineLength = 64 * 1024;

// Buffered reader over an open handle; the handle stays the caller's.
class TextInput {
 public:
  explicit TextInput(platform::FileHandle h = platform::kInvalidHandle);
  void Reset(platform::FileHandle h);
  platform::FileHandle handle() const { return h_; }
  // Next byte, or -1 at end of input or on a failed read.
  int Get();

 private:
  platform::FileHandle h_;
  std::string buf_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
};

constexpr int kLineNone = 0;     // end of input (no byte stored)
constexpr int kLineRead = 1;
constexpr int kLineTooLong = -1; // longer than kMaxLineLength
// Reads one line (LF kept, 0x1A ends the line unstored) into *line.
int ReadTextLine(TextInput* in, std::string* line);

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
TxtReaderState& TxtState();
void BeginTxtInput(int version);
