// The command line as a user meets it: the usage text, every refusal of the
// parser with and without /f, which name becomes the output, forced
// versions and wildcard inputs.
#include <string>

#include "cli_tables.h"
#include "harness.h"

namespace e2e {
namespace {

const std::string kUsage =
    "Usage:\n"
    "tblconv  [options] fname1 ... fnameN\n"
    "Combine and Convert between various Table formats.\n"
    "  Last filename specified defaults to the output file.\n"
    "  Wildcards are accepted for input filenames\n"
    "  All input files are read in, then modifications done, \n"
    "  then output is generated.\n"
    "Valid Filetypes:\n"
    "  Input files may be of type .itb, .itr, .txt, .rc2, or .fil.\n"
    "  Modifier files may be of type .txt\n"
    "  Output files may be of type .itb, .itr, .txt, or .rc2\n"
    "Valid Options:\n"
    "  /n fname   - Force table version N (eg. 2, 3, where valid)\n"
    "  /e fname   - Specify log filename\n"
    "  /l fname   - Specify log filename\n"
    "  /s fname   - Specify subset file\n"
    "  /i fname   - force file as input (must still have an output file)\n"
    "  /o fname   - force file as output\n"
    "  /?, /h     - Display this help\n"
    "  /q         - Quiet mode\n"
    "  /v         - Verbose mode\n"
    "Sample usage:  \n"
    "  tblconv tableold.itb *.fil tablenew.itb\n"
    "    Generate a new table from old, plus all table info in .fil files\n"
    "  tblconv table.txt table.itb\n"
    "    Convert from TXT table format to ITB table format\n"
    "  tblconv tableold.itb /s subset.txt tablenew.itb\n"
    "    read in tableold, subset according to subset.txt, and write out tablenew\n"
    "\n";
const std::string kExit = "Error: Exit\n";

// A parser message as the console shows it: the text, then the newline
// that the message callback adds.
std::string Shown(const std::string& text) { return text + "\n"; }

class CliTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    WriteFile("in.txt", kSmallTable);
  }
  // A run that the parser refuses: nothing but its messages, the usage when
  // asked for, and the exit message.
  void ExpectRefused(const std::vector<std::string>& args, const std::string& messages,
                     bool usage = true) {
    RunResult r = Run(args);
    EXPECT_EQ(r.exit_code, kExitFail);
    EXPECT_EQ(r.out, messages + (usage ? kUsage : "") + kExit);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(TempFiles().empty());
  }
};

TEST_F(CliTest, UsageText) {
  ExpectRefused({"/?"}, "");
  ExpectRefused({"-H"}, "");
  ExpectRefused({"/help", "in.txt", "out.txt"}, "");
  ExpectRefused({"in.txt", "?", "out.txt"}, "");
  ExpectRefused({}, Shown("Error: Not enough arguments\n"));

  // After /f a lone "?" is a file name like any other.
  RunResult r = Run({"/f", "?", "in.txt", "out.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(StartsWith(r.out, Shown("Error: argument 2 (?) Input File Not Found\n") +
                                    Shown("\nReading Version 4 TXT table file in.txt\n")))
      << r.out;
}

TEST_F(CliTest, OneFileIsNotEnough) {
  ExpectRefused({"in.txt"},
                Shown("Error: Option 1 (in.txt) expected filename to follow\n") +
                    Shown("Can not continue without a valid input file, and an output filename"));
  ExpectRefused({"/f", "in.txt"},
                Shown("Error: Option 2 (in.txt) expected filename to follow\n") +
                    Shown("Can not continue without a valid input file, and an output filename"));
}

