// The block-structured data file: create, open and close, the root slots,
// and appending, reading, rewriting and freeing blocks. Every transfer is a
// positional read or write of a whole header or payload, so no call depends
// on where the previous one left the file position. The file is not trusted:
// every block address and length is checked against the end of the data
// before it is used.
#include "qvdf/store/datafile.h"

#include <cstring>
#include <new>
#include <utility>

#include "qvutil/errlog.h"
#include "qvutil/options.h"

namespace {

constexpr const char* kModCreate = "qvdf\\create";
constexpr const char* kModOpen = "qvdf\\dopen";
constexpr const char* kModGetLen = "qvdf\\getlen";
// Blocks up to this size (header included) move in one transfer.
constexpr size_t kSmallBlock = 4096;

platform::Env* Env() { return platform::Env::Get(); }

bool IsWide(const DataFile* f) { return f->header.wFileMagic == kFileMagicWide; }

// Bytes of the root array in memory and on disk: 4 per slot, 8 when wide.
uint64_t RootBytes(const FileHeader& h) {
  return uint64_t{h.dwRootSlots} * (h.wFileMagic == kFileMagicWide ? 8 : 4);
}

uint32_t* Roots(DataFile* f) { return f->roots.as<uint32_t>(); }

bool WriteAll(platform::FileHandle h, uint64_t off, const void* buf, size_t n) {
  if (n == 0) return true;
  long w = Env()->WriteAt(h, off, buf, n);
  return w >= 0 && static_cast<size_t>(w) == n;
}

bool CacheReady(BlockCache* c) {
  if (!c->buf) c->buf.reset(new (std::nothrow) unsigned char[kBlockCacheSize]);
  return c->buf != nullptr;
}

// Copies into the window the part of a write of n bytes at off that it holds.
void CacheOverlap(BlockCache* c, uint64_t off, const void* data, size_t n) {
  const auto* src = static_cast<const unsigned char*>(data);
  uint64_t end = c->start + c->len;
  if (c->len && off < end && off + n > c->start) {
    uint64_t from = off > c->start ? off : c->start;
    uint64_t to = off + n < end ? off + n : end;
    std::memcpy(c->buf.get() + (from - c->start), src + (from - off), to - from);
  }
}

// Keeps the window equal to the file after a write of n bytes at off: the
// overlap is copied in, and a write that continues the window (or a new one
// when it does not) is taken in as far as the window holds.
void CacheWritten(BlockCache* c, uint64_t off, const void* data, size_t n) {
  const auto* src = static_cast<const unsigned char*>(data);
  uint64_t end = c->start + c->len;
  CacheOverlap(c, off, data, n);
  if (off + n <= end && c->len) return;
  if (c->len && off >= c->start && off <= end && off + n - c->start <= kBlockCacheSize) {
    std::memcpy(c->buf.get() + (end - c->start), src + (end - off), off + n - end);
    c->len = off + n - c->start;
  } else if (n <= kBlockCacheSize && CacheReady(c)) {
    std::memcpy(c->buf.get(), src, n);
    c->start = off;
    c->len = n;
  }
}

// The held blocks are lost: so are the records that point at them, and
// nothing may follow.
bool LoseHeld(DataFile* f) {
  AppendBuffer* p = &f->pending;
  p->failed = true;
  p->len = 0;
  f->cache.len = 0;
  return false;
}

// Waits for the held blocks being written on the writer thread. False when
// that write failed, or an earlier one.
bool Settle(DataFile* f) {
  AppendBuffer* p = &f->pending;
  if (p->behind && p->behind->busy() && !p->behind->Wait()) return LoseHeld(f);
  return !p->failed;
}

// True when [off, off + n) touches the blocks being written on the writer
// thread; Within: lies wholly in them.
bool InFlight(const AppendBuffer* p, uint64_t off, size_t n) {
  const WriteBehind* b = p->behind.get();
  return b && b->busy() && off < b->offset() + b->size() && off + n > b->offset();
}
bool WithinFlight(const AppendBuffer* p, uint64_t off, size_t n) {
  const WriteBehind* b = p->behind.get();
  return b && b->busy() && off >= b->offset() && off + n <= b->offset() + b->size();
}

// Hands the held blocks to the writer thread and goes on with the spare
// buffer; false when either cannot be had.
bool WriteBehindHeld(DataFile* f) {
  AppendBuffer* p = &f->pending;
  if (!p->spare) p->spare.reset(new (std::nothrow) unsigned char[kAppendBufferSize]);
  if (!p->behind) p->behind.reset(new (std::nothrow) WriteBehind);
  if (!p->spare || !p->behind) return false;
  p->behind->Start(f->hFile, p->start, p->buf.get(), p->len);
  std::swap(p->buf, p->spare);
  p->len = 0;
  return true;
}

// Writes the held appended blocks: now, or with behind set on the writer
// thread, after the write before them is done. A failure is kept (LoseHeld).
bool FlushPending(DataFile* f, bool behind = false) {
  AppendBuffer* p = &f->pending;
  if (!Settle(f)) return false;
  if (p->len == 0) return true;
  if (behind && WriteBehindHeld(f)) return true;
  if (!WriteAll(f->hFile, p->start, p->buf.get(), p->len)) return LoseHeld(f);
  p->len = 0;
  return true;
}

// True when [off, off + n) lies wholly in the held blocks.
bool InPending(const AppendBuffer* p, uint64_t off, size_t n) {
  return p->len && off >= p->start && off + n <= p->start + p->len;
}

// Positional write through the window; a failed write empties it, since the
// file may then hold part of the data. A write into the held blocks changes
// them in memory; one that reaches past their start otherwise writes them first.
bool WriteAll(DataFile* f, uint64_t off, const void* buf, size_t n) {
  if (n == 0) return true;
  AppendBuffer* p = &f->pending;
  if (p->failed) return false;
  if (InPending(p, off, n)) {
    std::memcpy(p->buf.get() + (off - p->start), buf, n);
    CacheOverlap(&f->cache, off, buf, n);
    return true;
  }
  if (p->len && off + n > p->start && !FlushPending(f)) return false;
  if (InFlight(p, off, n) && !Settle(f)) return false;
  if (!WriteAll(f->hFile, off, buf, n)) {
    f->cache.len = 0;
    return false;
  }
  CacheWritten(&f->cache, off, buf, n);
  return true;
}

// Positional read through the window: up to n bytes at off, fewer at the
// end of the file, or -1. Small reads that miss fill the window from off.
long ReadAt(DataFile* f, uint64_t off, void* dst, size_t n) {
  AppendBuffer* p = &f->pending;
  if (InPending(p, off, n)) {
    if (n) std::memcpy(dst, p->buf.get() + (off - p->start), n);
    return static_cast<long>(n);
  }
  // The writer thread only reads the blocks it writes.
  if (WithinFlight(p, off, n)) {
    if (n) std::memcpy(dst, p->behind->data() + (off - p->behind->offset()), n);
    return static_cast<long>(n);
  }
  if (p->len && off + n > p->start && !FlushPending(f)) return -1;
  BlockCache* c = &f->cache;
  if (c->len && off >= c->start && off + n <= c->start + c->len) {
    if (n) std::memcpy(dst, c->buf.get() + (off - c->start), n);
    return static_cast<long>(n);
  }
  if (n > kBlockCacheSize / 2 || !CacheReady(c)) {
    if (InFlight(p, off, n) && !Settle(f)) return -1;
    return Env()->ReadAt(f->hFile, off, dst, n);
  }
  // The window stops where the held blocks begin: the file is not yet them.
  size_t want = kBlockCacheSize;
  if (p->len && p->start - off < want) want = static_cast<size_t>(p->start - off);
  if (InFlight(p, off, want) && !Settle(f)) return -1;
  c->len = 0;
  long got = Env()->ReadAt(f->hFile, off, c->buf.get(), want);
  if (got < 0) return got;
  c->start = off;
  c->len = static_cast<size_t>(got);
  size_t take = n < c->len ? n : c->len;
  if (take) std::memcpy(dst, c->buf.get(), take);
  return static_cast<long>(take);
}

// Reads the header of the block at addr after checking that header and
// payload lie inside the data. 0, 4 (outside the data or unreadable
// header), or 6 (the read failed).
int ReadBlockHeader(DataFile* f, uint32_t addr, BlockHeader* bh) {
  uint64_t end = f->dwEndOfData;
  if (addr < sizeof(FileHeader) || uint64_t{addr} + sizeof(BlockHeader) > end) return kErrBadFormat;
  long n = ReadAt(f, addr, bh, sizeof *bh);
  if (n < 0) return kErrIo;
  if (n != static_cast<long>(sizeof *bh)) return kErrBadFormat;
  if (uint64_t{addr} + sizeof(BlockHeader) + bh->dwLength > end) return kErrBadFormat;
  return kOk;
}

bool WriteBlockHeader(DataFile* f, uint32_t addr, const BlockHeader& bh) {
  return WriteAll(f, addr, &bh, sizeof bh);
}

bool SlotInRange(const DataFile* f, int slot) {
  return slot >= 0 && static_cast<uint32_t>(slot) < f->header.dwRootSlots;
}

// Leaves f as a freshly constructed object.
void Reset(DataFile* f) {
  f->roots.Reset();
  f->nMode = 0;
  f->wDirty = 0;
  f->dwEndOfData = 0;
  f->hFile = platform::kInvalidHandle;
  f->header = FileHeader{};
  f->nLastCode = 0;
  f->cache = BlockCache{};
  // The writer first: its write must end before its buffer goes.
  f->pending.behind.reset();
  f->pending = AppendBuffer{};
}

int OpenFailed(DataFile* f, const char* path, int line, int code) {
  if (f->hFile != platform::kInvalidHandle) CloseFileHandle(f->hFile, kModOpen, line);
  f->hFile = platform::kInvalidHandle;
  Reset(f);
  return ErrorLogErrorS(kModOpen, line, path, code);
}

}  // namespace

