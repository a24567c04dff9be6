// Data file layer: file bytes after create, append and close; rewrite,
// free and root links with their counts and waste; hostile headers; the
// wide variant; and failing writes that must leave a clean closed object.
#include "qvdf/store/datafile.h"

#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "qvdf/store/store_test_util.h"

namespace {

using storetest::Bytes;
using storetest::PutU16;
using storetest::PutU32;
using storetest::ReadBytes;
using storetest::U32;
using storetest::WriteBytes;

class DataFileTest : public storetest::StoreTest {
 protected:
  // A file of `slots` slots, opened read-write into f_.
  void CreateOpen(int slots) {
    path_ = Path("t.dat");
    ASSERT_EQ(Create(path_.c_str(), slots), 0);
    ASSERT_EQ(Open(path_.c_str(), &f_, 1), 0);
  }
  void ExpectClosed(const DataFile& f) {
    EXPECT_EQ(f.hFile, platform::kInvalidHandle);
    EXPECT_EQ(f.roots.get(), nullptr);
    EXPECT_EQ(f.wDirty, 0);
    EXPECT_EQ(f.header.dwRootSlots, 0u);
  }
  BlockHeader BlockAt(uint32_t addr) {
    BlockHeader bh{};
    EXPECT_EQ(PeekBlock(&f_, addr, &bh), 0);
    return bh;
  }

  std::string path_;
  DataFile f_;
};

TEST_F(DataFileTest, FreshFileIsHeaderAndZeroSlots) {
  for (int n : {1, 7, 513}) {
    std::string p = Path("fresh" + std::to_string(n));
    ASSERT_EQ(Create(p.c_str(), n), 0);
    Bytes b = ReadBytes(p);
    ASSERT_EQ(b.size(), 28u + 4u * n);
    Bytes expect(28 + 4 * n, 0);
    PutU16(expect, 0, 0x0F0F);
    PutU16(expect, 2, 3);
    PutU32(expect, 4, n);
    PutU32(expect, 20, 28);
    EXPECT_EQ(b, expect) << n;
  }
  EXPECT_EQ(env_.openFiles, 0);
}

TEST_F(DataFileTest, CreateSlotLimit) {
  std::string big = Path("big"), over = Path("over");
  EXPECT_EQ(Create(big.c_str(), 32767), 0);
  EXPECT_EQ(ReadBytes(big).size(), 28u + 4u * 32767);
  EXPECT_EQ(Create(over.c_str(), 32768), 1);
  EXPECT_FALSE(std::filesystem::exists(over));
  EXPECT_EQ(Create(over.c_str(), -1), 1);
  EXPECT_FALSE(std::filesystem::exists(over));
}

TEST_F(DataFileTest, CreateReportsToErrorLog) {
  std::string bad = Path("no/such/dir/x.dat");
  EXPECT_EQ(Create(bad.c_str(), 4), 8);
  std::string log = Log();
  EXPECT_NE(log.find("Error " + bad + ".8 at qvdf\\create line "), std::string::npos) << log;
}

TEST_F(DataFileTest, AppendThenClosePutsRootArrayBehindTheBlock) {
  CreateOpen(4);
  const char payload[10] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'};
  EXPECT_EQ(Append(&f_, payload, 10), 28u);
  EXPECT_EQ(Append(&f_, payload, 3), 46u);
  ASSERT_EQ(LinkRoot(&f_, 2, 46), 0);
  ASSERT_EQ(Close(&f_), 0);
  ExpectClosed(f_);

  Bytes b = ReadBytes(path_);
  ASSERT_EQ(b.size(), 28u + 18 + 11 + 16);
  EXPECT_EQ(U32(b, 4), 4u);    // slots
  EXPECT_EQ(U32(b, 8), 10u);   // largest block
  EXPECT_EQ(U32(b, 12), 2u);   // blocks
  EXPECT_EQ(U32(b, 16), 1u);   // roots in use
  EXPECT_EQ(U32(b, 20), 57u);  // root array offset
  EXPECT_EQ(U32(b, 24), 0u);   // waste
  EXPECT_EQ(U32(b, 28), 10u);
  EXPECT_EQ(U32(b, 32), 0u);
  EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 46), "abcdefghij");
  EXPECT_EQ(U32(b, 46), 3u);
  EXPECT_EQ(U32(b, 50), 1u);  // linked once
  EXPECT_EQ(U32(b, 57), 0u);
  EXPECT_EQ(U32(b, 57 + 8), 46u);
}

