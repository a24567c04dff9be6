// Text tables written by the tool: hand-checked expected files for versions
// 2, 3 and 4, round trips text -> .itb -> text for every version and for
// generated tables, item numbers and map entries that the reader would not
// take as stored, and what a user sees when an output cannot be written.
#include <cstdlib>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using e2e::RunResult;
using e2e::SourceFile;

// The text after the first line (the file-name line differs between files
// that are otherwise the same).
std::string Body(const std::string& text) {
  size_t eol = text.find("\r\n");
  return eol == std::string::npos ? std::string() : text.substr(eol + 2);
}

class TxtWriteTest : public e2e::ToolTest {
 protected:
  // Runs the tool and expects a completed run.
  RunResult Ok(const std::vector<std::string>& args) {
    RunResult r = Run(args);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    return r;
  }
  // Writes a generated table; false when the generator failed.
  bool Generate(unsigned seed, const char* profile, const std::string& rel) {
    const char* gen = std::getenv("TBLCONV_TBLGEN");
    if (!gen || !*gen) {
      ADD_FAILURE() << "TBLCONV_TBLGEN is not set";
      return false;
    }
    std::string cmd = std::string("'") + gen + "' " + std::to_string(seed) + " " + profile + " '" +
                      Path(rel) + "'";
    return std::system(cmd.c_str()) == 0;
  }
  // text -> .itb -> text in one version; the result must equal the input
  // apart from the file-name line.
  void RoundTrip(const std::string& in, int version) {
    std::string v = "/" + std::to_string(version);
    Run({"/f", v, in, "rt.itb"});
    Run({"/f", "rt.itb", v, "rt.txt"});
    ASSERT_TRUE(Exists("rt.txt")) << in << " version " << version;
    EXPECT_EQ(Body(ReadFile("rt.txt")), Body(ReadFile(in))) << in << " version " << version;
  }
};

TEST_F(TxtWriteTest, EveryVersionMatchesItsHandCheckedFile) {
  WriteFile("in.txt", SourceFile("tests/data/txt/golden_in.txt"));
  for (int v : {4, 3, 2}) {
    SCOPED_TRACE(v);
    std::vector<std::string> args = {"/f", "in.txt"};
    if (v != 4) args.push_back("/" + std::to_string(v));
    args.push_back("out.txt");
    RunResult r = Ok(args);
    EXPECT_EQ(ReadFile("out.txt"),
              SourceFile("tests/data/txt/golden_v" + std::to_string(v) + ".txt"));
    // Warnings reach the console as they reach the file.
    EXPECT_NE(r.out.find("## Warning -- Unspecified Source Section detected"), std::string::npos);
    EXPECT_NE(r.out.find("QVTB file name:  out.txt"), std::string::npos);
    EXPECT_NE(r.out.find("Processing completed successfully"), std::string::npos);
  }
}

TEST_F(TxtWriteTest, EmptyTableKeepsEveryBlock) {
  WriteFile("in.txt", SourceFile("tests/data/txt/empty_in.txt"));
  Ok({"in.txt", "out.txt"});
  EXPECT_EQ(ReadFile("out.txt"), SourceFile("tests/data/txt/empty_v4.txt"));
  Ok({"/f", "in.txt", "/2", "out.txt"});
  EXPECT_EQ(ReadFile("out.txt"), SourceFile("tests/data/txt/empty_v2.txt"));
}

TEST_F(TxtWriteTest, WrittenTablesComeBackThroughItbUnchangedInEveryVersion) {
  for (int v : {2, 3, 4}) {
    std::string name = "golden_v" + std::to_string(v) + ".txt";
    WriteFile(name, SourceFile("tests/data/txt/" + name));
    RoundTrip(name, v);
  }
  WriteFile("empty_v2.txt", SourceFile("tests/data/txt/empty_v2.txt"));
  RoundTrip("empty_v2.txt", 2);
  WriteFile("sample.txt", SourceFile("examples/sample.txt"));
  RoundTrip("sample.txt", 4);
}

