// The split pair's text files: lines that straddle the read buffer's
// refills, the 0x1A end of a line, the line limit, and queued writes.
#include "qvdf/resource/textfile.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "qvdf/resource/resource_test_support.h"

namespace {

class TextFileTest : public rctest::ScratchTest {
 protected:
  // Writes bytes to a file and reads it back line by line: each line, or
  // "<code>" for a result other than kLineRead. Reading goes on after
  // kLineNone until it comes twice in a row or a line is too long.
  std::vector<std::string> Read(const std::string& bytes) {
    rctest::WriteAll(Path("in.txt"), bytes);
    TextFile f;
    EXPECT_EQ(f.Open(Path("in.txt"), platform::Access::kRead, platform::Disposition::kOpenExisting),
              0);
    std::vector<std::string> lines;
    std::string_view line;
    for (int none = 0; none < 2;) {
      int r = f.ReadLine(&line);
      if (r == kLineRead) {
        lines.emplace_back(line);
        none = 0;
        continue;
      }
      EXPECT_TRUE(line.empty());
      lines.push_back("<" + std::to_string(r) + ">");
      if (r == kLineTooLong) break;
      ++none;
    }
    return lines;
  }
};

TEST_F(TextFileTest, LinesComeBackWholeAcrossRefills) {
  // Short lines and lines close to the limit, so that lines straddle every
  // refill of the read buffer, and a last line without a line end.
  std::mt19937 rng(11);
  std::string bytes;
  std::vector<std::string> want;
  while (bytes.size() < 1500 * 1000) {
    size_t n = rng() % 4 == 0 ? kMaxLineLength - 2 - rng() % 3000 : rng() % 300;
    std::string line(n, static_cast<char>('a' + rng() % 26));
    line += rng() % 2 ? "\r\n" : "\n";
    bytes += line;
    want.push_back(line);
  }
  bytes += "no line end";
  want.push_back("no line end");
  want.push_back("<0>");
  want.push_back("<0>");
  EXPECT_EQ(Read(bytes), want);
}

TEST_F(TextFileTest, ControlZEndsALineWithoutBeingShown) {
  // A 0x1A ends the line; one at the start of a line reads as the end of
  // the file, and reading after it goes on.
  EXPECT_EQ(Read("ab\x1a"
                 "cd\n\x1a"
                 "ef\n\x1a\x1a"),
            (std::vector<std::string>{"ab", "cd\n", "<0>", "ef\n", "<0>", "<0>"}));
  EXPECT_EQ(Read(""), (std::vector<std::string>{"<0>", "<0>"}));
  EXPECT_EQ(Read("\n\r\n"), (std::vector<std::string>{"\n", "\r\n", "<0>", "<0>"}));
}

TEST_F(TextFileTest, TheLineLimitCountsTheLineEndButNotA0x1A) {
  const std::string fits(kMaxLineLength - 1, 'x');
  const std::string over(kMaxLineLength, 'y');
  EXPECT_EQ(Read(fits + "\n" + "z"), (std::vector<std::string>{fits + "\n", "z", "<0>", "<0>"}));
  EXPECT_EQ(Read("a\n" + over + "\n"), (std::vector<std::string>{"a\n", "<-1>"}));
  EXPECT_EQ(Read(over + "\x1a"), (std::vector<std::string>{over, "<0>", "<0>"}));
  EXPECT_EQ(Read(over + "y\x1a"), (std::vector<std::string>{"<-1>"}));
  EXPECT_EQ(Read(over), (std::vector<std::string>{over, "<0>", "<0>"}));
  EXPECT_EQ(Read(over + "y"), (std::vector<std::string>{"<-1>"}));
  // Far past the limit, wherever the line end is.
  EXPECT_EQ(Read(std::string(5 * kMaxLineLength, 'w') + "\n"), (std::vector<std::string>{"<-1>"}));
}

TEST_F(TextFileTest, WritesArriveWholeAndInOrder) {
  std::string want;
  {
    TextFile f;
    ASSERT_EQ(
        f.Open(Path("out.txt"), platform::Access::kWrite, platform::Disposition::kCreateAlways), 0);
    EXPECT_FALSE(f.Written());
    for (int i = 0; i < 20000; ++i) {
      // Now and then a piece larger than the whole queue.
      std::string piece =
          std::to_string(i) + std::string(i % 5000 == 7 ? 1200000 : i % 97, '.') + "\n";
      ASSERT_TRUE(f.Write(piece));
      want += piece;
    }
    EXPECT_TRUE(f.Written());
    EXPECT_TRUE(f.Close());
    // Closed: nothing more is taken.
    EXPECT_FALSE(f.Write("late"));
    EXPECT_FALSE(f.Good());
  }
  EXPECT_EQ(rctest::ReadAll(Path("out.txt")), want);
  TextFile in;
  EXPECT_EQ(in.Size(), -1);
  ASSERT_EQ(in.Open(Path("out.txt"), platform::Access::kRead, platform::Disposition::kOpenExisting),
            0);
  EXPECT_EQ(in.Size(), static_cast<int64_t>(want.size()));
}

// Every write fails as a full disk would.
class FullDisk : public platform::EnvWrapper {
 public:
  FullDisk() : EnvWrapper(platform::Env::Get()) { platform::Env::SetForTesting(this); }
  ~FullDisk() override { platform::Env::SetForTesting(nullptr); }
  long WriteFile(platform::FileHandle, const void*, size_t) override { return -1; }
};

TEST_F(TextFileTest, AFailedWriteIsKeptAndReportedByClose) {
  FullDisk disk;
  TextFile f;
  ASSERT_EQ(f.Open(Path("out.txt"), platform::Access::kWrite, platform::Disposition::kCreateAlways),
            0);
  // Queued text fails only when it is written out, and a piece written
  // behind shows its failure at a later write.
  EXPECT_TRUE(f.Write("short"));
  EXPECT_TRUE(f.Good());
  const std::string piece(600 * 1024, 'x');
  int writes = 0;
  while (writes < 8 && f.Write(piece)) ++writes;
  EXPECT_LT(writes, 8);
  EXPECT_FALSE(f.Good());
  EXPECT_FALSE(f.Write("more"));
  EXPECT_FALSE(f.Close());
  EXPECT_TRUE(f.Close());  // already closed
}

}  // namespace
