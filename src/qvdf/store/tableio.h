// Internals of the table database shared by the record operations: typed
// views of the four index arrays, the open and writable checks every
// operation starts with, index growth that never loses the old array, and
// block reads that tell a corrupt block (4) from a failed transfer (6).
// Not part of the store's public interface.
#pragma once

#include <cstdint>

#include "qvdf/store/tabledb.h"

// Entry sizes of the index arrays.
constexpr int kSystemIndexEntry = 4;
constexpr int kFieldListIndexEntry = 16;
constexpr int kFieldMapIndexEntry = 16;
constexpr int kCharMapIndexEntry = 4;

// Typed views; valid while the table is open. Slot of system ID k is k - 1,
// of field list k is k, of field map k is k - 1, of charmap k is k - 1.
inline uint32_t* SystemIndex(TableDb* db) { return db->systemIndex.as<uint32_t>(); }
inline FieldListIndexEntry* FieldListIndex(TableDb* db) {
  return db->fieldListIndex.as<FieldListIndexEntry>();
}
inline FieldMapIndexEntry* FieldMapIndex(TableDb* db) {
  return db->fieldMapIndex.as<FieldMapIndexEntry>();
}
inline uint32_t* CharMapIndex(TableDb* db) { return db->charMapIndex.as<uint32_t>(); }

// 0 when db is open. Otherwise 17; the last error is stored only when the
// table is open (a closed table is not touched beyond its flag).
int RequireOpen(TableDb* db);
// 0 when db is open read-write; 17 otherwise (stored as last error when open).
int RequireWritable(TableDb* db);
// The header or an index array changed: close must write them back.
inline void MarkDirty(TableDb* db) { db->wDirty = 1; }

// Index growth to newSlots entries, the new entries zeroed and the slot
// count in the header updated. The new array is allocated and filled before
// the old one is freed, so a failure leaves the table exactly as it was.
// Return 0; 12 when memory runs out; 13 when newSlots is not above the
// current count or above 32767. A failure is stored as the last error.
int GrowSystemIndex(TableDb* db, int newSlots);
int GrowFieldListIndex(TableDb* db, int newSlots);
int GrowCharMapIndex(TableDb* db, int newSlots);
// Also adds as many root slots to the data file (the map record of ID k
// lives in root slot k); 1 when those would exceed 32767, table unchanged.
int GrowFieldMapIndex(TableDb* db, int newSlots);

// Stored payload length of the block at addr in *len. Returns 0; 4 when addr
// is 0 or the block does not lie inside the data; 6 when it cannot be read.
// Nothing is reported to the error log and the last error is not touched.
int BlockLength(TableDb* db, uint32_t addr, uint32_t* len);
// Reads the block at addr, which must be exactly `len` bytes long, into buf
// (at least len bytes). Returns 0; 4 when the block is missing, lies outside
// the data or has another length; 6 when the read fails. Last error untouched.
int ReadExactBlock(TableDb* db, uint32_t addr, void* buf, uint32_t len);

// Writes back, when the table is dirty and writable, the four index arrays
// and the header block (what close does first). Returns 0, or 6 with the
// dirty flag left set. Does not close anything.
int FlushTable(TableDb* db);
