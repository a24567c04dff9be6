// The split pair: an .itr string table of localisable names and an .itf
// keyed resource script. Conversions between table forms are done by a
// converter that the caller hands in (the driver's ConvertTableFile), so
// this module never depends on the dispatchers.
#pragma once

#include <string>

#include "qvutil/types.h"

// Converts one table file into another; true on success. The output's own
// text (a script's comment line) calls it shownAs, or out when that is null.
using ConvertFn = bool (*)(const char* in, FileKind inKind, const char* out, FileKind outKind,
                           const char* shownAs);

// The .itf name of a pair: the .itr name with the extension ".itf"; a
// directory component that begins with "rc." is cut off together with
// everything after it in the directory.
std::string ItfNameFor(const std::string& itrName);

// Splits the table file `source` (an .itb) into itrName and its .itf,
// through an intermediate script of `version` (3 or 4), writing them to
// itrPath and itfPath (the names themselves when null; messages and the
// files' text give the names). 0, or 1 on any failure (reported on the
// standard error stream; the pair may then be incomplete). The
// intermediate script is removed on every path.
int SplitTableFile(int version, const char* source, const char* itrName, const char* itrPath,
                   const char* itfPath, MessageFn msg, ConvertFn convert);
// Reads the pair, through an intermediate script of `version` (3 or 4),
// into a new temporary version-4 table file whose name goes to outName
// (kMaxPath bytes); the caller removes that file. 0; 16 when one file of the
// pair is read-only or the .itr lacks a key of the .itf (warned about); 1 on
// failure, with outName empty and no file left.
int ReadSplitTableFile(int version, const char* itrName, char* outName, MessageFn msg,
                       ConvertFn convert);
