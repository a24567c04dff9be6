// The message callback's routing, the dispatchers after a table became
// unusable, a whole run whose intermediate table cannot be reopened, and
// the file-to-file converter's clean-up. Faults come from a wrapped Env.
#include "driver/dispatch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "driver/driver.h"
#include "driver/message.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

const char kTable[] =
    "TYPE=SYSTEM\r\nCOUNT=1\r\n"
    "SYSTEM=1,0,0,\"Address Book\",ABK,,1,0,0,,0,Sections,0,0000000000,0X0,0,0,1\r\n"
    "SYSTEMEX1=8,0X0,0X0,0X0,0X0,0X0,0X0,0X0,0X0\r\nSYSTEMEX2=0,0,0,0,0,,\r\nSYSTEMEX3=,,,,\r\n"
    "SECTION=1,3,\"Contacts\",,0,,,0X0,0,,0\r\n"
    "TYPE=FIELDS\r\nCOUNT=1\r\nLISTID=0\r\nAPP=1\r\nSECID=1\r\nSECTYPE=3\r\nNAME=Contacts\r\n"
    "COUNT=1\r\nFIELD=1,\"Last\",\"Last Name\",1,S,0,0,,,0X0,0,0\r\n"
    "TYPE=MAPS\r\nCOUNT=0\r\n"
    "TYPE=TABLE\r\nMAINSYSTEM=1\r\nMAINCLASS=0\r\nPRODUCTID=0\r\nBUNDLEDFLAG=0\r\n"
    "ENABLEDPRODUCTS=0\r\n";

// Opens of paths that begin with `prefix` fail; when `armOn` is set, only
// after that file has been opened.
class FailingOpens : public platform::EnvWrapper {
 public:
  FailingOpens() : EnvWrapper(platform::DefaultEnv()) {}
  std::string prefix;
  std::string armOn;
  int OpenFile(const std::string& p, platform::Access a, platform::Disposition d,
               platform::FileHandle* out) override {
    if (!armOn.empty() && p == armOn) armOn.clear();
    if (!prefix.empty() && armOn.empty() && p.rfind(prefix, 0) == 0) {
      *out = platform::kInvalidHandle;
      return 5;
    }
    return EnvWrapper::OpenFile(p, a, d, out);
  }
};

std::vector<std::pair<int, std::string>> g_messages;
void Collect(int level, const char* text) { g_messages.emplace_back(level, text); }

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "drvtest-XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
    fs::create_directory(dir_ / "tmp");
    const char* old = std::getenv("TMPDIR");
    oldTmp_ = old ? old : "";
    hadTmp_ = old != nullptr;
    setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
    std::ofstream(dir_ / "in.txt", std::ios::binary) << kTable;
    platform::Env::SetForTesting(&env_);
    g_messages.clear();
  }
  void TearDown() override {
    platform::Env::SetForTesting(nullptr);
    if (hadTmp_) setenv("TMPDIR", oldTmp_.c_str(), 1); else unsetenv("TMPDIR");
    fs::remove_all(dir_);
  }
  std::string P(const std::string& rel) const { return (dir_ / rel).string(); }
  std::vector<std::string> TempFiles() const {
    std::vector<std::string> v;
    for (auto& e : fs::directory_iterator(dir_ / "tmp")) v.push_back(e.path().filename());
    return v;
  }
  // A fresh intermediate table in the private temporary directory.
  void OpenWorkTable(TableDb* db, std::string* path) {
    platform::FileHandle h;
    ASSERT_EQ(env_.CreateUniqueFile(P("tmp/"), "ITB", path, &h), 0);
    env_.CloseFile(h);
    ASSERT_EQ(CreateTable(path->c_str()), 0);
    ASSERT_EQ(OpenTable(path->c_str(), db, 1), 0);
  }

  FailingOpens env_;
  fs::path dir_;
  std::string oldTmp_;
  bool hadTmp_ = false;
};

TEST_F(DriverTest, MessagesGoToConsoleAndLogByLevelAndVerbose) {
  std::ofstream(dir_ / "run.log") << "old log\n";
  g_RunFlags = 0;
  testing::internal::CaptureStdout();
  OpenLogStream(P("run.log").c_str());
  ConsoleMessageFn(20, "detail");
  ConsoleMessageFn(40, "progress");
  ConsoleMessageFn(60, "step");
  ConsoleMessageFn(100, "error\n");
  g_RunFlags = kFlagVerbose;
  ConsoleMessageFn(20, "verbose detail");
  g_RunFlags = 0;
  CloseLogStream();
  ConsoleMessageFn(100, "after close");
  ConsoleLine("driver line");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "step\nerror\n\nverbose detail\nafter close\ndriver line\n");
  EXPECT_EQ(Slurp(dir_ / "run.log"), "progress\nstep\nerror\n\nverbose detail\n");

  // A log that cannot be opened stays closed without a word.
  testing::internal::CaptureStdout();
  OpenLogStream(P("missing/run.log").c_str());
  ConsoleMessageFn(60, "still shown");
  CloseLogStream();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "still shown\n");
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

