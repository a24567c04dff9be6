// Text tables read by the tool: several text inputs merged in one run, a text
// input merged over a binary table, the replacement rules between inputs,
// a stray LF in a CR LF file, and what a user sees when a text input is
// refused.
#include <string>
#include <vector>

#include "cli_tables.h"
#include "harness.h"

namespace {

using e2e::Contains;
using e2e::RunResult;

std::string Lines(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\r\n";
  return s;
}

std::string System(int id, const std::string& name, int sections) {
  std::string s = "SYSTEM=" + std::to_string(id) + ",1,2,\"" + name + "\",TR" + std::to_string(id) +
                  ",,0,0,0,,0,Title,0,0123456789,0X10,0,0," + std::to_string(sections) +
                  "\r\nSYSTEMEX1=8,0X1,0X0,0X0,0X0,0X0,0X0,0X0,0X0\r\nSYSTEMEX2=0,0,0,0,0,,\r\nSYSTEMEX3=,,,,\r\n";
  for (int k = 1; k <= sections; ++k)
    s += "SECTION=" + std::to_string(k) + ",3,\"" + name + " " + std::to_string(k) + "\",,0,,,0X0,0,,0\r\n";
  return s;
}

std::string List(int id, int app, int sec, const std::vector<std::string>& fields) {
  std::string s = Lines({"LISTID=" + std::to_string(id), "APP=" + std::to_string(app),
                         "SECID=" + std::to_string(sec), "SECTYPE=3", "NAME=List " + std::to_string(id),
                         "COUNT=" + std::to_string(fields.size())});
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string n = std::to_string(i + 1);
    s += "FIELD=" + n + ",\"" + fields[i] + "\",\"" + fields[i] + "\"," + n + ",S,0,0,,,0X0,0,0\r\n";
  }
  return s;
}

std::string Map(int id, const std::string& source, const std::string& target, const std::string& map) {
  return Lines({"MAPID=" + std::to_string(id), "SECTYPE=3", "NAME=Map " + std::to_string(id), "ATTRIBS=0",
                "SOURCE=" + source, "TARGET=" + target, "COUNT=2", "MAP=" + map});
}

std::string CharMap(int id, const std::string& name) {
  std::string s = "CHARMAP=" + std::to_string(id) + "," + name + ",0X0,256\r\n";
  const char* hex = "0123456789abcdef";
  for (int r = 0; r < 16; ++r) {
    s += "COL=" + std::string(1, hex[r]);
    for (int c = 0; c < 16; ++c) s += "," + std::string(1, hex[r]) + hex[c];
    s += "\r\n";
  }
  return s;
}

std::string Block(const char* type, const std::vector<std::string>& groups) {
  std::string s = std::string("TYPE=") + type + "\r\nCOUNT=" + std::to_string(groups.size()) + "\r\n";
  for (const std::string& g : groups) s += g;
  return s;
}

std::string Values(int mainSystem, int mainClass, int productId, int bundled) {
  return Lines({"TYPE=TABLE", "MAINSYSTEM=" + std::to_string(mainSystem),
                "MAINCLASS=" + std::to_string(mainClass), "PRODUCTID=" + std::to_string(productId),
                "BUNDLEDFLAG=" + std::to_string(bundled), "ENABLEDPRODUCTS=0"});
}

// The first input: two systems, two lists, a map, a charmap, table values.
const std::string kFirst =
    Block("SYSTEM", {System(1, "Book", 1), System(2, "Calendar", 1)}) +
    Block("FIELDS", {List(0, 1, 1, {"Last", "First"}), List(1, 2, 1, {"Start", "End"})}) +
    Block("MAPS", {Map(1, "1,0,1", "2,1,1", "1,2")}) + Block("CHARMAP", {CharMap(1, "Latin")}) +
    Values(1, 2, 7, 1);

