// The block-structured data file under every table: a 28-byte file header,
// blocks (8-byte header + payload) appended one after another, and the root
// array written to the tail at close. Space is never reused; a rewritten or
// freed block only counts as waste.
//
//   FileHeader (28): wFileMagic 0x0F0F (0x0B0F wide), wFileVersion 3,
//     dwRootSlots, dwLargestBlock, dwBlockCount, dwRootsInUse,
//     dwRootArrayOffset, dwWastedBytes
//   BlockHeader (8): dwLength, dwRefCount
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "qvutil/mem.h"

// Error codes of the table store.
constexpr int kOk = 0;
constexpr int kErrSlotsOrClose = 1;
constexpr int kErrNoBlock = 2;
constexpr int kErrSlotInUse = 3;
constexpr int kErrBadFormat = 4;
constexpr int kErrIo = 6;
constexpr int kErrCreate = 8;
constexpr int kErrNotFound = 9;
constexpr int kErrSlotEmpty = 10;
constexpr int kErrStillLinked = 11;
constexpr int kErrNoMemory = 12;
constexpr int kErrRange = 13;
constexpr int kErrReadOnlyFile = 16;
constexpr int kErrMode = 17;
constexpr int kErrDependent = 50;
constexpr int kErrInconsistent = 51;
constexpr int kErrCharMapVersion = 53;

constexpr uint16_t kFileMagic = 0x0F0F;
constexpr uint16_t kFileMagicWide = 0x0B0F;
constexpr int kMaxRootSlots = 32767;

#pragma pack(push, 1)
struct FileHeader {
  uint16_t wFileMagic;
  uint16_t wFileVersion;
  uint32_t dwRootSlots;
  uint32_t dwLargestBlock;
  uint32_t dwBlockCount;
  uint32_t dwRootsInUse;
  uint32_t dwRootArrayOffset;
  uint32_t dwWastedBytes;
};
struct BlockHeader {
  uint32_t dwLength;
  uint32_t dwRefCount;
};
#pragma pack(pop)
static_assert(sizeof(FileHeader) == 28);
static_assert(sizeof(BlockHeader) == 8);

struct DataFile {
  int16_t nMode = 0;       // 0 read-only, 1 read-write
  uint16_t wDirty = 0;
  uint32_t dwEndOfData = 0;
  platform::FileHandle hFile = platform::kInvalidHandle;
  FileHeader header{};
  MemBlock roots;          // dwRootSlots u32 (x2 for the wide variant)
  // Why the last call that returns an address or a length gave 0: 4 for a
  // block that is missing or lies outside the data, 6 for a failed transfer,
  // 16 for a change on a read-only file. 0 after a success.
  int nLastCode = 0;
};

int Create(const char* path, int nRootSlots);
int Open(const char* path, DataFile* f, int mode);
int Close(DataFile* f);  // a second close is a no-op returning 0
uint32_t GetRoot(DataFile* f, int slot);
int LinkRoot(DataFile* f, int slot, uint32_t addr);
int SetRoot(DataFile* f, int slot, uint32_t addr);
int UnlinkRoot(DataFile* f, int slot);
int AddRootSlots(DataFile* f, int count);
uint32_t Append(DataFile* f, const void* data, uint32_t len);
uint32_t Read(DataFile* f, uint32_t addr, void* buf, uint32_t size);
uint32_t GetLength(DataFile* f, uint32_t addr);
uint32_t Rewrite(DataFile* f, uint32_t addr, const void* data, uint32_t len);
int Free(DataFile* f, uint32_t addr);
