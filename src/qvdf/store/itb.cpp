// Writing an .itb: the intermediate table is closed, its live blocks are
// copied into the output file in a fixed order (header, the four index
// arrays, system, field-list and charmap records, then map records in slot
// order) so that nothing is wasted, and the table is opened again.
#include "qvdf/store/itb.h"

#include <cstddef>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "qvdf/store/tableio.h"

namespace {

constexpr int16_t kOldestCopiedVersion = 3;
constexpr int16_t kNewestCopiedVersion = 4;

// Copies blocks from one open data file to the end of another, each payload
// read straight into the destination's held blocks.
class BlockCopier {
 public:
  BlockCopier(DataFile* src, DataFile* dst) : src_(src), dst_(dst) {}

  int Init() {
    uint32_t largest = src_->header.dwLargestBlock;
    // No block can be larger than the data in front of the root array.
    if (largest > src_->header.dwRootArrayOffset) return kErrBadFormat;
    size_ = largest;
    return kOk;
  }

  // Appends a copy of the block at addr to the destination (into root slot
  // `slot` when >= 0); *out receives the new address. The payload goes
  // straight from the source into the destination's held blocks.
  int Copy(uint32_t addr, uint32_t* out, int slot = -1) {
    *out = AppendCopy(dst_, slot, src_, addr, size_);
    if (*out) return kOk;
    return dst_->nLastCode == kErrBadFormat ? kErrBadFormat : kErrIo;
  }

  // Reads an index block that must be exactly len bytes into idx.
  int LoadIndex(uint32_t addr, int slots, int entrySize, MemBlock* idx, uint32_t* len) {
    if (slots <= 0) return kErrBadFormat;
    *len = static_cast<uint32_t>(slots) * entrySize;
    if (!addr || GetLength(src_, addr) != *len) return kErrBadFormat;
    if (!idx->Alloc(*len)) return kErrNoMemory;
    if (Read(src_, addr, idx->get(), *len) != *len) return kErrIo;
    return kOk;
  }

  DataFile* src() { return src_; }
  DataFile* dst() { return dst_; }

 private:
  DataFile* src_;
  DataFile* dst_;
  uint32_t size_ = 0;  // the longest block the source may hold
};

// Replaces every nonzero u32 address at stride bytes in idx by its copy.
int CopyIndexed(BlockCopier* c, MemBlock* idx, int slots, int stride, int offset) {
  char* base = idx->as<char>();
  for (int i = 0; i < slots; ++i) {
    uint32_t addr;
    std::memcpy(&addr, base + i * stride + offset, 4);
    if (!addr) continue;
    uint32_t copy = 0;
    if (int rc = c->Copy(addr, &copy)) return rc;
    std::memcpy(base + i * stride + offset, &copy, 4);
  }
  return kOk;
}

// Rewrites a placeholder block, which must stay where it is.
int Fill(DataFile* f, uint32_t addr, const void* data, uint32_t len) {
  return Rewrite(f, addr, data, len) == addr ? kOk : kErrIo;
}

// Copies the block of root slot 0 (the table header) with the index arrays
// and every record they reach, and links the copy into slot 0.
int CopyTableStructure(BlockCopier* c, uint32_t headerAddr) {
  TableHeader h;
  if (GetLength(c->src(), headerAddr) != sizeof h) return kErrBadFormat;
  if (Read(c->src(), headerAddr, &h, sizeof h) != sizeof h) return kErrIo;
  if (h.wMagic != kTableMagic || h.nVersion < kOldestCopiedVersion ||
      h.nVersion > kNewestCopiedVersion)
    return kErrBadFormat;
  DataFile* dst = c->dst();
  uint32_t newHeader = Append(dst, &h, sizeof h);
  if (!newHeader) return kErrIo;

  MemBlock sys, lists, maps, chars;
  uint32_t sysLen = 0, listLen = 0, mapLen = 0, charLen = 0;
  if (int rc = c->LoadIndex(h.dwSystemIndexBlock, h.nSystemSlots, kSystemIndexEntry, &sys, &sysLen))
    return rc;
  if (!(h.dwSystemIndexBlock = Append(dst, sys.get(), sysLen))) return kErrIo;
  if (int rc = c->LoadIndex(h.dwFieldListIndexBlock, h.nFieldListSlots, kFieldListIndexEntry,
                            &lists, &listLen))
    return rc;
  if (!(h.dwFieldListIndexBlock = Append(dst, lists.get(), listLen))) return kErrIo;
  if (int rc = c->LoadIndex(h.dwFieldMapIndexBlock, h.nFieldMapSlots, kFieldMapIndexEntry, &maps,
                            &mapLen))
    return rc;
  if (!(h.dwFieldMapIndexBlock = Append(dst, maps.get(), mapLen))) return kErrIo;
  if (int rc = c->LoadIndex(h.dwCharMapIndexBlock, h.nCharMapSlots, kCharMapIndexEntry, &chars,
                            &charLen))
    return rc;
  if (!(h.dwCharMapIndexBlock = Append(dst, chars.get(), charLen))) return kErrIo;

  if (int rc = CopyIndexed(c, &sys, h.nSystemSlots, kSystemIndexEntry, 0)) return rc;
  if (int rc = Fill(dst, h.dwSystemIndexBlock, sys.get(), sysLen)) return rc;
  if (int rc = CopyIndexed(c, &lists, h.nFieldListSlots, kFieldListIndexEntry,
                           offsetof(FieldListIndexEntry, dwBlock)))
    return rc;
  if (int rc = Fill(dst, h.dwFieldListIndexBlock, lists.get(), listLen)) return rc;
  if (int rc = CopyIndexed(c, &chars, h.nCharMapSlots, kCharMapIndexEntry, 0)) return rc;
  if (int rc = Fill(dst, h.dwCharMapIndexBlock, chars.get(), charLen)) return rc;

  if (int rc = Fill(dst, newHeader, &h, sizeof h)) return rc;
  return LinkRoot(dst, 0, newHeader) == kOk ? kOk : kErrIo;
}

int CopyBlocks(DataFile* src, DataFile* dst) {
  BlockCopier c(src, dst);
  if (int rc = c.Init()) return rc;
  int slots = static_cast<int>(src->header.dwRootSlots);
  for (int slot = 0; slot < slots; ++slot) {
    uint32_t addr = GetRoot(src, slot);
    if (!addr) continue;
    if (slot == 0) {
      if (int rc = CopyTableStructure(&c, addr)) return rc;
      continue;
    }
    uint32_t copy = 0;
    if (c.Copy(addr, &copy, slot) != kOk) return kErrIo;
  }
  return kOk;
}

void Report(MessageFn msg, const std::string& text) { SendMessage(msg, kLevelError, text.c_str()); }

}  // namespace

