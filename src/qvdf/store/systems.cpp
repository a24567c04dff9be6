// System records with their sections, found through the system index by ID
// (slot ID - 1); the deletions that take a system's or a section's field
// lists and maps with them; and the table-wide values of the header.
#include <cstring>
#include <vector>

#include "qvdf/store/recordops.h"
#include "qvdf/store/store.h"
#include "qvdf/store/tableio.h"

namespace {

// IDs from here on never grow the index.
constexpr int kSystemGrowLimit = 255;
constexpr int kSystemGrowExtra = 32;

int SectionCountError(const SystemRecord* rec) {
  if (!rec || rec->nSections < 0 || rec->nSections > kMaxSections) return kErrInconsistent;
  return kOk;
}

}  // namespace

int CorruptRecord(TableDb* db) { return SetError(db, kErrBadFormat); }

bool SystemLengthOk(uint32_t len) {
  if (len < static_cast<uint32_t>(kSystemFixedSize)) return false;
  uint32_t extra = len - kSystemFixedSize;
  return extra % kSectionSize == 0 && extra / kSectionSize <= static_cast<uint32_t>(kMaxSections);
}

void RecomputeSectionFlags(SystemRecord* rec) {
  std::memset(rec->anSectionFlags, 0, sizeof rec->anSectionFlags);
  const SectionRecord* s = SystemSections(rec);
  for (int i = 0; i < rec->nSections; ++i) {
    int t = s[i].nSecType;
    if (t >= 0 && t < 10 && (s[i].dwAttributes & 0x2)) rec->anSectionFlags[t] = 1;
  }
}

uint32_t SystemBlock(TableDb* db, int id) {
  if (!IsTableOpen(db) || id < 1 || id > db->header.nSystemSlots) return 0;
  return SystemIndex(db)[id - 1];
}

int ReadWholeSystem(TableDb* db, int id, MemBlock* buf, int* size) {
  if (int rc = RequireOpen(db)) return rc;
  uint32_t addr = SystemBlock(db, id);
  if (!addr) return SetError(db, kErrRange);
  uint32_t len = 0;
  if (int rc = BlockLength(db, addr, &len)) return SetError(db, rc);
  if (!SystemLengthOk(len)) return CorruptRecord(db);
  if (!buf->Alloc(len)) return SetError(db, kErrNoMemory);
  if (int rc = ReadExactBlock(db, addr, buf->get(), len)) return SetError(db, rc);
  if (SystemRecordSize(buf->as<SystemRecord>()->nSections) != static_cast<int>(len))
    return CorruptRecord(db);
  *size = static_cast<int>(len);
  return kOk;
}

int CountSystems(TableDb* db) { return IsTableOpen(db) ? db->header.nSystems : 0; }

int SystemSlots(TableDb* db) { return IsTableOpen(db) ? db->header.nSystemSlots : 0; }

bool SystemExists(TableDb* db, int id) {
  if (!IsTableOpen(db)) return false;
  bool found = SystemBlock(db, id) != 0;
  SetError(db, found ? kOk : kErrRange);
  return found;
}

int GetSystemSize(TableDb* db, int id) {
  uint32_t addr = SystemBlock(db, id);
  if (!addr) return 0;
  uint32_t len = 0;
  if (int rc = BlockLength(db, addr, &len)) return SetError(db, rc), 0;
  if (!SystemLengthOk(len)) return CorruptRecord(db), 0;
  return static_cast<int>(len);
}

int ReadSystem(TableDb* db, int id, void* buf, int size) {
  if (int rc = RequireOpen(db)) return rc;
  uint32_t addr = SystemBlock(db, id);
  if (!addr) return SetError(db, kErrRange);
  uint32_t len = 0;
  if (int rc = BlockLength(db, addr, &len)) return SetError(db, rc);
  if (!SystemLengthOk(len)) return CorruptRecord(db);
  if (size <= 0) return SetError(db, kErrIo);
  uint32_t got = Read(&db->file, addr, buf, static_cast<uint32_t>(size));
  if (got == 0) return SetError(db, kErrIo);
  // The section count must agree with the block, whatever part was asked.
  int16_t nSections = 0;
  constexpr uint32_t kCountEnd = offsetof(SystemRecord, nSections) + sizeof nSections;
  if (got >= kCountEnd) {
    std::memcpy(&nSections, static_cast<char*>(buf) + offsetof(SystemRecord, nSections), 2);
  } else {
    char head[kCountEnd];
    if (Read(&db->file, addr, head, kCountEnd) != kCountEnd) return SetError(db, kErrIo);
    std::memcpy(&nSections, head + offsetof(SystemRecord, nSections), 2);
  }
  if (SystemRecordSize(nSections) != static_cast<int>(len)) return CorruptRecord(db);
  return SetError(db, kOk);
}

int AddSystem(TableDb* db, int id, const SystemRecord* rec) {
  if (int rc = RequireWritable(db)) return rc;
  if (int rc = SectionCountError(rec)) return SetError(db, rc);
  if (id >= db->header.nSystemSlots && id < kSystemGrowLimit) {
    if (int rc = GrowSystemIndex(db, id + kSystemGrowExtra)) return SetError(db, rc);
  }
  if (id < 1 || id > db->header.nSystemSlots || SystemIndex(db)[id - 1] != 0)
    return SetError(db, kErrRange);
  uint32_t addr = Append(&db->file, rec, SystemRecordSize(rec->nSections));
  if (!addr) return SetError(db, kErrIo);
  SystemIndex(db)[id - 1] = addr;
  db->header.nSystems++;
  MarkDirty(db);
  return SetError(db, kOk);
}

