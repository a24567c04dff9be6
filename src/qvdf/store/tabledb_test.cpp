// Table database: the exact block layout of a new table, open and close
// identity, the checks that refuse corrupt or hostile table files, index
// growth and its write-back, and the closed state after every kind of close.
#include <vector>

#include "qvdf/store/tabledb.h"

#include "qvdf/store/store_test_util.h"
#include "qvdf/store/tableio.h"

namespace {

using storetest::Bytes;
using storetest::PutU16;
using storetest::PutU32;
using storetest::ReadBytes;
using storetest::U16;
using storetest::U32;
using storetest::WriteBytes;

// Offsets in a freshly created table file.
constexpr size_t kHdr = 28 + 8;  // TableHeader payload
constexpr size_t kRootArray = 12996;

class TableDbTest : public storetest::StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    path_ = Path("t.itb");
    ASSERT_EQ(CreateTable(path_.c_str()), 0);
    fresh_ = ReadBytes(path_);
  }
  void ExpectClosed(const TableDb& db) {
    EXPECT_FALSE(IsTableOpen(&db));
    EXPECT_EQ(db.file.hFile, platform::kInvalidHandle);
    EXPECT_EQ(db.systemIndex.get(), nullptr);
    EXPECT_EQ(db.fieldListIndex.get(), nullptr);
    EXPECT_EQ(db.fieldMapIndex.get(), nullptr);
    EXPECT_EQ(db.charMapIndex.get(), nullptr);
    EXPECT_EQ(db.wDirty, 0);
    EXPECT_EQ(env_.openFiles, 0);
  }
  // Opens a copy of the fresh table changed by `patch`; returns the code.
  template <typename F>
  int OpenPatched(F patch, int mode = 0) {
    Bytes b = fresh_;
    patch(b);
    WriteBytes(path_, b);
    int rc = OpenTable(path_.c_str(), &db_, mode);
    EXPECT_EQ(GetError(&db_), rc);
    if (rc) ExpectClosed(db_);
    CloseTable(&db_);
    return rc;
  }

  std::string path_;
  Bytes fresh_;
  TableDb db_;
};

TEST_F(TableDbTest, NewTableHasTheFixedLayout) {
  const Bytes& b = fresh_;
  ASSERT_EQ(b.size(), 15048u);
  // File header.
  EXPECT_EQ(U16(b, 0), 0x0F0F);
  EXPECT_EQ(U16(b, 2), 3);
  EXPECT_EQ(U32(b, 4), 513u);
  EXPECT_EQ(U32(b, 8), 8192u);
  EXPECT_EQ(U32(b, 12), 5u);
  EXPECT_EQ(U32(b, 16), 1u);
  EXPECT_EQ(U32(b, 20), kRootArray);
  EXPECT_EQ(U32(b, 24), 0u);
  // Blocks: header (linked once) and the four index arrays.
  struct Blk { size_t at; uint32_t len, refs; };
  for (Blk k : {Blk{28, 128, 1}, Blk{164, 256, 0}, Blk{428, 4096, 0}, Blk{4532, 8192, 0},
                Blk{12732, 256, 0}}) {
    EXPECT_EQ(U32(b, k.at), k.len) << k.at;
    EXPECT_EQ(U32(b, k.at + 4), k.refs) << k.at;
  }
  // Table header.
  Bytes hdr(b.begin() + kHdr, b.begin() + kHdr + 128);
  Bytes expect(128, 0);
  PutU16(expect, 0, 0xB0BD);
  PutU16(expect, 2, 4);
  PutU16(expect, 8, 64);
  PutU16(expect, 12, 256);
  PutU16(expect, 16, 512);
  PutU32(expect, 20, 164);
  PutU32(expect, 24, 428);
  PutU32(expect, 28, 4532);
  PutU32(expect, 32, 12732);
  PutU16(expect, 38, 64);
  EXPECT_EQ(hdr, expect);
  // Index payloads are zero; only root slot 0 is set.
  for (size_t at : {size_t{164}, size_t{428}, size_t{4532}, size_t{12732}}) {
    uint32_t len = U32(b, at);
    for (size_t i = 0; i < len; ++i) ASSERT_EQ(b[at + 8 + i], 0) << at;
  }
  EXPECT_EQ(U32(b, kRootArray), 28u);
  for (size_t i = 1; i < 513; ++i) ASSERT_EQ(U32(b, kRootArray + 4 * i), 0u) << i;
  EXPECT_EQ(env_.openFiles, 0);
}

