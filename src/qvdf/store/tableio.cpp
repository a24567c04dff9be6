// Helpers under every record operation: open and writable checks, index
// growth that builds the larger array before giving up the old one, checked
// block reads, and the write-back of index arrays and header.
#include "qvdf/store/tableio.h"

#include <cstring>
#include <utility>

namespace {

// A copy of the array widened to newSlots entries, the new ones zero.
bool Widen(const MemBlock& old, int oldSlots, int newSlots, int entry, MemBlock* out) {
  size_t newBytes = static_cast<size_t>(newSlots) * entry;
  if (!out->Alloc(newBytes)) return false;
  size_t oldBytes = static_cast<size_t>(oldSlots > 0 ? oldSlots : 0) * entry;
  if (oldBytes) std::memcpy(out->get(), old.get(), oldBytes);
  std::memset(out->as<char>() + oldBytes, 0, newBytes - oldBytes);
  return true;
}

int CheckGrowth(TableDb* db, int oldSlots, int newSlots) {
  int rc = RequireWritable(db);
  if (rc) return rc;
  if (newSlots <= oldSlots || newSlots > kMaxRootSlots) return SetError(db, kErrRange);
  return kOk;
}

int Grow(TableDb* db, MemBlock* index, int16_t oldSlots, int newSlots, int entry,
         int16_t* slotsOut) {
  int rc = CheckGrowth(db, oldSlots, newSlots);
  if (rc) return rc;
  MemBlock grown;
  if (!Widen(*index, oldSlots, newSlots, entry, &grown)) return SetError(db, kErrNoMemory);
  *index = std::move(grown);
  *slotsOut = static_cast<int16_t>(newSlots);
  MarkDirty(db);
  return kOk;
}

}  // namespace

int RequireOpen(TableDb* db) {
  if (!IsTableOpen(db)) return kErrMode;
  return kOk;
}

int RequireWritable(TableDb* db) {
  if (!IsTableOpen(db)) return kErrMode;
  if (db->nMode != 1) return SetError(db, kErrMode);
  return kOk;
}

int GrowSystemIndex(TableDb* db, int newSlots) {
  int16_t slots = IsTableOpen(db) ? db->header.nSystemSlots : 0;
  int rc = Grow(db, &db->systemIndex, slots, newSlots, kSystemIndexEntry, &slots);
  if (rc == kOk) db->header.nSystemSlots = slots;
  return rc;
}

int GrowFieldListIndex(TableDb* db, int newSlots) {
  int16_t slots = IsTableOpen(db) ? db->header.nFieldListSlots : 0;
  int rc = Grow(db, &db->fieldListIndex, slots, newSlots, kFieldListIndexEntry, &slots);
  if (rc == kOk) db->header.nFieldListSlots = slots;
  return rc;
}

int GrowCharMapIndex(TableDb* db, int newSlots) {
  int16_t slots = IsTableOpen(db) ? db->header.nCharMapSlots : 0;
  int rc = Grow(db, &db->charMapIndex, slots, newSlots, kCharMapIndexEntry, &slots);
  if (rc == kOk) db->header.nCharMapSlots = slots;
  return rc;
}

int GrowFieldMapIndex(TableDb* db, int newSlots) {
  int16_t slots = IsTableOpen(db) ? db->header.nFieldMapSlots : 0;
  int rc = CheckGrowth(db, slots, newSlots);
  if (rc) return rc;
  MemBlock grown;
  if (!Widen(db->fieldMapIndex, slots, newSlots, kFieldMapIndexEntry, &grown))
    return SetError(db, kErrNoMemory);
  // Root slots first: once they are added nothing below can fail.
  rc = AddRootSlots(&db->file, newSlots - slots);
  if (rc) return SetError(db, rc);
  db->fieldMapIndex = std::move(grown);
  db->header.nFieldMapSlots = static_cast<int16_t>(newSlots);
  MarkDirty(db);
  return kOk;
}

int BlockLength(TableDb* db, uint32_t addr, uint32_t* len) {
  *len = 0;
  if (!IsTableOpen(db) || addr == 0) return kErrBadFormat;
  BlockHeader bh;
  int rc = PeekBlock(&db->file, addr, &bh);
  if (rc) return rc;
  *len = bh.dwLength;
  return kOk;
}

int ReadExactBlock(TableDb* db, uint32_t addr, void* buf, uint32_t len) {
  uint32_t stored = 0;
  int rc = BlockLength(db, addr, &stored);
  if (rc) return rc;
  if (stored != len) return kErrBadFormat;
  if (len == 0) return kOk;
  if (Read(&db->file, addr, buf, len) != len)
    return db->file.nLastCode == kErrBadFormat ? kErrBadFormat : kErrIo;
  return kOk;
}

int FlushTable(TableDb* db) {
  if (!IsTableOpen(db) || !db->wDirty || db->nMode != 1) return kOk;
  struct Ix {
    const MemBlock* block;
    int slots;
    int entry;
    uint32_t* addr;
  };
  TableHeader& h = db->header;
  uint32_t addrs[4] = {h.dwSystemIndexBlock, h.dwFieldListIndexBlock, h.dwFieldMapIndexBlock,
                       h.dwCharMapIndexBlock};
  const Ix ixs[4] = {
      {&db->systemIndex, h.nSystemSlots, kSystemIndexEntry, &addrs[0]},
      {&db->fieldListIndex, h.nFieldListSlots, kFieldListIndexEntry, &addrs[1]},
      {&db->fieldMapIndex, h.nFieldMapSlots, kFieldMapIndexEntry, &addrs[2]},
      {&db->charMapIndex, h.nCharMapSlots, kCharMapIndexEntry, &addrs[3]},
  };
  for (const Ix& ix : ixs) {
    uint32_t size = static_cast<uint32_t>(ix.slots) * ix.entry;
    uint32_t moved = Rewrite(&db->file, *ix.addr, ix.block->get(), size);
    if (moved == 0) return kErrIo;
    *ix.addr = moved;  // a grown index moves to the end of the file
    h.dwSystemIndexBlock = addrs[0];
    h.dwFieldListIndexBlock = addrs[1];
    h.dwFieldMapIndexBlock = addrs[2];
    h.dwCharMapIndexBlock = addrs[3];
  }
  uint32_t hdr = GetRoot(&db->file, 0);
  if (hdr == 0 || Rewrite(&db->file, hdr, &h, sizeof h) != hdr) return kErrIo;
  if (SetRoot(&db->file, 0, hdr) != kOk) return kErrIo;
  db->wDirty = 0;
  return kOk;
}
