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

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/platform.h"
#include "qvutil/fileio.h"
#include "qvutil/mem.h"
#include "qvutil/status.h"

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
  int16_t nMode = 0;  // 0 read-only, 1 read-write
  uint16_t wDirty = 0;
  uint32_t dwEndOfData = 0;
  platform::File file;  // closed when the DataFile goes
  FileHeader header{};
  MemBlock roots;  // dwRootSlots u32 (x2 for the wide variant)
  // Why the last call that returns an address or a length gave 0: 4 for a
  // block that is missing or lies outside the data, 6 for a failed transfer,
  // 16 for a change on a read-only file. 0 after a success.
  int nLastCode = 0;
  // Blocks are read through a cache window; appended blocks are held and
  // written in large pieces behind the work (see fileio.h), so that a table
  // built from thousands of small records costs a few large writes. A
  // failed write of held blocks fails the call that meets it with 6, and
  // every change after it.
  RandomFile io;
  bool IsOpen() const { return file.is_open(); }
};

// Makes a new, closed file of nRootSlots empty slots (replacing any file
// there): 28 + 4n bytes. 0; 1 above 32767 slots; 8 when the file cannot be
// created; 12 when the slot array cannot be allocated (also for 0 slots);
// 6 when writing fails.
int Create(const char* path, int nRootSlots);
// Opens the file read-only (mode 0) or read-write (1) into f. 0; 17 for
// another mode; 9 when it cannot be opened; 6 when header or root array
// cannot be read whole; 4 for a bad magic or version, more than 32767
// slots, or a root array offset below 28 or past the end of the file; 12
// when the root array cannot be allocated. On failure f is left closed.
int Open(const char* path, DataFile* f, int mode);
// Writes the held blocks, header and root array when changed and writable,
// closes the file and clears f on every path. 0; 6 when a write failed (now
// or of held blocks earlier); 1 when closing failed. A closed f gives 0 and
// nothing happens.
int Close(DataFile* f);
// Block address in the slot; 0 when empty, out of range or closed.
uint32_t GetRoot(DataFile* f, int slot);
// Fills an empty slot and counts the reference in the block. 0; 16
// read-only; 2 for address 0; 13 slot out of range; 3 slot in use; 4 bad
// block; 6 when the block header cannot be written (the slot stays empty).
int LinkRoot(DataFile* f, int slot, uint32_t addr);
// Overwrites the slot, reference counts untouched. 0; 16; 2; 13.
int SetRoot(DataFile* f, int slot, uint32_t addr);
// Empties a slot and uncounts the reference. 0; 16; 13; 10 slot empty; 4; 6.
int UnlinkRoot(DataFile* f, int slot);
// Adds count empty slots. 0; 16; 1 beyond 32767 slots; 12 out of memory
// (the old slots are kept).
int AddRootSlots(DataFile* f, int count);
// Appends a block; its address, or 0 (nLastCode says why). The block may be
// held in memory until a later call writes it; reads see it at once. A failed write of held blocks
// fails the call that caused it with 6, and every change after it.
uint32_t Append(DataFile* f, const void* data, uint32_t len);
// Writes the held blocks now. 0, or 6 when the write failed (also for every
// call after one that failed).
int Flush(DataFile* f);
// Append and LinkRoot in one write: appends the block already counted once
// and puts it in the empty slot. Its address, or 0 with nLastCode 16
// (read-only), 13 (slot out of range), 3 (slot in use) or 6; the slot is
// filled only when the block is on disk.
uint32_t AppendToRoot(DataFile* f, int slot, const void* data, uint32_t len);
// Appends a copy of the block at addr of src, another open data file, its
// payload read straight into place (no buffer of the caller's); with slot
// >= 0 it goes into that slot as AppendToRoot does. Its address, or 0 with
// dst's nLastCode 4 when the block is longer than maxLen, 6 when it cannot
// be read from src (outside src's data, or the read failed) or written, or
// as Append and AppendToRoot say.
uint32_t AppendCopy(DataFile* dst, int slot, DataFile* src, uint32_t addr, uint32_t maxLen);
// Copies min(length, size) payload bytes; that count, or 0 on failure or
// for an empty payload (nLastCode 0 then).
uint32_t Read(DataFile* f, uint32_t addr, void* buf, uint32_t size);
// Payload length of the block, or 0 on failure (reported to the error log).
uint32_t GetLength(DataFile* f, uint32_t addr);
// Writes data in place when it fits, else to a new block that takes over
// the reference count. Address of the block now holding it, or 0 with
// nLastCode 16 (read-only), 4 (bad block) or 6.
uint32_t Rewrite(DataFile* f, uint32_t addr, const void* data, uint32_t len);
// Counts the block as waste. 0; 16; 2 address 0; 4 bad block; 11 still linked.
int Free(DataFile* f, uint32_t addr);
// Reads the header of the block at addr after checking that the block lies
// inside the data, without reporting to the error log. Returns 0; 4 when
// addr is 0, the file is closed or the block reaches past the data; 6 when
// the read fails.
int PeekBlock(DataFile* f, uint32_t addr, BlockHeader* bh);
