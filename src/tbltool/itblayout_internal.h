// What the walk over a binary table (itblayout.cpp) and the checks of each
// kind of block (itbblocks.cpp) share: the reads through a window and the
// checker that holds what the file header, the table header and its
// indexes said of the blocks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qvdf/store/datafile.h"
#include "qvdf/store/records.h"
#include "tbltool/findings.h"
#include "tbltool/itblayout.h"
#include "tbltool/source.h"

namespace tbltool::itblayout {

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

inline std::string Where(BlockKind k, int id) {
  std::string s = BlockKindName(k);
  if (k >= BlockKind::kSystem) s += " " + std::to_string(id);
  return s;
}

// The check of one table file, in the steps CheckItbStructure takes in order.
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

  // The file header and the root array; false when nothing more can be read.
  bool ReadFileHeader();
  // The table header and its four indexes, which claim every record block.
  void Table();
  // Every block in file order, up to the root array.
  void Walk();
  // Each record block against its index.
  void Records();
  // Reference counts and the file header's totals against the walk.
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

}  // namespace tbltool::itblayout
