// tbltool diff end to end: every kind of change between two forms of a
// small table, grouped and in order, as text and as JSON.
#include <map>
#include <string>
#include <vector>

#include "tbltool_fixture.h"

namespace tbltool_e2e {
namespace {

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

}  // namespace
}  // namespace tbltool_e2e