int Create(const char* path, int nRootSlots) {
  if (nRootSlots < 0 || nRootSlots > kMaxRootSlots) return kErrSlotsOrClose;
  int status = 0;
  platform::FileHandle h = platform::kInvalidHandle;
  if (OpenFileMode(path, kModeWrite, &status, &h, kModCreate, 110) != 0)
    return ErrorLogErrorS(kModCreate, 111, path, kErrCreate);

  // Header and zeroed root array go out in one write.
  MemBlock buf;
  size_t total = sizeof(FileHeader) + size_t{4} * nRootSlots;
  if (nRootSlots == 0 || !buf.Alloc(total)) {
    CloseFileHandle(h, kModCreate, 112);
    return ErrorLogErrorS(kModCreate, 113, path, kErrNoMemory);
  }
  std::memset(buf.get(), 0, total);
  FileHeader fh{};
  fh.wFileMagic = kFileMagic;
  fh.wFileVersion = 3;
  fh.dwRootSlots = static_cast<uint32_t>(nRootSlots);
  fh.dwRootArrayOffset = sizeof(FileHeader);
  std::memcpy(buf.get(), &fh, sizeof fh);
  bool ok = WriteAll(h, 0, buf.get(), total);
  buf.Reset();
  if (!ok) {
    ErrorLogErrorS(kModCreate, 114, path, -1);
    CloseFileHandle(h, kModCreate, 115);
    return kErrIo;
  }
  if (CloseFileHandle(h, kModCreate, 116) != 0)
    return ErrorLogErrorS(kModCreate, 117, path, kErrSlotsOrClose);
  return kOk;
}