TEST_F(TableDbTest, OpenAndCloseWithoutChangeKeepsBytes) {
  for (int mode : {0, 1, 2}) {
    ASSERT_EQ(OpenTable(path_.c_str(), &db_, mode), 0);
    EXPECT_TRUE(IsTableOpen(&db_));
    EXPECT_EQ(db_.nMode, mode == 0 ? 0 : 1);
    EXPECT_EQ(db_.header.nFieldMapSlots, 512);
    EXPECT_EQ(CloseTable(&db_), 0);
    ExpectClosed(db_);
    EXPECT_EQ(ReadBytes(path_), fresh_) << mode;
  }
}

TEST_F(TableDbTest, ModeTwoFollowsTheReadOnlyAttribute) {
  env_.reportReadOnly = true;
  ASSERT_EQ(OpenTable(path_.c_str(), &db_, 2), 0);
  EXPECT_EQ(db_.nMode, 0);
  EXPECT_EQ(RequireWritable(&db_), 17);
  EXPECT_EQ(GetError(&db_), 17);
  EXPECT_EQ(GrowSystemIndex(&db_, 96), 17);
  EXPECT_EQ(CloseTable(&db_), 0);
  EXPECT_EQ(OpenTable(Path("missing.itb").c_str(), &db_, 2), 9);
  EXPECT_EQ(GetError(&db_), 9);
  EXPECT_EQ(OpenTable(path_.c_str(), &db_, 3), 17);
  ExpectClosed(db_);
}

TEST_F(TableDbTest, HeaderBlockChecks) {
  EXPECT_EQ(OpenPatched([](Bytes& b) { PutU16(b, kHdr + 2, 3); }), 4);       // version 3
  EXPECT_EQ(OpenPatched([](Bytes& b) { PutU16(b, kHdr + 2, 5); }), 4);
  EXPECT_EQ(OpenPatched([](Bytes& b) { PutU16(b, kHdr, 0xB0BE); }), 4);      // magic
  EXPECT_EQ(OpenPatched([](Bytes& b) { PutU32(b, kRootArray, 0); }), 4);     // slot 0 empty
  EXPECT_EQ(OpenPatched([](Bytes& b) { PutU32(b, 28, 127); }), 4);           // short header
  EXPECT_EQ(OpenPatched([](Bytes& b) { PutU32(b, 28, 129); }), 4);           // long header
  EXPECT_EQ(OpenPatched([](Bytes& b) { PutU32(b, kRootArray, 164); }), 4);   // slot 0 on an index
  EXPECT_EQ(OpenPatched([](Bytes& b) { PutU32(b, kRootArray, 99999); }), 4); // past the data
  EXPECT_EQ(OpenPatched([](Bytes& b) { PutU16(b, kHdr + 6, 0xFFFF); }), 4);  // nSystems -1
  EXPECT_EQ(OpenPatched([](Bytes& b) { PutU16(b, kHdr + 36, 0x8000); }), 4); // nCharMaps
  EXPECT_EQ(OpenPatched([](Bytes& b) { PutU16(b, kHdr + 6, 3); }), 0);       // counts are kept
}

