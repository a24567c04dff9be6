// Every way a text table is refused: one edit of a valid table per case,
// with the exact message, its level, the messages that follow it and the
// read's result. Also store failures and the reported-but-accepted gaps.
#include <functional>

#include "qvdf/text/txtreader.h"
#include "qvdf/text/txtreader_test_util.h"

namespace {

using txttest::Crlf;
using txttest::Messages;
using txttest::Msg;
using txttest::Table;

struct Case {
  const char* message;
  // The record reader that fails, or null for a block line (result 4).
  const char* reader;
  void (*edit)(Table&);
  // Then the nth line equal to `from` becomes `to` (deleted when to is "-").
  const char* from = nullptr;
  const char* to = nullptr;
  int nth = 0;
};

std::vector<std::string> Apply(const Case& c) {
  Table t;
  if (c.edit) c.edit(t);
  std::vector<std::string> lines = t.Lines();
  if (c.from) {
    int seen = 0;
    for (auto it = lines.begin(); it != lines.end(); ++it) {
      if (*it != c.from || seen++ != c.nth) continue;
      if (std::string(c.to) == "-")
        lines.erase(it);
      else
        *it = c.to;
      break;
    }
  }
  return lines;
}

void Noop(Table&) {}

const char kSys[] = "QVTBUGetText3System";
const char kList[] = "QVTBUGetText3FieldList";
const char kMap[] = "QVTBUGetText3FieldMap";
const char kChar[] = "QVTBUGetText3CharMap";

const Case kCases[] = {
    // SYSTEM line, in the order the subfields are checked.
    {"***ERROR: Missing system ID", kSys, [](Table& t) { t.sys2[0] = ""; }},
    {"***ERROR: Invalid system ID", kSys, [](Table& t) { t.sys2[0] = "0"; }},
    {"***ERROR: Invalid system ID", kSys, [](Table& t) { t.sys2[0] = "65536"; }},
    {"***ERROR: Missing system class", kSys, [](Table& t) { t.sys2[1] = ""; }},
    {"***ERROR: Invalid system class", kSys, [](Table& t) { t.sys2[1] = "-1"; }},
    {"***ERROR: Missing system type", kSys, [](Table& t) { t.sys2[2] = ""; }},
    {"***ERROR: Invalid system type", kSys, [](Table& t) { t.sys2[2] = "24"; }},
    {"***ERROR: Missing system name", kSys, [](Table& t) { t.sys2[3] = ""; }},
    {"***ERROR: Missing system name", kSys, [](Table& t) { t.sys2.resize(3); }},
    {"***ERROR: Missing reconciliation option", kSys, [](Table& t) { t.sys2[6] = ""; }},
    {"***ERROR: Invalid reconciliation option", kSys, [](Table& t) { t.sys2[6] = "9"; }},
    {"***ERROR: Invalid appointment range", kSys, [](Table& t) { t.sys2[7] = "3"; }},
    {"***ERROR: Invalid to-do range", kSys, [](Table& t) { t.sys2[8] = "3"; }},
    {"***ERROR: Missing section title", kSys, [](Table& t) { t.sys2[11] = ""; }},
    {"***ERROR: Missing system access type", kSys, [](Table& t) { t.sys2[12] = ""; }},
    {"***ERROR: Invalid system access type", kSys, [](Table& t) { t.sys2[12] = "9"; }},
    {"***ERROR: Missing section flags", kSys, [](Table& t) { t.sys2[13] = ""; }},
    {"***ERROR: Missing system attributes", kSys, [](Table& t) { t.sys2[14] = ""; }},
    {"***ERROR: Invalid section count", kSys, [](Table& t) { t.sys2[17] = "-1"; }},
    {"***ERROR: Insufficient memory to hold SYSTEM record", kSys, [](Table& t) { t.sys2[17] = "114"; }},
    {"***ERROR: Expected SECTION record", kSys, [](Table& t) { t.sys2[17] = "2"; }},
    {"***ERROR: Expected SYSTEM record", kSys, Noop, "COUNT=2", "COUNT=3"},
    // SYSTEMEX lines.
    {"***ERROR: Missing product flag", kSys, Noop, "SYSTEMEX1=8,0,0,0,0,0,0,0,0", "SYSTEMEX1="},
    {"***ERROR: Invalid Product Flag count", kSys, Noop, "SYSTEMEX1=8,0,0,0,0,0,0,0,0", "SYSTEMEX1=7,0,0,0,0,0,0,0,0"},
    {"***ERROR: Missing product flag", kSys, Noop, "SYSTEMEX1=8,0,0,0,0,0,0,0,0", "SYSTEMEX1=8,0,0,0,0,0,0,0"},
    {"***ERROR: Missing nIDofSavedCopy", kSys, Noop, "SYSTEMEX2=0,0,0,0,0,,", "SYSTEMEX2=,0,0,0,0"},
    {"***ERROR: Missing nTBD1", kSys, Noop, "SYSTEMEX2=0,0,0,0,0,,", "SYSTEMEX2=0,,0,0,0"},
    {"***ERROR: Missing nTBD2", kSys, Noop, "SYSTEMEX2=0,0,0,0,0,,", "SYSTEMEX2=0,0,,0,0"},
    {"***ERROR: Missing nTBD3", kSys, Noop, "SYSTEMEX2=0,0,0,0,0,,", "SYSTEMEX2=0,0,0,,0"},
    {"***ERROR: Missing nTBD4", kSys, Noop, "SYSTEMEX2=0,0,0,0,0,,", "SYSTEMEX2=0,0,0,0"},
    // SECTION line.
    {"***ERROR: Missing section ID", kSys, [](Table& t) { t.sec3[0] = ""; }},
    {"***ERROR: Missing section type", kSys, [](Table& t) { t.sec3[1] = ""; }},
    {"***ERROR: Invalid section type", kSys, [](Table& t) { t.sec3[1] = "10"; }},
    {"***ERROR: Invalid section type", kSys, [](Table& t) { t.sec3[1] = "-1"; }},
    {"***ERROR: Missing access type", kSys, [](Table& t) { t.sec3[4] = ""; }},
    {"***ERROR: Invalid access type", kSys, [](Table& t) { t.sec3[4] = "9"; }},
    {"***ERROR: Missing section attributes", kSys, [](Table& t) { t.sec3[7] = ""; }},
    {"***ERROR: Missing sub-section code", kSys, [](Table& t) { t.sec3[8] = ""; }},
    {"***ERROR: Invalid sub-section code", kSys, [](Table& t) { t.sec3[8] = "-1"; }},
    // Field-list group.
    {"***ERROR: Expected field list LISTID record", kList, Noop, "LISTID=0", "-"},
    {"***ERROR: Field list ID out of sequence", kList, Noop, "LISTID=0", "LISTID=-1"},
    {"***ERROR: Expected APP record", kList, Noop, "APP=1", "-"},
    {"***ERROR: Invalid application ID", kList, Noop, "APP=1", "APP=0"},
    {"***Error: System 7 is undefined", kList, Noop, "APP=1", "APP=7"},
    {"***ERROR: Expected SECTYPE record", kList, Noop, "SECTYPE=3", "-"},
    {"***ERROR: Expected NAME record", kList, Noop, "NAME=Phone list", "-"},
    {"***ERROR: Expected COUNT record", kList, Noop, "COUNT=3", "-"},
    {"***ERROR: Invalid COUNT record", kList, Noop, "COUNT=3", "COUNT=-1"},
    {"***ERROR: Invalid COUNT record", kList, Noop, "COUNT=3", "COUNT=32768"},
    {"***ERROR: Expected FIELD record", kList, Noop, "COUNT=3", "COUNT=4"},
    // FIELD line.
    {"***ERROR: Field out of sequence", kList, [](Table& t) { t.field1[0] = "2"; }},
    {"***ERROR: Field out of sequence", kList, [](Table& t) { t.field1[0] = ""; }},
    {"***ERROR: Missing field label", kList, [](Table& t) { t.field1[1] = ""; }},
    {"***ERROR: Missing field name", kList, [](Table& t) { t.field1[2] = ""; }},
    {"***ERROR: Item number out of sequence", kList, [](Table& t) { t.field1[3] = "2"; }},
    {"***ERROR: Item number out of sequence", kList, [](Table& t) { t.field2[3] = "3"; }},
    {"***ERROR: Invalid field type", kList, [](Table& t) { t.field1[4] = ""; }},
    {"***ERROR: Invalid field type", kList, [](Table& t) { t.field1[4] = "TT"; }},
    {"***ERROR: Missing field terminator character", kList, [](Table& t) { t.field1[6] = ""; }},
    {"***ERROR: Missing field attributes", kList, [](Table& t) { t.field1[9] = ""; }},
    {"***ERROR: Missing associated field index", kList, [](Table& t) { t.field1[10] = ""; }},
    // Field-map group.
    {"***ERROR: Expected MAPID record", kMap, Noop, "MAPID=1", "-"},
    {"***ERROR: Invalid map ID", kMap, Noop, "MAPID=1", "MAPID=0"},
    {"***ERROR: Invalid map ID", kMap, Noop, "MAPID=1", "MAPID=-3"},
    {"***ERROR: Expected SECTYPE record", kMap, Noop, "SECTYPE=3", "-", 1},
    {"***ERROR: Invalid section type", kMap, Noop, "SECTYPE=3", "SECTYPE=10", 1},
    {"***ERROR: Invalid section type", kMap, Noop, "SECTYPE=3", "SECTYPE=-1", 1},
    {"***ERROR: Expected NAME record", kMap, Noop, "NAME=Book to appts", "-"},
    {"***ERROR: Expected ATTRIB record", kMap, Noop, "ATTRIBS=16", "-"},
    {"***ERROR: Expected SOURCE record", kMap, Noop, "SOURCE=1,0,1", "-"},
    {"***ERROR: Invalid source system ID", kMap, Noop, "SOURCE=1,0,1", "SOURCE=9,0,1"},
    {"***ERROR: Invalid source system ID", kMap, Noop, "SOURCE=1,0,1", "SOURCE="},
    {"***ERROR: Invalid source field list ID", kMap, Noop, "SOURCE=1,0,1", "SOURCE=1,5,1"},
    {"***ERROR: Expected TARGET record", kMap, Noop, "TARGET=2,1,1", "-"},
    {"***ERROR: Invalid target system ID", kMap, Noop, "TARGET=2,1,1", "TARGET=3,1,1"},
    {"***ERROR: Invalid target field list ID", kMap, Noop, "TARGET=2,1,1", "TARGET=2,2,1"},
    {"***ERROR: Expected COUNT record", kMap, Noop, "COUNT=2", "-", 3},
    {"***ERROR: Field count conflicts with source field list", kMap, Noop, "COUNT=2", "COUNT=3", 3},
    {"***ERROR: Expected MAP record", kMap, [](Table& t) { t.map = "# no map"; }},
    // Character-map group.
    {"***ERROR: Missing CharMap ID", kChar, [](Table& t) { t.charmap[0] = ""; }},
    {"***ERROR: Invalid CharMap ID", kChar, [](Table& t) { t.charmap[0] = "0"; }},
    {"***ERROR: Missing CharMap name", kChar, [](Table& t) { t.charmap[1] = ""; }},
    {"***ERROR: Missing CharMap flags field", kChar, [](Table& t) { t.charmap[2] = ""; }},
    {"***ERROR: Missing CharMap character count", kChar, [](Table& t) { t.charmap.resize(3); }},
    {"***ERROR: Invalid CharMap character count", kChar, [](Table& t) { t.charmap[3] = "255"; }},
    {"***ERROR: Invalid CharMap character count", kChar, [](Table& t) { t.charmap[3] = "65536"; }},
    {"***ERROR: Expected CHARMAP record", kChar, [](Table& t) { t.charmap = {}; }, "CHARMAP=", "-"},
    {"***ERROR: Expected COL record", kChar, [](Table& t) { t.cols.pop_back(); }},
    {"***ERROR: Missing column number", kChar, [](Table& t) { t.cols[0] = "COL="; }},
    {"***ERROR: Column number invalid or not in sequence", kChar, [](Table& t) { t.cols[3] = t.cols[4]; }},
    {"***ERROR: Missing character value", kChar, [](Table& t) { t.cols[0] = "COL=0,00"; }},
    {"***ERROR: Invalid character code", kChar, [](Table& t) { t.cols[2] += "x"; }},
    {"***ERROR: Invalid character code", kChar, [](Table& t) { t.cols[2] = "COL=2,-1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0"; }},
    // Block lines: result 4.
    {"***ERROR: Expected TYPE=SYSTEM record", nullptr, Noop, "TYPE=SYSTEM", "-"},
    {"***ERROR: Expected system COUNT record", nullptr, Noop, "COUNT=2", "-"},
    {"***ERROR: Expected TYPE=FIELDS record", nullptr, Noop, "TYPE=FIELDS", "TYPE=FIELD"},
    {"***ERROR: Expected field list COUNT record", nullptr, Noop, "COUNT=2", "-", 1},
    {"***ERROR: Expected TYPE=MAPS record", nullptr, Noop, "TYPE=MAPS", "TYPE=Maps"},
    {"***ERROR: Expected field map COUNT record", nullptr, Noop, "COUNT=1", "-"},
    {"***ERROR: Expected character map COUNT record", nullptr, Noop, "COUNT=1", "-", 1},
    {"***ERROR: Expected MAINSYSTEM record", nullptr, Noop, "MAINSYSTEM=1", "-"},
    {"***ERROR: Expected MAINCLASS record", nullptr, Noop, "MAINCLASS=2", "-"},
    {"***ERROR: Expected PRODUCTID record", nullptr, Noop, "PRODUCTID=-5", "-"},
    {"***ERROR: Expected BUNDLEDFLAG record", nullptr, Noop, "BUNDLEDFLAG=1", "-"},
};

class TxtErrorTest : public txttest::ReaderTest, public ::testing::WithParamInterface<Case> {};

TEST_P(TxtErrorTest, RefusedWithItsMessage) {
  const Case& c = GetParam();
  int rc = Read(Crlf(Apply(c)));
  std::vector<Msg> expected;
  if (c.reader) {
    EXPECT_EQ(rc, -1);
    expected = {{100, c.message},
                {100, std::string("***ERROR: Code = -1 from ") + c.reader},
                {100, "Processing aborted due to error code -1"}};
  } else {
    EXPECT_EQ(rc, 4);
    expected = {{100, c.message}, {100, "Processing aborted due to error code 0"}};
  }
  EXPECT_EQ(LastMessages(expected.size()), expected);
  // Nothing else at level 100 before the refusal.
  EXPECT_EQ(Texts(100).size(), expected.size());
}

INSTANTIATE_TEST_SUITE_P(All, TxtErrorTest, ::testing::ValuesIn(kCases));

class TxtStoreFailureTest : public txttest::ReaderTest {
 protected:
  // Reads the base table, then reopens the table read-only.
  void ReadOnly() {
    ASSERT_EQ(Read(Table().Text()), 0);
    ASSERT_EQ(CloseTable(&db_), 0);
    ASSERT_EQ(OpenTable(table_.c_str(), &db_, 0), 0);
    Messages().clear();
  }
  void ExpectStoreCode(const std::string& text, int code, const char* reader) {
    std::vector<Msg> expected = {{100, text},
                                 {100, "***ERROR: Code = " + std::to_string(code) + " from " + reader},
                                 {100, "Processing aborted due to error code " + std::to_string(code)}};
    EXPECT_EQ(LastMessages(3), expected);
  }
  // The first `blocks` blocks empty, then the lines.
  static std::string After(int blocks, const std::vector<std::string>& lines) {
    static const char* const kEmpty[] = {"TYPE=SYSTEM", "COUNT=0", "TYPE=FIELDS", "COUNT=0", "TYPE=MAPS", "COUNT=0"};
    std::vector<std::string> all(kEmpty, kEmpty + 2 * blocks);
    all.insert(all.end(), lines.begin(), lines.end());
    return Crlf(all);
  }
};

TEST_F(TxtStoreFailureTest, AddFailureIsReportedWithTheStoreCode) {
  Table t;
  t.sys2[0] = "300";  // beyond what the system index can grow to
  EXPECT_EQ(Read(t.Text()), 13);
  ExpectStoreCode("***ERROR: code 13 adding new system record300", 13, kSys);
  EXPECT_TRUE(SystemExists(&db_, 1));  // added before the failure
}

TEST_F(TxtStoreFailureTest, DeleteFailuresOnAReadOnlyTable) {
  ReadOnly();
  EXPECT_EQ(Read(Table().Text()), 17);
  ExpectStoreCode("***ERROR: code 17 deleting old system record1", 17, kSys);

  Table t;
  std::vector<std::string> lines = t.Lines();
  auto from = std::find(lines.begin(), lines.end(), "TYPE=FIELDS");
  auto to = std::find(lines.begin(), lines.end(), "LISTID=1");
  std::vector<std::string> list(from + 2, to);
  list.insert(list.begin(), {"TYPE=FIELDS", "COUNT=1"});
  list.insert(list.end(), {"TYPE=MAPS", "COUNT=0"});
  EXPECT_EQ(Read(After(1, list)), 17);
  ExpectStoreCode("***ERROR: code 17 deleting old field list record1", 17, kList);

  from = std::find(lines.begin(), lines.end(), "TYPE=MAPS");
  to = std::find(lines.begin(), lines.end(), "TYPE=CHARMAP");
  EXPECT_EQ(Read(After(2, std::vector<std::string>(from, to))), 17);
  ExpectStoreCode("***ERROR: code 17 deleting old field map record1", 17, kMap);

  from = to;
  to = std::find(lines.begin(), lines.end(), "TYPE=TABLE");
  EXPECT_EQ(Read(After(3, std::vector<std::string>(from, to))), 17);
  ExpectStoreCode("***ERROR: code 17 deleting old CharMap record 1", 17, kChar);
}

TEST_F(TxtStoreFailureTest, AddFailuresOnAReadOnlyTable) {
  ReadOnly();
  Table t;
  t.sys1[0] = "5";
  EXPECT_EQ(Read(t.Text()), 17);
  ExpectStoreCode("***ERROR: code 17 adding new system record5", 17, kSys);

  std::vector<std::string> lines = t.Lines();
  auto from = std::find(lines.begin(), lines.end(), "TYPE=FIELDS");
  auto to = std::find(lines.begin(), lines.end(), "LISTID=1");
  std::vector<std::string> list(from + 2, to);
  list[0] = "LISTID=7";
  list.insert(list.begin(), {"TYPE=FIELDS", "COUNT=1"});
  list.insert(list.end(), {"TYPE=MAPS", "COUNT=0"});
  EXPECT_EQ(Read(After(1, list)), 17);
  ExpectStoreCode("***ERROR: code 17 adding new field list record1", 17, kList);

  std::vector<std::string> maps = {"TYPE=MAPS", "COUNT=1", "MAPID=2", "SECTYPE=3", "NAME=", "ATTRIBS=0",
                                   "SOURCE=1,0,1", "TARGET=2,1,1", "COUNT=2", "MAP=1,1"};
  EXPECT_EQ(Read(After(2, maps)), 17);
  ExpectStoreCode("***ERROR: code 17 adding new field map record2", 17, kMap);

  std::vector<std::string> chars = {"TYPE=CHARMAP", "COUNT=1", "CHARMAP=2,C,0,256"};
  for (const std::string& c : t.cols) chars.push_back(c);
  EXPECT_EQ(Read(After(3, chars)), 17);
  ExpectStoreCode("***ERROR: code 17 adding new CharMap record 2", 17, kChar);
}

}  // namespace
