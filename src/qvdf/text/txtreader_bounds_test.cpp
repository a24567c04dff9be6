// Tests of values at and past the bounds of their record fields: long lines
// read whole, texts cut with their warnings, long numbers, counts that size
// buffers, and double-byte names.
#include "qvdf/text/txtreader.h"

#include "qvdf/text/txtreader_test_util.h"

namespace {

using txttest::Crlf;
using txttest::Messages;
using txttest::Msg;
using txttest::Table;

class TxtBoundsTest : public txttest::ReaderTest {
 protected:
  // Replaces the first line starting with prefix.
  static std::vector<std::string> With(std::vector<std::string> lines, const std::string& prefix,
                                       const std::string& line) {
    for (std::string& l : lines)
      if (l.rfind(prefix, 0) == 0) {
        l = line;
        break;
      }
    return lines;
  }
};

TEST_F(TxtBoundsTest, LongLinesAreReadWhole) {
  // A SYSTEMEX3 line of about 660 characters, as the writer produces.
  std::string t1(39, 'a'), t4(63, 'd'), t5(463, 'e');
  std::string ex3 = "SYSTEMEX3=" + t1 + "," + t1 + "," + t1 + "," + t4 + "," + t5;
  ASSERT_GT(ex3.size(), 600u);
  ASSERT_EQ(Read(Crlf(With(Table().Lines(), "SYSTEMEX3=a", ex3))), 0);
  SystemRecord s = SystemHead(1);
  EXPECT_EQ(std::string(s.szEx3Text4), t4);
  EXPECT_EQ(std::string(s.szEx3Text5), t5);
  EXPECT_TRUE(Texts(80).empty());

  // A line past the limit stops the read with -1 and nothing after it is read.
  Fresh();
  std::string huge = "SYSTEMEX3=" + std::string(kMaxLineLength, 'x');
  EXPECT_EQ(Read(Crlf(With(Table().Lines(), "SYSTEMEX3=a", huge))), -1);
  EXPECT_EQ(Messages(), (std::vector<Msg>{{60, "Number of system records: 2"},
                                          {60, "   System 1: Address Book"},
                                          {100, "***ERROR: Line too long"},
                                          {100, "***ERROR: Code = -1 from QVTBUGetText3System"},
                                          {100, "Processing aborted due to error code -1"}}));
  EXPECT_FALSE(SystemExists(&db_, 1));

  // Also where a block line is expected.
  Fresh();
  std::vector<std::string> lines = Table().Lines();
  lines.insert(lines.begin() + 1, "# " + std::string(kMaxLineLength, 'c'));
  EXPECT_EQ(Read(Crlf(lines)), -1);
  EXPECT_EQ(Messages(), (std::vector<Msg>{{100, "***ERROR: Line too long"},
                                          {100, "Processing aborted due to error code -1"}}));
}

TEST_F(TxtBoundsTest, TextsAreCutToTheirFields) {
  Table t;
  t.sys1[3] = "\"" + std::string(70, 'N') + "\"";
  t.sys1[4] = "TRANSLATOR12";      // 12 > 11
  t.sys1[5] = std::string(32, 's');
  t.sys1[9] = std::string(260, 'x');
  t.sys1[11] = std::string(64, 't');
  t.sec1[2] = std::string(64, 'S');
  t.sec1[3] = std::string(64, '2');
  t.sec1[5] = std::string(32, '1');
  t.sec1[9] = std::string(64, '3');
  t.field1[1] = "\"" + std::string(32, 'L') + "\"";
  t.field1[2] = std::string(64, 'F');
  t.field1[7] = std::string(20, 'a');
  t.field1[8] = std::string(22, 'b');
  t.charmap[1] = std::string(64, 'C');
  std::vector<std::string> lines = With(t.Lines(), "SYSTEMEX2=9", "SYSTEMEX2=9,10,11,12,13," + std::string(40, 'p') + "," + std::string(40, 'q'));
  lines = With(lines, "SYSTEMEX3=a", "SYSTEMEX3=" + std::string(40, '1') + "," + std::string(40, '2') + "," +
                                         std::string(40, '3') + "," + std::string(64, '4') + "," + std::string(464, '5'));
  lines = With(lines, "NAME=Phone list", "NAME=" + std::string(65, 'n'));
  lines = With(lines, "NAME=Book to appts", "NAME=" + std::string(64, 'm'));
  ASSERT_EQ(Read(Crlf(lines)), 0) << ::testing::PrintToString(Messages());

  EXPECT_EQ(Texts(80), (std::vector<std::string>{
                           "***ERROR: System name " + std::string(70, 'N') + " truncated",
                           "***WARNING: Translator name truncated",
                           "***WARNING: System text 1 truncated",
                           "***WARNING: System text 2 truncated",
                           "***WARNING: Section title truncated",
                           "***WARNING: SYSTEMEX2 text 1 truncated",
                           "***WARNING: SYSTEMEX2 text 2 truncated",
                           "***WARNING: SYSTEMEX3 text 1 truncated",
                           "***WARNING: SYSTEMEX3 text 2 truncated",
                           "***WARNING: SYSTEMEX3 text 3 truncated",
                           "***WARNING: SYSTEMEX3 text 4 truncated",
                           "***WARNING: SYSTEMEX3 text 5 truncated",
                           "***ERROR: Section name " + std::string(64, 'S') + " truncated",
                           "***WARNING: Section text 2 truncated",
                           "***WARNING: Section text 1 truncated",
                           "***WARNING: Section text 3 truncated",
                           "***WARNING: Field list name truncated",
                           "***ERROR: Field label " + std::string(32, 'L') + " truncated",
                           "***ERROR: Field name " + std::string(64, 'F') + " truncated",
                           "***WARNING: Field text 1 truncated",
                           "***WARNING: Field text 2 truncated",
                           "***WARNING: Field map name truncated",
                           "***WARNING: CharMap name truncated",
                       }));
  SystemRecord s = SystemHead(1);
  EXPECT_EQ(std::string(s.szName), std::string(63, 'N'));
  EXPECT_STREQ(s.szTranslator, "TRANSLATOR1");
  EXPECT_EQ(std::string(s.szSysText2), std::string(259, 'x'));
  EXPECT_EQ(std::string(s.szEx3Text5), std::string(463, '5'));
  EXPECT_EQ(std::string(Section(1, 0).szName), std::string(63, 'S'));
  EXPECT_EQ(std::string(ListHead(0).szName), std::string(64, 'n'));
  FieldRecord f = Field(0, 0);
  EXPECT_EQ(std::string(f.szLabel), std::string(31, 'L'));
  EXPECT_EQ(std::string(f.szName), std::string(63, 'F'));
  EXPECT_EQ(std::string(f.szFieldText2), std::string(21, 'b'));
  CharMapRecord c{};
  ASSERT_EQ(ReadCharMap(&db_, 1, &c, sizeof c), 0);
  EXPECT_EQ(std::string(c.szName), std::string(63, 'C'));

  // Exactly at the limit nothing is cut or reported.
  Fresh();
  t = Table();
  t.sys1[3] = std::string(63, 'N');
  t.field1[1] = std::string(31, 'L');
  t.field1[2] = std::string(63, 'F');
  ASSERT_EQ(Read(t.Text()), 0);
  EXPECT_TRUE(Texts(80).empty());
  EXPECT_EQ(std::string(SystemHead(1).szName), std::string(63, 'N'));
}

TEST_F(TxtBoundsTest, ReportedGapsThatAreAccepted) {
  Table t;
  t.sys1[4] = "";
  t.sec1[0] = "0";
  t.sec2[0] = "-4";
  t.sec2[2] = "";
  ASSERT_EQ(Read(t.Text()), 0);
  EXPECT_EQ(Texts(80), (std::vector<std::string>{"***ERROR: Missing translator name",
                                                 "***WARNING: Invalid section ID reset to 1.",
                                                 "***WARNING: Invalid section ID reset to 1.",
                                                 "***WARNING: Missing section name set to \"MISSING\""}));
  EXPECT_EQ(Section(1, 0).nSectionID, 1);
  EXPECT_EQ(Section(1, 1).nSectionID, 1);
  EXPECT_STREQ(Section(1, 1).szName, "MISSING");
  std::vector<std::string> progress = Texts(40);
  EXPECT_NE(std::find(progress.begin(), progress.end(), "      Section 1: MISSING"), progress.end());
}

TEST_F(TxtBoundsTest, NumbersAndFlags) {
  Table t;
  t.sys1[10] = "00000000000000000000000000042";  // longer than 15 characters: converted whole
  t.sys1[13] = "98765432101234";                 // flags after the tenth are ignored
  t.sys1[14] = "0x00000000000000000000ABCDEF12";
  t.sec1[10] = "4294967297";                      // wraps in 32 bits
  t.sys1[15] = "65537";                           // stored in 16 bits
  t.sys1[17] = "65538";                           // the count that sizes, drives and is stored
  ASSERT_EQ(Read(t.Text()), 0);
  SystemRecord s = SystemHead(1);
  EXPECT_EQ(s.nSysValue, 42);
  for (int k = 0; k < 10; ++k) EXPECT_EQ(s.anSectionFlags[k], "9876543210"[k] - '0');
  EXPECT_EQ(s.dwAttributes, 0xABCDEF12u);
  EXPECT_EQ(s.nCharMap1, 1);
  EXPECT_EQ(s.nSections, 2);
  EXPECT_EQ(GetSystemSize(&db_, 1), SystemRecordSize(2));
  EXPECT_EQ(Section(1, 0).nSecValue, 1);

  // 113 sections fit a record.
  Fresh();
  std::vector<std::string> lines = {"TYPE=SYSTEM", "COUNT=1", "SYSTEM=3,0,1,S,T,,0,,,,,Title,0,0,0,,,113"};
  for (int i = 1; i <= 113; ++i) lines.push_back("SECTION=" + std::to_string(i) + ",0,N,,0,,,0,0");
  lines.insert(lines.end(), {"TYPE=FIELDS", "COUNT=0", "TYPE=MAPS", "COUNT=0"});
  ASSERT_EQ(Read(Crlf(lines), 3), 0);
  EXPECT_EQ(GetSystemSize(&db_, 3), SystemRecordSize(113));
  EXPECT_EQ(Section(3, 112).nSectionID, 113);
}

TEST_F(TxtBoundsTest, FieldListWithoutFieldsIsRead) {
  std::vector<std::string> lines = {"TYPE=SYSTEM", "COUNT=1", "SYSTEM=3,0,1,S,T,,0,,,,,Title,0,0,0",
                                    "TYPE=FIELDS", "COUNT=1", "LISTID=5", "APP=3", "SECTYPE=0",
                                    "NAME=Alias", "COUNT=0", "TYPE=MAPS", "COUNT=0"};
  ASSERT_EQ(Read(Crlf(lines), 3), 0);
  EXPECT_EQ(GetFieldListSize(&db_, 5), FieldListRecordSize(0));
  FieldListRecord l = ListHead(5);
  EXPECT_EQ(l.nFields, 0);
  EXPECT_EQ(l.nAppID, 3);
  EXPECT_STREQ(l.szName, "Alias");
  // A map over it has no entries.
  lines.back() = "COUNT=1";
  lines.insert(lines.end(), {"MAPID=1", "SECTYPE=0", "NAME=", "ATTRIBS=0", "SOURCE=3,5,0", "TARGET=3,5,0",
                             "COUNT=0", "MAP="});
  ASSERT_EQ(Read(Crlf(lines), 3), 0) << ::testing::PrintToString(Messages());
  EXPECT_EQ(GetFieldMapSize(&db_, 1), FieldMapRecordSize(0));
}

TEST_F(TxtBoundsTest, LargestCharMapCount) {
  Table t;
  t.charmap[3] = "65535";
  ASSERT_EQ(Read(t.Text()), 0);
  EXPECT_TRUE(CharMapExists(&db_, 1));
}

// Cut or damaged tables are refused or read, never more: every stop is
// reported with the abort message that names its result.
TEST_F(TxtBoundsTest, DamagedTablesEndInAReportedResult) {
  const std::string text = Table().Text();
  auto check = [this](const std::string& damaged) {
    Messages().clear();
    int rc = Read(damaged);
    if (rc == 0) return;
    ASSERT_FALSE(Messages().empty());
    EXPECT_EQ(Messages().back(),
              (Msg{100, "Processing aborted due to error code " + std::to_string(rc == 4 ? 0 : rc)}))
        << rc;
  };
  for (size_t n = 0; n < text.size(); n += 23) check(text.substr(0, n));
  uint32_t seed = 12345;
  for (int i = 0; i < 120; ++i) {
    std::string d = text;
    for (int k = 0; k < 3; ++k) {
      seed = seed * 1103515245u + 12345u;
      d[(seed >> 8) % d.size()] = static_cast<char>(seed >> 24);
    }
    check(d);
  }
}

// Code page 932 lead bytes.
class Cp932Env : public platform::EnvWrapper {
 public:
  Cp932Env() : EnvWrapper(platform::Env::Get()) {}
  bool IsLeadByte(unsigned char c) override { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
};

TEST_F(TxtBoundsTest, DoubleByteNames) {
  Cp932Env env;
  platform::Env::SetForTesting(&env);
  Table t;
  // "^" as a trail byte stays; the one after it is a comma. "," as a trail
  // byte does not end the subfield.
  t.field1[2] = "\x81^x^y";
  t.field2[2] = "\x81,z";
  // A cut never splits a character: 62 bytes and a double-byte character.
  t.sys1[3] = std::string(62, 'n') + "\x82\xa0";
  int rc = Read(t.Text());
  platform::Env::SetForTesting(nullptr);
  ASSERT_EQ(rc, 0) << ::testing::PrintToString(Messages());
  EXPECT_STREQ(Field(0, 0).szName, "\x81^x,y");
  EXPECT_STREQ(Field(0, 1).szName, "\x81,z");
  EXPECT_EQ(std::string(SystemHead(1).szName), std::string(62, 'n'));
  EXPECT_EQ(Texts(80), std::vector<std::string>{"***ERROR: System name " + std::string(62, 'n') + "\x82\xa0 truncated"});
}

}  // namespace