int Open(const char* path, DataFile* f, int mode) {
  Reset(f);
  if (mode != 0 && mode != 1) return ErrorLogErrorS(kModOpen, 120, path, kErrMode);
  f->nMode = static_cast<int16_t>(mode);
  int status = 0;
  platform::FileHandle h = platform::kInvalidHandle;
  if (OpenFileMode(path, mode == 0 ? kModeRead : kModeReadWrite, &status, &h, kModOpen, 121) != 0) {
    Reset(f);
    ErrorLogErrorS(kModOpen, 122, path, 0);
    return kErrNotFound;
  }
  f->hFile = h;
  f->nMode = static_cast<int16_t>(mode);

  long n = Env()->ReadAt(h, 0, &f->header, sizeof f->header);
  if (n != static_cast<long>(sizeof f->header)) return OpenFailed(f, path, 123, kErrIo);
  const FileHeader& fh = f->header;
  if ((fh.wFileMagic != kFileMagic && fh.wFileMagic != kFileMagicWide) ||
      fh.wFileVersion < 3 || fh.wFileVersion > 4)
    return OpenFailed(f, path, 124, kErrBadFormat);
  int64_t size = Env()->FileSize(h);
  if (size < 0) return OpenFailed(f, path, 125, kErrIo);
  if (fh.dwRootSlots > static_cast<uint32_t>(kMaxRootSlots) ||
      fh.dwRootArrayOffset < sizeof(FileHeader) ||
      uint64_t{fh.dwRootArrayOffset} > static_cast<uint64_t>(size))
    return OpenFailed(f, path, 126, kErrBadFormat);

  uint64_t bytes = RootBytes(fh);
  if (!f->roots.Alloc(bytes)) return OpenFailed(f, path, 127, kErrNoMemory);
  n = Env()->ReadAt(h, fh.dwRootArrayOffset, f->roots.get(), bytes);
  if (n < 0 || static_cast<uint64_t>(n) != bytes) return OpenFailed(f, path, 128, kErrIo);

  // The next block overwrites the old root array; close writes it anew.
  f->dwEndOfData = fh.dwRootArrayOffset;
  f->wDirty = 0;
  return kOk;
}

