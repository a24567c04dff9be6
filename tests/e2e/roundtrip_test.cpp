// Generated tables through every table form and back: binary, text versions
// 2 to 4, resource scripts and split pairs of versions 3 and 4, and a merge
// of a table with itself. Each comes back as the same version-4 text, except
// for what a version cannot carry: versions 2 and 3 have no SYSTEMEX lines
// and no TABLE block, and version 2 no SECID line and no map code in its
// FIELD lines.
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using e2e::RunResult;
using Env = std::map<std::string, std::string>;

// The text after the file-name line.
std::string Body(const std::string& text) {
  size_t eol = text.find("\r\n");
  return eol == std::string::npos ? std::string() : text.substr(eol + 2);
}

// The record lines a table of `version` carries, one per line.
std::string Carried(const std::string& text, int version) {
  static const char* const kV4Only[] = {
      "SYSTEMEX1=", "SYSTEMEX2=", "SYSTEMEX3=",   "TYPE=TABLE",      "MAINSYSTEM=",
      "MAINCLASS=", "PRODUCTID=", "BUNDLEDFLAG=", "ENABLEDPRODUCTS="};
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    size_t eol = text.find("\r\n", at);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(at, eol - at);
    at = eol + 2;
    if (line.empty() || line[0] == '#') continue;
    bool drop = false;
    for (const char* key : kV4Only) drop = drop || (version < 4 && line.rfind(key, 0) == 0);
    if (drop || (version == 2 && line.rfind("SECID=", 0) == 0)) continue;
    if (version == 2 && line.rfind("FIELD=", 0) == 0) {
      // Subfield 12 (the map code) follows the eleventh comma; names hold none.
      size_t cut = 0;
      for (int k = 0; k < 11 && cut != std::string::npos; ++k) cut = line.find(',', cut + 1);
      if (cut != std::string::npos) line.resize(cut);
    }
    out += line + "\n";
  }
  return out;
}

// Equal texts, or the first line where they part (tables are too big to
// print whole).
::testing::AssertionResult Same(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  size_t at = 0, line = 1;
  while (at < got.size() && at < want.size() && got[at] == want[at]) {
    if (got[at] == '\n') ++line;
    ++at;
  }
  size_t from = got.rfind('\n', at == 0 ? 0 : at - 1);
  from = (from == std::string::npos) ? 0 : from + 1;
  auto show = [&](const std::string& s) {
    return s.substr(from, s.find('\n', from) - from).substr(0, 200);
  };
  return ::testing::AssertionFailure()
         << "line " << line << " differs:\n  got:  " << show(got) << "\n  want: " << show(want);
}

class RoundTripTest : public e2e::ToolTest {
 protected:
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
  // Runs a conversion that must complete.
  bool Ok(const std::vector<std::string>& args) {
    RunResult r = Run(args, env_);
    std::string line;
    for (const auto& a : args) line += a + " ";
    EXPECT_EQ(r.exit_code, 0) << line << "\n" << r.out << r.err;
    return r.exit_code == 0;
  }
  // Reads `in` (with its forced version, if any) back into version-4 text.
  std::string Back(const std::vector<std::string>& in) {
    std::vector<std::string> args = {"/f"};
    args.insert(args.end(), in.begin(), in.end());
    args.push_back("back.txt");
    if (!Ok(args)) return "(failed)";
    return ReadFile("back.txt");
  }

