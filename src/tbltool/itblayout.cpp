// The structural check of a binary table. Nothing in the file is trusted:
// every address is looked up among the blocks the walk found before it is
// read, every length is checked against the data before it sizes a read.
#include "tbltool/itblayout.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "qvdf/store/records.h"
#include "tbltool/source.h"

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

namespace {

// Positional reads through a window, so that a walk over thousands of
// blocks in file order costs a few large reads.
class FileReader {
 public:
  bool Open(const std::string& path) {
    if (!file_.Open(path)) return false;
    size_ = file_.size();
    return true;
  }
  uint64_t size() const { return size_; }
  bool ReadAt(uint64_t off, void* dst, size_t n) {
    if (off + n > size_) return false;
    if (off >= start_ && off + n <= start_ + len_) {
      std::memcpy(dst, buf_.get() + (off - start_), n);
      last_ = off;
      return true;
    }
    // Headers far apart (field lists of tens of kilobytes) are read alone;
    // close ones (maps, charmaps) a window at a time.
    const bool sparse = off > last_ + kNear || off < last_;
    last_ = off;
    if (n > kWindow || (sparse && n <= kNear))
      return file_.ReadAt(off, dst, n) == static_cast<long>(n);
    if (!buf_) buf_.reset(new char[kWindow]);
    size_t want = static_cast<size_t>(std::min<uint64_t>(kWindow, size_ - off));
    long got = file_.ReadAt(off, buf_.get(), want);
    if (got < static_cast<long>(n)) {
      len_ = 0;
      return false;
    }
    start_ = off;
    len_ = static_cast<size_t>(got);
    std::memcpy(dst, buf_.get(), n);
    return true;
  }

 private:
  static constexpr size_t kWindow = 64 << 10;
  static constexpr uint64_t kNear = 4 << 10;
  RawFile file_;
  uint64_t size_ = 0;
  std::unique_ptr<char[]> buf_;
  uint64_t start_ = 0;
  size_t len_ = 0;
  uint64_t last_ = 0;  // where the last read began
};

std::string Where(BlockKind k, int id) {
  std::string s = BlockKindName(k);
  if (k >= BlockKind::kSystem) s += " " + std::to_string(id);
  return s;
}

class Checker {
 public:
  Checker(const std::string& name, ItbLayout* layout, std::vector<Finding>* out, FileReader* r)
      : name_(name), L_(layout), out_(out), r_(r) {}

  void Add(Severity s, bool hasBlock, uint32_t addr, const std::string& where,
           const std::string& text) {
    Finding f;
    f.file = name_;
    f.hasBlock = hasBlock;
    f.block = addr;
    f.where = where;
    f.severity = s;
    f.text = text;
    out_->push_back(std::move(f));
  }
  void FileError(const std::string& text) { Add(Severity::kError, false, 0, "file header", text); }
  void BlockError(const ItbBlock& b, const std::string& text) {
    Add(Severity::kError, true, b.addr, Where(b.kind, b.id), text);
  }
  void BlockWarning(const ItbBlock& b, const std::string& text) {
    Add(Severity::kWarning, true, b.addr, Where(b.kind, b.id), text);
  }

  bool ReadFileHeader();
  void Table();
  void Walk();
  void Records();
  void Totals();

