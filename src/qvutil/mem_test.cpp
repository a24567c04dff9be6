// Memory blocks: the heap-logging switch read once from the options file,
// the exact log lines, and the loss of the block when resizing fails.
#include "qvutil/mem.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "qvutil/qvutil_test_util.h"

namespace {

using qvutil_testing::kBanner;
using qvutil_testing::kSectionGap;
using qvutil_testing::LogDirTest;
using qvutil_testing::Untimed;

class Mem : public LogDirTest {
 protected:
  void LogOn() { tmp.Write("qvoptcfg.cfg", "[qvwin]\r\nHeapLogging=1\r\n"); }
};

std::string Hex8(MemHandle h) {
  char b[32];
  std::snprintf(b, sizeof b, "%8x", static_cast<unsigned>(h));
  return b;
}
std::string Ptr(const void* p) {
  char b[32];
  std::snprintf(b, sizeof b, "%p", p);
  return b;
}

TEST_F(Mem, LoggingIsOffUnlessTheOptionsFileSaysSo) {
  MemHandle h;
  void* p = MemAlloc(10, &h);
  ASSERT_NE(p, nullptr);
  EXPECT_NE(h, 0u);
  MemFree(h, p);
  EXPECT_EQ(Options(), "[General]\r\nErrLogMaxSize=500000\r\nErrLogBackups=0\r\n" + kSectionGap +
                           "[qvwin]\r\nHeapLogging=0\r\n");
  EXPECT_FALSE(tmp.Exists("ZmTrace.log"));
  // Read once: switching it on now changes nothing in this process.
  LogOn();
  p = MemAlloc(10, &h);
  MemFree(h, p);
  EXPECT_FALSE(tmp.Exists("ZmTrace.log"));
}

TEST_F(Mem, EachOperationLogsOneLine) {
  LogOn();
  MemHandle h;
  void* p = MemAlloc(100, &h);
  ASSERT_NE(p, nullptr);
  std::memset(p, 7, 100);
  MemHandle z = 99;
  EXPECT_EQ(MemAlloc(0, &z), nullptr);
  EXPECT_EQ(z, 0u);
  MemFree(h, p);
  EXPECT_EQ(Untimed(Log()),
            kBanner + "[Unknown]   Alloc   " + Hex8(h) + "  " + Ptr(p) +
                "      --        --          100\r\n\r\n" + "[Unknown]   Alloc          0  " +
                Ptr(nullptr) + "      --        --            0\r\n\r\n" + "[Unknown]   Free    " +
                Hex8(h) + "  " + Ptr(p) + "      --        --            1\r\n\r\n");
}

// Resizes by moving to a new handle, or fails, or keeps block and pointer.
class ReAllocEnv : public platform::EnvWrapper {
 public:
  enum Mode { kMove, kFail, kInPlace };
  explicit ReAllocEnv(Mode m) : EnvWrapper(platform::Env::Get()), mode_(m) {}
  platform::MemHandle MemReAllocMovable(platform::MemHandle h, size_t n) override {
    if (mode_ == kFail) return 0;
    if (mode_ == kInPlace) return h;
    platform::MemHandle nh = target()->MemAllocMovable(n);
    std::memcpy(target()->MemLock(nh), target()->MemLock(h), 4);
    target()->MemUnlock(nh);
    target()->MemFreeMovable(h);
    return nh;
  }
  void MemFreeMovable(platform::MemHandle h) override {
    freed.push_back(h);
    target()->MemFreeMovable(h);
  }
  std::vector<platform::MemHandle> freed;

 private:
  Mode mode_;
};

TEST_F(Mem, ReAllocShowsWhatChanged) {
  LogOn();
  MemHandle h;
  char* p = static_cast<char*>(MemAlloc(4, &h));
  std::memcpy(p, "abcd", 4);
  ReAllocEnv in_place(ReAllocEnv::kInPlace);
  platform::Env::SetForTesting(&in_place);
  MemHandle same = h;
  ASSERT_EQ(MemReAlloc(4, &same, p), p);
  EXPECT_EQ(same, h);
  ReAllocEnv move(ReAllocEnv::kMove);
  platform::Env::SetForTesting(&move);
  MemHandle moved = h;
  char* q = static_cast<char*>(MemReAlloc(64, &moved, p));
  ASSERT_NE(q, nullptr);
  EXPECT_NE(moved, h);
  EXPECT_EQ(std::string(q, 4), "abcd");
  MemFree(moved, q);

  std::string log = Untimed(Log());
  std::string lines = log.substr(log.find("[Unknown]   ReAlloc"));
  EXPECT_EQ(lines, "[Unknown]   ReAlloc " + Hex8(h) + "  " + Ptr(p) +
                       "      --        --            4\r\n\r\n" + "[Unknown]   ReAlloc " +
                       Hex8(moved) + "  " + Ptr(q) + "   " + Hex8(h) + "  " + Ptr(p) +
                       "        64\r\n\r\n" + "[Unknown]   Free    " + Hex8(moved) + "  " + Ptr(q) +
                       "      --        --            1\r\n\r\n");
}

TEST_F(Mem, FailedReAllocLosesTheBlock) {
  MemHandle h;
  void* p = MemAlloc(8, &h);
  ReAllocEnv failing(ReAllocEnv::kFail);
  platform::Env::SetForTesting(&failing);
  MemHandle old = h;
  EXPECT_EQ(MemReAlloc(1024, &h, p), nullptr);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(failing.freed, std::vector<platform::MemHandle>{old});
  EXPECT_EQ(platform::DefaultEnv()->MemLock(old), nullptr);  // really gone

  // MemBlock: a failed resize leaves it empty; destruction frees once.
  failing.freed.clear();
  {
    MemBlock b;
    ASSERT_TRUE(b.Alloc(16));
    MemHandle bh = b.handle();
    EXPECT_FALSE(b.ReAlloc(32));
    EXPECT_EQ(b.get(), nullptr);
    EXPECT_EQ(failing.freed, std::vector<platform::MemHandle>{bh});
  }
  EXPECT_EQ(failing.freed.size(), 1u);
  // An empty block grows into a fresh one.
  platform::Env::SetForTesting(&env);
  MemBlock e;
  ASSERT_TRUE(e.ReAlloc(12));
  EXPECT_NE(e.handle(), 0u);
}

}  // namespace