TEST_F(CliTest, OptionWithoutFileName) {
  ExpectRefused({"in.txt", "out.txt", "/o"},
                Shown("Error: Option 3 (/o) expected filename to follow\n"));
  ExpectRefused({"in.txt", "/o", "/3", "out.txt"},
                Shown("Error: Option 2 (/o) expected filename to follow\n"));

  // Forced, the second option still applies: out.txt is written as version 3.
  RunResult r = Run({"/f", "in.txt", "/o", "/3", "out.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(StartsWith(r.out, Shown("Error: Option 3 (/o) expected filename to follow\n") +
                                    Shown("\nReading Version 4 TXT table file in.txt\n")))
      << r.out;
  EXPECT_TRUE(Contains(r.out, Shown("\nWriting Version 3 TXT table file out.txt\n"))) << r.out;
  EXPECT_TRUE(Exists("out.txt"));
}

TEST_F(CliTest, UnknownOption) {
  ExpectRefused({"in.txt", "/x", "out.txt"}, Shown("Error: argument 2 (/x) not recognized\n"));
  RunResult r = Run({"-f", "in.txt", "/xyz", "out.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(StartsWith(r.out, Shown("Error: argument 3 (/xyz) not recognized\n"))) << r.out;
  EXPECT_TRUE(Exists("out.txt"));
}

TEST_F(CliTest, MissingInputsAndModifiers) {
  ExpectRefused({"in.txt", "nothing.txt", "/o", "out.txt"},
                Shown("Error: argument 2 (nothing.txt) Input File Not Found\n"));
  ExpectRefused({"in.txt", "/s", "sub*.txt", "out.txt"},
                Shown("Error: argument 3 (sub*.txt) Modifier File Not Found\n"));

  RunResult r = Run({"/f", "in.txt", "nothing*.txt", "/s", "sub.txt", "/o", "out.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(StartsWith(r.out, Shown("Error: argument 3 (nothing*.txt) Input File Not Found\n") +
                                    Shown("Error: argument 5 (sub.txt) Modifier File Not Found\n") +
                                    Shown("\nReading Version 4 TXT table file in.txt\n")))
      << r.out;
  EXPECT_FALSE(Contains(r.out, "Applying Table Modifier")) << r.out;
  EXPECT_TRUE(Exists("out.txt"));
}

TEST_F(CliTest, ExistingOutput) {
  WriteFile("out.itb", "keep me");
  ExpectRefused({"in.txt", "out.itb"},
                Shown("Error: argument 2 (out.itb) Output File already exists.\n"));
  EXPECT_EQ(ReadFile("out.itb"), "keep me");

  RunResult r = Run({"/f", "in.txt", "out.itb"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(StartsWith(
      r.out, Shown("Error: argument 3 (out.itb) Output File already exists.\n") +
                 Shown("Forcing output.  Deleting pre-existing output file out.itb.\n") +
                 Shown("\nReading Version 4 TXT table file in.txt\n")))
      << r.out;
  EXPECT_NE(ReadFile("out.itb"), "keep me");
  EXPECT_GT(ReadFile("out.itb").size(), 28u);
}

TEST_F(CliTest, OutputOrLogThatIsAnInputIsRefusedEvenWithForce) {
  ExpectRefused({"/f", "in.txt", "in.txt"},
                Shown("Error: argument 3 (in.txt) is also an input file\n"), false);
  ExpectRefused({"/f", "in.txt", "/o", ArgPath("in.txt")},
                Shown("Error: argument 4 (" + ArgPath("in.txt").substr(0, 80) +
                      ") is also an input file\n"),
                false);
  WriteFile("sub.txt", "MAIN_CLASS=1\r\n");
  ExpectRefused({"in.txt", "/s", "sub.txt", "out.txt", "/l", "./sub.txt"},
                Shown("Error: argument 6 (./sub.txt) is also an input file\n"), false);
  ExpectRefused({"i*.txt", "/e", "in.txt", "/o", "out.txt"},
                Shown("Error: argument 3 (in.txt) is also an input file\n"), false);
  EXPECT_EQ(ReadFile("in.txt"), kSmallTable);
  EXPECT_EQ(ReadFile("sub.txt"), "MAIN_CLASS=1\r\n");
}

TEST_F(CliTest, NamesTooLongForAFileEntry) {
  std::string name(300, 'x');
  name += ".txt";
  std::string shown = "Error: argument 2 (" + name.substr(0, 80) + ") file name too long\n";
  ExpectRefused({"in.txt", name}, Shown(shown));
  ExpectRefused({"/f", "in.txt", "/o", name},
                Shown("Error: argument 4 (" + name.substr(0, 80) + ") file name too long\n"));
}

TEST_F(CliTest, LastFileNameIsTheOutput) {
  WriteFile("more.txt", kSmallTable);
  RunResult r = Run({"in.txt", "more.txt", "new.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  size_t a = r.out.find("\nReading Version 4 TXT table file in.txt\n");
  size_t b = r.out.find("\nReading Version 4 TXT table file more.txt\n");
  size_t c = r.out.find("\nWriting Version 4 TXT table file new.txt\n");
  ASSERT_NE(a, std::string::npos) << r.out;
  ASSERT_NE(b, std::string::npos) << r.out;
  ASSERT_NE(c, std::string::npos) << r.out;
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_TRUE(Exists("new.txt"));
  EXPECT_EQ(ReadFile("more.txt"), kSmallTable);

  // With an output named, every other name is an input.
  r = Run({"/o", "second.txt", "in.txt", "more.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "\nReading Version 4 TXT table file more.txt\n")) << r.out;
  EXPECT_TRUE(Exists("second.txt"));
}

TEST_F(CliTest, ForcedVersions) {
  WriteFile("v3.txt", kSmallTableV3);
  // A role and a version cannot both claim one name.
  RunResult r = Run({"/3", "v3.txt", "/2", "/o", "out2.txt"});
  EXPECT_EQ(r.exit_code, kExitFail);
  EXPECT_TRUE(StartsWith(r.out, Shown("Error: Option 3 (/2) expected filename to follow\n")))
      << r.out;

  // The version before the last name stays with it when it becomes the output.
  r = Run({"/3", "v3.txt", "/2", "out2.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, Shown("\nReading Version 3 TXT table file v3.txt\n"))) << r.out;
  EXPECT_TRUE(Contains(r.out, Shown("\nWriting Version 2 TXT table file out2.txt\n"))) << r.out;

  r = Run({"in.txt", "/3", "out3.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, Shown("\nWriting Version 3 TXT table file out3.txt\n"))) << r.out;
  r = Run({"in.txt", "/4", "out4.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, Shown("\nWriting Version 4 TXT table file out4.txt\n"))) << r.out;
  // Version 3 text has no TABLE block; version 4 does.
  EXPECT_FALSE(Contains(ReadFile("out3.txt"), "TYPE=TABLE"));
  EXPECT_TRUE(Contains(ReadFile("out4.txt"), "TYPE=TABLE"));
}

TEST_F(CliTest, WildcardInputs) {
  WriteFile("t1.txt", kSmallTable);
  WriteFile("t2.txt", kSmallTable);
  WriteFile("t3.txt", "");  // empty: not a table, skipped
  RunResult r = Run({"t*.txt", "out.itb"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "\nReading Version 4 TXT table file t1.txt\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "\nReading Version 4 TXT table file t2.txt\n")) << r.out;
  EXPECT_FALSE(Contains(r.out, "t3.txt")) << r.out;
  EXPECT_TRUE(Exists("out.itb"));
}

TEST_F(CliTest, WildcardInAnotherDirectoryKeepsTheDirectory) {
  Mkdir(Path("tables"));
  WriteFile("tables/a.txt", kSmallTable);
  WriteFile("tables/b.txt", kSmallTable);
  RunResult r = Run({"tables/?.txt", "/o", "out.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "\nReading Version 4 TXT table file tables/a.txt\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "\nReading Version 4 TXT table file tables/b.txt\n")) << r.out;

  // An absolute pattern is a file name too, not an option.
  r = Run({ArgPath("tables/a*"), "/o", "abs.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "table file " + ArgPath("tables/a.txt").substr(0, 80) + "\n"))
      << r.out;
  EXPECT_TRUE(Exists("abs.txt"));
}

}  // namespace
}  // namespace e2e