int Close(DataFile* f) {
  if (f->hFile == platform::kInvalidHandle) {
    Reset(f);
    return kOk;
  }
  bool writeFailed = false;
  if (f->nMode == 1 && !FlushPending(f)) {
    // Records may point at the lost blocks: leave the old header in place.
    writeFailed = true;
  } else if (f->wDirty && f->nMode == 1) {
    f->header.dwRootArrayOffset = f->dwEndOfData;
    writeFailed = !WriteAll(f, 0, &f->header, sizeof f->header) ||
                  !WriteAll(f, f->dwEndOfData, f->roots.get(), RootBytes(f->header));
  }
  int closed = CloseFileHandle(f->hFile, kModOpen, 130);
  Reset(f);
  if (writeFailed) return kErrIo;
  if (closed != 0) return kErrSlotsOrClose;
  return kOk;
}

uint32_t GetRoot(DataFile* f, int slot) {
  if (f->hFile == platform::kInvalidHandle || !SlotInRange(f, slot)) return 0;
  return Roots(f)[slot];
}

int LinkRoot(DataFile* f, int slot, uint32_t addr) {
  if (f->nMode != 1) return kErrReadOnlyFile;
  if (addr == 0) return kErrNoBlock;
  if (!SlotInRange(f, slot)) return kErrRange;
  if (Roots(f)[slot] != 0) return kErrSlotInUse;
  BlockHeader bh;
  int rc = ReadBlockHeader(f, addr, &bh);
  if (rc == kErrIo) rc = kErrBadFormat;
  if (rc) return rc;
  bh.dwRefCount += 1;
  if (!WriteBlockHeader(f, addr, bh)) return kErrIo;
  // Only a block whose count says so is held by a slot.
  Roots(f)[slot] = addr;
  f->header.dwRootsInUse += 1;
  f->wDirty = 1;
  return kOk;
}

int SetRoot(DataFile* f, int slot, uint32_t addr) {
  if (f->nMode != 1) return kErrReadOnlyFile;
  if (addr == 0) return kErrNoBlock;
  if (!SlotInRange(f, slot)) return kErrRange;
  Roots(f)[slot] = addr;
  f->wDirty = 1;
  return kOk;
}

