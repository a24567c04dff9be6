// The splitter on script text: keys and string-table lines of system,
// section and field lines, what passes unchanged, length warnings, lines
// that cannot be keyed, repeated keys and long lines.
#include <gtest/gtest.h>

#include <string>

#include "qvdf/resource/localized.h"
#include "qvdf/resource/localized_test_support.h"
#include "qvdf/resource/resource_test_support.h"

namespace {

using loctest::ItrLine;
using loctest::Script;

class SplitterTest : public rctest::ScratchTest {
 protected:
  // Splits `script` (read as it stands, no conversion); true when Split and
  // CloseFiles succeeded. Fills itf_, itr_ and warnings_.
  bool Split(const std::string& script) {
    rctest::WriteAll(Path("in.rc2"), script);
    loctest::WarnSink sink;
    bool ok;
    {
      LocalizedSplitter s(nullptr);
      s.SetKinds(FileKind::Rc2V4, FileKind::Rc2V4);
      s.SetWarningStream(sink.get());
      EXPECT_TRUE(s.Prepare(Path("in.rc2"), Path("t.itf"), Path("t.itr")));
      EXPECT_TRUE(s.Convert());
      EXPECT_EQ(s.OpenFiles(), 1);
      ok = s.Split();
      ok = s.CloseFiles() && ok;
    }
    itf_ = rctest::ReadAll(Path("t.itf"));
    itr_ = rctest::ReadAll(Path("t.itr"));
    warnings_ = sink.Text();
    return ok;
  }

