// Systems and sections: stored sizes, index growth, replace in place or
// moved, the deletions that take field lists and maps with a system or a
// section, refusal of malformed system blocks, and the table-wide values.
#include "qvdf/store/records_test_util.h"
#include "qvdf/store/tableio.h"

namespace {

using rectest::Buf;
using rectest::Config;
using rectest::ListBuf;
using rectest::MapBuf;
using rectest::Sec;
using rectest::SystemBuf;

class SystemsTest : public rectest::RecTest {
 protected:
  void SetUp() override {
    RecTest::SetUp();
    OpenNew("t.itb", &db_);
  }
  int Add(uint16_t id, const std::vector<Sec>& secs) {
    Buf b = SystemBuf(id, secs);
    return AddSystem(&db_, id, rectest::Sys(b));
  }
  int AddList(int id, uint16_t app, uint16_t sec, uint16_t type, int n = 3) {
    Buf b = ListBuf(app, sec, type, n);
    return AddFieldList(&db_, id, rectest::List(b));
  }
  int AddMap(int id, int16_t srcList, const ConfigRecord& c) {
    Buf b = MapBuf(srcList, srcList, 3);
    return AddFieldMap(&db_, id, &c, rectest::Map(b));
  }
  void Reopen() {
    ASSERT_EQ(CloseTable(&db_), 0);
    ASSERT_EQ(OpenTable(Path("t.itb").c_str(), &db_, 1), 0);
  }
};

TEST_F(SystemsTest, SizesFollowTheSectionCount) {
  ASSERT_EQ(Add(1, {}), 0);
  std::vector<Sec> twelve;
  for (int16_t i = 1; i <= 12; ++i) twelve.push_back({i, static_cast<int16_t>(i % 10)});
  ASSERT_EQ(Add(2, twelve), 0);
  EXPECT_EQ(GetSystemSize(&db_, 1), 1260);
  EXPECT_EQ(GetSystemSize(&db_, 2), 4572);
  EXPECT_EQ(CountSystems(&db_), 2);
  Buf b = SystemBuf(3, {});
  rectest::Sys(b)->nSections = 114;
  EXPECT_EQ(AddSystem(&db_, 3, rectest::Sys(b)), kErrInconsistent);
  EXPECT_EQ(CountSystems(&db_), 2);
}

TEST_F(SystemsTest, IndexGrowsBelowID255Only) {
  EXPECT_EQ(Add(0, {}), kErrRange);
  EXPECT_EQ(Add(63, {}), 0);
  EXPECT_EQ(SystemSlots(&db_), 64);
  EXPECT_EQ(Add(64, {}), 0);
  EXPECT_EQ(SystemSlots(&db_), 96);
  EXPECT_EQ(Add(300, {}), kErrRange);
  EXPECT_EQ(SystemSlots(&db_), 96);
  EXPECT_EQ(Add(254, {}), 0);
  EXPECT_EQ(SystemSlots(&db_), 286);
  EXPECT_EQ(Add(280, {}), 0);
  EXPECT_EQ(Add(280, {}), kErrRange);
  EXPECT_EQ(GetError(&db_), kErrRange);
  Reopen();
  EXPECT_EQ(SystemSlots(&db_), 286);
  EXPECT_EQ(CountSystems(&db_), 4);
  EXPECT_TRUE(SystemExists(&db_, 280));
  EXPECT_EQ(GetError(&db_), 0);
  EXPECT_FALSE(SystemExists(&db_, 281));
  EXPECT_EQ(GetError(&db_), kErrRange);
}

TEST_F(SystemsTest, ReplaceMovesTheBlockOnlyWhenLonger) {
  ASSERT_EQ(Add(5, {{1, 0}, {2, 1}}), 0);
  uint32_t addr = SystemIndex(&db_)[4];
  Buf shorter = SystemBuf(5, {{7, 2}}, "Shorter");
  ASSERT_EQ(ReplaceSystem(&db_, 5, rectest::Sys(shorter)), 0);
  EXPECT_EQ(SystemIndex(&db_)[4], addr);
  EXPECT_EQ(StoredSystem(5), shorter);
  Buf longer = SystemBuf(5, {{1, 0}, {2, 1}, {3, 2}}, "Longer");
  ASSERT_EQ(ReplaceSystem(&db_, 5, rectest::Sys(longer)), 0);
  EXPECT_NE(SystemIndex(&db_)[4], addr);
  EXPECT_EQ(StoredSystem(5), longer);
  EXPECT_EQ(ReplaceSystem(&db_, 6, rectest::Sys(longer)), kErrRange);
}

TEST_F(SystemsTest, ReadOnlyAndClosedTablesRefuseChanges) {
  ASSERT_EQ(Add(1, {}), 0);
  ASSERT_EQ(CloseTable(&db_), 0);
  EXPECT_EQ(CloseTable(&db_), 0);
  Buf b = SystemBuf(2, {});
  EXPECT_EQ(AddSystem(&db_, 2, rectest::Sys(b)), kErrMode);
  EXPECT_EQ(ReadSystem(&db_, 1, b.data(), 1260), kErrMode);
  EXPECT_EQ(DeleteSystemAll(&db_, 1), kErrMode);
  EXPECT_EQ(SetMainSystem(&db_, 3), kErrMode);
  EXPECT_EQ(CountSystems(&db_), 0);
  EXPECT_FALSE(SystemExists(&db_, 1));

  ASSERT_EQ(OpenTable(Path("t.itb").c_str(), &db_, 0), 0);
  EXPECT_EQ(AddSystem(&db_, 2, rectest::Sys(b)), kErrMode);
  EXPECT_EQ(DeleteSystem(&db_, 1), kErrMode);
  EXPECT_EQ(DeleteSection(&db_, 1, 1), kErrMode);
  EXPECT_EQ(GetError(&db_), kErrMode);
  EXPECT_EQ(ReadSystem(&db_, 1, b.data(), 1260), 0);
}

// Systems 1, 2, 3; lists 0 (1/1), 1 (2/1), 2 (3/1); map 1 from 1/1 to 2/1,
// map 2 from 3/1 to 2/1 sharing map 1's record, map 3 from 2/1 to 3/1.
TEST_F(SystemsTest, DeleteSystemAllTakesListsMapsAndSharers) {
  ASSERT_EQ(Add(1, {{1, 1}}), 0);
  ASSERT_EQ(Add(2, {{1, 1}}), 0);
  ASSERT_EQ(Add(3, {{1, 1}}), 0);
  ASSERT_EQ(AddList(0, 1, 1, 1), 0);
  ASSERT_EQ(AddList(1, 2, 1, 1), 0);
  ASSERT_EQ(AddList(2, 3, 1, 1), 0);
  ASSERT_EQ(AddMap(1, 0, Config(1, 1, 2, 1)), 0);
  ConfigRecord shared = Config(3, 1, 2, 1, 1, 1);
  ASSERT_EQ(AddFieldMap(&db_, 2, &shared, nullptr), 0);
  ASSERT_EQ(AddMap(3, 1, Config(2, 1, 3, 1)), 0);

  ASSERT_EQ(DeleteSystemAll(&db_, 1), 0);
  EXPECT_FALSE(SystemExists(&db_, 1));
  EXPECT_EQ(CountSystems(&db_), 2);
  EXPECT_FALSE(FieldListExists(&db_, 0));
  EXPECT_TRUE(FieldListExists(&db_, 1));
  EXPECT_TRUE(FieldListExists(&db_, 2));
  EXPECT_FALSE(FieldMapExists(&db_, 1));
  EXPECT_FALSE(FieldMapExists(&db_, 2));
  EXPECT_TRUE(FieldMapExists(&db_, 3));
  EXPECT_EQ(CountFieldLists(&db_), 2);
  EXPECT_EQ(CountFieldMaps(&db_), 1);
  EXPECT_EQ(GetRoot(&db_.file, 2), 0u);
  EXPECT_EQ(DeleteSystemAll(&db_, 1), kErrDependent);
}

TEST_F(SystemsTest, DeleteSectionTakesItsDependentsAndRecomputesFlags) {
  ASSERT_EQ(Add(1, {{1, 0, 0x2}, {2, 3, 0x2}, {3, 3, 0}}), 0);
  ASSERT_EQ(Add(2, {{1, 3}}), 0);
  ASSERT_EQ(AddList(0, 1, 2, 3), 0);
  ASSERT_EQ(AddList(1, 1, 3, 3), 0);
  ASSERT_EQ(AddList(2, 1, 1, 0), 0);
  ASSERT_EQ(AddList(3, 2, 1, 3), 0);
  ASSERT_EQ(AddMap(1, 0, Config(1, 2, 2, 1)), 0);
  ConfigRecord shared = Config(2, 1, 1, 3, 3, 1);
  ASSERT_EQ(AddFieldMap(&db_, 2, &shared, nullptr), 0);
  ASSERT_EQ(AddMap(3, 2, Config(1, 1, 2, 1)), 0);
  uint32_t addr = SystemIndex(&db_)[0];

  ASSERT_EQ(DeleteSection(&db_, 1, 2), 0);
  Buf stored = StoredSystem(1);
  ASSERT_EQ(stored.size(), 1812u);
  const SystemRecord* r = rectest::Sys(stored);
  EXPECT_EQ(SystemIndex(&db_)[0], addr);
  EXPECT_EQ(r->nSections, 2);
  EXPECT_EQ(SystemSections(r)[0].nSectionID, 1);
  EXPECT_EQ(SystemSections(r)[1].nSectionID, 3);
  EXPECT_EQ(r->anSectionFlags[0], 1);
  EXPECT_EQ(r->anSectionFlags[3], 0);
  EXPECT_FALSE(FieldListExists(&db_, 0));
  EXPECT_TRUE(FieldListExists(&db_, 1));
  EXPECT_TRUE(FieldListExists(&db_, 2));
  EXPECT_TRUE(FieldListExists(&db_, 3));
  EXPECT_FALSE(FieldMapExists(&db_, 1));
  EXPECT_FALSE(FieldMapExists(&db_, 2));
  EXPECT_TRUE(FieldMapExists(&db_, 3));

  EXPECT_EQ(DeleteSection(&db_, 1, 9), kErrInconsistent);
  EXPECT_EQ(DeleteSection(&db_, 7, 1), kErrRange);
  ASSERT_EQ(DeleteSection(&db_, 1, 1), 0);
  ASSERT_EQ(DeleteSection(&db_, 1, 3), 0);
  EXPECT_EQ(GetSystemSize(&db_, 1), 1260);
  EXPECT_EQ(rectest::Sys(stored = StoredSystem(1))->nSections, 0);
  EXPECT_EQ(CountFieldLists(&db_), 1);
  EXPECT_EQ(CountFieldMaps(&db_), 0);
}

TEST_F(SystemsTest, MalformedSystemBlocksAreRefused) {
  ASSERT_EQ(Add(5, {{1, 0}, {2, 1}}), 0);
  ASSERT_EQ(Add(6, {{1, 0}}), 0);
  uint32_t a5 = SystemIndex(&db_)[4], a6 = SystemIndex(&db_)[5];
  ASSERT_EQ(CloseTable(&db_), 0);
  storetest::Bytes b = storetest::ReadBytes(Path("t.itb"));
  storetest::PutU16(b, a5 + 8 + 428, 3);  // count disagrees with the block
  storetest::PutU32(b, a6, 1261);         // block of no whole section count
  storetest::WriteBytes(Path("t.itb"), b);
  ASSERT_EQ(OpenTable(Path("t.itb").c_str(), &db_, 1), 0);

  Buf buf(4000);
  EXPECT_EQ(ReadSystem(&db_, 5, buf.data(), 4000), kErrBadFormat);
  EXPECT_EQ(ReadSystem(&db_, 5, buf.data(), 100), kErrBadFormat);
  EXPECT_EQ(DeleteSection(&db_, 5, 1), kErrBadFormat);
  EXPECT_EQ(GetSystemSize(&db_, 6), 0);
  EXPECT_EQ(GetError(&db_), kErrBadFormat);
  EXPECT_EQ(ReadSystem(&db_, 6, buf.data(), 4000), kErrBadFormat);
}

TEST_F(SystemsTest, TableWideValuesLastUntilReopened) {
  EXPECT_EQ(SetMainSystem(&db_, 7), 0);
  EXPECT_EQ(SetMainClass(&db_, -2), 0);
  EXPECT_EQ(SetProductID(&db_, 0xDEADBEEF), 0);
  EXPECT_EQ(SetBundledFlag(&db_, 1), 0);
  Reopen();
  EXPECT_EQ(GetMainSystem(&db_), 7);
  EXPECT_EQ(GetMainClass(&db_), -2);
  EXPECT_EQ(GetProductID(&db_), 0xDEADBEEFu);
  EXPECT_EQ(GetBundledFlag(&db_), 1);
  // Setters do not look at the open mode.
  ASSERT_EQ(CloseTable(&db_), 0);
  ASSERT_EQ(OpenTable(Path("t.itb").c_str(), &db_, 0), 0);
  EXPECT_EQ(SetMainSystem(&db_, 9), 0);
  EXPECT_EQ(GetMainSystem(&db_), 9);
}

}  // namespace
