// Generated tables through every table form and back: binary, text versions
// 2 to 4, resource scripts and split pairs of versions 3 and 4, and a merge
// of a table with itself. Each comes back as the same version-4 text, except
// for what a version cannot carry: versions 2 and 3 have no SYSTEMEX lines
// and no TABLE block, and version 2 no SECID line and no map code in its
// FIELD lines. A lower version comes back through .itb as the same file.
#include <map>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {
namespace {

// The record lines a table of `version` carries, one per line.
std::string Carried(const std::string& text, int version) {
  static const char* const kV4Only[] = {
      "SYSTEMEX1=", "SYSTEMEX2=", "SYSTEMEX3=",   "TYPE=TABLE",      "MAINSYSTEM=",
      "MAINCLASS=", "PRODUCTID=", "BUNDLEDFLAG=", "ENABLEDPRODUCTS="};
  std::string out;
  for (size_t at = 0; at < text.size();) {
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

// Equal texts, or where they part.
::testing::AssertionResult Same(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << Difference(got.substr(0, 100000), want.substr(0, 100000));
}

class RoundTripTest : public ToolTest {
 protected:
  // Runs a conversion that must complete.
  bool Ok(const std::vector<std::string>& args) {
    RunResult r = Run(args, env_);
    std::string line;
    for (const auto& a : args) line += a + " ";
    EXPECT_EQ(r.exit_code, 0) << line << "\n" << r.out << r.err;
    last_ = r.out;
    return r.exit_code == 0;
  }
  // Reads `in` (with its forced version, if any) back into version-4 text.
  std::string Back(const std::vector<std::string>& in) {
    std::vector<std::string> args = {"/f"};
    args.insert(args.end(), in.begin(), in.end());
    args.push_back("back.txt");
    return Ok(args) ? ReadFile("back.txt") : "(failed)";
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
    for (int v : {3, 2}) {
      const std::string n = std::to_string(v), text = "t" + n + ".txt";
      ASSERT_TRUE(Ok({"/f", "gen.txt", "/" + n, text}));
      EXPECT_TRUE(Same(Carried(Back({"/" + n, text}), v), Carried(gen, v))) << "text " << v;
      // Written again from what it carried, through .itb: the same file.
      ASSERT_TRUE(Ok({"/f", "/" + n, text, "t" + n + ".itb"}));
      ASSERT_TRUE(Ok({"/f", "t" + n + ".itb", "/" + n, "again.txt"}));
      EXPECT_TRUE(Same(Body(ReadFile("again.txt")), Body(ReadFile(text))))
          << "text " << v << " again";
    }
    ASSERT_TRUE(Ok({"/f", "gen.txt", "/3", "t3.rc2"}));
    ASSERT_TRUE(Ok({"/f", "gen.txt", "/3", "t3.itr"}));
    EXPECT_TRUE(Same(Carried(Back({"/3", "t3.rc2"}), 3), Carried(gen, 3))) << "resource script 3";
    EXPECT_TRUE(Same(Carried(Back({"/3", "t3.itr"}), 3), Carried(gen, 3))) << "split pair 3";
  }

  std::map<std::string, std::string> env_;
  std::string last_;  // standard output of the last run
};

// Several hundred small tables full of corner cases; every third also
// through the lower versions.
TEST_F(RoundTripTest, GeneratedTablesLoseNothingInAnyForm) {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    CheckSeed(seed, "small", seed % 3 == 0);
    if (HasFailure()) return;
  }
}

// Texts at their longest or empty, every field type character, the highest
// ID of each record kind, double-byte names read as code page 932.
TEST_F(RoundTripTest, LongestNamesTopIdsAndDoubleByteNamesUnderCodePage932) {
  env_["TBLCONV_CODEPAGE"] = "932";
  for (unsigned seed = 1; seed <= 40; ++seed) {
    CheckSeed(seed, "edge", true);
    if (HasFailure()) return;
  }
}

// The same bytes without a double-byte code page are single-byte text.
TEST_F(RoundTripTest, DoubleByteBytesSurviveWithoutACodePage) {
  for (unsigned seed = 41; seed <= 50; ++seed) {
    CheckSeed(seed, "edge", true);
    if (HasFailure()) return;
  }
}

// A table near the formats' limits in size: through .itb whole, its long
// lines written whole with their warning; merged with itself, which piles up
// enough dead blocks to compact the working table, it is the same table.
TEST_F(RoundTripTest, LargestGeneratedTableComesBackWhole) {
  ASSERT_TRUE(Generate(7, "max", "gen.txt"));
  ASSERT_TRUE(Ok({"gen.txt", "rt.itb"}));
  ASSERT_TRUE(Ok({"rt.itb", "rt.txt"}));
  EXPECT_TRUE(Same(Body(ReadFile("rt.txt")), Body(ReadFile("gen.txt"))));
  EXPECT_TRUE(Contains(last_, "***WARNING: Line longer than 509 characters: MAP\n"));
  ASSERT_TRUE(Ok({"rt.itb", "once.itb"}));
  ASSERT_TRUE(Ok({"rt.itb", "rt.itb", "rt.itb", "merged.itb"}));
  EXPECT_TRUE(ReadFile("merged.itb") == ReadFile("once.itb"));
}

}  // namespace
}  // namespace e2e