 private:
  // What holds a block: the root slots, the table header and its indexes.
  struct Ref {
    uint32_t addr;
    BlockKind kind;
    int id;
  };
  // The holder as messages name it.
  static std::string What(BlockKind kind, int id) {
    if (kind == BlockKind::kTableHeader) return "root slot 0";
    if (kind < BlockKind::kSystem) return std::string("the ") + BlockKindName(kind);
    return Where(kind, id);
  }
  // Notes that a holder has the block at addr; false after an error when
  // the address lies outside the data. Two holders of one block are found
  // once all are known (SortRefs).
  bool Claim(uint32_t addr, BlockKind kind, int id) {
    const uint32_t end = L_->file.dwRootArrayOffset;
    if (addr < sizeof(FileHeader) || uint64_t{addr} + sizeof(BlockHeader) > end) {
      Add(Severity::kError, false, 0, What(kind, id),
          HexAddr(addr) + " lies outside the data (0x1c to " + HexAddr(end) + ")");
      return false;
    }
    refs_.push_back({addr, kind, id});
    return true;
  }
  void SortRefs() {
    std::stable_sort(refs_.begin(), refs_.end(),
                     [](const Ref& a, const Ref& b) { return a.addr < b.addr; });
    size_t kept = 0;
    for (size_t i = 0; i < refs_.size(); ++i) {
      if (kept > 0 && refs_[kept - 1].addr == refs_[i].addr) {
        const Ref& first = refs_[kept - 1];
        Add(Severity::kError, true, first.addr, Where(first.kind, first.id),
            "the block is also " + What(refs_[i].kind, refs_[i].id));
        continue;
      }
      refs_[kept++] = refs_[i];
    }
    refs_.resize(kept);
  }
  // A block's header read where the walk cannot vouch for it yet.
  bool HeaderAt(uint32_t addr, BlockHeader* bh) {
    const uint32_t end = L_->file.dwRootArrayOffset;
    return uint64_t{addr} + sizeof *bh <= end && r_->ReadAt(addr, bh, sizeof *bh) &&
           uint64_t{addr} + sizeof *bh + bh->dwLength <= end;
  }
  // The first offset from p from which a chain of block headers ends
  // exactly at q, or q when there is none: the bytes before it are what a
  // rewrite in place left behind. Dead blocks from it go into *chain.
  uint32_t FindChain(uint32_t p, uint32_t q, std::vector<ItbBlock>* chain);
  // Reports a holder whose address the walk did not find a block at.
  void Stray(const Ref& ref);
  // What a dead block looks like: the store never appends an empty block,
  // nor one longer than the largest, and a block is freed only once no
  // root slot holds it. Stale bytes rarely pass for one.
  bool Dead(const BlockHeader& bh) const {
    return bh.dwLength > 0 && bh.dwLength <= L_->file.dwLargestBlock && bh.dwRefCount == 0;
  }
  // The first n bytes of the block's payload (n <= its length).
  bool ReadHead(const ItbBlock& b, uint32_t n, std::vector<char>* payload) {
    payload->resize(n);
    return n == 0 || r_->ReadAt(uint64_t{b.addr} + 8, payload->data(), n);
  }
  bool ReadU32s(uint64_t at, uint32_t count, std::vector<uint32_t>* v) {
    v->assign(count, 0);
    return count == 0 || r_->ReadAt(at, v->data(), count * 4u);
  }

