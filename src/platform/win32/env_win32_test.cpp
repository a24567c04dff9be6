// The Windows services other than files: path strings and option arguments,
// the code page, the program directory, global memory, a named mutex held by
// another process, profile files and module resources.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/pe_test_builder.h"
#include "platform/test_temp_dir.h"
#include "platform/win32/env_win32.h"

namespace platform {
namespace {

using platform_testing::TempDir;

constexpr char kMutexName[] = "<Zelm MusicalBackupsToControlLogFileSize Mutex>";

// When this program is started by the mutex test, it takes the mutex named
// in TBLCONV_MUTEX_CHILD, says so with the file "held" in the directory
// TBLCONV_MUTEX_DIR, waits for the file "exit" there and ends without
// releasing the mutex. No test runs in that process (its filter must still
// select one, or gtest skips the environments).
class MutexHolder : public ::testing::Environment {
 public:
  void SetUp() override {
    char name[256], dir[MAX_PATH];
    if (!GetEnvironmentVariableA("TBLCONV_MUTEX_CHILD", name, sizeof name) ||
        !GetEnvironmentVariableA("TBLCONV_MUTEX_DIR", dir, sizeof dir))
      return;
    auto m = DefaultEnv()->NewNamedMutex(name);
    if (!m || !m->TryLock()) ExitProcess(3);
    std::string d = dir;
    CloseHandle(CreateFileA((d + "held").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                            nullptr));
    for (int i = 0; i < 1200 && GetFileAttributesA((d + "exit").c_str()) ==
                                    INVALID_FILE_ATTRIBUTES;
         ++i)
      Sleep(50);
    static_cast<void>(m.release());  // abandoned, as by a process that dies holding it
    ExitProcess(0);
  }
};
::testing::Environment* const kMutexHolder = ::testing::AddGlobalTestEnvironment(new MutexHolder);

TEST(Win32Paths, SplitAndJoin) {
  Env* env = DefaultEnv();
  struct Case {
    const char* path;
    const char* drive;
    const char* dir;
    const char* base;
    const char* ext;
  } cases[] = {
      {"C:\\logs\\sub/ZmTrace.log.txt", "C:", "\\logs\\sub/", "ZmTrace.log", ".txt"},
      {"C:name", "C:", "", "name", ""},
      {"d.ir\\noext", "", "d.ir\\", "noext", ""},
      {"\\\\server\\share\\t.itb", "", "\\\\server\\share\\", "t", ".itb"},
      {"/unix/style.rc2", "", "/unix/", "style", ".rc2"},
      {"plain", "", "", "plain", ""},
  };
  for (const Case& c : cases) {
    PathParts p = env->SplitPath(c.path);
    EXPECT_EQ(p.drive, c.drive) << c.path;
    EXPECT_EQ(p.dir, c.dir) << c.path;
    EXPECT_EQ(p.base, c.base) << c.path;
    EXPECT_EQ(p.ext, c.ext) << c.path;
    EXPECT_EQ(env->JoinPath(p), c.path);
  }
  EXPECT_EQ(env->JoinPath(PathParts{"C:", "\\logs", "ZmTrace", "bk0"}), "C:\\logs\\ZmTrace.bk0");
  EXPECT_TRUE(env->IsSeparator('\\'));
  EXPECT_TRUE(env->IsSeparator('/'));
  EXPECT_FALSE(env->IsSeparator(':'));
}

TEST(Win32Paths, EverySlashOrDashArgumentIsAnOption) {
  Env* env = DefaultEnv();
  for (const char* opt : {"/3", "/s", "/help", "/?", "-o", "-", "/", "/tmp/in.txt"})
    EXPECT_TRUE(env->IsOptionArgument(opt)) << opt;
  for (const char* file : {"in.txt", "", "C:\\in.txt", "a/-b", "?", "\\x"})
    EXPECT_FALSE(env->IsOptionArgument(file)) << file;
}

TEST(Win32CodePage, CaseFollowsTheSystemCodePage) {
  Env* env = DefaultEnv();
  char s[] = "MiXeD.TxT 12";
  env->LowerCase(s);
  EXPECT_STREQ(s, "mixed.txt 12");
  env->UpperCase(s);
  EXPECT_STREQ(s, "MIXED.TXT 12");
  char empty[] = "";
  env->LowerCase(empty);
  EXPECT_STREQ(empty, "");
  if (GetACP() == 1252) {
    char accented[] = "\xC0\xC9x";  // capital A grave, capital E acute
    env->LowerCase(accented);
    EXPECT_STREQ(accented, "\xE0\xE9x");
    for (int c = 0; c < 256; ++c) EXPECT_FALSE(env->IsLeadByte(static_cast<unsigned char>(c)));
  }
  EXPECT_EQ(env->ToOemPath("C:\\tables\\in.itb"), "C:\\tables\\in.itb");
  if (GetACP() == 1252 && (GetOEMCP() == 437 || GetOEMCP() == 850)) {
    EXPECT_EQ(env->ToOemPath("caf\xE9.itb"), "caf\x82.itb");
  }
}

TEST(Win32ProgramDirectory, ExecutableDirectoryOrPerUserFolder) {
  char exe[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
  ASSERT_GT(n, 0u);
  std::string dir(exe, n);
  dir.erase(dir.find_last_of("\\/") + 1);
  EXPECT_EQ(DefaultEnv()->ProgramDirectory(), dir);  // the build directory is writable

  TempDir tmp;
  char saved[MAX_PATH];
  DWORD had = GetEnvironmentVariableA("LOCALAPPDATA", saved, MAX_PATH);
  SetEnvironmentVariableA("LOCALAPPDATA", tmp.Path("appdata").c_str());
  EXPECT_EQ(ProgramDirectoryFrom(tmp.Path("missing\\")), tmp.Path("appdata") + "\\tblconv\\");
  EXPECT_TRUE(tmp.Exists("appdata/tblconv"));
  SetEnvironmentVariableA("LOCALAPPDATA", had ? saved : nullptr);
}

TEST(Win32Memory, GlobalBlocksWithLockCounts) {
  Env* env = DefaultEnv();
  EXPECT_EQ(env->MemAllocMovable(0), 0u);
  MemHandle h = env->MemAllocMovable(16);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(env->MemLockCount(h), 0u);
  char* p = static_cast<char*>(env->MemLock(h));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(env->MemLock(h), p);
  EXPECT_EQ(env->MemLockCount(h), 2u);
  std::memcpy(p, "0123456789abcdef", 16);
  EXPECT_EQ(env->MemReAllocMovable(h, 1 << 20), 0u);  // locked: stays put
  EXPECT_EQ(env->MemLockCount(h), 2u);
  EXPECT_TRUE(env->MemUnlock(h));
  EXPECT_TRUE(env->MemUnlock(h));
  EXPECT_FALSE(env->MemUnlock(h));
  EXPECT_EQ(env->MemReAllocMovable(h, 0), 0u);
  MemHandle moved = env->MemReAllocMovable(h, 1 << 20);
  ASSERT_NE(moved, 0u);
  char* q = static_cast<char*>(env->MemLock(moved));
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(std::string(q, 16), "0123456789abcdef");
  q[(1 << 20) - 1] = 'z';  // the whole new size is usable
  EXPECT_EQ(env->MemLockCount(moved), 1u);
  env->MemFreeMovable(moved);
  EXPECT_EQ(env->MemLock(0), nullptr);
  EXPECT_EQ(env->MemLockCount(0), 0u);
  EXPECT_FALSE(env->MemUnlock(0));
  EXPECT_EQ(env->MemReAllocMovable(0, 8), 0u);
}

TEST(Win32Mutex, HeldByAnotherProcessUntilItEnds) {
  TempDir tmp;
  Env* env = DefaultEnv();
  // A name of this run's own, so that no other test program contends for it.
  std::string name = std::string(kMutexName) + std::to_string(GetCurrentProcessId());
  auto mine = env->NewNamedMutex(name);
  ASSERT_TRUE(mine);
  EXPECT_TRUE(mine->TryLock());
  mine->Unlock();

  char exe[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, exe, MAX_PATH), 0u);
  SetEnvironmentVariableA("TBLCONV_MUTEX_CHILD", name.c_str());
  SetEnvironmentVariableA("TBLCONV_MUTEX_DIR", tmp.dir().c_str());
  std::string cmd = std::string("\"") + exe + "\" --gtest_filter=Win32Mutex.*";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  BOOL started =
      CreateProcessA(exe, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableA("TBLCONV_MUTEX_CHILD", nullptr);
  SetEnvironmentVariableA("TBLCONV_MUTEX_DIR", nullptr);
  ASSERT_TRUE(started);
  for (int i = 0; i < 1200 && !tmp.Exists("held"); ++i) {
    if (WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0) break;
  }
  ASSERT_TRUE(tmp.Exists("held"));

  EXPECT_FALSE(mine->TryLock());
  auto again = env->NewNamedMutex(name);
  ASSERT_TRUE(again);
  EXPECT_FALSE(again->TryLock());
  auto other = env->NewNamedMutex(name + " other");
  ASSERT_TRUE(other);
  EXPECT_TRUE(other->TryLock());  // names are independent

  tmp.Write("exit", "");
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  // Its holder gone, the mutex can be taken; and released for the next one.
  EXPECT_TRUE(mine->TryLock());
  mine->Unlock();
  mine.reset();
  EXPECT_TRUE(again->TryLock());
}

TEST(Win32Profile, ThroughTheSystemsProfileCalls) {
  TempDir tmp;
  Env* env = DefaultEnv();
  const std::string f = tmp.Path("qvoptcfg.cfg");
  EXPECT_EQ(env->ReadProfileString(f, "General", "ErrLogMaxSize", "dflt"), "dflt");
  ASSERT_TRUE(env->WriteProfileString(f, "General", "ErrLogMaxSize", "500000"));
  ASSERT_TRUE(env->WriteProfileString(f, "General", "ErrLogBackups", "0"));
  ASSERT_TRUE(env->WriteProfileString(f, "GENERAL", "errlogbackups", "3"));
  ASSERT_TRUE(env->WriteProfileString(f, "qvwin", "HeapLogging", "0"));
  EXPECT_EQ(tmp.Read("qvoptcfg.cfg"),
            "[General]\r\nErrLogMaxSize=500000\r\nErrLogBackups=3\r\n[qvwin]\r\nHeapLogging=0\r\n");
  EXPECT_EQ(env->ReadProfileString(f, "general", "ERRLOGBACKUPS", ""), "3");
  EXPECT_EQ(env->ReadProfileString(f, "qvwin", "Missing", "d"), "d");

  // A hand-written file, with a value longer than a first read takes.
  const std::string longer(3000, 'v');
  tmp.Write("hand.cfg", "; settings\r\n[ General ]\r\n  ErrLogMaxSize =  1234  \r\nLong=" +
                            longer + "\r\n");
  EXPECT_EQ(env->ReadProfileString(tmp.Path("hand.cfg"), "general", "errlogmaxsize", ""), "1234");
  EXPECT_EQ(env->ReadProfileString(tmp.Path("hand.cfg"), "General", "Long", ""), longer);
  EXPECT_FALSE(env->WriteProfileString(tmp.Path("no\\dir.cfg"), "a", "b", "c"));
}

TEST(Win32Module, ResourcesOfAModuleLoadedAsData) {
  TempDir tmp;
  Env* env = DefaultEnv();
  std::vector<char> data;
  EXPECT_EQ(env->LoadModuleResource(tmp.Path("none.fil"), "_ZELM_ITB_TABLE_", 10, &data), 9);
  EXPECT_EQ(env->LoadModuleResource(tmp.dir(), "_ZELM_ITB_TABLE_", 10, &data), 9);
  tmp.Write("text.fil", "not a module");
  EXPECT_EQ(env->LoadModuleResource(tmp.Path("text.fil"), "_ZELM_ITB_TABLE_", 10, &data), 4);
  tmp.Write("empty.fil", "");
  EXPECT_EQ(env->LoadModuleResource(tmp.Path("empty.fil"), "_ZELM_ITB_TABLE_", 10, &data), 4);

  const std::string table("TABLE=4\r\n\0\0", 11);
  for (bool plus : {false, true}) {
    pe_testing::BuiltPe pe = pe_testing::BuildPe(plus, {{10, "_ZELM_ITB_TABLE_", {table}}});
    tmp.Write("t.fil", std::string(pe.img.begin(), pe.img.end()));
    data.clear();
    ASSERT_EQ(env->LoadModuleResource(tmp.Path("t.fil"), "_zelm_itb_table_", 10, &data), 0);
    EXPECT_EQ(std::string(data.begin(), data.end()), table);
    EXPECT_EQ(env->LoadModuleResource(tmp.Path("t.fil"), "_ZELM_ITB_TABLE_", 6, &data), 4);
    EXPECT_EQ(env->LoadModuleResource(tmp.Path("t.fil"), "_ZELM_ITB_TABLE_EN", 10, &data), 4);
  }
  // A damaged module whose resource or its entry lies outside the file is
  // refused, not read.
  pe_testing::BuiltPe pe = pe_testing::BuildPe(false, {{10, "_ZELM_ITB_TABLE_", {table}}});
  struct Damage {
    size_t at;
    uint32_t value;
  } damages[] = {
      {pe.data_entry, 0x7FFFFFF0u},      // the data's address
      {pe.data_entry + 4, 0x7FFFFFF0u},  // its size
      {pe.lang_dir + 16 + 4, 0x7FFF0000u},  // the language level's entry offset
  };
  for (const Damage& d : damages) {
    pe_testing::Bytes bad = pe.img;
    pe_testing::Put32(bad, d.at, d.value);
    tmp.Write("bad.fil", std::string(bad.begin(), bad.end()));
    EXPECT_EQ(env->LoadModuleResource(tmp.Path("bad.fil"), "_ZELM_ITB_TABLE_", 10, &data), 4)
        << d.at;
  }
  // A relative name means the file in the current directory, not one found
  // along the module search path.
  char cwd[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, cwd), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(tmp.dir().c_str()));
  EXPECT_EQ(env->LoadModuleResource("t.fil", "_ZELM_ITB_TABLE_", 10, &data), 0);
  SetCurrentDirectoryA(cwd);
}

}  // namespace
}  // namespace platform
