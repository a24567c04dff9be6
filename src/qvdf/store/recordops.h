// Helpers shared by the record operations and the .itb copies: index entry
// lookups that never touch the last error, whole-record reads that check a
// record's length before anything trusts it, and the bulk deletion of field
// maps with their sharers. Not part of the store's public interface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qvdf/store/records.h"
#include "qvdf/store/tabledb.h"
#include "qvutil/mem.h"

// Every record found malformed in a table file goes through here (4), so
// there is one place to break on.
int CorruptRecord(TableDb* db);

// True when a system block of len bytes can hold 0..113 sections exactly.
bool SystemLengthOk(uint32_t len);
// Clears anSectionFlags and sets flag t for every section of type t that
// has attribute bit 0x2. rec must hold rec->nSections sections.
void RecomputeSectionFlags(SystemRecord* rec);

// Index entries of existing records, or null (closed table, ID outside the
// index, empty slot). The last error is not touched.
const FieldListIndexEntry* ListEntry(TableDb* db, int id);
FieldMapIndexEntry* MapEntry(TableDb* db, int id);  // root slot id holds a block
uint32_t SystemBlock(TableDb* db, int id);          // 0 when absent
uint32_t CharMapBlock(TableDb* db, int id);         // 0 when absent

// Reads the whole checked record of system id into buf (resized as needed);
// *size receives its length. 0; 13 absent; 12 no memory; 4 malformed; 6
// unreadable. Stores a failing code as the last error.
int ReadWholeSystem(TableDb* db, int id, MemBlock* buf, int* size);
// Reads the fixed part of field list id, checking the block against its
// index entry. 0; 13; 4; 6 (stored as the last error).
int ReadFieldListHead(TableDb* db, int id, FieldListRecord* head);

// Makes buf at least size bytes, keeping its contents; *have is its size.
// false when memory runs out (the block is then empty and *have 0).
bool ReserveBlock(MemBlock* buf, int* have, int size);
// Reads the record that entry id resolves to, whole, into buf (grown as
// needed); *len receives its length. 0; 10 no record; 4 malformed; 12; 6.
// Stores a failing code as the last error.
int ReadMapRecord(TableDb* db, int id, MemBlock* buf, int* have, int* len);

// Deletes every field-map entry whose source or target system is `system`
// (and, when section >= 0, whose section on that side is `section`),
// together with every entry that shares its map record. One pass marks, one
// deletes. 0, or 6 at the first failed deletion (entries deleted before
// stay deleted).
int DeleteFieldMapsOf(TableDb* db, uint16_t system, int section);
// Deletes every field-map entry whose record's nSourceList or nTargetList
// is a list marked in `lists` (indexed by field-list ID), with the entries
// that share its record, so that no map is left naming a deleted list.
// 0, or 6 at the first failed deletion.
int DeleteFieldMapsOfLists(TableDb* db, const std::vector<uint8_t>& lists);

// A text field up to its NUL or its width, whichever comes first.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
  size_t n = 0;
  while (n < N && field[n]) ++n;
  return std::string(field, n);
}
