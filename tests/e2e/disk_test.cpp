// Runs against surroundings a case file cannot make: a full disk under an
// output or under the temporary directory (small tmpfs mounts), a directory
// that refuses new files, and arguments far longer than any file name.
// Each run ends with a clear message and a defined exit code, and the input
// does not change by a single byte.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {
namespace {

class DiskTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    sample_ = SourceFile("examples/sample.txt");
    WriteFile("in.txt", sample_);
  }
  void TearDown() override {
    for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) umount(it->c_str());
    for (const auto& d : locked_) chmod(d.c_str(), 0700);
    EXPECT_EQ(ReadFile("in.txt"), sample_) << "the input changed";
    ToolTest::TearDown();
  }
  // A tmpfs of `kb` kilobytes at rel, filled up to its last `leave` bytes;
  // false when this machine cannot mount.
  bool FullDisk(const std::string& rel, int kb, size_t leave) {
    std::string at = Path(rel);
    std::string opts = "size=" + std::to_string(kb) + "k";
    if (mkdir(at.c_str(), 0700) != 0 || mount("tmpfs", at.c_str(), "tmpfs", 0, opts.c_str()) != 0)
      return false;
    mounts_.push_back(at);
    std::string filler = at + "/filler";
    std::ofstream f(filler, std::ios::binary);
    std::string chunk(1024, '\0');
    while (f.write(chunk.data(), chunk.size()) && f.flush()) {
    }
    f.close();
    struct stat st;
    return stat(filler.c_str(), &st) == 0 &&
           truncate(filler.c_str(),
                    st.st_size > static_cast<off_t>(leave) ? st.st_size - leave : 0) == 0;
  }
  // A directory that refuses new files: without write permission, or, for a
  // user who writes anyway (root), a read-only mount. False when neither works.
  bool LockedDir(const std::string& rel) {
    std::string at = Path(rel);
    if (mkdir(at.c_str(), 0700) != 0 || chmod(at.c_str(), 0500) != 0) return false;
    locked_.push_back(at);
    std::string probe = at + "/probe";
    if (std::FILE* f = std::fopen(probe.c_str(), "wb")) {
      std::fclose(f);
      std::remove(probe.c_str());
      if (mount("tmpfs", at.c_str(), "tmpfs", MS_RDONLY, "size=16k") != 0) return false;
      mounts_.push_back(at);
    }
    return true;
  }

  std::string sample_;
  std::vector<std::string> mounts_, locked_;
};

TEST_F(DiskTest, AFullTemporaryDirectoryStopsTheRunCleanly) {
  if (!FullDisk("tmpfull", 64, 20 * 1024)) GTEST_SKIP() << "cannot mount a small tmpfs here";
  RunResult r = Run({"in.txt", "out.itb"}, {{"TMPDIR", Path("tmpfull")}, {"TMP", Path("tmpfull")}});
  EXPECT_EQ(r.exit_code, kExitFail) << r.out;
  EXPECT_TRUE(Contains(r.out, "Processing aborted due to error code 6\nError: Exit\n")) << r.out;
  EXPECT_FALSE(Exists("out.itb"));
  EXPECT_EQ(ListDir("tmpfull"), std::vector<std::string>{"filler"});
}

// The failed output leaves nothing of itself, and with /f the old file of
// its name stays as it was: it is replaced only by a complete successor.
TEST_F(DiskTest, AFullDiskUnderAnOutputFailsThatOutputOnly) {
  if (!FullDisk("full", 64, 4 * 1024)) GTEST_SKIP() << "cannot mount a small tmpfs here";
  for (const char* out : {"full/x.txt", "full/x.itb", "full/x.rc2", "full/x.itr"}) {
    SCOPED_TRACE(out);
    WriteFile(out, "old");
    RunResult r = Run({"/f", "in.txt", "/o", out, "/o", "ok.txt"});
    EXPECT_EQ(r.exit_code, kExitFail) << r.out;
    EXPECT_TRUE(Contains(r.out, "\nWriting Version 4 TXT table file ok.txt\n")) << r.out;
    EXPECT_TRUE(
        Contains(r.out, std::string("Error: output file ") + out + " not written\nError: Exit\n"))
        << r.out;
    EXPECT_EQ(Body(ReadFile("ok.txt")), Body(sample_));
    EXPECT_EQ(ReadFile(out), "old");
    EXPECT_EQ(ListDir("full"), (std::vector<std::string>{"filler", std::string(out).substr(5)}));
    std::remove(Path("ok.txt").c_str());
    std::remove(Path(out).c_str());
    EXPECT_TRUE(TempFiles().empty());
  }
}

TEST_F(DiskTest, OutputsInADirectoryThatRefusesNewFilesFail) {
  if (!LockedDir("ro")) GTEST_SKIP() << "no way to make a read-only directory here";
  struct {
    const char* out;
    const char* message;
  } cases[] = {
      {"ro/x.txt", "\nWriting Version 4 TXT table file ro/x.txt\n\nUnable to open file ro/x.txt\n"},
      {"ro/x.itb", "\nWriting Version 4 ITB table file ro/x.itb\n\n## Error 8 copying from "},
      {"ro/x.rc2", "\nUnable to open file ro/x.rc2\nProcessing aborted due to error code -1\n"},
      {"ro/x.itr",
       "\nWriting Version 4 ITR table file ro/x.itr\n\nError 1 trying to split .itf/.itr "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    RunResult r = Run({"in.txt", c.out});
    EXPECT_EQ(r.exit_code, kExitFail) << r.out;
    EXPECT_TRUE(Contains(r.out, c.message)) << r.out;
    EXPECT_TRUE(
        Contains(r.out, std::string("Error: output file ") + c.out + " not written\nError: Exit\n"))
        << r.out;
    EXPECT_FALSE(Exists(c.out));
    if (std::string(c.out) == "ro/x.itr") {
      EXPECT_TRUE(Contains(r.err, "Error opening ro/x.itf file.\n")) << r.err;
    }
  }
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(DiskTest, HugeArgumentsAreRefusedOrReadByTheirFirstLetter) {
  if (IsWindowsBuild()) GTEST_SKIP() << "a Windows command line holds at most 32767 characters";
  const std::string huge(100000, 'x');
  RunResult r = Run({"in.txt", huge + ".txt"});
  EXPECT_EQ(r.exit_code, kExitFail);
  EXPECT_TRUE(
      Contains(r.out, "Error: argument 2 (" + huge.substr(0, 80) + ") file name too long\n"))
      << r.out.substr(0, 400);
  EXPECT_TRUE(Contains(r.out, "Error: Exit\n"));
  EXPECT_LT(r.out.size(), 4000u);
  // Only an option's first letter counts, however long it is.
  r = Run({"/v" + huge, "in.txt", "out.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.out.substr(0, 400);
  EXPECT_EQ(Body(ReadFile("out.txt")), Body(sample_));
  // A huge name that looks like a path is a name, and too long.
  r = Run({"in.txt", "/" + huge + "/x.txt"});
  EXPECT_EQ(r.exit_code, kExitFail);
  EXPECT_TRUE(Contains(r.out, ") file name too long\n")) << r.out.substr(0, 400);
  EXPECT_TRUE(TempFiles().empty());
}

}  // namespace
}  // namespace e2e
