// The pair's writer and reader around a stand-in converter: the .itf name,
// the kinds each version converts through, results, messages, injected
// write and close failures, and that no temporary file outlives a call.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "qvdf/resource/localized_test_support.h"
#include "qvdf/resource/resource_test_support.h"
#include "qvdf/resource/split.h"

namespace {

using loctest::ItrLine;
using loctest::Script;

// Temporary files go to the test's own directory; writes or the close of
// one file can be made to fail.
class PairEnv : public platform::EnvWrapper {
 public:
  explicit PairEnv(std::string tmp) : EnvWrapper(platform::DefaultEnv()), tmp_(std::move(tmp)) {}
  std::string TempDirectory() override { return tmp_; }
  int OpenFile(const std::string& p, platform::Access a, platform::Disposition d,
               platform::FileHandle* o) override {
    int rc = target()->OpenFile(p, a, d, o);
    if (rc == 0 && !failSuffix.empty() && p.size() >= failSuffix.size() &&
        p.compare(p.size() - failSuffix.size(), failSuffix.size(), failSuffix) == 0)
      victim_ = *o;
    return rc;
  }
  long WriteFile(platform::FileHandle h, const void* b, size_t n) override {
    if (failWrite && h == victim_) return -1;
    return target()->WriteFile(h, b, n);
  }
  int CloseFile(platform::FileHandle h) override {
    int rc = target()->CloseFile(h);
    if (failClose && h == victim_) {
      victim_ = platform::kInvalidHandle;
      return -1;
    }
    return rc;
  }

  std::string failSuffix;
  bool failWrite = false;
  bool failClose = false;

 private:
  std::string tmp_;
  platform::FileHandle victim_ = platform::kInvalidHandle;
};

struct Call {
  std::string in;
  FileKind inKind;
  std::string out;
  FileKind outKind;
};
std::vector<Call> gCalls;
std::string gScript;  // what a table converts into
bool gConvertOk = true;

// Table to script: writes gScript. Anything else: copies the file.
bool FakeConvert(const char* in, FileKind inKind, const char* out, FileKind outKind) {
  gCalls.push_back({in, inKind, out, outKind});
  if (!gConvertOk) return false;
  rctest::WriteAll(out, inKind == FileKind::ItbV4 ? gScript : rctest::ReadAll(in));
  return true;
}

const std::string kScript =
    Script({"SYSTEM=1,0,0,\"Generic PIM\",GEN,,0,0,0,,0,S,0,1,0X0,0,0,1",
            "SECTION=1,0,\"Appointments\",,0,,A,0X2,0,,0"}) +
    "0,\r\nEND\r\n";
const std::string kItf =
    "\"SYSTEM=1,0,0,\"\"LOCALIZED_SYSTEM_NAME_1\"\",GEN,,0,0,0,,0,S,0,1,0X0,0,0,1\\r\\n\",\r\n"
    "\"SECTION=1,0,\"\"LOCALIZED_1_SECTION_NAME_APPT_1\"\",,0,,A,0X2,0,,0\\r\\n\",\r\n"
    "0,\r\nEND\r\n";
const std::string kItr = ItrLine("LOCALIZED_SYSTEM_NAME_1", "Generic PIM") +
                         ItrLine("LOCALIZED_1_SECTION_NAME_APPT_1", "Appointments");

class SplitPairTest : public rctest::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    std::filesystem::create_directories(dir_ / "tmp");
    env_ = std::make_unique<PairEnv>(Path("tmp") + "/");
    scoped_ = std::make_unique<rctest::ScopedEnv>(env_.get());
    gCalls.clear();
    gScript = kScript;
    gConvertOk = true;
  }
  void TearDown() override {
    scoped_.reset();
    ScratchTest::TearDown();
  }
  std::vector<std::string> TempFiles() const {
    std::vector<std::string> v;
    for (auto& e : std::filesystem::directory_iterator(dir_ / "tmp"))
      v.push_back(e.path().string());
    return v;
  }
  // SplitTableFile with the standard error stream captured into err_.
  int SplitTo(int version, const std::string& itr) {
    testing::internal::CaptureStderr();
    int rc = SplitTableFile(version, Path("table.itb").c_str(), itr.c_str(), nullptr, FakeConvert);
    err_ = testing::internal::GetCapturedStderr();
    return rc;
  }
  int ReadPair(int version) {
    testing::internal::CaptureStderr();
    int rc = ReadSplitTableFile(version, Path("t.itr").c_str(), table_, rctest::Record,
                                FakeConvert);
    err_ = testing::internal::GetCapturedStderr();
    return rc;
  }

  std::unique_ptr<PairEnv> env_;
  std::unique_ptr<rctest::ScopedEnv> scoped_;
  std::string err_;
  char table_[kMaxPath] = "unchanged";
};

TEST(ItfNameTest, ExtensionReplacedAndRcDirectoriesCut) {
  EXPECT_EQ(ItfNameFor("tables/new.itr"), "tables/new.itf");
  EXPECT_EQ(ItfNameFor("new.ITR"), "new.itf");
  EXPECT_EQ(ItfNameFor("noext"), "noext.itf");
  EXPECT_EQ(ItfNameFor("a.b/t"), "a.b/t.itf");
  // "rc." counts only where it begins a directory name.
  EXPECT_EQ(ItfNameFor("/work/src.old/t.itr"), "/work/src.old/t.itf");
  EXPECT_EQ(ItfNameFor("out/rc.eng/sub/t.itr"), "out/t.itf");
  EXPECT_EQ(ItfNameFor("rc.x/t.itr"), "t.itf");
  EXPECT_EQ(ItfNameFor("src.a/rc.b/t.itr"), "src.a/t.itf");
}

