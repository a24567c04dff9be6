// The table database: creating a table file with its header and four empty
// index arrays, opening one (checking everything read before it sizes an
// allocation), and closing it with the header and index arrays written
// back. A closed TableDb is clean and closing it again does nothing.
#include "qvdf/store/tabledb.h"

#include <cstring>

#include "qvdf/store/tableio.h"
#include "qvutil/wordscan.h"

namespace {

constexpr int kTableRootSlots = 513;
constexpr int kHeaderSize = sizeof(TableHeader);

// The four index arrays, in the order they are created, read and written.
struct IndexSpec {
  MemBlock TableDb::*block;
  int16_t TableHeader::*slots;
  uint32_t TableHeader::*addr;
  int entry;
};
constexpr IndexSpec kIndexes[4] = {
    {&TableDb::systemIndex, &TableHeader::nSystemSlots, &TableHeader::dwSystemIndexBlock,
     kSystemIndexEntry},
    {&TableDb::fieldListIndex, &TableHeader::nFieldListSlots, &TableHeader::dwFieldListIndexBlock,
     kFieldListIndexEntry},
    {&TableDb::fieldMapIndex, &TableHeader::nFieldMapSlots, &TableHeader::dwFieldMapIndexBlock,
     kFieldMapIndexEntry},
    {&TableDb::charMapIndex, &TableHeader::nCharMapSlots, &TableHeader::dwCharMapIndexBlock,
     kCharMapIndexEntry},
};

// Leaves db closed and empty apart from the last error.
void ReleaseTable(TableDb* db) {
  for (const IndexSpec& ix : kIndexes) (db->*ix.block).Reset();
  db->header = TableHeader{};
  db->wDirty = 0;
  db->nMode = 0;
  db->bOpen = false;
}

// Reads one index array, checked against the capacity in the header.
int LoadIndex(TableDb* db, const IndexSpec& ix) {
  int slots = db->header.*ix.slots;
  if (slots < 0) return kErrBadFormat;
  uint32_t need = static_cast<uint32_t>(slots) * ix.entry;
  MemBlock& block = db->*ix.block;
  if (!block.Alloc(need)) return kErrNoMemory;  // a capacity of 0 lands here too
  uint32_t len = 0;
  int rc = BlockLength(db, db->header.*ix.addr, &len);
  if (rc == kErrIo) return kErrIo;
  if (rc) return kErrBadFormat;
  if (len < need) return kErrDependent;
  if (len > need) return kErrBadFormat;
  if (Read(&db->file, db->header.*ix.addr, block.get(), need) != need) return kErrIo;
  return kOk;
}

int LoadTable(TableDb* db) {
  uint32_t hdr = GetRoot(&db->file, 0);
  uint32_t len = 0;
  int rc = BlockLength(db, hdr, &len);
  if (rc == kErrIo) return kErrIo;
  if (rc || len != kHeaderSize) return kErrBadFormat;
  TableHeader h;
  if (Read(&db->file, hdr, &h, kHeaderSize) != kHeaderSize)
    return db->file.nLastCode == kErrBadFormat ? kErrBadFormat : kErrIo;
  if (h.wMagic != kTableMagic || h.nVersion != 4) return kErrBadFormat;
  if (h.nSystems < 0 || h.nFieldLists < 0 || h.nFieldMaps < 0 || h.nCharMaps < 0)
    return kErrBadFormat;
  db->header = h;
  for (const IndexSpec& ix : kIndexes) {
    rc = LoadIndex(db, ix);
    if (rc) return rc;
  }
  // The map record of ID k lives in root slot k.
  if (db->file.header.dwRootSlots < static_cast<uint32_t>(h.nFieldMapSlots) + 1)
    return kErrBadFormat;
  // Header and index blocks are written back in place at close: two that
  // share bytes would overwrite each other.
  const uint32_t at[5] = {hdr, h.dwSystemIndexBlock, h.dwFieldListIndexBlock,
                          h.dwFieldMapIndexBlock, h.dwCharMapIndexBlock};
  uint64_t end[5];
  for (int i = 0; i < 5; ++i) {
    uint32_t n = 0;
    BlockLength(db, at[i], &n);
    end[i] = uint64_t{at[i]} + sizeof(BlockHeader) + n;
  }
  for (int i = 0; i < 5; ++i)
    for (int j = i + 1; j < 5; ++j)
      if (at[i] < end[j] && at[j] < end[i]) return kErrBadFormat;
  return kOk;
}

}  // namespace

