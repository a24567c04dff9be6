// The checks of each kind of block of a binary table: the table header and
// its four index arrays, which name the block of every record before the
// walk (itblayout.cpp) looks for them, and each record block's length and
// head against what the index says of it.
#include <cstring>
#include <string>
#include <vector>

#include "qvdf/store/records.h"
#include "tbltool/itblayout_internal.h"

namespace tbltool::itblayout {

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

}  // namespace tbltool::itblayout
