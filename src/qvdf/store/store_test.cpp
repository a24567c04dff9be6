// The table store below the formats: the exact bytes of fresh data files and
// tables, the refusal of damaged ones with nothing left open, block rewrites
// and reference counts, index growth, the deletions that take dependents
// with them, compaction, and a disk that fills in the middle of a table.
#include "qvdf/store/store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "qvdf/store/datafile.h"
#include "qvdf/store/itb.h"
#include "qvdf/store/tabledb.h"
#include "testenv.h"

namespace {

uint32_t U32(const std::string& b, size_t off) {
  uint32_t v = 0;
  std::memcpy(&v, b.data() + off, 4);
  return v;
}
uint16_t U16(const std::string& b, size_t off) {
  uint16_t v = 0;
  std::memcpy(&v, b.data() + off, 2);
  return v;
}
void Put16(std::string* b, size_t off, uint16_t v) { std::memcpy(b->data() + off, &v, 2); }

class Store : public ::testing::Test {
 protected:
  std::string Path(const char* rel) { return env.dir.Path(rel); }
  // A new table open read-write at rel.
  void NewTable(const char* rel, TableDb* db) {
    ASSERT_EQ(CreateTable(Path(rel).c_str()), 0);
    ASSERT_EQ(OpenTable(Path(rel).c_str(), db, 1), 0);
  }
  static SystemRecord System(uint16_t id) {
    SystemRecord r{};
    r.nSystemID = id;
    std::snprintf(r.szName, sizeof r.szName, "System %d", id);
    return r;
  }
  // A field list of n fields; its buffer is kept in lists_.
  FieldListRecord* List(uint16_t app, int n) {
    lists_.emplace_back(FieldListRecordSize(n), '\0');
    auto* r = reinterpret_cast<FieldListRecord*>(lists_.back().data());
    r->nFields = static_cast<int16_t>(n);
    r->nAppID = app;
    return r;
  }
  FieldMapRecord* Map(int16_t source, int16_t target, int n) {
    lists_.emplace_back(FieldMapRecordSize(n), '\0');
    auto* r = reinterpret_cast<FieldMapRecord*>(lists_.back().data());
    r->nSourceList = source;
    r->nTargetList = target;
    return r;
  }
  static ConfigRecord Config(uint16_t id, uint16_t from, uint16_t to, uint16_t shares = 0) {
    ConfigRecord c{};
    c.nConfigID = id;
    c.nMapID = shares ? shares : id;
    c.dwSource = uint32_t{from} << 16 | 1;
    c.dwTarget = uint32_t{to} << 16 | 1;
    return c;
  }

