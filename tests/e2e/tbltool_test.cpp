// tbltool end to end: check, info, diff, export and import run as a user
// runs them, on a small table changed in known places (exact output and
// exit codes), and export/import round trips over generated tables, which
// must come back byte for byte as tblconv writes them.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "../../src/platform/pe_test_builder.h"
#include "harness.h"

namespace {

using e2e::RunResult;

// Two systems (three sections), two field lists, a map and a charmap. Tests
// change single lines, by their number from 1.
std::vector<std::string> BaseLines() {
  std::vector<std::string> l = {
      "TYPE=SYSTEM",
      "COUNT=2",
      "SYSTEM=1,0,0,\"Generic\",GEN,,0,0,0,,0,Generic Sections,0,1001000000,0X0,1,0,2",
      "SYSTEMEX1=8,0X1,0X0,0X0,0X0,0X0,0X0,0X0,0X0",
      "SYSTEMEX2=0,0,0,0,0,,",
      "SYSTEMEX3=,,,,",
      "SECTION=1,0,\"Calendar\",,0,,C,0X2,0,,0",
      "SECTION=2,3,\"Phone Book\",,0,,P,0X2,0,,0",
      "SYSTEM=2,1,3,\"Organizer\",ORG,,2,1,1,,0,Files,3,1001000000,0X10,0,0,1",
      "SYSTEMEX1=8,0X2,0X0,0X0,0X0,0X0,0X0,0X0,0X0",
      "SYSTEMEX2=0,0,0,0,0,,",
      "SYSTEMEX3=,,,,",
      "SECTION=1,3,\"Contacts\",,3,,N,0X2,0,,0",
      "TYPE=FIELDS",
      "COUNT=2",
      "LISTID=0",
      "APP=1",
      "SECID=2",
      "SECTYPE=3",
      "NAME=Generic Phone Book",
      "COUNT=2",
      "FIELD=1,\"Last\",\"Last Name\",1,C,64,13,,,0X0,-1,0",
      "FIELD=2,\"First\",\"First Name\",2,C,64,13,,,0X0,-1,0",
      "LISTID=1",
      "APP=2",
      "SECID=1",
      "SECTYPE=3",
      "NAME=Organizer Contacts",
      "COUNT=3",
      "FIELD=1,\"Surname\",\"Surname\",1,C,64,13,,,0X0,-1,0",
      "FIELD=2,\"Given\",\"Given Name\",2,C,64,13,,,0X0,-1,0",
      "FIELD=3,\"Email\",\"E-mail\",3,E,0,9,,,0X0,-1,0",
      "TYPE=MAPS",
      "COUNT=1",
      "MAPID=1",
      "SECTYPE=3",
      "NAME=Generic to Organizer",
      "ATTRIBS=16",
      "SOURCE=1,0,2",
      "TARGET=2,1,1",
      "COUNT=2",
      "MAP=1,2",
      "TYPE=CHARMAP",
      "COUNT=1",
      "CHARMAP=1,Latin,0X0,256",
  };
  for (int r = 0; r < 16; ++r) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "COL=%x", r);
    std::string col = buf;
    for (int c = 0; c < 16; ++c) {
      std::snprintf(buf, sizeof buf, ",%x", 16 * r + c);
      col += buf;
    }
    l.push_back(col);
  }
  for (const char* s : {"TYPE=TABLE", "MAINSYSTEM=1", "MAINCLASS=0", "PRODUCTID=7", "BUNDLEDFLAG=0",
                        "ENABLEDPRODUCTS=8L,0X3L,0X0L,0X0L,0X0L,0X0L,0X0L,0X0L,0X0L"})
    l.push_back(s);
  return l;
}

std::string Table(const std::map<int, std::string>& changes = {}) {
  std::vector<std::string> l = BaseLines();
  for (const auto& [line, text] : changes) l[static_cast<size_t>(line - 1)] = text;
  std::string out;
  for (const std::string& s : l) out += s + "\r\n";
  return out;
}

// The text after its first line (the writer's file-name line).
std::string Body(const std::string& text) {
  size_t eol = text.find('\n');
  return eol == std::string::npos ? std::string() : text.substr(eol + 1);
}
// A script without its second line, which names the temporary text table
// it was made from.
std::string Script(const std::string& text) {
  size_t first = text.find('\n');
  if (first == std::string::npos) return text;
  return text.substr(0, first + 1) + Body(text.substr(first + 1));
}