int ReplaceSystem(TableDb* db, int id, const SystemRecord* rec) {
  if (int rc = RequireWritable(db)) return rc;
  uint32_t addr = SystemBlock(db, id);
  if (!addr) return SetError(db, kErrRange);
  if (int rc = SectionCountError(rec)) return SetError(db, rc);
  uint32_t moved = Rewrite(&db->file, addr, rec, SystemRecordSize(rec->nSections));
  if (!moved) return SetError(db, kErrIo);
  SystemIndex(db)[id - 1] = moved;
  MarkDirty(db);
  return SetError(db, kOk);
}

int DeleteSystem(TableDb* db, int id) {
  if (int rc = RequireWritable(db)) return rc;
  uint32_t addr = SystemBlock(db, id);
  if (!addr) return SetError(db, kErrRange);
  if (int rc = Free(&db->file, addr)) return SetError(db, rc);
  SystemIndex(db)[id - 1] = 0;
  db->header.nSystems--;
  MarkDirty(db);
  return SetError(db, kOk);
}

int DeleteSystemAll(TableDb* db, int id) {
  if (int rc = RequireWritable(db)) return rc;
  if (DeleteSystem(db, id) != kOk) return SetError(db, kErrDependent);
  if (DeleteFieldMapsOf(db, static_cast<uint16_t>(id), -1) != kOk) return SetError(db, kErrIo);
  int slots = db->header.nFieldListSlots;
  std::vector<uint8_t> deleted(static_cast<size_t>(slots), 0);
  bool any = false;
  for (int k = 0; k < slots; ++k) {
    const FieldListIndexEntry* e = ListEntry(db, k);
    if (!e || e->nAppID != static_cast<uint16_t>(id)) continue;
    if (DeleteFieldList(db, k) != kOk) return SetError(db, kErrIo);
    deleted[k] = 1, any = true;
  }
  // A map of another system may read or write one of these lists.
  if (any && DeleteFieldMapsOfLists(db, deleted) != kOk) return SetError(db, kErrIo);
  return SetError(db, kOk);
}

int DeleteSection(TableDb* db, int systemId, int sectionId) {
  if (int rc = RequireWritable(db)) return rc;
  MemBlock buf;
  int size = 0;
  if (int rc = ReadWholeSystem(db, systemId, &buf, &size)) return rc;
  SystemRecord* rec = buf.as<SystemRecord>();
  SectionRecord* s = SystemSections(rec);
  int n = rec->nSections;
  int at = 0;
  while (at < n && s[at].nSectionID != static_cast<int16_t>(sectionId)) ++at;
  if (at == n) return SetError(db, kErrInconsistent);
  uint16_t secType = static_cast<uint16_t>(s[at].nSecType);
  std::memmove(&s[at], &s[at + 1], sizeof(SectionRecord) * (n - at - 1));
  rec->nSections = static_cast<int16_t>(n - 1);
  RecomputeSectionFlags(rec);
  if (ReplaceSystem(db, systemId, rec) != kOk) return SetError(db, kErrIo);

  if (int rc =
          DeleteFieldMapsOf(db, static_cast<uint16_t>(systemId), static_cast<uint16_t>(sectionId)))
    return SetError(db, rc);
  int slots = db->header.nFieldListSlots;
  std::vector<uint8_t> deleted(static_cast<size_t>(slots), 0);
  bool any = false;
  for (int k = 0; k < slots; ++k) {
    const FieldListIndexEntry* e = ListEntry(db, k);
    if (!e || e->nAppID != static_cast<uint16_t>(systemId) || e->nSecType != secType) continue;
    FieldListRecord head;
    if (int rc = ReadFieldListHead(db, k, &head)) return rc;
    if (head.nSectionID != static_cast<uint16_t>(sectionId)) continue;
    if (int rc = DeleteFieldList(db, k)) return rc;
    deleted[k] = 1, any = true;
  }
  if (any) {
    if (int rc = DeleteFieldMapsOfLists(db, deleted)) return rc;
  }
  return SetError(db, kOk);
}

// Table-wide values: stored in the header, written back at close. The
// setters do not look at the open mode.
int16_t GetMainSystem(TableDb* db) { return IsTableOpen(db) ? db->header.nMainSystem : 0; }
int16_t GetMainClass(TableDb* db) { return IsTableOpen(db) ? db->header.nMainClass : 0; }
uint32_t GetProductID(TableDb* db) { return IsTableOpen(db) ? db->header.dwProductID : 0; }
int16_t GetBundledFlag(TableDb* db) { return IsTableOpen(db) ? db->header.nBundledFlag : 0; }
uint16_t GetLastBaseMap(TableDb* db) { return IsTableOpen(db) ? db->header.nLastBaseMap : 0; }

// The table-wide values live in the header, written back at close.
template <typename T>
static int SetHeaderValue(TableDb* db, T TableHeader::*field, T v) {
  if (int rc = RequireOpen(db)) return rc;
  db->header.*field = v;
  MarkDirty(db);
  return kOk;
}

int SetMainSystem(TableDb* db, int16_t v) {
  return SetHeaderValue(db, &TableHeader::nMainSystem, v);
}
int SetMainClass(TableDb* db, int16_t v) { return SetHeaderValue(db, &TableHeader::nMainClass, v); }
int SetProductID(TableDb* db, uint32_t v) {
  return SetHeaderValue(db, &TableHeader::dwProductID, v);
}
int SetBundledFlag(TableDb* db, int16_t v) {
  return SetHeaderValue(db, &TableHeader::nBundledFlag, v);
}
