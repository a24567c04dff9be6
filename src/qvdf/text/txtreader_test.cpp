// Tests of reading whole text tables into a real table: every record field,
// the progress messages, replacement rules, sequence rules per input, the
// TABLE block, version differences, and the format's kept quirks.
#include "qvdf/text/txtreader.h"

#include "qvdf/text/txtreader_test_util.h"

namespace {

using txttest::Crlf;
using txttest::Messages;
using txttest::Msg;
using txttest::Table;

class TxtReadTest : public txttest::ReaderTest {};

TEST_F(TxtReadTest, ReadsEveryField) {
  ASSERT_EQ(Read(Table().Text()), 0);

  SystemRecord s = SystemHead(1);
  EXPECT_EQ(GetSystemSize(&db_, 1), SystemRecordSize(2));
  EXPECT_EQ(s.nSystemID, 1);
  EXPECT_EQ(s.nClass, 0);
  EXPECT_EQ(s.nType, 1);
  EXPECT_STREQ(s.szName, "Address Book");
  EXPECT_STREQ(s.szTranslator, "ADDRTR");
  EXPECT_STREQ(s.szSysText1, "text1");
  EXPECT_STREQ(s.szSysText2, "text2");
  EXPECT_EQ(s.nSysValue, 5);
  EXPECT_STREQ(s.szSectionTitle, "Contacts");
  EXPECT_EQ(s.nAccessType, 1);
  for (int k = 0; k < 10; ++k) EXPECT_EQ(s.anSectionFlags[k], k);
  EXPECT_EQ(s.dwAttributes, 0x1Fu);
  EXPECT_EQ(s.nCharMap1, 3);
  EXPECT_EQ(s.nCharMap2, 4);
  EXPECT_EQ(s.nSections, 2);
  for (int k = 0; k < 7; ++k) EXPECT_EQ(s.adwProductFlags[k], static_cast<uint32_t>(k + 1));
  EXPECT_EQ(s.adwProductFlags[7], 0xFFFFFFFFu);
  EXPECT_EQ(s.nIDofSavedCopy, 9);
  EXPECT_EQ(s.nTBD1, 10);
  EXPECT_EQ(s.nTBD4, 13);
  EXPECT_STREQ(s.szEx2Text2, "ex2b");
  EXPECT_STREQ(s.szEx3Text1, "a");
  EXPECT_STREQ(s.szEx3Text5, "e");

  SectionRecord a = Section(1, 0);
  EXPECT_EQ(a.nSectionID, 1);
  EXPECT_EQ(a.nSecType, 3);
  EXPECT_STREQ(a.szName, "Phone book");
  EXPECT_STREQ(a.szSecText2, "s2");
  EXPECT_EQ(a.nAccessType, 1);
  EXPECT_STREQ(a.szSecText1, "s1");
  EXPECT_EQ(a.cSecChar, 'P');
  EXPECT_EQ(a.dwAttributes, 0x10u);
  EXPECT_STREQ(a.szSecText3, "s3");
  EXPECT_EQ(a.nSecValue, 77);
  SectionRecord b = Section(1, 1);
  EXPECT_EQ(b.nSubSection, 1);
  EXPECT_EQ(b.cSecChar, 0);
  EXPECT_EQ(SystemHead(2).nSections, 1);

  FieldListRecord l = ListHead(0);
  EXPECT_EQ(GetFieldListSize(&db_, 0), FieldListRecordSize(2));
  EXPECT_EQ(l.nFields, 2);
  EXPECT_EQ(l.nAppID, 1);
  EXPECT_EQ(l.nSectionID, 1);
  EXPECT_EQ(l.nSecType, 3);
  EXPECT_STREQ(l.szName, "Phone list");
  EXPECT_EQ(GetFieldListMark(&db_, 0), '1');
  FieldRecord f = Field(0, 0);
  EXPECT_STREQ(f.szName, "Last,First");
  EXPECT_STREQ(f.szLabel, "Name");
  EXPECT_EQ(f.nItem, 1);
  EXPECT_EQ(f.nAux, -1);
  EXPECT_EQ(f.cType, 'T');
  EXPECT_EQ(f.nTerminator, 44);
  EXPECT_STREQ(f.szFieldText1, "ft1");
  EXPECT_STREQ(f.szFieldText2, "ft2");
  EXPECT_EQ(f.dwAttributes, 3u);
  EXPECT_EQ(f.dwMapCode, 7u);
  FieldRecord g = Field(0, 1);
  EXPECT_EQ(g.nFieldValue, 5);
  EXPECT_EQ(g.nAssocField, -1);
  EXPECT_EQ(ListHead(1).nFields, 3);

  ConfigRecord cfg{};
  std::vector<char> map(static_cast<size_t>(GetFieldMapSize(&db_, 1)));
  ASSERT_EQ(map.size(), static_cast<size_t>(FieldMapRecordSize(2)));
  ASSERT_EQ(ReadFieldMap(&db_, 1, &cfg, map.data(), static_cast<int>(map.size())), 0);
  EXPECT_EQ(cfg.nConfigID, 1);
  EXPECT_EQ(cfg.nSecType, 3);
  EXPECT_EQ(cfg.dwSource, 0x00010001u);
  EXPECT_EQ(cfg.dwTarget, 0x00020001u);
  EXPECT_EQ(cfg.nMapID, 1);
  EXPECT_EQ(cfg.nAux1, -1);
  EXPECT_EQ(cfg.nAux2, 130u);
  FieldMapRecord m;
  std::memcpy(&m, map.data(), sizeof m);
  EXPECT_EQ(m.nSourceList, 0);
  EXPECT_EQ(m.nTargetList, 1);
  EXPECT_STREQ(m.szName, "Book to appts");
  EXPECT_EQ(m.dwAttribs, 16u);
  EXPECT_EQ(GetMapEntry(reinterpret_cast<FieldMapRecord*>(map.data()), 0), 2);
  EXPECT_EQ(GetMapEntry(reinterpret_cast<FieldMapRecord*>(map.data()), 1), -1);

  CharMapRecord c{};
  ASSERT_EQ(ReadCharMap(&db_, 1, &c, sizeof c), 0);
  EXPECT_EQ(c.nChars, 256);
  EXPECT_EQ(c.wFlags, 0x1F);
  EXPECT_STREQ(c.szName, "Latin");
  for (int i = 0; i < 256; ++i) EXPECT_EQ(c.abMap[i], i);

  EXPECT_EQ(GetMainSystem(&db_), 1);
  EXPECT_EQ(GetMainClass(&db_), 2);
  EXPECT_EQ(GetProductID(&db_), 0xFFFFFFFBu);
  EXPECT_EQ(GetBundledFlag(&db_), 1);
}

TEST_F(TxtReadTest, ProgressMessages) {
  ASSERT_EQ(Read(Table().Text()), 0);
  EXPECT_EQ(Messages(), (std::vector<Msg>{
                            {60, "Number of system records: 2"},
                            {60, "   System 1: Address Book"},
                            {40, "      Section 1: Phone book"},
                            {40, "      Section 2: To-dos"},
                            {60, "   System 2: Calendar"},
                            {40, "      Section 1: Appointments"},
                            {60, "Number of Field list records: 2"},
                            {20, "      Field 1: Last,First"},
                            {20, "      Field 2: Phone"},
                            {40, "   Add Field LIST 0: Phone list"},
                            {20, "      Field 1: Start"},
                            {20, "      Field 2: End"},
                            {20, "      Field 3: Text"},
                            {40, "   Add Field LIST 1: Appt list"},
                            {60, "Number of field map records: 1"},
                            {40, "   Add field MAP 1"},
                            {60, "Number of character map records: 1"},
                            {40, "   Add character Map: 1 Latin"},
                        }));
}

TEST_F(TxtReadTest, NoCallbackIsAllowed) {
  Table t;
  t.sys2[3] = "";
  WriteFile("in.txt", t.Text());
  GetValueFn getter = nullptr;
  ASSERT_EQ(OpenTxtInput(4, Path("in.txt").c_str(), &getter, nullptr), 0);
  EXPECT_EQ(ReadTxtTable(&db_, getter, nullptr), -1);
  EXPECT_EQ(CloseTxtInput(Path("in.txt").c_str(), nullptr), 0);
  EXPECT_TRUE(SystemExists(&db_, 1));
  EXPECT_FALSE(SystemExists(&db_, 2));
}

TEST_F(TxtReadTest, VersionsDecideWhatIsRead) {
  // Version 3: no SYSTEMEX lines and no TABLE block, mapping codes read.
  Table t;
  std::vector<std::string> lines;
  for (const std::string& l : t.Lines())
    if (l.rfind("SYSTEMEX", 0) != 0) lines.push_back(l);
  ASSERT_EQ(Read(Crlf(lines), 3), 0);
  EXPECT_EQ(Field(0, 0).dwMapCode, 7u);
  EXPECT_EQ(SystemHead(1).adwProductFlags[7], 0u);
  EXPECT_EQ(GetMainSystem(&db_), 0);

  // Version 2: the mapping code is not read, a missing SECID is not noted.
  Fresh();
  for (std::string& l : lines)
    if (l == "SECID=1") l = "# no section";
  ASSERT_EQ(Read(Crlf(lines), 2), 0);
  EXPECT_EQ(Field(0, 0).dwMapCode, 0u);
  for (const std::string& m : Texts()) EXPECT_EQ(m.find("Missing section ID"), std::string::npos) << m;

  // A version-2 file with SYSTEMEX lines fails at them.
  Messages().clear();
  EXPECT_EQ(Read(t.Text(), 2), -1);
  EXPECT_EQ(LastMessages(3), (std::vector<Msg>{{100, "***ERROR: Expected SECTION record"},
                                               {100, "***ERROR: Code = -1 from QVTBUGetText3System"},
                                               {100, "Processing aborted due to error code -1"}}));
}

TEST_F(TxtReadTest, MissingSectionIdAndMappingCodeAreNoted) {
  Table t;
  t.field2.pop_back();  // no subfield 12 and no "," after subfield 11
  std::vector<std::string> lines = t.Lines();
  for (std::string& l : lines)
    if (l == "SECID=1") {
      l = "SECID=0";
      break;
    }
  ASSERT_EQ(Read(Crlf(lines), 4), 0) << ::testing::PrintToString(Messages());
  EXPECT_EQ(Texts(80), std::vector<std::string>{"Missing field mapping code, using zero."});
  std::vector<std::string> notes = Texts(40);
  EXPECT_NE(std::find(notes.begin(), notes.end(), "Missing section ID for field list 0"), notes.end());
  EXPECT_EQ(std::count(notes.begin(), notes.end(), "Missing section ID for field list 1"), 0);
}

TEST_F(TxtReadTest, TableBlock) {
  Table t;
  // Four zeros leave the header as it was.
  ASSERT_EQ(Read(t.Text()), 0);
  t.table = {"TYPE=TABLE", "MAINSYSTEM=0", "MAINCLASS=0", "PRODUCTID=0", "BUNDLEDFLAG=0"};
  Messages().clear();
  ASSERT_EQ(Read(t.Text()), 0);
  EXPECT_EQ(GetMainSystem(&db_), 1);
  EXPECT_EQ(GetProductID(&db_), 0xFFFFFFFBu);
  EXPECT_EQ(Texts(80), std::vector<std::string>{"***WARNING: Expected ENABLEDPRODUCTS record"});

  // The standard conversion stops at a non-digit; one nonzero stores all four.
  t.table = {"TYPE=TABLE", "MAINSYSTEM= 7x", "MAINCLASS=0", "PRODUCTID=0", "BUNDLEDFLAG=0", "ENABLEDPRODUCTS="};
  ASSERT_EQ(Read(t.Text()), 0);
  EXPECT_EQ(GetMainSystem(&db_), 7);
  EXPECT_EQ(GetMainClass(&db_), 0);
  EXPECT_EQ(GetProductID(&db_), 0u);

  // No TABLE block in version 4: reported, not an error.
  t.table = {};
  Messages().clear();
  EXPECT_EQ(Read(t.Text()), 0);
  EXPECT_EQ(Texts(80), std::vector<std::string>{"***WARNING: No TYPE = TABLE found in V4 table"});

  // Without character maps, the TYPE=TABLE line taken in their place opens the block.
  std::vector<std::string> lines = Table().Lines();
  auto cm = std::find(lines.begin(), lines.end(), "TYPE=CHARMAP");
  lines.erase(cm, cm + 19);
  for (std::string& l : lines)
    if (l == "MAINCLASS=2") l = "MAINCLASS=5";
  Messages().clear();
  ASSERT_EQ(Read(Crlf(lines)), 0) << ::testing::PrintToString(Messages());
  EXPECT_EQ(GetMainClass(&db_), 5);
  std::vector<std::string> counts = Texts(60);
  EXPECT_NE(std::find(counts.begin(), counts.end(), "Number of character map records: 0"), counts.end());

  // A missing value line stops the read with 4.
  t.table = {"TYPE=TABLE", "MAINSYSTEM=1", "MAINCLASS=2", "BUNDLEDFLAG=0"};
  Messages().clear();
  EXPECT_EQ(Read(t.Text()), 4);
  EXPECT_EQ(LastMessages(2), (std::vector<Msg>{{100, "***ERROR: Expected PRODUCTID record"},
                                               {100, "Processing aborted due to error code 0"}}));
}

TEST_F(TxtReadTest, SystemsAreReplacedWhole) {
  ASSERT_EQ(Read(Table().Text()), 0);
  Table t;
  t.sys1[3] = "Book2";
  t.sys1[17] = "1";
  std::vector<std::string> lines = t.Lines();
  lines.erase(std::find(lines.begin(), lines.end(), "SECTION=" + txttest::Join(t.sec2)));
  ASSERT_EQ(Read(Crlf(lines), 4, "second.txt"), 0);
  EXPECT_STREQ(SystemHead(1).szName, "Book2");
  EXPECT_EQ(GetSystemSize(&db_, 1), SystemRecordSize(1));
  EXPECT_EQ(CountSystems(&db_), 2);
  // The sequence counters restart with each input, so IDs 0 and 1 again.
  EXPECT_EQ(CountFieldLists(&db_), 2);
  EXPECT_EQ(CountFieldMaps(&db_), 1);
  EXPECT_EQ(CountCharMaps(&db_), 1);
}

TEST_F(TxtReadTest, FieldListReplacedOnlyForTheSameOwner) {
  ASSERT_EQ(Read(Table().Text()), 0);
  auto only_list = [](const std::string& app, const std::string& secid, const std::string& sectype) {
    return Crlf({"TYPE=SYSTEM", "COUNT=0", "TYPE=FIELDS", "COUNT=1", "LISTID=0", "APP=" + app,
                 "SECID=" + secid, "SECTYPE=" + sectype, "NAME=New", "COUNT=1",
                 "FIELD=1,L,N,1,T,0,0,,,0,0,0", "TYPE=MAPS", "COUNT=0"});
  };
  EXPECT_EQ(Read(only_list("1", "1", "3")), 0);
  EXPECT_STREQ(ListHead(0).szName, "New");
  EXPECT_EQ(ListHead(0).nFields, 1);

  for (auto [app, secid, sectype] : {std::tuple{"2", "1", "3"}, {"1", "2", "3"}, {"1", "1", "4"}}) {
    Messages().clear();
    EXPECT_EQ(Read(only_list(app, secid, sectype)), -1);
    EXPECT_EQ(LastMessages(3), (std::vector<Msg>{{100, "***ERROR: code -1 duplicate field list index 0"},
                                                 {100, "***ERROR: Code = -1 from QVTBUGetText3FieldList"},
                                                 {100, "Processing aborted due to error code -1"}}));
    EXPECT_STREQ(ListHead(0).szName, "New");
  }
}

TEST_F(TxtReadTest, MapsAndCharMapsAreReplaced) {
  ASSERT_EQ(Read(Table().Text()), 0);
  Table t;
  t.map = "MAP=1,3";
  t.charmap[1] = "Other";
  t.cols[0] = "COL=0,ff,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f";
  ASSERT_EQ(Read(t.Text()), 0);
  std::vector<char> map(static_cast<size_t>(GetFieldMapSize(&db_, 1)));
  ASSERT_EQ(ReadFieldMap(&db_, 1, nullptr, map.data(), static_cast<int>(map.size())), 0);
  EXPECT_EQ(GetMapEntry(reinterpret_cast<FieldMapRecord*>(map.data()), 0), 0);
  EXPECT_EQ(GetMapEntry(reinterpret_cast<FieldMapRecord*>(map.data()), 1), 2);
  CharMapRecord c{};
  ASSERT_EQ(ReadCharMap(&db_, 1, &c, sizeof c), 0);
  EXPECT_STREQ(c.szName, "Other");
  EXPECT_EQ(c.abMap[0], 0xFF);
  EXPECT_EQ(CountFieldMaps(&db_), 1);
  EXPECT_EQ(CountCharMaps(&db_), 1);
}

TEST_F(TxtReadTest, SequenceRules) {
  auto lists = [](std::vector<int> ids) {
    std::vector<std::string> l = {"TYPE=SYSTEM", "COUNT=1", "SYSTEM=1,0,1,S,T,,0,,,,,Title,0,0,0",
                                  "TYPE=FIELDS", "COUNT=" + std::to_string(ids.size())};
    for (int id : ids) {
      for (std::string x : {"LISTID=" + std::to_string(id), std::string("APP=1"), std::string("SECTYPE=0"),
                            std::string("NAME="), std::string("COUNT=1"), std::string("FIELD=1,L,N,1,T,0,0,,,0,0")})
        l.push_back(x);
    }
    l.push_back("TYPE=MAPS");
    l.push_back("COUNT=0");
    return Crlf(l);
  };
  EXPECT_EQ(Read(lists({0, 1, 2}), 2), 0);
  EXPECT_EQ(Read(lists({4, 9, 12}), 2), 0);
  EXPECT_EQ(CountFieldLists(&db_), 6);
  Messages().clear();
  EXPECT_EQ(Read(lists({5, 0}), 2), -1);
  EXPECT_EQ(LastMessages(3)[0], (Msg{100, "***ERROR: Field list ID out of sequence"}));
  Messages().clear();
  EXPECT_EQ(Read(lists({3, 4, 1}), 2), -1);
  EXPECT_EQ(LastMessages(3)[0], (Msg{100, "***ERROR: Field list ID out of sequence"}));
}

TEST_F(TxtReadTest, KeptQuirks) {
  // A COUNT line in lower case is read; a TYPE value in lower case is not.
  Table t;
  std::vector<std::string> lines = t.Lines();
  lines[2] = "count=2";
  EXPECT_EQ(Read(Crlf(lines)), 0);
  lines[1] = "TYPE=system";
  Messages().clear();
  EXPECT_EQ(Read(Crlf(lines)), 4);
  EXPECT_EQ(Messages(), (std::vector<Msg>{{100, "***ERROR: Expected TYPE=SYSTEM record"},
                                          {100, "Processing aborted due to error code 0"}}));

  // COUNT "2 " does not hold 2: the blank folds into the number (2*10-16 = 4).
  lines = t.Lines();
  lines[2] = "COUNT=2 ";
  Messages().clear();
  EXPECT_EQ(Read(Crlf(lines)), -1);
  EXPECT_EQ(Messages()[0], (Msg{60, "Number of system records: 4"}));

  // LF-only line ends stay in every value: nothing is read.
  std::string lf;
  for (const std::string& l : t.Lines()) lf += l + "\n";
  Fresh();
  EXPECT_EQ(Read(lf), 4);
  EXPECT_EQ(Messages()[0], (Msg{100, "***ERROR: Expected TYPE=SYSTEM record"}));
  EXPECT_EQ(CountSystems(&db_), 0);

  // A comment between two FIELD lines is skipped; quotes and carets.
  t = Table();
  lines = t.Lines();
  lines.insert(std::find(lines.begin(), lines.end(), "FIELD=" + txttest::Join(t.field2)), "; between fields");
  t.sec2[2] = "\"\"";
  t.sec3[2] = "a\"b\"";
  t.field2[2] = "a^b^c";
  lines[8] = "SECTION=" + txttest::Join(t.sec2);
  lines[13] = "SECTION=" + txttest::Join(t.sec3);
  lines[24] = "FIELD=" + txttest::Join(t.field2);
  Messages().clear();
  ASSERT_EQ(Read(Crlf(lines)), 0) << ::testing::PrintToString(Messages());
  EXPECT_STREQ(Section(1, 1).szName, "");
  EXPECT_STREQ(Section(2, 0).szName, "a\"b\"");
  EXPECT_STREQ(Field(0, 1).szName, "a,b,c");
}

TEST_F(TxtReadTest, MapEntries) {
  Table t;
  t.map = "MAP=3";  // fewer entries than COUNT: the rest unmapped, no warning
  ASSERT_EQ(Read(t.Text()), 0);
  EXPECT_TRUE(Texts(80).empty());
  t.map = "MAP=4,-1";
  Messages().clear();
  ASSERT_EQ(Read(t.Text()), 0);
  EXPECT_EQ(Texts(80), (std::vector<std::string>{"***WARNING: Invalid map index reset to unmapped",
                                                 "***WARNING: Invalid map index reset to unmapped"}));
  std::vector<char> map(static_cast<size_t>(GetFieldMapSize(&db_, 1)));
  ASSERT_EQ(ReadFieldMap(&db_, 1, nullptr, map.data(), static_cast<int>(map.size())), 0);
  EXPECT_EQ(GetMapEntry(reinterpret_cast<FieldMapRecord*>(map.data()), 0), -1);
  EXPECT_EQ(GetMapEntry(reinterpret_cast<FieldMapRecord*>(map.data()), 1), -1);
}

TEST_F(TxtReadTest, MapEntriesInEveryForm) {
  // Two entries into a list of three fields; each stored as number - 1,
  // out of range giving -1 with a warning. Plain digits take a shorter road
  // than anything else, so both must agree.
  struct Case {
    const char* map;
    int16_t first, second;
    size_t warnings;
  };
  const Case cases[] = {
      {"MAP=2,1", 1, 0, 0},   {"MAP= 2, 1", 1, 0, 0},   {"MAP=+2,-0", 1, -1, 0},
      {"MAP=,3", -1, 2, 0},   {"MAP=3,", 2, -1, 0},     {"MAP=2x,1", -1, 0, 1},
      {"MAP=1,2,3", 0, 1, 0}, {"MAP=00003,2", 2, 1, 0}, {"MAP=4294967298,1", 1, 0, 0},
      {"MAP=1,\t3", 0, 2, 0}, {"MAP=", -1, -1, 0},      {"MAP=1 ,2", -1, 1, 1},
      // Eight bytes or more left: the numbers are read a word at a time.
      {"MAP=2,1,0000000", 1, 0, 0},     {"MAP=1234567,1,,,,,", -1, 0, 1},
      {"MAP=0000003,1,,,,,,", 2, 0, 0}, {"MAP=3,2x,,,,,,,,,", 2, -1, 1},
      {"MAP=12345678,2,,,,,", -1, 1, 1}, {"MAP=2,\x81,,,,,,,,", 1, -1, 1},
      {"MAP=,,,,,,,,,,", -1, -1, 0},    {"MAP=3,3,3,3,3,3,3,3", 2, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.map);
    Table t;
    t.map = c.map;
    Messages().clear();
    ASSERT_EQ(Read(t.Text()), 0);
    EXPECT_EQ(Texts(80).size(), c.warnings);
    std::vector<char> map(static_cast<size_t>(GetFieldMapSize(&db_, 1)));
    ASSERT_EQ(ReadFieldMap(&db_, 1, nullptr, map.data(), static_cast<int>(map.size())), 0);
    EXPECT_EQ(GetMapEntry(reinterpret_cast<FieldMapRecord*>(map.data()), 0), c.first);
    EXPECT_EQ(GetMapEntry(reinterpret_cast<FieldMapRecord*>(map.data()), 1), c.second);
  }
}

TEST_F(TxtReadTest, LinesNobodyKeepsAreNotComposed) {
  // A callback declared to keep only levels above 50 is not sent the
  // per-record lines at all; declared to keep everything, it gets them again.
  DeclareMessageFilter(txttest::Collect, [](int level) { return level > 50; });
  ASSERT_EQ(Read(Table().Text()), 0);
  DeclareMessageFilter(txttest::Collect, [](int) { return true; });
  for (const Msg& m : Messages()) EXPECT_GT(m.level, 50) << m.text;
  EXPECT_EQ(Texts(60).size(), 6u);
  Messages().clear();
  ASSERT_EQ(Read(Table().Text()), 0);
  EXPECT_EQ(Messages().size(), 18u);
  EXPECT_FALSE(MessageWanted(nullptr, 100));
}

TEST_F(TxtReadTest, CharMapOfMoreThan256Characters) {
  Table t;
  t.charmap[3] = "300";
  ASSERT_EQ(Read(t.Text()), 0);
  CharMapRecord c{};
  ASSERT_EQ(ReadCharMap(&db_, 1, &c, sizeof c), 0);
  EXPECT_EQ(c.abMap[255], 255);
}

}  // namespace

