// The error log beside the program, shared by runs that fail at the same
// time. With a tiny size limit it is rotated (under the named mutex) while
// the other runs write to it; every entry must still arrive whole and
// exactly once across the log and its backups. The rotation lock lies
// beside the log, so runs with different temporary directories share it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using e2e::kExitFail;
using e2e::RunResult;

class ErrorLogTest : public e2e::ToolTest {
 protected:
  // Entries per input name ("bad3.itb") in the log and its backups; every
  // other line must be the banner, an empty line or a retry note.
  std::map<std::string, int> Entries(const std::string& bin, int* files) {
    static const std::regex entry(
        "[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9 ][0-9] [0-9:]{8} [0-9]{4}: Error (bad[0-9]+\\.itb)"
        "\\.[0-9]+ at qvdf\\\\dopen line [0-9]+");
    static const std::regex other(
        "|[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9 ][0-9] [0-9:]{8} [0-9]{4} -- Zelm Technology Corvane "
        "Log File --|\\*\\* [0-9]+ QV_OPEN Retries Were Required \\*\\*");
    std::map<std::string, int> seen;
    *files = 0;
    std::vector<std::string> names = {"ZmTrace.log"};
    for (const char* hex :
         {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "a", "b", "c", "d", "e", "f"})
      names.push_back(std::string("ZmTrace.bk") + hex);
    for (const std::string& name : names) {
      if (!Exists(bin + "/" + name)) continue;
      ++*files;
      std::string text = ReadFile(bin + "/" + name);
      EXPECT_EQ(text.substr(text.size() < 2 ? 0 : text.size() - 2), "\r\n") << name;
      for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 2;
        std::smatch m;
        if (std::regex_match(line, m, entry))
          ++seen[m[1]];
        else
          EXPECT_TRUE(std::regex_match(line, other)) << name << ": " << line;
      }
    }
    return seen;
  }
};

TEST_F(ErrorLogTest, ConcurrentRunsShareOneLogThroughRotation) {
  const std::string bin = UsePrivateProgram();
  const std::string options =
      "[General]\r\nErrLogMaxSize=600\r\nErrLogBackups=16\r\n[qvwin]\r\nHeapLogging=0\r\n";
  WriteFile(bin + "/qvoptcfg.cfg", options);
  constexpr int kRuns = 6, kRounds = 3;
  // A table of garbage: each run fails to open it, and the data file layer
  // logs what failed, naming the file.
  std::vector<std::vector<std::string>> runs;
  for (int k = 1; k <= kRuns; ++k) {
    std::string name = "bad" + std::to_string(k) + ".itb";
    WriteFile(name, std::string(300, 'x'));
    runs.push_back({name, "out" + std::to_string(k) + ".txt"});
  }

  // How many entries one run leaves, on its own.
  RunResult solo = Run(runs[0]);
  EXPECT_EQ(solo.exit_code, kExitFail) << solo.out;
  int files = 0;
  const int per_run = Entries(bin, &files)["bad1.itb"];
  ASSERT_GE(per_run, 1);
  ASSERT_EQ(std::remove(Path(bin + "/ZmTrace.log").c_str()), 0);

  for (int round = 0; round < kRounds; ++round) {
    for (const RunResult& r : RunTogether(runs)) EXPECT_EQ(r.exit_code, kExitFail) << r.out;
  }
  // A last run alone: nobody holds the log, so a log over the limit rotates.
  EXPECT_EQ(Run(runs[0]).exit_code, kExitFail);

  std::map<std::string, int> seen = Entries(bin, &files);
  EXPECT_GE(files, 2);  // rotated at least once
  ASSERT_EQ(seen.size(), static_cast<size_t>(kRuns));
  for (const auto& [name, count] : seen)
    EXPECT_EQ(count, per_run * (name == "bad1.itb" ? kRounds + 1 : kRounds)) << name;
  // Every setting was there: the options file is as it was.
  EXPECT_EQ(ReadFile(bin + "/qvoptcfg.cfg"), options);
}

TEST_F(ErrorLogTest, RotationLockLiesBesideTheLogAndQuotedSettingsCount) {
  if (e2e::IsWindowsBuild())
    GTEST_SKIP() << "the Windows build's rotation lock is a named mutex of the system, not a file";
  const std::string bin = UsePrivateProgram();
  // Quoted values are read without their quotes: a limit of 600 bytes and
  // two backups.
  WriteFile(bin + "/qvoptcfg.cfg",
            "[General]\r\nErrLogMaxSize=\"600\"\r\nErrLogBackups='2'\r\n"
            "[qvwin]\r\nHeapLogging=0\r\n");
  WriteFile("bad.itb", std::string(300, 'x'));
  const std::string full(1000, '#');
  const std::string banner = " -- Zelm Technology Corvane Log File --\r\n\r\n";

  // A full log is rotated; the lock the run took is a file beside the log,
  // for its owner only, and nothing is left in the temporary directory.
  WriteFile(bin + "/ZmTrace.log", full);
  EXPECT_EQ(Run({"bad.itb", "out.txt"}).exit_code, kExitFail);
  EXPECT_EQ(ReadFile(bin + "/ZmTrace.bk0"), full);
  EXPECT_EQ(ReadFile(bin + "/ZmTrace.log").substr(24, banner.size()), banner);
  const std::string lock =
      Path(bin + "/tblconv-_Zelm_MusicalBackupsToControlLogFileSize_Mutex_.lock");
  struct stat st;
  ASSERT_EQ(stat(lock.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(TempFiles(), std::vector<std::string>{});

  // While another writer of this log holds the lock, a run with a
  // temporary directory of its own leaves the full log alone.
  WriteFile(bin + "/ZmTrace.log", full);
  std::filesystem::create_directories(Path("elsewhere"));
  int fd = open(lock.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(Run({"bad.itb", "out.txt"}, {{"TMPDIR", Path("elsewhere")}}).exit_code, kExitFail);
  close(fd);
  std::string log = ReadFile(bin + "/ZmTrace.log");
  EXPECT_EQ(log.substr(0, full.size()), full);
  EXPECT_GT(log.size(), full.size());
  EXPECT_FALSE(Exists(bin + "/ZmTrace.bk1"));

  // Released, the next run rotates with two backups.
  EXPECT_EQ(Run({"bad.itb", "out.txt"}).exit_code, kExitFail);
  EXPECT_EQ(ReadFile(bin + "/ZmTrace.bk0"), log);
  EXPECT_EQ(ReadFile(bin + "/ZmTrace.bk1"), full);
}

}  // namespace
