// Writing an .itb: the compacted copy keeps every record, wastes nothing and
// lays its blocks out in the fixed order; compaction is idempotent; a failed
// copy leaves the table open again, a failed close or reopen marks it
// unusable.
#include "qvdf/store/itb.h"

#include "qvdf/store/records_test_util.h"
#include "qvdf/store/tableio.h"

namespace {

using rectest::Buf;
using rectest::Config;
using rectest::ListBuf;
using rectest::MapBuf;
using rectest::Sink;
using rectest::SystemBuf;
using storetest::Bytes;
using storetest::U32;

// Fails the n-th and later opens of one path.
class OpenFailEnv : public storetest::FaultEnv {
 public:
  std::string path;
  int opensLeft = -1;
  int OpenFile(const std::string& p, platform::Access a, platform::Disposition d,
               platform::FileHandle* o) override {
    if (p == path && opensLeft >= 0 && opensLeft-- == 0) {
      *o = platform::kInvalidHandle;
      return 2;
    }
    return FaultEnv::OpenFile(p, a, d, o);
  }
};

class ItbWriteTest : public rectest::RecTest {
 protected:
  void SetUp() override {
    RecTest::SetUp();
    tmp_ = Path("ITB1.tmp");
    out_ = Path("out.itb");
    OpenNew("ITB1.tmp", &db_);
  }

  // A table that has seen replacements, deletions and index growth.
  void Populate() {
    Buf s1 = SystemBuf(1, {{1, 1}}), s2 = SystemBuf(2, {{1, 1}}), s3 = SystemBuf(3, {});
    ASSERT_EQ(AddSystem(&db_, 1, rectest::Sys(s1)), 0);
    ASSERT_EQ(AddSystem(&db_, 2, rectest::Sys(s2)), 0);
    ASSERT_EQ(AddSystem(&db_, 3, rectest::Sys(s3)), 0);
    Buf s1b = SystemBuf(1, {{1, 1}, {2, 4, 2}}, "Replaced");
    ASSERT_EQ(ReplaceSystem(&db_, 1, rectest::Sys(s1b)), 0);
    ASSERT_EQ(DeleteSystem(&db_, 3), 0);
    Buf s70 = SystemBuf(70, {{1, 1}});
    ASSERT_EQ(AddSystem(&db_, 70, rectest::Sys(s70)), 0);
    for (int k = 0; k < 3; ++k) {
      Buf l = ListBuf(static_cast<uint16_t>(k + 1), 1, 1, k + 1);
      ASSERT_EQ(AddFieldList(&db_, k, rectest::List(l)), 0);
    }
    ASSERT_EQ(MarkFieldList(&db_, 2), 0);
    ASSERT_EQ(DeleteFieldList(&db_, 1), 0);
    Buf m = MapBuf(0, 2, 1, 0x10);
    ConfigRecord c = Config(1, 1, 3, 1);
    ASSERT_EQ(AddFieldMap(&db_, 600, &c, rectest::Map(m)), 0);
    ASSERT_EQ(AddFieldMap(&db_, 2, &c, rectest::Map(m)), 0);
    ConfigRecord shared = Config(2, 1, 1, 1, 1, 600);
    ASSERT_EQ(AddFieldMap(&db_, 3, &shared, nullptr), 0);
    ASSERT_EQ(AddFieldMap(&db_, 4, &c, rectest::Map(m)), 0);
    ASSERT_EQ(DeleteFieldMap(&db_, 4), 0);
    CharMapRecord a = rectest::CharMap("A"), b = rectest::CharMap("B", 1);
    ASSERT_EQ(AddCharMap(&db_, 1, &a), 0);
    ASSERT_EQ(AddCharMap(&db_, 5, &b), 0);
    ASSERT_EQ(DeleteCharMap(&db_, 1), 0);
    ASSERT_EQ(SetMainSystem(&db_, 2), 0);
    ASSERT_EQ(SetProductID(&db_, 77), 0);
  }

