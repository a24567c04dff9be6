// Field maps: a configuration entry in the field-map index (slot ID - 1) and
// a map record in the data file's root slot ID. An entry without a record of
// its own shares the record of its nMapID and keeps a dummy record in its
// slot, so that every existing entry holds a block.
#include <cstring>
#include <vector>

#include "qvdf/store/recordops.h"
#include "qvdf/store/store.h"
#include "qvdf/store/tableio.h"

namespace {

constexpr int kMapGrowLimit = 10000;
constexpr int kMapGrowExtra = 512;
constexpr uint32_t kBaseMapBit = 0x10;

bool MapLengthOk(uint32_t len) { return len >= kFieldMapFixedSize && len % 2 == 0; }

void FillEntry(FieldMapIndexEntry* e, const ConfigRecord& c, uint16_t mapId) {
  std::memset(e, 0, sizeof *e);
  e->nMapID = mapId;
  e->nAux1 = c.nAux1;
  e->nSourceSystem = static_cast<uint16_t>(c.dwSource >> 16);
  e->nTargetSystem = static_cast<uint16_t>(c.dwTarget >> 16);
  e->nSourceSection = static_cast<uint16_t>(c.dwSource & 0xFFFF);
  e->nTargetSection = static_cast<uint16_t>(c.dwTarget & 0xFFFF);
  e->nAux2 = static_cast<int16_t>(c.nAux2 & 0xFFFF);
  e->nSecType = static_cast<uint8_t>(c.nSecType);
}

// Appends data linked into root slot id, in one write; nothing is appended
// when the slot cannot take it. 0; 6; 16, 13 or 3 as LinkRoot gives them.
int AppendLinked(TableDb* db, int id, const void* data, uint32_t len) {
  return AppendToRoot(&db->file, id, data, len) ? kOk : db->file.nLastCode;
}

}  // namespace

FieldMapIndexEntry* MapEntry(TableDb* db, int id) {
  if (!IsTableOpen(db) || id < 1 || id > db->header.nFieldMapSlots) return nullptr;
  if (!GetRoot(&db->file, id)) return nullptr;
  return FieldMapIndex(db) + (id - 1);
}

namespace {

// Deletes every entry marked in `base` (indexed by ID) and every entry that
// shares the record of a marked one: sharers first, then the entries whose
// record they share. 0, or 6 at the first failed deletion.
int DeleteMarkedMaps(TableDb* db, const std::vector<uint8_t>& base) {
  int slots = db->header.nFieldMapSlots;
  for (int k = 1; k <= slots; ++k) {
    const FieldMapIndexEntry* e = MapEntry(db, k);
    if (!e || base[k] || e->nMapID == k || e->nMapID > slots || !base[e->nMapID]) continue;
    if (DeleteFieldMap(db, k) != kOk) return SetError(db, kErrIo);
  }
  for (int k = 1; k <= slots; ++k) {
    if (base[k] && MapEntry(db, k) && DeleteFieldMap(db, k) != kOk) return SetError(db, kErrIo);
  }
  return kOk;
}

}  // namespace

int DeleteFieldMapsOf(TableDb* db, uint16_t system, int section) {
  int slots = db->header.nFieldMapSlots;
  std::vector<uint8_t> base(static_cast<size_t>(slots) + 1, 0);
  bool any = false;
  for (int k = 1; k <= slots; ++k) {
    const FieldMapIndexEntry* e = MapEntry(db, k);
    if (!e) continue;
    bool src = e->nSourceSystem == system && (section < 0 || e->nSourceSection == section);
    bool dst = e->nTargetSystem == system && (section < 0 || e->nTargetSection == section);
    if (src || dst) base[k] = 1, any = true;
  }
  return any ? DeleteMarkedMaps(db, base) : kOk;
}