TEST_F(DriverTest, UnusableTableRefusesEveryLaterStep) {
  TableDb db;
  std::string table;
  OpenWorkTable(&db, &table);
  Rc2Carry carry{};
  ASSERT_EQ(ReadTableFile(table.c_str(), &db, P("in.txt").c_str(), FileKind::TxtV4, Collect, 0,
                          &carry),
            0);

  // The .itb output cannot reopen the table it closed.
  env_.prefix = table;
  EXPECT_NE(WriteTableFile(table.c_str(), &db, P("out.itb").c_str(), FileKind::ItbV4, Collect, 0,
                           &carry),
            0);
  ASSERT_TRUE(db.bUnusable);
  env_.prefix.clear();

  g_messages.clear();
  int rc = WriteTableFile(table.c_str(), &db, P("out.txt").c_str(), FileKind::TxtV4, Collect, 0,
                          &carry);
  ASSERT_NE(rc, 0);
  std::string refused = "Error " + std::to_string(rc) + " trying to open " + table;
  EXPECT_EQ(g_messages, (std::vector<std::pair<int, std::string>>{
                            {60, "\nWriting Version 4 TXT table file " + P("out.txt") + "\n"},
                            {100, refused}}));
  EXPECT_FALSE(fs::exists(dir_ / "out.txt"));

  g_messages.clear();
  std::ofstream(dir_ / "sub.txt") << "MAIN_CLASS=1\r\n";
  EXPECT_EQ(ApplyModifierFile(table.c_str(), &db, P("sub.txt").c_str(), FileKind::Subset,
                              Collect, 0),
            rc);
  ASSERT_EQ(g_messages.size(), 2u);
  EXPECT_EQ(g_messages[1], std::make_pair(100, refused));

  g_messages.clear();
  EXPECT_EQ(ReadTableFile(table.c_str(), &db, P("in.txt").c_str(), FileKind::TxtV4, Collect, 0,
                          &carry),
            rc);
  EXPECT_EQ(g_messages.back(), std::make_pair(100, refused));
  fs::remove(table);
}

TEST_F(DriverTest, RunWithAnUnusableTableWritesWhatItCanAndFails) {
  // Once the input is read, the .itb output's copy and reopen fail.
  env_.prefix = P("tmp/ITB");
  env_.armOn = P("in.txt");
  std::vector<std::string> args = {"tblconv", P("in.txt"), "/o", P("out.itb"), "/o",
                                   P("out.txt")};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  testing::internal::CaptureStdout();
  int rc = RunDriver(static_cast<int>(args.size()), argv.data());
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(rc, -1);
  EXPECT_NE(out.find("\nWriting Version 4 TXT table file " + P("out.txt") + "\n\nError "),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find(" closing "), std::string::npos) << out;  // final close skipped
  EXPECT_EQ(out.find("Error: Exit"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir_ / "out.txt"));
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(DriverTest, ConvertTableFileLeavesNoTemporaryTable) {
  EXPECT_TRUE(ConvertTableFile(P("in.txt").c_str(), FileKind::TxtV4, P("out.itb").c_str(),
                               FileKind::ItbV4));
  EXPECT_TRUE(fs::file_size(dir_ / "out.itb") > 28);
  EXPECT_TRUE(TempFiles().empty());

  testing::internal::CaptureStderr();
  EXPECT_FALSE(ConvertTableFile(P("none.txt").c_str(), FileKind::TxtV4, P("x.itb").c_str(),
                                FileKind::ItbV4));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "File \"" + P("none.txt") + "\" not found.\n");
  EXPECT_TRUE(TempFiles().empty());

  // A failed write also removes the table; only messages above 50 are shown.
  testing::internal::CaptureStderr();
  EXPECT_FALSE(ConvertTableFile(P("in.txt").c_str(), FileKind::TxtV4, P("x.fil").c_str(),
                                FileKind::FilV4));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("\nReading Version 4 TXT table file " + P("in.txt") + "\n\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("\nOutput to Version 4 Binary (Resource) file not supported (filename " +
                     P("x.fil") + " )\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(err.find("Section 1"), std::string::npos) << err;
  EXPECT_TRUE(TempFiles().empty());

  // No temporary name to be had: false at once.
  setenv("TMPDIR", P("no/such/dir").c_str(), 1);
  EXPECT_FALSE(ConvertTableFile(P("in.txt").c_str(), FileKind::TxtV4, P("y.itb").c_str(),
                                FileKind::ItbV4));
  EXPECT_FALSE(fs::exists(dir_ / "y.itb"));
}

}  // namespace