class TbltoolTest : public e2e::ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    if (e2e::IsWindowsBuild()) GTEST_SKIP() << "tbltool has no Windows build; these run natively";
  }
  RunResult Tool(const std::vector<std::string>& args) { return RunTbltool(args, env_); }
  // tblconv, which must succeed.
  void Conv(const std::vector<std::string>& args) {
    RunResult r = Run(args, env_);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  }
  void Patch(const std::string& rel, size_t at, unsigned char byte) {
    std::string d = ReadFile(rel);
    ASSERT_LT(at, d.size());
    d[at] = static_cast<char>(byte);
    WriteFile(rel, d);
  }
  bool Generate(unsigned seed, const char* profile, const std::string& rel) {
    const char* gen = std::getenv("TBLCONV_TBLGEN");
    if (!gen || !*gen) return false;
    std::string cmd = std::string("'") + gen + "' " + std::to_string(seed) + " " + profile + " '" +
                      Path(rel) + "'";
    return std::system(cmd.c_str()) == 0;
  }
  std::map<std::string, std::string> env_;
};

TEST_F(TbltoolTest, CheckReportsEachProblemOfATextTableWhereItStands) {
  struct Case {
    std::map<int, std::string> changes;
    std::string out;
  };
  const Case cases[] = {
      {{}, ""},
      {{{9, "SYSTME=2,1,3,\"Organizer\",ORG,,2,1,1,,0,Files,3,1001000000,0X10,0,0,1"}},
       "t.txt:9: error: expected SYSTEM record, found "
       "\"SYSTME=2,1,3,\"Organizer\",ORG,,2,1,1,,0,Files,3,"
       "1001000000,0X10,0,0,1\"\n"},
      // What the reader lets through and what it only warns about.
      {{{3, "SYSTEM=1,0,0,\"Gen\"eric\",GEN,,0,0,0,,0,Generic Sections,0,1001000000,0X0,5,0,2"},
        {23, "FIELD=2,\"First\",\"First Name\",1,C,64,13,,,0X0,-1,0"},
        {32, "FIELD=3,\"Email\",\"E-mail\",3,E,0,9,,,0X0,-1"},
        {42, "MAP=1,4"}},
       "t.txt:3: error: system 1 uses charmap 5, which is not in the table\n"
       "t.txt:3: warning: system name \"Gen\"eric\" holds a double quote; the split pair leaves it "
       "untranslated\n"
       "t.txt:23: error: field 2 of field list 0 has item number 1; the fields of a list are "
       "numbered 1, 2, 3, ...\n"
       "t.txt:32: warning: missing field mapping code, using zero\n"
       "t.txt:42: warning: invalid map index reset to unmapped\n"},
      // List 1 moves to system 1's phone book: its first field takes list
      // 0's split key, and the map's target list its system.
      {{{25, "APP=1"}, {26, "SECID=2"}, {30, "FIELD=1,\"Last\",\"Surname\",1,C,64,13,,,0X0,-1,0"}},
       "t.txt:30: warning: field 1 \"Surname\" of field list 1 gets the split key "
       "LOCALIZED_1_PHONE_2_LAST1_FLD_NAME of field 1 of field list 0; the split pair reads it "
       "back as "
       "\"Last Name\"\n"
       "t.txt:35: warning: field map 1: target list 1 belongs to system 1, not to the map's target "
       "system 2\n"},
  };
  for (const Case& c : cases) {
    WriteFile("t.txt", Table(c.changes));
    RunResult r = Tool({"check", "t.txt"});
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_code, c.out.empty() ? 0 : 1) << c.out;
  }

  // A byte-order mark and LF line ends: the reader's error and why.
  std::string lf;
  for (const std::string& s : BaseLines()) lf += s + "\n";
  WriteFile("lf.txt", "\xEF\xBB\xBF" + lf);
  RunResult r = Tool({"check", "lf.txt"});
  EXPECT_EQ(
      r.out,
      "lf.txt:1: warning: text tables need CR LF line ends; the lines of this file end in LF "
      "alone\n"
      "lf.txt:1: error: expected TYPE=SYSTEM record, found \"\xEF\xBB\xBFTYPE=SYSTEM\"\n"
      "lf.txt:1: error: byte-order mark at the start of the file; the readers take it for text\n");
  EXPECT_EQ(r.exit_code, 1);
  // Lines that end in LF alone among CR LF lines: read as CR LF, but named.
  std::string mixed;
  int n = 0;
  for (const std::string& s : BaseLines()) mixed += s + (++n % 20 == 3 ? "\n" : "\r\n");
  WriteFile("mixed.txt", mixed);
  r = Tool({"check", "mixed.txt"});
  EXPECT_EQ(r.out, "mixed.txt:3: warning: line ends in LF without CR (and 3 more lines)\n");
  EXPECT_EQ(r.exit_code, 1);

  r = Tool({"check", "--json", "t.txt"});
  EXPECT_EQ(
      r.out,
      "{\n  \"errors\": 0,\n  \"files\": [\n    {\n      \"file\": \"t.txt\",\n      \"findings\": "
      "[\n"
      "        {\n          \"file\": \"t.txt\",\n          \"line\": 30,\n          \"message\": "
      "\"field 1 "
      "\\\"Surname\\\" of field list 1 gets the split key LOCALIZED_1_PHONE_2_LAST1_FLD_NAME of "
      "field 1 of "
      "field list 0; the split pair reads it back as \\\"Last Name\\\"\",\n          \"severity\": "
      "\"warning\"\n        },\n        {\n          \"file\": \"t.txt\",\n          \"line\": "
      "35,\n"
      "          \"message\": \"field map 1: target list 1 belongs to system 1, not to the map's "
      "target "
      "system 2\",\n          \"severity\": \"warning\"\n        }\n      ],\n      \"form\": "
      "\"txt\",\n"
      "      \"version\": 4\n    }\n  ],\n  \"warnings\": 2\n}\n");
  EXPECT_EQ(r.exit_code, 1);
}

