// The merger: keys replaced by their texts, keys the string table lacks,
// "@IGNORE_LOCAL@", the string table's warnings, and split-then-merge
// giving back the script.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "qvdf/resource/localized.h"
#include "qvdf/resource/localized_test_support.h"
#include "qvdf/resource/resource_test_support.h"

namespace {

using loctest::ItrLine;
using loctest::Script;

constexpr char kItf[] =
    "_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n"
    "// QVTB file name:  x.txt\r\n"
    "\"SYSTEM=10,0,0,\"\"LOCALIZED_SYSTEM_NAME_10\"\",CAL,,0,0,0,,0,Cal,0,1,0X0,0,0,1\\r\\n\",\r\n"
    "\"SECTION=2,3,\"\"LOCALIZED_10_SECTION_NAME_PHONE_2\"\",,0,,P,0X2,0,,0\\r\\n\",\r\n"
    "\"APP=10\\r\\n\",\r\n"
    "\"FIELD=1,\"\"Last\"\",\"\"LOCALIZED_10_PHONE_2_LAST1_FLD_NAME\"\",1,C,64,13,,,0X1,-1,0\\r\\n\","
    "\r\n"
    "0,\r\nEND\r\n";

class MergerTest : public rctest::ScratchTest {
 public:
  // Merges the pair into out.rc2 (no conversion); the OpenFiles result, or
  // -1 when a later step failed. Fills out_ and warnings_.
  int Merge(const std::string& itf, const std::string& itr) {
    rctest::WriteAll(Path("t.itf"), itf);
    rctest::WriteAll(Path("t.itr"), itr);
    return MergeFiles();
  }
  int MergeFiles() {
    loctest::WarnSink sink;
    int opened;
    bool ok = false;
    {
      LocalizedMerger m(nullptr);
      m.SetKinds(FileKind::Rc2V4, FileKind::Rc2V4);
      m.SetWarningStream(sink.get());
      EXPECT_TRUE(m.Prepare(Path("t.itf"), Path("t.itr"), Path("out.rc2")));
      opened = m.OpenFiles(rctest::Record);
      if (opened != 0) ok = m.LoadStrings() == 1 && m.Merge() && m.CloseFiles() && m.Convert();
    }
    out_ = rctest::ReadAll(Path("out.rc2"));
    warnings_ = sink.Text();
    return ok || opened == 0 ? opened : -1;
  }

