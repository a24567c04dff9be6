// The module form: a text table carried as the RCDATA resource
// "_ZELM_ITB_TABLE_" of a Windows module, read as data (never run).
#pragma once

#include <string>

#include "qvdf/text/lineread.h"
#include "qvutil/types.h"

// 0 with *getter = GetFilValue; 9 when the file is missing; 4 when it is not
// a module, is damaged or lacks the resource (no message).
int OpenFilInput(int version, const char* name, GetValueFn* getter, MessageFn msg);
// The next line of the resource data without its CR LF: 1, or 0 at the
// first zero byte, at the end of the resource, or when the data ends
// without a line feed.
int ReadFilLine(std::string* line);
// Value getter over ReadFilLine: 0, 1 or 2 (see GetValueFn).
int GetFilValue(const char* key, char* buf, int size, MessageFn msg);
// Releases the resource data. Always 0.
int CloseFilInput(const char* name, MessageFn msg);
