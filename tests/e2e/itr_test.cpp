// Split pairs through the built program: text to .itr (with its .itf) and
// back for versions 3 and 4 on the sample and on generated tables, a
// translated string table, keys only in name subfields, keys the .itr
// lacks, a byte-order mark, a comma in a translation, a read-only .itf, a
// missing .itf, and no temporary file left behind.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using e2e::RunResult;

bool Contains(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}

// The text after the file-name line.
std::string Body(const std::string& text) {
  size_t eol = text.find("\r\n");
  return eol == std::string::npos ? std::string() : text.substr(eol + 2);
}

// Every occurrence of `from` in *s made `to`; the number replaced.
int ReplaceAll(std::string* s, const std::string& from, const std::string& to) {
  int n = 0;
  for (size_t at = 0; (at = s->find(from, at)) != std::string::npos; at += to.size(), ++n)
    s->replace(at, from.size(), to);
  return n;
}

class ItrTest : public e2e::ToolTest {
 protected:
  RunResult Ok(const std::vector<std::string>& args) {
    RunResult r = Run(args);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    return r;
  }
  // `in` as the tool writes it in `version`, named `out`.
  std::string Canonical(const std::string& in, int version, const std::string& out) {
    Ok({"/f", in, "/" + std::to_string(version), out});
    return ReadFile(out);
  }
  // The text table `in` (in `version`) through `pair` and back.
  void RoundTrip(const std::string& in, int version, const std::string& pair) {
    const std::string v = "/" + std::to_string(version);
    Ok({"/f", v, in, v, pair});
    EXPECT_TRUE(TempFiles().empty());
    Ok({"/f", v, pair, v, "back.txt"});
    EXPECT_TRUE(TempFiles().empty());
    EXPECT_EQ(Body(ReadFile("back.txt")), Body(ReadFile(in))) << in << " version " << version;
  }
  bool Generate(unsigned seed, const std::string& rel) {
    const char* gen = std::getenv("TBLCONV_TBLGEN");
    if (!gen || !*gen) {
      ADD_FAILURE() << "TBLCONV_TBLGEN is not set";
      return false;
    }
    std::string cmd =
        std::string("'") + gen + "' " + std::to_string(seed) + " small '" + Path(rel) + "'";
    return std::system(cmd.c_str()) == 0;
  }
  void Sample() { WriteFile("sample.txt", e2e::SourceFile("examples/sample.txt")); }
};

TEST_F(ItrTest, SampleComesBackByteForByteInBothVersions) {
  Sample();
  for (int version : {4, 3}) {
    SCOPED_TRACE(version);
    Canonical("sample.txt", version, "c.txt");
    std::filesystem::create_directories(Path("tables"));
    RoundTrip("c.txt", version, "tables/new.itr");
    // The pair lies side by side; only version 4 carries enabled products.
    const std::string itf = ReadFile("tables/new.itf");
    const std::string itr = ReadFile("tables/new.itr");
    EXPECT_TRUE(Contains(
        itf, "\"SYSTEM=2,1,3,\"\"LOCALIZED_SYSTEM_NAME_2\"\",DORG32,dorg32.dll,2,1,1,C:\\\\"))
        << itf;
    EXPECT_TRUE(Contains(itf, "\"FIELD=1,\"\"Last\"\",\"\"LOCALIZED_1_PHONE_2_LAST1_FLD_NAME\"\","));
    EXPECT_EQ(Contains(itf, "_ZELM_ITB_ENABLED_PRODUCTS_ RCDATA BEGIN"), version == 4);
    EXPECT_EQ(itr.rfind("    LOCALIZED_SYSTEM_NAME_1" + std::string(38, ' ') + "\"Generic PIM\"\n", 0),
              0u)
        << itr;
    EXPECT_TRUE(Contains(itr, "    LOCALIZED_2_PHONE_2_BUSPH4_FLD_NAME" + std::string(26, ' ') +
                                  "\"Business Phone\"\n"));
    EXPECT_FALSE(Contains(itr, "LOCALIZED_1_SECTION_NAME_APPT_1 \"Appointments\""));
  }
}

// The split runs a conversion of its own that reports on standard error.
// With both streams in one file, every line stands where it was made: the
// run's announcement of the output before the first line of the conversion.
TEST_F(ItrTest, BothStreamsInOneFileKeepTheirOrder) {
  Sample();
  RunResult apart = Ok({"sample.txt", "x.itr"});
  ASSERT_FALSE(apart.err.empty());
  std::remove(Path("x.itr").c_str());
  std::remove(Path("x.itf").c_str());
  MergeStreams();
  RunResult both = Ok({"sample.txt", "x.itr"});
  EXPECT_EQ(both.err, "");
  const std::string banner = "\nWriting Version 4 ITR table file x.itr\n";
  const std::string inner = "\nReading Version 4 ITB table file ";  // the conversion's first line
  ASSERT_TRUE(Contains(apart.out, banner));
  ASSERT_TRUE(Contains(apart.err, inner));
  size_t at = both.out.find(banner);
  ASSERT_NE(at, std::string::npos) << both.out;
  EXPECT_EQ(both.out.substr(0, at + banner.size()), apart.out.substr(0, at + banner.size()));
  size_t first = both.out.find(inner);
  ASSERT_NE(first, std::string::npos) << both.out;
  EXPECT_GT(first, at) << both.out;
  EXPECT_EQ(both.out.find_first_not_of('\n', at + banner.size()), first + 1) << both.out;
}

