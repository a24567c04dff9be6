// The subset modifier: rebuilds the working table with the generic system
// and the systems a subset file names, their changed attributes, dropped
// sections, aliases and new table-wide values, then swaps it in.
#pragma once

#include "qvdf/store/tabledb.h"
#include "qvutil/types.h"

// 0 with db open on the new table under workPath, or -1 with db still open
// on the unchanged working table (or marked unusable when a reopen failed).
// A db already closed or unusable is refused with -1.
int ModSubset(const char* workPath, TableDb* db, const char* subsetName, MessageFn msg);
// Fills the new, empty, open table dst from src as the subset file says.
// 0; or -1 after the abort message, with dst closed and the file closed.
int CreateSubset(TableDb* src, TableDb* dst, const char* subsetName, MessageFn msg);
// Stores an alias of systemId: a field list without fields named alias (cut
// to 64 characters with a warning) under the first free field-list ID.
// 0; 13 when no ID below kFieldListGrowLimit is free; or the store's code.
int AddAliasRecord(TableDb* dst, int systemId, const char* alias, MessageFn msg);
