// End-to-end runs with subset files (/s): a master table cut to a product
// build and written as text, byte for byte; rejected subset files after
// which the run goes on from the unchanged working table; two subset files
// applied in order; .itb output of a cut table read back.
#include <string>
#include <vector>

#include "harness.h"

namespace {

using e2e::RunResult;

const char kMaster[] = "tests/data/subset/master.txt";
const char kProductSub[] = "tests/data/subset/product.sub";
const char kProductTxt[] = "tests/data/subset/product.txt";

// The text without its first line (the writer names its own file there).
std::string Body(const std::string& text) {
  size_t eol = text.find('\n');
  return eol == std::string::npos ? "" : text.substr(eol + 1);
}

int CountLines(const std::string& text, const std::string& prefix) {
  int n = 0;
  for (size_t pos = 0; pos < text.size();) {
    if (text.compare(pos, prefix.size(), prefix) == 0) ++n;
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) break;
    pos = eol + 1;
  }
  return n;
}

bool Contains(const std::string& hay, const std::string& needle) {
  return hay.find(needle) != std::string::npos;
}

class SubsetRunTest : public e2e::ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    WriteFile("master.txt", e2e::SourceFile(kMaster));
    ASSERT_FALSE(ReadFile("master.txt").empty());
  }
  // The master table converted without any modifier, minus its name line.
  std::string PlainBody() {
    RunResult r = Run({"master.txt", "plain.txt"});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    return Body(ReadFile("plain.txt"));
  }
};

