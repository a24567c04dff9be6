// The value-getter contract over a line source, shared by the resource-script
// and module readers so that both deliver values exactly as the text-file
// getter does.
#pragma once

#include <string_view>

#include "qvutil/types.h"

// Next text line: 1 with *line, which stays valid until the next call and
// is followed by a NUL, and *plain set when the source knows that the line
// holds no NUL, no byte above 0x7F and no CR but the one of its final
// CR LF; 0 when no line is left; -1 when the input cannot be read on
// (already reported).
using LineSourceFn = int (*)(std::string_view* line, bool* plain, MessageFn msg);

// The line under test and whether it is still unconsumed.
struct LineCursor {
  std::string_view line;
  bool current = false;
  bool plain = false;
};

// 0: the current record line has `key` (or key is empty); its value, cut at
// its first CR, is copied into buf as at most size - 1 bytes and a NUL, and
// the line is consumed. 1: the line has another key or no "=" at all; it
// stays current. 2: no record line is left. kValueError (-1): the line
// source failed. Comment and blank lines are passed over.
int GetLineValue(LineCursor* cur, LineSourceFn next, const char* key, char* buf, int size,
                 MessageFn msg);
