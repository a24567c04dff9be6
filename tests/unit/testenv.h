// The one test environment of the unit tests: a private directory that
// holds the temporary directory, the error log and the options file;
// operations that fail on request (fault injection); a chosen code page;
// and the messages a callee sent. A test makes one TestEnv and everything
// it calls sees it through platform::Env::Get() until the TestEnv goes.
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace testenv {

// A directory of its own, removed with everything in it when it goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The directory with a trailing separator, and a path inside it.
  std::string dir() const;
  std::string Path(const std::string& rel) const;
  void Write(const std::string& rel, const std::string& bytes) const;
  std::string Read(const std::string& rel) const;  // "" when missing
  bool Exists(const std::string& rel) const;

 private:
  std::filesystem::path path_;
};

// One kind of call made to fail: After(n) lets n calls through and fails
// every one after them; Next(n) fails the next n calls and then lets them
// through again. Off until set.
struct Fault {
  int pass = -1;  // calls that go through first; -1: off
  int times = 0;  // calls that fail after them
  void After(int n) {
    pass = n;
    times = INT_MAX;
  }
  void Next(int n) {
    pass = 0;
    times = n;
  }
  void Off() { pass = -1; }
  // True when this call must fail.
  bool Take();
};

struct Faults {
  Fault writes;   // WriteFile and WriteAt
  Fault reads;    // ReadFile and ReadAt
  Fault opens;    // of openPath only, when that is set
  Fault renames;  // RenameFile and ReplaceFile
  Fault closes;
  Fault allocs;  // movable memory
  std::string openPath;
};

class TestEnv : public platform::EnvWrapper {
 public:
  // Installs itself, with the error log and options file in its directory.
  TestEnv();
  ~TestEnv() override;
  TestEnv(const TestEnv&) = delete;
  TestEnv& operator=(const TestEnv&) = delete;

  TempDir dir;
  Faults fail;
  // Files open now (through this environment).
  int openFiles = 0;
  // Pauses asked for; none is slept through.
  int sleeps = 0;
  // Named mutexes: their names and directories as asked for, whether
  // another process holds them, and what happens the moment one is taken.
  std::vector<std::string> mutexNames;
  std::vector<std::string> mutexDirs;
  bool mutexHeldElsewhere = false;
  std::function<void()> onMutexTaken;
  // Called after every rename or replace that succeeded.
  std::function<void(const std::string& from)> afterRename;
  // The code page of lead bytes and case changes: 932, 1252 (no lead
  // bytes), or 0 for the platform's own. Takes effect at once.
  void SetCodePage(int codePage);

  int OpenFile(const std::string& p, platform::Access a, platform::Disposition d,
               platform::FileHandle* o) override;
  int CloseFile(platform::FileHandle h) override;
  long ReadFile(platform::FileHandle h, void* b, size_t n) override;
  long WriteFile(platform::FileHandle h, const void* b, size_t n) override;
  long ReadAt(platform::FileHandle h, uint64_t off, void* b, size_t n) override;
  long WriteAt(platform::FileHandle h, uint64_t off, const void* b, size_t n) override;
  int RenameFile(const std::string& from, const std::string& to) override;
  int ReplaceFile(const std::string& from, const std::string& to) override;
  std::string TempDirectory() override { return dir.dir(); }
  // No administrator's settings but those a test puts in its etc/.
  std::string SystemConfigDirectory() override { return dir.Path("etc/"); }
  platform::MemHandle MemAllocMovable(size_t n) override;
  // The real mutex, which can be held elsewhere or run a hook when taken.
  std::unique_ptr<platform::NamedMutex> NewNamedMutex(const std::string& name,
                                                      const std::string& dir) override;
  void SleepMs(int) override { ++sleeps; }
  bool IsLeadByte(unsigned char c) override;
  void LowerCase(char* s) override;
  void UpperCase(char* s) override;

 private:
  int codePage_ = 0;
};

// The messages sent through Messages::Fn while a Messages is alive, in order.
class Messages {
 public:
  Messages();
  ~Messages();
  static void Fn(int level, const char* text);
  // Every message at or above `level`, each followed by a line feed.
  std::string Text(int level = 0) const;
  std::vector<std::pair<int, std::string>> all;
};

}  // namespace testenv