TEST_F(DataFileTest, OpenAndCloseWithoutChangeLeavesBytes) {
  CreateOpen(3);
  Append(&f_, "xyz", 3);
  ASSERT_EQ(LinkRoot(&f_, 0, 28), 0);
  ASSERT_EQ(Close(&f_), 0);
  Bytes before = ReadBytes(path_);
  for (int mode : {0, 1}) {
    ASSERT_EQ(Open(path_.c_str(), &f_, mode), 0);
    EXPECT_EQ(GetRoot(&f_, 0), 28u);
    char buf[8] = {};
    EXPECT_EQ(Read(&f_, 28, buf, sizeof buf), 3u);
    EXPECT_STREQ(buf, "xyz");
    ASSERT_EQ(Close(&f_), 0);
    EXPECT_EQ(ReadBytes(path_), before);
  }
  EXPECT_EQ(env_.openFiles, 0);
}

TEST_F(DataFileTest, ReadCopiesAtMostTheBuffer) {
  CreateOpen(1);
  uint32_t a = Append(&f_, "0123456789", 10);
  char small[4] = {};
  EXPECT_EQ(Read(&f_, a, small, 4), 4u);
  EXPECT_EQ(std::string(small, 4), "0123");
  char large[32] = {};
  EXPECT_EQ(Read(&f_, a, large, 32), 10u);
  EXPECT_EQ(Read(&f_, 0, large, 32), 0u);
  EXPECT_EQ(GetLength(&f_, a), 10u);

  // Blocks larger than one small transfer, read whole and in part.
  std::string big(10000, 'x');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  uint32_t b = Append(&f_, big.data(), 10000);
  ASSERT_EQ(b, a + 18);
  Append(&f_, "tail", 4);
  std::string got(10000, '\0');
  EXPECT_EQ(Read(&f_, b, got.data(), 10000), 10000u);
  EXPECT_EQ(got, big);
  std::string part(5000, '\0');
  EXPECT_EQ(Read(&f_, b, part.data(), 5000), 5000u);
  EXPECT_EQ(part, big.substr(0, 5000));
  ASSERT_EQ(Close(&f_), 0);
  ASSERT_EQ(Open(path_.c_str(), &f_, 0), 0);
  EXPECT_EQ(Read(&f_, b, got.data(), 20000), 10000u);
  EXPECT_EQ(got, big);
  EXPECT_EQ(f_.header.dwLargestBlock, 10000u);
  Close(&f_);
}

TEST_F(DataFileTest, RewriteShrinksInPlaceAndMovesWhenLonger) {
  CreateOpen(2);
  uint32_t a = Append(&f_, "AAAAAAAAAA", 10);
  uint32_t after = Append(&f_, "B", 1);
  ASSERT_EQ(LinkRoot(&f_, 1, a), 0);

  EXPECT_EQ(Rewrite(&f_, a, "ccc", 3), a);
  EXPECT_EQ(GetLength(&f_, a), 3u);
  EXPECT_EQ(f_.header.dwWastedBytes, 7u);
  EXPECT_EQ(BlockAt(a).dwRefCount, 1u);

  // The earlier length no longer fits: the data moves and takes the link count.
  uint32_t moved = Rewrite(&f_, a, "dddddddddd", 10);
  EXPECT_GT(moved, after);
  EXPECT_EQ(f_.header.dwWastedBytes, 10u);
  EXPECT_EQ(f_.header.dwBlockCount, 2u);
  EXPECT_EQ(BlockAt(moved).dwLength, 10u);
  EXPECT_EQ(BlockAt(moved).dwRefCount, 1u);
  EXPECT_EQ(Free(&f_, moved), 11);

  // Same length: in place, header untouched.
  EXPECT_EQ(Rewrite(&f_, after, "E", 1), after);
  EXPECT_EQ(f_.header.dwWastedBytes, 10u);

  EXPECT_EQ(Free(&f_, after), 0);
  EXPECT_EQ(f_.header.dwWastedBytes, 11u);
  EXPECT_EQ(f_.header.dwBlockCount, 1u);
  EXPECT_EQ(Free(&f_, 0), 2);
  ASSERT_EQ(Close(&f_), 0);

  Bytes b = ReadBytes(path_);
  EXPECT_EQ(U32(b, 24), 11u);
  EXPECT_EQ(U32(b, 12), 1u);
  EXPECT_EQ(U32(b, 28), 3u);  // the shrunk header stayed on disk
}