TEST_F(TxtReadTest, FieldRecordIsZeroPastEveryText) {
  // The record starts full of junk: every byte the line does not fill must
  // come out zero, cut texts included.
  WriteFile("f.txt", Crlf({"FIELD=1,\"Lb\"," + std::string(70, 'N') + ",1,T,0,9,t1," + std::string(30, 'x') +
                           ",0x1,0,4"}));
  GetValueFn getter = nullptr;
  ASSERT_EQ(OpenTxtInput(4, Path("f.txt").c_str(), &getter, txttest::Collect), 0);
  FieldRecord f;
  std::memset(&f, 0xAA, sizeof f);
  ASSERT_EQ(QVTBUGetText3Field(0, &f, getter, txttest::Collect), 0);
  CloseTxtInput(Path("f.txt").c_str(), txttest::Collect);
  FieldRecord want;
  std::memset(&want, 0, sizeof want);
  want.nAux = -1;
  std::memcpy(want.szLabel, "Lb", 2);
  std::memset(want.szName, 'N', sizeof want.szName - 1);
  std::memcpy(want.szFieldText1, "t1", 2);
  std::memset(want.szFieldText2, 'x', sizeof want.szFieldText2 - 1);
  want.nItem = 1;
  want.cType = 'T';
  want.nTerminator = 9;
  want.dwAttributes = 1;
  want.dwMapCode = 4;
  EXPECT_EQ(std::memcmp(&f, &want, sizeof f), 0);
  EXPECT_EQ(Texts(80), (std::vector<std::string>{"***ERROR: Field name " + std::string(70, 'N') + " truncated",
                                                  "***WARNING: Field text 2 truncated"}));
}
