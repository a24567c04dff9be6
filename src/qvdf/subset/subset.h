// The subset modifier: rebuilds the working table with the generic system
// and the systems a subset file names, their changed attributes, dropped
// sections, aliases and new table-wide values, then swaps it in.
#pragma once

#include "qvdf/store/tabledb.h"
#include "qvutil/types.h"

// 0 with db open on the new table under workPath, or -1 with db still open
// on the unchanged working table (or marked unusable when a reopen failed).
int ModSubset(const char* workPath, TableDb* db, const char* subsetName, MessageFn msg);
// 0 or -1; closes dst itself on failure.
int CreateSubset(TableDb* src, TableDb* dst, const char* subsetName, MessageFn msg);
int AddAliasRecord(TableDb* dst, int systemId, const char* alias, MessageFn msg);