// The second input replaces system 2 (now with two sections), list 1 (same
// owner), map 1 and charmap 1, and adds list 2 and charmap 2; its table
// values are all 0 and so leave the first input's.
const std::string kSecond =
    Block("SYSTEM", {System(2, "Diary", 2)}) +
    Block("FIELDS", {List(1, 2, 1, {"Begin", "Finish"}), List(2, 2, 2, {"Note", "Text"})}) +
    Block("MAPS", {Map(1, "1,0,1", "2,1,1", "2,0")}) +
    Block("CHARMAP", {CharMap(1, "Western"), CharMap(2, "Greek")}) + Values(0, 0, 0, 0);

// What the two make together.
const std::string kMerged =
    Block("SYSTEM", {System(1, "Book", 1), System(2, "Diary", 2)}) +
    Block("FIELDS", {List(0, 1, 1, {"Last", "First"}), List(1, 2, 1, {"Begin", "Finish"}),
                     List(2, 2, 2, {"Note", "Text"})}) +
    Block("MAPS", {Map(1, "1,0,1", "2,1,1", "2,0")}) +
    Block("CHARMAP", {CharMap(1, "Western"), CharMap(2, "Greek")}) + Values(1, 2, 7, 1);

// The text after the file-name line.
std::string Body(const std::string& text) {
  size_t eol = text.find("\r\n");
  return eol == std::string::npos ? std::string() : text.substr(eol + 2);
}

class TxtReadRunTest : public e2e::ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    WriteFile("first.txt", kFirst);
    WriteFile("second.txt", kSecond);
    WriteFile("merged.txt", kMerged);
  }
  // The merged table as the tool writes it.
  std::string Expected() {
    RunResult r = Run({"merged.txt", "expected.txt"});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    std::string body = Body(ReadFile("expected.txt"));
    EXPECT_TRUE(Contains(body, "\r\nSYSTEM=2,1,2,\"Diary\",TR2,")) << body;
    EXPECT_TRUE(Contains(body, "\r\nCHARMAP=2,Greek,")) << body;
    return body;
  }
  // Expects a stopped run that wrote nothing and printed `shown` in one piece.
  void ExpectRefused(const std::vector<std::string>& args, const std::string& shown) {
    RunResult r = Run(args);
    EXPECT_EQ(r.exit_code, e2e::kExitFail);
    EXPECT_TRUE(Contains(r.out, shown)) << r.out;
    EXPECT_FALSE(Exists(args.back()));
  }
};