int UnlinkRoot(DataFile* f, int slot) {
  if (f->nMode != 1) return kErrReadOnlyFile;
  if (!SlotInRange(f, slot)) return kErrRange;
  uint32_t addr = Roots(f)[slot];
  if (addr == 0) return kErrSlotEmpty;
  BlockHeader bh;
  int rc = ReadBlockHeader(f, addr, &bh);
  if (rc == kErrIo) rc = kErrBadFormat;
  if (rc) return rc;
  bh.dwRefCount -= 1;
  if (!WriteBlockHeader(f, addr, bh)) return kErrIo;
  Roots(f)[slot] = 0;
  f->header.dwRootsInUse -= 1;
  f->wDirty = 1;
  return kOk;
}

int AddRootSlots(DataFile* f, int count) {
  if (f->nMode != 1) return kErrReadOnlyFile;
  if (count < 0 || uint64_t{f->header.dwRootSlots} + count > uint64_t{kMaxRootSlots})
    return kErrSlotsOrClose;
  if (count == 0) return kOk;
  uint32_t oldSlots = f->header.dwRootSlots;
  uint32_t newSlots = oldSlots + static_cast<uint32_t>(count);
  bool wide = IsWide(f);
  size_t newBytes = size_t{newSlots} * 4 * (wide ? 2 : 1);
  // Build the enlarged array beside the old one: a failure keeps the file as it was.
  MemBlock grown;
  if (!grown.Alloc(newBytes)) return kErrNoMemory;
  std::memset(grown.get(), 0, newBytes);
  uint32_t* dst = grown.as<uint32_t>();
  const uint32_t* src = Roots(f);
  if (oldSlots) {
    std::memcpy(dst, src, size_t{oldSlots} * 4);
    if (wide) std::memcpy(dst + newSlots, src + oldSlots, size_t{oldSlots} * 4);
  }
  f->roots = std::move(grown);
  f->header.dwRootSlots = newSlots;
  f->wDirty = 1;
  return kOk;
}

