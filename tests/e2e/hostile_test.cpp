// Command lines and surroundings that try to break a run: huge arguments,
// names with blanks and bytes outside ASCII, outputs that cannot be made
// (a directory, a missing or read-only directory, a full disk) and a full
// temporary directory. Each ends with a clear message and a defined exit
// code, and no input file changes by a single byte.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using e2e::kExitFail;
using e2e::RunResult;

bool Contains(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}

std::string Body(const std::string& text) {
  size_t eol = text.find("\r\n");
  return eol == std::string::npos ? std::string() : text.substr(eol + 2);
}

class HostileTest : public e2e::ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    sample_ = e2e::SourceFile("examples/sample.txt");
    WriteFile("in.txt", sample_);
  }
  void TearDown() override {
    for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) umount(it->c_str());
    for (const auto& d : locked_) chmod(d.c_str(), 0700);
    EXPECT_EQ(ReadFile("in.txt"), sample_) << "the input changed";
    ToolTest::TearDown();
  }
  // A tmpfs of `kb` kilobytes at rel; false when this machine cannot mount.
  bool MountTiny(const std::string& rel, int kb) {
    std::string at = Path(rel);
    if (mkdir(at.c_str(), 0700) != 0) return false;
    std::string opts = "size=" + std::to_string(kb) + "k";
    if (mount("tmpfs", at.c_str(), "tmpfs", 0, opts.c_str()) != 0) return false;
    mounts_.push_back(at);
    return true;
  }
  // Fills the file system of rel up to its last `leave` bytes.
  void Fill(const std::string& rel, size_t leave) {
    struct stat st;
    ASSERT_EQ(stat(Path(rel).c_str(), &st), 0);
    std::ofstream f(Path(rel + "/filler"), std::ios::binary);
    std::string chunk(1024, '\0');
    // Write until the disk refuses, then give `leave` back.
    while (f.write(chunk.data(), chunk.size()) && f.flush()) {
    }
    f.close();
    std::string filler = Path(rel + "/filler");
    std::FILE* h = std::fopen(filler.c_str(), "rb");
    ASSERT_NE(h, nullptr);
    std::fseek(h, 0, SEEK_END);
    long size = std::ftell(h);
    std::fclose(h);
    ASSERT_EQ(truncate(filler.c_str(), size > static_cast<long>(leave) ? size - leave : 0), 0);
  }
  // A directory that refuses new files: without write permission, or, for a
  // user who writes anyway (root), a read-only mount. False when neither works.
  bool LockedDir(const std::string& rel) {
    std::string at = Path(rel);
    if (mkdir(at.c_str(), 0700) != 0 || chmod(at.c_str(), 0500) != 0) return false;
    locked_.push_back(at);
    std::string probe = at + "/probe";
    std::FILE* f = std::fopen(probe.c_str(), "wb");
    if (!f) return true;
    std::fclose(f);
    std::remove(probe.c_str());
    if (mount("tmpfs", at.c_str(), "tmpfs", MS_RDONLY, "size=16k") != 0) return false;
    mounts_.push_back(at);
    return true;
  }

  std::string sample_;
  std::vector<std::string> mounts_;
  std::vector<std::string> locked_;
};