  // Every record and value of two open tables agree.
  static void ExpectSameContent(TableDb* a, TableDb* b) {
    ASSERT_EQ(0, std::memcmp(&a->header.nLastBaseMap, &b->header.nLastBaseMap, 2));
    for (int id = 1; id <= SystemSlots(a); ++id) {
      ASSERT_EQ(SystemExists(a, id), SystemExists(b, id)) << id;
      if (!SystemExists(a, id)) continue;
      Buf x(GetSystemSize(a, id)), y(GetSystemSize(b, id));
      ASSERT_EQ(ReadSystem(a, id, x.data(), x.size()), 0);
      ASSERT_EQ(ReadSystem(b, id, y.data(), y.size()), 0);
      EXPECT_EQ(x, y) << id;
    }
    for (int id = 0; id < FieldListSlots(a); ++id) {
      ASSERT_EQ(FieldListExists(a, id), FieldListExists(b, id)) << id;
      if (!FieldListExists(a, id)) continue;
      EXPECT_EQ(0, std::memcmp(FieldListIndex(a) + id, FieldListIndex(b) + id, 8));
      EXPECT_EQ(GetFieldListMark(a, id), GetFieldListMark(b, id));
      Buf x(GetFieldListSize(a, id)), y(GetFieldListSize(b, id));
      ASSERT_EQ(ReadFieldList(a, id, x.data(), x.size()), 0);
      ASSERT_EQ(ReadFieldList(b, id, y.data(), y.size()), 0);
      EXPECT_EQ(x, y) << id;
    }
    for (int id = 1; id <= FieldMapSlots(a); ++id) {
      ASSERT_EQ(FieldMapExists(a, id), FieldMapExists(b, id)) << id;
      if (!FieldMapExists(a, id)) continue;
      EXPECT_EQ(0, std::memcmp(FieldMapIndex(a) + id - 1, FieldMapIndex(b) + id - 1, 16));
      Buf x(GetFieldMapSize(a, id)), y(GetFieldMapSize(b, id));
      ASSERT_EQ(ReadFieldMap(a, id, nullptr, x.data(), x.size()), 0);
      ASSERT_EQ(ReadFieldMap(b, id, nullptr, y.data(), y.size()), 0);
      EXPECT_EQ(x, y) << id;
    }
    for (int id = 1; id <= CharMapSlots(a); ++id) {
      ASSERT_EQ(CharMapExists(a, id), CharMapExists(b, id)) << id;
      if (!CharMapExists(a, id)) continue;
      CharMapRecord x, y;
      ASSERT_EQ(ReadCharMap(a, id, &x, 325), 0);
      ASSERT_EQ(ReadCharMap(b, id, &y, 325), 0);
      EXPECT_EQ(0, std::memcmp(&x, &y, 325));
    }
    EXPECT_EQ(0, std::memcmp(&a->header.nSystems, &b->header.nSystems, 14));
    EXPECT_EQ(0, std::memcmp(&a->header.nCharMaps, &b->header.nCharMaps, 128 - 36));
  }

