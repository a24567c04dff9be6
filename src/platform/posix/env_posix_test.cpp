// The POSIX services other than files: path strings and option arguments,
// the code page, the program directory, movable memory, named mutexes,
// profile files and module resources.
#include "platform/posix/env_posix.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "platform/pe_test_builder.h"
#include "platform/test_temp_dir.h"

namespace platform {
namespace {

using platform_testing::TempDir;

TEST(PosixPaths, SplitAndJoin) {
  Env* env = DefaultEnv();
  struct Case {
    const char* path;
    const char* dir;
    const char* base;
    const char* ext;
  } cases[] = {
      {"/a/b/file.tar.gz", "/a/b/", "file.tar", ".gz"},
      {"name", "", "name", ""},
      {"dir.d/noext", "dir.d/", "noext", ""},
      {".bashrc", "", "", ".bashrc"},
      {"logs/", "logs/", "", ""},
      {"C:\\log.txt", "", "C:\\log", ".txt"},  // no drive and no backslash on POSIX
  };
  for (const Case& c : cases) {
    PathParts p = env->SplitPath(c.path);
    EXPECT_EQ(p.drive, "") << c.path;
    EXPECT_EQ(p.dir, c.dir) << c.path;
    EXPECT_EQ(p.base, c.base) << c.path;
    EXPECT_EQ(p.ext, c.ext) << c.path;
    EXPECT_EQ(env->JoinPath(p), c.path);
  }
  EXPECT_EQ(env->JoinPath(PathParts{"", "/var/log", "ZmTrace", "bk0"}), "/var/log/ZmTrace.bk0");
  EXPECT_TRUE(env->IsSeparator('/'));
  EXPECT_FALSE(env->IsSeparator('\\'));
}

TEST(PosixPaths, SlashArgumentsAreOptionsUnlessTheyArePaths) {
  Env* env = DefaultEnv();
  for (const char* opt : {"/3", "/s", "/help", "/?", "-o", "-", "/", "-/x/y"})
    EXPECT_TRUE(env->IsOptionArgument(opt)) << opt;
  for (const char* file : {"/tmp/in.txt", "//x", "/a/", "in.txt", "", "a/-b", "?"})
    EXPECT_FALSE(env->IsOptionArgument(file)) << file;
}

class CodePage : public ::testing::Test {
 protected:
  void Select(const char* cp) {
    if (cp)
      setenv("TBLCONV_CODEPAGE", cp, 1);
    else
      unsetenv("TBLCONV_CODEPAGE");
    Env::SetForTesting(nullptr);  // re-reads the setting
  }
  void TearDown() override { Select(nullptr); }
  std::string Lower(std::string s) {
    DefaultEnv()->LowerCase(s.data());
    return s;
  }
  std::string Upper(std::string s) {
    DefaultEnv()->UpperCase(s.data());
    return s;
  }
};

TEST_F(CodePage, LeadByteRanges) {
  Env* env = DefaultEnv();
  Select("932");
  for (int c : {0x81, 0x9F, 0xE0, 0xFC})
    EXPECT_TRUE(env->IsLeadByte(static_cast<unsigned char>(c))) << c;
  for (int c : {0x41, 0x80, 0xA0, 0xDF, 0xFD, 0xFF})
    EXPECT_FALSE(env->IsLeadByte(static_cast<unsigned char>(c))) << c;
  for (const char* cp : {"936", "949", "950"}) {
    Select(cp);
    EXPECT_TRUE(env->IsLeadByte(0x81)) << cp;
    EXPECT_TRUE(env->IsLeadByte(0xA0)) << cp;
    EXPECT_TRUE(env->IsLeadByte(0xFE)) << cp;
    EXPECT_FALSE(env->IsLeadByte(0x80)) << cp;
    EXPECT_FALSE(env->IsLeadByte(0xFF)) << cp;
  }
  for (const char* cp : {"1252", "", "9320"}) {
    Select(cp);
    for (int c = 0; c < 256; ++c)
      ASSERT_FALSE(env->IsLeadByte(static_cast<unsigned char>(c))) << cp;
  }
}

TEST_F(CodePage, CaseChangesSkipTrailBytes) {
  // 0x82 0x41 is one double-byte character in code page 932: its trail byte
  // is not the letter A.
  Select("932");
  EXPECT_EQ(Lower("AB\x82"
                  "AC\xC4"),
            "ab\x82"
            "Ac\xC4");
  EXPECT_EQ(Upper("ab\x82"
                  "ac\xE4"),
            "AB\x82"
            "aC\xE4");
  EXPECT_EQ(Lower("X\x82"), "x\x82");  // a lone lead byte at the end
  Select(nullptr);
  EXPECT_EQ(Lower("AB\x82"
                  "AC\xC4"),
            "ab\x82"
            "ac\xC4");
  EXPECT_EQ(Upper("ab\x82"
                  "ac\xE4"),
            "AB\x82"
            "AC\xE4");
}

TEST(PosixProgramDirectory, ExecutableDirectoryOrPerUserState) {
  std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(DefaultEnv()->ProgramDirectory(), exe.substr(0, exe.rfind('/') + 1));

  TempDir tmp;
  std::filesystem::create_directories(tmp.Path("ro"));
  chmod(tmp.Path("ro").c_str(), 0555);
  const char* xdg = getenv("XDG_STATE_HOME");
  std::string keep = xdg ? xdg : "";
  setenv("XDG_STATE_HOME", tmp.Path("state").c_str(), 1);
  EXPECT_EQ(ProgramDirectoryFrom(tmp.dir() + "ro/"), tmp.dir() + "state/tblconv/");
  EXPECT_TRUE(std::filesystem::is_directory(tmp.Path("state/tblconv")));
  EXPECT_EQ(ProgramDirectoryFrom(tmp.dir()), tmp.dir());
  // A relative XDG_STATE_HOME is ignored in favour of the home directory.
  const char* home = getenv("HOME");
  std::string keep_home = home ? home : "";
  setenv("XDG_STATE_HOME", "relative", 1);
  setenv("HOME", tmp.Path("home").c_str(), 1);
  EXPECT_EQ(ProgramDirectoryFrom(tmp.dir() + "ro/"), tmp.dir() + "home/.local/state/tblconv/");
  EXPECT_TRUE(std::filesystem::is_directory(tmp.Path("home/.local/state/tblconv")));
  if (xdg)
    setenv("XDG_STATE_HOME", keep.c_str(), 1);
  else
    unsetenv("XDG_STATE_HOME");
  if (home)
    setenv("HOME", keep_home.c_str(), 1);
  else
    unsetenv("HOME");
}

TEST(PosixMemory, LockCountsAndResizing) {
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
  // A locked block cannot move.
  EXPECT_EQ(env->MemReAllocMovable(h, 1 << 20), 0u);
  EXPECT_TRUE(env->MemUnlock(h));
  EXPECT_TRUE(env->MemUnlock(h));
  EXPECT_FALSE(env->MemUnlock(h));
  EXPECT_EQ(env->MemReAllocMovable(h, 0), 0u);
  ASSERT_EQ(env->MemReAllocMovable(h, 1 << 20), h);
  char* q = static_cast<char*>(env->MemLock(h));
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(std::string(q, 16), "0123456789abcdef");
  q[(1 << 20) - 1] = 'z';  // the whole new size is usable
  EXPECT_NE(env->MemAllocMovable(8), h);
  env->MemFreeMovable(h);
  EXPECT_EQ(env->MemLock(h), nullptr);
  EXPECT_EQ(env->MemLockCount(h), 0u);
  EXPECT_EQ(env->MemReAllocMovable(h, 8), 0u);
}

TEST(PosixMutex, OneHolderAtATime) {
  TempDir tmp;
  const char* saved = getenv("TMPDIR");
  std::string keep = saved ? saved : "";
  setenv("TMPDIR", tmp.dir().c_str(), 1);
  Env* env = DefaultEnv();
  const std::string name = "<Zelm MusicalBackupsToControlLogFileSize Mutex>";
  auto a = env->NewNamedMutex(name);
  auto b = env->NewNamedMutex(name);
  auto other = env->NewNamedMutex("other");
  ASSERT_TRUE(a && b && other);
  EXPECT_TRUE(tmp.Exists("tblconv-_Zelm_MusicalBackupsToControlLogFileSize_Mutex_.lock"));
  EXPECT_TRUE(a->TryLock());
  EXPECT_FALSE(b->TryLock());
  EXPECT_TRUE(other->TryLock());  // names are independent
  a->Unlock();
  EXPECT_TRUE(b->TryLock());
  b.reset();  // destruction releases
  EXPECT_TRUE(a->TryLock());
  a.reset();
  setenv("TMPDIR", (tmp.dir() + "missing/").c_str(), 1);
  EXPECT_EQ(env->NewNamedMutex(name), nullptr);
  if (saved)
    setenv("TMPDIR", keep.c_str(), 1);
  else
    unsetenv("TMPDIR");
}

TEST(PosixProfile, ReadsAndWritesFiles) {
  TempDir tmp;
  Env* env = DefaultEnv();
  const std::string f = tmp.Path("qvoptcfg.cfg");
  EXPECT_EQ(env->ReadProfileString(f, "General", "ErrLogMaxSize", "dflt"), "dflt");
  ASSERT_TRUE(env->WriteProfileString(f, "General", "ErrLogMaxSize", "500000"));
  ASSERT_TRUE(env->WriteProfileString(f, "General", "ErrLogBackups", "0"));
  ASSERT_TRUE(env->WriteProfileString(f, "qvwin", "HeapLogging", "0"));
  ASSERT_TRUE(env->WriteProfileString(f, "GENERAL", "errlogbackups", "3"));
  EXPECT_EQ(
      tmp.Read("qvoptcfg.cfg"),
      "[General]\r\nErrLogMaxSize=500000\r\nerrlogbackups=3\r\n\r\n[qvwin]\r\nHeapLogging=0\r\n");
  EXPECT_EQ(env->ReadProfileString(f, "general", "ERRLOGBACKUPS", ""), "3");
  EXPECT_EQ(env->ReadProfileString(f, "qvwin", "Missing", "d"), "d");
  // A shorter value must not leave the old file's tail behind.
  ASSERT_TRUE(env->WriteProfileString(f, "General", "ErrLogMaxSize", "1"));
  EXPECT_EQ(tmp.Read("qvoptcfg.cfg"),
            "[General]\r\nErrLogMaxSize=1\r\nerrlogbackups=3\r\n\r\n[qvwin]\r\nHeapLogging=0\r\n");
  EXPECT_FALSE(env->WriteProfileString(tmp.Path("no/dir.cfg"), "a", "b", "c"));
}

TEST(PosixModule, ResourcesComeFromTheFileWithoutLoadingIt) {
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
  pe_testing::BuiltPe pe = pe_testing::BuildPe(true, {{10, "_ZELM_ITB_TABLE_", {table}}});
  tmp.Write("t.fil", std::string(pe.img.begin(), pe.img.end()));
  ASSERT_EQ(env->LoadModuleResource(tmp.Path("t.fil"), "_zelm_itb_table_", 10, &data), 0);
  EXPECT_EQ(std::string(data.begin(), data.end()), table);
  EXPECT_EQ(env->LoadModuleResource(tmp.Path("t.fil"), "_ZELM_ITB_TABLE_", 6, &data), 4);
}

}  // namespace
}  // namespace platform
