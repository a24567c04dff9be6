// The subset file reader: an open subset file with its current line, and
// the number conversion its records use. Only the subset operation and its
// tests use this header.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "qvutil/fileio.h"
#include "qvutil/types.h"

// Size of the value buffer the subset records are read into.
constexpr int kSubsetValueSize = 512;

class SubsetInput {
 public:
  bool IsOpen() const { return file_.is_open(); }

 private:
  friend int OpenSubsetInput(SubsetInput* s, const char* name);
  friend int CloseSubsetInput(SubsetInput* s);
  friend int GetSubsetValue(SubsetInput* s, const char* key, char* buf, int size, MessageFn msg);
  // Next line into line_: 0 read, 2 end of input, -1 too long.
  int NextLine(MessageFn msg);

  platform::File file_;
  LineReader in_;
  std::string line_;
  bool current_ = false;  // line_ holds a record line not yet consumed
};

// Opens the subset file with no current line. 0, or the open's nonzero code
// (nothing is then open).
int OpenSubsetInput(SubsetInput* s, const char* name);
// Closes the subset file (a no-op returning 0 when none is open). 0, or the
// close's nonzero code.
int CloseSubsetInput(SubsetInput* s);

// The subset file's value getter, with the GetValueFn protocol: 0 value of
// `key` delivered into buf (at most size - 1 bytes and a NUL, ending at the
// line's first CR or LF); 1 the next record line has another key and stays
// current; 2 no record line left (or no file open); -1 a line longer than
// the reader accepts ("***ERROR: Line too long" sent at level 100).
int GetSubsetValue(SubsetInput* s, const char* key, char* buf, int size, MessageFn msg);

// Attribute bits and product IDs: an unsigned 32-bit number in decimal,
// hexadecimal after "0x" or octal after a leading "0", read from the start
// of s up to the first character that does not belong to it. Leading white
// space and a sign are accepted (a "-" negates modulo 2^32); an unreadable
// text gives 0. False when the digits make a number above 0xFFFFFFFF.
bool ParseUnsigned32(const char* s, uint32_t* v);
// Every other number: decimal, after white space and a sign, up to the
// first character that is not a digit; an unreadable text gives 0. False
// when the number lies outside the 32-bit signed range.
bool ParseSigned32(const char* s, int32_t* v);