  testenv::TestEnv env;
  std::vector<std::string> lists_;
};

TEST_F(Store, FreshFilesHaveTheirExactLayout) {
  ASSERT_EQ(Create(Path("d").c_str(), 3), 0);
  std::string d = env.dir.Read("d");
  ASSERT_EQ(d.size(), 28u + 12u);
  EXPECT_EQ(U16(d, 0), 0x0F0F);
  EXPECT_EQ(U16(d, 2), 3);
  EXPECT_EQ(U32(d, 4), 3u);
  EXPECT_EQ(U32(d, 20), 28u);
  EXPECT_EQ(Create(Path("big").c_str(), 32768), kErrSlotsOrClose);
  EXPECT_FALSE(env.dir.Exists("big"));

  ASSERT_EQ(CreateTable(Path("t").c_str()), 0);
  std::string t = env.dir.Read("t");
  ASSERT_EQ(t.size(), 15048u);
  EXPECT_EQ(U32(t, 4), 513u);     // root slots
  EXPECT_EQ(U32(t, 8), 8192u);    // largest block
  EXPECT_EQ(U32(t, 12), 5u);      // blocks
  EXPECT_EQ(U32(t, 20), 12996u);  // root array
  EXPECT_EQ(U32(t, 12996), 28u);  // slot 0: the header block
  EXPECT_EQ(U16(t, 36), 0xB0BD);  // the header, after its block header
  EXPECT_EQ(U32(t, 36 + 20), 164u);
  EXPECT_EQ(U32(t, 36 + 24), 428u);
  EXPECT_EQ(U32(t, 36 + 28), 4532u);
  EXPECT_EQ(U32(t, 36 + 32), 12732u);

  // Opening and closing without a change leaves every byte.
  TableDb db;
  ASSERT_EQ(OpenTable(Path("t").c_str(), &db, 1), 0);
  EXPECT_EQ(CloseTable(&db), 0);
  EXPECT_EQ(env.dir.Read("t"), t);
}

TEST_F(Store, DamagedFilesAreRefusedWithNothingLeftOpen) {
  ASSERT_EQ(CreateTable(Path("t").c_str()), 0);
  const std::string good = env.dir.Read("t");
  struct Damage {
    size_t at;
    uint16_t value;
    int code;
  };
  const Damage cases[] = {
      {0, 0x1234, kErrBadFormat},                               // file magic
      {2, 2, kErrBadFormat},                                    // file version
      {2, 5, kErrBadFormat},      {36, 0xB0BC, kErrBadFormat},  // table magic
      {38, 3, kErrBadFormat},                                   // table version 3
      {28, 127, kErrBadFormat},                                 // header block of 127 bytes
      {28, 129, kErrBadFormat},   {36 + 8, 0, kErrNoMemory},    // a system index of no slots
      {12996, 0, kErrBadFormat},                                // root slot 0 empty
  };
  for (const Damage& c : cases) {
    std::string bad = good;
    Put16(&bad, c.at, c.value);
    env.dir.Write("bad", bad);
    TableDb db;
    EXPECT_EQ(OpenTable(Path("bad").c_str(), &db, 0), c.code) << "at " << c.at;
    EXPECT_FALSE(IsTableOpen(&db));
    EXPECT_EQ(env.openFiles, 0) << "at " << c.at;
  }
  env.dir.Write("short", good.substr(0, 20));
  TableDb db;
  EXPECT_EQ(OpenTable(Path("short").c_str(), &db, 0), kErrIo);
  EXPECT_EQ(OpenTable(Path("none").c_str(), &db, 0), kErrNotFound);
  EXPECT_EQ(env.openFiles, 0);
}

TEST_F(Store, RewritesFreesAndReferenceCounts) {
  ASSERT_EQ(Create(Path("d").c_str(), 4), 0);
  DataFile f;
  ASSERT_EQ(Open(Path("d").c_str(), &f, 1), 0);
  uint32_t a = Append(&f, "abcdef", 6);
  ASSERT_EQ(a, 28u);
  ASSERT_EQ(LinkRoot(&f, 1, a), 0);
  EXPECT_EQ(LinkRoot(&f, 1, a), kErrSlotInUse);
  EXPECT_EQ(UnlinkRoot(&f, 2), kErrSlotEmpty);
  EXPECT_EQ(Rewrite(&f, a, "xyz", 3), a);  // shorter: in place
  EXPECT_EQ(GetLength(&f, a), 3u);
  uint32_t b = Rewrite(&f, a, "longer!", 7);  // longer than now: moves
  EXPECT_NE(b, a);
  EXPECT_EQ(Free(&f, b), kErrStillLinked);  // the count moved with the data
  char buf[4] = {};
  EXPECT_EQ(Read(&f, b, buf, sizeof buf), 4u);
  EXPECT_EQ(std::string(buf, 4), "long");
  EXPECT_EQ(f.header.dwWastedBytes, 3u + 3u);
  EXPECT_EQ(Close(&f), 0);

  // After a close the root array follows the last block.
  std::string d = env.dir.Read("d");
  EXPECT_EQ(U32(d, 20), b + 8 + 7);
  EXPECT_EQ(d.size(), b + 8 + 7 + 16);
  ASSERT_EQ(Open(Path("d").c_str(), &f, 0), 0);
  EXPECT_EQ(Append(&f, "x", 1), 0u);
  EXPECT_EQ(f.nLastCode, kErrReadOnlyFile);
  EXPECT_EQ(Close(&f), 0);
}

TEST_F(Store, IndexesGrowAsFarAsTheirIdsGo) {
  TableDb db;
  NewTable("t", &db);
  SystemRecord s = System(64);
  EXPECT_EQ(AddSystem(&db, 64, &s), 0);
  EXPECT_EQ(SystemSlots(&db), 96);
  s = System(300);
  EXPECT_EQ(AddSystem(&db, 300, &s), kErrRange);
  s = System(254);
  EXPECT_EQ(AddSystem(&db, 254, &s), 0);
  EXPECT_EQ(SystemSlots(&db), 286);
  s = System(280);
  EXPECT_EQ(AddSystem(&db, 280, &s), 0);
  s = System(0);
  EXPECT_EQ(AddSystem(&db, 0, &s), kErrRange);

  s = System(1);
  ASSERT_EQ(AddSystem(&db, 1, &s), 0);
  ASSERT_EQ(AddFieldList(&db, 0, List(1, 2)), 0);
  ConfigRecord c = Config(600, 1, 1);
  EXPECT_EQ(AddFieldMap(&db, 600, &c, Map(0, 0, 2)), 0);
  EXPECT_EQ(FieldMapSlots(&db), 1112);
  EXPECT_EQ(db.file.header.dwRootSlots, 1113u);
  c = Config(5, 1, 1);
  EXPECT_EQ(AddFieldMap(&db, 5, &c, Map(9, 0, 2)), kErrInconsistent);  // no source list 9
  EXPECT_EQ(CloseTable(&db), 0);
  ASSERT_EQ(OpenTable(Path("t").c_str(), &db, 0), 0);
  EXPECT_EQ(CountSystems(&db), 4);
  EXPECT_TRUE(FieldMapExists(&db, 600));
  EXPECT_EQ(CloseTable(&db), 0);
  EXPECT_EQ(FieldListChecksum("abc", 3), 30818);
  // The lanes give h = h * 31 + byte (signed) at every length around their
  // 64-byte blocks.
  std::string bytes;
  for (int i = 0; i < 300; ++i) bytes += static_cast<char>(i * 37 + 11);
  for (int n : {63, 64, 65, 128, 129, 300}) {
    unsigned h = 0;
    for (int i = 0; i < n; ++i)
      h = h * 31u + static_cast<unsigned>(static_cast<signed char>(bytes[i]));
    EXPECT_EQ(FieldListChecksum(bytes.data(), n), static_cast<uint16_t>(h)) << n;
  }
}

TEST_F(Store, DeletionsTakeTheirDependentsAndCompactionDropsWaste) {
  TableDb db;
  NewTable("t", &db);
  for (uint16_t id : {1, 2}) {
    SystemRecord s = System(id);
    ASSERT_EQ(AddSystem(&db, id, &s), 0);
  }
  ASSERT_EQ(AddFieldList(&db, 0, List(1, 2)), 0);
  ASSERT_EQ(AddFieldList(&db, 1, List(2, 2)), 0);
  ConfigRecord c = Config(1, 1, 2);
  ASSERT_EQ(AddFieldMap(&db, 1, &c, Map(0, 1, 2)), 0);
  c = Config(2, 2, 1, 1);  // shares map 1's record
  ASSERT_EQ(AddFieldMap(&db, 2, &c, nullptr), 0);
  char rec[80] = {};
  ASSERT_EQ(ReadFieldMap(&db, 2, nullptr, rec, GetFieldMapSize(&db, 2)), 0);
  EXPECT_EQ(reinterpret_cast<FieldMapRecord*>(rec)->nTargetList, 1);

  // The system goes with its lists, the maps from or to it and their sharers.
  EXPECT_EQ(DeleteSystemAll(&db, 1), 0);
  EXPECT_EQ(CountSystems(&db), 1);
  EXPECT_FALSE(FieldListExists(&db, 0));
  EXPECT_TRUE(FieldListExists(&db, 1));
  EXPECT_EQ(CountFieldMaps(&db), 0);
  ASSERT_EQ(CloseTable(&db), 0);
  EXPECT_NE(U32(env.dir.Read("t"), 24), 0u);  // waste

  ASSERT_EQ(CompactCopy(Path("t").c_str(), Path("c.itb").c_str()), 0);
  std::string out = env.dir.Read("c.itb");
  EXPECT_EQ(U32(out, 24), 0u);
  ASSERT_EQ(OpenTable(Path("c.itb").c_str(), &db, 0), 0);
  EXPECT_TRUE(SystemExists(&db, 2));
  EXPECT_TRUE(FieldListExists(&db, 1));
  EXPECT_EQ(CloseTable(&db), 0);
}

TEST_F(Store, MapsOfDeletedListsGoWithThemWhateverSystemsTheyName) {
  TableDb db;
  NewTable("t", &db);
  for (uint16_t id : {1, 2, 3}) {
    SystemRecord s = System(id);
    s.nSections = 0;
    ASSERT_EQ(AddSystem(&db, id, &s), 0);
  }
  // System 3 with sections 1 and 2, a list in each.
  std::string sys(SystemRecordSize(2), '\0');
  auto* s3 = reinterpret_cast<SystemRecord*>(sys.data());
  *s3 = System(3);
  s3->nSections = 2;
  SystemSections(s3)[0].nSectionID = 1;
  SystemSections(s3)[1].nSectionID = 2;
  ASSERT_EQ(ReplaceSystem(&db, 3, s3), 0);
  ASSERT_EQ(AddFieldList(&db, 0, List(1, 2)), 0);
  ASSERT_EQ(AddFieldList(&db, 1, List(2, 2)), 0);
  FieldListRecord* l2 = List(3, 2);
  l2->nSectionID = 1;
  ASSERT_EQ(AddFieldList(&db, 2, l2), 0);
  FieldListRecord* l3 = List(3, 2);
  l3->nSectionID = 2;
  ASSERT_EQ(AddFieldList(&db, 3, l3), 0);

  // Maps between systems 1 and 2 that read or write the lists of system 3.
  ConfigRecord c = Config(1, 1, 2);
  ASSERT_EQ(AddFieldMap(&db, 1, &c, Map(2, 1, 2)), 0);  // reads list 2
  c = Config(2, 2, 1, 1);                               // shares map 1's record
  ASSERT_EQ(AddFieldMap(&db, 2, &c, nullptr), 0);
  c = Config(3, 1, 2);
  ASSERT_EQ(AddFieldMap(&db, 3, &c, Map(0, 3, 2)), 0);  // writes list 3
  c = Config(4, 1, 2);
  ASSERT_EQ(AddFieldMap(&db, 4, &c, Map(0, 1, 2)), 0);

  // Section 1 of system 3 takes list 2, map 1 and its sharer.
  EXPECT_EQ(DeleteSection(&db, 3, 1), 0);
  EXPECT_FALSE(FieldListExists(&db, 2));
  EXPECT_FALSE(FieldMapExists(&db, 1));
  EXPECT_FALSE(FieldMapExists(&db, 2));
  EXPECT_TRUE(FieldMapExists(&db, 3));
  // The whole system takes list 3 and map 3; map 4 uses lists of its own.
  EXPECT_EQ(DeleteSystemAll(&db, 3), 0);
  EXPECT_FALSE(FieldListExists(&db, 3));
  EXPECT_FALSE(FieldMapExists(&db, 3));
  EXPECT_TRUE(FieldMapExists(&db, 4));
  EXPECT_EQ(CountFieldMaps(&db), 1);
  EXPECT_EQ(CountFieldLists(&db), 2);
  EXPECT_EQ(CloseTable(&db), 0);
}

TEST_F(Store, ADiskThatFillsFailsTheTableAndKeepsItsOldHeader) {
  TableDb db;
  NewTable("t", &db);
  const std::string before = env.dir.Read("t");
  env.fail.writes.After(0);
  int rc = 0;
  for (int id = 1; id <= 200 && rc == 0; ++id) {
    SystemRecord s = System(static_cast<uint16_t>(id));
    rc = AddSystem(&db, id, &s);
  }
  // The records are held in memory: the failure shows when they go out.
  if (rc == 0) rc = SyncTable(&db);
  EXPECT_EQ(rc, kErrIo);
  SystemRecord s = System(201);
  EXPECT_EQ(AddSystem(&db, 201, &s), kErrIo);  // nothing after a lost write
  EXPECT_NE(CloseTable(&db), 0);
  env.fail.writes.Off();
  EXPECT_EQ(env.openFiles, 0);
  EXPECT_EQ(env.dir.Read("t").substr(0, 28), before.substr(0, 28));
}

}  // namespace