namespace {

bool PendingReady(AppendBuffer* p) {
  if (!p->buf) p->buf.reset(new (std::nothrow) unsigned char[kAppendBufferSize]);
  return p->buf != nullptr;
}

// The payload of a new block: bytes in memory, or the payload of a block of
// another data file, read straight into its place.
struct Payload {
  const void* data = nullptr;
  DataFile* src = nullptr;
  uint64_t srcOff = 0;
  // Puts the len bytes at dst; false when reading them from src failed.
  bool Put(void* dst, uint32_t len) const {
    if (len == 0) return true;
    if (!src) {
      std::memcpy(dst, data, len);
      return true;
    }
    return ReadAt(src, srcOff, dst, len) == static_cast<long>(len);
  }
};

// Puts header and payload of a new block at addr, the end of the data: into
// the held blocks when they fit, else straight into the file. A payload
// that cannot be read leaves the file as it was.
bool AppendBytes(DataFile* f, uint32_t addr, const BlockHeader& bh, const Payload& data,
                 uint32_t len) {
  AppendBuffer* p = &f->pending;
  if (p->failed) return false;
  size_t total = sizeof bh + size_t{len};
  bool follows = p->len && p->start + p->len == addr;
  // A full buffer of blocks that follow one another goes out on the writer
  // thread; held blocks that a new one does not follow, at once.
  if (p->len && (!follows || p->len + total > kAppendBufferSize) && !FlushPending(f, follows))
    return false;
  if (total <= kAppendBufferSize && PendingReady(p)) {
    if (p->len == 0) p->start = addr;
    unsigned char* at = p->buf.get() + p->len;
    std::memcpy(at, &bh, sizeof bh);
    if (!data.Put(at + sizeof bh, len)) return false;
    CacheOverlap(&f->cache, addr, at, total);
    p->len += total;
    return true;
  }
  unsigned char small[kSmallBlock];
  std::unique_ptr<unsigned char[]> large;
  unsigned char* tmp = small;
  if (len > kSmallBlock - sizeof bh) {
    large.reset(new (std::nothrow) unsigned char[total]);
    tmp = large.get();
  }
  if (tmp) {
    std::memcpy(tmp, &bh, sizeof bh);
    if (!data.Put(tmp + sizeof bh, len)) return false;
    return WriteAll(f, addr, tmp, total);
  }
  // Without memory for a copy, a payload in memory goes out in two writes;
  // one in another file cannot.
  return !data.src && WriteBlockHeader(f, addr, bh) &&
         WriteAll(f, uint64_t{addr} + sizeof bh, data.data, len);
}

// Appends a block whose header already carries refCount; header and payload
// go out in one write. Its address, or 0 with nLastCode set (6 also when
// the payload could not be read from its file).
uint32_t AppendCounted(DataFile* f, const Payload& data, uint32_t len, uint32_t refCount) {
  f->nLastCode = kErrIo;
  if (f->hFile == platform::kInvalidHandle) return 0;
  if (f->nMode != 1) {
    f->nLastCode = kErrReadOnlyFile;
    return 0;
  }
  uint32_t addr = f->dwEndOfData;
  // Addresses are 32-bit: refuse a block that would end beyond them.
  if (uint64_t{addr} + sizeof(BlockHeader) + len > UINT32_MAX) return 0;
  BlockHeader bh{len, refCount};
  if (!AppendBytes(f, addr, bh, data, len)) return 0;
  f->dwEndOfData = addr + static_cast<uint32_t>(sizeof bh) + len;
  if (len > f->header.dwLargestBlock) f->header.dwLargestBlock = len;
  f->header.dwBlockCount += 1;
  f->wDirty = 1;
  f->nLastCode = kOk;
  return addr;
}

// AppendToRoot for any payload.
uint32_t AppendPayloadToRoot(DataFile* f, int slot, const Payload& data, uint32_t len) {
  f->nLastCode = kErrReadOnlyFile;
  if (f->nMode != 1) return 0;
  f->nLastCode = kErrRange;
  if (!SlotInRange(f, slot)) return 0;
  f->nLastCode = kErrSlotInUse;
  if (Roots(f)[slot] != 0) return 0;
  uint32_t addr = AppendCounted(f, data, len, 1);
  if (!addr) return 0;
  Roots(f)[slot] = addr;
  f->header.dwRootsInUse += 1;
  return addr;
}

}  // namespace

uint32_t Append(DataFile* f, const void* data, uint32_t len) {
  return AppendCounted(f, Payload{data}, len, 0);
}

uint32_t AppendToRoot(DataFile* f, int slot, const void* data, uint32_t len) {
  return AppendPayloadToRoot(f, slot, Payload{data}, len);
}

uint32_t AppendCopy(DataFile* dst, int slot, DataFile* src, uint32_t addr, uint32_t maxLen) {
  BlockHeader bh;
  if (src == dst || src->hFile == platform::kInvalidHandle || ReadBlockHeader(src, addr, &bh) != kOk) {
    dst->nLastCode = kErrIo;
    return 0;
  }
  if (bh.dwLength > maxLen) {
    dst->nLastCode = kErrBadFormat;
    return 0;
  }
  Payload data{nullptr, src, uint64_t{addr} + sizeof bh};
  return slot < 0 ? AppendCounted(dst, data, bh.dwLength, 0)
                  : AppendPayloadToRoot(dst, slot, data, bh.dwLength);
}

uint32_t Read(DataFile* f, uint32_t addr, void* buf, uint32_t size) {
  f->nLastCode = kErrBadFormat;
  uint64_t end = f->dwEndOfData;
  if (addr < sizeof(FileHeader) || f->hFile == platform::kInvalidHandle ||
      uint64_t{addr} + sizeof(BlockHeader) > end)
    return 0;
  BlockHeader bh;
  long n = ReadAt(f, addr, &bh, sizeof bh);
  if (n < 0) {
    f->nLastCode = kErrIo;
    return 0;
  }
  if (n < static_cast<long>(sizeof(BlockHeader))) return 0;
  if (uint64_t{addr} + sizeof bh + bh.dwLength > end) return 0;
  uint32_t want = bh.dwLength < size ? bh.dwLength : size;
  if (want) {
    long got = ReadAt(f, uint64_t{addr} + sizeof bh, buf, want);
    if (got < 0 || static_cast<uint32_t>(got) != want) {
      f->nLastCode = kErrIo;
      return 0;
    }
  }
  f->nLastCode = kOk;
  return want;
}

