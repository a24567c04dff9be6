// Merging an .itb into the intermediate table, and the record copies with
// the filters and changes the subset operation asks for: replaced systems
// lose their old dependents, colliding field lists stop the merge, the
// table-wide values, charmaps, refused input, exact messages.
#include "qvdf/store/itb.h"
#include "qvdf/store/records_test_util.h"
#include "qvdf/store/tableio.h"

namespace {

using rectest::Buf;
using rectest::Config;
using rectest::ListBuf;
using rectest::MapBuf;
using rectest::Sec;
using rectest::Sink;
using rectest::SystemBuf;
using Lines = std::vector<std::string>;

class ItbMergeTest : public rectest::RecTest {
 protected:
  void SetUp() override {
    RecTest::SetUp();
    in_ = Path("in.itb");
    OpenNew("ITB1.tmp", &db_);
    OpenNew("in.itb", &src_);
  }
  void TearDown() override {
    CloseTable(&src_);
    RecTest::TearDown();
  }
  static void AddSys(TableDb* t, uint16_t id, const std::vector<Sec>& secs, const char* name,
                     int16_t charMap = 0) {
    Buf b = SystemBuf(id, secs, name);
    rectest::Sys(b)->nCharMap1 = charMap;
    ASSERT_EQ(AddSystem(t, id, rectest::Sys(b)), 0);
  }
  static void AddList(TableDb* t, int id, uint16_t app, uint16_t sec, int n = 2) {
    Buf b = ListBuf(app, sec, 1, n);
    ASSERT_EQ(AddFieldList(t, id, rectest::List(b)), 0);
  }
  static void AddMap(TableDb* t, int id, int16_t list, const ConfigRecord& c, int n = 2) {
    Buf b = MapBuf(list, list, n);
    ASSERT_EQ(AddFieldMap(t, id, &c, rectest::Map(b)), 0);
  }
  // Closes the input table and merges it into db_.
  int Merge() {
    EXPECT_EQ(CloseTable(&src_), 0);
    Sink::Lines().clear();
    return ReadItb(&db_, in_.c_str(), Sink::Fn);
  }