  std::string itf_, itr_, warnings_;
};

TEST_F(SplitterTest, SystemSectionAndFieldNamesBecomeKeys) {
  ASSERT_TRUE(Split(Script({
      "SYSTEM=10,0,0,\"Calendar\",CAL,,0,0,0,C:\\cal\\x.ini,0,Cal,0,1001100000,0X0,0,0,1",
      "SECTION=2,3,\"Phone Book\",,0,,P,0X2,0,,0",
      "APP=10",
      "SECID=2",
      "SECTYPE=3",
      "FIELD=1,\"Last\",\"Last Name\",1,C,64,13,,,0X1,-1,0",
  })));
  EXPECT_EQ(itf_,
            "\"SYSTEM=10,0,0,\"\"LOCALIZED_SYSTEM_NAME_10\"\",CAL,,0,0,0,C:\\\\cal\\\\x.ini,0,Cal,0,"
            "1001100000,0X0,0,0,1\\r\\n\",\r\n"
            "\"SECTION=2,3,\"\"LOCALIZED_10_SECTION_NAME_PHONE_2\"\",,0,,P,0X2,0,,0\\r\\n\",\r\n"
            "\"APP=10\\r\\n\",\r\n"
            "\"SECID=2\\r\\n\",\r\n"
            "\"SECTYPE=3\\r\\n\",\r\n"
            "\"FIELD=1,\"\"Last\"\",\"\"LOCALIZED_10_PHONE_2_LAST1_FLD_NAME\"\",1,C,64,13,,,0X1,-1,0"
            "\\r\\n\",\r\n");
  EXPECT_EQ(itr_, "    LOCALIZED_SYSTEM_NAME_10" + std::string(36, ' ') + " \"Calendar\"\n" +
                      ItrLine("LOCALIZED_10_SECTION_NAME_PHONE_2", "Phone Book") +
                      ItrLine("LOCALIZED_10_PHONE_2_LAST1_FLD_NAME", "Last Name"));
  EXPECT_EQ(warnings_, "");
}

TEST_F(SplitterTest, FieldKeysAreUpperCaseWithUnderscoresForOtherCharacters) {
  const std::string longLabel(40, 'q');
  ASSERT_TRUE(Split(Script({
      "APP=3",
      "SECID=1",
      "SECTYPE=7",
      "FIELD=1,\"e-mail addr.\",\"Mail\",12,C,0,9,,,0X0,-1,0",
      "FIELD=2,\"a(b)/c:d\",\"Other\",2x,C,0,9,,,0X0,-1,0",
      "FIELD=3,\"" + longLabel + "\",\"Long\",3,C,0,9,,,0X0,-1,0",
  })));
  const std::string longKey = "LOCALIZED_3_EMAIL_1_" + std::string(40, 'Q') + "3_FLD_NAME";
  EXPECT_EQ(itr_, ItrLine("LOCALIZED_3_EMAIL_1_E_MAIL_ADDR_12_FLD_NAME", "Mail") +
                      ItrLine("LOCALIZED_3_EMAIL_1_A_B__C_D2X_FLD_NAME", "Other") +
                      "    " + longKey + " \"Long\"\n");
  EXPECT_NE(itf_.find("\"FIELD=1,\"\"e-mail addr.\"\",\"\"LOCALIZED_3_EMAIL_1_E_MAIL_ADDR_12_FLD_"
                      "NAME\"\",12,C,"),
            std::string::npos)
      << itf_;
}

// A field line of the script with label and name as they stand.
std::string RawField(const std::string& label, const std::string& name) {
  return "\"FIELD=1,\"\"" + label + "\"\",\"\"" + name + "\"\",1,C,0,9,,,0X0,-1,0\\r\\n\",\r\n";
}

TEST_F(SplitterTest, FieldKeysOfDoubleByteLabelsAndLabelsWithANul) {
  using namespace std::string_literals;
  const std::string head = Script({"APP=3", "SECID=1", "SECTYPE=7"});
  const std::string dbcs = RawField("\x82\xa0" "b-c", "Kana");
  const std::string nul = RawField("ab\0cd"s, "Long\0"s + std::string(30, 'n'));
  // Upper casing stops at a lead byte before a NUL; what follows stays.
  const std::string leadNul = RawField("x\x81\0yz"s, "Odd");
  {
    loctest::CodePage cp(true);
    ASSERT_TRUE(Split(head + dbcs + nul + leadNul));
  }
  EXPECT_EQ(itr_, ItrLine("LOCALIZED_3_EMAIL_1__B_C1_FLD_NAME", "Kana") +
                      ItrLine("LOCALIZED_3_EMAIL_1_AB", "Long\0"s + std::string(30, 'n')) +
                      ItrLine("LOCALIZED_3_EMAIL_1_X_yz1_FLD_NAME", "Odd"));
  // A warning shows each piece up to its first NUL.
  EXPECT_EQ(warnings_, "WARNING FIELD LENGTH: LOCALIZED_3_EMAIL_1_AB Long\n");
  EXPECT_EQ(itf_, head + RawField("\x82\xa0" "b-c", "LOCALIZED_3_EMAIL_1__B_C1_FLD_NAME") +
                      RawField("ab\0cd"s, "LOCALIZED_3_EMAIL_1_AB") +
                      RawField("x\x81\0yz"s, "LOCALIZED_3_EMAIL_1_X_yz1_FLD_NAME"));
  {
    loctest::CodePage cp(false);
    ASSERT_TRUE(Split(head + dbcs + leadNul));
  }
  EXPECT_EQ(itr_, ItrLine("LOCALIZED_3_EMAIL_1___B_C1_FLD_NAME", "Kana") +
                      ItrLine("LOCALIZED_3_EMAIL_1_X_", "Odd"));
}

TEST_F(SplitterTest, LinesWithoutNamesToTranslatePassUnchanged) {
  const std::string script =
      "_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n"
      "// QVTB file name:  x.txt\r\n" +
      Script({
          "TYPE=SYSTEM",
          "SYSTEMEX3=Calendar,Contacts,,,",
          "SECTION=1,0,\"\",,0,,A,0X2,0,,0",  // an empty name has nothing to translate
          "SYSTEM=4,0,0",                     // no name at all
          "APP=1",
          "SECID=1",
          "SECTYPE=0",
          "NAME=Generic \"list\"",
          "FIELD=1,\"_id\",\"Id\",1,C,0,9,,,0X0,-1,0",
          "FIELD=2,\"Id\",\"_hidden\",2,C,0,9,,,0X0,-1,0",
          "FIELD=3,\"Id\",\"Short\"",  // too few subfields
          "CHARMAP=1,\"x\",0X0,256",
      }) +
      "\"ENABLEDPRODUCTS=8L,0X7L\\r\\n\",\r\n"
      "0,\r\nEND\r\n"
      "_ZELM_ITB_ENABLED_PRODUCTS_ RCDATA BEGIN\r\n8L,0X7L\r\n0,0,0,0\r\nEND";  // no line end
  ASSERT_TRUE(Split(script));
  EXPECT_EQ(itf_, script);
  EXPECT_EQ(itr_, "");
  EXPECT_EQ(warnings_, "");
}

TEST_F(SplitterTest, LongNamesAreReportedAndKeptWhole) {
  const std::string sys30(30, 's'), sys31(31, 'S');
  const std::string sec25(25, 'c'), sec26(26, 'C');
  const std::string fld30(30, 'f'), fld31(31, 'F');
  ASSERT_TRUE(Split(Script({
      "SYSTEM=1,0,0,\"" + sys30 + "\",X,,0,0,0,,0,T,0,0,0X0,0,0,2",
      "SECTION=1,0,\"" + sec25 + "\",,0,,A,0X2,0,,0",
      "SECTION=2,0,\"" + sec26 + "\",,0,,A,0X2,0,,0",
      "SYSTEM=2,0,0,\"" + sys31 + "\",X,,0,0,0,,0,T,0,0,0X0,0,0,0",
      "APP=2",
      "SECID=1",
      "SECTYPE=0",
      "FIELD=1,\"A\",\"" + fld30 + "\",1,C,0,9,,,0X0,-1,0",
      "FIELD=2,\"B\",\"" + fld31 + "\",2,C,0,9,,,0X0,-1,0",
  })));
  EXPECT_EQ(warnings_, "WARNING SECTION LENGTH: LOCALIZED_1_SECTION_NAME_APPT_2 " + sec26 +
                           "\n"
                           "WARNING SYSTEM LENGTH: LOCALIZED_SYSTEM_NAME_2 " + sys31 +
                           "\n"
                           "WARNING FIELD LENGTH: LOCALIZED_2_APPT_1_B2_FLD_NAME " + fld31 + "\n");
  EXPECT_NE(itr_.find(ItrLine("LOCALIZED_SYSTEM_NAME_2", sys31)), std::string::npos);
  EXPECT_NE(itr_.find(ItrLine("LOCALIZED_1_SECTION_NAME_APPT_2", sec26)), std::string::npos);
  EXPECT_NE(itr_.find(ItrLine("LOCALIZED_2_APPT_1_B2_FLD_NAME", fld31)), std::string::npos);
}

TEST_F(SplitterTest, LinesThatCannotBeKeyedPassUnchangedWithAWarning) {
  const std::string name255(255, 'n'), name256(256, 'N');
  const std::string quoted = Script({"SYSTEM=1,0,0,\"Bob\"s PIM\",X,,0,0,0,,0,T,0,0,0X0,0,0,2"});
  const std::string quoteAtEnd = Script({"SECTION=1,0,\"Q\"\",,0,,A,0X2,0,,0"});
  const std::string type10 = Script({"SECTION=2,10,\"Ten\",,0,,A,0X2,0,,0"});
  const std::string typeX = Script({"SECTION=3,x,\"Ex\",,0,,A,0X2,0,,0"});
  const std::string tooLong = Script({"SECTION=4,0,\"" + name256 + "\",,0,,A,0X2,0,,0"});
  const std::string fits = Script({"SECTION=5,0,\"" + name255 + "\",,0,,A,0X2,0,,0"});
  const std::string quotedLabel = Script({"FIELD=1,\"L\"x\",\"Name\",1,C,0,9,,,0X0,-1,0"});
  const std::string badType = Script({"FIELD=1,\"L\",\"Name\",1,C,0,9,,,0X0,-1,0"});
  // A key with a blank would not survive the string table.
  const std::string blankKey = Script({"SECTION=6 7,0,\"Six\",,0,,A,0X2,0,,0"});
  ASSERT_TRUE(Split(quoted + quoteAtEnd + type10 + typeX + tooLong + fits + blankKey +
                    Script({"APP=1", "SECID=1", "SECTYPE=0"}) + quotedLabel +
                    Script({"SECTYPE=12"}) + badType));
  auto shown = [](const std::string& s) { return s.substr(0, s.size() - 2); };
  EXPECT_EQ(warnings_, "WARNING NAME QUOTE: " + shown(quoted) + "\n" +
                           "WARNING NAME QUOTE: " + shown(quoteAtEnd) + "\n" +
                           "WARNING SECTION TYPE: " + shown(type10) + "\n" +
                           "WARNING SECTION TYPE: " + shown(typeX) + "\n" +
                           "WARNING PIECE LENGTH: " + shown(tooLong) + "\n" +
                           "WARNING SECTION LENGTH: LOCALIZED_1_SECTION_NAME_APPT_5 " + name255 +
                           "\n" + "WARNING KEY: " + shown(blankKey) + "\n" +
                           "WARNING NAME QUOTE: " + shown(quotedLabel) + "\n" +
                           "WARNING SECTION TYPE: " + shown(badType) + "\n");
  // Only the 255-character name is keyed; every other line is as it was.
  EXPECT_EQ(itr_, ItrLine("LOCALIZED_1_SECTION_NAME_APPT_5", name255));
  EXPECT_EQ(itf_, quoted + quoteAtEnd + type10 + typeX + tooLong +
                      "\"SECTION=5,0,\"\"LOCALIZED_1_SECTION_NAME_APPT_5\"\",,0,,A,0X2,0,,0\\r\\n\","
                      "\r\n" + blankKey +
                      Script({"APP=1", "SECID=1", "SECTYPE=0"}) + quotedLabel +
                      Script({"SECTYPE=12"}) + badType);
}

TEST_F(SplitterTest, AKeyEmittedTwiceWithAnotherTextIsReported) {
  ASSERT_TRUE(Split(Script({
      "APP=2",
      "SECID=1",
      "SECTYPE=3",
      "FIELD=1,\"E-mail\",\"Email\",1,C,0,9,,,0X0,-1,0",
      "FIELD=2,\"Fax\",\"Fax\",2,C,0,9,,,0X0,-1,0",
      "APP=2",
      "SECID=1",
      "SECTYPE=3",
      "FIELD=1,\"E mail\",\"Mail\",1,C,0,9,,,0X0,-1,0",
      "FIELD=2,\"Fax\",\"Fax\",2,C,0,9,,,0X0,-1,0",
  })));
  EXPECT_EQ(warnings_,
            "WARNING DUPLICATE KEY: LOCALIZED_2_PHONE_1_E_MAIL1_FLD_NAME \"Email\" \"Mail\"\n");
  EXPECT_EQ(itr_, ItrLine("LOCALIZED_2_PHONE_1_E_MAIL1_FLD_NAME", "Email") +
                      ItrLine("LOCALIZED_2_PHONE_1_FAX2_FLD_NAME", "Fax") +
                      ItrLine("LOCALIZED_2_PHONE_1_E_MAIL1_FLD_NAME", "Mail") +
                      ItrLine("LOCALIZED_2_PHONE_1_FAX2_FLD_NAME", "Fax"));
}

TEST_F(SplitterTest, LongLinesAreSplitWhole) {
  const std::string tail(5000, 't');
  ASSERT_TRUE(Split(Script({"SYSTEM=7,0,0,\"Big\",X,," + tail + ",0,0,0,,0,T,0,0,0X0,0,0,0"})));
  EXPECT_EQ(itf_, "\"SYSTEM=7,0,0,\"\"LOCALIZED_SYSTEM_NAME_7\"\",X,," + tail +
                      ",0,0,0,,0,T,0,0,0X0,0,0,0\\r\\n\",\r\n");
  EXPECT_EQ(itr_, ItrLine("LOCALIZED_SYSTEM_NAME_7", "Big"));

  // A line past the reader's limit stops the split.
  EXPECT_FALSE(Split("\"SYSTEM=" + std::string(kMaxLineLength + 1, '1') + "\r\n"));
  EXPECT_EQ(warnings_, "Error reading " + Path("in.rc2") + " file: line too long.\n");
}

}  // namespace