int DeleteFieldMapsOfLists(TableDb* db, const std::vector<uint8_t>& lists) {
  int slots = db->header.nFieldMapSlots;
  std::vector<uint8_t> base(static_cast<size_t>(slots) + 1, 0);
  bool any = false;
  auto gone = [&](int16_t list) {
    return list >= 0 && static_cast<size_t>(list) < lists.size() && lists[list];
  };
  for (int k = 1; k <= slots; ++k) {
    if (!MapEntry(db, k)) continue;
    // The record in the entry's own slot: a sharer's dummy names no list
    // and goes with the record it shares.
    int16_t ends[2];
    if (Read(&db->file, GetRoot(&db->file, k), ends, sizeof ends) != sizeof ends) continue;
    if (gone(ends[0]) || gone(ends[1])) base[k] = 1, any = true;
  }
  return any ? DeleteMarkedMaps(db, base) : kOk;
}

bool ReserveBlock(MemBlock* buf, int* have, int size) {
  if (size <= *have) return true;
  bool ok = buf->get() ? buf->ReAlloc(size) : buf->Alloc(size);
  *have = ok ? size : 0;
  return ok;
}

int ReadMapRecord(TableDb* db, int id, MemBlock* buf, int* have, int* len) {
  if (int rc = RequireOpen(db)) return rc;
  int r = ResolveFieldMap(db, id);
  uint32_t addr = r >= 1 && r <= db->header.nFieldMapSlots ? GetRoot(&db->file, r) : 0;
  if (!addr) return SetError(db, kErrSlotEmpty);
  uint32_t stored = 0;
  if (int rc = BlockLength(db, addr, &stored)) return SetError(db, rc);
  if (!MapLengthOk(stored)) return CorruptRecord(db);
  if (!ReserveBlock(buf, have, static_cast<int>(stored))) return SetError(db, kErrNoMemory);
  if (Read(&db->file, addr, buf->get(), stored) != stored) return SetError(db, kErrIo);
  *len = static_cast<int>(stored);
  return kOk;
}

int CountFieldMaps(TableDb* db) { return IsTableOpen(db) ? db->header.nFieldMaps : 0; }

int FieldMapSlots(TableDb* db) { return IsTableOpen(db) ? db->header.nFieldMapSlots : 0; }

bool FieldMapExists(TableDb* db, int id) {
  if (!IsTableOpen(db)) return false;
  bool found = MapEntry(db, id) != nullptr;
  SetError(db, found ? kOk : kErrRange);
  return found;
}

int ResolveFieldMap(TableDb* db, int id) {
  const FieldMapIndexEntry* e = MapEntry(db, id);
  // An entry added without a configuration is cleared; ID 0 names no map,
  // so such an entry keeps its own record.
  return e && e->nMapID != id && e->nMapID != 0 ? e->nMapID : id;
}

int GetFieldMapSize(TableDb* db, int id) {
  if (RequireOpen(db)) return 0;
  int r = ResolveFieldMap(db, id);
  uint32_t addr = r >= 1 && r <= db->header.nFieldMapSlots ? GetRoot(&db->file, r) : 0;
  if (!addr) return SetError(db, kErrSlotEmpty), 0;
  uint32_t len = 0;
  if (int rc = BlockLength(db, addr, &len)) return SetError(db, rc), 0;
  if (!MapLengthOk(len)) return CorruptRecord(db), 0;
  return static_cast<int>(len);
}

int ReadFieldMap(TableDb* db, int id, ConfigRecord* config, void* buf, int size) {
  if (int rc = RequireOpen(db)) return rc;
  const FieldMapIndexEntry* e = MapEntry(db, id);
  if (!e) return SetError(db, kErrRange);
  int r = ResolveFieldMap(db, id);
  uint32_t addr = r >= 1 && r <= db->header.nFieldMapSlots ? GetRoot(&db->file, r) : 0;
  if (!addr) return SetError(db, kErrRange);
  if (config) {
    config->nConfigID = static_cast<uint16_t>(id);
    config->nSecType = e->nSecType;
    config->dwSource = (static_cast<uint32_t>(e->nSourceSystem) << 16) | e->nSourceSection;
    config->dwTarget = (static_cast<uint32_t>(e->nTargetSystem) << 16) | e->nTargetSection;
    config->nMapID = e->nMapID;
    config->nAux1 = e->nAux1;
    config->nAux2 = static_cast<uint32_t>(static_cast<int32_t>(e->nAux2));
  }
  if (buf) {
    uint32_t len = 0;
    if (int rc = BlockLength(db, addr, &len)) return SetError(db, rc);
    if (!MapLengthOk(len)) return CorruptRecord(db);
    uint32_t want = size > 0 ? static_cast<uint32_t>(size) : 0;
    if (!want || Read(&db->file, addr, buf, want) != want) return SetError(db, kErrIo);
  }
  return SetError(db, kOk);
}

