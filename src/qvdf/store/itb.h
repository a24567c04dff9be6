// The .itb output (a compacted copy of the intermediate table) and the merge
// of an .itb input into the intermediate table, with the record-copy
// operations that the merge and the subset operation share.
#pragma once

#include <cstdint>

#include "qvdf/store/tabledb.h"
#include "qvutil/types.h"

// Closes db, compacts its file into outPath (outName when null; messages
// name outName), reopens db (mode 1) also after a failed copy. 0, or the
// first failing code, reported through msg. When the close or the reopen
// fails, db is marked unusable (and a later call refuses it with
// "Error <code> trying to open <tablePath>").
int WriteItb(const char* tablePath, TableDb* db, const char* outName, const char* outPath,
             MessageFn msg);
// Copies the live blocks of a table file, in a fixed order and with no
// waste. 0; an open or create code; 4 not a table; 6; 12.
int CompactCopy(const char* srcPath, const char* dstPath);
// Space is never reused within a table, so a long merge piles up dead
// blocks: when they pass both 8 MiB and half the live ones, the open working table is
// closed, copied without waste beside itself, replaced by the copy and
// reopened. Its contents are the same, and it never takes more than about
// three times its live size. 0 (also when nothing needed doing, or the
// copy could not be made and the table goes on as it was), or the code of
// a failed close or reopen (db is then marked unusable).
int CompactWhenWasteful(const char* tablePath, TableDb* db);
// Merges the table file at inPath into db; what was merged before a
// failure stays. 0; 9 missing; the open code; 4 malformed; 13 a record ID
// already used; another store code.
int ReadItb(TableDb* db, const char* inPath, MessageFn msg);

// Copies system id from src to dst (replacing it there with its dependents),
// setting and clearing attribute bits; translator may be null; sectionIds
// lists the sections to drop (nSectionIds may be 0). A charmap the system
// names is copied unless dst has it; one src lacks is reported and skipped.
// 0, or the code of the failing read, add or deletion.
int CopySystem(TableDb* src, TableDb* dst, int id, uint32_t setBits, uint32_t clearBits,
               MessageFn msg, const char* translator, int nSectionIds, const int* sectionIds);
// Every field list under its own ID; with filter, only lists whose system
// and section dst holds, and lists without fields (aliases) whose system
// dst holds. 0, or the first failing code (13 an ID in use).
int CopyFieldLists(TableDb* src, TableDb* dst, bool filter, MessageFn msg);
// Every map entry under its own ID, owning its (resolved) record; with
// filter, only maps whose source and target systems dst holds. 0, or the
// first failing code (13 an ID in use).
int CopyFieldMaps(TableDb* src, TableDb* dst, bool filter, MessageFn msg);
// 0; src's last error when absent; 12; a read or add code.
int CopyCharMap(TableDb* src, TableDb* dst, int id, MessageFn msg);