TEST_F(DataFileTest, RootLinksCountReferences) {
  CreateOpen(3);
  uint32_t a = Append(&f_, "12345678", 8);
  EXPECT_EQ(LinkRoot(&f_, 0, a), 0);
  EXPECT_EQ(LinkRoot(&f_, 1, a), 0);
  EXPECT_EQ(BlockAt(a).dwRefCount, 2u);
  EXPECT_EQ(f_.header.dwRootsInUse, 2u);
  EXPECT_EQ(LinkRoot(&f_, 0, a), 3);
  EXPECT_EQ(LinkRoot(&f_, 3, a), 13);
  EXPECT_EQ(LinkRoot(&f_, -1, a), 13);
  EXPECT_EQ(LinkRoot(&f_, 2, 0), 2);
  EXPECT_EQ(LinkRoot(&f_, 2, 5000), 4);  // no block there
  EXPECT_EQ(GetRoot(&f_, 2), 0u);
  EXPECT_EQ(GetRoot(&f_, 3), 0u);
  EXPECT_EQ(GetRoot(&f_, -1), 0u);

  EXPECT_EQ(UnlinkRoot(&f_, 0), 0);
  EXPECT_EQ(UnlinkRoot(&f_, 0), 10);
  EXPECT_EQ(UnlinkRoot(&f_, 9), 13);
  EXPECT_EQ(BlockAt(a).dwRefCount, 1u);
  EXPECT_EQ(Free(&f_, a), 11);
  EXPECT_EQ(UnlinkRoot(&f_, 1), 0);
  EXPECT_EQ(f_.header.dwRootsInUse, 0u);
  EXPECT_EQ(Free(&f_, a), 0);

  EXPECT_EQ(SetRoot(&f_, 2, a), 0);  // counts untouched
  EXPECT_EQ(BlockAt(a).dwRefCount, 0u);
  EXPECT_EQ(GetRoot(&f_, 2), a);
  EXPECT_EQ(SetRoot(&f_, 2, 0), 2);
  EXPECT_EQ(SetRoot(&f_, 3, a), 13);
  Close(&f_);
}

TEST_F(DataFileTest, ReadOnlyFileRefusesChanges) {
  CreateOpen(2);
  uint32_t a = Append(&f_, "abc", 3);
  Close(&f_);
  ASSERT_EQ(Open(path_.c_str(), &f_, 0), 0);
  EXPECT_EQ(Append(&f_, "x", 1), 0u);
  EXPECT_EQ(f_.nLastCode, 16);
  EXPECT_EQ(Rewrite(&f_, a, "x", 1), 0u);
  EXPECT_EQ(f_.nLastCode, 16);
  EXPECT_EQ(LinkRoot(&f_, 0, a), 16);
  EXPECT_EQ(UnlinkRoot(&f_, 0), 16);
  EXPECT_EQ(SetRoot(&f_, 0, a), 16);
  EXPECT_EQ(Free(&f_, a), 16);
  EXPECT_EQ(AddRootSlots(&f_, 1), 16);
  Close(&f_);
}

TEST_F(DataFileTest, AddRootSlotsUpToTheLimit) {
  CreateOpen(2);
  uint32_t a = Append(&f_, "abc", 3);
  ASSERT_EQ(LinkRoot(&f_, 1, a), 0);
  EXPECT_EQ(AddRootSlots(&f_, 32766), 1);
  EXPECT_EQ(AddRootSlots(&f_, 3), 0);
  EXPECT_EQ(f_.header.dwRootSlots, 5u);
  EXPECT_EQ(GetRoot(&f_, 1), a);
  EXPECT_EQ(GetRoot(&f_, 4), 0u);
  EXPECT_EQ(LinkRoot(&f_, 4, a), 0);
  ASSERT_EQ(Close(&f_), 0);
  Bytes b = ReadBytes(path_);
  ASSERT_EQ(b.size(), 28u + 11 + 20);
  EXPECT_EQ(U32(b, 4), 5u);
  EXPECT_EQ(U32(b, 39 + 4), a);
  EXPECT_EQ(U32(b, 39 + 16), a);
}