TEST_F(TableDbTest, CapacitiesMustMatchTheirBlocks) {
  // Capacity fields in the header and their index block addresses.
  struct Ix { size_t slots, addr; int entry; };
  const Ix ixs[] = {{8, 20, 4}, {12, 24, 16}, {16, 28, 16}, {38, 32, 4}};
  for (const Ix& ix : ixs) {
    SCOPED_TRACE(ix.slots);
    uint16_t slots = U16(fresh_, kHdr + ix.slots);
    EXPECT_EQ(OpenPatched([&](Bytes& b) { PutU16(b, kHdr + ix.slots, 0xFFFF); }), 4);
    EXPECT_EQ(OpenPatched([&](Bytes& b) { PutU16(b, kHdr + ix.slots, 0x8000); }), 4);
    EXPECT_EQ(OpenPatched([&](Bytes& b) { PutU16(b, kHdr + ix.slots, 0); }), 12);
    EXPECT_EQ(OpenPatched([&](Bytes& b) { PutU16(b, kHdr + ix.slots, slots + 1); }), 50);
    EXPECT_EQ(OpenPatched([&](Bytes& b) { PutU16(b, kHdr + ix.slots, slots - 1); }), 4);
    EXPECT_EQ(OpenPatched([&](Bytes& b) { PutU32(b, kHdr + ix.addr, 0); }), 4);
    EXPECT_EQ(OpenPatched([&](Bytes& b) { PutU32(b, kHdr + ix.addr, 20000); }), 4);
    EXPECT_EQ(OpenPatched([&](Bytes& b) { PutU32(b, kHdr + ix.addr, 0xFFFFFFF8); }), 4);
  }
  // A field-map capacity needs as many root slots (plus the header's).
  EXPECT_EQ(OpenPatched([](Bytes& b) { PutU32(b, 4, 512); }), 4);
  // Index blocks that share bytes with each other or with the header.
  EXPECT_EQ(OpenPatched([](Bytes& b) { PutU32(b, kHdr + 32, 164); }), 4);
  EXPECT_EQ(OpenPatched([](Bytes& b) {
              PutU32(b, kHdr + 20, 28 + 64);  // inside the header block
              PutU32(b, 28 + 64, 256);
            }),
            4);
}

TEST_F(TableDbTest, TruncatedTablesAreRefused) {
  // Every boundary between the structures, and one byte either side.
  for (size_t cut : {0, 1, 27, 28, 35, 36, 163, 164, 427, 428, 4531, 4532, 12731, 12732, 12995,
                     12996, 12997, 15047}) {
    SCOPED_TRACE(cut);
    int expect = cut < 28 ? 6 : cut < kRootArray ? 4 : 6;
    EXPECT_EQ(OpenPatched([&](Bytes& b) { b.resize(cut); }), expect);
  }
}

TEST_F(TableDbTest, DamagedBytesNeverCrash) {
  // Every byte of the structures that drive the open, set to two values.
  std::vector<size_t> spots;
  for (size_t i = 0; i < 28 + 8 + 128; ++i) spots.push_back(i);
  for (size_t at : {164, 428, 4532, 12732})
    for (size_t i = 0; i < 8; ++i) spots.push_back(at + i);
  for (size_t i = 0; i < 16; ++i) spots.push_back(kRootArray + i);
  for (size_t at : spots) {
    for (unsigned char v : {0x00, 0xFF}) {
      if (fresh_[at] == v) continue;
      int rc = OpenPatched([&](Bytes& b) { b[at] = v; });
      EXPECT_TRUE(rc == 0 || rc == 4 || rc == 6 || rc == 12 || rc == 50) << at << ": " << rc;
    }
  }
  EXPECT_EQ(env_.openFiles, 0);
}

TEST_F(TableDbTest, GrownIndexMovesToTheEndAtClose) {
  ASSERT_EQ(OpenTable(path_.c_str(), &db_, 1), 0);
  SystemIndex(&db_)[63] = 28;  // any non-zero address survives the growth
  ASSERT_EQ(GrowSystemIndex(&db_, 96), 0);
  EXPECT_EQ(db_.header.nSystemSlots, 96);
  EXPECT_EQ(SystemIndex(&db_)[63], 28u);
  EXPECT_EQ(SystemIndex(&db_)[95], 0u);
  SystemIndex(&db_)[63] = 0;
  ASSERT_EQ(GrowFieldMapIndex(&db_, 1112), 0);
  EXPECT_EQ(db_.file.header.dwRootSlots, 1113u);
  ASSERT_EQ(CloseTable(&db_), 0);
  ExpectClosed(db_);

  Bytes b = ReadBytes(path_);
  // The system index moved first, then the field-map index, behind the old root array.
  uint32_t sys = kRootArray, map = kRootArray + 8 + 96 * 4;
  EXPECT_EQ(U32(b, kHdr + 20), sys);
  EXPECT_EQ(U32(b, kHdr + 24), 428u);
  EXPECT_EQ(U32(b, kHdr + 28), map);
  EXPECT_EQ(U32(b, kHdr + 32), 12732u);
  EXPECT_EQ(U16(b, kHdr + 8), 96);
  EXPECT_EQ(U16(b, kHdr + 16), 1112);
  EXPECT_EQ(U32(b, sys), 384u);
  EXPECT_EQ(U32(b, map), 1112u * 16);
  EXPECT_EQ(U32(b, 4), 1113u);
  EXPECT_EQ(U32(b, 12), 5u);               // still five live blocks
  EXPECT_EQ(U32(b, 24), 256u + 8192u);     // the old arrays are waste
  uint32_t roots = map + 8 + 1112 * 16;
  EXPECT_EQ(U32(b, 20), roots);
  EXPECT_EQ(b.size(), roots + 1113u * 4);

  ASSERT_EQ(OpenTable(path_.c_str(), &db_, 0), 0);
  EXPECT_EQ(db_.header.nSystemSlots, 96);
  EXPECT_EQ(db_.header.nFieldMapSlots, 1112);
  Bytes again = b;
  EXPECT_EQ(CloseTable(&db_), 0);
  EXPECT_EQ(ReadBytes(path_), again);
}

