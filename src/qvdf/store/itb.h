// The .itb output (a compacted copy of the intermediate table) and the merge
// of an .itb input into the intermediate table, with the record-copy
// operations that the merge and the subset operation share.
#pragma once

#include <cstdint>

#include "qvdf/store/tabledb.h"
#include "qvutil/types.h"

// Closes db, compacts its file into outPath, reopens db (mode 1). When the
// close or the reopen fails, db is marked unusable.
int WriteItb(const char* tablePath, TableDb* db, const char* outPath, MessageFn msg);
int CompactCopy(const char* srcPath, const char* dstPath);
// Merges the table file at inPath into db.
int ReadItb(TableDb* db, const char* inPath, MessageFn msg);

// Copies system id from src to dst (replacing it there with its dependents),
// setting and clearing attribute bits; translator may be null; sectionIds
// lists the sections to drop (nSectionIds may be 0).
int CopySystem(TableDb* src, TableDb* dst, int id, uint32_t setBits, uint32_t clearBits,
               MessageFn msg, const char* translator, int nSectionIds, const int* sectionIds);
int CopyFieldLists(TableDb* src, TableDb* dst, bool filter, MessageFn msg);
int CopyFieldMaps(TableDb* src, TableDb* dst, bool filter, MessageFn msg);
int CopyCharMap(TableDb* src, TableDb* dst, int id, MessageFn msg);