  std::string tmp_, out_;
};

TEST_F(ItbWriteTest, OutputKeepsTheRecordsAndWastesNothing) {
  Populate();
  ASSERT_GT(db_.file.header.dwWastedBytes, 0u);
  ASSERT_EQ(WriteItb(tmp_.c_str(), &db_, out_.c_str(), Sink::Fn), 0);
  EXPECT_TRUE(Sink::Lines().empty());
  ASSERT_TRUE(IsTableOpen(&db_));
  EXPECT_EQ(db_.nMode, 1);

  Bytes b = storetest::ReadBytes(out_);
  ASSERT_GT(b.size(), 28u);
  EXPECT_EQ(U32(b, 4), 1113u);                  // root slots as in the table
  EXPECT_EQ(U32(b, 24), 0u);                    // no waste
  EXPECT_EQ(U32(b, 12), 5u + 3 + 2 + 1 + 3);    // live blocks
  EXPECT_EQ(U32(b, 16), 1u + 3);                // header and map records linked
  EXPECT_EQ(U32(b, 20) + 4u * 1113, b.size());  // root array last

  // Header, indexes, then systems, lists, charmaps, maps in slot order.
  TableDb out;
  ASSERT_EQ(OpenTable(out_.c_str(), &out, 0), 0);
  EXPECT_EQ(GetRoot(&out.file, 0), 28u);
  const TableHeader& h = out.header;
  EXPECT_EQ(h.dwSystemIndexBlock, 28u + 136);
  EXPECT_EQ(h.dwFieldListIndexBlock, h.dwSystemIndexBlock + 8 + 4 * 102);
  EXPECT_EQ(h.dwFieldMapIndexBlock, h.dwFieldListIndexBlock + 8 + 16 * 256);
  EXPECT_EQ(h.dwCharMapIndexBlock, h.dwFieldMapIndexBlock + 8 + 16 * 1112);
  uint32_t next = h.dwCharMapIndexBlock + 8 + 4 * 64;
  std::vector<uint32_t> order = {SystemIndex(&out)[0],
                                 SystemIndex(&out)[1],
                                 SystemIndex(&out)[69],
                                 FieldListIndex(&out)[0].dwBlock,
                                 FieldListIndex(&out)[2].dwBlock,
                                 CharMapIndex(&out)[4],
                                 GetRoot(&out.file, 2),
                                 GetRoot(&out.file, 3),
                                 GetRoot(&out.file, 600)};
  for (uint32_t addr : order) {
    EXPECT_EQ(addr, next);
    next = addr + 8 + U32(b, addr);
  }
  EXPECT_EQ(next, U32(b, 20));
  ExpectSameContent(&db_, &out);
  CloseTable(&out);

  // Compacting a compacted file changes nothing.
  ASSERT_EQ(CompactCopy(out_.c_str(), Path("again.itb").c_str()), 0);
  EXPECT_EQ(storetest::ReadBytes(Path("again.itb")), b);
}

TEST_F(ItbWriteTest, FailedCopyReopensTheTable) {
  Populate();
  std::string bad = Path("no/such/dir/out.itb");
  EXPECT_EQ(WriteItb(tmp_.c_str(), &db_, bad.c_str(), Sink::Fn), kErrCreate);
  EXPECT_EQ(Sink::Lines(),
            std::vector<std::string>{"100:## Error 8 copying from " + tmp_ + " to " + bad});
  ASSERT_TRUE(IsTableOpen(&db_));
  EXPECT_FALSE(db_.bUnusable);
  EXPECT_TRUE(SystemExists(&db_, 70));
  Buf s = SystemBuf(9, {});
  EXPECT_EQ(AddSystem(&db_, 9, rectest::Sys(s)), 0);
}

TEST_F(ItbWriteTest, FailedReopenMarksTheTableUnusable) {
  Populate();
  OpenFailEnv env;
  env.path = tmp_;
  env.opensLeft = 1;  // the copy opens the table once, the reopen fails
  platform::Env::SetForTesting(&env);
  EXPECT_EQ(WriteItb(tmp_.c_str(), &db_, out_.c_str(), Sink::Fn), kErrNotFound);
  platform::Env::SetForTesting(&env_);
  EXPECT_EQ(Sink::Lines(), std::vector<std::string>{"100:Error 9 trying to open " + tmp_});
  EXPECT_TRUE(db_.bUnusable);
  EXPECT_FALSE(IsTableOpen(&db_));
  EXPECT_EQ(storetest::ReadBytes(out_).size() > 0, true);

  // Later writers refuse the table without touching it.
  Sink::Lines().clear();
  EXPECT_EQ(WriteItb(tmp_.c_str(), &db_, Path("second.itb").c_str(), Sink::Fn), kErrNotFound);
  EXPECT_EQ(Sink::Lines(), std::vector<std::string>{"100:Error 9 trying to open " + tmp_});
  EXPECT_FALSE(std::filesystem::exists(Path("second.itb")));
}

TEST_F(ItbWriteTest, FailedCloseMarksTheTableUnusable) {
  Populate();
  env_.writesLeft = 0;
  EXPECT_EQ(WriteItb(tmp_.c_str(), &db_, out_.c_str(), Sink::Fn), kErrIo);
  env_.writesLeft = -1;
  EXPECT_EQ(Sink::Lines(), std::vector<std::string>{"100:## Error 6 closing " + tmp_});
  EXPECT_TRUE(db_.bUnusable);
  EXPECT_FALSE(IsTableOpen(&db_));
  EXPECT_FALSE(std::filesystem::exists(out_));
}

TEST_F(ItbWriteTest, CompactCopyRefusesWhatIsNotATable) {
  EXPECT_EQ(CompactCopy(Path("missing.itb").c_str(), out_.c_str()), kErrNotFound);
  ASSERT_EQ(Create(Path("plain.dat").c_str(), 4), 0);
  DataFile f;
  ASSERT_EQ(Open(Path("plain.dat").c_str(), &f, 1), 0);
  char junk[128] = {1, 2, 3};
  uint32_t addr = Append(&f, junk, sizeof junk);
  ASSERT_EQ(LinkRoot(&f, 0, addr), 0);
  ASSERT_EQ(Close(&f), 0);
  EXPECT_EQ(CompactCopy(Path("plain.dat").c_str(), out_.c_str()), kErrBadFormat);
  EXPECT_EQ(env_.openFiles, 1);  // only the table of the fixture
}

}  // namespace
