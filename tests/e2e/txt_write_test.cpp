// Text tables written by the tool: hand-checked expected files for versions
// 2, 3 and 4, round trips text -> .itb -> text for every version and for
// generated tables, and what a user sees when an output cannot be written.
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

TEST_F(TxtWriteTest, AnOutputThatCannotBeCreatedFailsTheRunButNotTheOtherOutputs) {
  WriteFile("in.txt", SourceFile("tests/data/txt/golden_in.txt"));
  RunResult r = Run({"in.txt", "/o", "missing/out.txt", "/o", "out.txt"});
  EXPECT_EQ(r.exit_code, e2e::kExitFail);
  EXPECT_NE(r.out.find("Unable to open file missing/out.txt\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("QVTB file name:  missing/out.txt"), std::string::npos) << r.out;
  EXPECT_EQ(ReadFile("out.txt"), SourceFile("tests/data/txt/golden_v4.txt"));
}

}  // namespace
