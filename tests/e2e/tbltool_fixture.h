// What the tbltool end-to-end tests share: a small table that each test
// changes in known places, the helpers that strip what a written file names
// of its making, and the fixture that runs tbltool and tblconv as a user
// runs them.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "harness.h"

namespace tbltool_e2e {

using e2e::RunResult;

// Two systems (three sections), two field lists, a map and a charmap. Tests
// change single lines, by their number from 1.
inline std::vector<std::string> BaseLines() {
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

inline std::string Table(const std::map<int, std::string>& changes = {}) {
  std::vector<std::string> l = BaseLines();
  for (const auto& [line, text] : changes) l[static_cast<size_t>(line - 1)] = text;
  std::string out;
  for (const std::string& s : l) out += s + "\r\n";
  return out;
}

// The text after its first line (the writer's file-name line).
inline std::string Body(const std::string& text) {
  size_t eol = text.find('\n');
  return eol == std::string::npos ? std::string() : text.substr(eol + 1);
}
// A script without its second line, which names the temporary text table
// it was made from.
inline std::string Script(const std::string& text) {
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

}  // namespace tbltool_e2e