TEST_F(DataFileTest, BadMagicOrVersionRefusedWithNothingLeftOpen) {
  CreateOpen(2);
  Close(&f_);
  Bytes good = ReadBytes(path_);
  struct Case { uint16_t magic, version; int code; };
  for (Case c : {Case{0x0F0E, 3, 4}, Case{0xB0BD, 3, 4}, Case{0x0F0F, 2, 4}, Case{0x0F0F, 5, 4},
                 Case{0x0F0F, 4, 0}, Case{0x0B0F, 3, 0}}) {
    Bytes b = good;
    PutU16(b, 0, c.magic);
    PutU16(b, 2, c.version);
    if (c.magic == 0x0B0F) b.resize(b.size() + 8, 0);  // the second array
    WriteBytes(path_, b);
    EXPECT_EQ(Open(path_.c_str(), &f_, 0), c.code) << c.magic << "/" << c.version;
    Close(&f_);
    EXPECT_EQ(env_.openFiles, 0);
  }
  EXPECT_NE(Log().find("Error " + path_ + ".4 at qvdf\\dopen line "), std::string::npos);
}

TEST_F(DataFileTest, HostileHeadersAreRefused) {
  CreateOpen(4);
  Append(&f_, "abcd", 4);
  Close(&f_);
  const Bytes good = ReadBytes(path_);  // 28 + 12 + 16 bytes, roots at 40
  struct Case { const char* what; size_t off; uint32_t value; int code; };
  const Case cases[] = {
      {"slots above the limit", 4, 32768, 4},
      {"slots wrapping 32 bits", 4, 0x40000000, 4},
      {"root array inside the header", 20, 27, 4},
      {"root array at 0", 20, 0, 4},
      {"root array past the end", 20, 57, 4},
      {"root array far past the end", 20, 0xFFFFFFF0, 4},
      {"root array running past the end", 20, 44, 6},
      {"no slots", 4, 0, 12},
  };
  for (const Case& c : cases) {
    Bytes b = good;
    PutU32(b, c.off, c.value);
    WriteBytes(path_, b);
    EXPECT_EQ(Open(path_.c_str(), &f_, 1), c.code) << c.what;
    ExpectClosed(f_);
    EXPECT_EQ(Close(&f_), 0);
    EXPECT_EQ(env_.openFiles, 0) << c.what;
  }
  // Truncated at every boundary of the header, the block and the root array.
  for (size_t len : {0, 1, 27, 28, 36, 39, 40, 44, 55}) {
    WriteBytes(path_, Bytes(good.begin(), good.begin() + len));
    int expect = len < 28 ? 6 : len < 40 ? 4 : 6;
    EXPECT_EQ(Open(path_.c_str(), &f_, 0), expect) << len;
    EXPECT_EQ(env_.openFiles, 0);
  }
  EXPECT_EQ(Open(Path("missing").c_str(), &f_, 0), 9);
  EXPECT_EQ(Open(path_.c_str(), &f_, 2), 17);
  EXPECT_EQ(env_.openFiles, 0);
}

TEST_F(DataFileTest, BlocksOutsideTheDataAreRefused) {
  CreateOpen(2);
  uint32_t a = Append(&f_, "abcdefgh", 8);
  Close(&f_);
  Bytes b = ReadBytes(path_);
  PutU32(b, a, 9);  // the payload would reach into the root array
  WriteBytes(path_, b);
  ASSERT_EQ(Open(path_.c_str(), &f_, 1), 0);
  char buf[16];
  EXPECT_EQ(Read(&f_, a, buf, sizeof buf), 0u);
  EXPECT_EQ(f_.nLastCode, 4);
  EXPECT_EQ(Read(&f_, a + 1, buf, sizeof buf), 0u);
  EXPECT_EQ(Read(&f_, 12, buf, sizeof buf), 0u);
  EXPECT_EQ(Read(&f_, 0xFFFFFFFF, buf, sizeof buf), 0u);
  EXPECT_EQ(GetLength(&f_, a), 0u);
  EXPECT_EQ(Rewrite(&f_, a, "x", 1), 0u);
  EXPECT_EQ(f_.nLastCode, 4);
  EXPECT_EQ(Free(&f_, a), 4);
  EXPECT_EQ(LinkRoot(&f_, 0, a), 4);
  EXPECT_EQ(GetRoot(&f_, 0), 0u);
  EXPECT_EQ(GetLength(&f_, 0), 0u);
  Close(&f_);
  std::string log = Log();
  EXPECT_NE(log.find("Error 0.0 at qvdf\\getlen line "), std::string::npos) << log;
}

