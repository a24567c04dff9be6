// The table database: a data file holding the 128-byte TableHeader (root
// slot 0) and four index arrays through which systems, field lists, field
// maps and charmaps are found. The same file, compacted, is an .itb table.
// Record operations are declared in store.h; all take the TableDb first and
// keep the last failing code.
#pragma once

#include <cstdint>

#include "qvdf/store/datafile.h"
#include "qvdf/store/records.h"

#pragma pack(push, 1)
struct TableHeader {
  uint16_t wMagic;   // 0xB0BD
  int16_t nVersion;  // 4
  uint16_t nLastBaseMap;
  int16_t nSystems;
  int16_t nSystemSlots;  // 64 at create
  int16_t nFieldLists;
  int16_t nFieldListSlots;  // 256 at create
  int16_t nFieldMaps;
  int16_t nFieldMapSlots;  // 512 at create
  uint8_t reserved1[2];
  uint32_t dwSystemIndexBlock;
  uint32_t dwFieldListIndexBlock;
  uint32_t dwFieldMapIndexBlock;
  uint32_t dwCharMapIndexBlock;
  int16_t nCharMaps;
  int16_t nCharMapSlots;  // 64 at create
  int16_t nMainSystem;
  int16_t nMainClass;
  uint32_t dwProductID;
  int16_t nBundledFlag;
  uint8_t reserved2[78];
};
struct FieldListIndexEntry {
  uint16_t nAppID;
  uint16_t nSecType;
  int16_t nFields;
  uint16_t wChecksum;
  uint32_t dwBlock;
  uint8_t cMark;
  uint8_t reserved[3];
};
struct FieldMapIndexEntry {
  uint16_t nMapID;
  int16_t nAux1;
  uint16_t nSourceSystem;
  uint16_t nTargetSystem;
  uint16_t nSourceSection;
  uint16_t nTargetSection;
  int16_t nAux2;
  uint8_t nSecType;
  uint8_t reserved;
};
#pragma pack(pop)
static_assert(sizeof(TableHeader) == 128);
static_assert(sizeof(FieldListIndexEntry) == 16);
static_assert(sizeof(FieldMapIndexEntry) == 16);

constexpr uint16_t kTableMagic = 0xB0BD;

struct TableDb {
  int16_t nLastError = 0;
  uint16_t wDirty = 0;
  int16_t nMode = 0;        // 1 read-write, 0 read-only
  MemBlock systemIndex;     // nSystemSlots u32
  MemBlock fieldListIndex;  // nFieldListSlots FieldListIndexEntry
  MemBlock fieldMapIndex;   // nFieldMapSlots FieldMapIndexEntry
  TableHeader header{};
  DataFile file;
  MemBlock charMapIndex;   // nCharMapSlots u32
  bool bOpen = false;      // false after close: every operation gives 17
  bool bUnusable = false;  // a close or reopen failed; the run must not use it
};

// Creates an empty table file (15048 bytes) and closes it again. 0, or the
// code of the failing data-file step (1, 8, 12, 6, ...).
int CreateTable(const char* path);
// Opens a table: mode 1 read-write, 0 read-only, 2 read-write unless the
// file is read-only. 0; 9 when the file is missing; 4 for a bad header block,
// magic, version (only 4), negative count or capacity, or an index block
// longer than its capacity, lying outside the data or sharing bytes with
// the header or another index, or too few root slots; 12 out of memory (a
// capacity of 0 too); 50 for an index block shorter than its capacity; 6
// for a failed read; any code of Open. The code is kept as last error; on
// failure db is left closed with nothing allocated.
int OpenTable(const char* path, TableDb* db, int mode);
// Writes back header and index arrays when changed, frees them and closes
// the file. 0; 6 when the write-back failed; 1 or 6 from closing the file.
// db is closed afterwards in every case; a second close returns 0.
int CloseTable(TableDb* db);
// Frees everything and closes the file without writing the index arrays;
// returns code and keeps it as last error.
int AbortTable(TableDb* db, int code);
// Writes the records the table still holds in memory to its file now, so
// that a file that cannot take them fails here. 0, or 6 when that write
// (or an earlier one) failed.
int SyncTable(TableDb* db);
// Stores code as last error; returns it.
int SetError(TableDb* db, int code);
// The last error (0 after a success).
int GetError(const TableDb* db);
// true while db is open; every record operation on a closed table gives 17.
bool IsTableOpen(const TableDb* db);

// 16-bit checksum of a field list record: h = h*31 + (signed) byte, over
// len bytes. "abc" gives 30818.
uint16_t FieldListChecksum(const void* rec, int len);
