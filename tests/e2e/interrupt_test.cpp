// A run that is interrupted, or killed, while it waits for a subset file (a
// FIFO nobody writes yet): SIGINT and SIGTERM remove the working table and
// the new table the subset began, and end the run with 130 and 143; even a
// run killed outright has shown every line it wrote before, as each goes
// out at once also when standard output is a file.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

namespace e2e {
namespace {

class InterruptTest : public ToolTest {
 protected:
  // Starts tblconv in.txt /s sub.fifo out.itb with its standard output in
  // out.log (and standard error in out.log.err), and
  // waits until the subset has begun its own table in TMPDIR.
  pid_t StartBlocked() {
    WriteFile("in.txt", SourceFile("examples/sample.txt"));
    if (mkfifo(Path("sub.fifo").c_str(), 0600) != 0) return -1;
    const std::string prog = Program(), tmp = TempDir(), log = Path("out.log");
    const std::string work = dir();
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(work.c_str()) != 0) _exit(120);
      setenv("TMPDIR", tmp.c_str(), 1);
      // Standard error apart: standard output goes to a file of its own.
      dup2(open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
      dup2(open((log + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
      execl(prog.c_str(), prog.c_str(), "in.txt", "/s", "sub.fifo", "out.itb",
            static_cast<char*>(nullptr));
      _exit(121);
    }
    for (int i = 0; i < 500 && TempFiles().size() < 2; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return pid;
  }
  // The exit code, or 128 + the signal that ended it.
  static int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

TEST_F(InterruptTest, SignalsRemoveEveryTemporaryFileAndSetTheExitCode) {
  if (IsWindowsBuild()) GTEST_SKIP() << "POSIX signals; the Windows build takes console events";
  for (int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    pid_t pid = StartBlocked();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(TempFiles().size(), 2u) << "the run did not reach its subset file";
    kill(pid, sig);
    EXPECT_EQ(Wait(pid), 128 + sig);
    EXPECT_TRUE(TempFiles().empty());
    EXPECT_FALSE(Exists("out.itb"));
    EXPECT_TRUE(Contains(ReadFile("out.log"),
                         "\nApplying Table Modifier file sub.fifo\n\nError: Interrupted\n"))
        << ReadFile("out.log");
    unlink(Path("sub.fifo").c_str());
  }
}

TEST_F(InterruptTest, AKilledRunHasShownEveryLineItWrote) {
  if (IsWindowsBuild()) GTEST_SKIP() << "POSIX signals";
  pid_t pid = StartBlocked();
  ASSERT_GT(pid, 0);
  kill(pid, SIGKILL);
  EXPECT_EQ(Wait(pid), 128 + SIGKILL);
  const std::string log = ReadFile("out.log");
  EXPECT_TRUE(Contains(log, "\nReading Version 4 TXT table file in.txt\n")) << log;
  EXPECT_TRUE(Contains(log, "\nApplying Table Modifier file sub.fifo\n")) << log;
  // Nothing could clean up after SIGKILL.
  for (const std::string& f : TempFiles()) unlink((TempDir() + "/" + f).c_str());
}

}  // namespace
}  // namespace e2e