  std::string out_, warnings_;
};

TEST_F(MergerTest, KeysBecomeTheirTexts) {
  ASSERT_EQ(Merge(kItf, ItrLine("LOCALIZED_SYSTEM_NAME_10", "Kalender") +
                            ItrLine("LOCALIZED_10_SECTION_NAME_PHONE_2", "Telefonbuch") +
                            "LOCALIZED_10_PHONE_2_LAST1_FLD_NAME\t\"Nachname\" trailing\r\n"),
            1);
  EXPECT_EQ(out_,
            "_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n"
            "// QVTB file name:  x.txt\r\n"
            "\"SYSTEM=10,0,0,\"\"Kalender\"\",CAL,,0,0,0,,0,Cal,0,1,0X0,0,0,1\\r\\n\",\r\n"
            "\"SECTION=2,3,\"\"Telefonbuch\"\",,0,,P,0X2,0,,0\\r\\n\",\r\n"
            "\"APP=10\\r\\n\",\r\n"
            "\"FIELD=1,\"\"Last\"\",\"\"Nachname\"\",1,C,64,13,,,0X1,-1,0\\r\\n\",\r\n"
            "0,\r\nEND\r\n");
  EXPECT_EQ(warnings_, "");
  EXPECT_TRUE(rctest::Recorded().empty());
}

TEST_F(MergerTest, KeysTheStringTableLacksStayInTheScript) {
  ASSERT_EQ(Merge(kItf, ItrLine("LOCALIZED_SYSTEM_NAME_1", "Other") +
                            ItrLine("localized_system_name_10", "Case differs")),
            1);
  EXPECT_EQ(out_, kItf);
}

TEST_F(MergerTest, IgnoreLocalGivesFieldsTheDefaultAttributes) {
  ASSERT_EQ(Merge(kItf, ItrLine("LOCALIZED_SYSTEM_NAME_10", "@IGNORE_LOCAL@") +
                            ItrLine("LOCALIZED_10_SECTION_NAME_PHONE_2", "@IGNORE_LOCAL@") +
                            ItrLine("LOCALIZED_10_PHONE_2_LAST1_FLD_NAME", "@IGNORE_LOCAL@")),
            1);
  // System and section lines keep the rest of the line.
  EXPECT_EQ(out_,
            "_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n"
            "// QVTB file name:  x.txt\r\n"
            "\"SYSTEM=10,0,0,\"\"@IGNORE_LOCAL@\"\",CAL,,0,0,0,,0,Cal,0,1,0X0,0,0,1\\r\\n\",\r\n"
            "\"SECTION=2,3,\"\"@IGNORE_LOCAL@\"\",,0,,P,0X2,0,,0\\r\\n\",\r\n"
            "\"APP=10\\r\\n\",\r\n"
            "\"FIELD=1,\"\"Last\"\",\"\"@IGNORE_LOCAL@\"\",1,C,64,13,,,0X1200000,-1,0\\r\\n\",\r\n"
            "0,\r\nEND\r\n");
}

TEST_F(MergerTest, KeysAreFoundWholeCharactersAtATime) {
  // A lead byte takes the first quote of a pair, so the key keeps the
  // quote that is left; a key inside a double-byte character is no key; a
  // quoted key after the first key marks the place of the text.
  const std::string itf =
      "\"SECTION=1,0,\x81\"\"LOCALIZED_S1\"\",,0\\r\\n\",\r\n"
      "\"SYSTEM=1,0,0,\"\"\x81LOCALIZED_A\"\",\"\"LOCALIZED_B\"\",X\\r\\n\",\r\n"
      "\"FIELD=1,\"\"A\"\",\"\"LOCALIZED_F1\"\",1,C,0,9,,,0X0,-1,0\\r\\n\",\r\n";
  const std::string itr = ItrLine("LOCALIZED_S1", "Sec") + ItrLine("LOCALIZED_A", "one") +
                          ItrLine("LOCALIZED_B", "two") + ItrLine("LOCALIZED_F1", "Fld");
  const std::string field = "\"FIELD=1,\"\"A\"\",\"\"Fld\"\",1,C,0,9,,,0X0,-1,0\\r\\n\",\r\n";
  {
    loctest::CodePage cp(true);
    ASSERT_EQ(Merge(itf, itr), 1);
  }
  EXPECT_EQ(out_,
            "\"SECTION=1,0,\x81\"\"\"\"Sec\"\",,0\\r\\n\",\r\n"
            "\"SYSTEM=1,0,0,\"\"\x81LOCALIZED_A\"\",\"\"two\"\",X\\r\\n\",\r\n" + field);
  {
    loctest::CodePage cp(false);
    ASSERT_EQ(Merge(itf, itr), 1);
  }
  EXPECT_EQ(out_,
            "\"SECTION=1,0,\x81\"\"Sec\"\",,0\\r\\n\",\r\n"
            "\"SYSTEM=1,0,0,\"\"\x81LOCALIZED_A\"\",\"\"one\"\",X\\r\\n\",\r\n" + field);
}

TEST_F(MergerTest, StringTableWarnings) {
  const std::string sec25 = ItrLine("LOCALIZED_1_SECTION_NAME_APPT_1", std::string(25, 'a'));
  const std::string sec26 = ItrLine("LOCALIZED_1_SECTION_NAME_APPT_2", std::string(26, 'b'));
  const std::string sys30 = ItrLine("LOCALIZED_SYSTEM_NAME_1", std::string(30, 'c'));
  const std::string sys31 = ItrLine("LOCALIZED_SYSTEM_NAME_2", std::string(31, 'd'));
  // The field key format says FLD, so only a key holding FIELD is checked.
  const std::string fld31 = ItrLine("LOCALIZED_1_APPT_1_A1_FLD_NAME", std::string(31, 'e'));
  const std::string field31 = ItrLine("LOCALIZED_1_APPT_1_FIELD1_FLD_NAME", std::string(31, 'f'));
  ASSERT_EQ(Merge("", sec25 + sec26 + sys30 + sys31 + fld31 + field31 +
                          "    NOQUOTES text\n\n    KEY_ONLY \"\"\n"),
            1);
  auto shown = [](const std::string& l) { return l.substr(0, l.size() - 1); };
  EXPECT_EQ(warnings_, "WARNING SECTION LENGTH: " + shown(sec26) + "\n" +
                           "WARNING SYSTEM LENGTH: " + shown(sys31) + "\n" +
                           "WARNING FIELD LENGTH: " + shown(field31) + "\n" +
                           "WARNING:     NOQUOTES text\n"
                           "WARNING: \n"
                           "WARNING:     KEY_ONLY \"\"\n");
}

// Splits `script` into t.itf and t.itr.
void SplitInto(const std::string& in, const std::string& itf, const std::string& itr,
               std::FILE* warn) {
  LocalizedSplitter s(nullptr);
  s.SetKinds(FileKind::Rc2V4, FileKind::Rc2V4);
  s.SetWarningStream(warn);
  ASSERT_TRUE(s.Prepare(in, itf, itr));
  ASSERT_EQ(s.OpenFiles(), 1);
  ASSERT_TRUE(s.Split());
  ASSERT_TRUE(s.CloseFiles());
}

// A script of every kind of line the split meets.
std::string RichScript() {
  return "_ZELM_ITB_TABLE_ABC RCDATA BEGIN\r\n// QVTB file name:  x.txt\r\n" +
         Script({
             "TYPE=SYSTEM",
             "COUNT=2",
             "SYSTEM=1,0,0,\"Generic PIM\",GENERIC,,0,0,0,C:\\a\\b.ini,0,Generic Sections,0,1,0X0,0,0,3",
             "SECTION=1,0,\"Appointments\",,0,,A,0X2,0,,0",
             "SECTION=2,12,\"Odd Type\",,0,,A,0X2,0,,0",
             "SECTION=3,4,\"\",,0,,A,0X2,0,,0",
             "SYSTEM=2,0,0,\"Bob\"s \"PIM\"\",X,,0,0,0,,0,T,0,1,0X0,0,0,1",
             "SECTION=1,9,\"" + std::string(300, 'x') + "\",,0,,A,0X2,0,,0",
             "TYPE=FIELDS",
             "APP=1",
             "SECID=1",
             "SECTYPE=0",
             "NAME=Generic Appointments",
             "FIELD=1,\"StartDt\",\"Start Date\",1,D,0,9,,,0X0,-1,0",
             "FIELD=2,\"_x\",\"Hidden\",2,D,0,9,,,0X0,-1,0",
             "FIELD=3,\"Alarm\",\"Alarm^ minutes before\",3,N,0,9,,,0X0,-1,0",
             "FIELD=4,\"Q\"q\",\"Quoted label\",4,N,0,9,,,0X0,-1,0",
             "APP=2",
             "SECID=1",
             "SECTYPE=9",
             "FIELD=1,\"Amt\",\"Amount\",1,N,0,9,,,0X0,-1,0",
             "TYPE=MAPS",
             "SECTYPE=0",
             "MAP=1,2,3",
         }) +
         "0,\r\nEND\r\n";
}

// Splits and merges `script`; true when the merge gave it back or the split
// reported a key that stands for two texts (the one case it cannot).
::testing::AssertionResult ComesBack(MergerTest* t, const std::string& script,
                                     const std::string& dir) {
  rctest::WriteAll(dir + "/in.rc2", script);
  loctest::WarnSink sink;
  SplitInto(dir + "/in.rc2", dir + "/t.itf", dir + "/t.itr", sink.get());
  if (t->MergeFiles() != 1) return ::testing::AssertionFailure() << "merge failed";
  if (t->out_ == script) return ::testing::AssertionSuccess();
  if (sink.Text().find("WARNING DUPLICATE KEY: ") != std::string::npos)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "script:\n" << script << "\nmerged:\n" << t->out_;
}

TEST_F(MergerTest, SplitThenMergeGivesBackTheScript) {
  const std::string script = RichScript();
  rctest::WriteAll(Path("in.rc2"), script);
  loctest::WarnSink sink;
  SplitInto(Path("in.rc2"), Path("t.itf"), Path("t.itr"), sink.get());
  ASSERT_EQ(MergeFiles(), 1);
  EXPECT_EQ(out_, script);
  EXPECT_EQ(warnings_, "");
}

TEST_F(MergerTest, DamagedScriptsComeBackToo) {
  const std::string base = RichScript();
  static const char kPieces[] = "\",=_\\ \r\n0X9LOCALIZED_SYSTEM=SECTION=FIELD=APP=SECTYPE=";
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::string s = base;
    for (int k = 1 + static_cast<int>(rng() % 6); k > 0; --k) {
      size_t at = rng() % s.size();
      char c = kPieces[rng() % (sizeof kPieces - 1)];
      switch (rng() % 3) {
        case 0: s[at] = c; break;
        case 1: s.insert(at, 1, c); break;
        default: s.erase(at, 1 + rng() % 4); break;
      }
    }
    ASSERT_TRUE(ComesBack(this, s, dir_.string())) << "round " << round;
  }
}

}  // namespace