TEST_F(TxtWriteTest, GeneratedTablesRoundTripByteForByte) {
  // Every seed in version 4; every tenth also down to version 3 and 2 and
  // back in that version.
  for (unsigned seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE(seed);
    ASSERT_TRUE(Generate(seed, "small", "gen.txt"));
    Run({"/f", "gen.txt", "rt.itb"});
    RunResult r = Run({"/f", "rt.itb", "rt.txt"});
    ASSERT_EQ(r.exit_code, 0) << r.out;
    ASSERT_EQ(Body(ReadFile("rt.txt")), Body(ReadFile("gen.txt")));
    if (seed % 10 == 0) {
      for (int v : {3, 2}) {
        std::string name = "gen_v" + std::to_string(v) + ".txt";
        Ok({"/f", "rt.itb", "/" + std::to_string(v), name});
        RoundTrip(name, v);
      }
    }
  }
}

TEST_F(TxtWriteTest, LargestGeneratedTableRoundTripsWithLongLinesWhole) {
  ASSERT_TRUE(Generate(7, "max", "gen.txt"));
  Ok({"gen.txt", "rt.itb"});
  RunResult r = Ok({"rt.itb", "rt.txt"});
  EXPECT_TRUE(Body(ReadFile("rt.txt")) == Body(ReadFile("gen.txt")));
  EXPECT_NE(r.out.find("***WARNING: Line longer than 509 characters: MAP\n"), std::string::npos);
}

const char kOneSystem[] =
    "TYPE=SYSTEM\r\nCOUNT=1\r\n"
    "SYSTEM=1,0,0,\"One\",ONE,,0,0,0,,0,S,0,1000000000,0X0,0,0,1\r\n"
    "SYSTEMEX1=8,0X0,0X0,0X0,0X0,0X0,0X0,0X0,0X0\r\nSYSTEMEX2=0,0,0,0,0,,\r\nSYSTEMEX3=,,,,\r\n"
    "SECTION=1,0,\"A\",,0,,,0X2,0,,0\r\n";
const char kNoMore[] = "TYPE=CHARMAP\r\nCOUNT=0\r\nTYPE=TABLE\r\nMAINSYSTEM=0\r\nMAINCLASS=0\r\n"
                       "PRODUCTID=0\r\nBUNDLEDFLAG=0\r\nENABLEDPRODUCTS=0\r\n";

std::string ListOf(int id, const std::vector<int>& items) {
  std::string s = "LISTID=" + std::to_string(id) + "\r\nAPP=1\r\nSECID=1\r\nSECTYPE=0\r\nNAME=L" +
                  std::to_string(id) + "\r\nCOUNT=" + std::to_string(items.size()) + "\r\n";
  for (size_t j = 0; j < items.size(); ++j) {
    std::string n = std::to_string(j + 1);
    s += "FIELD=" + n + ",\"F" + n + "\",\"Field " + n + "\"," + std::to_string(items[j]) +
         ",C,0,9,,,0X0,-1,0\r\n";
  }
  return s;
}

