// Tests of the ModSubset file swap with faults injected at every step: the
// working table must end open under its own name (old or new contents), the
// new temporary table must not be left behind, and only a failed reopen or
// a lost working file may leave the table unusable.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "qvdf/subset/subset.h"
#include "qvdf/subset/subset_test_util.h"

namespace {

using namespace subset_test;

// Hooks return a nonzero OS code to make the call fail.
class FaultEnv : public platform::EnvWrapper {
 public:
  FaultEnv() : EnvWrapper(platform::DefaultEnv()) {}
  std::function<int(const std::string&, const std::string&)> onRename;
  std::function<int(const std::string&)> onRemove;
  std::function<int(int)> onUnique;  // 1 for the first unique name
  std::function<int(const std::string&)> onOpen;
  std::vector<std::string> uniqueNames;

  int RenameFile(const std::string& f, const std::string& t) override {
    if (onRename)
      if (int rc = onRename(f, t)) return rc;
    return target()->RenameFile(f, t);
  }
  int RemoveFile(const std::string& p) override {
    if (onRemove)
      if (int rc = onRemove(p)) return rc;
    return target()->RemoveFile(p);
  }
  int CreateUniqueFile(const std::string& d, const std::string& pre, std::string* path,
                       platform::FileHandle* h) override {
    if (onUnique)
      if (int rc = onUnique(static_cast<int>(uniqueNames.size()) + 1)) return rc;
    int rc = target()->CreateUniqueFile(d, pre, path, h);
    if (rc == 0) uniqueNames.push_back(*path);
    return rc;
  }
  int OpenFile(const std::string& p, platform::Access a, platform::Disposition d,
               platform::FileHandle* o) override {
    if (onOpen)
      if (int rc = onOpen(p)) {
        *o = platform::kInvalidHandle;
        return rc;
      }
    return target()->OpenFile(p, a, d, o);
  }
};

constexpr int kDenied = 5;

class ModSubsetTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    work_ = Path("work.tbl");
    BuildMaster(work_, &db_);
    // Start from a table complete on disk, as the run has it.
    ASSERT_EQ(CloseTable(&db_), 0);
    ASSERT_EQ(OpenTable(work_.c_str(), &db_, 1), 0);
    subset_ = WriteFile("s.sub", "MAIN_CLASS=4\nMAIN_SYSTEM=5\nCOUNT=1\nSYSTEM=5,0,0,NEW\n");
    platform::Env::SetForTesting(&env_);
    Messages().clear();
  }
  void TearDown() override {
    platform::Env::SetForTesting(nullptr);
    CloseTable(&db_);
    TempDirTest::TearDown();
  }
  int Run() { return ModSubset(work_.c_str(), &db_, subset_.c_str(), Collect); }

  // Names of the temporary files the call took: the new table, the backup.
  std::string NewName() const { return env_.uniqueNames.at(0); }
  std::string BackupName() const { return env_.uniqueNames.at(1); }
  static std::string Base(const std::string& p) {
    return std::filesystem::path(p).filename().string();
  }

  void ExpectOldContents() {
    ASSERT_TRUE(IsTableOpen(&db_));
    EXPECT_FALSE(db_.bUnusable);
    EXPECT_EQ(SystemIds(&db_), (std::vector<int>{1, 5, 7, 9}));
    EXPECT_EQ(GetMainClass(&db_), 3);
    EXPECT_EQ(DeleteSystem(&db_, 9), 0);  // open read-write
  }
  void ExpectNewContents() {
    ASSERT_TRUE(IsTableOpen(&db_));
    EXPECT_FALSE(db_.bUnusable);
    EXPECT_EQ(SystemIds(&db_), (std::vector<int>{1, 5}));
    EXPECT_EQ(GetMainClass(&db_), 4);
    EXPECT_EQ(DeleteSystem(&db_, 5), 0);
  }

  FaultEnv env_;
  TableDb db_;
  std::string work_;
  std::string subset_;
};

TEST_F(ModSubsetTest, SwapsTheNewTableInUnderTheWorkingName) {
  ASSERT_EQ(Run(), 0);
  ExpectNewContents();
  EXPECT_EQ(Files(), (std::vector<std::string>{"s.sub", "work.tbl"}));
  EXPECT_EQ(MessagesFrom(80), (std::vector<Message>{}));
  ASSERT_FALSE(Messages().empty());
  EXPECT_EQ(Messages().back(), (Message{40, "ModSubset Processing completed successfully"}));
}

TEST_F(ModSubsetTest, FailedMoveOfTheWorkingFileReopensIt) {
  env_.onRename = [&](const std::string& f, const std::string&) {
    return f == work_ ? kDenied : 0;
  };
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(
      MessagesFrom(100),
      (std::vector<Message>{{100, "Error renaming original working file from " + work_ + " to " +
                                      BackupName() + " Failed.\nManual cleanup may be necessary. "},
                            {100, "Processing aborted due to error code 0"}}));
  ExpectOldContents();
  EXPECT_EQ(Files(), (std::vector<std::string>{"s.sub", "work.tbl"}));
}

TEST_F(ModSubsetTest, FailedMoveOfTheNewFileBringsTheOriginalBack) {
  env_.onRename = [&](const std::string& f, const std::string&) {
    return f == NewName() ? kDenied : 0;
  };
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(MessagesFrom(100),
            (std::vector<Message>{
                {100, "Error renaming subset working file " + NewName() + " to working filename " +
                          work_ + "\n Manual cleanup may be necessary. "},
                {100, "Processing aborted due to error code 0"}}));
  ExpectOldContents();
  EXPECT_EQ(Files(), (std::vector<std::string>{"s.sub", "work.tbl"}));
}