TEST_F(TableDbTest, GrowthLimitsAndFailuresLeaveTheTableIntact) {
  ASSERT_EQ(OpenTable(path_.c_str(), &db_, 1), 0);
  FieldListIndex(&db_)[255].nAppID = 7;
  env_.allocsLeft = 0;
  EXPECT_EQ(GrowFieldListIndex(&db_, 320), 12);
  EXPECT_EQ(GrowCharMapIndex(&db_, 128), 12);
  EXPECT_EQ(GrowFieldMapIndex(&db_, 1112), 12);
  env_.allocsLeft = -1;
  EXPECT_EQ(GetError(&db_), 12);
  EXPECT_EQ(db_.header.nFieldListSlots, 256);
  EXPECT_EQ(db_.header.nCharMapSlots, 64);
  EXPECT_EQ(db_.header.nFieldMapSlots, 512);
  EXPECT_EQ(db_.file.header.dwRootSlots, 513u);
  EXPECT_EQ(FieldListIndex(&db_)[255].nAppID, 7);
  EXPECT_EQ(db_.wDirty, 0);

  EXPECT_EQ(GrowFieldListIndex(&db_, 256), 13);
  EXPECT_EQ(GrowFieldListIndex(&db_, 32768), 13);
  // Root slots run out before the field-map index would.
  EXPECT_EQ(GrowFieldMapIndex(&db_, 32767), 1);
  EXPECT_EQ(db_.header.nFieldMapSlots, 512);
  EXPECT_EQ(GrowFieldMapIndex(&db_, 32766), 0);
  EXPECT_EQ(db_.file.header.dwRootSlots, 32767u);
  EXPECT_EQ(GrowFieldListIndex(&db_, 320), 0);
  EXPECT_EQ(FieldListIndex(&db_)[255].nAppID, 7);
  EXPECT_EQ(FieldListIndex(&db_)[319].nAppID, 0);
  EXPECT_EQ(CloseTable(&db_), 0);
  ASSERT_EQ(OpenTable(path_.c_str(), &db_, 0), 0);
  EXPECT_EQ(db_.header.nFieldListSlots, 320);
  EXPECT_EQ(FieldListIndex(&db_)[255].nAppID, 7);
  EXPECT_EQ(CloseTable(&db_), 0);
}

TEST_F(TableDbTest, BlockReadHelpersTellCorruptFromMissing) {
  ASSERT_EQ(OpenTable(path_.c_str(), &db_, 1), 0);
  uint32_t len = 1;
  EXPECT_EQ(BlockLength(&db_, 164, &len), 0);
  EXPECT_EQ(len, 256u);
  EXPECT_EQ(BlockLength(&db_, 0, &len), 4);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(BlockLength(&db_, 90000, &len), 4);
  char buf[256];
  EXPECT_EQ(ReadExactBlock(&db_, 164, buf, 256), 0);
  EXPECT_EQ(ReadExactBlock(&db_, 164, buf, 255), 4);
  EXPECT_EQ(ReadExactBlock(&db_, 3, buf, 8), 4);
  EXPECT_EQ(CloseTable(&db_), 0);
  EXPECT_EQ(BlockLength(&db_, 164, &len), 4);
  EXPECT_EQ(RequireOpen(&db_), 17);
}