uint32_t GetLength(DataFile* f, uint32_t addr) {
  f->nLastCode = kErrBadFormat;
  if (addr == 0) {
    ErrorLogError(kModGetLen, 140, 0, 0);
    return 0;
  }
  uint64_t end = f->dwEndOfData;
  if (f->hFile == platform::kInvalidHandle || addr < sizeof(FileHeader) ||
      uint64_t{addr} + sizeof(BlockHeader) > end) {
    // There is no block there to seek to.
    ErrorLogError(kModGetLen, 141, f->hFile, static_cast<int>(addr));
    return 0;
  }
  BlockHeader bh;
  long n = ReadAt(f, addr, &bh, sizeof bh);
  if (n < 0) {
    f->nLastCode = kErrIo;
    ErrorLogError(kModGetLen, 142, f->hFile, -1);
    return 0;
  }
  if (n != static_cast<long>(sizeof bh)) {
    ErrorLogError(kModGetLen, 143, 8, static_cast<int>(n));
    return 0;
  }
  if (uint64_t{addr} + sizeof bh + bh.dwLength > end) {
    ErrorLogError(kModGetLen, 144, f->hFile, static_cast<int>(addr));
    return 0;
  }
  f->nLastCode = kOk;
  return bh.dwLength;
}

uint32_t Rewrite(DataFile* f, uint32_t addr, const void* data, uint32_t len) {
  if (f->nMode != 1 || f->hFile == platform::kInvalidHandle) {
    f->nLastCode = kErrReadOnlyFile;
    return 0;
  }
  BlockHeader old;
  int rc = ReadBlockHeader(f, addr, &old);
  if (rc) {
    f->nLastCode = kErrBadFormat;
    return 0;
  }
  f->nLastCode = kErrIo;
  uint32_t result = addr;
  if (len <= old.dwLength) {
    if (!WriteAll(f, uint64_t{addr} + sizeof old, data, len)) return 0;
    f->header.dwWastedBytes += old.dwLength - len;
  } else {
    result = Append(f, data, len);
    if (result == 0) {
      f->nLastCode = kErrIo;
      return 0;
    }
    f->header.dwWastedBytes += old.dwLength;
    f->header.dwBlockCount -= 1;
  }
  // The reference count moves with the data.
  if (len != old.dwLength && !WriteBlockHeader(f, result, BlockHeader{len, old.dwRefCount})) {
    f->wDirty = 1;
    return 0;
  }
  f->wDirty = 1;
  f->nLastCode = kOk;
  return result;
}

int Free(DataFile* f, uint32_t addr) {
  if (f->nMode != 1 || f->hFile == platform::kInvalidHandle) return kErrReadOnlyFile;
  if (addr < 1) return kErrNoBlock;
  BlockHeader bh;
  if (ReadBlockHeader(f, addr, &bh) != kOk) return kErrBadFormat;
  if (bh.dwRefCount != 0) return kErrStillLinked;
  f->header.dwWastedBytes += bh.dwLength;
  f->header.dwBlockCount -= 1;
  f->wDirty = 1;
  return kOk;
}

int PeekBlock(DataFile* f, uint32_t addr, BlockHeader* bh) {
  if (f->hFile == platform::kInvalidHandle) return kErrBadFormat;
  return ReadBlockHeader(f, addr, bh);
}

int Flush(DataFile* f) {
  if (f->hFile == platform::kInvalidHandle) return kOk;
  return FlushPending(f) ? kOk : kErrIo;
}
