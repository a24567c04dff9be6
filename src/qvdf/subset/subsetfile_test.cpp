// Tests of the subset file reader: the getter's protocol over CR LF and LF
// files, the lines it passes over, key matching, value bounds, and the
// unsigned number conversion of attribute fields.
#include "qvdf/subset/subsetfile.h"

#include <gtest/gtest.h>

#include <string>

#include "qvdf/subset/subset_test_util.h"

namespace {

using subset_test::Message;
using subset_test::Messages;

class SubsetFileTest : public subset_test::TempDirTest {
 protected:
  void TearDown() override {
    CloseSubsetInput();
    TempDirTest::TearDown();
  }
  // Opens a subset file holding `bytes`.
  void Open(const std::string& bytes) {
    ASSERT_EQ(OpenSubsetInput(WriteFile("s.sub", bytes).c_str()), 0);
  }
  // The getter's result, and the value in *value when it is 0.
  int Get(const char* key, std::string* value = nullptr, int size = kSubsetValueSize) {
    char buf[kSubsetValueSize + 8];
    std::memset(buf, '@', sizeof buf);
    int r = GetSubsetValue(key, buf, size, subset_test::Collect);
    if (r == 0 && value) *value = buf;
    return r;
  }
};

TEST_F(SubsetFileTest, CrLfAndLfFilesGiveTheSameValues) {
  for (const char* eol : {"\r\n", "\n", "\r"}) {
    SCOPED_TRACE(eol[0] == '\r' ? (eol[1] ? "CRLF" : "CR") : "LF");
    std::string e = eol;
    Open("MAIN_CLASS=3" + e + "SYSTEM=5,0x10,0,NEWDLL,1,2" + e + "ALIAS=5,Name" + e);
    std::string v;
    ASSERT_EQ(Get("MAIN_CLASS", &v), 0);
    EXPECT_EQ(v, "3");
    if (e != "\r") {  // a lone CR does not end a line
      ASSERT_EQ(Get("SYSTEM", &v), 0);
      EXPECT_EQ(v, "5,0x10,0,NEWDLL,1,2");
      ASSERT_EQ(Get("ALIAS", &v), 0);
      EXPECT_EQ(v, "5,Name");
    }
    EXPECT_EQ(Get("ALIAS"), 2);
    CloseSubsetInput();
  }
}

TEST_F(SubsetFileTest, LastLineWithoutLineEndIsRead) {
  Open("COUNT=2");
  std::string v;
  ASSERT_EQ(Get("COUNT", &v), 0);
  EXPECT_EQ(v, "2");
  EXPECT_EQ(Get("SYSTEM"), 2);
}

TEST_F(SubsetFileTest, CommentBlankAndIndentedLinesArePassedOver) {
  Open("# comment\r\n\r\n\n; another\r\n   MAIN_CLASS=9\r\n\tMAIN_SYSTEM=4\r\n");
  std::string v;
  // The tab-indented line is a record line: its key is "\tMAIN_SYSTEM".
  EXPECT_EQ(Get("MAIN_SYSTEM"), 1);
  ASSERT_EQ(Get("", &v), 0);
  EXPECT_EQ(v, "\tMAIN_SYSTEM=4");
  EXPECT_EQ(Get(""), 2);
}

TEST_F(SubsetFileTest, AnotherKeyStaysCurrentUntilAsked) {
  Open("# x\r\nCOUNT=2\r\nSYSTEM=5,0,0,,\r\n");
  std::string v;
  EXPECT_EQ(Get("PRODUCT_ID"), 1);
  EXPECT_EQ(Get("BUNDLED"), 1);
  ASSERT_EQ(Get("count", &v), 0);
  EXPECT_EQ(v, "2");
  ASSERT_EQ(Get("SYSTEM", &v), 0);
  EXPECT_EQ(v, "5,0,0,,");
  EXPECT_EQ(Get("SYSTEM"), 2);
}

TEST_F(SubsetFileTest, KeysMatchOverTheLinesKeyLength) {
  Open("counter=1\nSYS=2\n=3\nMAIN_CLASS\n");
  std::string v;
  EXPECT_EQ(Get("COUNT"), 1);        // a longer key is another key
  ASSERT_EQ(Get("COUNTER", &v), 0);  // case does not matter
  EXPECT_EQ(v, "1");
  ASSERT_EQ(Get("SYSTEM", &v), 0);  // a leading part of the key matches
  EXPECT_EQ(v, "2");
  ASSERT_EQ(Get("ALIASES", &v), 0);  // so does an empty key
  EXPECT_EQ(v, "3");
  EXPECT_EQ(Get("MAIN_CLASS"), 1);  // without "=", the line end is part of the key
}

TEST_F(SubsetFileTest, ValueIsBoundedByTheCapacity) {
  std::string longValue(700, 'x');
  Open("SYSTEM=" + longValue + "\r\nCOUNT=123456\r\n");
  std::string v;
  ASSERT_EQ(Get("SYSTEM", &v), 0);
  EXPECT_EQ(v, std::string(kSubsetValueSize - 1, 'x'));
  ASSERT_EQ(Get("COUNT", &v, 4), 0);
  EXPECT_EQ(v, "123");
}

TEST_F(SubsetFileTest, LineTooLongIsAnErrorNotData) {
  Open("MAIN_CLASS=" + std::string(70 * 1024, '7') + "\r\nMAIN_SYSTEM=1\r\n");
  EXPECT_EQ(Get("MAIN_CLASS"), -1);
  EXPECT_EQ(Messages(), (std::vector<Message>{{100, "***ERROR: Line too long"}}));
}

TEST_F(SubsetFileTest, NoFileOpenReadsAsEnd) {
  EXPECT_FALSE(SubsetInputOpen());
  EXPECT_EQ(Get("MAIN_CLASS"), 2);
  EXPECT_EQ(CloseSubsetInput(), 0);
  EXPECT_NE(OpenSubsetInput(Path("absent.sub").c_str()), 0);
  EXPECT_FALSE(SubsetInputOpen());
}

TEST_F(SubsetFileTest, ReopeningStartsWithoutACurrentLine) {
  Open("COUNT=1\r\n");
  EXPECT_EQ(Get("SYSTEM"), 1);  // COUNT line kept current
  Open("SYSTEM=8,0,0,X\r\n");
  std::string v;
  ASSERT_EQ(Get("SYSTEM", &v), 0);
  EXPECT_EQ(v, "8,0,0,X");
}

TEST(ParseUnsigned32, DecimalHexOctalSignsAndOverflow) {
  EXPECT_EQ(ParseUnsigned32("256"), 256u);
  EXPECT_EQ(ParseUnsigned32("0x0100"), 0x100u);
  EXPECT_EQ(ParseUnsigned32("0X80000000"), 0x80000000u);
  EXPECT_EQ(ParseUnsigned32("0xffffFFFF"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseUnsigned32("010"), 8u);
  EXPECT_EQ(ParseUnsigned32("0777"), 0777u);
  EXPECT_EQ(ParseUnsigned32("2147483648"), 0x80000000u);
  EXPECT_EQ(ParseUnsigned32("4294967295"), 0xFFFFFFFFu);
  // Reading stops at the first character that does not belong.
  EXPECT_EQ(ParseUnsigned32("12abc"), 12u);
  EXPECT_EQ(ParseUnsigned32("089"), 0u);  // 8 is no octal digit
  EXPECT_EQ(ParseUnsigned32("0x1g"), 1u);
  EXPECT_EQ(ParseUnsigned32("0x"), 0u);
  EXPECT_EQ(ParseUnsigned32("  \t42 "), 42u);
  EXPECT_EQ(ParseUnsigned32("abc"), 0u);
  EXPECT_EQ(ParseUnsigned32(""), 0u);
  EXPECT_EQ(ParseUnsigned32("+7"), 7u);
  EXPECT_EQ(ParseUnsigned32("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseUnsigned32("4294967296"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseUnsigned32("0x100000000"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseUnsigned32("99999999999999999999999"), 0xFFFFFFFFu);
}

}  // namespace
