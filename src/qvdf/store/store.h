// Record operations of a table: systems with their sections, table-wide
// values, field lists, field maps with their configurations, charmaps.
// Every operation takes the open TableDb first and returns 0 on success or
// a code of datafile.h (4 for a record whose stored block is malformed);
// a failing operation stores its code as the table's last error. On a
// closed table every operation fails with 17 (counts and getters give 0 or
// their "absent" value) without touching memory. Existence tests set the
// last error to 0, or to 13 when the record is not there.
//
// Iteration: run the ID upward from its first value (0 for field lists, 1
// otherwise) up to the index capacity, stopping after Count* records met.
#pragma once

#include <cstdint>

#include "qvdf/store/records.h"
#include "qvdf/store/tabledb.h"

// ---- systems and sections
int CountSystems(TableDb* db);
int SystemSlots(TableDb* db);  // nSystemSlots
bool SystemExists(TableDb* db, int id);
int GetSystemSize(TableDb* db, int id);  // 0 when absent
// Copies min(size, stored size) bytes. 0; 13 absent; 4 malformed; 6.
int ReadSystem(TableDb* db, int id, void* buf, int size);
// An id at or past the slot count grows the index to id + 32 slots when
// id < 255. 0; 17; 13 ID outside the index or used; 51 section count outside 0..113; 12; 6.
int AddSystem(TableDb* db, int id, const SystemRecord* rec);
// In place when not longer, else moved. 0; 17; 13 absent; 51; 6.
int ReplaceSystem(TableDb* db, int id, const SystemRecord* rec);
// 0; 17; 13 absent; a Free code.
int DeleteSystem(TableDb* db, int id);
// With its field lists, every map from or to it and every map that reads or
// writes one of those lists (and the entries that share those maps'
// records). 0; 17; 50 system not deleted; 6 a dependent.
int DeleteSystemAll(TableDb* db, int id);
// Drops the section (section flags recomputed) with the maps from or to it,
// its field lists and the maps that read or write those lists.
// 0; 17; 13 no system; 51 no such section; 12; 4; 6.
int DeleteSection(TableDb* db, int systemId, int sectionId);

int16_t GetMainSystem(TableDb* db);
// Table-wide setters: 0, or 17 on a closed table (the open mode is not
// looked at).
int SetMainSystem(TableDb* db, int16_t v);
int16_t GetMainClass(TableDb* db);
int SetMainClass(TableDb* db, int16_t v);
uint32_t GetProductID(TableDb* db);
int SetProductID(TableDb* db, uint32_t v);
int16_t GetBundledFlag(TableDb* db);
int SetBundledFlag(TableDb* db, int16_t v);
uint16_t GetLastBaseMap(TableDb* db);

// ---- field lists
int CountFieldLists(TableDb* db);
int FieldListSlots(TableDb* db);  // nFieldListSlots
bool FieldListExists(TableDb* db, int id);
int GetFieldListSize(TableDb* db, int id);  // 76 + 164 * nFields; 0 absent
// Lowest free ID; when every slot is used the index grows by 64 and the old
// slot count is returned. -1 on failure: 17, 12, or 13 past 32767 slots.
int FirstFreeFieldListID(TableDb* db);
// Copies min(size, stored size) bytes. 0; 13; 4 block disagrees with the
// index entry; 6.
int ReadFieldList(TableDb* db, int id, void* buf, int size);
// Field-list IDs below this grow the index when they lie past it; a table
// read from text takes a higher ID only where such growth made room.
constexpr int kFieldListGrowLimit = 1000;
// An id past the index grows it to id + 64 slots when id < kFieldListGrowLimit.
// 0; 17; 13; 51 negative field count; 12; 6.
int AddFieldList(TableDb* db, int id, const FieldListRecord* rec);
int DeleteFieldList(TableDb* db, int id);
uint16_t GetFieldListApp(TableDb* db, int id);      // 0xFFFF when absent
uint16_t GetFieldListSecType(TableDb* db, int id);  // 0xFFFF when absent
int GetFieldListCount(TableDb* db, int id);         // -1 when absent
int GetFieldListChecksum(TableDb* db, int id);      // -1 when absent
int GetFieldListMark(TableDb* db, int id);          // -1 when absent
int MarkFieldList(TableDb* db, int id);

// ---- field maps
int CountFieldMaps(TableDb* db);
int FieldMapSlots(TableDb* db);  // nFieldMapSlots
bool FieldMapExists(TableDb* db, int id);
// The ID whose record the entry uses (its nMapID when that differs), else id.
int ResolveFieldMap(TableDb* db, int id);
// Length of the resolved record; 0 with last error 10 (no record) or 4.
int GetFieldMapSize(TableDb* db, int id);
// config and/or buf may be null. 0; 13 absent; 4; 6 unless exactly size
// bytes were read.
int ReadFieldMap(TableDb* db, int id, ConfigRecord* config, void* buf, int size);
// config and/or rec may be null (a shared map has a config and no record,
// and gets a dummy record of its own). rec must hold 72 + 2 * nFields of its
// source list: callers pad a shorter stored record with -1. An id past the
// index grows it (and the root slots) to id + 512 when id < 10000.
// 0; 17; 13; 51 neither given or no source list; 12; 6; a LinkRoot code.
int AddFieldMap(TableDb* db, int id, const ConfigRecord* config, const FieldMapRecord* rec);
// 0; 13; 17; 6; an UnlinkRoot code.
int DeleteFieldMap(TableDb* db, int id);
// The entries sharing id's record, then id. 0; 17; 50 no maps at all; 6.
int DeleteFieldMapAll(TableDb* db, int id);

// ---- charmaps
int CountCharMaps(TableDb* db);
int CharMapSlots(TableDb* db);  // nCharMapSlots
bool CharMapExists(TableDb* db, int id);
int GetCharMapSize(TableDb* db, int id);                    // 325; 0 absent or malformed
int ReadCharMap(TableDb* db, int id, void* buf, int size);  // 0; 13; 4; 6
// Stored with nChars 256; an id past the index
// grows it to id + 64 when id < 1000.
// 0; 17; 13; 12; 6.
int AddCharMap(TableDb* db, int id, const CharMapRecord* rec);
int DeleteCharMap(TableDb* db, int id);  // 0; 17; 13; a Free code