int AddFieldMap(TableDb* db, int id, const ConfigRecord* config, const FieldMapRecord* rec) {
  if (int rc = RequireWritable(db)) return rc;
  if (id >= db->header.nFieldMapSlots && id < kMapGrowLimit) {
    if (int rc = GrowFieldMapIndex(db, id + kMapGrowExtra)) return SetError(db, rc);
  }
  if (id < 1 || id > db->header.nFieldMapSlots || GetRoot(&db->file, id))
    return SetError(db, kErrRange);
  if (!config && !rec) return SetError(db, kErrInconsistent);

  if (rec) {
    const FieldListIndexEntry* src = ListEntry(db, rec->nSourceList);
    if (!src) return SetError(db, kErrInconsistent);
    if (src->nFields < 0) return CorruptRecord(db);
    if (int rc = AppendLinked(db, id, rec, FieldMapRecordSize(src->nFields)))
      return SetError(db, rc);
    if ((rec->dwAttribs & kBaseMapBit) && id > db->header.nLastBaseMap)
      db->header.nLastBaseMap = static_cast<uint16_t>(id);
  } else {
    if (!MapEntry(db, config->nMapID)) return SetError(db, kErrRange);
    unsigned char dummy[kDummyMapSize] = {};
    FieldMapRecord head{};
    head.nSourceList = -1;
    head.nTargetList = -1;
    std::strcpy(head.szName, "Dummy map record");
    std::memcpy(dummy, &head, sizeof head);
    if (int rc = AppendLinked(db, id, dummy, kDummyMapSize)) return SetError(db, rc);
  }

  FieldMapIndexEntry* e = FieldMapIndex(db) + (id - 1);
  if (config)
    FillEntry(e, *config, rec ? static_cast<uint16_t>(id) : config->nMapID);
  else
    std::memset(e, 0, sizeof *e);
  db->header.nFieldMaps++;
  MarkDirty(db);
  return SetError(db, kOk);
}

int DeleteFieldMap(TableDb* db, int id) {
  if (!IsTableOpen(db)) return kErrMode;
  if (!MapEntry(db, id)) return SetError(db, kErrRange);
  if (int rc = RequireWritable(db)) return rc;
  uint32_t addr = GetRoot(&db->file, id);
  if (int rc = UnlinkRoot(&db->file, id)) return SetError(db, rc);
  if (Free(&db->file, addr) != kOk) return SetError(db, kErrIo);
  std::memset(FieldMapIndex(db) + (id - 1), 0, sizeof(FieldMapIndexEntry));
  db->header.nFieldMaps--;
  MarkDirty(db);
  return SetError(db, kOk);
}

int DeleteFieldMapAll(TableDb* db, int id) {
  if (int rc = RequireWritable(db)) return rc;
  if (db->header.nFieldMaps == 0) return SetError(db, kErrDependent);
  int slots = db->header.nFieldMapSlots;
  for (int k = 1; k <= slots; ++k) {
    const FieldMapIndexEntry* e = MapEntry(db, k);
    if (k != id && e && e->nMapID == id && DeleteFieldMap(db, k) != kOk)
      return SetError(db, kErrIo);
  }
  if (DeleteFieldMap(db, id) != kOk) return SetError(db, kErrIo);
  return SetError(db, kOk);
}
