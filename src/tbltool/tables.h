// Whole records out of an open table, through the record operations alone:
// the loops over every ID of a kind and the buffers that hold a record with
// its variable part.
#pragma once

#include <cstdint>
#include <vector>

#include "qvdf/store/records.h"
#include "qvdf/store/store.h"

namespace tbltool {

// A record's bytes, fixed and variable part together.
struct RecordBuf {
  std::vector<char> bytes;
  template <typename T>
  const T* as() const {
    return reinterpret_cast<const T*>(bytes.data());
  }
  template <typename T>
  T* as() {
    return reinterpret_cast<T*>(bytes.data());
  }
};

// The IDs of each kind that exist, ascending.
std::vector<int> SystemIds(TableDb* db);
std::vector<int> ListIds(TableDb* db);
std::vector<int> MapIds(TableDb* db);
std::vector<int> CharMapIds(TableDb* db);

// Each reads the record of id whole; 0, or the store's code.
int ReadSystemRec(TableDb* db, int id, RecordBuf* rec);
int ReadListRec(TableDb* db, int id, RecordBuf* rec);
int ReadCharMapRec(TableDb* db, int id, RecordBuf* rec);
// The entry's configuration and the map record it uses (its own, or the
// one of its nMapID); *own says whether the record is its own. 0 or a code.
int ReadMapRec(TableDb* db, int id, ConfigRecord* config, RecordBuf* rec, bool* own);

// Number of map entries a record of `bytes` bytes holds.
inline int MapEntries(const RecordBuf& rec) {
  return rec.bytes.size() > kFieldMapFixedSize
             ? static_cast<int>((rec.bytes.size() - kFieldMapFixedSize) / 2)
             : 0;
}
inline int SectionCount(const RecordBuf& rec) {
  return static_cast<int>((rec.bytes.size() - kSystemFixedSize) / kSectionSize);
}
inline int FieldCount(const RecordBuf& rec) {
  return static_cast<int>((rec.bytes.size() - kFieldListFixedSize) / kFieldSize);
}

// The section type names of the split pair's keys; null outside 0 to 9.
const char* SectionTypeKeyName(int type);

}  // namespace tbltool
