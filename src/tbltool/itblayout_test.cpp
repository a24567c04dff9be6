// The structural check of binary tables: a table the store made with
// rewrites and deletions (dead blocks, and bytes a rewrite in place cut
// off) is sound, and each kind of damage is named with its block.
#include "tbltool/itblayout.h"

#include <gtest/gtest.h>

#include "tbltool/tbltool_test_util.h"

namespace tbltool {
namespace {

using rectest::Buf;
using rectest::Bytes;

class ItbLayoutTest : public rectest::RecTest {
 protected:
  // A table with three systems, two lists, a map and a charmap, changed
  // after it was written: system 1 loses two of its three sections (its
  // record is rewritten shorter, in place), system 2 gains one (moved),
  // system 3 is deleted.
  void Build() {
    OpenNew("t.itb", &db_);
    Buf s1 = rectest::SystemBuf(1, {{1, 3}, {2, 0}, {3, 4}}, "One");
    Buf s2 = rectest::SystemBuf(2, {{1, 3}}, "Two");
    Buf s3 = rectest::SystemBuf(3, {}, "Three");
    ASSERT_EQ(AddSystem(&db_, 1, rectest::Sys(s1)), 0);
    ASSERT_EQ(AddSystem(&db_, 2, rectest::Sys(s2)), 0);
    ASSERT_EQ(AddSystem(&db_, 3, rectest::Sys(s3)), 0);
    Buf l0 = rectest::ListBuf(1, 1, 3, 2), l1 = rectest::ListBuf(2, 1, 3, 3);
    ASSERT_EQ(AddFieldList(&db_, 0, rectest::List(l0)), 0);
    ASSERT_EQ(AddFieldList(&db_, 1, rectest::List(l1)), 0);
    Buf m = rectest::MapBuf(0, 1, 2);
    ConfigRecord c = rectest::Config(1, 1, 2, 1);
    ASSERT_EQ(AddFieldMap(&db_, 1, &c, rectest::Map(m)), 0);
    CharMapRecord cm = rectest::CharMap("Latin");
    ASSERT_EQ(AddCharMap(&db_, 1, &cm), 0);
    Buf s1b = rectest::SystemBuf(1, {{1, 3}}, "One");
    ASSERT_EQ(ReplaceSystem(&db_, 1, rectest::Sys(s1b)), 0);
    Buf s2b = rectest::SystemBuf(2, {{1, 3}, {2, 4}}, "Two");
    ASSERT_EQ(ReplaceSystem(&db_, 2, rectest::Sys(s2b)), 0);
    ASSERT_EQ(DeleteSystem(&db_, 3), 0);
    ASSERT_EQ(CloseTable(&db_), 0);
  }
  std::vector<std::string> Check(ItbLayout* layout = nullptr) {
    ItbLayout own;
    std::vector<Finding> found;
    std::string error;
    EXPECT_EQ(CheckItbStructure(Path("t.itb"), layout ? layout : &own, &found, &error), 0) << error;
    std::vector<std::string> lines;
    for (const Finding& f : found) lines.push_back(FormatFinding(f));
    return lines;
  }
  // The walk's block of a kind, to damage it.
  ItbBlock BlockOf(BlockKind kind, int id) {
    ItbLayout l;
    Check(&l);
    for (const ItbBlock& b : l.blocks)
      if (b.kind == kind && b.id == id) return b;
    ADD_FAILURE() << "no such block";
    return {};
  }
  void Poke32(size_t at, uint32_t v) {
    Bytes b = rectest::ReadBytes(Path("t.itb"));
    rectest::PutU32(b, at, v);
    rectest::WriteBytes(Path("t.itb"), b);
  }
  std::string P(const std::string& rest) { return Path("t.itb") + rest; }
};

TEST_F(ItbLayoutTest, ATableWithRewritesAndDeletionsIsSound) {
  Build();
  ItbLayout l;
  EXPECT_EQ(Check(&l), std::vector<std::string>{});
  EXPECT_TRUE(l.walkComplete);
  // Two sections cut off in place; the old record of system 2 and system 3
  // are dead.
  EXPECT_EQ(l.gapBytes, 2u * kSectionSize);
  EXPECT_EQ(l.unreferencedBytes, static_cast<uint64_t>(SystemRecordSize(1) + SystemRecordSize(0)));
  EXPECT_EQ(l.file.dwWastedBytes, l.gapBytes + l.unreferencedBytes);
  int live = 0;
  for (const ItbBlock& b : l.blocks) live += b.kind != BlockKind::kUnreferenced;
  EXPECT_EQ(live, 11);
  EXPECT_EQ(l.SystemBlock(3), 0u);
  EXPECT_NE(l.ListBlock(1), 0u);
}

TEST_F(ItbLayoutTest, EachDamageIsNamedWithItsBlock) {
  Build();
  const ItbBlock list1 = BlockOf(BlockKind::kList, 1);
  const ItbBlock map1 = BlockOf(BlockKind::kMap, 1);
  const ItbBlock sys2 = BlockOf(BlockKind::kSystem, 2);
  const ItbBlock cm = BlockOf(BlockKind::kCharMap, 1);
  const std::string l1 = ": block " + HexAddr(list1.addr) + " (field list 1): error: ";
  const Bytes clean = rectest::ReadBytes(Path("t.itb"));
  struct Case {
    size_t at;
    uint32_t value;
    std::vector<std::string> out;
  };
  const Case cases[] = {
      {12, 3, {P(": file header: error: dwBlockCount is 3, but 11 blocks are in use")}},
      {16, 9, {P(": file header: error: dwRootsInUse is 9, but 2 root slots are in use")}},
      {8,
       100,
       {P(": file header: error: dwLargestBlock is 100, smaller than a block of 8192 bytes")}},
      {map1.addr + 4u,
       0,
       {P(": block " + HexAddr(map1.addr) +
          " (field map 1): error: reference count 0, but 1 root slot holds it")}},
      // The length of a block, made longer: its record no longer fits its
      // counts, and the walk breaks off where it claims to end.
      {sys2.addr,
       sys2.len + 276,
       {P(": block " + HexAddr(sys2.addr) + " (system 2): error: length " +
          std::to_string(sys2.len + 276) + " runs past the end of the data at " +
          HexAddr(sys2.addr + 8 + sys2.len))}},
      {cm.addr + 8u,
       255,
       {P(": block " + HexAddr(cm.addr) +
          " (charmap 1): warning: nChars is 255; a stored charmap has 256")}},
  };
  for (const Case& c : cases) {
    rectest::WriteBytes(Path("t.itb"), clean);
    Poke32(c.at, c.value);
    std::vector<std::string> got = Check();
    // The first line is the one each damage is about.
    ASSERT_FALSE(got.empty()) << c.out[0];
    EXPECT_EQ(got[0], c.out[0]);
  }

  rectest::WriteBytes(Path("t.itb"), clean);
  ItbLayout l;
  Check(&l);
  uint32_t index = 0, lists = 0;
  for (const ItbBlock& b : l.blocks) {
    if (b.kind == BlockKind::kSystemIndex) index = b.addr;
    if (b.kind == BlockKind::kListIndex) lists = b.addr;
  }
  // The field count the index keeps for list 1, against its record's length.
  Bytes b = clean;
  rectest::PutU16(b, lists + 8 + 16 + 4, 7);
  rectest::WriteBytes(Path("t.itb"), b);
  std::vector<std::string> got = Check();
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got[0], P(l1 + "length " + std::to_string(list1.len) +
                      " does not fit the 7 fields the index gives it"));

