// Several processes write one error log at once with a tiny size limit.
// Every entry must arrive whole and exactly once across the log and its
// backups: no entry torn by another process's write, none lost to two
// rotations at once. The writers are this test program started again with
// TBLCONV_ERRLOG_WRITER_* set; they write their entries and exit before any
// test runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "qvutil/errlog.h"
#include "qvutil/qvutil_test_util.h"

namespace {

using qvutil_testing::LogDirTest;
using qvutil_testing::Untimed;

class WriterMode : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* log = std::getenv("TBLCONV_ERRLOG_WRITER_LOG");
    if (!log) return;
    int id = std::atoi(std::getenv("TBLCONV_ERRLOG_WRITER_ID"));
    int count = std::atoi(std::getenv("TBLCONV_ERRLOG_WRITER_COUNT"));
    ErrorLogResetForTesting();
    ErrorLogSetPath(log);
    for (int n = 0; n < count; ++n) {
      std::string text = "w" + std::to_string(id) + "n" + std::to_string(n);
      if (ErrorLogErrorS("writer", id, text.c_str(), n) != n) std::exit(3);
    }
    std::exit(0);
  }
};
::testing::Environment* const kWriterMode = ::testing::AddGlobalTestEnvironment(new WriterMode);

using ErrorLogProcesses = LogDirTest;

TEST_F(ErrorLogProcesses, ConcurrentWritersLoseAndTearNothing) {
  constexpr int kWriters = 6, kEntries = 40;
  tmp.Write("qvoptcfg.cfg", "[General]\r\nErrLogMaxSize=1500\r\nErrLogBackups=16\r\n");
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  std::ostringstream cmd;
  for (int i = 1; i <= kWriters; ++i) {
    cmd << "TMPDIR='" << tmp.dir() << "' TBLCONV_ERRLOG_WRITER_LOG='" << tmp.Path("ZmTrace.log")
        << "' TBLCONV_ERRLOG_WRITER_ID=" << i << " TBLCONV_ERRLOG_WRITER_COUNT=" << kEntries << " '"
        << self << "' --gtest_filter=ErrorLogProcesses.* >/dev/null & p" << i << "=$!\n";
  }
  for (int i = 1; i <= kWriters; ++i) cmd << "wait $p" << i << " || exit 1\n";
  ASSERT_EQ(std::system(cmd.str().c_str()), 0) << cmd.str();

  const std::regex entry("<T>: Error w([0-9]+)n([0-9]+)\\.([0-9]+) at writer line ([0-9]+)");
  std::map<std::pair<int, int>, int> seen;
  int files = 0;
  const char* names[] = {"ZmTrace.log", "ZmTrace.bk0", "ZmTrace.bk1", "ZmTrace.bk2", "ZmTrace.bk3",
                         "ZmTrace.bk4", "ZmTrace.bk5", "ZmTrace.bk6", "ZmTrace.bk7", "ZmTrace.bk8",
                         "ZmTrace.bk9", "ZmTrace.bka", "ZmTrace.bkb", "ZmTrace.bkc", "ZmTrace.bkd",
                         "ZmTrace.bke", "ZmTrace.bkf"};
  for (const char* name : names) {
    if (!tmp.Exists(name)) break;  // the backups form an unbroken chain
    ++files;
    std::string text = Untimed(tmp.Read(name));
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n") << name;
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find("\r\n", at);
      ASSERT_NE(end, std::string::npos) << name;
      std::string line = text.substr(at, end - at);
      at = end + 2;
      if (line.empty() || line == "<T> -- Zelm Technology Corvane Log File --") continue;
      std::smatch m;
      ASSERT_TRUE(std::regex_match(line, m, entry)) << name << ": " << line;
      EXPECT_EQ(m[2], m[3]) << line;
      EXPECT_EQ(m[1], m[4]) << line;
      ++seen[{std::stoi(m[1]), std::stoi(m[2])}];
    }
  }
  EXPECT_GE(files, 2);  // the limit made it rotate (contention may skip some turns)
  std::string listing;
  for (const auto& e : std::filesystem::directory_iterator(tmp.Path("")))
    listing += e.path().filename().string() + " (" + std::to_string(e.file_size()) + ") ";
  EXPECT_EQ(seen.size(), static_cast<size_t>(kWriters * kEntries)) << listing;
  for (const auto& [key, count] : seen) EXPECT_EQ(count, 1) << key.first << "/" << key.second;
  EXPECT_FALSE(tmp.Exists("ZmTrace.bk10"));
}

}  // namespace