TEST_F(TbltoolTest, CheckOfScriptsAndSplitPairsCountsTheirOwnLines) {
  WriteFile(
      "t.txt",
      Table({{3, "SYSTEM=1,0,0,\"Generic\",GEN,,0,0,0,,0,Generic Sections,0,1001000000,0X0,5,0,2"},
             {25, "APP=1"},
             {26, "SECID=2"},
             {30, "FIELD=1,\"Last\",\"Surname\",1,C,64,13,,,0X0,-1,0"}}));
  Conv({"t.txt", "/o", "t.rc2", "/o", "t.itr"});
  RunResult r = Tool({"check", "t.rc2"});
  EXPECT_EQ(r.out,
            "t.rc2:20: error: system 1 uses charmap 5, which is not in the table\n"
            "t.rc2:53: warning: field 1 \"Surname\" of field list 1 gets the split key "
            "LOCALIZED_1_PHONE_2_LAST1_FLD_NAME of field 1 of field list 0; the split pair reads "
            "it back as "
            "\"Last Name\"\n"
            "t.rc2:61: warning: field map 1: target list 1 belongs to system 1, not to the map's "
            "target system 2\n");
  EXPECT_EQ(r.exit_code, 1);
  // The pair already lost the name: what is left is the key given twice.
  r = Tool({"check", "t.itr"});
  EXPECT_EQ(r.out,
            "t.itf:20: error: system 1 uses charmap 5, which is not in the table\n"
            "t.itf:61: warning: field map 1: target list 1 belongs to system 1, not to the map's "
            "target system 2\n"
            "t.itr:8: warning: key LOCALIZED_1_PHONE_2_LAST1_FLD_NAME was given another text at "
            "line 6; the "
            "merge keeps that one\n");
  // A damaged script: where its data ends early.
  std::string script = ReadFile("t.rc2");
  WriteFile("cut.rc2", script.substr(0, script.find("\"TYPE=MAPS")));
  r = Tool({"check", "cut.rc2"});
  EXPECT_EQ(r.out,
            "cut.rc2:56: error: the script ends before the \"0,\" line that ends its table data\n"
            "cut.rc2:56: error: expected TYPE=MAPS record, found the end of the data\n");
  EXPECT_EQ(r.exit_code, 1);
}

