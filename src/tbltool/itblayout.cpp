// The structural check of a binary table. Nothing in the file is trusted:
// every address is looked up among the blocks the walk found before it is
// read, every length is checked against the data before it sizes a read.
#include "tbltool/itblayout.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/platform.h"
#include "qvdf/store/records.h"

namespace tbltool {

const char* BlockKindName(BlockKind k, bool plural) {
  switch (k) {
    case BlockKind::kUnreferenced: return plural ? "unreferenced" : "unreferenced block";
    case BlockKind::kTableHeader: return plural ? "table header" : "table header";
    case BlockKind::kSystemIndex: return plural ? "system index" : "system index";
    case BlockKind::kListIndex: return plural ? "field-list index" : "field-list index";
    case BlockKind::kMapIndex: return plural ? "field-map index" : "field-map index";
    case BlockKind::kCharMapIndex: return plural ? "charmap index" : "charmap index";
    case BlockKind::kSystem: return plural ? "systems" : "system";
    case BlockKind::kList: return plural ? "field lists" : "field list";
    case BlockKind::kMap: return plural ? "field maps" : "field map";
    case BlockKind::kCharMap: return plural ? "charmaps" : "charmap";
  }
  return "";
}

namespace {

uint32_t Lookup(const std::map<int, uint32_t>& m, int id) {
  auto it = m.find(id);
  return it == m.end() ? 0 : it->second;
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
  ~FileReader() {
    if (h_ != platform::kInvalidHandle) platform::Env::Get()->CloseFile(h_);
  }
  bool Open(const std::string& path) {
    platform::Env* env = platform::Env::Get();
    if (env->OpenFile(path, platform::Access::kRead, platform::Disposition::kOpenExisting, &h_) != 0)
      return false;
    int64_t size = env->FileSize(h_);
    if (size < 0) return false;
    size_ = static_cast<uint64_t>(size);
    return true;
  }
  uint64_t size() const { return size_; }
  bool ReadAt(uint64_t off, void* dst, size_t n) {
    if (off + n > size_) return false;
    if (off >= start_ && off + n <= start_ + len_) {
      std::memcpy(dst, buf_.get() + (off - start_), n);
      return true;
    }
    platform::Env* env = platform::Env::Get();
    if (n > kWindow) return env->ReadAt(h_, off, dst, n) == static_cast<long>(n);
    if (!buf_) buf_.reset(new char[kWindow]);
    size_t want = static_cast<size_t>(std::min<uint64_t>(kWindow, size_ - off));
    long got = env->ReadAt(h_, off, buf_.get(), want);
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
  // Small: the walk reads one header per block, and a field list's header
  // stands tens of kilobytes after the one before it.
  static constexpr size_t kWindow = 4 << 10;
  platform::FileHandle h_ = platform::kInvalidHandle;
  uint64_t size_ = 0;
  std::unique_ptr<char[]> buf_;
  uint64_t start_ = 0;
  size_t len_ = 0;
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

  void Add(Severity s, bool hasBlock, uint32_t addr, const std::string& where, const std::string& text) {
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
  void Walk();
  // The block at addr, found by the walk or, past a place where the walk
  // broke off, read on its own; null after an error naming `what`.
  ItbBlock* Resolve(uint32_t addr, const std::string& what);
  // Gives the block its role; a block with two roles is an error.
  ItbBlock* Claim(uint32_t addr, BlockKind kind, int id, const std::string& what);
  void Roots();
  void Table();
  void Records();
  void Totals();
  // Puts the blocks found past a broken walk among the others.
  void MergeExtra() {
    for (auto& [addr, b] : extra_) L_->blocks.push_back(b);
    extra_.clear();
    std::sort(L_->blocks.begin(), L_->blocks.end(),
              [](const ItbBlock& a, const ItbBlock& b) { return a.addr < b.addr; });
  }

 private:
  // The first n bytes of the block's payload (n <= its length).
  bool ReadHead(const ItbBlock& b, uint32_t n, std::vector<char>* payload) {
    payload->resize(n);
    return n == 0 || r_->ReadAt(uint64_t{b.addr} + 8, payload->data(), n);
  }
  bool ReadU32s(uint32_t addr, uint32_t count, std::vector<uint32_t>* v) {
    v->assign(count, 0);
    return count == 0 || r_->ReadAt(uint64_t{addr} + 8, v->data(), count * 4u);
  }

  const std::string& name_;
  ItbLayout* L_;
  std::vector<Finding>* out_;
  FileReader* r_;
  std::vector<uint32_t> roots_;
  std::map<uint32_t, ItbBlock> extra_;  // blocks past a broken walk
  std::map<uint32_t, uint32_t> slotRefs_;  // address -> root slots holding it
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
    FileError("the root array at " + HexAddr(h.dwRootArrayOffset) + " (" + std::to_string(rootBytes) +
              " bytes) does not lie inside the file (" + std::to_string(L_->fileSize) + " bytes)");
    return false;
  }
  if (h.dwRootArrayOffset + rootBytes < L_->fileSize)
    Add(Severity::kWarning, false, 0, "file header",
        std::to_string(L_->fileSize - h.dwRootArrayOffset - rootBytes) +
            " bytes follow the root array, which ends a table file");
  if (!ReadU32s(h.dwRootArrayOffset - 8, h.dwRootSlots, &roots_)) {
    FileError("the root array cannot be read");
    return false;
  }
  L_->fileOk = true;
  return true;
}

void Checker::Walk() {
  const uint32_t end = L_->file.dwRootArrayOffset;
  uint32_t addr = sizeof(FileHeader);
  L_->blocks.reserve(4096);
  while (addr < end) {
    BlockHeader bh;
    ItbBlock b;
    b.addr = addr;
    if (uint64_t{addr} + sizeof bh > end || !r_->ReadAt(addr, &bh, sizeof bh)) {
      Add(Severity::kError, true, addr, "", "the block header runs past the end of the data at " +
                                                HexAddr(end));
      return;
    }
    if (uint64_t{addr} + sizeof bh + bh.dwLength > end) {
      Add(Severity::kError, true, addr, "",
          "length " + std::to_string(bh.dwLength) + " runs past the end of the data at " + HexAddr(end));
      return;
    }
    b.len = bh.dwLength;
    b.refs = bh.dwRefCount;
    L_->blocks.push_back(b);
    addr += sizeof bh + bh.dwLength;
  }
  L_->walkComplete = true;
}

ItbBlock* Checker::Resolve(uint32_t addr, const std::string& what) {
  auto it = std::lower_bound(L_->blocks.begin(), L_->blocks.end(), addr,
                             [](const ItbBlock& b, uint32_t a) { return b.addr < a; });
  if (it != L_->blocks.end() && it->addr == addr) return &*it;
  auto e = extra_.find(addr);
  if (e != extra_.end()) return &e->second;
  const uint32_t end = L_->file.dwRootArrayOffset;
  bool past = !L_->walkComplete && (L_->blocks.empty() || addr > L_->blocks.back().addr);
  BlockHeader bh;
  if (past && addr >= sizeof(FileHeader) && uint64_t{addr} + 8 <= end && r_->ReadAt(addr, &bh, 8) &&
      uint64_t{addr} + 8 + bh.dwLength <= end) {
    ItbBlock b;
    b.addr = addr;
    b.len = bh.dwLength;
    b.refs = bh.dwRefCount;
    return &extra_.emplace(addr, b).first->second;
  }
  Add(Severity::kError, false, 0, what, HexAddr(addr) + " is not the address of a block");
  return nullptr;
}

ItbBlock* Checker::Claim(uint32_t addr, BlockKind kind, int id, const std::string& what) {
  ItbBlock* b = Resolve(addr, what);
  if (!b) return nullptr;
  if (b->kind != BlockKind::kUnreferenced) {
    BlockError(*b, "the block is also " + what);
    return nullptr;
  }
  b->kind = kind;
  b->id = id;
  return b;
}

void Checker::Roots() {
  for (uint32_t k = 0; k < roots_.size(); ++k)
    if (roots_[k] != 0) ++slotRefs_[roots_[k]];
}

void Checker::Table() {
  if (roots_.empty() || roots_[0] == 0) {
    Add(Severity::kError, false, 0, "root slot 0", "no table header: root slot 0 is empty");
    return;
  }
  ItbBlock* hb = Claim(roots_[0], BlockKind::kTableHeader, 0, "root slot 0");
  if (!hb) return;
  TableHeader& t = L_->table;
  if (hb->len != sizeof(TableHeader)) {
    BlockError(*hb, "length " + std::to_string(hb->len) + "; a table header has 128 bytes");
    return;
  }
  if (!r_->ReadAt(uint64_t{hb->addr} + 8, &t, sizeof t)) return;
  if (t.wMagic != kTableMagic) {
    BlockError(*hb, "magic " + HexAddr(t.wMagic) + " is not a table header's (0xb0bd)");
    return;
  }
  if (t.nVersion != 4) {
    BlockError(*hb, "table version " + std::to_string(t.nVersion) + "; only version 4 is read");
    return;
  }
  struct Count {
    const char* name;
    int16_t value;
  };
  bool sound = true;
  for (Count c : {Count{"nSystemSlots", t.nSystemSlots}, Count{"nFieldListSlots", t.nFieldListSlots},
                  Count{"nFieldMapSlots", t.nFieldMapSlots}, Count{"nCharMapSlots", t.nCharMapSlots}}) {
    if (c.value <= 0) {
      BlockError(*hb, std::string(c.name) + " is " + std::to_string(c.value) + "; an index needs a slot");
      sound = false;
    }
  }
  for (Count c : {Count{"nSystems", t.nSystems}, Count{"nFieldLists", t.nFieldLists},
                  Count{"nFieldMaps", t.nFieldMaps}, Count{"nCharMaps", t.nCharMaps}}) {
    if (c.value < 0) {
      BlockError(*hb, std::string(c.name) + " is negative (" + std::to_string(c.value) + ")");
      sound = false;
    }
  }
  if (!sound) return;
  if (static_cast<uint32_t>(t.nFieldMapSlots) + 1 != L_->file.dwRootSlots)
    BlockError(*hb, std::to_string(t.nFieldMapSlots) + " field-map slots need " +
                        std::to_string(t.nFieldMapSlots + 1) + " root slots; the file has " +
                        std::to_string(L_->file.dwRootSlots));
  L_->tableOk = true;

  // The four index arrays.
  struct Index {
    BlockKind kind;
    uint32_t addr;
    uint32_t slots;
    uint32_t entry;
  };
  const Index indexes[] = {
      {BlockKind::kSystemIndex, t.dwSystemIndexBlock, static_cast<uint32_t>(t.nSystemSlots), 4},
      {BlockKind::kListIndex, t.dwFieldListIndexBlock, static_cast<uint32_t>(t.nFieldListSlots), 16},
      {BlockKind::kMapIndex, t.dwFieldMapIndexBlock, static_cast<uint32_t>(t.nFieldMapSlots), 16},
      {BlockKind::kCharMapIndex, t.dwCharMapIndexBlock, static_cast<uint32_t>(t.nCharMapSlots), 4},
  };
  std::vector<char> bytes[4];
  bool have[4] = {};
  for (int i = 0; i < 4; ++i) {
    const Index& x = indexes[i];
    std::string what = BlockKindName(x.kind);
    if (x.addr == 0) {
      BlockError(*hb, "the " + what + " has no block");
      continue;
    }
    ItbBlock* b = Claim(x.addr, x.kind, 0, "the " + what);
    if (!b) continue;
    uint32_t want = x.slots * x.entry;
    if (b->len != want) {
      BlockError(*b, "length " + std::to_string(b->len) + "; " + std::to_string(x.slots) + " slots of " +
                         std::to_string(x.entry) + " bytes need " + std::to_string(want));
      if (b->len < want) continue;
    }
    bytes[i].resize(want);
    have[i] = r_->ReadAt(uint64_t{b->addr} + 8, bytes[i].data(), want);
  }

  auto countError = [&](const char* field, int16_t stated, int found, const char* what) {
    if (stated != found)
      BlockError(*hb, std::string(field) + " is " + std::to_string(stated) + ", but " +
                          std::to_string(found) + " " + what + " are stored");
  };
  if (have[0]) {
    int n = 0;
    for (uint32_t i = 0; i < indexes[0].slots; ++i) {
      uint32_t addr;
      std::memcpy(&addr, bytes[0].data() + 4 * i, 4);
      if (!addr) continue;
      ++n;
      int id = static_cast<int>(i) + 1;
      if (Claim(addr, BlockKind::kSystem, id, "system " + std::to_string(id))) L_->systems[id] = addr;
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
      if (Claim(addr, BlockKind::kList, id, "field list " + std::to_string(id))) L_->lists[id] = addr;
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
    if (Claim(roots_[k], BlockKind::kMap, id, "field map " + std::to_string(id))) L_->maps[id] = roots_[k];
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
      if (Claim(addr, BlockKind::kCharMap, id, "charmap " + std::to_string(id))) L_->charmaps[id] = addr;
    }
    countError("nCharMaps", t.nCharMaps, n, "charmaps");
  }
}

void Checker::Records() {
  std::vector<char> p;
  auto check = [&](ItbBlock& b) {
    switch (b.kind) {
      case BlockKind::kSystem: {
        if (b.len < kSystemFixedSize) {
          BlockError(b, "length " + std::to_string(b.len) + " is shorter than a system record (1260)");
          return;
        }
        if (!ReadHead(b, kSystemFixedSize, &p)) return;
        const SystemRecord* s = reinterpret_cast<const SystemRecord*>(p.data());
        if (s->nSections < 0 || s->nSections > kMaxSections)
          BlockError(b, "nSections is " + std::to_string(s->nSections) + "; a system has 0 to 113 sections");
        else if (b.len != static_cast<uint32_t>(SystemRecordSize(s->nSections)))
          BlockError(b, "length " + std::to_string(b.len) + " does not fit its " +
                            std::to_string(s->nSections) + " sections (" +
                            std::to_string(SystemRecordSize(s->nSections)) + ")");
        if (s->nSystemID != b.id)
          BlockError(b, "nSystemID is " + std::to_string(s->nSystemID) + ", but the index holds it as " +
                            std::to_string(b.id));
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
        bool shared = e.nMapID != b.id && e.nMapID >= 1 && e.nMapID < roots_.size() && roots_[e.nMapID] != 0;
        if (shared) return;
        if (b.len < kFieldMapFixedSize) {
          BlockError(b, "length " + std::to_string(b.len) + " is shorter than a field map (72)");
          return;
        }
        if (!ReadHead(b, 2, &p)) return;
        int16_t source;
        std::memcpy(&source, p.data(), 2);
        if (source >= 0 && static_cast<size_t>(source) < listIndex_.size() && listIndex_[source].dwBlock) {
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
        if (n != 256) BlockWarning(b, "nChars is " + std::to_string(n) + "; a stored charmap has 256");
        return;
      }
      default:
        return;
    }
  };
  for (ItbBlock& b : L_->blocks) check(b);
  for (auto& [addr, b] : extra_) check(b);
}

void Checker::Totals() {
  const FileHeader& h = L_->file;
  uint32_t live = 0, largest = 0;
  uint64_t dead = 0;
  auto count = [&](const ItbBlock& b) {
    largest = std::max(largest, b.len);
    if (b.kind != BlockKind::kUnreferenced)
      ++live;
    else
      dead += b.len;
    auto it = slotRefs_.find(b.addr);
    uint32_t held = it == slotRefs_.end() ? 0 : it->second;
    if (b.refs != held)
      BlockError(b, "reference count " + std::to_string(b.refs) + ", but " + std::to_string(held) +
                        (held == 1 ? " root slot holds it" : " root slots hold it"));
  };
  for (const ItbBlock& b : L_->blocks) count(b);
  for (const auto& [addr, b] : extra_) count(b);
  L_->unreferencedBytes = dead;
  uint32_t inUse = 0;
  for (uint32_t r : roots_) inUse += r != 0;
  if (h.dwRootsInUse != inUse)
    FileError("dwRootsInUse is " + std::to_string(h.dwRootsInUse) + ", but " + std::to_string(inUse) +
              " root slots are in use");
  if (L_->tableOk && h.dwBlockCount != live)
    FileError("dwBlockCount is " + std::to_string(h.dwBlockCount) + ", but " + std::to_string(live) +
              " blocks are in use");
  if (h.dwLargestBlock < largest)
    FileError("dwLargestBlock is " + std::to_string(h.dwLargestBlock) + ", smaller than a block of " +
              std::to_string(largest) + " bytes");
  if (L_->tableOk && L_->walkComplete && h.dwWastedBytes != dead)
    FileError("dwWastedBytes is " + std::to_string(h.dwWastedBytes) + ", but the blocks nothing holds make " +
              std::to_string(dead) + " bytes");
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
  c.Walk();
  c.Roots();
  c.Table();
  c.Records();
  c.Totals();
  c.MergeExtra();
  return 0;
}

}  // namespace tbltool