int CreateTable(const char* path) {
  TableDb db;
  db.nMode = 1;
  int rc = Create(path, kTableRootSlots);
  if (rc) return rc;
  rc = Open(path, &db.file, 1);
  if (rc) return rc;
  db.bOpen = true;

  TableHeader& h = db.header;
  h.wMagic = kTableMagic;
  h.nVersion = 4;
  h.nSystemSlots = 64;
  h.nFieldListSlots = 256;
  h.nFieldMapSlots = 512;
  h.nCharMapSlots = 64;
  uint32_t hdr = Append(&db.file, &h, kHeaderSize);
  if (hdr == 0) return AbortTable(&db, kErrIo);
  rc = LinkRoot(&db.file, 0, hdr);
  if (rc) return AbortTable(&db, rc);
  for (const IndexSpec& ix : kIndexes) {
    uint32_t size = static_cast<uint32_t>(h.*ix.slots) * ix.entry;
    MemBlock& block = db.*ix.block;
    if (!block.Alloc(size)) return AbortTable(&db, kErrNoMemory);
    std::memset(block.get(), 0, size);
    uint32_t addr = Append(&db.file, block.get(), size);
    if (addr == 0) return AbortTable(&db, kErrIo);
    h.*ix.addr = addr;
  }
  if (Rewrite(&db.file, hdr, &h, kHeaderSize) != hdr) return AbortTable(&db, kErrIo);
  return CloseTable(&db);
}

int OpenTable(const char* path, TableDb* db, int mode) {
  if (db->bOpen) AbortTable(db, kOk);
  ReleaseTable(db);
  db->nLastError = kOk;
  db->bUnusable = false;
  if (mode == 2) {
    platform::FileAttributes attrs;
    platform::Env* env = platform::Env::Get();
    if (!env->GetAttributes(env->ToOemPath(path), &attrs)) return SetError(db, kErrNotFound);
    mode = attrs.read_only ? 0 : 1;
  }
  int rc = Open(path, &db->file, mode);
  if (rc) return SetError(db, rc);
  db->bOpen = true;
  db->nMode = static_cast<int16_t>(mode);
  rc = LoadTable(db);
  if (rc) return AbortTable(db, rc);
  db->nLastError = kOk;
  db->wDirty = 0;
  return kOk;
}

int CloseTable(TableDb* db) {
  if (!db->bOpen) return kOk;
  if (FlushTable(db) != kOk) return AbortTable(db, kErrIo);
  int rc = Close(&db->file);
  ReleaseTable(db);
  return rc;
}

int AbortTable(TableDb* db, int code) {
  if (db->bOpen) Close(&db->file);
  ReleaseTable(db);
  db->nLastError = static_cast<int16_t>(code);
  return code;
}

int SyncTable(TableDb* db) { return db->bOpen ? Flush(&db->file) : kOk; }

int SetError(TableDb* db, int code) {
  db->nLastError = static_cast<int16_t>(code);
  return code;
}

int GetError(const TableDb* db) { return db->nLastError; }

bool IsTableOpen(const TableDb* db) { return db != nullptr && db->bOpen; }

namespace {

// The checksum's lanes (wordscan::FoldBlocks64).
constexpr int kLanes = 64;

// Powers of 31 modulo 2^16 for one kLanes-byte step: w[j] = 31^(kLanes-1-j),
// step = 31^kLanes.
struct ChecksumPowers {
  uint16_t w[kLanes]{};
  uint16_t step = 1;
  constexpr ChecksumPowers() {
    uint16_t x = 1;
    for (int j = kLanes - 1; j >= 0; --j) {
      w[j] = x;
      x = static_cast<uint16_t>(x * 31u);
    }
    step = x;
  }
};
constexpr ChecksumPowers kChecksumPowers;

// h = h * 31 + byte, kept to 16 bits, is linear: kLanes lanes each fold
// every kLanes-th byte with 31^kLanes, and h is their sum weighted by
// 31^(kLanes-1-j), so the lanes run side by side and the weights are
// applied once at the end.
uint16_t ChecksumBody(const signed char* p, int len) {
  uint16_t lane[kLanes] = {};
  const size_t blocks = static_cast<size_t>(len > 0 ? len : 0) / kLanes;
  wordscan::FoldBlocks64(p, blocks, kChecksumPowers.step, lane);
  unsigned h = 0;
  for (int j = 0; j < kLanes; ++j) h += unsigned{lane[j]} * kChecksumPowers.w[j];
  for (int i = static_cast<int>(blocks) * kLanes; i < len; ++i)
    h = h * 31u + static_cast<unsigned>(p[i]);
  return static_cast<uint16_t>(h & 0xFFFFu);
}

}  // namespace

uint16_t FieldListChecksum(const void* rec, int len) {
  return ChecksumBody(static_cast<const signed char*>(rec), len);
}
