// tbltool check end to end: each problem of a small table, changed in known
// places, reported where it stands in every form (text, script, split pair,
// module, binary table), with the exact message and exit code.
#include <map>
#include <string>
#include <vector>

#include "../../src/platform/pe_test_builder.h"
#include "tbltool_fixture.h"

namespace tbltool_e2e {
namespace {

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

}  // namespace
}  // namespace tbltool_e2e