// The reader takes item numbers that go on from the list read before, and
// list IDs that need not rise; the writer writes the lists by ID, so it
// writes item numbers the reader takes in that order, and says where.
TEST_F(TxtWriteTest, ItemNumbersAreWrittenAsTheReaderTakesThemInWrittenOrder) {
  WriteFile("in.txt", std::string(kOneSystem) + "TYPE=FIELDS\r\nCOUNT=2\r\n" + ListOf(5, {1, 2}) +
                          ListOf(2, {3, 4, 1}) + "TYPE=MAPS\r\nCOUNT=0\r\n" + kNoMore);
  RunResult r = Ok({"in.txt", "out.txt"});
  const std::string notes =
      "## WARNING -- item number 3 of field 1 in field list 2 written as 1\n"
      "## WARNING -- item number 4 of field 2 in field list 2 written as 2\n";
  EXPECT_NE(r.out.find(notes), std::string::npos) << r.out;
  std::string out = ReadFile("out.txt");
  EXPECT_NE(out.find("COUNT=3\r\n"
                     "## WARNING -- item number 3 of field 1 in field list 2 written as 1\r\n"
                     "FIELD=1,\"F1\",\"Field 1\",1,C,0,9,,,0X0,-1,0\r\n"
                     "## WARNING -- item number 4 of field 2 in field list 2 written as 2\r\n"
                     "FIELD=2,\"F2\",\"Field 2\",2,C,0,9,,,0X0,-1,0\r\n"
                     "FIELD=3,\"F3\",\"Field 3\",1,C,0,9,,,0X0,-1,0\r\n"),
            std::string::npos)
      << out;
  // List 5 goes on from list 2 as written: its numbers stay, silently.
  EXPECT_NE(out.find("FIELD=1,\"F1\",\"Field 1\",1,C,0,9,,,0X0,-1,0\r\n"
                     "FIELD=2,\"F2\",\"Field 2\",2,C,0,9,,,0X0,-1,0\r\n#"),
            std::string::npos);
  r = Ok({"out.txt", "back.txt"});
  EXPECT_EQ(r.out.find("ERROR"), std::string::npos) << r.out;
  EXPECT_EQ(Body(ReadFile("back.txt")).find("## WARNING"), std::string::npos);
}

// A map read before its target list was replaced by a shorter one points
// past the list's end: those entries are written unmapped, with a note.
TEST_F(TxtWriteTest, MapEntriesPastAShrunkenTargetListAreWrittenUnmapped) {
  WriteFile("a.txt", std::string(kOneSystem) + "TYPE=FIELDS\r\nCOUNT=2\r\n" +
                         ListOf(0, {1, 2, 3}) + ListOf(1, {1, 2, 3}) +
                         "TYPE=MAPS\r\nCOUNT=1\r\nMAPID=4\r\nSECTYPE=0\r\nNAME=M\r\nATTRIBS=0\r\n"
                         "SOURCE=1,0,1\r\nTARGET=1,1,1\r\nCOUNT=3\r\nMAP=3,0,1\r\n" + kNoMore);
  WriteFile("b.txt", std::string(kOneSystem) + "TYPE=FIELDS\r\nCOUNT=1\r\n" + ListOf(1, {1}) +
                         "TYPE=MAPS\r\nCOUNT=0\r\n" + kNoMore);
  const std::string note =
      "## WARNING -- field map 4 maps past the end of target field list 1: 1 entry written as "
      "unmapped";
  RunResult r = Ok({"a.txt", "b.txt", "out.txt"});
  EXPECT_NE(r.out.find(note + "\n"), std::string::npos) << r.out;
  std::string out = ReadFile("out.txt");
  EXPECT_NE(out.find("COUNT=3\r\n" + note + "\r\nMAP=0,0,1\r\n"), std::string::npos) << out;
  r = Ok({"out.txt", "back.txt"});
  EXPECT_EQ(r.out.find("Invalid map index"), std::string::npos) << r.out;
}

TEST_F(TxtWriteTest, AnOutputThatCannotBeCreatedFailsTheRunButNotTheOtherOutputs) {
  WriteFile("in.txt", SourceFile("tests/data/txt/golden_in.txt"));
  RunResult r = Run({"in.txt", "/o", "missing/out.txt", "/o", "out.txt"});
  EXPECT_EQ(r.exit_code, e2e::kExitFail);
  EXPECT_NE(r.out.find("Unable to open file missing/out.txt\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("QVTB file name:  missing/out.txt"), std::string::npos) << r.out;
  EXPECT_EQ(ReadFile("out.txt"), SourceFile("tests/data/txt/golden_v4.txt"));
}

}  // namespace
