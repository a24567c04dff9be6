// The split pair: an .itr string table of localisable names and an .itf
// keyed resource script. Conversions between table forms are done by a
// converter that the caller hands in (the driver's ConvertTableFile), so
// this module never depends on the dispatchers.
#pragma once

#include "qvutil/types.h"

// Converts one table file into another; true on success.
using ConvertFn = bool (*)(const char* in, FileKind inKind, const char* out, FileKind outKind);

// Splits the table file `source` (an .itb) into itrName and its .itf, through
// an intermediate script of `version` (3 or 4). 0, or 1 on any failure.
int SplitTableFile(int version, const char* source, const char* itrName, MessageFn msg,
                   ConvertFn convert);
// Reads the pair into a new temporary table file whose name goes to outName
// (kMaxPath bytes). 0, 16 when one file of the pair is read-only, 1 on failure.
int ReadSplitTableFile(int version, const char* itrName, char* outName, MessageFn msg,
                       ConvertFn convert);
