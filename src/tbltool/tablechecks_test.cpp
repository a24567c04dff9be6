// The record checks on tables the store makes: what the text readers never
// let in but a binary table can hold, each reported once with its record.
#include "tbltool/tablechecks.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tbltool/tbltool_test_util.h"

namespace tbltool {
namespace {

using rectest::Buf;

// Places a finding as "kind id/sub".
class NamePlacer : public Placer {
 public:
  void Place(Finding* f, RecKind kind, int id, int sub) const override {
    static const char* const kNames[] = {"system", "section", "list", "field",
                                         "map",    "charmap", "table"};
    f->where = std::string(kNames[static_cast<int>(kind)]) + " " + std::to_string(id) +
               (sub >= 0 ? "/" + std::to_string(sub) : "");
  }
};

class TableChecksTest : public rectest::RecTest {
 protected:
  void SetUp() override {
    RecTest::SetUp();
    OpenNew("t.itb", &db_);
  }
  std::vector<std::string> Check(TableDb* helper = nullptr) {
    std::vector<Finding> found;
    CheckRecords(&db_, NamePlacer(), &found, true, helper);
    std::vector<std::string> lines;
    for (const Finding& f : found)
      lines.push_back(f.where + (f.severity == Severity::kError ? ": error: " : ": warning: ") +
                      f.text);
    return lines;
  }
  // A system the text form can carry: a title and named sections.
  static Buf SystemOf(uint16_t id, const std::vector<rectest::Sec>& secs,
                      const char* name = "Sys") {
    Buf b = rectest::SystemBuf(id, secs, name);
    std::strcpy(rectest::Sys(b)->szSectionTitle, "Sections");
    for (size_t i = 0; i < secs.size(); ++i)
      std::strcpy(SystemSections(rectest::Sys(b))[i].szName, "Sec");
    return b;
  }
  void System(uint16_t id, const std::vector<rectest::Sec>& secs, const char* name = "Sys") {
    Buf b = SystemOf(id, secs, name);
    ASSERT_EQ(AddSystem(&db_, id, rectest::Sys(b)), 0);
  }
  // A list of n fields labelled L1, L2, ... and named F1, F2, ...
  Buf ListOf(uint16_t app, uint16_t sec, uint16_t type, int n) {
    Buf b = rectest::ListBuf(app, sec, type, n);
    for (int i = 0; i < n; ++i) {
      FieldRecord& f = ListFields(rectest::List(b))[i];
      std::snprintf(f.szLabel, sizeof f.szLabel, "L%d", i + 1);
      f.cType = 'C';
    }
    return b;
  }
  void List(int id, Buf b) { ASSERT_EQ(AddFieldList(&db_, id, rectest::List(b)), 0); }
};

TEST_F(TableChecksTest, ASoundTableHasNoFindings) {
  System(1, {{1, 3}});
  System(2, {{1, 3}});
  List(0, ListOf(1, 1, 3, 2));
  List(1, ListOf(2, 1, 3, 3));
  Buf m = rectest::MapBuf(0, 1, 2);
  ConfigRecord c = rectest::Config(1, 1, 2, 1);
  ASSERT_EQ(AddFieldMap(&db_, 1, &c, rectest::Map(m)), 0);
  EXPECT_EQ(Check(), std::vector<std::string>{});
}

TEST_F(TableChecksTest, MapsWhoseListsSystemsOrRecordsAreGone) {
  System(1, {{1, 3}});
  System(2, {{1, 3}});
  List(0, ListOf(1, 1, 3, 2));
  List(1, ListOf(2, 1, 3, 3));
  List(2, ListOf(2, 1, 3, 1));
  Buf m = rectest::MapBuf(0, 1, 2);
  SetMapEntry(rectest::Map(m), 1, 3);  // past the 3 fields of list 1
  ConfigRecord c = rectest::Config(1, 1, 2, 1);
  ASSERT_EQ(AddFieldMap(&db_, 1, &c, rectest::Map(m)), 0);
  Buf m2 = rectest::MapBuf(0, 2, 2);
  ConfigRecord c2 = rectest::Config(1, 1, 9, 1);  // system 9 is not there
  ASSERT_EQ(AddFieldMap(&db_, 2, &c2, rectest::Map(m2)), 0);
  ConfigRecord c3 = rectest::Config(1, 1, 2, 1, 1, 2);  // shares map 2's record
  ASSERT_EQ(AddFieldMap(&db_, 3, &c3, nullptr), 0);
  ASSERT_EQ(DeleteFieldMap(&db_, 2), 0);
  ASSERT_EQ(DeleteFieldList(&db_, 2), 0);
  EXPECT_EQ(
      Check(),
      (std::vector<std::string>{
          "map 1: error: field map 1: entry 2 maps to field 4, past the end of target list 1 (3 "
          "fields)",
          "map 3: error: field map 3 shares the record of field map 2, which is not in the table",
      }));
  // Its target list gone, the map cannot be checked entry by entry.
  ASSERT_EQ(DeleteFieldList(&db_, 1), 0);
  EXPECT_EQ(Check()[0], "map 1: error: field map 1: its target list 1 is not in the table");
}

TEST_F(TableChecksTest, AliasesAndListsOfMissingSystemsAndCharmaps) {
  Buf s = SystemOf(1, {{1, 3}, {1, 4}});  // a section ID twice
  rectest::Sys(s)->nCharMap2 = 4;
  ASSERT_EQ(AddSystem(&db_, 1, rectest::Sys(s)), 0);
  Buf alias = rectest::ListBuf(7, 0, 0, 0, "Old name");
  List(0, alias);
  List(1, ListOf(8, 1, 3, 1));
  Buf items = ListOf(1, 1, 3, 3);
  ListFields(rectest::List(items))[2].nItem = 7;
  List(2, items);
  ASSERT_EQ(SetMainSystem(&db_, 5), 0);
  EXPECT_EQ(
      Check(),
      (std::vector<std::string>{
          "system 1: error: system 1 uses charmap 4, which is not in the table",
          "section 1/1: error: section ID 1 appears twice in system 1 (sections 1 and 2); the "
          "split "
          "pair keys both alike",
          "list 0: error: alias \"Old name\" (field list 0) names system 7, which is not in the "
          "table",
          "list 1: error: field list 1 belongs to system 8, which is not in the table",
          "field 2/2: error: field 3 of field list 2 has item number 7; the fields of a list are "
          "numbered 1, 2, 3, ...",
          "table 0: warning: main system 5 is not in the table",
      }));
}

TEST_F(TableChecksTest, TextsTheTextFormOrTheSplitPairCannotCarry) {
  Buf s = SystemOf(1, {{1, 3}}, "\"Quoted");
  std::strcpy(rectest::Sys(s)->szSectionTitle, "Sec,tions");
  std::strcpy(SystemSections(rectest::Sys(s))[0].szName, "LOCALIZED_X");
  std::strcpy(rectest::Sys(s)->szSysText2, "two\r\nlines");
  ASSERT_EQ(AddSystem(&db_, 1, rectest::Sys(s)), 0);
  Buf l = ListOf(1, 1, 3, 2);
  FieldRecord* f = ListFields(rectest::List(l));
  std::strcpy(f[0].szName, "Phone^Work");
  std::strcpy(f[0].szLabel, "Ph\"one");
  std::strcpy(f[1].szFieldText1, "a,b");
  f[1].cType = ',';
  List(0, l);
  EXPECT_EQ(
      Check(),
      (std::vector<std::string>{
          "system 1: error: system name \"\"Quoted\" begins with a double quote, which the text "
          "reader takes off",
          "system 1: error: szSectionTitle \"Sec,tions\" holds a comma, which the text form cannot "
          "carry",
          "system 1: error: szSysText2 holds a line end, which the text form cannot carry",
          "section 1/0: error: section name \"LOCALIZED_X\" holds \"LOCALIZED_\", which the split "
          "pair "
          "takes for a key",
          "field 0/0: warning: field label \"Ph\"one\" holds a double quote; the split pair leaves "
          "it "
          "untranslated",
          "field 0/0: error: field name \"Phone^Work\" holds \"^\", which the text form reads back "
          "as "
          "\",\"",
          "field 0/1: error: szFieldText1 \"a,b\" holds a comma, which the text form cannot carry",
          "field 0/1: error: field 2 has a type the text form cannot carry (44)",
      }));
}

// "A1" with item 2 and "A" with item 12 make the same key; so do equal
// labels and items in two lists of one section.
TEST_F(TableChecksTest, FieldsTheSplitPairWouldKeyAlike) {
  System(1, {{1, 3}});
  Buf l = ListOf(1, 1, 3, 12);
  std::strcpy(ListFields(rectest::List(l))[1].szLabel, "A1");
  std::strcpy(ListFields(rectest::List(l))[11].szLabel, "a");
  List(0, l);
  Buf other = ListOf(1, 1, 3, 1);
  std::strcpy(ListFields(rectest::List(other))[0].szName, "Other");
  List(1, other);
  // Same names read back the same: no finding.
  List(2, ListOf(1, 1, 3, 1));
  // A list alone in its system and section type, checked without hashing:
  // "B2" item 10 and "b" item 210 meet, "B2" and "B" item 21 do not (no
  // field 21).
  System(2, {{1, 4}});
  Buf lone = ListOf(2, 1, 4, 210);
  std::strcpy(ListFields(rectest::List(lone))[9].szLabel, "B2");
  std::strcpy(ListFields(rectest::List(lone))[209].szLabel, "b");
  List(3, lone);
  // Lone lists are checked as they are read, the others after all of them.
  const std::vector<std::string> alone = Check();
  // The same with half of the lists checked on a thread of their own.
  ASSERT_EQ(CloseTable(&db_), 0);
  TableDb helper;
  ASSERT_EQ(OpenTable(Path("t.itb").c_str(), &db_, 0), 0);
  ASSERT_EQ(OpenTable(Path("t.itb").c_str(), &helper, 0), 0);
  EXPECT_EQ(Check(&helper), alone);
  CloseTable(&helper);
  EXPECT_EQ(
      alone,
      (std::vector<std::string>{
          "field 3/209: warning: field 210 \"F210\" of field list 3 gets the split key "
          "LOCALIZED_2_TODO_1_B210_FLD_NAME of field 10 of field list 3; the split pair reads it "
          "back as \"F10\"",
          "field 0/11: warning: field 12 \"F12\" of field list 0 gets the split key "
          "LOCALIZED_1_PHONE_1_A12_FLD_NAME of field 2 of field list 0; the split pair reads it "
          "back "
          "as \"F2\"",
          "field 1/0: warning: field 1 \"Other\" of field list 1 gets the split key "
          "LOCALIZED_1_PHONE_1_L11_FLD_NAME of field 1 of field list 0; the split pair reads it "
          "back "
          "as \"F1\"",
      }));
}

}  // namespace
}  // namespace tbltool
