// The structural check of a binary table. Nothing in the file is trusted:
// every address is looked up among the blocks the walk found before it is
// read, every length is checked against the data before it sizes a read.
// The file header, the walk over the blocks and the totals are here; what
// the table header, its indexes and each record block hold, in itbblocks.cpp.
#include "tbltool/itblayout.h"

#include <algorithm>
#include <cstring>

#include "tbltool/itblayout_internal.h"

namespace tbltool {

const char* BlockKindName(BlockKind k, bool plural) {
  switch (k) {
    case BlockKind::kUnreferenced:
      return plural ? "unreferenced" : "unreferenced block";
    case BlockKind::kTableHeader:
      return plural ? "table header" : "table header";
    case BlockKind::kSystemIndex:
      return plural ? "system index" : "system index";
    case BlockKind::kListIndex:
      return plural ? "field-list index" : "field-list index";
    case BlockKind::kMapIndex:
      return plural ? "field-map index" : "field-map index";
    case BlockKind::kCharMapIndex:
      return plural ? "charmap index" : "charmap index";
    case BlockKind::kSystem:
      return plural ? "systems" : "system";
    case BlockKind::kList:
      return plural ? "field lists" : "field list";
    case BlockKind::kMap:
      return plural ? "field maps" : "field map";
    case BlockKind::kCharMap:
      return plural ? "charmaps" : "charmap";
  }
  return "";
}

namespace {

uint32_t Lookup(const std::vector<uint32_t>& v, int id) {
  return id >= 0 && static_cast<size_t>(id) < v.size() ? v[static_cast<size_t>(id)] : 0;
}

}  // namespace

uint32_t ItbLayout::SystemBlock(int id) const { return Lookup(systems, id); }
uint32_t ItbLayout::ListBlock(int id) const { return Lookup(lists, id); }
uint32_t ItbLayout::MapBlock(int id) const { return Lookup(maps, id); }
uint32_t ItbLayout::CharMapBlock(int id) const { return Lookup(charmaps, id); }

namespace itblayout {

bool Checker::ReadFileHeader() {
  L_->fileSize = r_->size();
  if (L_->fileSize < sizeof(FileHeader)) {
    FileError("the file is " + std::to_string(L_->fileSize) +
              " bytes, shorter than the 28-byte header of a table file");
    return false;
  }
  FileHeader& h = L_->file;
  if (!r_->ReadAt(0, &h, sizeof h)) {
    FileError("the header cannot be read");
    return false;
  }
  if (h.wFileMagic != kFileMagic && h.wFileMagic != kFileMagicWide) {
    FileError("magic " + HexAddr(h.wFileMagic) + " is not a table file's (0xf0f)");
    return false;
  }
  L_->wide = h.wFileMagic == kFileMagicWide;
  if (h.wFileVersion != 3 && h.wFileVersion != 4) {
    FileError("file version " + std::to_string(h.wFileVersion) + " is neither 3 nor 4");
    return false;
  }
  if (h.dwRootSlots == 0 || h.dwRootSlots > static_cast<uint32_t>(kMaxRootSlots)) {
    FileError(std::to_string(h.dwRootSlots) + " root slots; a table file has 1 to 32767");
    return false;
  }
  uint64_t rootBytes = uint64_t{h.dwRootSlots} * (L_->wide ? 8 : 4);
  if (h.dwRootArrayOffset < sizeof(FileHeader) || h.dwRootArrayOffset + rootBytes > L_->fileSize) {
    FileError("the root array at " + HexAddr(h.dwRootArrayOffset) + " (" +
              std::to_string(rootBytes) + " bytes) does not lie inside the file (" +
              std::to_string(L_->fileSize) + " bytes)");
    return false;
  }
  if (h.dwRootArrayOffset + rootBytes < L_->fileSize)
    Add(Severity::kWarning, false, 0, "file header",
        std::to_string(L_->fileSize - h.dwRootArrayOffset - rootBytes) +
            " bytes follow the root array, which ends a table file");
  if (!ReadU32s(h.dwRootArrayOffset, h.dwRootSlots, &roots_)) {
    FileError("the root array cannot be read");
    return false;
  }
  L_->fileOk = true;
  return true;
}

void Checker::Stray(const Ref& ref) {
  std::string text = HexAddr(ref.addr) + " is not the address of a block";
  for (auto b = L_->blocks.rbegin(); b != L_->blocks.rend(); ++b) {
    if (b->addr < ref.addr) {
      if (uint64_t{b->addr} + 8 + b->len > ref.addr)
        text += " (it lies inside the block at " + HexAddr(b->addr) + ")";
      break;
    }
  }
  Add(Severity::kError, false, 0, What(ref.kind, ref.id), text);
}

uint32_t Checker::FindChain(uint32_t p, uint32_t q, std::vector<ItbBlock>* chain) {
  // Enough for every case a rewrite leaves; beyond it the stretch is taken
  // as left-over bytes whole.
  constexpr uint32_t kTries = 4096;
  constexpr int kSteps = 100000;
  for (uint32_t x = p; x < q && x - p < kTries; ++x) {
    chain->clear();
    uint32_t y = x;
    int steps = 0;
    BlockHeader bh;
    while (y < q && steps++ < kSteps) {
      if (uint64_t{y} + sizeof bh > q || !r_->ReadAt(y, &bh, sizeof bh) || !Dead(bh) ||
          uint64_t{y} + sizeof bh + bh.dwLength > q)
        break;
      ItbBlock b;
      b.addr = y;
      b.len = bh.dwLength;
      b.refs = bh.dwRefCount;
      chain->push_back(b);
      y += sizeof bh + bh.dwLength;
    }
    if (y == q) return x;
  }
  chain->clear();
  return q;
}

void Checker::Walk() {
  const uint32_t end = L_->file.dwRootArrayOffset;
  uint32_t p = sizeof(FileHeader);
  SortRefs();
  auto next = refs_.begin();
  L_->blocks.reserve(refs_.size() + 64);
  std::vector<ItbBlock> chain;
  while (p < end) {
    // A holder that points between the blocks the walk found.
    for (; next != refs_.end() && next->addr < p; ++next) Stray(*next);
    const uint32_t to = next == refs_.end() ? end : next->addr;
    if (p < to) {
      // No live block before `to`: dead blocks, and what a rewrite in place
      // left of a longer payload. Unless `to` is no block at all but a
      // holder pointing into the block that stands at p.
      uint32_t from = FindChain(p, to, &chain);
      BlockHeader here, there;
      if (from != p && next != refs_.end() && r_->ReadAt(p, &here, sizeof here) &&
          here.dwLength <= L_->file.dwLargestBlock &&
          uint64_t{p} + sizeof here + here.dwLength <= end &&
          p + sizeof here + here.dwLength > to &&
          (!r_->ReadAt(to, &there, sizeof there) || there.dwLength == 0 ||
           there.dwLength > L_->file.dwLargestBlock ||
           uint64_t{to} + sizeof there + there.dwLength > end)) {
        ItbBlock b;
        b.addr = p;
        b.len = here.dwLength;
        b.refs = here.dwRefCount;
        L_->blocks.push_back(b);
        p += sizeof here + here.dwLength;
        continue;  // the holders inside it are reported at the top
      }
      L_->gapBytes += from - p;
      for (const ItbBlock& b : chain) L_->blocks.push_back(b);
      p = to;
      continue;
    }
    BlockHeader bh;
    if (!r_->ReadAt(p, &bh, sizeof bh)) return;
    ItbBlock b;
    b.addr = p;
    b.len = bh.dwLength;
    b.refs = bh.dwRefCount;
    b.kind = next->kind;
    b.id = next->id;
    ++next;
    if (uint64_t{p} + sizeof bh + bh.dwLength > end) {
      BlockError(b, "length " + std::to_string(bh.dwLength) + " runs past the end of the data at " +
                        HexAddr(end));
      return;
    }
    L_->blocks.push_back(b);
    p += sizeof bh + bh.dwLength;
  }
  for (; next != refs_.end(); ++next) Stray(*next);
  L_->walkComplete = true;
}

void Checker::Totals() {
  const FileHeader& h = L_->file;
  std::vector<uint32_t> held;  // the addresses the root slots hold, sorted
  for (uint32_t r : roots_)
    if (r) held.push_back(r);
  std::sort(held.begin(), held.end());
  const uint32_t inUse = static_cast<uint32_t>(held.size());
  uint32_t live = 0, largest = 0;
  uint64_t dead = 0;
  for (const ItbBlock& b : L_->blocks) {
    largest = std::max(largest, b.len);
    if (b.kind != BlockKind::kUnreferenced)
      ++live;
    else
      dead += b.len;
    auto range = std::equal_range(held.begin(), held.end(), b.addr);
    uint32_t n = static_cast<uint32_t>(range.second - range.first);
    if (b.refs != n)
      BlockError(b, "reference count " + std::to_string(b.refs) + ", but " + std::to_string(n) +
                        (n == 1 ? " root slot holds it" : " root slots hold it"));
  }
  L_->unreferencedBytes = dead;
  if (h.dwRootsInUse != inUse)
    FileError("dwRootsInUse is " + std::to_string(h.dwRootsInUse) + ", but " +
              std::to_string(inUse) + " root slots are in use");
  if (L_->tableOk && L_->walkComplete && h.dwBlockCount != live)
    FileError("dwBlockCount is " + std::to_string(h.dwBlockCount) + ", but " +
              std::to_string(live) + " blocks are in use");
  if (h.dwLargestBlock < largest)
    FileError("dwLargestBlock is " + std::to_string(h.dwLargestBlock) +
              ", smaller than a block of " + std::to_string(largest) + " bytes");
  // Waste is the payload of dead blocks and what rewrites in place cut off.
  uint64_t waste = dead + L_->gapBytes;
  if (L_->tableOk && L_->walkComplete && h.dwWastedBytes != waste)
    FileError("dwWastedBytes is " + std::to_string(h.dwWastedBytes) +
              ", but the blocks nothing holds make " + std::to_string(waste) + " bytes");
}

}  // namespace itblayout

int CheckItbStructure(const std::string& path, ItbLayout* layout, std::vector<Finding>* findings,
                      std::string* error) {
  itblayout::FileReader r;
  if (!r.Open(path)) {
    *error = "cannot be opened for reading";
    return 2;
  }
  itblayout::Checker c(path, layout, findings, &r);
  if (!c.ReadFileHeader()) return 0;
  c.Table();
  c.Walk();
  c.Records();
  c.Totals();
  return 0;
}

}  // namespace tbltool
