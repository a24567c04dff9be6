// The writer thread: buffers passed in order reach the file whole and in
// order, each one comes back for refilling once written, and a failed write
// is told at the next hand-over or wait.
#include "qvutil/writebehind.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "platform/test_temp_dir.h"

namespace {

// Fails every write from the n-th on (counting from 0), on any thread.
class FailingWrites : public platform::EnvWrapper {
 public:
  explicit FailingWrites(int failFrom) : EnvWrapper(platform::DefaultEnv()), failFrom_(failFrom) {}
  long WriteFile(platform::FileHandle h, const void* b, size_t n) override {
    if (writes_++ >= failFrom_) return -1;
    return EnvWrapper::WriteFile(h, b, n);
  }
  long WriteAt(platform::FileHandle h, uint64_t o, const void* b, size_t n) override {
    if (writes_++ >= failFrom_) return -1;
    return EnvWrapper::WriteAt(h, o, b, n);
  }

 private:
  int failFrom_;
  std::atomic<int> writes_{0};
};

class WriteBehindTest : public ::testing::Test {
 protected:
  platform::FileHandle Create(const std::string& name) {
    platform::FileHandle h = platform::kInvalidHandle;
    EXPECT_EQ(platform::Env::Get()->OpenFile(tmp_.Path(name), platform::Access::kWrite,
                                             platform::Disposition::kCreateAlways, &h),
              0);
    return h;
  }
  void TearDown() override { platform::Env::SetForTesting(nullptr); }

  platform_testing::TempDir tmp_;
};

TEST_F(WriteBehindTest, PassedBuffersArriveInOrderAndComeBack) {
  platform::FileHandle h = Create("seq.txt");
  std::string expect;
  {
    WriteBehind w;
    std::unique_ptr<char[]> buf(new char[16]);
    size_t cap = 16;
    const char* first = buf.get();
    for (int i = 0; i < 5; ++i) {
      ASSERT_NE(buf, nullptr) << i;
      std::string piece = "piece" + std::to_string(i) + "\n";
      std::memcpy(buf.get(), piece.data(), piece.size());
      expect += piece;
      ASSERT_TRUE(w.Pass(h, &buf, &cap, piece.size()));
      // None comes back from the first hand-over; then each in turn.
      if (i == 0) {
        EXPECT_EQ(buf, nullptr);
        buf.reset(new char[16]);
        cap = 16;
      } else if (i == 1) {
        EXPECT_EQ(buf.get(), first);
        EXPECT_EQ(cap, 16u);
      }
    }
    EXPECT_TRUE(w.Wait());
    EXPECT_FALSE(w.busy());
  }
  platform::Env::Get()->CloseFile(h);
  EXPECT_EQ(tmp_.Read("seq.txt"), expect);
}

TEST_F(WriteBehindTest, PositionalWritesAndTheirFailure) {
  platform::FileHandle h = Create("pos.dat");
  WriteBehind w;
  w.Start(h, 4, "tail", 4);
  EXPECT_TRUE(w.busy());
  EXPECT_EQ(w.offset(), 4u);
  EXPECT_EQ(w.size(), 4u);
  EXPECT_TRUE(w.Wait());
  w.Start(h, 0, "head", 4);
  EXPECT_TRUE(w.Wait());
  EXPECT_TRUE(w.Wait());  // nothing in flight

  FailingWrites env(0);
  platform::Env::SetForTesting(&env);
  w.Start(h, 8, "lost", 4);
  EXPECT_FALSE(w.Wait());
  std::unique_ptr<char[]> buf(new char[4]);
  size_t cap = 4;
  std::memcpy(buf.get(), "more", 4);
  EXPECT_TRUE(w.Pass(h, &buf, &cap, 4));  // the write before it was waited for
  EXPECT_FALSE(w.Wait());
  platform::Env::SetForTesting(nullptr);
  platform::Env::Get()->CloseFile(h);
  EXPECT_EQ(tmp_.Read("pos.dat"), "headtail");
}

TEST_F(WriteBehindTest, AFailureShowsAtTheNextHandOver) {
  platform::FileHandle h = Create("fail.txt");
  FailingWrites env(1);
  platform::Env::SetForTesting(&env);
  WriteBehind w;
  std::unique_ptr<char[]> buf(new char[8]);
  size_t cap = 8;
  std::memcpy(buf.get(), "good", 4);
  EXPECT_TRUE(w.Pass(h, &buf, &cap, 4));
  buf.reset(new char[8]);
  std::memcpy(buf.get(), "bad!", 4);
  EXPECT_TRUE(w.Pass(h, &buf, &cap, 4));   // "good" went out
  EXPECT_FALSE(w.Pass(h, &buf, &cap, 0));  // "bad!" did not
  EXPECT_TRUE(w.Wait());                   // an empty write cannot fail
  platform::Env::SetForTesting(nullptr);
  platform::Env::Get()->CloseFile(h);
  EXPECT_EQ(tmp_.Read("fail.txt"), "good");
}

}  // namespace