TEST_F(TxtReadRunTest, SeveralTextInputsMergeInOrder) {
  RunResult r = Run({"first.txt", "second.txt", "out.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(Body(ReadFile("out.txt")), Expected());
  EXPECT_TRUE(Contains(r.out, "\nReading Version 4 TXT table file second.txt\n\n"
                              "Number of system records: 1\n"
                              "   System 2: Diary\n"
                              "Number of Field list records: 2\n"
                              "Number of field map records: 1\n"
                              "Number of character map records: 2\n"))
      << r.out;
}

TEST_F(TxtReadRunTest, TextInputMergedOverABinaryTable) {
  ASSERT_EQ(Run({"first.txt", "first.itb"}).exit_code, 0);
  RunResult r = Run({"first.itb", "second.txt", "out.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(Body(ReadFile("out.txt")), Expected());
}

TEST_F(TxtReadRunTest, InputOrderDecidesWhichRecordStays) {
  WriteFile("again.txt", kFirst);
  RunResult r = Run({"first.txt", "second.txt", "again.txt", "out.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  // The last input's system 2 with one section, list 1 and map 1 win; list 2
  // and charmap 2, which it does not have, stay.
  std::string out = ReadFile("out.txt");
  EXPECT_TRUE(Contains(out, "\r\nSYSTEM=2,1,2,\"Calendar\",TR2,")) << out;
  EXPECT_FALSE(Contains(out, "Diary")) << out;
  EXPECT_TRUE(Contains(out, "\r\nNAME=List 2\r\n")) << out;
  EXPECT_TRUE(Contains(out, "\r\nMAP=1,2\r\n")) << out;
  EXPECT_TRUE(Contains(out, "\r\nCHARMAP=2,Greek,")) << out;
  EXPECT_TRUE(Contains(out, "\r\nMAINSYSTEM=1\r\nMAINCLASS=2\r\nPRODUCTID=7\r\n")) << out;
}

TEST_F(TxtReadRunTest, OlderVersionsAreReadAsToldOnTheCommandLine) {
  WriteFile("v3.txt", e2e::kSmallTableV3);
  RunResult r = Run({"/3", "v3.txt", "out.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "\nReading Version 3 TXT table file v3.txt\n")) << r.out;
  EXPECT_FALSE(Contains(r.out, "***WARNING")) << r.out;
  EXPECT_TRUE(Contains(ReadFile("out.txt"), "\r\nNAME=Contacts\r\n"));

  // Read as version 4 the same file lacks its SYSTEMEX lines and TABLE block:
  // reported, and the run completes.
  r = Run({"/f", "v3.txt", "out.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "***WARNING: Expected SYSTEMEX1 record in a version 4 file\n"
                              "***WARNING: Expected SYSTEMEX2 record in a version 4 file\n"
                              "***WARNING: Expected SYSTEMEX3 record in a version 4 file\n"))
      << r.out;
  EXPECT_TRUE(Contains(r.out, "***WARNING: No TYPE = TABLE found in V4 table\n")) << r.out;

  // A version-4 file read as version 2 stops at its SYSTEMEX lines.
  ExpectRefused({"first.txt", "/2", "second.txt", "refused.txt"},
                "***ERROR: Expected SECTION record\n"
                "***ERROR: Code = -1 from QVTBUGetText3System\n"
                "Processing aborted due to error code -1\n");
}

// Every value of a line that ends in LF alone inside a CR LF file reads as
// if the line ended in CR LF: the charmap byte and the mapping code stay.
TEST_F(TxtReadRunTest, AStrayLfInACrLfFileEndsItsLineAsCrLfWould) {
  std::string stray = kFirst;
  const std::string col0 = "COL=0,00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f\r\n";
  ASSERT_TRUE(Contains(stray, col0));
  stray.replace(stray.find(col0), col0.size(), col0.substr(0, col0.size() - 2) + "\n");
  const std::string field = "FIELD=2,\"First\",\"First\",2,S,0,0,,,0X0,0,0\r\n";
  ASSERT_TRUE(Contains(stray, field));
  stray.replace(stray.find(field), field.size(), field.substr(0, field.size() - 2) + "\n");
  WriteFile("stray.txt", stray);
  RunResult r = Run({"first.txt", "clean.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  r = Run({"stray.txt", "out.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_FALSE(Contains(r.out, "CR LF")) << r.out;
  EXPECT_EQ(Body(ReadFile("out.txt")), Body(ReadFile("clean.txt")));
}

// A file whose lines all end in LF alone is refused as before, with one
// warning that says why.
TEST_F(TxtReadRunTest, LfLineEndsAreRefusedWithOneWarningThatSaysWhy) {
  std::string lf;
  for (char c : kFirst)
    if (c != '\r') lf += c;
  WriteFile("lf.txt", lf);
  RunResult r = Run({"lf.txt", "out.txt"});
  EXPECT_EQ(r.exit_code, e2e::kExitFail);
  const std::string warning =
      "***WARNING: Text tables need CR LF line ends; the lines of this file end in LF alone\n";
  EXPECT_TRUE(Contains(r.out, "\nReading Version 4 TXT table file lf.txt\n\n" + warning +
                                  "***ERROR: Expected TYPE=SYSTEM record\n"
                                  "Processing aborted due to error code 0\n"
                                  "Error: Bad file format or a resource missing.\n"))
      << r.out;
  EXPECT_EQ(r.out.find(warning), r.out.rfind(warning));
  EXPECT_FALSE(Exists("out.txt"));
}

TEST_F(TxtReadRunTest, RefusedInputsStopTheRun) {
  std::string bad = kSecond;
  bad.replace(bad.find("SYSTEM=2,"), 9, "SYSTEM=0,");
  WriteFile("bad_id.txt", bad);
  ExpectRefused({"first.txt", "bad_id.txt", "refused.txt"},
                "***ERROR: Invalid system ID\n"
                "***ERROR: Code = -1 from QVTBUGetText3System\n"
                "Processing aborted due to error code -1\n"
                "Error: Exit\n");

  WriteFile("no_type.txt", kSecond.substr(kSecond.find("COUNT=")));
  ExpectRefused({"first.txt", "no_type.txt", "refused.txt"},
                "***ERROR: Expected TYPE=SYSTEM record\n"
                "Processing aborted due to error code 0\n"
                "Error: Bad file format or a resource missing.\n");

  // A list of the same ID for another system.
  std::string dup = kSecond;
  dup.replace(dup.find("LISTID=1\r\nAPP=2"), 15, "LISTID=0\r\nAPP=2");
  WriteFile("dup.txt", dup);
  ExpectRefused({"first.txt", "dup.txt", "refused.txt"},
                "***ERROR: code -1 duplicate field list index 0\n"
                "***ERROR: Code = -1 from QVTBUGetText3FieldList\n"
                "Processing aborted due to error code -1\n"
                "Error: Exit\n");

}

TEST_F(TxtReadRunTest, TrailBytesOfADoubleByteCodePageAreLeftAlone) {
  // "^" and "," as trail bytes of code page 932 characters in field names.
  std::string text = kFirst;
  text.replace(text.find("\"Last\",\"Last\""), 13, "\"Last\",\"\x81^a^b\"");
  text.replace(text.find("\"First\",\"First\""), 15, "\"First\",\"\x81,z\"");
  WriteFile("dbcs.txt", text);
  RunResult r = Run({"dbcs.txt", "out.txt"}, {{"TBLCONV_CODEPAGE", "932"}});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  std::string out = ReadFile("out.txt");
  EXPECT_TRUE(Contains(out, "\r\nFIELD=1,\"Last\",\"\x81^a^b\",1,")) << out;
  EXPECT_TRUE(Contains(out, "\r\nFIELD=2,\"First\",\"\x81,z\",2,")) << out;
  // In a single-byte code page the same "," ends the name.
  r = Run({"dbcs.txt", "single.txt"});
  EXPECT_EQ(r.exit_code, e2e::kExitFail) << r.out;
}

TEST_F(TxtReadRunTest, LinesAreReadWholeUpToTheLimit) {
  // Every SYSTEMEX3 text at its longest: a line of 657 characters.
  std::string ex3 = "SYSTEMEX3=" + std::string(39, 'a') + "," + std::string(39, 'b') + "," +
                    std::string(39, 'c') + "," + std::string(63, 'd') + "," + std::string(463, 'e');
  ASSERT_EQ(ex3.size(), 657u);
  std::string longer = kFirst;
  longer.replace(longer.find("SYSTEMEX3=,,,,"), 14, ex3);
  WriteFile("long.txt", longer);
  RunResult r = Run({"long.txt", "out.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(ReadFile("out.txt"), "\r\n" + ex3 + "\r\n"));
  EXPECT_FALSE(Contains(r.out, "***ERROR")) << r.out;

  std::string huge = kFirst;
  huge.replace(huge.find("SYSTEMEX3=,,,,"), 14, "SYSTEMEX3=,,,," + std::string(70000, 'x'));
  WriteFile("huge.txt", huge);
  ExpectRefused({"huge.txt", "refused.txt"},
                "   System 1: Book\n"
                "***ERROR: Line too long\n"
                "***ERROR: Code = -1 from QVTBUGetText3System\n"
                "Processing aborted due to error code -1\n"
                "Error: Exit\n");
}

}  // namespace
