// Charmap records: 256-entry character translation tables, found through
// the charmap index by ID (slot ID - 1, IDs from 1). Stored records always
// count 256 characters.
#include <cstring>

#include "qvdf/store/recordops.h"
#include "qvdf/store/store.h"
#include "qvdf/store/tableio.h"

namespace {

constexpr int kCharMapGrowLimit = 1000;
constexpr int kCharMapGrowExtra = 64;
constexpr int kCharMapMinVersion = 2;

}  // namespace

uint32_t CharMapBlock(TableDb* db, int id) {
  if (!IsTableOpen(db) || id < 1 || id > db->header.nCharMapSlots) return 0;
  return CharMapIndex(db)[id - 1];
}

int CountCharMaps(TableDb* db) { return IsTableOpen(db) ? db->header.nCharMaps : 0; }

int CharMapSlots(TableDb* db) { return IsTableOpen(db) ? db->header.nCharMapSlots : 0; }

bool CharMapExists(TableDb* db, int id) {
  if (!IsTableOpen(db)) return false;
  bool found = CharMapBlock(db, id) != 0;
  SetError(db, found ? kOk : kErrRange);
  return found;
}

int GetCharMapSize(TableDb* db, int id) {
  uint32_t addr = CharMapBlock(db, id);
  if (!addr) return 0;
  uint32_t len = 0;
  if (int rc = BlockLength(db, addr, &len)) return SetError(db, rc), 0;
  if (len != static_cast<uint32_t>(kCharMapSize)) return CorruptRecord(db), 0;
  return kCharMapSize;
}

int ReadCharMap(TableDb* db, int id, void* buf, int size) {
  if (int rc = RequireOpen(db)) return rc;
  uint32_t addr = CharMapBlock(db, id);
  if (!addr) return SetError(db, kErrRange);
  uint32_t len = 0;
  if (int rc = BlockLength(db, addr, &len)) return SetError(db, rc);
  if (len != static_cast<uint32_t>(kCharMapSize)) return CorruptRecord(db);
  if (size <= 0 || Read(&db->file, addr, buf, static_cast<uint32_t>(size)) == 0)
    return SetError(db, kErrIo);
  return SetError(db, kOk);
}

int AddCharMap(TableDb* db, int id, const CharMapRecord* rec) {
  if (int rc = RequireWritable(db)) return rc;
  if (db->header.nVersion < kCharMapMinVersion) return SetError(db, kErrCharMapVersion);
  if (!rec) return SetError(db, kErrInconsistent);
  if (id >= db->header.nCharMapSlots && id < kCharMapGrowLimit) {
    if (int rc = GrowCharMapIndex(db, id + kCharMapGrowExtra)) return SetError(db, rc);
  }
  if (id < 1 || id > db->header.nCharMapSlots || CharMapIndex(db)[id - 1])
    return SetError(db, kErrRange);
  CharMapRecord stored;
  std::memcpy(&stored, rec, sizeof stored);
  stored.nChars = 256;
  uint32_t addr = Append(&db->file, &stored, kCharMapSize);
  if (!addr) return SetError(db, kErrIo);
  CharMapIndex(db)[id - 1] = addr;
  db->header.nCharMaps++;
  MarkDirty(db);
  return SetError(db, kOk);
}

int DeleteCharMap(TableDb* db, int id) {
  if (int rc = RequireWritable(db)) return rc;
  uint32_t addr = CharMapBlock(db, id);
  if (!addr) return SetError(db, kErrRange);
  if (int rc = Free(&db->file, addr)) return SetError(db, rc);
  CharMapIndex(db)[id - 1] = 0;
  db->header.nCharMaps--;
  MarkDirty(db);
  return SetError(db, kOk);
}