  std::string in_;
  TableDb src_;
};

TEST_F(ItbMergeTest, ReplacedSystemLosesItsOldListsAndMaps) {
  AddSys(&db_, 5, {{1, 1}}, "Old");
  AddSys(&db_, 6, {{1, 1}}, "Kept");
  AddList(&db_, 10, 5, 1);
  AddList(&db_, 11, 6, 1);
  AddMap(&db_, 20, 10, Config(5, 1, 6, 1));
  AddMap(&db_, 21, 11, Config(6, 1, 6, 1));
  ConfigRecord shared = Config(6, 1, 6, 1, 1, 20);
  ASSERT_EQ(AddFieldMap(&db_, 22, &shared, nullptr), 0);
  SetMainSystem(&db_, 3), SetMainClass(&db_, 4), SetProductID(&db_, 5), SetBundledFlag(&db_, 1);

  AddSys(&src_, 5, {{1, 1}, {2, 1}}, "New");
  AddList(&src_, 12, 5, 1);
  AddMap(&src_, 30, 12, Config(5, 1, 5, 2));
  ASSERT_EQ(Merge(), 0);
  EXPECT_EQ(Sink::Lines(),
            (Lines{"60:SystemID: 5 Is being overwritten, all components being deleted.",
                   "60:SystemID: 5 Name: New", "40:Key: 12 App: 5 Type: 1 Name: List",
                   "40:MapID: 30 Source: 5/1 -> Target 5/2 Type: 1",
                   "60:Processing ITB file completed successfully"}));
  Buf five = StoredSystem(5);
  ASSERT_FALSE(five.empty());
  EXPECT_STREQ(rectest::Sys(five)->szName, "New");
  EXPECT_FALSE(FieldListExists(&db_, 10));
  EXPECT_TRUE(FieldListExists(&db_, 11));
  EXPECT_TRUE(FieldListExists(&db_, 12));
  EXPECT_FALSE(FieldMapExists(&db_, 20));
  EXPECT_FALSE(FieldMapExists(&db_, 22));
  EXPECT_TRUE(FieldMapExists(&db_, 21));
  EXPECT_TRUE(FieldMapExists(&db_, 30));
  EXPECT_EQ(CountSystems(&db_), 2);
  // All four values 0 in the input: the table keeps its own.
  EXPECT_EQ(GetMainSystem(&db_), 3);
  EXPECT_EQ(GetMainClass(&db_), 4);
  EXPECT_EQ(GetProductID(&db_), 5u);
  EXPECT_EQ(GetBundledFlag(&db_), 1);
}

TEST_F(ItbMergeTest, CollidingFieldListStopsWith13) {
  AddSys(&db_, 1, {{1, 1}}, "One");
  AddList(&db_, 3, 1, 1);
  AddSys(&src_, 2, {{1, 1}}, "Two");
  AddList(&src_, 3, 2, 1);
  EXPECT_EQ(Merge(), kErrRange);
  EXPECT_EQ(Sink::Lines(),
            (Lines{"60:SystemID: 2 Name: Two", "100:***ERROR: Unable to copy field list records",
                   "100:Processing ITB File aborted due to error code 13"}));
  EXPECT_TRUE(SystemExists(&db_, 2));  // merged before the failure
  EXPECT_EQ(GetFieldListApp(&db_, 3), 1);
}

TEST_F(ItbMergeTest, NonZeroValuesOverwriteAllFour) {
  SetMainSystem(&db_, 3), SetMainClass(&db_, 4), SetProductID(&db_, 5);
  SetBundledFlag(&src_, 1);
  ASSERT_EQ(Merge(), 0);
  EXPECT_EQ(GetMainSystem(&db_), 0);
  EXPECT_EQ(GetMainClass(&db_), 0);
  EXPECT_EQ(GetProductID(&db_), 0u);
  EXPECT_EQ(GetBundledFlag(&db_), 1);
}

TEST_F(ItbMergeTest, CharMapsAreReplacedAndMissingOnesReported) {
  CharMapRecord old = rectest::CharMap("Old"), fresh = rectest::CharMap("New", 7);
  ASSERT_EQ(AddCharMap(&db_, 2, &old), 0);
  ASSERT_EQ(AddCharMap(&src_, 2, &fresh), 0);
  AddSys(&src_, 8, {}, "Orphan", 3);  // names a charmap the input lacks
  ASSERT_EQ(Merge(), 0);
  EXPECT_EQ(Sink::Lines(), (Lines{"60:SystemID: 8 Name: Orphan",
                                  "80:***WARNING: CharMap 3 not found, reference kept",
                                  "40:   Import CharMap copied -- ID: 2 Name: New",
                                  "60:Processing ITB file completed successfully"}));
  CharMapRecord got;
  ASSERT_EQ(ReadCharMap(&db_, 2, &got, 325), 0);
  EXPECT_STREQ(got.szName, "New");
  EXPECT_EQ(got.nChars, 256);
  EXPECT_EQ(std::memcmp(got.abMap, fresh.abMap, 256), 0);
  EXPECT_EQ(CountCharMaps(&db_), 1);
  Buf eight = StoredSystem(8);
  ASSERT_FALSE(eight.empty());
  EXPECT_EQ(rectest::Sys(eight)->nCharMap1, 3);
}

TEST_F(ItbMergeTest, SystemsFrom255OnAreNotMerged) {
  AddSys(&src_, 3, {}, "Three");
  AddSys(&src_, 254, {}, "Last");
  ASSERT_EQ(GrowSystemIndex(&src_, 400), 0);
  Buf b = SystemBuf(300, {}, "Beyond");
  ASSERT_EQ(AddSystem(&src_, 300, rectest::Sys(b)), 0);
  ASSERT_EQ(Merge(), 0);
  EXPECT_TRUE(SystemExists(&db_, 3));
  EXPECT_TRUE(SystemExists(&db_, 254));
  EXPECT_EQ(CountSystems(&db_), 2);
}

TEST_F(ItbMergeTest, RefusedInputsKeepWhatWasMerged) {
  ASSERT_EQ(CloseTable(&src_), 0);
  std::string missing = Path("missing.itb");
  EXPECT_EQ(ReadItb(&db_, missing.c_str(), Sink::Fn), kErrNotFound);
  EXPECT_EQ(Sink::Lines(), Lines{"100:File \"" + missing + "\" not found."});

  storetest::WriteBytes(in_, storetest::Bytes(40, 'x'));
  Sink::Lines().clear();
  EXPECT_EQ(ReadItb(&db_, in_.c_str(), Sink::Fn), kErrBadFormat);
  EXPECT_EQ(Sink::Lines(), (Lines{"100:Error 4 trying to open " + in_,
                                  "100:Processing ITB File aborted due to error code 4"}));

  // System 2's block disagrees with its section count.
  OpenNew("in.itb", &src_);
  AddSys(&src_, 1, {}, "Fine");
  AddSys(&src_, 2, {{1, 1}}, "Bad");
  uint32_t addr = SystemIndex(&src_)[1];
  ASSERT_EQ(CloseTable(&src_), 0);
  storetest::Bytes bytes = storetest::ReadBytes(in_);
  storetest::PutU16(bytes, addr + 8 + 428, 0);
  storetest::WriteBytes(in_, bytes);
  Sink::Lines().clear();
  EXPECT_EQ(ReadItb(&db_, in_.c_str(), Sink::Fn), kErrBadFormat);
  EXPECT_EQ(Sink::Lines(), (Lines{"60:SystemID: 1 Name: Fine",
                                  "100:***ERROR: Unable to copy system record, error 4",
                                  "100:Processing ITB File aborted due to error code 4"}));
  EXPECT_TRUE(SystemExists(&db_, 1));
  EXPECT_FALSE(SystemExists(&db_, 2));
  EXPECT_EQ(env_.openFiles, 1);  // the input was closed
}

TEST_F(ItbMergeTest, CopySystemChangesAttributesTranslatorAndSections) {
  Buf b = SystemBuf(4, {{1, 2, 0x2}, {2, 5, 0x2}, {3, 5, 0}}, "Cal");
  rectest::Sys(b)->dwAttributes = 0x0F;
  ASSERT_EQ(AddSystem(&src_, 4, rectest::Sys(b)), 0);
  int drop[] = {2};
  ASSERT_EQ(CopySystem(&src_, &db_, 4, 0x100, 0x3, Sink::Fn, "TranslatorNameTooLong", 1, drop), 0);
  Buf got = StoredSystem(4);
  ASSERT_EQ(got.size(), 1812u);
  const SystemRecord* r = rectest::Sys(got);
  EXPECT_EQ(r->dwAttributes, 0x10Cu);
  EXPECT_EQ(std::string(r->szTranslator, 12), std::string("TranslatorN\0", 12));
  EXPECT_EQ(SystemSections(r)[1].nSectionID, 3);
  EXPECT_EQ(r->anSectionFlags[2], 1);
  EXPECT_EQ(r->anSectionFlags[5], 0);

  int missing[] = {9};
  Sink::Lines().clear();
  EXPECT_EQ(CopySystem(&src_, &db_, 4, 0, 0, Sink::Fn, "", 1, missing), kErrInconsistent);
  EXPECT_EQ(Sink::Lines(),
            (Lines{"60:SystemID: 4 Is being overwritten, all components being deleted.",
                   "60:SystemID: 4 Name: Cal", "60:Could not delete section 9 Error returned 51"}));
  EXPECT_EQ(CopySystem(&src_, &db_, 5, 0, 0, nullptr, nullptr, 0, nullptr), kErrRange);
}

TEST_F(ItbMergeTest, FilteredCopiesFollowTheTargetsSystems) {
  AddSys(&db_, 1, {{1, 1}}, "One");
  AddSys(&db_, 3, {{1, 1}}, "Three");
  AddList(&src_, 0, 1, 1);
  AddList(&src_, 1, 1, 2);  // section 2 is not in the target's system 1
  AddList(&src_, 2, 2, 1);  // system 2 is not in the target
  ASSERT_EQ(MarkFieldList(&src_, 0), 0);
  ASSERT_EQ(CopyFieldLists(&src_, &db_, true, Sink::Fn), 0);
  EXPECT_EQ(Sink::Lines(), Lines{"40:Key: 0 App: 1 Type: 1 Name: List"});
  EXPECT_EQ(GetFieldListMark(&db_, 0), '1');
  EXPECT_EQ(CountFieldLists(&db_), 1);

  // A map record shorter than its source list in the target: the rest of
  // the fields come out unmapped.
  AddList(&src_, 4, 3, 1, 2);
  AddList(&db_, 4, 3, 1, 4);
  AddMap(&src_, 1, 4, Config(3, 1, 1, 1));
  AddMap(&src_, 2, 0, Config(2, 1, 1, 1));
  ConfigRecord shared = Config(1, 1, 3, 1, 4, 1);
  ASSERT_EQ(AddFieldMap(&src_, 3, &shared, nullptr), 0);
  // Both systems kept, but the list of a dropped section was left out: from
  // it and into it, the map goes too instead of failing or dangling.
  Buf fromDropped = MapBuf(1, 4, 2), intoDropped = MapBuf(4, 1, 2);
  ConfigRecord c5 = Config(1, 2, 3, 1), c6 = Config(3, 1, 1, 2);
  ASSERT_EQ(AddFieldMap(&src_, 5, &c5, rectest::Map(fromDropped)), 0);
  ASSERT_EQ(AddFieldMap(&src_, 6, &c6, rectest::Map(intoDropped)), 0);
  Sink::Lines().clear();
  ASSERT_EQ(CopyFieldMaps(&src_, &db_, true, Sink::Fn), 0);
  EXPECT_EQ(Sink::Lines(), (Lines{"40:MapID: 1 Source: 3/1 -> Target 1/1 Type: 1",
                                  "40:MapID: 3 Source: 1/1 -> Target 3/1 Type: 4"}));
  EXPECT_FALSE(FieldMapExists(&db_, 2));
  EXPECT_FALSE(FieldMapExists(&db_, 5));
  EXPECT_FALSE(FieldMapExists(&db_, 6));
  for (int id : {1, 3}) {
    ASSERT_EQ(GetFieldMapSize(&db_, id), 80) << id;
    Buf m(80);
    ConfigRecord c;
    ASSERT_EQ(ReadFieldMap(&db_, id, &c, m.data(), 80), 0);
    EXPECT_EQ(c.nMapID, id);  // the copy owns its record
    const auto* r = reinterpret_cast<const FieldMapRecord*>(m.data());
    EXPECT_EQ(GetMapEntry(r, 0), 0);
    EXPECT_EQ(GetMapEntry(r, 1), 1);
    EXPECT_EQ(GetMapEntry(r, 2), -1);
    EXPECT_EQ(GetMapEntry(r, 3), -1);
  }
}

}  // namespace