TEST_F(ModSubsetTest, FailedRollbackKeepsTheOriginalInTheBackupAndMarksTheTable) {
  env_.onRename = [&](const std::string& f, const std::string&) {
    return f == NewName() || f == BackupName() ? kDenied : 0;
  };
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(MessagesFrom(100),
            (std::vector<Message>{
                {100, "Error renaming subset working file " + NewName() + " to working filename " +
                          work_ + "\n Manual cleanup may be necessary. "},
                {100, "Processing aborted due to error code 0"},
                {100, "Error renaming original working file from " + BackupName() + " to " + work_ +
                          " Failed.\nManual cleanup may be necessary. "}}));
  EXPECT_TRUE(db_.bUnusable);
  EXPECT_FALSE(IsTableOpen(&db_));
  EXPECT_EQ(Files(), (std::vector<std::string>{Base(BackupName()), "s.sub"}));
  TableDb backup;
  ASSERT_EQ(OpenTable(BackupName().c_str(), &backup, 0), 0);
  EXPECT_EQ(SystemIds(&backup), (std::vector<int>{1, 5, 7, 9}));
  CloseTable(&backup);
}

TEST_F(ModSubsetTest, FailedDeleteOfTheBackupPlaceholderReopens) {
  env_.onRemove = [&](const std::string& p) {
    return env_.uniqueNames.size() > 1 && p == BackupName() ? kDenied : 0;
  };
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(MessagesFrom(100),
            (std::vector<Message>{{100, "Error deleting Temporary file " + BackupName() +
                                            " Manual cleanup may be necessary. "},
                                  {100, "Processing aborted due to error code 0"}}));
  ExpectOldContents();
  // The empty placeholder is what needs the manual cleanup.
  EXPECT_EQ(Files(), (std::vector<std::string>{Base(BackupName()), "s.sub", "work.tbl"}));
}

TEST_F(ModSubsetTest, FailedDeleteOfTheBackupAfterTheSwapOnlyWarns) {
  int removals = 0;
  env_.onRemove = [&](const std::string& p) {
    return env_.uniqueNames.size() > 1 && p == BackupName() && ++removals == 2 ? kDenied : 0;
  };
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(MessagesFrom(80),
            (std::vector<Message>{{100, "Error deleting Temporary file " + BackupName() +
                                            " Manual cleanup may be necessary. "}}));
  ExpectNewContents();
  EXPECT_EQ(Files(), (std::vector<std::string>{Base(BackupName()), "s.sub", "work.tbl"}));
}

TEST_F(ModSubsetTest, NoTemporaryNameLeavesEverythingAsItWas) {
  for (int failing : {1, 2}) {
    SCOPED_TRACE(failing);
    env_.uniqueNames.clear();
    env_.onUnique = [&](int n) { return n == failing ? kDenied : 0; };
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(MessagesFrom(80),
              (std::vector<Message>{
                  {100, "Error 5 creating a temporary file in " + env_.TempDirectory()}}));
    Messages().clear();
    ASSERT_TRUE(IsTableOpen(&db_));
    EXPECT_EQ(SystemIds(&db_), (std::vector<int>{1, 5, 7, 9}));
    EXPECT_EQ(Files(), (std::vector<std::string>{"s.sub", "work.tbl"}));
  }
}

TEST_F(ModSubsetTest, RejectedSubsetFileLeavesTheWorkingTableOpen) {
  subset_ = WriteFile("s.sub", "MAIN_CLASS=4\nMAIN_SYSTEM=5\nCOUNT=0\n");
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(MessagesFrom(100),
            (std::vector<Message>{{100, "***ERROR: Invalid COUNT record"},
                                  {100, "Processing aborted due to error code 0"},
                                  {100, "Processing aborted due to error code in CreateSubset-1"},
                                  {100, "Processing aborted due to error code -1"}}));
  ExpectOldContents();
  EXPECT_EQ(Files(), (std::vector<std::string>{"s.sub", "work.tbl"}));
}

TEST_F(ModSubsetTest, FailedReopenAfterTheSwapMarksTheTableUnusable) {
  bool swapped = false;
  env_.onRename = [&](const std::string& f, const std::string&) {
    if (f == NewName()) swapped = true;
    return 0;
  };
  env_.onOpen = [&](const std::string& p) { return swapped && p == work_ ? kDenied : 0; };
  EXPECT_EQ(Run(), -1);
  std::vector<Message> errors = MessagesFrom(100);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].text.rfind("Error ", 0), 0u);
  EXPECT_EQ(errors[0].text.substr(errors[0].text.size() - (16 + work_.size())),
            " trying to open " + work_);
  EXPECT_TRUE(db_.bUnusable);
  EXPECT_FALSE(IsTableOpen(&db_));
  env_.onOpen = nullptr;
  EXPECT_EQ(Files(), (std::vector<std::string>{"s.sub", "work.tbl"}));
  TableDb check;
  ASSERT_EQ(OpenTable(work_.c_str(), &check, 0), 0);
  EXPECT_EQ(SystemIds(&check), (std::vector<int>{1, 5}));
  CloseTable(&check);
}

TEST_F(ModSubsetTest, UnusableTableIsRefused) {
  db_.bUnusable = true;
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(Messages(), (std::vector<Message>{{100, "Error 17 trying to open " + work_}}));
  EXPECT_TRUE(env_.uniqueNames.empty());
  db_.bUnusable = false;
}

}  // namespace