int CompactCopy(const char* srcPath, const char* dstPath) {
  DataFile src, dst;
  if (int rc = Open(srcPath, &src, 0)) return rc;
  if (int rc = Create(dstPath, static_cast<int>(src.header.dwRootSlots))) {
    Close(&src);
    return rc;
  }
  if (int rc = Open(dstPath, &dst, 1)) {
    Close(&src);
    return rc;
  }
  int rc = CopyBlocks(&src, &dst);
  if (Close(&dst) != kOk && rc == kOk) rc = kErrIo;
  if (Close(&src) != kOk && rc == kOk) rc = kErrIo;
  return rc;
}

int WriteItb(const char* tablePath, TableDb* db, const char* outName, const char* outPath,
             MessageFn msg) {
  if (!outPath) outPath = outName;
  if (db->bUnusable || !IsTableOpen(db)) {
    int code = GetError(db) ? GetError(db) : kErrMode;
    Report(msg, "Error " + std::to_string(code) + " trying to open " + tablePath);
    return code;
  }
  if (int rc = CloseTable(db)) {
    db->bUnusable = true;
    Report(msg, "## Error " + std::to_string(rc) + " closing " + tablePath);
    return rc;
  }
  int rc = CompactCopy(tablePath, outPath);
  if (rc)
    Report(msg, "## Error " + std::to_string(rc) + " copying from " + tablePath + " to " + outName);
  // The table is needed again after a failed copy as well.
  if (int reopen = OpenTable(tablePath, db, 1)) {
    db->bUnusable = true;
    Report(msg, "Error " + std::to_string(reopen) + " trying to open " + tablePath);
    return rc ? rc : reopen;
  }
  return rc;
}

int CompactWhenWasteful(const char* tablePath, TableDb* db) {
  if (!IsTableOpen(db) || db->nMode != 1) return kOk;
  const FileHeader& h = db->file.header;
  const uint64_t data = uint64_t{db->file.dwEndOfData} - sizeof(FileHeader);
  const uint64_t wasted = h.dwWastedBytes;
  // Half the live size: the next input may add a whole table of waste
  // before the next look, and the copy needs room of its own. Below the
  // floor a copy costs more than the space it gives back (a merge of many
  // small tables would otherwise copy after every input).
  constexpr uint64_t kWasteFloor = uint64_t{8} << 20;
  if (wasted <= kWasteFloor || wasted <= (data - wasted) / 2) return kOk;

  platform::Env* env = platform::Env::Get();
  platform::PathParts parts = env->SplitPath(tablePath);
  std::string compact;
  if (env->CreateUniqueFile(parts.drive + parts.dir, "ITB", &compact, nullptr) != 0) return kOk;
  if (int rc = CloseTable(db)) {
    env->RemoveFile(compact);
    db->bUnusable = true;
    return rc;
  }
  // The copy replaces the table only when whole; otherwise the table goes on
  // as it was, wasted space and all.
  if (CompactCopy(tablePath, compact.c_str()) != kOk || env->ReplaceFile(compact, tablePath) != 0)
    env->RemoveFile(compact);
  int rc = OpenTable(tablePath, db, 1);
  if (rc != kOk) db->bUnusable = true;
  return rc;
}