  // One generated table through every form; with `lower`, also through the
  // forms of versions 2 and 3.
  void CheckSeed(unsigned seed, const char* profile, bool lower) {
    SCOPED_TRACE(std::string(profile) + " seed " + std::to_string(seed));
    ASSERT_TRUE(Generate(seed, profile, "gen.txt"));
    const std::string gen = Body(ReadFile("gen.txt"));
    ASSERT_TRUE(Ok({"/f", "gen.txt", "/o", "t.itb", "/o", "t.rc2", "/o", "t.itr"}));
    EXPECT_TRUE(Same(Body(Back({"t.itb"})), gen)) << "binary";
    EXPECT_TRUE(Same(Body(Back({"t.itb", "t.itb"})), gen)) << "binary merged with itself";
    EXPECT_TRUE(Same(Body(Back({"t.rc2"})), gen)) << "resource script 4";
    EXPECT_TRUE(Same(Body(Back({"t.itr"})), gen)) << "split pair 4";
    if (!lower) return;
    const std::string v3 = Carried(gen, 3), v2 = Carried(gen, 2);
    ASSERT_TRUE(Ok({"/f", "gen.txt", "/3", "t3.txt"}));
    ASSERT_TRUE(Ok({"/f", "gen.txt", "/2", "t2.txt"}));
    ASSERT_TRUE(Ok({"/f", "gen.txt", "/3", "t3.rc2"}));
    ASSERT_TRUE(Ok({"/f", "gen.txt", "/3", "t3.itr"}));
    EXPECT_TRUE(Same(Carried(Back({"/3", "t3.txt"}), 3), v3)) << "text 3";
    EXPECT_TRUE(Same(Carried(Back({"/2", "t2.txt"}), 2), v2)) << "text 2";
    EXPECT_TRUE(Same(Carried(Back({"/3", "t3.rc2"}), 3), v3)) << "resource script 3";
    EXPECT_TRUE(Same(Carried(Back({"/3", "t3.itr"}), 3), v3)) << "split pair 3";
    // A lower version written again from what it carried is the same file.
    ASSERT_TRUE(Ok({"/f", "/3", "t3.txt", "/3", "again.txt"}));
    EXPECT_TRUE(Same(Body(ReadFile("again.txt")), Body(ReadFile("t3.txt")))) << "text 3 again";
    ASSERT_TRUE(Ok({"/f", "/2", "t2.txt", "/2", "again.txt"}));
    EXPECT_TRUE(Same(Body(ReadFile("again.txt")), Body(ReadFile("t2.txt")))) << "text 2 again";
  }

  Env env_;
};

TEST_F(RoundTripTest, CarriedDropsWhatLowerVersionsLack) {
  const std::string text =
      "# QVTB file name:  x\r\nTYPE=SYSTEM\r\nSYSTEMEX1=8,0X1\r\n"
      "FIELD=1,\"a\",\"b^c\",1,C,0,0,,,0X0,0,77\r\nTYPE=TABLE\r\nMAINSYSTEM=2\r\n";
  EXPECT_EQ(Carried(text, 4),
            "TYPE=SYSTEM\nSYSTEMEX1=8,0X1\nFIELD=1,\"a\",\"b^c\",1,C,0,0,,,0X0,0,77\n"
            "TYPE=TABLE\nMAINSYSTEM=2\n");
  EXPECT_EQ(Carried(text, 3), "TYPE=SYSTEM\nFIELD=1,\"a\",\"b^c\",1,C,0,0,,,0X0,0,77\n");
  EXPECT_EQ(Carried(text + "SECID=3\r\n", 2),
            "TYPE=SYSTEM\nFIELD=1,\"a\",\"b^c\",1,C,0,0,,,0X0,0\n");
  EXPECT_TRUE(Same("a\nb\nc\n", "a\nb\nc\n"));
  EXPECT_EQ(std::string(Same("a\nbx\nc\n", "a\nby\nc\n").message()),
            "line 2 differs:\n  got:  bx\n  want: by");
}

// Several hundred small tables full of corner cases; every third also
// through the lower versions.
TEST_F(RoundTripTest, GeneratedTablesLoseNothingInAnyForm) {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    CheckSeed(seed, "small", seed % 3 == 0);
    if (HasFatalFailure() || HasFailure()) return;
  }
}

// Texts at their longest or empty, every field type character, the highest
// ID of each record kind, double-byte names read as code page 932.
TEST_F(RoundTripTest, LongestNamesTopIdsAndDoubleByteNamesUnderCodePage932) {
  env_["TBLCONV_CODEPAGE"] = "932";
  for (unsigned seed = 1; seed <= 40; ++seed) {
    CheckSeed(seed, "edge", true);
    if (HasFatalFailure() || HasFailure()) return;
  }
}

// The same bytes without a double-byte code page are single-byte text.
TEST_F(RoundTripTest, DoubleByteBytesSurviveWithoutACodePage) {
  for (unsigned seed = 41; seed <= 50; ++seed) {
    CheckSeed(seed, "edge", true);
    if (HasFatalFailure() || HasFailure()) return;
  }
}

}  // namespace
