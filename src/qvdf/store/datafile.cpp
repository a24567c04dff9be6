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

bool WriteAll(DataFile* f, uint64_t off, const void* buf, size_t n) {
  return f->io.WriteAt(off, buf, n);
}

long ReadAt(DataFile* f, uint64_t off, void* dst, size_t n) { return f->io.ReadAt(off, dst, n); }

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
  f->io.Detach();
  f->file.Close();
  f->header = FileHeader{};
  f->nLastCode = 0;
}

int OpenFailed(DataFile* f, const char* path, int line, int code) {
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
  f->file = platform::File(h);
  f->nMode = static_cast<int16_t>(mode);

  long n = Env()->ReadAt(h, 0, &f->header, sizeof f->header);
  if (n != static_cast<long>(sizeof f->header)) return OpenFailed(f, path, 123, kErrIo);
  const FileHeader& fh = f->header;
  if ((fh.wFileMagic != kFileMagic && fh.wFileMagic != kFileMagicWide) || fh.wFileVersion < 3 ||
      fh.wFileVersion > 4)
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
  f->io.Attach(h, f->dwEndOfData);
  f->wDirty = 0;
  return kOk;
}

int Close(DataFile* f) {
  if (!f->IsOpen()) {
    Reset(f);
    return kOk;
  }
  bool writeFailed = false;
  if (f->nMode == 1 && !f->io.Flush()) {
    // Records may point at the lost blocks: leave the old header in place.
    writeFailed = true;
  } else if (f->wDirty && f->nMode == 1) {
    f->header.dwRootArrayOffset = f->dwEndOfData;
    writeFailed = !WriteAll(f, 0, &f->header, sizeof f->header) ||
                  !WriteAll(f, f->dwEndOfData, f->roots.get(), RootBytes(f->header));
  }
  f->io.Detach();
  int closed = CloseFileHandle(f->file.release(), kModOpen, 130);
  Reset(f);
  if (writeFailed) return kErrIo;
  if (closed != 0) return kErrSlotsOrClose;
  return kOk;
}

uint32_t GetRoot(DataFile* f, int slot) {
  if (!f->IsOpen() || !SlotInRange(f, slot)) return 0;
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

// Puts header and payload of a new block at addr, the end of the data,
// into the held blocks. A payload that cannot be read leaves the file as it
// was.
bool AppendBytes(DataFile* f, const BlockHeader& bh, const Payload& data, uint32_t len) {
  char* at = f->io.AppendRoom(sizeof bh + size_t{len});
  if (!at) return false;
  std::memcpy(at, &bh, sizeof bh);
  if (!data.Put(at + sizeof bh, len)) return false;
  f->io.CommitAppend(at + sizeof bh + len);
  return true;
}

// Appends a block whose header already carries refCount; header and payload
// go out in one write. Its address, or 0 with nLastCode set (6 also when
// the payload could not be read from its file).
uint32_t AppendCounted(DataFile* f, const Payload& data, uint32_t len, uint32_t refCount) {
  f->nLastCode = kErrIo;
  if (!f->IsOpen()) return 0;
  if (f->nMode != 1) {
    f->nLastCode = kErrReadOnlyFile;
    return 0;
  }
  uint32_t addr = f->dwEndOfData;
  // Addresses are 32-bit: refuse a block that would end beyond them.
  if (uint64_t{addr} + sizeof(BlockHeader) + len > UINT32_MAX) return 0;
  BlockHeader bh{len, refCount};
  if (!AppendBytes(f, bh, data, len)) return 0;
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
  if (src == dst || !src->IsOpen() || ReadBlockHeader(src, addr, &bh) != kOk) {
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
  if (addr < sizeof(FileHeader) || !f->IsOpen() || uint64_t{addr} + sizeof(BlockHeader) > end)
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
  if (!f->IsOpen() || addr < sizeof(FileHeader) || uint64_t{addr} + sizeof(BlockHeader) > end) {
    // There is no block there to seek to.
    ErrorLogError(kModGetLen, 141, f->file.get(), static_cast<int>(addr));
    return 0;
  }
  BlockHeader bh;
  long n = ReadAt(f, addr, &bh, sizeof bh);
  if (n < 0) {
    f->nLastCode = kErrIo;
    ErrorLogError(kModGetLen, 142, f->file.get(), -1);
    return 0;
  }
  if (n != static_cast<long>(sizeof bh)) {
    ErrorLogError(kModGetLen, 143, 8, static_cast<int>(n));
    return 0;
  }
  if (uint64_t{addr} + sizeof bh + bh.dwLength > end) {
    ErrorLogError(kModGetLen, 144, f->file.get(), static_cast<int>(addr));
    return 0;
  }
  f->nLastCode = kOk;
  return bh.dwLength;
}

uint32_t Rewrite(DataFile* f, uint32_t addr, const void* data, uint32_t len) {
  if (f->nMode != 1 || !f->IsOpen()) {
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
  if (f->nMode != 1 || !f->IsOpen()) return kErrReadOnlyFile;
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
  if (!f->IsOpen()) return kErrBadFormat;
  return ReadBlockHeader(f, addr, bh);
}

int Flush(DataFile* f) {
  if (!f->IsOpen()) return kOk;
  return f->io.Flush() ? kOk : kErrIo;
}
