// Field-list records: the fields of one section of one system, found through
// the field-list index by ID (slot ID, IDs from 0). The index entry carries
// copies of the record's keys and field count, its checksum and a mark.
#include <cstring>

#include "qvdf/store/recordops.h"
#include "qvdf/store/store.h"
#include "qvdf/store/tableio.h"

namespace {

constexpr int kListGrowExtra = 64;
constexpr uint8_t kMarked = '1';

FieldListIndexEntry* MutableEntry(TableDb* db, int id) {
  return const_cast<FieldListIndexEntry*>(ListEntry(db, id));
}

// Address and checked length of list id's block. 0; 13; 4; 6.
int ListBlock(TableDb* db, int id, uint32_t* addr, uint32_t* len) {
  const FieldListIndexEntry* e = ListEntry(db, id);
  if (!e) return SetError(db, kErrRange);
  if (e->nFields < 0) return CorruptRecord(db);
  if (int rc = BlockLength(db, e->dwBlock, len)) return SetError(db, rc);
  if (*len != static_cast<uint32_t>(FieldListRecordSize(e->nFields))) return CorruptRecord(db);
  *addr = e->dwBlock;
  return kOk;
}

}  // namespace

const FieldListIndexEntry* ListEntry(TableDb* db, int id) {
  if (!IsTableOpen(db) || id < 0 || id >= db->header.nFieldListSlots) return nullptr;
  const FieldListIndexEntry* e = FieldListIndex(db) + id;
  return e->dwBlock ? e : nullptr;
}

int ReadFieldListHead(TableDb* db, int id, FieldListRecord* head) {
  if (int rc = RequireOpen(db)) return rc;
  uint32_t addr = 0, len = 0;
  if (int rc = ListBlock(db, id, &addr, &len)) return rc;
  if (Read(&db->file, addr, head, kFieldListFixedSize) != kFieldListFixedSize)
    return SetError(db, kErrIo);
  if (head->nFields != ListEntry(db, id)->nFields) return CorruptRecord(db);
  return kOk;
}

int CountFieldLists(TableDb* db) { return IsTableOpen(db) ? db->header.nFieldLists : 0; }

int FieldListSlots(TableDb* db) { return IsTableOpen(db) ? db->header.nFieldListSlots : 0; }

bool FieldListExists(TableDb* db, int id) {
  if (!IsTableOpen(db)) return false;
  bool found = ListEntry(db, id) != nullptr;
  SetError(db, found ? kOk : kErrRange);
  return found;
}

int GetFieldListSize(TableDb* db, int id) {
  const FieldListIndexEntry* e = ListEntry(db, id);
  if (!e) return 0;
  if (e->nFields < 0) return CorruptRecord(db), 0;
  return FieldListRecordSize(e->nFields);
}

int FirstFreeFieldListID(TableDb* db) {
  if (RequireWritable(db)) return -1;
  int slots = db->header.nFieldListSlots;
  const FieldListIndexEntry* index = FieldListIndex(db);
  for (int k = 0; k < slots; ++k)
    if (!index[k].dwBlock) return k;
  if (slots + kListGrowExtra > kMaxRootSlots) return SetError(db, kErrRange), -1;
  if (int rc = GrowFieldListIndex(db, slots + kListGrowExtra)) return SetError(db, rc), -1;
  return slots;
}

int ReadFieldList(TableDb* db, int id, void* buf, int size) {
  if (int rc = RequireOpen(db)) return rc;
  uint32_t addr = 0, len = 0;
  if (int rc = ListBlock(db, id, &addr, &len)) return rc;
  if (size <= 0) return SetError(db, kErrIo);
  uint32_t got = Read(&db->file, addr, buf, static_cast<uint32_t>(size));
  if (got == 0) return SetError(db, kErrIo);
  int16_t nFields = 0;
  if (got >= sizeof nFields) {
    std::memcpy(&nFields, buf, sizeof nFields);
  } else if (Read(&db->file, addr, &nFields, sizeof nFields) != sizeof nFields) {
    return SetError(db, kErrIo);
  }
  if (nFields != ListEntry(db, id)->nFields) return CorruptRecord(db);
  return SetError(db, kOk);
}

int AddFieldList(TableDb* db, int id, const FieldListRecord* rec) {
  if (int rc = RequireWritable(db)) return rc;
  if (!rec || rec->nFields < 0) return SetError(db, kErrInconsistent);
  if (id >= db->header.nFieldListSlots && id < kFieldListGrowLimit) {
    if (int rc = GrowFieldListIndex(db, id + kListGrowExtra)) return SetError(db, rc);
  }
  if (id < 0 || id >= db->header.nFieldListSlots || FieldListIndex(db)[id].dwBlock)
    return SetError(db, kErrRange);
  int size = FieldListRecordSize(rec->nFields);
  uint32_t addr = Append(&db->file, rec, static_cast<uint32_t>(size));
  if (!addr) return SetError(db, kErrIo);
  FieldListIndexEntry& e = FieldListIndex(db)[id];
  std::memset(&e, 0, sizeof e);
  e.nAppID = rec->nAppID;
  e.nSecType = rec->nSecType;
  e.nFields = rec->nFields;
  e.wChecksum = FieldListChecksum(rec, size);
  e.dwBlock = addr;
  e.cMark = 0;
  db->header.nFieldLists++;
  MarkDirty(db);
  return SetError(db, kOk);
}

int DeleteFieldList(TableDb* db, int id) {
  if (int rc = RequireWritable(db)) return rc;
  FieldListIndexEntry* e = MutableEntry(db, id);
  if (!e) return SetError(db, kErrRange);
  if (int rc = Free(&db->file, e->dwBlock)) return SetError(db, rc);
  std::memset(e, 0, sizeof *e);
  db->header.nFieldLists--;
  MarkDirty(db);
  return SetError(db, kOk);
}

uint16_t GetFieldListApp(TableDb* db, int id) {
  const FieldListIndexEntry* e = ListEntry(db, id);
  return e ? e->nAppID : 0xFFFF;
}

uint16_t GetFieldListSecType(TableDb* db, int id) {
  const FieldListIndexEntry* e = ListEntry(db, id);
  return e ? e->nSecType : 0xFFFF;
}

int GetFieldListCount(TableDb* db, int id) {
  const FieldListIndexEntry* e = ListEntry(db, id);
  return e ? e->nFields : -1;
}

int GetFieldListChecksum(TableDb* db, int id) {
  const FieldListIndexEntry* e = ListEntry(db, id);
  return e ? e->wChecksum : -1;
}

int GetFieldListMark(TableDb* db, int id) {
  const FieldListIndexEntry* e = ListEntry(db, id);
  return e ? e->cMark : -1;
}

int MarkFieldList(TableDb* db, int id) {
  if (int rc = RequireWritable(db)) return rc;
  FieldListIndexEntry* e = MutableEntry(db, id);
  if (!e) return SetError(db, kErrRange);
  e->cMark = kMarked;
  MarkDirty(db);
  return SetError(db, kOk);
}