// A module's lines are those of its table resource, which holds the data
// lines only; an older version is read with -3.
TEST_F(TbltoolTest, CheckOfModulesAndOlderVersions) {
  std::string data;
  for (const std::string& s : BaseLines()) data += s + "\r\n";
  data.replace(data.find("SECTION=2,3"), 11, "SECTION=2,X");
  pe_testing::BuiltPe pe =
      pe_testing::BuildPe(true, {{10, "_ZELM_ITB_TABLE_", {data + std::string(2, '\0')}}});
  WriteFile("m.fil", std::string(pe.img.begin(), pe.img.end()));
  RunResult r = Tool({"check", "m.fil"});
  EXPECT_EQ(r.out, "m.fil:8: error: invalid section type\n");
  EXPECT_EQ(r.exit_code, 1);
  WriteFile("x.fil", "MZ not a module");
  r = Tool({"check", "x.fil"});
  EXPECT_EQ(r.out,
            "x.fil: error: not a module with a _ZELM_ITB_TABLE_ resource, or a damaged one\n");
  EXPECT_EQ(r.exit_code, 1);

  // The same table in version 3: no SYSTEMEX lines, no TABLE block.
  std::string v3;
  for (const std::string& s : BaseLines())
    if (s.rfind("SYSTEMEX", 0) != 0 && s.rfind("TYPE=TABLE", 0) != 0 &&
        s.find("=") != std::string::npos && s.rfind("MAIN", 0) != 0 &&
        s.rfind("PRODUCTID", 0) != 0 && s.rfind("BUNDLED", 0) != 0 && s.rfind("ENABLED", 0) != 0)
      v3 += s + "\r\n";
  WriteFile("v3.txt", v3);
  r = Tool({"check", "-3", "v3.txt"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.exit_code, 0);
  r = Tool({"check", "v3.txt"});
  EXPECT_EQ(r.out,
            "v3.txt:4: warning: expected SYSTEMEX1 record in a version 4 file\n"
            "v3.txt:4: warning: expected SYSTEMEX2 record in a version 4 file\n"
            "v3.txt:4: warning: expected SYSTEMEX3 record in a version 4 file\n"
            "v3.txt:7: warning: expected SYSTEMEX1 record in a version 4 file\n"
            "v3.txt:7: warning: expected SYSTEMEX2 record in a version 4 file\n"
            "v3.txt:7: warning: expected SYSTEMEX3 record in a version 4 file\n"
            "v3.txt:55: warning: no TYPE = TABLE found in V4 table\n");
  EXPECT_EQ(Tool({"info", "-3", "v3.txt"}).out.substr(0, 30), "v3.txt: text table, version 3\n");

  // A system given twice: the later one replaces the earlier.
  WriteFile("twice.txt",
            Table({{9, "SYSTEM=1,1,3,\"Organizer\",ORG,,2,1,1,,0,Files,3,1001000000,0X10,0,0,1"}}));
  r = Tool({"check", "twice.txt"});
  EXPECT_EQ(r.out,
            "twice.txt:9: warning: system 1 is read again (first at line 3); this one replaces it\n"
            "twice.txt:25: error: system 2 is undefined\n");
}

TEST_F(TbltoolTest, CheckOfABinaryTableNamesBlockAndRecord) {
  WriteFile("t.txt", Table());
  Conv({"t.txt", "t.itb"});
  RunResult r = Tool({"check", "t.itb"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.exit_code, 0);

  // Blocks of this table: field list 0 at 0x3fe8, field map 1 at 0x4511.
  struct Case {
    size_t at;
    unsigned char byte;
    std::string out;
  };
  const Case cases[] = {
      {0x3fe8 + 8 + 9, 'A',
       "b.itb: block 0x3fe8 (field list 0): error: checksum 0x6da1 does not match the index "
       "(0xd0c5)\n"},
      {24, 7,
       "b.itb: file header: error: dwWastedBytes is 7, but the blocks nothing holds make 0 "
       "bytes\n"},
      {0x4511 + 4, 2,
       "b.itb: block 0x4511 (field map 1): error: reference count 2, but 1 root slot holds it\n"},
      {0x4511 + 8, 2,
       "b.itb: block 0x4511 (field map 1): error: field map 1: its source list 2 is not in the "
       "table\n"},
      {0, 0x0e, "b.itb: file header: error: magic 0xf0e is not a table file's (0xf0f)\n"},
  };
  for (const Case& c : cases) {
    WriteFile("b.itb", ReadFile("t.itb"));
    Patch("b.itb", c.at, c.byte);
    r = Tool({"check", "b.itb"});
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.exit_code, 1);
  }
  WriteFile("short.itb", ReadFile("t.itb").substr(0, 20));
  r = Tool({"check", "t.itb", "short.itb"});
  EXPECT_EQ(r.out,
            "short.itb: file header: error: the file is 20 bytes, shorter than the 28-byte header "
            "of a table file\n");
  EXPECT_EQ(r.exit_code, 1);

  // What cannot be read at all outweighs findings.
  r = Tool({"check", "short.itb", "none.itb", "t.doc"});
  EXPECT_EQ(r.err,
            "tbltool: none.itb: no such file\n"
            "tbltool: t.doc: is no table form (.itb, .txt, .rc2, .fil, .itr)\n");
  EXPECT_EQ(r.exit_code, 2);
}

TEST_F(TbltoolTest, InfoShowsFormCountsValuesSystemsAndBlocks) {
  WriteFile("t.txt", Table());
  Conv({"t.txt", "t.itb"});
  const std::string systems =
      "systems:\n"
      "  1 \"Generic\" [GEN], class 0, type 0, 2 sections\n"
      "      section 1: type 0 (APPT) \"Calendar\"\n"
      "      section 2: type 3 (PHONE) \"Phone Book\"\n"
      "  2 \"Organizer\" [ORG], class 1, type 3, 1 section\n"
      "      section 1: type 3 (PHONE) \"Contacts\"\n";
  const std::string counts =
      "systems 2, field lists 2 (5 fields), field maps 1, charmaps 1\n"
      "main system 1, main class 0, product ID 7 (0x7), bundled flag 0, last base map 1\n";
  RunResult r = Tool({"info", "t.txt"});
  EXPECT_EQ(r.out, "t.txt: text table, version 4\n" + counts + systems);
  EXPECT_EQ(r.exit_code, 0);
  r = Tool({"info", "t.itb"});
  EXPECT_EQ(
      r.out,
      "t.itb: binary table, version 4\n" + counts +
          "size 19817 bytes, 513 root slots (2 in use), 11 blocks (11 in use, largest 8192 bytes)\n"
          "waste 0 bytes (unreferenced blocks hold 0)\n"
          "blocks: table header 1 (128 bytes), system index 1 (256 bytes), field-list index 1 "
          "(4096 bytes), "
          "field-map index 1 (8192 bytes), charmap index 1 (256 bytes), systems 2 (3348 bytes), "
          "field lists 2 "
          "(972 bytes), field maps 1 (76 bytes), charmaps 1 (325 bytes)\n" +
          systems);
  r = Tool({"info", "--json", "t.itb"});
  EXPECT_EQ(r.out.find("{\n  \"counts\": {\n    \"charMaps\": 1,\n    \"fieldLists\": 2,\n    "
                       "\"fieldMaps\": 1,\n"
                       "    \"fields\": 5,\n    \"systems\": 2\n  },\n"),
            0u);
  EXPECT_NE(r.out.find("\"itb\": {\n    \"blocks\": 11,\n    \"blocksInUse\": 11,\n"),
            std::string::npos);
  EXPECT_NE(
      r.out.find(
          "\"sections\": [\n        {\n          \"nSecType\": 3,\n          \"nSectionID\": 1,\n"
          "          \"szName\": \"Contacts\"\n"),
      std::string::npos);

  // A table that stops early is not shown in part.
  WriteFile("bad.txt", Table({{9, "SYSTME=2"}}));
  r = Tool({"info", "bad.txt"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "bad.txt:9: error: expected SYSTEM record, found \"SYSTME=2\"\n"
            "tbltool: bad.txt: the table cannot be read whole (code -1)\n");
  EXPECT_EQ(r.exit_code, 2);
}

TEST_F(TbltoolTest, DiffGroupsEveryChangeAcrossForms) {
  WriteFile("a.txt", Table());
  Conv({"a.txt", "a.itb"});
  WriteFile("b.txt", Table({{13, "SECTION=1,3,\"Kontakte\",,3,,N,0X2,0,,0"},
                            {31, "FIELD=2,\"Vorname\",\"Given Name\",2,C,64,13,,,0X1,-1,0"},
                            {42, "MAP=1,0"},
                            {50, "COL=4,40,61,42,43,44,45,46,47,48,49,4a,4b,4c,4d,4e,4f"},
                            {63, "MAINSYSTEM=2"}}));
  RunResult r = Tool({"diff", "a.itb", "b.txt"});
  EXPECT_EQ(r.out,
            "--- a.itb\n+++ b.txt\n"
            "systems:\n"
            "  ~ system 2 \"Organizer\"\n"
            "      ~ section 1 \"Kontakte\"\n"
            "          szName: \"Contacts\" -> \"Kontakte\"\n"
            "field lists:\n"
            "  ~ field list 1 \"Organizer Contacts\"\n"
            "      ~ field 2 \"Given Name\"\n"
            "          szLabel: \"Given\" -> \"Vorname\"\n"
            "          dwAttributes: 0x0 -> 0x1\n"
            "field maps:\n"
            "  ~ field map 1 \"Generic to Organizer\"\n"
            "      entry 2: field 2 -> unmapped\n"
            "charmaps:\n"
            "  ~ charmap 1 \"Latin\"\n"
            "      abMap[0x41]: 0x41 -> 0x61\n"
            "table:\n"
            "  ~ nMainSystem: 1 -> 2\n");
  EXPECT_EQ(r.exit_code, 1);

  // Records that come and go, as JSON.
  WriteFile("c.txt", Table({{2, "COUNT=1"}, {9, "#"},        {10, "#"}, {11, "#"}, {12, "#"},
                            {13, "#"},      {15, "COUNT=1"}, {24, "#"}, {25, "#"}, {26, "#"},
                            {27, "#"},      {28, "#"},       {29, "#"}, {30, "#"}, {31, "#"},
                            {32, "#"},      {34, "COUNT=0"}, {35, "#"}, {36, "#"}, {37, "#"},
                            {38, "#"},      {39, "#"},       {40, "#"}, {41, "#"}, {42, "#"}}));
  r = Tool({"diff", "--json", "c.txt", "a.txt"});
  EXPECT_EQ(
      r.out,
      "{\"a\":\"c.txt\",\"b\":\"a.txt\",\"changes\":[\n"
      "{\"change\":\"added\",\"id\":2,\"kind\":\"system\",\"name\":\"Organizer\"},\n"
      "{\"change\":\"added\",\"id\":1,\"kind\":\"field list\",\"name\":\"Organizer Contacts\"},\n"
      "{\"change\":\"added\",\"id\":1,\"kind\":\"field map\",\"name\":\"Generic to Organizer\"}\n"
      "],\"same\":false}\n");
  EXPECT_EQ(r.exit_code, 1);

  r = Tool({"diff", "a.txt", "a.itb"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.exit_code, 0);
  r = Tool({"diff", "--json", "a.txt", "a.itb"});
  EXPECT_EQ(r.out, "{\"a\":\"a.txt\",\"b\":\"a.itb\",\"changes\":[],\"same\":true}\n");
  r = Tool({"diff", "a.txt", "none.itb"});
  EXPECT_EQ(r.err, "tbltool: none.itb: no such file\n");
  EXPECT_EQ(r.exit_code, 2);
}

// Sections by ID and in order, fields by position, and a map that shares
// another's record where it had its own.
TEST_F(TbltoolTest, DiffOfSectionsFieldsAndSharedMaps) {
  WriteFile("a.txt", Table());
  WriteFile(
      "b.txt",
      Table({{3, "SYSTEM=1,0,0,\"Generic\",GEN,,0,0,0,,0,Generic Sections,0,1001000000,0X0,1,0,3"},
             {7, "SECTION=2,3,\"Phone Book\",,0,,P,0X2,0,,0"},
             {8, "SECTION=1,0,\"Calendar\",,0,,C,0X2,0,,0\r\nSECTION=5,4,\"Tasks\",,0,,T,0X0,0,,0"},
             {21, "COUNT=1"},
             {23, "#"},
             {29, "COUNT=4"},
             {32,
              "FIELD=3,\"Email\",\"E-mail\",3,E,0,9,,,0X0,-1,0\r\n"
              "FIELD=4,\"Fax\",\"Fax\",4,P,0,9,,,0X0,-1,0"},
             {41, "COUNT=1"},
             {42, "MAP=3"}}));
  RunResult r = Tool({"diff", "a.txt", "b.txt"});
  EXPECT_EQ(r.out,
            "--- a.txt\n+++ b.txt\n"
            "systems:\n"
            "  ~ system 1 \"Generic\"\n"
            "      section order: 1, 2 -> 2, 1\n"
            "      + section 5 \"Tasks\"\n"
            "field lists:\n"
            "  ~ field list 0 \"Generic Phone Book\"\n"
            "      - field 2 \"First Name\"\n"
            "  ~ field list 1 \"Organizer Contacts\"\n"
            "      + field 4 \"Fax\"\n"
            "field maps:\n"
            "  ~ field map 1 \"Generic to Organizer\"\n"
            "      entry 1: field 1 -> field 3\n"
            "      entry 2: field 2 -> none\n");
  EXPECT_EQ(r.exit_code, 1);

  // A map that shares another's record comes out of import with a copy of
  // its own, as out of any table tblconv writes.
  ASSERT_EQ(Tool({"export", "a.txt", "-o", "a.json"}).exit_code, 0);
  std::string j = ReadFile("a.json");
  // Map 1 becomes map 3, and map 2 shares its record.
  const std::string head =
      "{\"nConfigID\":1,\"nSecType\":3,\"dwSource\":65538,\"dwTarget\":131073,\"nMapID\":1,";
  const size_t at = j.find(head);
  ASSERT_NE(at, std::string::npos);
  j.replace(
      at, head.size(),
      "{\"nConfigID\":2,\"nSecType\":3,\"dwSource\":65538,\"dwTarget\":131073,\"nMapID\":3},\n"
      "{\"nConfigID\":3,\"nSecType\":3,\"dwSource\":65538,\"dwTarget\":131073,\"nMapID\":3,");
  WriteFile("shared.json", j);
  ASSERT_EQ(Tool({"import", "shared.json", "shared.itb"}).exit_code, 0);
  r = Tool({"diff", "a.txt", "shared.itb"});
  EXPECT_EQ(r.out,
            "--- a.txt\n+++ shared.itb\n"
            "field maps:\n"
            "  - field map 1 \"Generic to Organizer\"\n"
            "  + field map 2 \"Generic to Organizer\"\n"
            "  + field map 3 \"Generic to Organizer\"\n");
}

// Each generated table through export and import comes back exactly as
// tblconv writes it, as text, as a binary table and as a split pair, and
// exporting the result again gives the same JSON.
TEST_F(TbltoolTest, ExportAndImportRoundTripGeneratedTables) {
  struct Run {
    const char* profile;
    unsigned from, to;
    const char* codepage;
  };
  for (const Run& run :
       {Run{"small", 1, 12, ""}, Run{"edge", 1, 4, "932"}, Run{"edge", 41, 43, ""}}) {
    if (*run.codepage) env_["TBLCONV_CODEPAGE"] = run.codepage;
    for (unsigned seed = run.from; seed <= run.to; ++seed) {
      SCOPED_TRACE(std::string(run.profile) + " seed " + std::to_string(seed));
      ASSERT_TRUE(Generate(seed, run.profile, "g.txt"));
      Conv({"/f", "g.txt", "/o", "ref.txt", "/o", "ref.itb"});
      Conv({"/f", "ref.itb", "ref2.itb"});
      ASSERT_EQ(Tool({"export", "g.txt", "-o", "g.json", "-f"}).exit_code, 0);
      ASSERT_EQ(Tool({"export", "ref.itb", "-o", "i.json", "-f"}).exit_code, 0);
      EXPECT_EQ(ReadFile("g.json"), ReadFile("i.json")) << "text and binary export alike";
      ASSERT_EQ(Tool({"import", "g.json", "out.txt", "-f"}).exit_code, 0);
      ASSERT_EQ(Tool({"import", "i.json", "out.itb", "-f"}).exit_code, 0);
      EXPECT_EQ(Body(ReadFile("out.txt")), Body(ReadFile("ref.txt")));
      EXPECT_TRUE(ReadFile("out.itb") == ReadFile("ref2.itb")) << "binary table differs";
      RunResult again = Tool({"export", "out.itb"});
      EXPECT_TRUE(again.out == ReadFile("i.json")) << "export of the import differs";
      RunResult same = Tool({"diff", "g.txt", "out.itb"});
      EXPECT_EQ(same.out, "");
      EXPECT_EQ(same.exit_code, 0);
      if (seed % 4 == 0) {
        // A split pair, and a script whose resource name has a suffix.
        Conv({"/f", "g.txt", "/o", "ref.itr"});
        std::string script = ReadFile("ref.itr");
        ASSERT_EQ(Tool({"export", "ref.itr", "-o", "p.json", "-f"}).exit_code, 0);
        EXPECT_EQ(ReadFile("p.json"), ReadFile("g.json"));
        ASSERT_EQ(Tool({"import", "p.json", "out.itr", "-f"}).exit_code, 0);
        EXPECT_TRUE(ReadFile("out.itr") == ReadFile("ref.itr")) << "string table differs";
        EXPECT_TRUE(Script(ReadFile("out.itf")) == Script(ReadFile("ref.itf")))
            << "keyed script differs";
        Conv({"/f", "g.txt", "/o", "plain.rc2"});
        std::string rc2 = ReadFile("plain.rc2");
        rc2.replace(0, rc2.find(' '), "_ZELM_ITB_TABLE_abc");
        WriteFile("abc.rc2", rc2);
        Conv({"/f", "abc.rc2", "/o", "ref.rc2"});
        ASSERT_EQ(Tool({"export", "abc.rc2", "-o", "s.json", "-f"}).exit_code, 0);
        ASSERT_EQ(Tool({"import", "s.json", "out.rc2", "-f"}).exit_code, 0);
        EXPECT_EQ(ReadFile("ref.rc2").substr(0, 34), "_ZELM_ITB_TABLE_ABC RCDATA BEGIN\r\n");
        EXPECT_TRUE(Script(ReadFile("out.rc2")) == Script(ReadFile("ref.rc2"))) << "script differs";
      }
      if (HasFailure()) return;
    }
    env_.erase("TBLCONV_CODEPAGE");
  }
}

TEST_F(TbltoolTest, ImportCarriesEveryByteAndRefusesWhatItCannot) {
  WriteFile("t.txt", Table());
  ASSERT_EQ(Tool({"export", "t.txt", "-o", "t.json"}).exit_code, 0);
  const std::string json = ReadFile("t.json");
  const std::string text2 = "\"szSysText2\":\"\"";
  ASSERT_NE(json.find(text2), std::string::npos);

  // Every byte value but NUL, as export writes them, through a binary table
  // and out again unchanged.
  std::string all;
  for (int b = 1; b < 256; ++b) {
    static const char* const kC1 = "\\u00";
    if (b == '"' || b == '\\') {
      all += '\\';
      all += static_cast<char>(b);
    } else if (b < 0x20 || b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 ||
               b == 0x9D) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "%s%02x", kC1, b);
      all += buf;
    } else if (b < 0x80) {
      all += static_cast<char>(b);
    } else {
      static const char32_t kHigh[32] = {
          0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
          0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
          0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
      char32_t c = b < 0xA0 ? kHigh[b - 0x80] : static_cast<char32_t>(b);
      if (c < 0x800) {
        all += static_cast<char>(0xC0 | (c >> 6));
        all += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        all += static_cast<char>(0xE0 | (c >> 12));
        all += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        all += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
  }
  std::string bytes = json;
  bytes.replace(bytes.find(text2), text2.size(),
                "\"szSysText2\":\"" + all + "\",\"szSysText2Tail\":\"00ff\"");
  WriteFile("all.json", bytes);
  RunResult r = Tool({"import", "all.json", "all.itb"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Tool({"export", "all.itb"}).out == bytes);

  struct Case {
    std::string from, to, err;
  };
  const Case cases[] = {
      {"\"szName\":\"Generic\"", "\"szName\":\"Gen\xE4\xB8\xADric\"",
       "tbltool: bad.json: systems[0].szName: character U+4E2D has no byte in the mapping (see "
       "docs/json.md)\n"},
      {"\"nClass\":0", "\"nClass\":40000",
       "tbltool: bad.json: systems[0].nClass: must be an integer from -32768 to 32767\n"},
      {"\"nClass\":0", "\"nKlass\":0",
       "tbltool: bad.json: systems[0]: unknown member \"nKlass\"\n"},
      {"\"szTranslator\":\"GEN\"", "\"szTranslator\":\"GENERICTRANSL\"",
       "tbltool: bad.json: systems[0].szTranslator: 13 bytes do not fit in 12\n"},
      {"\"format\":", "\"fromat\":", "tbltool: bad.json: fromat: is no member of a table export\n"},
      {"\"systems\":[", "\"systems\":[}",
       "tbltool: bad.json: parse error at line 4, column 12: syntax error while parsing value - "
       "unexpected '}'; expected '[', '{', or a literal\n"},
  };
  for (const Case& c : cases) {
    std::string j = json;
    ASSERT_NE(j.find(c.from), std::string::npos) << c.from;
    j.replace(j.find(c.from), c.from.size(), c.to);
    WriteFile("bad.json", j);
    r = Tool({"import", "bad.json", "bad.itb", "-f"});
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_FALSE(Exists("bad.itb"));
  }
  r = Tool({"import", "t.json", "all.itb"});
  EXPECT_EQ(r.err, "tbltool: all.itb exists; -f replaces it\n");
  EXPECT_EQ(r.exit_code, 2);

  // What only a binary table holds: an alias of a missing system and a name
  // the text form cannot carry, found by check.
  std::string odd = json;
  const std::string list1 = "{\"id\":1,\"nAppID\":2,";
  odd.replace(odd.find(list1), list1.size(),
              "{\"id\":5,\"nAppID\":9,\"nSectionID\":0,\"nSecType\":0,\"szName\":\"Lost\","
              "\"cMark\":\"\",\"fields\":[]},\n" +
                  list1);
  odd.replace(odd.find("\"Generic\""), 9, "\"Gen,eric\"");
  WriteFile("odd.json", odd);
  ASSERT_EQ(Tool({"import", "odd.json", "odd.itb"}).exit_code, 0);
  r = Tool({"check", "odd.itb"});
  EXPECT_EQ(r.out,
            "odd.itb: block 0x32c4 (system 1): error: system name \"Gen,eric\" holds a comma, "
            "which the text form cannot carry\n"
            "odd.itb: block 0x43c4 (field list 5): error: alias \"Lost\" (field list 5) names "
            "system 9, which is not in the table\n");
  EXPECT_EQ(r.exit_code, 1);
}

TEST_F(TbltoolTest, UsageHelpAndVersion) {
  RunResult r = Tool({"--version"});
  EXPECT_EQ(r.out, "tbltool 1.0.0\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(Tool({"diff", "--version"}).out, "tbltool 1.0.0\n");
  for (const char* cmd : {"check", "info", "diff", "export", "import"}) {
    r = Tool({cmd, "--help"});
    EXPECT_EQ(r.out.substr(0, 15 + std::string(cmd).size()), std::string("Usage: tbltool ") + cmd);
    EXPECT_EQ(r.exit_code, 0);
  }
  EXPECT_EQ(Tool({"--help"}).out.substr(0, 35), "Usage: tbltool COMMAND [OPTIONS] FI");

  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{}, "tbltool: no command given\nTry 'tbltool --help'.\n"},
      {{"convert"}, "tbltool: unknown command convert\nTry 'tbltool --help'.\n"},
      {{"check"}, "tbltool check: no file given\nTry 'tbltool check --help'.\n"},
      {{"check", "-o", "x", "t.txt"},
       "tbltool check: unknown option -o\nTry 'tbltool check --help'.\n"},
      {{"info", "a.txt", "b.txt"},
       "tbltool info: one file at a time\nTry 'tbltool info --help'.\n"},
      {{"diff", "a.txt"}, "tbltool diff: give two tables\nTry 'tbltool diff --help'.\n"},
      {{"export", "a.txt", "-o"},
       "tbltool export: -o needs a file name\nTry 'tbltool export --help'.\n"},
      {{"import", "a.json", "a.fil"},
       "tbltool import: a module (.fil) cannot be written\nTry 'tbltool import --help'.\n"},
      {{"check", "a.txt", "-3"},
       "tbltool check: a version option must stand before a file name\nTry 'tbltool check "
       "--help'.\n"},
  };
  for (const Case& c : cases) {
    r = Tool(c.args);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.exit_code, 2);
  }
}

}  // namespace
