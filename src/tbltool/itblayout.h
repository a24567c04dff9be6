// The structure of a binary table file, block by block: the walk from the
// file header over every block to the root array, what each block holds
// (from the root slots, the table header and its four index arrays), and
// every way the structure can disagree with itself: lengths, the index
// arrays, record lengths against their counts, field-list checksums,
// reference counts, counts and the waste total.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qvdf/store/datafile.h"
#include "qvdf/store/tabledb.h"
#include "tbltool/findings.h"

namespace tbltool {

enum class BlockKind : uint8_t {
  kUnreferenced,
  kTableHeader,
  kSystemIndex,
  kListIndex,
  kMapIndex,
  kCharMapIndex,
  kSystem,
  kList,
  kMap,
  kCharMap,
};
constexpr int kBlockKinds = 10;
// "table header", "system", ... (the plural with `plural`).
const char* BlockKindName(BlockKind k, bool plural = false);

struct ItbBlock {
  uint32_t addr = 0;
  uint32_t len = 0;
  uint32_t refs = 0;
  BlockKind kind = BlockKind::kUnreferenced;
  int id = 0;
};

struct ItbLayout {
  uint64_t fileSize = 0;
  FileHeader file{};
  bool fileOk = false;  // the file header could be read and makes sense
  bool wide = false;
  TableHeader table{};
  bool tableOk = false;  // the table header block is there and sound
  bool walkComplete = false;
  std::vector<ItbBlock> blocks;    // in file order
  uint64_t unreferencedBytes = 0;  // payload of blocks nothing holds
  uint64_t gapBytes = 0;           // bytes rewrites in place left behind
  // The block address of each record by its ID (0 for none), for places.
  std::vector<uint32_t> systems, lists, maps, charmaps;

  // "block 0x1c4 (field list 7)" style place of a record; 0 when unknown.
  uint32_t SystemBlock(int id) const;
  uint32_t ListBlock(int id) const;
  uint32_t MapBlock(int id) const;
  uint32_t CharMapBlock(int id) const;
};

// Reads the layout of the table file at path and checks it, adding what it
// finds to *findings (file = `name`). 0; 2 with *error when the file cannot
// be read at all.
int CheckItbStructure(const std::string& path, ItbLayout* layout, std::vector<Finding>* findings,
                      std::string* error);

}  // namespace tbltool