TEST_F(DataFileTest, WideVariantKeepsAndExtendsTheSecondArray) {
  // Two slots; first array {0, 0}, second array {0xAAAA, 0xBBBB}.
  path_ = Path("wide.dat");
  Bytes b(28 + 16, 0);
  PutU16(b, 0, 0x0B0F);
  PutU16(b, 2, 4);
  PutU32(b, 4, 2);
  PutU32(b, 20, 28);
  PutU32(b, 36, 0xAAAA);
  PutU32(b, 40, 0xBBBB);
  WriteBytes(path_, b);

  ASSERT_EQ(Open(path_.c_str(), &f_, 1), 0);
  uint32_t a = Append(&f_, "wide", 4);
  ASSERT_EQ(LinkRoot(&f_, 1, a), 0);
  ASSERT_EQ(AddRootSlots(&f_, 1), 0);
  EXPECT_EQ(GetRoot(&f_, 1), a);
  EXPECT_EQ(GetRoot(&f_, 2), 0u);
  ASSERT_EQ(Close(&f_), 0);

  Bytes out = ReadBytes(path_);
  ASSERT_EQ(out.size(), 28u + 12 + 24);
  EXPECT_EQ(U32(out, 4), 3u);
  EXPECT_EQ(U32(out, 20), 40u);
  const uint32_t expect[6] = {0, a, 0, 0xAAAA, 0xBBBB, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(U32(out, 40 + 4 * i), expect[i]) << i;

  // Unchanged open and close keeps it byte for byte.
  ASSERT_EQ(Open(path_.c_str(), &f_, 1), 0);
  ASSERT_EQ(Close(&f_), 0);
  EXPECT_EQ(ReadBytes(path_), out);
}

TEST_F(DataFileTest, FailingWriteAtCloseGivesSixAndAClosedObject) {
  CreateOpen(2);
  ASSERT_NE(Append(&f_, "abc", 3), 0u);
  env_.writesLeft = 0;
  EXPECT_EQ(Close(&f_), 6);
  env_.writesLeft = -1;
  ExpectClosed(f_);
  EXPECT_EQ(env_.openFiles, 0);
  EXPECT_EQ(Close(&f_), 0);
  EXPECT_EQ(GetRoot(&f_, 0), 0u);
  EXPECT_EQ(Append(&f_, "x", 1), 0u);
  EXPECT_EQ(LinkRoot(&f_, 0, 28), 16);
}

TEST_F(DataFileTest, FailingWritesDuringChanges) {
  CreateOpen(2);
  uint32_t a = Append(&f_, "abcdef", 6);
  ASSERT_EQ(Flush(&f_), 0);
  env_.writesLeft = 0;
  // A block too large to be held goes to the file at once and fails there.
  std::string big(kAppendBufferSize, 'b');
  EXPECT_EQ(Append(&f_, big.data(), static_cast<uint32_t>(big.size())), 0u);
  EXPECT_EQ(f_.nLastCode, 6);
  EXPECT_EQ(f_.header.dwBlockCount, 1u);
  // The slot is filled only once the block's count is on disk.
  EXPECT_EQ(LinkRoot(&f_, 0, a), 6);
  EXPECT_EQ(GetRoot(&f_, 0), 0u);
  EXPECT_EQ(f_.header.dwRootsInUse, 0u);
  EXPECT_EQ(Rewrite(&f_, a, "ab", 2), 0u);
  EXPECT_EQ(f_.nLastCode, 6);
  env_.writesLeft = -1;
  EXPECT_EQ(LinkRoot(&f_, 0, a), 0);
  EXPECT_EQ(BlockAt(a).dwRefCount, 1u);
  EXPECT_EQ(Close(&f_), 0);

  std::string p = Path("c.dat");
  env_.writesLeft = 0;
  EXPECT_EQ(Create(p.c_str(), 3), 6);
  env_.writesLeft = -1;
  EXPECT_EQ(env_.openFiles, 0);
  EXPECT_NE(Log().find("Error " + p + ".-1 at qvdf\\create line "), std::string::npos);
}

// Appended blocks are held and written together; when that write fails the
// held blocks are lost, so every later change fails and close keeps the old
// header rather than one that points at missing blocks.
TEST_F(DataFileTest, HeldBlocksGoOutTogetherAndTheirLossStopsTheFile) {
  CreateOpen(2);
  long before = env_.writeCalls;
  std::vector<uint32_t> addrs;
  for (int i = 0; i < 1000; ++i) addrs.push_back(Append(&f_, "record-payload", 14));
  EXPECT_EQ(env_.writeCalls, before);
  char buf[16];
  ASSERT_EQ(Read(&f_, addrs[500], buf, sizeof buf), 14u);
  EXPECT_EQ(std::string(buf, 14), "record-payload");
  ASSERT_EQ(LinkRoot(&f_, 1, addrs[999]), 0);
  EXPECT_EQ(BlockAt(addrs[999]).dwRefCount, 1u);
  ASSERT_EQ(Close(&f_), 0);
  EXPECT_LE(env_.writeCalls - before, 3);
  Bytes onDisk = ReadBytes(path_);
  EXPECT_EQ(onDisk.size(), 28u + 1000 * 22 + 8);
  EXPECT_EQ(U32(onDisk, 28 + 999 * 22 + 4), 1u);

  ASSERT_EQ(Open(path_.c_str(), &f_, 1), 0);
  uint32_t a = Append(&f_, "held", 4);
  ASSERT_NE(a, 0u);
  env_.writesLeft = 0;
  EXPECT_EQ(Flush(&f_), 6);
  env_.writesLeft = -1;
  EXPECT_EQ(Append(&f_, "x", 1), 0u);
  EXPECT_EQ(f_.nLastCode, 6);
  EXPECT_EQ(LinkRoot(&f_, 0, addrs[0]), 6);
  EXPECT_EQ(Flush(&f_), 6);
  EXPECT_EQ(Close(&f_), 6);
  ExpectClosed(f_);
  EXPECT_EQ(env_.openFiles, 0);
  EXPECT_EQ(ReadBytes(path_), onDisk);
}

// A full buffer of held blocks is written on the writer thread while the
// next fills: its blocks read back from memory meanwhile, a change to one of
// them waits for the write, and a failed write is the file's failure at the
// next flush.
TEST_F(DataFileTest, FullBuffersAreWrittenBehind) {
  CreateOpen(2);
  const std::string rec(1000, 'r');
  std::vector<uint32_t> addrs;
  // Enough to fill the buffer once and start the next.
  while (addrs.size() * 1008 < kAppendBufferSize + 4096)
    addrs.push_back(Append(&f_, rec.data(), static_cast<uint32_t>(rec.size())));
  ASSERT_NE(addrs.back(), 0u);
  ASSERT_NE(f_.pending.behind, nullptr);
  std::string buf(1000, '\0');
  for (uint32_t a : {addrs.front(), addrs[addrs.size() / 2], addrs.back()}) {
    ASSERT_EQ(Read(&f_, a, buf.data(), 1000), 1000u);
    EXPECT_EQ(buf, rec);
  }
  ASSERT_EQ(LinkRoot(&f_, 1, addrs.front()), 0);
  ASSERT_EQ(Close(&f_), 0);
  Bytes onDisk = ReadBytes(path_);
  ASSERT_EQ(onDisk.size(), 28u + addrs.size() * 1008 + 8);
  EXPECT_EQ(U32(onDisk, addrs.front() + 4), 1u);
  EXPECT_EQ(U32(onDisk, addrs[1] + 4), 0u);
  for (uint32_t a : addrs) ASSERT_EQ(onDisk[a + 8 + 999], 'r') << a;

  // The write behind fails: the next flush says so, and nothing after it
  // reaches the file, the header included.
  ASSERT_EQ(Open(path_.c_str(), &f_, 1), 0);
  env_.writesLeft = 0;
  uint32_t last = 0;
  for (size_t n = 0; n * 1008 < kAppendBufferSize + 4096; ++n)
    last = Append(&f_, rec.data(), static_cast<uint32_t>(rec.size()));
  EXPECT_NE(last, 0u);
  EXPECT_EQ(Flush(&f_), 6);
  env_.writesLeft = -1;
  EXPECT_EQ(Append(&f_, "x", 1), 0u);
  EXPECT_EQ(f_.nLastCode, 6);
  EXPECT_EQ(Close(&f_), 6);
  ExpectClosed(f_);
  EXPECT_EQ(ReadBytes(path_), onDisk);
  EXPECT_EQ(env_.openFiles, 0);
}

TEST_F(DataFileTest, CopiedBlocksComeStraightFromTheOtherFile) {
  CreateOpen(2);
  const std::string big(300 * 1024, 'b');  // more than the held blocks take
  uint32_t alpha = Append(&f_, "alpha", 5);
  uint32_t large = Append(&f_, big.data(), static_cast<uint32_t>(big.size()));
  const std::string mid(100 * 1024, 'm');  // held, but read past the window
  uint32_t middle = Append(&f_, mid.data(), static_cast<uint32_t>(mid.size()));
  uint32_t held = Append(&f_, "held", 4);  // still in memory
  ASSERT_TRUE(alpha && large && middle && held);
  std::string dstPath = Path("d.dat");
  ASSERT_EQ(Create(dstPath.c_str(), 3), 0);
  DataFile d;
  ASSERT_EQ(Open(dstPath.c_str(), &d, 1), 0);

  uint32_t a = AppendCopy(&d, -1, &f_, alpha, 1 << 20);
  uint32_t h = AppendCopy(&d, 2, &f_, held, 1 << 20);
  uint32_t l = AppendCopy(&d, -1, &f_, large, 1 << 20);
  ASSERT_TRUE(a && h && l);
  EXPECT_EQ(GetRoot(&d, 2), h);
  // Refused: too long, not a block of the source, the same file, a slot in use.
  uint32_t end = d.dwEndOfData;
  EXPECT_EQ(AppendCopy(&d, -1, &f_, alpha, 4), 0u);
  EXPECT_EQ(d.nLastCode, 4);
  EXPECT_EQ(AppendCopy(&d, -1, &f_, f_.dwEndOfData, 1 << 20), 0u);
  EXPECT_EQ(d.nLastCode, 6);
  EXPECT_EQ(AppendCopy(&d, -1, &d, a, 1 << 20), 0u);
  EXPECT_EQ(d.nLastCode, 6);
  EXPECT_EQ(AppendCopy(&d, 2, &f_, alpha, 1 << 20), 0u);
  EXPECT_EQ(d.nLastCode, 3);
  EXPECT_EQ(d.dwEndOfData, end);

  // A payload that cannot be read leaves the destination as it was.
  ASSERT_EQ(Close(&f_), 0);
  ASSERT_EQ(Open(path_.c_str(), &f_, 0), 0);
  for (uint32_t from : {middle, large}) {
    env_.readsLeft = 1;  // the block header, not its payload
    EXPECT_EQ(AppendCopy(&d, -1, &f_, from, 1 << 20), 0u);
    env_.readsLeft = -1;
    EXPECT_EQ(d.nLastCode, 6);
    EXPECT_EQ(d.dwEndOfData, end);
  }
  EXPECT_NE(Append(&d, "after", 5), 0u);

  ASSERT_EQ(Close(&d), 0);
  ASSERT_EQ(Open(dstPath.c_str(), &d, 0), 0);
  std::string buf(big.size() + 1, '\0');
  EXPECT_EQ(Read(&d, a, buf.data(), 16), 5u);
  EXPECT_EQ(buf.substr(0, 5), "alpha");
  EXPECT_EQ(Read(&d, h, buf.data(), 16), 4u);
  EXPECT_EQ(buf.substr(0, 4), "held");
  EXPECT_EQ(Read(&d, l, buf.data(), static_cast<uint32_t>(buf.size())), big.size());
  EXPECT_EQ(buf.substr(0, big.size()), big);
  BlockHeader bh{};
  ASSERT_EQ(PeekBlock(&d, h, &bh), 0);
  EXPECT_EQ(bh.dwRefCount, 1u);
  ASSERT_EQ(PeekBlock(&d, a, &bh), 0);
  EXPECT_EQ(bh.dwRefCount, 0u);
  EXPECT_EQ(Close(&d), 0);
}

TEST_F(DataFileTest, AllocationFailures) {
  std::string p = Path("m.dat");
  env_.allocsLeft = 0;
  EXPECT_EQ(Create(p.c_str(), 3), 12);
  env_.allocsLeft = -1;
  ASSERT_EQ(Create(p.c_str(), 3), 0);
  env_.allocsLeft = 0;
  EXPECT_EQ(Open(p.c_str(), &f_, 1), 12);
  ExpectClosed(f_);
  env_.allocsLeft = -1;
  EXPECT_EQ(env_.openFiles, 0);

  ASSERT_EQ(Open(p.c_str(), &f_, 1), 0);
  uint32_t a = Append(&f_, "abc", 3);
  ASSERT_EQ(LinkRoot(&f_, 2, a), 0);
  env_.allocsLeft = 0;
  EXPECT_EQ(AddRootSlots(&f_, 5), 12);
  env_.allocsLeft = -1;
  EXPECT_EQ(f_.header.dwRootSlots, 3u);
  EXPECT_EQ(GetRoot(&f_, 2), a);
  EXPECT_EQ(Close(&f_), 0);
}

// Reads go through a window of the file that every write keeps current:
// blocks appended, rewritten in place, moved and relinked, of sizes inside
// and beyond the window, must read back as written, before and after close.
TEST_F(DataFileTest, ReadsSeeEveryEarlierWrite) {
  CreateOpen(64);
  std::map<uint32_t, std::string> live;
  uint32_t x = 7;
  auto rnd = [&x](uint32_t n) { return ((x = x * 1103515245u + 12345u) >> 8) % n; };
  auto payload = [&](size_t n) {
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rnd(256));
    return s;
  };
  auto check = [&](DataFile* f) {
    std::string buf;
    for (const auto& [addr, want] : live) {
      buf.assign(want.size() + 1, '\0');
      ASSERT_EQ(Read(f, addr, buf.data(), static_cast<uint32_t>(buf.size())), want.size()) << addr;
      ASSERT_EQ(buf.substr(0, want.size()), want) << addr;
    }
  };
  int slot = 0;
  for (int round = 0; round < 300; ++round) {
    size_t len = round % 17 == 0 ? 20000 + rnd(50000) : 1 + rnd(700);
    std::string data = payload(len);
    uint32_t a = Append(&f_, data.data(), static_cast<uint32_t>(len));
    ASSERT_NE(a, 0u);
    live[a] = data;
    if (round % 5 == 0 && slot < 64) {
      ASSERT_EQ(LinkRoot(&f_, slot++, a), 0);
    }
    if (round % 3 == 0) {
      auto it = std::next(live.begin(), static_cast<long>(rnd(static_cast<uint32_t>(live.size()))));
      size_t n = round % 2 ? it->second.size() / 2 : it->second.size() + 100;
      std::string d = payload(n);
      uint32_t to = Rewrite(&f_, it->first, d.data(), static_cast<uint32_t>(n));
      ASSERT_NE(to, 0u);
      live.erase(it);
      live[to] = d;
    }
    if (round % 50 == 49) check(&f_);
  }
  for (int s = 0; s < slot; ++s) EXPECT_EQ(BlockAt(GetRoot(&f_, s)).dwRefCount, 1u) << s;
  check(&f_);
  ASSERT_EQ(Close(&f_), 0);
  ASSERT_EQ(Open(path_.c_str(), &f_, 0), 0);
  check(&f_);
  EXPECT_EQ(Close(&f_), 0);
}

// Neighbouring small blocks come from one read, not one or two each.
TEST_F(DataFileTest, ConsecutiveSmallBlocksShareReads) {
  CreateOpen(1);
  std::vector<uint32_t> addrs;
  for (int i = 0; i < 1000; ++i) addrs.push_back(Append(&f_, "record-payload", 14));
  ASSERT_EQ(Close(&f_), 0);
  ASSERT_EQ(Open(path_.c_str(), &f_, 0), 0);
  long before = env_.readCalls;
  char buf[32];
  for (uint32_t a : addrs) ASSERT_EQ(Read(&f_, a, buf, sizeof buf), 14u);
  EXPECT_LE(env_.readCalls - before, 2);
  EXPECT_EQ(std::string(buf, 14), "record-payload");
  EXPECT_EQ(Close(&f_), 0);
}

}  // namespace