TEST_F(SubsetRunTest, ProductBuildIsCutFromTheMasterTable) {
  WriteFile("product.sub", e2e::SourceFile(kProductSub));
  RunResult r = Run({"master.txt", "/s", "product.sub", "product.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  std::string written = ReadFile("product.txt");
  EXPECT_EQ(written, e2e::SourceFile(kProductTxt));

  EXPECT_TRUE(Contains(r.out, "\nApplying Table Modifier file product.sub\n"));
  EXPECT_TRUE(Contains(r.out, "Main System Class is 5\n"));
  EXPECT_TRUE(Contains(r.out, "Main System ID is 5\n"));
  EXPECT_TRUE(Contains(r.out, "Product ID is 42 (bundled)\n"));
  EXPECT_TRUE(Contains(r.out, "Missing system DLL name. Using old name.\n"));
  EXPECT_FALSE(Contains(r.out, "ERROR"));
  EXPECT_EQ(TempFiles(), std::vector<std::string>{});

  // The cut table, aliases included, reads back as it was written.
  RunResult back = Run({"product.txt", "again.txt"});
  ASSERT_EQ(back.exit_code, 0) << back.out;
  EXPECT_EQ(Body(ReadFile("again.txt")), Body(written));
}

TEST_F(SubsetRunTest, SubsetFileWithLfLineEndsCutsTheSame) {
  std::string sub = e2e::SourceFile(kProductSub);
  std::string lf;
  for (char c : sub)
    if (c != '\r') lf += c;
  WriteFile("product.sub", lf);
  RunResult r = Run({"master.txt", "/s", "product.sub", "product.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(ReadFile("product.txt"), e2e::SourceFile(kProductTxt));
}

TEST_F(SubsetRunTest, BinaryOutputOfACutTableReadsBackAndCutsAgain) {
  WriteFile("product.sub", e2e::SourceFile(kProductSub));
  ASSERT_EQ(Run({"master.txt", "/s", "product.sub", "product.itb"}).exit_code, 0);
  RunResult r = Run({"product.itb", "product.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(ReadFile("product.txt"), e2e::SourceFile(kProductTxt));

  // An .itb input can be subset like a text one.
  WriteFile("mail.sub", "MAIN_CLASS=5\r\nMAIN_SYSTEM=5\r\nCOUNT=1\r\nSYSTEM=5,0,0,MAIL2\r\n");
  r = Run({"product.itb", "/s", "mail.sub", "mail.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  std::string mail = ReadFile("mail.txt");
  EXPECT_EQ(CountLines(mail, "SYSTEM="), 2);
  EXPECT_TRUE(Contains(mail, "\",MAIL2,"));
  EXPECT_TRUE(Contains(mail, "\r\nPRODUCTID=0\r\nBUNDLEDFLAG=0\r\n"));
}

TEST_F(SubsetRunTest, TwoSubsetFilesApplyInOrder) {
  WriteFile("product.sub", e2e::SourceFile(kProductSub));
  // The second cut keeps the generic system and the mail client only.
  WriteFile("mail.sub",
            "MAIN_CLASS=6\nMAIN_SYSTEM=1\nPRODUCT_ID=7\nCOUNT=1\nSYSTEM=5,0,0x10,MAIL2\n"
            "ALIASES=1\nALIAS=1,Everything\n");
  RunResult r = Run({"master.txt", "/s", "product.sub", "/s", "mail.sub", "out.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_LT(r.out.find("Modifier file product.sub"), r.out.find("Modifier file mail.sub"));
  std::string out = ReadFile("out.txt");
  EXPECT_EQ(CountLines(out, "SYSTEM="), 2);
  EXPECT_TRUE(Contains(out, "SYSTEM=5,2,7,\"Mail Client\",MAIL2,"));
  EXPECT_TRUE(Contains(out, ",0X401,3,4,2\r\n"));  // first 0x411, then 0x10 cleared
  // Lists 0, 1 and 5 stay, and so does the first cut's alias of the mail
  // client (its alias of the organizer goes with the organizer); the second
  // cut's own alias takes the first free ID.
  EXPECT_EQ(CountLines(out, "LISTID="), 5);
  EXPECT_TRUE(Contains(out, "LISTID=2\r\nAPP=1\r\nSECID=0\r\nSECTYPE=0\r\nNAME=Everything\r\n"));
  EXPECT_TRUE(Contains(out, "LISTID=6\r\nAPP=5\r\nSECID=0\r\nSECTYPE=0\r\nNAME=Mail\r\n"));
  EXPECT_FALSE(Contains(out, "Organizer Classic"));
  EXPECT_TRUE(Contains(out, "\r\nMAINSYSTEM=1\r\nMAINCLASS=6\r\nPRODUCTID=7\r\nBUNDLEDFLAG=0\r\n"));
  EXPECT_EQ(TempFiles(), std::vector<std::string>{});

  // The other order: mail.sub leaves no organizer, so product.sub fails and
  // the output is the mail cut alone.
  r = Run({"master.txt", "/s", "mail.sub", "/s", "product.sub", "rev.txt"});
  EXPECT_EQ(r.exit_code, e2e::kExitFail);
  EXPECT_TRUE(Contains(r.out, "***ERROR: Unable to copy system record\n"));
  std::string rev = ReadFile("rev.txt");
  EXPECT_EQ(CountLines(rev, "SYSTEM="), 2);
  EXPECT_TRUE(Contains(rev, "\r\nMAINSYSTEM=1\r\nMAINCLASS=6\r\n"));
}

// A kept map that reads a list of a dropped section goes with that list,
// whichever systems the map names.
TEST_F(SubsetRunTest, MapOfADroppedSectionsListIsLeftOut) {
  WriteFile("t.txt",
            "TYPE=SYSTEM\r\nCOUNT=2\r\n"
            "SYSTEM=2,0,0,\"Two\",TWO,,0,0,0,,0,S,0,1000000000,0X0,0,0,1\r\n"
            "SECTION=1,0,\"A\",,0,,,0X2,0,,0\r\n"
            "SYSTEM=5,0,0,\"Five\",FIVE,,0,0,0,,0,S,0,1000000000,0X0,0,0,1\r\n"
            "SECTION=1,0,\"A\",,0,,,0X2,0,,0\r\n"
            "TYPE=FIELDS\r\nCOUNT=2\r\n"
            "LISTID=0\r\nAPP=2\r\nSECID=1\r\nSECTYPE=0\r\nNAME=L0\r\nCOUNT=1\r\n"
            "FIELD=1,\"A\",\"A\",1,C,0,9,,,0X0,-1,0\r\n"
            "LISTID=3\r\nAPP=5\r\nSECID=1\r\nSECTYPE=0\r\nNAME=L3\r\nCOUNT=1\r\n"
            "FIELD=1,\"B\",\"B\",1,C,0,9,,,0X0,-1,0\r\n"
            "TYPE=MAPS\r\nCOUNT=1\r\n"
            "MAPID=1\r\nSECTYPE=0\r\nNAME=M\r\nATTRIBS=0\r\nSOURCE=2,3,1\r\nTARGET=2,0,1\r\n"
            "COUNT=1\r\nMAP=1\r\n");
  WriteFile("cut.sub", "MAIN_CLASS=1\r\nMAIN_SYSTEM=2\r\nCOUNT=2\r\nSYSTEM=2,0,0,X\r\n"
                       "SYSTEM=5,0,0,Y,1\r\n");
  RunResult r = Run({"t.txt", "/s", "cut.sub", "cut.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_FALSE(Contains(r.out, "ERROR")) << r.out;
  std::string cut = ReadFile("cut.txt");
  EXPECT_TRUE(Contains(cut, "# Number of field lists:  1\r\n# Number of field maps:  0\r\n"))
      << cut;
}

// A table of as many lists as a text table can hold (IDs 0 to 1023) has no
// ID left for an alias that would read back: the alias is refused rather
// than written under an ID the reader refuses with 13. With one ID below
// 1000 free, the alias takes it and the cut reads back.
TEST_F(SubsetRunTest, AliasIdsStayWhereTheReaderTakesThem) {
  auto table = [](int skip) {
    std::string t =
        "TYPE=SYSTEM\r\nCOUNT=1\r\n"
        "SYSTEM=1,0,0,\"One\",ONE,,0,0,0,,0,S,0,1000000000,0X0,0,0,1\r\n"
        "SECTION=1,0,\"A\",,0,,,0X2,0,,0\r\n"
        "TYPE=FIELDS\r\nCOUNT=" + std::to_string(skip < 0 ? 1024 : 1023) + "\r\n";
    for (int id = 0; id < 1024; ++id) {
      if (id == skip) continue;
      t += "LISTID=" + std::to_string(id) + "\r\nAPP=1\r\nSECID=1\r\nSECTYPE=0\r\nNAME=L\r\n"
           "COUNT=1\r\nFIELD=1,\"A\",\"A\",1,C,0,9,,,0X0,-1,0\r\n";
    }
    return t + "TYPE=MAPS\r\nCOUNT=0\r\n";
  };
  WriteFile("alias.sub", "MAIN_CLASS=1\r\nMAIN_SYSTEM=1\r\nCOUNT=1\r\nSYSTEM=1,0,0,X\r\n"
                         "ALIASES=1\r\nALIAS=1,Everything\r\n");
  WriteFile("full.txt", table(-1));
  RunResult r = Run({"full.txt", "/s", "alias.sub", "cut.txt"});
  EXPECT_EQ(r.exit_code, e2e::kExitFail);
  EXPECT_TRUE(Contains(r.out,
                       "***ERROR: Cannot create ALIAS record\n"
                       "Processing aborted due to error code 13\n"))
      << r.out;
  EXPECT_FALSE(Contains(ReadFile("cut.txt"), "NAME=Everything"));

  WriteFile("gap.txt", table(500));
  r = Run({"gap.txt", "/s", "alias.sub", "cut2.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(ReadFile("cut2.txt"), "LISTID=500\r\nAPP=1\r\nSECID=0\r\nSECTYPE=0\r\n"
                                             "NAME=Everything\r\nCOUNT=0\r\n"));
  r = Run({"cut2.txt", "back.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
}

// The largest 32-bit numbers are taken as they are, in any notation.
TEST_F(SubsetRunTest, NumbersUpTo32BitsAreTaken) {
  WriteFile("wide.sub",
            "MAIN_CLASS=5\r\nMAIN_SYSTEM=5\r\nPRODUCT_ID=4294967295\r\nBUNDLED=1\r\nCOUNT=1\r\n"
            "SYSTEM=5,037777777777,0,X\r\nALIASES=1\r\nALIAS=+5,Mail\r\n");
  RunResult r = Run({"master.txt", "/s", "wide.sub", "wide.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "Product ID is 4294967295 (bundled)\n")) << r.out;
  std::string out = ReadFile("wide.txt");
  EXPECT_TRUE(Contains(out, ",0Xffffffff,")) << out;
  EXPECT_TRUE(Contains(out, "\r\nPRODUCTID=-1\r\n")) << out;
  EXPECT_TRUE(Contains(out, "\r\nAPP=5\r\nSECID=0\r\nSECTYPE=0\r\nNAME=Mail\r\n")) << out;
}

TEST_F(SubsetRunTest, ExampleSubsetFileCutsTheExampleTable) {
  WriteFile("sample.txt", e2e::SourceFile("examples/sample.txt"));
  WriteFile("subset.txt", e2e::SourceFile("examples/subset.txt"));
  RunResult r = Run({"/v", "sample.txt", "/s", "subset.txt", "product.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out,
                       "\nCreateSubset Processing completed successfully\n"
                       "ModSubset Processing completed successfully\n"));
  EXPECT_FALSE(Contains(r.out, "ERROR"));
  std::string out = ReadFile("product.txt");
  EXPECT_EQ(CountLines(out, "SYSTEM="), 3);
  EXPECT_FALSE(Contains(out, "\"Mail Client\""));
  EXPECT_TRUE(Contains(out, "\",DORG40,"));
  EXPECT_TRUE(Contains(out, "NAME=Palm Companion\r\n"));
  EXPECT_TRUE(Contains(out, "\r\nMAINSYSTEM=2\r\nMAINCLASS=1\r\nPRODUCTID=1280\r\n"));
}

struct Rejected {
  const char* what;
  const char* text;
  std::vector<std::string> lines;  // printed in this order
};

class SubsetRejectionTest : public SubsetRunTest, public ::testing::WithParamInterface<Rejected> {};

TEST_P(SubsetRejectionTest, RunGoesOnFromTheUnchangedTable) {
  const Rejected& p = GetParam();
  std::string plain = PlainBody();
  WriteFile("bad.sub", p.text);
  RunResult r = Run({"/v", "master.txt", "/s", "bad.sub", "/o", "out.txt", "/o", "out.itb"});
  EXPECT_EQ(r.exit_code, e2e::kExitFail);
  std::vector<std::string> want = p.lines;
  want.push_back("Processing aborted due to error code in CreateSubset-1");
  want.push_back("Processing aborted due to error code -1");
  size_t at = 0;
  for (const std::string& line : want) {
    size_t found = r.out.find(line + "\n", at);
    EXPECT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << r.out;
    if (found != std::string::npos) at = found + line.size();
  }
  EXPECT_FALSE(Contains(r.out, "ModSubset Processing completed successfully"));
  // Both outputs come from the table as the inputs left it.
  EXPECT_EQ(Body(ReadFile("out.txt")), plain);
  RunResult back = Run({"out.itb", "back.txt"});
  ASSERT_EQ(back.exit_code, 0) << back.out;
  EXPECT_EQ(Body(ReadFile("back.txt")), plain);
  EXPECT_EQ(TempFiles(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Files, SubsetRejectionTest,
    ::testing::Values(
        Rejected{
            "NoMainClass",
            "MAIN_SYSTEM=5\r\nCOUNT=1\r\nSYSTEM=5,0,0,X\r\n",
            {"***ERROR: Expected MAIN_CLASS record", "Processing aborted due to error code 1"}},
        Rejected{"NoMainSystem",
                 "MAIN_CLASS=5\r\nCOUNT=1\r\nSYSTEM=5,0,0,X\r\n",
                 {"Main System Class is 5", "***ERROR: Expected MAIN_SYSTEM record",
                  "Processing aborted due to error code 1"}},
        Rejected{"CountZero",
                 "MAIN_CLASS=5\r\nMAIN_SYSTEM=5\r\nCOUNT=0\r\n",
                 {"Product ID is 0 (not bundled)", "***ERROR: Invalid COUNT record",
                  "Processing aborted due to error code 0"}},
        Rejected{"AbsentSystem",
                 "MAIN_CLASS=5\r\nMAIN_SYSTEM=5\r\nCOUNT=2\r\n"
                 "SYSTEM=5,0,0,X\r\nSYSTEM=4,0,0,X\r\n",
                 {"SystemID: 5 Name: Mail Client", "***ERROR: Unable to copy system record",
                  "Processing aborted due to error code 13"}},
        Rejected{"OtherRecordAfterSystems",
                 "MAIN_CLASS=5\r\nMAIN_SYSTEM=5\r\nCOUNT=1\r\nSYSTEM=5,0,0,X\r\n"
                 "SYSTEM=3,0,0,X\r\n",
                 {"***ERROR: Expected ALIASES record", "Processing aborted due to error code 1"}},
        Rejected{"InvalidAlias",
                 "MAIN_CLASS=5\r\nMAIN_SYSTEM=5\r\nCOUNT=1\r\nSYSTEM=5,0,0,X\r\n"
                 "ALIASES=2\r\nALIAS=5,Mail\r\nALIAS=0,Nobody\r\n",
                 {"***ERROR: Invalid ALIAS system ID", "Processing aborted due to error code 0"}},
        Rejected{"AliasOfADroppedSystem",
                 "MAIN_CLASS=5\r\nMAIN_SYSTEM=5\r\nCOUNT=1\r\nSYSTEM=5,0,0,X\r\n"
                 "ALIASES=1\r\nALIAS=7,Expenses\r\n",
                 {"***ERROR: Invalid ALIAS system ID", "Processing aborted due to error code 0"}},
        // Numbers too large for 32 bits fail their record, not taken as the
        // largest number.
        Rejected{"MainClassPast32Bits",
                 "MAIN_CLASS=99999999999\r\nMAIN_SYSTEM=5\r\nCOUNT=1\r\nSYSTEM=5,0,0,X\r\n",
                 {"***ERROR: Invalid MAIN_CLASS record", "Processing aborted due to error code 0"}},
        Rejected{"MainSystemPast32Bits",
                 "MAIN_CLASS=5\r\nMAIN_SYSTEM=-2147483649\r\nCOUNT=1\r\nSYSTEM=5,0,0,X\r\n",
                 {"***ERROR: Invalid MAIN_SYSTEM record", "Processing aborted due to error code 0"}},
        Rejected{"ProductIdPast32Bits",
                 "MAIN_CLASS=5\r\nMAIN_SYSTEM=5\r\nPRODUCT_ID=4294967296\r\nCOUNT=1\r\n"
                 "SYSTEM=5,0,0,X\r\n",
                 {"***ERROR: Invalid PRODUCT_ID record", "Processing aborted due to error code 0"}},
        Rejected{"BundledPast32Bits",
                 "MAIN_CLASS=5\r\nMAIN_SYSTEM=5\r\nBUNDLED=2147483648\r\nCOUNT=1\r\n"
                 "SYSTEM=5,0,0,X\r\n",
                 {"***ERROR: Invalid BUNDLED record", "Processing aborted due to error code 0"}},
        Rejected{"CountPast32Bits",
                 "MAIN_CLASS=5\r\nMAIN_SYSTEM=5\r\nCOUNT=4294967297\r\nSYSTEM=5,0,0,X\r\n",
                 {"***ERROR: Invalid COUNT record", "Processing aborted due to error code 0"}},
        Rejected{"SystemIdPast32Bits",
                 "MAIN_CLASS=5\r\nMAIN_SYSTEM=5\r\nCOUNT=1\r\nSYSTEM=4294967301,0,0,X\r\n",
                 {"***ERROR: Invalid system ID", "Processing aborted due to error code 0"}},
        Rejected{"AddBitsPast32Bits",
                 "MAIN_CLASS=5\r\nMAIN_SYSTEM=5\r\nCOUNT=1\r\nSYSTEM=5,0x100000000,0,X\r\n",
                 {"***ERROR: Invalid ADD attributes", "Processing aborted due to error code 0"}},
        Rejected{"RemoveBitsPast32Bits",
                 "MAIN_CLASS=5\r\nMAIN_SYSTEM=5\r\nCOUNT=1\r\nSYSTEM=5,0,99999999999,X\r\n",
                 {"***ERROR: Invalid REMOVE attributes", "Processing aborted due to error code 0"}},
        Rejected{"AliasesPast32Bits",
                 "MAIN_CLASS=5\r\nMAIN_SYSTEM=5\r\nCOUNT=1\r\nSYSTEM=5,0,0,X\r\n"
                 "ALIASES=4294967297\r\nALIAS=5,Mail\r\n",
                 {"***ERROR: Invalid ALIASES record", "Processing aborted due to error code 0"}},
        Rejected{"AliasIdPast32Bits",
                 "MAIN_CLASS=5\r\nMAIN_SYSTEM=5\r\nCOUNT=1\r\nSYSTEM=5,0,0,X\r\n"
                 "ALIASES=1\r\nALIAS=4294967301,Mail\r\n",
                 {"***ERROR: Invalid ALIAS system ID", "Processing aborted due to error code 0"}},
        Rejected{"TooManySectionIds",
                 "MAIN_CLASS=5\r\nMAIN_SYSTEM=5\r\nCOUNT=1\r\n"
                 "SYSTEM=3,0,0,X,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21\r\n",
                 {"***ERROR: Too many section IDs", "Processing aborted due to error code 0"}}),
    [](const ::testing::TestParamInfo<Rejected>& info) { return info.param.what; });

}  // namespace