TEST_F(ItrTest, GeneratedTablesComeBackByteForByte) {
  for (unsigned seed : {11u, 12u, 13u}) {
    ASSERT_TRUE(Generate(seed, "gen.txt"));
    for (int version : {4, 3}) {
      SCOPED_TRACE(std::to_string(seed) + " version " + std::to_string(version));
      Canonical("gen.txt", version, "c.txt");
      RoundTrip("c.txt", version, "gen.itr");
    }
  }
}

TEST_F(ItrTest, TranslatedNamesChangeAndNothingElse) {
  Sample();
  std::string expected = Canonical("sample.txt", 4, "c.txt");
  Ok({"c.txt", "t.itr"});
  std::string itr = ReadFile("t.itr");
  ASSERT_EQ(ReplaceAll(&itr, "\"Handheld Companion\"", "\"Taschenbegleiter\""), 1);
  ASSERT_EQ(ReplaceAll(&itr, "\"Address\"", "\"Adressen\""), 1);
  ASSERT_EQ(ReplaceAll(&itr, "\"Surname\"", "\"Nachname\""), 1);
  ASSERT_EQ(ReplaceAll(&itr, "\"Expenses\"", "\"Ausgaben\""), 1);
  WriteFile("t.itr", itr);
  Ok({"t.itr", "out.txt"});

  ASSERT_EQ(ReplaceAll(&expected, "\"Handheld Companion\"", "\"Taschenbegleiter\""), 1);
  ASSERT_EQ(ReplaceAll(&expected, "Handheld Companion Address", "Taschenbegleiter Adressen"), 2);
  ASSERT_EQ(ReplaceAll(&expected, "Handheld Companion To Do", "Taschenbegleiter To Do"), 1);
  ASSERT_EQ(ReplaceAll(&expected, "\"Address\",AddressDB", "\"Adressen\",AddressDB"), 1);
  ASSERT_EQ(ReplaceAll(&expected, "\"Surname\",\"Surname\"", "\"Surname\",\"Nachname\""), 1);
  ASSERT_EQ(ReplaceAll(&expected, "\"Expenses\",ExpenseDB", "\"Ausgaben\",ExpenseDB"), 1);
  EXPECT_EQ(Body(ReadFile("out.txt")), Body(expected));
}

// A table whose field label looks like a key, and whose first field has a
// text subfield that looks like attributes.
const char kKeyLike[] =
    "TYPE=SYSTEM\r\nCOUNT=1\r\n"
    "SYSTEM=1,0,0,\"Gen\",GEN,,0,0,0,,0,Secs,0,1000000000,0X0,0,0,1\r\n"
    "SYSTEMEX1=8,0X0,0X0,0X0,0X0,0X0,0X0,0X0,0X0\r\nSYSTEMEX2=0,0,0,0,0,,\r\nSYSTEMEX3=,,,,\r\n"
    "SECTION=1,0,\"Appts\",,0,,A,0X2,0,,0\r\n"
    "TYPE=FIELDS\r\nCOUNT=1\r\n"
    "LISTID=0\r\nAPP=1\r\nSECID=1\r\nSECTYPE=0\r\nNAME=L\r\nCOUNT=2\r\n"
    "FIELD=1,\"LOCALIZED_X\",\"Start\",1,C,0,9,0X5,,0X1,-1,0\r\n"
    "FIELD=2,\"B\",\"End\",2,C,0,9,,,0X0,-1,0\r\n"
    "TYPE=MAPS\r\nCOUNT=0\r\nTYPE=CHARMAP\r\nCOUNT=0\r\n"
    "TYPE=TABLE\r\nMAINSYSTEM=0\r\nMAINCLASS=0\r\nPRODUCTID=0\r\nBUNDLEDFLAG=0\r\n"
    "ENABLEDPRODUCTS=0\r\n";
const char kStartKey[] = "LOCALIZED_1_APPT_1_LOCALIZED_X1_FLD_NAME";

TEST_F(ItrTest, OnlyTheNameSubfieldHoldsAKey) {
  WriteFile("k.txt", kKeyLike);
  Canonical("k.txt", 4, "c.txt");
  Ok({"c.txt", "k.itr"});
  EXPECT_TRUE(Contains(ReadFile("k.itf"), std::string("\"FIELD=1,\"\"LOCALIZED_X\"\",\"\"") +
                                              kStartKey + "\"\",1,C,"));
  RunResult r = Ok({"k.itr", "back.txt"});
  EXPECT_EQ(Body(ReadFile("back.txt")), Body(ReadFile("c.txt")));
  EXPECT_EQ(r.err.find("WARNING"), std::string::npos) << r.err;

  // "@IGNORE_LOCAL@" gives the field the default attributes in their own
  // subfield, whatever text stands before them.
  std::string itr = ReadFile("k.itr");
  ASSERT_EQ(ReplaceAll(&itr, "\"Start\"", "\"@IGNORE_LOCAL@\""), 1);
  WriteFile("k.itr", itr);
  Ok({"k.itr", "ignored.txt"});
  EXPECT_TRUE(Contains(ReadFile("ignored.txt"),
                       "\r\nFIELD=1,\"LOCALIZED_X\",\"@IGNORE_LOCAL@\",1,C,0,9,0X5,,0X1200000,-1,0\r\n"))
      << ReadFile("ignored.txt");
}

