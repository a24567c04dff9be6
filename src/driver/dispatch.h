// The three dispatchers between the driver and the format code, and the
// file-to-file converter built on them. The only module that knows every
// format.
#pragma once

#include <cstdint>

#include "qvdf/store/tabledb.h"
#include "qvutil/types.h"

// 0, 16 (read with warnings) or an error code.
int ReadTableFile(const char* tablePath, TableDb* db, const char* name, FileKind kind,
                  MessageFn msg, uint32_t flags, Rc2Carry* carry);
// Always 0.
int ApplyModifierFile(const char* tablePath, TableDb* db, const char* name, FileKind kind,
                      MessageFn msg, uint32_t flags);
int WriteTableFile(const char* tablePath, TableDb* db, const char* name, FileKind kind,
                   MessageFn msg, uint32_t flags, Rc2Carry* carry);

// Converts one table file into another through a temporary table; true on
// success. Reports through StderrMessageFn.
bool ConvertTableFile(const char* in, FileKind inKind, const char* out, FileKind outKind);
// Prints messages above level 50 to the standard error stream.
void StderrMessageFn(int level, const char* text);
