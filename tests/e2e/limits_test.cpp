// Tables at the edges of what a form takes, made by code because a case file
// would have to spell out a thousand records.
#include <string>

#include "harness.h"

namespace e2e {
namespace {

using LimitsTest = ToolTest;

// A text table of one system and field lists of the IDs 0 to 1023 but `skip`.
std::string ManyLists(int skip) {
  std::string t =
      "TYPE=SYSTEM\r\nCOUNT=1\r\n"
      "SYSTEM=1,0,0,\"One\",ONE,,0,0,0,,0,S,0,1000000000,0X0,0,0,1\r\n"
      "SECTION=1,0,\"A\",,0,,,0X2,0,,0\r\n"
      "TYPE=FIELDS\r\nCOUNT=" +
      std::to_string(skip < 0 ? 1024 : 1023) + "\r\n";
  for (int id = 0; id < 1024; ++id) {
    if (id == skip) continue;
    t += "LISTID=" + std::to_string(id) +
         "\r\nAPP=1\r\nSECID=1\r\nSECTYPE=0\r\nNAME=L\r\n"
         "COUNT=1\r\nFIELD=1,\"A\",\"A\",1,C,0,9,,,0X0,-1,0\r\n";
  }
  return t + "TYPE=MAPS\r\nCOUNT=0\r\n";
}

// With every field-list ID a text table can hold in use, no ID is left for
// an alias that reads back: the alias is refused, not written under an ID
// the reader refuses with 13. With an ID below 1000 free, it takes that.
TEST_F(LimitsTest, AliasIdsStayWhereTheReaderTakesThem) {
  WriteFile("alias.sub",
            "MAIN_CLASS=1\r\nMAIN_SYSTEM=1\r\nCOUNT=1\r\nSYSTEM=1,0,0,X\r\n"
            "ALIASES=1\r\nALIAS=1,Everything\r\n");
  WriteFile("full.txt", ManyLists(-1));
  RunResult r = Run({"/3", "full.txt", "/s", "alias.sub", "/3", "cut.txt"});
  EXPECT_EQ(r.exit_code, kExitFail);
  EXPECT_TRUE(Contains(r.out,
                       "***ERROR: Cannot create ALIAS record\n"
                       "Processing aborted due to error code 13\n"))
      << r.out;
  EXPECT_FALSE(Exists("cut.txt"));

  WriteFile("gap.txt", ManyLists(500));
  r = Run({"/3", "gap.txt", "/s", "alias.sub", "/3", "cut2.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(
      Contains(ReadFile("cut2.txt"),
               "LISTID=500\r\nAPP=1\r\nSECID=0\r\nSECTYPE=0\r\nNAME=Everything\r\nCOUNT=0\r\n"));
  r = Run({"/3", "cut2.txt", "/3", "back.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
}

}  // namespace
}  // namespace e2e