  const std::string& name_;
  ItbLayout* L_;
  std::vector<Finding>* out_;
  FileReader* r_;
  std::vector<uint32_t> roots_;
  std::vector<Ref> refs_;
  std::vector<FieldListIndexEntry> listIndex_;
  std::vector<FieldMapIndexEntry> mapIndex_;
};

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

void Checker::Table() {
  if (roots_[0] == 0) {
    Add(Severity::kError, false, 0, "root slot 0", "no table header: root slot 0 is empty");
    return;
  }
  const uint32_t headerAt = roots_[0];
  if (!Claim(headerAt, BlockKind::kTableHeader, 0)) return;
  ItbBlock hb;
  hb.addr = headerAt;
  hb.kind = BlockKind::kTableHeader;
  BlockHeader bh;
  if (!HeaderAt(headerAt, &bh)) {
    BlockError(hb, "the block runs past the end of the data");
    return;
  }
  TableHeader& t = L_->table;
  if (bh.dwLength != sizeof(TableHeader)) {
    BlockError(hb, "length " + std::to_string(bh.dwLength) + "; a table header has 128 bytes");
    return;
  }
  if (!r_->ReadAt(uint64_t{headerAt} + 8, &t, sizeof t)) return;
  if (t.wMagic != kTableMagic) {
    BlockError(hb, "magic " + HexAddr(t.wMagic) + " is not a table header's (0xb0bd)");
    return;
  }
  if (t.nVersion != 4) {
    BlockError(hb, "table version " + std::to_string(t.nVersion) + "; only version 4 is read");
    return;
  }
  struct Count {
    const char* name;
    int16_t value;
  };
  bool sound = true;
  for (Count c :
       {Count{"nSystemSlots", t.nSystemSlots}, Count{"nFieldListSlots", t.nFieldListSlots},
        Count{"nFieldMapSlots", t.nFieldMapSlots}, Count{"nCharMapSlots", t.nCharMapSlots}}) {
    if (c.value <= 0) {
      BlockError(
          hb, std::string(c.name) + " is " + std::to_string(c.value) + "; an index needs a slot");
      sound = false;
    }
  }
  for (Count c : {Count{"nSystems", t.nSystems}, Count{"nFieldLists", t.nFieldLists},
                  Count{"nFieldMaps", t.nFieldMaps}, Count{"nCharMaps", t.nCharMaps}}) {
    if (c.value < 0) {
      BlockError(hb, std::string(c.name) + " is negative (" + std::to_string(c.value) + ")");
      sound = false;
    }
  }
  if (!sound) return;
  if (static_cast<uint32_t>(t.nFieldMapSlots) + 1 != L_->file.dwRootSlots)
    BlockError(hb, std::to_string(t.nFieldMapSlots) + " field-map slots need " +
                       std::to_string(t.nFieldMapSlots + 1) + " root slots; the file has " +
                       std::to_string(L_->file.dwRootSlots));
  L_->tableOk = true;

  // The four index arrays, read here: the records they hold must be known
  // before the walk can tell a live block from a dead one.
  struct Index {
    BlockKind kind;
    uint32_t addr;
    uint32_t slots;
    uint32_t entry;
  };
  const Index indexes[] = {
      {BlockKind::kSystemIndex, t.dwSystemIndexBlock, static_cast<uint32_t>(t.nSystemSlots), 4},
      {BlockKind::kListIndex, t.dwFieldListIndexBlock, static_cast<uint32_t>(t.nFieldListSlots),
       16},
      {BlockKind::kMapIndex, t.dwFieldMapIndexBlock, static_cast<uint32_t>(t.nFieldMapSlots), 16},
      {BlockKind::kCharMapIndex, t.dwCharMapIndexBlock, static_cast<uint32_t>(t.nCharMapSlots), 4},
  };
  std::vector<char> bytes[4];
  bool have[4] = {};
  for (int i = 0; i < 4; ++i) {
    const Index& x = indexes[i];
    std::string what = BlockKindName(x.kind);
    if (x.addr == 0) {
      BlockError(hb, "the " + what + " has no block");
      continue;
    }
    if (!Claim(x.addr, x.kind, 0)) continue;
    ItbBlock b;
    b.addr = x.addr;
    b.kind = x.kind;
    if (!HeaderAt(x.addr, &bh)) {
      BlockError(b, "the block runs past the end of the data");
      continue;
    }
    uint32_t want = x.slots * x.entry;
    if (bh.dwLength != want) {
      BlockError(b, "length " + std::to_string(bh.dwLength) + "; " + std::to_string(x.slots) +
                        " slots of " + std::to_string(x.entry) + " bytes need " +
                        std::to_string(want));
      if (bh.dwLength < want) continue;
    }
    bytes[i].resize(want);
    have[i] = r_->ReadAt(uint64_t{x.addr} + 8, bytes[i].data(), want);
  }

  auto countError = [&](const char* field, int16_t stated, int found, const char* what) {
    if (stated != found)
      BlockError(hb, std::string(field) + " is " + std::to_string(stated) + ", but " +
                         std::to_string(found) + " " + what + " are stored");
  };
  L_->systems.assign(indexes[0].slots + 1u, 0);
  L_->lists.assign(indexes[1].slots, 0);
  L_->maps.assign(roots_.size(), 0);
  L_->charmaps.assign(indexes[3].slots + 1u, 0);
  if (have[0]) {
    int n = 0;
    for (uint32_t i = 0; i < indexes[0].slots; ++i) {
      uint32_t addr;
      std::memcpy(&addr, bytes[0].data() + 4 * i, 4);
      if (!addr) continue;
      ++n;
      int id = static_cast<int>(i) + 1;
      if (Claim(addr, BlockKind::kSystem, id)) L_->systems[id] = addr;
    }
    countError("nSystems", t.nSystems, n, "systems");
  }
  if (have[1]) {
    listIndex_.resize(indexes[1].slots);
    std::memcpy(listIndex_.data(), bytes[1].data(), bytes[1].size());
    int n = 0;
    for (uint32_t k = 0; k < listIndex_.size(); ++k) {
      uint32_t addr = listIndex_[k].dwBlock;
      if (!addr) continue;
      ++n;
      int id = static_cast<int>(k);
      if (Claim(addr, BlockKind::kList, id)) L_->lists[id] = addr;
    }
    countError("nFieldLists", t.nFieldLists, n, "field lists");
  }
  if (have[2]) {
    mapIndex_.resize(indexes[2].slots);
    std::memcpy(mapIndex_.data(), bytes[2].data(), bytes[2].size());
  }
  int maps = 0;
  for (uint32_t k = 1; k < roots_.size(); ++k) {
    if (!roots_[k]) {
      if (k <= mapIndex_.size()) {
        static const FieldMapIndexEntry kEmpty{};
        if (std::memcmp(&mapIndex_[k - 1], &kEmpty, sizeof kEmpty) != 0)
          Add(Severity::kWarning, false, 0, "field-map index",
              "entry " + std::to_string(k) + " is set, but root slot " + std::to_string(k) +
                  " holds no map record");
      }
      continue;
    }
    ++maps;
    int id = static_cast<int>(k);
    if (Claim(roots_[k], BlockKind::kMap, id)) L_->maps[id] = roots_[k];
  }
  countError("nFieldMaps", t.nFieldMaps, maps, "field maps");
  if (have[3]) {
    int n = 0;
    for (uint32_t i = 0; i < indexes[3].slots; ++i) {
      uint32_t addr;
      std::memcpy(&addr, bytes[3].data() + 4 * i, 4);
      if (!addr) continue;
      ++n;
      int id = static_cast<int>(i) + 1;
      if (Claim(addr, BlockKind::kCharMap, id)) L_->charmaps[id] = addr;
    }
    countError("charmaps", t.nCharMaps, n, "charmaps");
  }
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

void Checker::Records() {
  std::vector<char> p;
  auto check = [&](ItbBlock& b) {
    switch (b.kind) {
      case BlockKind::kSystem: {
        if (b.len < kSystemFixedSize) {
          BlockError(b,
                     "length " + std::to_string(b.len) + " is shorter than a system record (1260)");
          return;
        }
        if (!ReadHead(b, kSystemFixedSize, &p)) return;
        const SystemRecord* s = reinterpret_cast<const SystemRecord*>(p.data());
        if (s->nSections < 0 || s->nSections > kMaxSections)
          BlockError(b, "nSections is " + std::to_string(s->nSections) +
                            "; a system has 0 to 113 sections");
        else if (b.len != static_cast<uint32_t>(SystemRecordSize(s->nSections)))
          BlockError(b, "length " + std::to_string(b.len) + " does not fit its " +
                            std::to_string(s->nSections) + " sections (" +
                            std::to_string(SystemRecordSize(s->nSections)) + ")");
        if (s->nSystemID != b.id)
          BlockError(b, "nSystemID is " + std::to_string(s->nSystemID) +
                            ", but the index holds it as " + std::to_string(b.id));
        return;
      }
      case BlockKind::kList: {
        // The record itself, its checksum included, is checked through the
        // store with the other records.
        if (b.len < kFieldListFixedSize)
          BlockError(b, "length " + std::to_string(b.len) + " is shorter than a field list (76)");
        const FieldListIndexEntry& e = listIndex_[static_cast<size_t>(b.id)];
        if (e.nFields < 0 || b.len != static_cast<uint32_t>(FieldListRecordSize(e.nFields)))
          BlockError(b, "length " + std::to_string(b.len) + " does not fit the " +
                            std::to_string(e.nFields) + " fields the index gives it");
        if (e.cMark != 0 && e.cMark != '1')
          BlockWarning(b, "mark " + HexAddr(e.cMark) + " is neither 0 nor '1'");
        return;
      }
      case BlockKind::kMap: {
        const size_t k = static_cast<size_t>(b.id);
        if (k > mapIndex_.size()) return;
        const FieldMapIndexEntry& e = mapIndex_[k - 1];
        bool shared =
            e.nMapID != b.id && e.nMapID >= 1 && e.nMapID < roots_.size() && roots_[e.nMapID] != 0;
        if (shared) return;
        if (b.len < kFieldMapFixedSize) {
          BlockError(b, "length " + std::to_string(b.len) + " is shorter than a field map (72)");
          return;
        }
        if (!ReadHead(b, 2, &p)) return;
        int16_t source;
        std::memcpy(&source, p.data(), 2);
        if (source >= 0 && static_cast<size_t>(source) < listIndex_.size() &&
            listIndex_[source].dwBlock) {
          int n = listIndex_[source].nFields;
          if (n >= 0 && b.len != static_cast<uint32_t>(FieldMapRecordSize(n)))
            BlockError(b, "length " + std::to_string(b.len) + " does not fit source list " +
                              std::to_string(source) + " of " + std::to_string(n) + " fields (" +
                              std::to_string(FieldMapRecordSize(n)) + ")");
        }
        return;
      }
      case BlockKind::kCharMap: {
        if (b.len != kCharMapSize) {
          BlockError(b, "length " + std::to_string(b.len) + "; a charmap has 325 bytes");
          return;
        }
        if (!ReadHead(b, 2, &p)) return;
        uint16_t n;
        std::memcpy(&n, p.data(), 2);
        if (n != 256)
          BlockWarning(b, "nChars is " + std::to_string(n) + "; a stored charmap has 256");
        return;
      }
      default:
        return;
    }
  };
  for (ItbBlock& b : L_->blocks) check(b);
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

}  // namespace

int CheckItbStructure(const std::string& path, ItbLayout* layout, std::vector<Finding>* findings,
                      std::string* error) {
  FileReader r;
  if (!r.Open(path)) {
    *error = "cannot be opened for reading";
    return 2;
  }
  Checker c(path, layout, findings, &r);
  if (!c.ReadFileHeader()) return 0;
  c.Table();
  c.Walk();
  c.Records();
  c.Totals();
  return 0;
}

}  // namespace tbltool