  // An index entry that points into the middle of a block.
  rectest::WriteBytes(Path("t.itb"), clean);
  Poke32(index + 8 + 4, sys2.addr + 4);
  got = Check();
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got[0], P(": system 2: error: " + HexAddr(sys2.addr + 4) +
                      " is not the address of a block (it lies "
                      "inside the block at " +
                      HexAddr(sys2.addr) + ")"));

  // A table that is none.
  rectest::WriteBytes(Path("t.itb"), Bytes(clean.begin(), clean.begin() + 40));
  EXPECT_EQ(Check(),
            std::vector<std::string>{P(": file header: error: the root array at " +
                                       HexAddr(rectest::U32(clean, 20)) +
                                       " (2052 bytes) does not lie inside the file (40 bytes)")});
}

TEST_F(ItbLayoutTest, TwoHoldersOfOneBlock) {
  Build();
  const ItbBlock list0 = BlockOf(BlockKind::kList, 0);
  ItbLayout l;
  Check(&l);
  uint32_t index = 0;
  for (const ItbBlock& b : l.blocks)
    if (b.kind == BlockKind::kCharMapIndex) index = b.addr;
  Poke32(index + 8, list0.addr);
  std::vector<std::string> got = Check();
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got[0], P(": block " + HexAddr(list0.addr) +
                      " (field list 0): error: the block is also charmap 1"));
}

}  // namespace
}  // namespace tbltool