TEST_F(SplitPairTest, SplitWritesThePairThroughAScriptOfItsVersion) {
  for (int version : {3, 4}) {
    SCOPED_TRACE(version);
    gCalls.clear();
    ASSERT_EQ(SplitTo(version, Path("out/t.itr")), 1);  // no such directory
    std::filesystem::create_directories(dir_ / "out");
    gCalls.clear();
    ASSERT_EQ(SplitTo(version, Path("out/t.itr")), 0) << err_;
    EXPECT_EQ(rctest::ReadAll(Path("out/t.itf")), kItf);
    EXPECT_EQ(rctest::ReadAll(Path("out/t.itr")), kItr);
    ASSERT_EQ(gCalls.size(), 1u);
    EXPECT_EQ(gCalls[0].in, Path("table.itb"));
    EXPECT_EQ(gCalls[0].inKind, FileKind::ItbV4);
    EXPECT_EQ(gCalls[0].out.rfind(Path("tmp") + "/TXT", 0), 0u) << gCalls[0].out;
    EXPECT_EQ(gCalls[0].outKind, version == 3 ? FileKind::Rc2V3 : FileKind::Rc2V4);
    EXPECT_EQ(err_, "");
    EXPECT_TRUE(TempFiles().empty());
    std::filesystem::remove_all(dir_ / "out");
  }
}

TEST_F(SplitPairTest, SplitReportsEveryFailureAndLeavesNoScript) {
  EXPECT_EQ(SplitTo(5, Path("t.itr")), 1);
  EXPECT_TRUE(gCalls.empty());

  gConvertOk = false;
  EXPECT_EQ(SplitTo(4, Path("t.itr")), 1);
  ASSERT_EQ(gCalls.size(), 1u);
  EXPECT_EQ(err_, "Error converting from " + Path("table.itb") + " to " + gCalls[0].out + ".\n");
  EXPECT_TRUE(TempFiles().empty());
  gConvertOk = true;

  EXPECT_EQ(SplitTo(4, Path("none/t.itr")), 1);
  EXPECT_EQ(err_, "Error opening " + Path("none/t.itf") + " file.\n");
  EXPECT_TRUE(TempFiles().empty());

  env_->failSuffix = ".itr";
  env_->failWrite = true;
  EXPECT_EQ(SplitTo(4, Path("t.itr")), 1);
  EXPECT_EQ(err_, "Error writing " + Path("t.itr") + " file.\n");
  EXPECT_TRUE(TempFiles().empty());

  env_->failSuffix = ".itf";
  env_->failWrite = false;
  env_->failClose = true;
  EXPECT_EQ(SplitTo(4, Path("t.itr")), 1);
  EXPECT_EQ(err_, "Error writing " + Path("t.itf") + " file.\n");
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(SplitPairTest, ReadMergesThePairIntoATemporaryTable) {
  rctest::WriteAll(Path("t.itf"), kItf);
  rctest::WriteAll(Path("t.itr"), ItrLine("LOCALIZED_SYSTEM_NAME_1", "Allgemein"));
  for (int version : {3, 4}) {
    SCOPED_TRACE(version);
    gCalls.clear();
    ASSERT_EQ(ReadPair(version), 0) << err_;
    const std::string table = table_;
    EXPECT_EQ(table.rfind(Path("tmp") + "/itb", 0), 0u) << table;
    // Only the table is left; the merged script is gone.
    EXPECT_EQ(TempFiles(), std::vector<std::string>{table});
    std::string merged = kItf;
    merged.replace(merged.find("LOCALIZED_SYSTEM_NAME_1"), 23, "Allgemein");
    EXPECT_EQ(rctest::ReadAll(table), merged);
    ASSERT_EQ(gCalls.size(), 1u);
    EXPECT_EQ(gCalls[0].inKind, version == 3 ? FileKind::Rc2V3 : FileKind::Rc2V4);
    EXPECT_EQ(gCalls[0].out, table);
    EXPECT_EQ(gCalls[0].outKind, FileKind::ItbV4);
    EXPECT_TRUE(rctest::Recorded().empty());
    std::filesystem::remove(table);
  }
}

TEST_F(SplitPairTest, ReadOnlyStringTableStillMerges) {
  rctest::WriteAll(Path("t.itf"), kItf);
  rctest::WriteAll(Path("t.itr"), kItr);
  std::filesystem::permissions(Path("t.itr"), std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  EXPECT_EQ(ReadPair(4), 16);
  EXPECT_EQ(rctest::ReadAll(table_), kScript);
  const std::string itr = Path("t.itr");
  EXPECT_EQ(rctest::Recorded(), (rctest::Messages{{20, " Could not open " + itr + " for read/write."},
                                                  {20, " File " + itr + " is read-only."}}));
}

TEST_F(SplitPairTest, AFailedReadLeavesNoTemporaryFile) {
  rctest::WriteAll(Path("t.itr"), kItr);
  EXPECT_EQ(ReadPair(4), 1);
  EXPECT_STREQ(table_, "");
  EXPECT_EQ(err_, "Error opening " + Path("t.itf") + " file for read-only.\n");
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_TRUE(gCalls.empty());

  rctest::WriteAll(Path("t.itf"), kItf);
  gConvertOk = false;
  EXPECT_EQ(ReadPair(4), 1);
  EXPECT_STREQ(table_, "");
  EXPECT_TRUE(TempFiles().empty());
  gConvertOk = true;

  // The merged script cannot be written: nothing is converted.
  gCalls.clear();
  env_->failSuffix = ".tmp";
  env_->failWrite = true;
  EXPECT_EQ(ReadPair(4), 1);
  EXPECT_TRUE(gCalls.empty());
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_NE(err_.find("Error writing " + Path("tmp") + "/TXT"), std::string::npos) << err_;
}

}  // namespace
