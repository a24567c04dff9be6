// Where the text-table reader gets its values: the value-getter contract
// that every form carrying text-table lines meets (text file, resource
// script, module, and any getter a caller writes), the per-input reader
// state, and the one getter over a source of lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "qvutil/types.h"

// Results of a value getter: kValueFound, the next record line has the
// expected key (an empty key accepts any record line) and its value is in
// the buffer (at most size - 1 bytes and a NUL); kValueOtherKey, that line
// has another key and stays current; kValueEnd, no record line is left;
// kValueError, the line source failed after sending its own level-100
// message, and the read must stop.
constexpr int kValueFound = 0;
constexpr int kValueOtherKey = 1;
constexpr int kValueEnd = 2;
constexpr int kValueError = -1;

// A getter as a plain function, for sources that carry no object.
using GetValueFn = int (*)(const char* key, char* buf, int size, MessageFn msg);

// What the reader keeps per input: the version it reads and the sequence
// counters that start afresh with each input.
struct TxtReaderState {
  int version = 4;
  int fieldListOrdinal = -1;
  int lastMapId = 0;
  int lastCharMapId = 0;
  // The item number of the last field read: kept across field lists and
  // inputs for the whole process, as the item-number rule has it.
  static inline int16_t lastItem = 0;
};

class ValueSource {
 public:
  virtual ~ValueSource() = default;
  // The value getter (results above).
  virtual int GetValue(const char* key, char* buf, int size, MessageFn msg) = 0;
  // Starts the reader state afresh for an input of `version`.
  void Begin(int version) {
    state = TxtReaderState{};
    state.version = version;
  }
  TxtReaderState state;
};

// A GetValueFn as a ValueSource.
class FunctionSource : public ValueSource {
 public:
  explicit FunctionSource(GetValueFn fn, int version = 4) : fn_(fn) { Begin(version); }
  int GetValue(const char* key, char* buf, int size, MessageFn msg) override {
    return fn_(key, buf, size, msg);
  }

 private:
  GetValueFn fn_;
};

// The getter over lines that a subclass hands out. Comment and blank lines
// (first byte "#", CR, LF, blank or ";") are passed over; a record line's
// key is the text before its first "=", matched over its own length without
// regard to case; its value runs to the first CR. A line with another key
// stays current for the next call.
class LineSource : public ValueSource {
 public:
  int GetValue(const char* key, char* buf, int size, MessageFn msg) override;

  // Where the read stands, for tools that tie what the reader says to a
  // place: the number of the line fetched last, counting every line of the
  // file from 1 (0 before the first); that line, valid until the next
  // fetch; whether it is still current (not yet taken as a value); and
  // whether the lines have run out.
  virtual uint64_t LineNumber() const { return fetched_; }
  std::string_view LastLine() const { return line_; }
  bool HasCurrent() const { return current_; }
  bool Ended() const { return ended_; }

 protected:
  // 1 with the next line (which stays valid until the next call); 0 when
  // none is left; -1 when the input cannot be read on (already reported).
  virtual int NextLine(std::string_view* line, MessageFn msg) = 0;
  // Forgets the current line (a new input begins).
  void ResetLines() {
    current_ = ended_ = false;
    fetched_ = 0;
    line_ = {};
  }

 private:
  // NextLine through the counters above.
  int Fetch(MessageFn msg);

  std::string_view line_;
  bool current_ = false;
  bool ended_ = false;
  uint64_t fetched_ = 0;
};