TEST_F(HostileTest, HugeArgumentsAreRefusedOrReadByTheirFirstLetter) {
  std::string huge(100000, 'x');
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

TEST_F(HostileTest, NamesJustBelowTheLimitAreReadAndWritten) {
  // 120 + 1 + 120 + 1 + 15 = 257 characters, then 258.
  std::string d(120, 'd');
  ASSERT_EQ(mkdir(Path(d).c_str(), 0700), 0);
  ASSERT_EQ(mkdir(Path(d + "/" + d).c_str(), 0700), 0);
  std::string in = d + "/" + d + "/" + std::string(11, 'n') + ".txt";
  std::string out = d + "/" + d + "/" + std::string(12, 'o') + ".itb";
  WriteFile(in, sample_);
  RunResult r = Run({in, out});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "\nReading Version 4 TXT table file " + in.substr(0, 80) + "\n"));
  r = Run({out, "back.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(Body(ReadFile("back.txt")), Body(sample_));
  EXPECT_EQ(ReadFile(in), sample_);
}

TEST_F(HostileTest, BlanksAndBytesOutsideAsciiInNames) {
  const std::string in = "my table \xc3\xa9\xe9.txt";
  WriteFile(in, sample_);
  const std::vector<std::string> outs = {"out put \xff.itb", "r\xe9sum\xe9 .rc2",
                                         "pair \x81\x5c.itr"};
  for (const std::string& out : outs) {
    SCOPED_TRACE(out);
    RunResult r = Run({in, out});
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_TRUE(Contains(r.out, "\nReading Version 4 TXT table file " + in + "\n"));
    r = Run({"/f", out, "back copy.txt"});
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(Body(ReadFile("back copy.txt")), Body(sample_));
  }
  EXPECT_TRUE(Exists("pair \x81\x5c.itf"));
  EXPECT_EQ(ReadFile(in), sample_);
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(HostileTest, AnOutputThatIsADirectoryIsRefusedAndLeftAlone) {
  ASSERT_EQ(mkdir(Path("dir.txt").c_str(), 0700), 0);
  WriteFile("dir.txt/keep", "keep");
  RunResult r = Run({"in.txt", "dir.txt"});
  EXPECT_EQ(r.exit_code, kExitFail);
  EXPECT_TRUE(Contains(r.out, "Error: argument 2 (dir.txt) Output File already exists.\n"));

  for (const char* out : {"dir.txt", "dir.itb"}) {
    SCOPED_TRACE(out);
    if (!Exists(out)) {
      ASSERT_EQ(mkdir(Path(out).c_str(), 0700), 0);
    }
    r = Run({"/f", "in.txt", out});
    EXPECT_EQ(r.exit_code, kExitFail) << r.out;
    EXPECT_TRUE(Contains(
        r.out, std::string("Forcing output.  Deleting pre-existing output file ") + out + ".\n"));
    EXPECT_FALSE(Contains(r.out, "Error: Exit")) << r.out;
  }
  EXPECT_TRUE(Contains(Run({"/f", "in.txt", "dir.txt"}).out, "Unable to open file dir.txt\n"));
  EXPECT_EQ(ReadFile("dir.txt/keep"), "keep");
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(HostileTest, OutputsInAMissingDirectoryFailEachWithItsMessage) {
  struct Case {
    const char* out;
    const char* message;
  } cases[] = {
      {"missing/x.txt", "Unable to open file missing/x.txt\n"},
      {"missing/x.itb", "## Error 8 copying from "},
      {"missing/x.rc2", "Unable to open file missing/x.rc2\n"},
      {"missing/x.itr", "Error 1 trying to split .itf/.itr "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    RunResult r = Run({"in.txt", "/o", c.out, "/o", "ok.txt"});
    EXPECT_EQ(r.exit_code, kExitFail);
    EXPECT_TRUE(Contains(r.out, c.message)) << r.out;
    EXPECT_TRUE(Contains(r.out, "\nWriting Version 4 TXT table file ok.txt\n")) << r.out;
    EXPECT_EQ(Body(ReadFile("ok.txt")), Body(sample_));
    std::remove(Path("ok.txt").c_str());
    EXPECT_FALSE(Exists("missing"));
    EXPECT_TRUE(TempFiles().empty());
  }
}

TEST_F(HostileTest, OutputsInAReadOnlyDirectoryFail) {
  if (!LockedDir("ro")) GTEST_SKIP() << "no way to make a read-only directory here";
  struct Case {
    const char* out;
    const char* message;
  } cases[] = {
      {"ro/x.txt", "Unable to open file ro/x.txt\n"},
      {"ro/x.itb", "## Error 8 copying from "},
      {"ro/x.rc2", "Unable to open file ro/x.rc2\nProcessing aborted due to error code -1\n"},
      {"ro/x.itr", "Error 1 trying to split .itf/.itr "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    RunResult r = Run({"in.txt", c.out});
    EXPECT_EQ(r.exit_code, kExitFail) << r.out;
    EXPECT_TRUE(Contains(r.out, c.message)) << r.out;
    EXPECT_FALSE(Contains(r.out, "Error: Exit")) << r.out;
    EXPECT_FALSE(Exists(c.out));
  }
  EXPECT_TRUE(Contains(Run({"in.txt", "ro/x.itr"}).err, "Error opening ro/x.itf file.\n"));
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(HostileTest, AFullTemporaryDirectoryStopsTheRunCleanly) {
  if (!MountTiny("tmpfull", 64)) GTEST_SKIP() << "cannot mount a small tmpfs here";
  Fill("tmpfull", 20 * 1024);
  RunResult r = Run({"in.txt", "out.itb"}, {{"TMPDIR", Path("tmpfull")}, {"TMP", Path("tmpfull")}});
  EXPECT_EQ(r.exit_code, kExitFail) << r.out;
  EXPECT_TRUE(Contains(r.out, "Processing aborted due to error code 6\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "Error: Exit\n")) << r.out;
  EXPECT_FALSE(Exists("out.itb"));
  EXPECT_EQ(ListDir("tmpfull"), std::vector<std::string>{"filler"});
}

TEST_F(HostileTest, AFullDiskUnderTheOutputFailsThatOutputOnly) {
  if (!MountTiny("full", 64)) GTEST_SKIP() << "cannot mount a small tmpfs here";
  Fill("full", 4 * 1024);
  for (const char* out : {"full/x.txt", "full/x.itb", "full/x.rc2"}) {
    SCOPED_TRACE(out);
    RunResult r = Run({"in.txt", "/o", out, "/o", "ok.txt"});
    EXPECT_EQ(r.exit_code, kExitFail) << r.out;
    EXPECT_TRUE(Contains(r.out, "\nWriting Version 4 TXT table file ok.txt\n")) << r.out;
    EXPECT_EQ(Body(ReadFile("ok.txt")), Body(sample_));
    std::remove(Path("ok.txt").c_str());
    std::remove(Path(out).c_str());
    EXPECT_TRUE(TempFiles().empty());
  }
}

}  // namespace
