// Field lists, field maps and charmaps: index entries and checksum, index
// growth at its boundaries (and a failed growth that changes nothing),
// shared map records and their deletion, the base-map mark, and refusal of
// malformed record blocks.
#include "qvdf/store/records_test_util.h"
#include "qvdf/store/tableio.h"

namespace {

using rectest::Buf;
using rectest::Config;
using rectest::ListBuf;
using rectest::MapBuf;
using rectest::SystemBuf;
using storetest::Bytes;

class FieldRecsTest : public rectest::RecTest {
 protected:
  void SetUp() override {
    RecTest::SetUp();
    OpenNew("t.itb", &db_);
  }
  int AddList(int id, int n = 3, uint16_t app = 1) {
    Buf b = ListBuf(app, 1, 1, n);
    return AddFieldList(&db_, id, rectest::List(b));
  }
  // Closes db_, lets `patch` change the file, and opens it again.
  template <typename F>
  void PatchFile(F patch) {
    ASSERT_EQ(CloseTable(&db_), 0);
    Bytes b = storetest::ReadBytes(Path("t.itb"));
    patch(b);
    storetest::WriteBytes(Path("t.itb"), b);
    ASSERT_EQ(OpenTable(Path("t.itb").c_str(), &db_, 1), 0);
  }
};

TEST_F(FieldRecsTest, ListIndexEntryCopiesTheRecord) {
  Buf b = ListBuf(7, 2, 4, 2, "Contacts");
  ASSERT_EQ(AddFieldList(&db_, 0, rectest::List(b)), 0);
  EXPECT_TRUE(FieldListExists(&db_, 0));
  EXPECT_EQ(GetFieldListSize(&db_, 0), 404);
  EXPECT_EQ(GetFieldListApp(&db_, 0), 7);
  EXPECT_EQ(GetFieldListSecType(&db_, 0), 4);
  EXPECT_EQ(GetFieldListCount(&db_, 0), 2);
  EXPECT_EQ(GetFieldListChecksum(&db_, 0), FieldListChecksum(b.data(), 404));
  EXPECT_EQ(GetFieldListMark(&db_, 0), 0);
  EXPECT_EQ(MarkFieldList(&db_, 0), 0);
  EXPECT_EQ(MarkFieldList(&db_, 1), kErrRange);
  EXPECT_EQ(GetFieldListApp(&db_, 1), 0xFFFF);
  EXPECT_EQ(GetFieldListSecType(&db_, 1), 0xFFFF);
  EXPECT_EQ(GetFieldListCount(&db_, 1), -1);
  EXPECT_EQ(GetFieldListChecksum(&db_, 1), -1);
  EXPECT_EQ(GetFieldListMark(&db_, 1), -1);
  EXPECT_EQ(GetFieldListSize(&db_, 1), 0);

  // A byte of padding behind the name changes the checksum.
  Buf c = b;
  c[8 + 60] = 1;
  ASSERT_EQ(AddFieldList(&db_, 1, rectest::List(c)), 0);
  EXPECT_NE(GetFieldListChecksum(&db_, 1), GetFieldListChecksum(&db_, 0));

  ASSERT_EQ(CloseTable(&db_), 0);
  ASSERT_EQ(OpenTable(Path("t.itb").c_str(), &db_, 1), 0);
  EXPECT_EQ(GetFieldListMark(&db_, 0), '1');
  Buf whole(404), head(76);
  ASSERT_EQ(ReadFieldList(&db_, 0, whole.data(), 404), 0);
  EXPECT_EQ(whole, b);
  ASSERT_EQ(ReadFieldList(&db_, 0, head.data(), 76), 0);
  EXPECT_EQ(Buf(b.begin(), b.begin() + 76), head);
  EXPECT_EQ(DeleteFieldList(&db_, 0), 0);
  EXPECT_EQ(DeleteFieldList(&db_, 0), kErrRange);
  EXPECT_EQ(CountFieldLists(&db_), 1);
}

TEST_F(FieldRecsTest, ListIndexGrowsBelowID1000) {
  EXPECT_EQ(AddList(-1), kErrRange);
  ASSERT_EQ(AddList(256), 0);
  EXPECT_EQ(FieldListSlots(&db_), 320);
  ASSERT_EQ(AddList(999), 0);
  EXPECT_EQ(FieldListSlots(&db_), 1063);
  EXPECT_EQ(AddList(1063), kErrRange);
  EXPECT_EQ(AddList(999), kErrRange);
  EXPECT_EQ(FieldListSlots(&db_), 1063);
}

TEST_F(FieldRecsTest, FirstFreeListIDGrowsByOneStepAtMost32767) {
  for (int k = 0; k < 256; ++k) ASSERT_EQ(AddList(k, 0), 0);
  EXPECT_EQ(FirstFreeFieldListID(&db_), 256);
  EXPECT_EQ(FieldListSlots(&db_), 320);
  EXPECT_EQ(FirstFreeFieldListID(&db_), 256);
  ASSERT_EQ(DeleteFieldList(&db_, 10), 0);
  EXPECT_EQ(FirstFreeFieldListID(&db_), 10);

  // Every one of 32767 slots used: no further growth.
  ASSERT_EQ(GrowFieldListIndex(&db_, 32767), 0);
  FieldListIndexEntry used = FieldListIndex(&db_)[0];
  for (int k = 0; k < 32767; ++k) FieldListIndex(&db_)[k] = used;
  EXPECT_EQ(FirstFreeFieldListID(&db_), -1);
  EXPECT_EQ(GetError(&db_), kErrRange);
  EXPECT_EQ(FieldListSlots(&db_), 32767);
  AbortTable(&db_, 0);

  ASSERT_EQ(OpenTable(Path("t.itb").c_str(), &db_, 0), 0);
  EXPECT_EQ(FirstFreeFieldListID(&db_), -1);
  EXPECT_EQ(GetError(&db_), kErrMode);
}

TEST_F(FieldRecsTest, FailedGrowthLeavesTheTableAsItWas) {
  Buf s = SystemBuf(3, {});
  ASSERT_EQ(AddSystem(&db_, 3, rectest::Sys(s)), 0);
  ASSERT_EQ(AddList(0), 0);
  env_.allocsLeft = 0;
  Buf s64 = SystemBuf(64, {});
  EXPECT_EQ(AddSystem(&db_, 64, rectest::Sys(s64)), kErrNoMemory);
  EXPECT_EQ(AddList(300), kErrNoMemory);
  Buf m = MapBuf(0, 0, 3);
  ConfigRecord c = Config(3, 1, 3, 1);
  EXPECT_EQ(AddFieldMap(&db_, 600, &c, rectest::Map(m)), kErrNoMemory);
  CharMapRecord cm = rectest::CharMap("x");
  EXPECT_EQ(AddCharMap(&db_, 64, &cm), kErrNoMemory);
  env_.allocsLeft = -1;
  EXPECT_EQ(SystemSlots(&db_), 64);
  EXPECT_EQ(FieldListSlots(&db_), 256);
  EXPECT_EQ(FieldMapSlots(&db_), 512);
  EXPECT_EQ(db_.file.header.dwRootSlots, 513u);
  EXPECT_EQ(CharMapSlots(&db_), 64);
  EXPECT_EQ(StoredSystem(3), s);
  EXPECT_TRUE(FieldListExists(&db_, 0));
}

TEST_F(FieldRecsTest, MapIndexGrowsWithTheRootSlots) {
  ASSERT_EQ(AddList(0, 4), 0);
  Buf m = MapBuf(0, 0, 4);
  ConfigRecord c = Config(1, 1, 2, 1);
  EXPECT_EQ(AddFieldMap(&db_, 0, &c, rectest::Map(m)), kErrRange);
  ASSERT_EQ(AddFieldMap(&db_, 600, &c, rectest::Map(m)), 0);
  EXPECT_EQ(FieldMapSlots(&db_), 1112);
  EXPECT_EQ(db_.file.header.dwRootSlots, 1113u);
  EXPECT_EQ(GetFieldMapSize(&db_, 600), 80);
  EXPECT_EQ(AddFieldMap(&db_, 10000, &c, rectest::Map(m)), kErrRange);
  ASSERT_EQ(CloseTable(&db_), 0);
  ASSERT_EQ(OpenTable(Path("t.itb").c_str(), &db_, 0), 0);
  EXPECT_EQ(FieldMapSlots(&db_), 1112);
  EXPECT_EQ(db_.file.header.dwRootSlots, 1113u);
  EXPECT_TRUE(FieldMapExists(&db_, 600));
}

TEST_F(FieldRecsTest, SharedEntriesReadTheBaseRecord) {
  ASSERT_EQ(AddList(0, 3), 0);
  EXPECT_EQ(DeleteFieldMapAll(&db_, 5), kErrDependent);
  Buf base = MapBuf(0, 0, 3, 0x10, "Base");
  ConfigRecord c = Config(1, 2, 3, 4, 5, 99);
  EXPECT_EQ(AddFieldMap(&db_, 4, &c, nullptr), kErrRange);
  EXPECT_EQ(AddFieldMap(&db_, 4, nullptr, nullptr), kErrInconsistent);
  Buf orphan = MapBuf(8, 8, 3);
  EXPECT_EQ(AddFieldMap(&db_, 4, &c, rectest::Map(orphan)), kErrInconsistent);
  EXPECT_EQ(CountFieldMaps(&db_), 0);

  ASSERT_EQ(AddFieldMap(&db_, 5, &c, rectest::Map(base)), 0);
  EXPECT_EQ(GetLastBaseMap(&db_), 5);
  ConfigRecord sharer = Config(6, 7, 8, 9, 2, 5);
  ASSERT_EQ(AddFieldMap(&db_, 7, &sharer, nullptr), 0);
  Buf low = MapBuf(0, 0, 3, 0x10);
  ASSERT_EQ(AddFieldMap(&db_, 3, &c, rectest::Map(low)), 0);
  Buf plain = MapBuf(0, 0, 3);
  ASSERT_EQ(AddFieldMap(&db_, 9, &c, rectest::Map(plain)), 0);
  EXPECT_EQ(GetLastBaseMap(&db_), 5);
  EXPECT_EQ(AddFieldMap(&db_, 9, &c, rectest::Map(plain)), kErrRange);
  // Without a configuration the entry is cleared and keeps its own record.
  ASSERT_EQ(AddFieldMap(&db_, 11, nullptr, rectest::Map(plain)), 0);
  EXPECT_EQ(ResolveFieldMap(&db_, 11), 11);
  EXPECT_EQ(FieldMapIndex(&db_)[10].nMapID, 0);
  Buf own(78);
  ASSERT_EQ(ReadFieldMap(&db_, 11, nullptr, own.data(), GetFieldMapSize(&db_, 11)), 0);
  EXPECT_EQ(own, plain);
  ASSERT_EQ(DeleteFieldMap(&db_, 11), 0);

  EXPECT_EQ(ResolveFieldMap(&db_, 7), 5);
  EXPECT_EQ(ResolveFieldMap(&db_, 5), 5);
  EXPECT_EQ(GetFieldMapSize(&db_, 7), 78);
  ConfigRecord got{};
  Buf rec(78);
  ASSERT_EQ(ReadFieldMap(&db_, 7, &got, rec.data(), 78), 0);
  EXPECT_EQ(rec, base);
  EXPECT_EQ(got.nConfigID, 7);
  EXPECT_EQ(got.nMapID, 5);
  EXPECT_EQ(got.nSecType, 2);
  EXPECT_EQ(got.dwSource, 0x00060007u);
  EXPECT_EQ(got.dwTarget, 0x00080009u);
  EXPECT_EQ(got.nAux1, -1);
  EXPECT_EQ(got.nAux2, 130u);
  EXPECT_EQ(ReadFieldMap(&db_, 5, &got, nullptr, 0), 0);
  EXPECT_EQ(got.nMapID, 5);  // an entry with its own record points at itself
  Buf wide(80);
  EXPECT_EQ(ReadFieldMap(&db_, 7, nullptr, wide.data(), 80), kErrIo);
  EXPECT_EQ(ReadFieldMap(&db_, 8, &got, nullptr, 0), kErrRange);

  // The sharer's own slot holds the dummy record.
  Buf dummy(76);
  ASSERT_EQ(Read(&db_.file, GetRoot(&db_.file, 7), dummy.data(), 76), 76u);
  const auto* d = reinterpret_cast<const FieldMapRecord*>(dummy.data());
  EXPECT_EQ(d->nSourceList, -1);
  EXPECT_EQ(d->nTargetList, -1);
  EXPECT_STREQ(d->szName, "Dummy map record");
  EXPECT_EQ(d->dwAttribs, 0u);
  EXPECT_EQ(GetMapEntry(d, 0) | GetMapEntry(d, 1), 0);

  ASSERT_EQ(DeleteFieldMapAll(&db_, 5), 0);
  EXPECT_FALSE(FieldMapExists(&db_, 5));
  EXPECT_FALSE(FieldMapExists(&db_, 7));
  EXPECT_TRUE(FieldMapExists(&db_, 3));
  EXPECT_EQ(CountFieldMaps(&db_), 2);
  EXPECT_EQ(GetLastBaseMap(&db_), 5);
  EXPECT_EQ(GetFieldMapSize(&db_, 5), 0);
  EXPECT_EQ(GetError(&db_), kErrSlotEmpty);
}

TEST_F(FieldRecsTest, CharMapsAlwaysCount256) {
  CharMapRecord cm = rectest::CharMap("Latin");
  cm.nChars = 0;
  EXPECT_EQ(AddCharMap(&db_, 0, &cm), kErrRange);
  ASSERT_EQ(AddCharMap(&db_, 1, &cm), 0);
  EXPECT_EQ(GetCharMapSize(&db_, 1), 325);
  CharMapRecord back{};
  ASSERT_EQ(ReadCharMap(&db_, 1, &back, 325), 0);
  EXPECT_EQ(back.nChars, 256);
  EXPECT_EQ(std::memcmp(back.abMap, cm.abMap, 256), 0);
  EXPECT_EQ(AddCharMap(&db_, 1, &cm), kErrRange);
  ASSERT_EQ(AddCharMap(&db_, 64, &cm), 0);
  EXPECT_EQ(CharMapSlots(&db_), 128);
  ASSERT_EQ(AddCharMap(&db_, 999, &cm), 0);
  EXPECT_EQ(CharMapSlots(&db_), 1063);
  EXPECT_EQ(AddCharMap(&db_, 1064, &cm), kErrRange);
  EXPECT_EQ(CountCharMaps(&db_), 3);
  EXPECT_EQ(DeleteCharMap(&db_, 64), 0);
  EXPECT_FALSE(CharMapExists(&db_, 64));
  EXPECT_EQ(DeleteCharMap(&db_, 64), kErrRange);
  EXPECT_EQ(CountCharMaps(&db_), 2);
}

TEST_F(FieldRecsTest, MalformedBlocksAreRefused) {
  ASSERT_EQ(AddList(0, 2), 0);
  ASSERT_EQ(AddList(1, 2), 0);
  Buf m = MapBuf(0, 0, 2);
  ConfigRecord c = Config(1, 1, 1, 1);
  ASSERT_EQ(AddFieldMap(&db_, 1, &c, rectest::Map(m)), 0);
  ASSERT_EQ(AddFieldMap(&db_, 2, &c, rectest::Map(m)), 0);
  CharMapRecord cm = rectest::CharMap("x");
  ASSERT_EQ(AddCharMap(&db_, 1, &cm), 0);
  uint32_t l0 = FieldListIndex(&db_)[0].dwBlock, l1 = FieldListIndex(&db_)[1].dwBlock;
  uint32_t m1 = GetRoot(&db_.file, 1), m2 = GetRoot(&db_.file, 2);
  uint32_t c1 = CharMapIndex(&db_)[0];
  PatchFile([&](Bytes& b) {
    storetest::PutU16(b, l0 + 8, 3);  // nFields disagrees with the index and the block
    storetest::PutU32(b, l1, 240);    // block shorter than the index demands
    storetest::PutU32(b, m1, 73);     // odd map record
    storetest::PutU32(b, m2, 70);     // shorter than the fixed part
    storetest::PutU32(b, c1, 324);
  });
  Buf buf(1000);
  EXPECT_EQ(ReadFieldList(&db_, 0, buf.data(), 1000), kErrBadFormat);
  EXPECT_EQ(ReadFieldList(&db_, 0, buf.data(), 1), kErrBadFormat);
  EXPECT_EQ(ReadFieldList(&db_, 1, buf.data(), 1000), kErrBadFormat);
  EXPECT_EQ(GetFieldMapSize(&db_, 1), 0);
  EXPECT_EQ(GetError(&db_), kErrBadFormat);
  EXPECT_EQ(ReadFieldMap(&db_, 1, nullptr, buf.data(), 73), kErrBadFormat);
  EXPECT_EQ(ReadFieldMap(&db_, 2, nullptr, buf.data(), 70), kErrBadFormat);
  EXPECT_EQ(GetCharMapSize(&db_, 1), 0);
  EXPECT_EQ(ReadCharMap(&db_, 1, buf.data(), 325), kErrBadFormat);

  FieldListIndex(&db_)[1].nFields = -1;
  EXPECT_EQ(GetFieldListSize(&db_, 1), 0);
  EXPECT_EQ(ReadFieldList(&db_, 1, buf.data(), 1000), kErrBadFormat);
  db_.wDirty = 0;
}

}  // namespace
