// The I/O layer: lines as the readers see them (line ends, 0x1A, lines
// across read boundaries, the length limit), output in pieces with a failed
// write reported and never hidden, and the random-access file whose held
// appends are read and changed in place before they reach the file.
#include "qvutil/fileio.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "testenv.h"

namespace {

using platform::Access;
using platform::Disposition;
using platform::File;

class FileIo : public ::testing::Test {
 protected:
  // Every line of the file as Next hands it out, then the result that ended them.
  std::vector<std::string> Lines(const std::string& bytes, int* last = nullptr) {
    env.dir.Write("in", bytes);
    File f;
    EXPECT_EQ(f.Open(env.dir.Path("in"), Access::kRead, Disposition::kOpenExisting), 0);
    LineReader r(f.get());
    std::vector<std::string> out;
    std::string_view line;
    int got;
    while ((got = r.Next(&line)) == kLineRead) out.emplace_back(line);
    if (last) *last = got;
    return out;
  }
  File Create(const std::string& rel) {
    File f;
    EXPECT_EQ(f.Open(env.dir.Path(rel), Access::kReadWrite, Disposition::kCreateAlways), 0);
    return f;
  }

  testenv::TestEnv env;
};

using Strings = std::vector<std::string>;

TEST_F(FileIo, LinesKeepTheirLineEnds) {
  int last = 0;
  EXPECT_EQ(Lines("A=1\r\nB=2\nC=3", &last), (Strings{"A=1\r\n", "B=2\n", "C=3"}));
  EXPECT_EQ(last, kLineNone);
  EXPECT_EQ(Lines(""), Strings{});
  EXPECT_EQ(Lines("\r\n\n"), (Strings{"\r\n", "\n"}));
  // A 0x1A ends its line and is not shown; at the start of a line it reads
  // as the end of the input, and the reader goes on after it when asked.
  EXPECT_EQ(Lines("ab\x1a"
                  "cd\r\n"),
            (Strings{"ab", "cd\r\n"}));
  EXPECT_EQ(Lines("ab\r\n\x1a"
                  "cd\r\n",
                  &last),
            Strings{"ab\r\n"});
  EXPECT_EQ(last, kLineNone);
  // NUL and high bytes are data.
  EXPECT_EQ(Lines(std::string("a\0\xff\r\n", 5)), Strings{std::string("a\0\xff\r\n", 5)});
}

TEST_F(FileIo, LinesAcrossReadBoundariesAndTheLengthLimit) {
  // Lines of every length around the read size meet its boundary at every place.
  std::string bytes;
  Strings want;
  for (size_t n = 250 * 1024; bytes.size() < 600 * 1024; n += 997) {
    want.push_back(std::string(n % 5000, 'x') + "\r\n");
    bytes += want.back();
  }
  EXPECT_EQ(Lines(bytes), want);

  const std::string longest(kMaxLineLength - 1, 'y');
  EXPECT_EQ(Lines(longest + "\n"), Strings{longest + "\n"});
  int last = 0;
  EXPECT_EQ(Lines("ok\n" + longest + "yy\n", &last), Strings{"ok\n"});
  EXPECT_EQ(last, kLineTooLong);
  EXPECT_EQ(Lines(longest + "yy", &last), Strings{});  // without a line end too
  EXPECT_EQ(last, kLineTooLong);
}

TEST_F(FileIo, OutputGoesOutInPiecesAndWhole) {
  File f = Create("out");
  OutputBuffer out;
  out.Start(f.get());
  std::string want;
  for (int i = 0; want.size() < 3 * OutputBuffer::kPiece; ++i) {
    std::string line = "line " + std::to_string(i) + std::string(i % 300, '.') + "\r\n";
    out.Append(line);
    want += line;
    EXPECT_TRUE(out.FlushIfFull());
  }
  EXPECT_TRUE(out.Finish());
  EXPECT_EQ(env.dir.Read("out"), want);

  // Positional output starts where it is told and leaves the rest.
  env.dir.Write("pos", "0123456789");
  File g;
  ASSERT_EQ(g.Open(env.dir.Path("pos"), Access::kReadWrite, Disposition::kOpenExisting), 0);
  out.Start(g.get(), 4);
  out.Append("ab");
  out.Truncate(1);  // a line begun and dropped
  out.Append("cd");
  EXPECT_EQ(out.end(), 7u);
  EXPECT_TRUE(out.Finish());
  EXPECT_EQ(env.dir.Read("pos"), "0123acd789");
}

TEST_F(FileIo, AFailedWriteIsReportedAndNothingAfterItGoesOut) {
  File f = Create("out");
  OutputBuffer out;
  out.Start(f.get());
  env.fail.writes.After(1);  // the first piece goes out, the second fails
  const std::string piece(OutputBuffer::kPiece, 'p');
  out.Append(piece);
  EXPECT_TRUE(out.Flush());
  out.Append(piece);
  EXPECT_TRUE(out.Flush());  // known only when that write ends
  out.Append("tail");
  EXPECT_FALSE(out.Finish());
  EXPECT_TRUE(out.failed());
  env.fail.writes.Off();
  out.Append("more");
  EXPECT_FALSE(out.Finish());  // a failure stays
  EXPECT_EQ(env.dir.Read("out"), piece);
}

TEST_F(FileIo, HeldAppendsAreReadAndChangedBeforeTheyReachTheFile) {
  File f = Create("data");
  ASSERT_EQ(env.WriteAt(f.get(), 0, "HEADER--", 8), 8);
  RandomFile io;
  io.Attach(f.get(), 8);
  char* d = io.AppendRoom(6);
  std::memcpy(d, "block1", 6);
  io.CommitAppend(d + 6);
  EXPECT_EQ(io.end(), 14u);
  EXPECT_EQ(env.dir.Read("data"), "HEADER--");  // still held
  char buf[16] = {};
  EXPECT_EQ(io.ReadAt(8, buf, 6), 6);
  EXPECT_EQ(std::string(buf, 6), "block1");
  EXPECT_TRUE(io.WriteAt(13, "X", 1));      // into the held bytes
  EXPECT_TRUE(io.WriteAt(0, "header", 6));  // before them: straight to the file
  EXPECT_EQ(io.ReadAt(4, buf, 8), 8);       // across their start: written first
  EXPECT_EQ(std::string(buf, 8), "er--bloc");
  EXPECT_EQ(env.dir.Read("data"), "header--blockX");

  // Many pieces of blocks, read back from memory, the flight and the file.
  std::string want = "header--blockX";
  for (int i = 0; want.size() < 3 * OutputBuffer::kPiece; ++i) {
    std::string b = std::to_string(i) + std::string(i % 4000, 'b');
    char* at = io.AppendRoom(b.size());
    ASSERT_NE(at, nullptr);
    std::memcpy(at, b.data(), b.size());
    io.CommitAppend(at + b.size());
    want += b;
    if (i % 500 == 499) {
      std::string back(b.size(), '\0');
      EXPECT_EQ(io.ReadAt(want.size() - b.size(), back.data(), b.size()),
                static_cast<long>(b.size()));
      EXPECT_EQ(back, b);
      std::string early(10, '\0');
      EXPECT_EQ(io.ReadAt(want.size() / 2, early.data(), 10), 10);
      EXPECT_EQ(early, want.substr(want.size() / 2, 10));
    }
  }
  EXPECT_TRUE(io.Flush());
  EXPECT_EQ(env.dir.Read("data"), want);
}

TEST_F(FileIo, AFailedWriteOfHeldBlocksFailsEveryChangeAfterIt) {
  File f = Create("data");
  RandomFile io;
  io.Attach(f.get(), 0);
  char* d = io.AppendRoom(4);
  std::memcpy(d, "lost", 4);
  io.CommitAppend(d + 4);
  env.fail.writes.After(0);
  EXPECT_FALSE(io.Flush());
  env.fail.writes.Off();
  EXPECT_TRUE(io.failed());
  EXPECT_EQ(io.AppendRoom(4), nullptr);
  EXPECT_FALSE(io.WriteAt(0, "x", 1));
  EXPECT_FALSE(io.Flush());
  EXPECT_EQ(env.dir.Read("data"), "");
}

}  // namespace
