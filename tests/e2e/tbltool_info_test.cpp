// tbltool info end to end, and what every command says of its usage: the
// exact output and exit codes a user sees.
#include <map>
#include <string>
#include <vector>

#include "tbltool_fixture.h"

namespace tbltool_e2e {
namespace {

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
}  // namespace tbltool_e2e