TEST_F(TableDbTest, EveryCloseLeavesAClosedTable) {
  ASSERT_EQ(OpenTable(path_.c_str(), &db_, 1), 0);
  EXPECT_EQ(CloseTable(&db_), 0);
  EXPECT_EQ(CloseTable(&db_), 0);
  ExpectClosed(db_);
  EXPECT_EQ(RequireOpen(&db_), 17);
  EXPECT_EQ(RequireWritable(&db_), 17);

  ASSERT_EQ(OpenTable(path_.c_str(), &db_, 1), 0);
  MarkDirty(&db_);
  EXPECT_EQ(AbortTable(&db_, 13), 13);
  ExpectClosed(db_);
  EXPECT_EQ(GetError(&db_), 13);
  EXPECT_EQ(CloseTable(&db_), 0);
  EXPECT_EQ(ReadBytes(path_), fresh_);  // nothing was written back

  // A write-back that fails gives 6 and still closes everything.
  ASSERT_EQ(OpenTable(path_.c_str(), &db_, 1), 0);
  MarkDirty(&db_);
  env_.writesLeft = 0;
  EXPECT_EQ(CloseTable(&db_), 6);
  env_.writesLeft = -1;
  ExpectClosed(db_);
  EXPECT_EQ(GetError(&db_), 6);
  EXPECT_EQ(CloseTable(&db_), 0);

  EXPECT_EQ(SetError(&db_, 51), 51);
  EXPECT_EQ(GetError(&db_), 51);
  EXPECT_FALSE(IsTableOpen(nullptr));
}

TEST_F(TableDbTest, DirtyCloseWritesHeaderBack) {
  ASSERT_EQ(OpenTable(path_.c_str(), &db_, 1), 0);
  db_.header.nMainSystem = 12;
  db_.header.dwProductID = 0x01020304;
  db_.header.reserved2[77] = 0x5A;
  MarkDirty(&db_);
  ASSERT_EQ(CloseTable(&db_), 0);
  Bytes b = ReadBytes(path_);
  EXPECT_EQ(U16(b, kHdr + 40), 12);
  EXPECT_EQ(U32(b, kHdr + 44), 0x01020304u);
  EXPECT_EQ(b[kHdr + 127], 0x5A);
  // Same-sized rewrites stay in place: nothing wasted, nothing moved.
  EXPECT_EQ(U32(b, 24), 0u);
  EXPECT_EQ(U32(b, 20), kRootArray);
  EXPECT_EQ(b.size(), fresh_.size());
}

TEST_F(TableDbTest, CreateFailures) {
  EXPECT_EQ(CreateTable(Path("no/dir/t.itb").c_str()), 8);
  env_.writesLeft = 3;  // header block written, its link count not
  EXPECT_EQ(CreateTable(Path("w.itb").c_str()), 6);
  env_.writesLeft = -1;
  env_.allocsLeft = 2;  // root array twice, then the system index fails
  EXPECT_EQ(CreateTable(Path("m.itb").c_str()), 12);
  env_.allocsLeft = -1;
  EXPECT_EQ(env_.openFiles, 0);
}

TEST(FieldListChecksumTest, SignedBytesTimesThirtyOne) {
  EXPECT_EQ(FieldListChecksum("abc", 3), 30818);
  EXPECT_EQ(FieldListChecksum("", 0), 0);
  const unsigned char high[2] = {0x80, 0xFF};  // -128 then -1
  EXPECT_EQ(FieldListChecksum(high, 1), 65408);
  EXPECT_EQ(FieldListChecksum(high, 2), (65408u * 31 + 65535) % 65536);
}

// Records are folded many bytes at a time, on two paths: every length and
// every byte value must give what one byte at a time gives.
TEST(FieldListChecksumTest, BlocksAgreeWithBytewiseFolding) {
  std::vector<unsigned char> rec(2000);
  uint32_t x = 12345;
  for (auto& c : rec) c = static_cast<unsigned char>((x = x * 1103515245u + 12345u) >> 24);
  for (int len = 0; len <= static_cast<int>(rec.size()); len += len < 300 ? 1 : 37) {
    uint32_t h = 0;
    for (int i = 0; i < len; ++i) h = (h * 31 + static_cast<uint32_t>(static_cast<signed char>(rec[i]))) % 65536;
    ASSERT_EQ(FieldListChecksum(rec.data(), len), h) << "length " << len;
    ASSERT_EQ(FieldListChecksumPortable(rec.data(), len), h) << "length " << len;
  }
}

}  // namespace