TEST_F(ItrTest, AKeyTheItrLacksIsNamedOnceAndTheRunGoesOn) {
  WriteFile("k.txt", kKeyLike);
  Ok({"k.txt", "k.itr"});
  std::string itr = ReadFile("k.itr");
  size_t at = itr.find(std::string("    ") + kStartKey);
  ASSERT_NE(at, std::string::npos) << itr;
  itr.erase(at, itr.find('\n', at) + 1 - at);
  WriteFile("k.itr", itr);
  // Both fields name the missing key: one warning all the same.
  std::string itf = ReadFile("k.itf");
  ASSERT_EQ(ReplaceAll(&itf, "LOCALIZED_1_APPT_1_B2_FLD_NAME", kStartKey), 1);
  WriteFile("k.itf", itf);
  RunResult r = Ok({"k.itr", "out.txt"});
  const std::string warning = std::string("WARNING MISSING KEY: ") + kStartKey + "\n";
  EXPECT_TRUE(Contains(r.err, warning)) << r.err;
  EXPECT_EQ(r.err.find(warning), r.err.rfind(warning));
  // The key stays as the name.
  EXPECT_TRUE(Contains(ReadFile("out.txt"), std::string(",\"") + kStartKey + "\",1,C,"));
  EXPECT_TRUE(Contains(ReadFile("out.txt"), std::string(",\"") + kStartKey + "\",2,C,"));
}

TEST_F(ItrTest, AByteOrderMarkBeforeTheFirstKeyIsSkipped) {
  WriteFile("k.txt", kKeyLike);
  Ok({"k.txt", "k.itr"});
  std::string itr = ReadFile("k.itr");
  ASSERT_EQ(itr.rfind("    LOCALIZED_SYSTEM_NAME_1 ", 0), 0u) << itr;
  ASSERT_EQ(ReplaceAll(&itr, "\"Gen\"", "\"Allgemein\""), 1);
  WriteFile("k.itr", "\xEF\xBB\xBF" + itr);
  RunResult r = Ok({"k.itr", "out.txt"});
  EXPECT_EQ(r.err.find("WARNING"), std::string::npos) << r.err;
  EXPECT_TRUE(Contains(ReadFile("out.txt"), "\r\nSYSTEM=1,0,0,\"Allgemein\",GEN,"));
}

TEST_F(ItrTest, ATranslatedNameWithACommaIsRefused) {
  WriteFile("k.txt", kKeyLike);
  Ok({"k.txt", "k.itr"});
  std::string itr = ReadFile("k.itr");
  ASSERT_EQ(ReplaceAll(&itr, "\"Appts\"", "\"Dates, times\""), 1);
  WriteFile("k.itr", itr);
  RunResult r = Run({"k.itr", "out.txt"});
  EXPECT_EQ(r.exit_code, e2e::kExitFail);
  EXPECT_TRUE(
      Contains(r.err, "Error: the text of LOCALIZED_1_SECTION_NAME_APPT_1 holds a comma.\n"))
      << r.err;
  EXPECT_TRUE(Contains(r.out, "Error: Exit\n")) << r.out;
  EXPECT_FALSE(Exists("out.txt"));
}

TEST_F(ItrTest, ReadOnlyItfIsStillMerged) {
  Sample();
  const std::string text = Canonical("sample.txt", 4, "c.txt");
  Ok({"c.txt", "t.itr"});
  ASSERT_EQ(std::system(("chmod a-w '" + Path("t.itf") + "'").c_str()), 0);
  RunResult r = Ok({"/v", "t.itr", "out.txt"});
  EXPECT_TRUE(Contains(r.out, " Could not open t.itf for read/write.\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, " File t.itf is read-only.\n")) << r.out;
  EXPECT_EQ(Body(ReadFile("out.txt")), Body(text));
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(ItrTest, MissingItfStopsTheRun) {
  Sample();
  Ok({"sample.txt", "t.itr"});
  std::remove(Path("t.itf").c_str());
  RunResult r = Run({"t.itr", "out.txt"});
  EXPECT_EQ(r.exit_code, e2e::kExitFail);
  EXPECT_TRUE(Contains(r.err, "Error opening t.itf file for read-only.\n")) << r.err;
  EXPECT_TRUE(Contains(r.out, "\nReading Version 4 ITR table file t.itr\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "Error: Exit\n")) << r.out;
  EXPECT_FALSE(Exists("out.txt"));
  // Only the run's own table is left, as after any stop while reading.
  for (const std::string& f : TempFiles()) EXPECT_EQ(f.rfind("ITB", 0), 0u) << f;
}

}  // namespace
