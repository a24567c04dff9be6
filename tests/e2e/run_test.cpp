// Whole runs: which messages reach the console and which the log file, the
// exit code after a stop or a failed output, refused file kinds, and no
// temporary table left behind.
#include <sstream>
#include <string>

#include "cli_tables.h"
#include "harness.h"

namespace e2e {
namespace {

std::string WithoutNameLines(const std::string& text) {
  std::istringstream in(text);
  std::string out;
  for (std::string line; std::getline(in, line);)
    if (!Contains(line, "file name:")) out += line + "\n";
  return out;
}

class RunTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    WriteFile("in.txt", kSmallTable);
  }
  void MakeItb(const std::string& name) {
    RunResult r = Run({"in.txt", name});
    ASSERT_EQ(r.exit_code, 0) << r.out;
  }
};

TEST_F(RunTest, MessagesReachConsoleAndLogByLevel) {
  WriteFile("run.log", "old content\n");
  RunResult r = Run({"in.txt", "out.itb", "/l", "run.log"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  std::string log = ReadText("run.log");

  // Step lines (60) reach both, with the newline the callback adds.
  EXPECT_TRUE(Contains(r.out, "\nReading Version 4 TXT table file in.txt\n\n")) << r.out;
  EXPECT_TRUE(Contains(log, "\nReading Version 4 TXT table file in.txt\n\n")) << log;
  EXPECT_TRUE(Contains(r.out, "\nWriting Version 4 ITB table file out.itb\n\n")) << r.out;
  EXPECT_TRUE(Contains(log, "   System 1: Address Book\n")) << log;
  EXPECT_TRUE(Contains(r.out, "   System 1: Address Book\n")) << r.out;
  // Level 40 only in the log, level 20 nowhere.
  EXPECT_TRUE(Contains(log, "      Section 1: Contacts\n")) << log;
  EXPECT_FALSE(Contains(r.out, "Section 1: Contacts")) << r.out;
  EXPECT_FALSE(Contains(log, "Field 1: Last Name")) << log;
  EXPECT_FALSE(Contains(r.out, "Field 1: Last Name")) << r.out;
  // Parsing is over before the log opens; the old log was emptied.
  EXPECT_FALSE(Contains(log, "Parsing Args")) << log;
  EXPECT_FALSE(Contains(r.out, "Parsing Args")) << r.out;
  EXPECT_FALSE(Contains(log, "old content")) << log;
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(RunTest, VerboseShowsEverythingExceptWhatComesBeforeTheOptions) {
  RunResult r = Run({"/v", "in.txt", "out.itb", "-e", "run.log"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  std::string log = ReadText("run.log");
  EXPECT_TRUE(Contains(r.out, "      Section 1: Contacts\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "      Field 1: Last Name\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "      Field 2: First Name\n")) << r.out;
  EXPECT_TRUE(Contains(log, "      Field 2: First Name\n")) << log;
  EXPECT_FALSE(Contains(r.out, "Parsing Args")) << r.out;

  // Quiet after verbose turns it off again.
  r = Run({"/v", "/q", "in.txt", "out2.itb"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_FALSE(Contains(r.out, "Section 1: Contacts")) << r.out;
}

TEST_F(RunTest, LogFileRules) {
  // A log in a missing directory: the run goes on without a word about it.
  RunResult r = Run({"in.txt", "out.itb", "/l", "nodir/run.log"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_FALSE(Contains(r.out, "run.log")) << r.out;
  EXPECT_FALSE(Exists("nodir"));

  // Only the first of two logs is written.
  r = Run({"/l", "first.log", "in.txt", "/l", "second.log", "out2.itb"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(ReadText("first.log"), "out2.itb"));
  EXPECT_FALSE(Exists("second.log"));
}

TEST_F(RunTest, ExitMessagesStayOffTheLog) {
  MakeItb("t.itb");
  RunResult r = Run({"/l", "run.log", "/2", "t.itb", "out.txt"});
  EXPECT_EQ(r.exit_code, kExitFail);
  EXPECT_EQ(r.out, "\nError: Version 2 ITB files not supported (file t.itb )\nError: Exit\n");
  EXPECT_EQ(ReadText("run.log"), "\nError: Version 2 ITB files not supported (file t.itb )\n");
  EXPECT_FALSE(Exists("out.txt"));
  EXPECT_TRUE(TempFiles().empty());

  r = Run({"/3", "t.itb", "out.txt"});
  EXPECT_EQ(r.exit_code, kExitFail);
  EXPECT_EQ(r.out, "\nError: Version 3 ITB files not supported (file t.itb )\nError: Exit\n");
}

TEST_F(RunTest, StopsOnUnreadableInputsWithoutLeavingTheTable) {
  WriteFile("bad.itb", std::string(200, 'x'));
  RunResult r = Run({"in.txt", "bad.itb", "/o", "out.txt"});
  EXPECT_EQ(r.exit_code, kExitFail);
  EXPECT_TRUE(StartsWith(r.out, "\nReading Version 4 TXT table file in.txt\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "\nReading Version 4 ITB table file bad.itb\n")) << r.out;
  EXPECT_TRUE(EndsWith(r.out, "\nError: Bad file format or a resource missing.\n")) << r.out;
  EXPECT_FALSE(Exists("out.txt"));
  EXPECT_TRUE(TempFiles().empty());

  WriteFile("in.doc", "whatever");
  r = Run({"in.doc", "out.txt"});
  EXPECT_EQ(r.exit_code, kExitFail);
  EXPECT_EQ(r.out,
            "\nInternal Error: unrecognised filetype attempting to read file in.doc\n"
            "Error: Exit\n");
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(RunTest, NoTemporaryTableNoRun) {
  RunResult r = Run({"in.txt", "out.itb"},
                    {{"TMPDIR", Path("missing")}, {"TMP", Path("missing")}});
  EXPECT_EQ(r.exit_code, kExitFail);
  EXPECT_EQ(r.out, "Error: Exit\n");
  EXPECT_FALSE(Exists("out.itb"));
}

TEST_F(RunTest, RefusedOutputsDoNotStopTheOthers) {
  RunResult r = Run({"in.txt", "/o", "out.fil", "/o", "out.txt", "/o", "out.doc"});
  EXPECT_EQ(r.exit_code, kExitFail);
  EXPECT_TRUE(Contains(
      r.out, "\nOutput to Version 4 Binary (Resource) file not supported (filename out.fil )\n"))
      << r.out;
  EXPECT_TRUE(Contains(r.out, "\nWriting Version 4 TXT table file out.txt\n")) << r.out;
  EXPECT_TRUE(Contains(r.out,
                       "\nInternal Error: unrecognized filetype attempting to write file out.doc\n"))
      << r.out;
  EXPECT_FALSE(Contains(r.out, "Error: Exit")) << r.out;
  EXPECT_TRUE(Exists("out.txt"));
  EXPECT_FALSE(Exists("out.fil"));
  EXPECT_TRUE(TempFiles().empty());

  r = Run({"in.txt", "/3", "v3.fil"});
  EXPECT_EQ(r.exit_code, kExitFail);
  EXPECT_TRUE(Contains(
      r.out, "\nOutput to Version 3 Binary (Resource) file not supported (filename v3.fil )\n"))
      << r.out;

  r = Run({"in.txt", "/2", "v2.itb"});
  EXPECT_EQ(r.exit_code, kExitFail);
  EXPECT_TRUE(StartsWith(r.out, "\nReading Version 4 TXT table file in.txt\n")) << r.out;
  EXPECT_TRUE(Contains(r.out,
                       "\nOutput to Version 2 Binary table file not supported (filename v2.itb )\n"))
      << r.out;
  r = Run({"in.txt", "/3", "v3.itb"});
  EXPECT_EQ(r.exit_code, kExitFail);
  EXPECT_TRUE(Contains(r.out,
                       "\nOutput to Version 3 Binary table file not supported (filename v3.itb )\n"))
      << r.out;
  EXPECT_FALSE(Exists("v2.itb"));
  EXPECT_FALSE(Exists("v3.itb"));
}

TEST_F(RunTest, BinaryRoundTripKeepsTheTable) {
  MakeItb("t.itb");
  RunResult r = Run({"t.itb", "back.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  r = Run({"in.txt", "direct.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(WithoutNameLines(ReadFile("back.txt")), WithoutNameLines(ReadFile("direct.txt")));
  EXPECT_TRUE(Contains(ReadFile("back.txt"), "PRODUCTID=7\r\n"));
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(RunTest, FailedModifierStillWritesEveryOutput) {
  WriteFile("sub.txt", "# no records at all\r\n");
  RunResult r = Run({"in.txt", "/s", "sub.txt", "/o", "out.txt"});
  EXPECT_EQ(r.exit_code, kExitFail) << r.out;
  EXPECT_TRUE(Contains(r.out, "\nApplying Table Modifier file sub.txt\n\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "\nWriting Version 4 TXT table file out.txt\n")) << r.out;
  EXPECT_FALSE(Contains(r.out, "Error: Exit")) << r.out;
  RunResult ref = Run({"in.txt", "ref.txt"});
  ASSERT_EQ(ref.exit_code, 0) << ref.out;
  EXPECT_EQ(WithoutNameLines(ReadFile("out.txt")), WithoutNameLines(ReadFile("ref.txt")));
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(RunTest, FailedSplitReopensTheTableForTheNextOutput) {
  RunResult r = Run({"in.txt", "/o", "nodir/out.itr", "/o", "out.txt", "/o", "out.itb"});
  EXPECT_EQ(r.exit_code, kExitFail) << r.out;
  EXPECT_TRUE(Contains(r.out, "\nWriting Version 4 ITR table file nodir/out.itr\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, " trying to split .itf/.itr ")) << r.out;
  RunResult ref = Run({"in.txt", "ref.txt"});
  ASSERT_EQ(ref.exit_code, 0) << ref.out;
  EXPECT_EQ(WithoutNameLines(ReadFile("out.txt")), WithoutNameLines(ReadFile("ref.txt")));
  EXPECT_TRUE(Exists("out.itb"));
  EXPECT_TRUE(TempFiles().empty());
}

}  // namespace
}  // namespace e2e
