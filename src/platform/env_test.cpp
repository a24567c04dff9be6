// The platform interface as every caller may rely on it, the same test on
// POSIX and on Windows (under Wine): files by handle, temporary names,
// attributes, rename without replacing, wildcard search, paths, case,
// movable memory, named mutexes, profile files and module resources.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <regex>
#include <thread>

#include "platform/pe_test_builder.h"
#include "platform/platform.h"
#include "testenv.h"

namespace platform {
namespace {

class EnvTest : public ::testing::Test {
 protected:
  Env* env = DefaultEnv();
  testenv::TempDir tmp;
};

TEST_F(EnvTest, OpenDispositionsAndTransfers) {
  FileHandle h;
  EXPECT_NE(env->OpenFile(tmp.Path("missing"), Access::kRead, Disposition::kOpenExisting, &h), 0);
  EXPECT_EQ(h, kInvalidHandle);

  tmp.Write("f", "old contents");
  ASSERT_EQ(env->OpenFile(tmp.Path("f"), Access::kReadWrite, Disposition::kOpenAlways, &h), 0);
  EXPECT_EQ(env->FileSize(h), 12);
  EXPECT_EQ(env->WriteAt(h, 4, "NEW", 3), 3);
  char buf[32] = {};
  // Where a positional transfer leaves the sequential position is the
  // platform's own (Windows moves it): seek before reading on.
  EXPECT_EQ(env->Seek(h, 0, SeekFrom::kBegin), 0);
  EXPECT_EQ(env->ReadFile(h, buf, sizeof buf), 12);
  EXPECT_STREQ(buf, "old NEWtents");
  EXPECT_EQ(env->ReadFile(h, buf, 4), 0);  // at the end
  EXPECT_EQ(env->Seek(h, -3, SeekFrom::kEnd), 9);
  EXPECT_EQ(env->ReadAt(h, 100, buf, 4), 0);
  EXPECT_EQ(env->CloseFile(h), 0);

  ASSERT_EQ(env->OpenFile(tmp.Path("f"), Access::kWrite, Disposition::kCreateAlways, &h), 0);
  EXPECT_EQ(env->FileSize(h), 0);  // truncated
  EXPECT_EQ(env->WriteFile(h, "abc", 3), 3);
  EXPECT_EQ(env->CloseFile(h), 0);
  // Appends land at the end wherever the position is.
  ASSERT_EQ(env->OpenFile(tmp.Path("f"), Access::kWrite, Disposition::kAppend, &h), 0);
  EXPECT_EQ(env->Seek(h, 0, SeekFrom::kBegin), 0);
  EXPECT_EQ(env->WriteFile(h, "def", 3), 3);
  EXPECT_EQ(env->CloseFile(h), 0);
  EXPECT_EQ(tmp.Read("f"), "abcdef");

  // The owner closes what it holds, once.
  {
    File f;
    ASSERT_EQ(f.Open(tmp.Path("f"), Access::kRead, Disposition::kOpenExisting), 0);
    File moved = std::move(f);
    EXPECT_FALSE(f.is_open());
    EXPECT_EQ(env->ReadAt(moved.get(), 0, buf, 3), 3);
  }
  EXPECT_EQ(env->RemoveFile(tmp.Path("f")), 0);  // nothing holds it open any more
}

TEST_F(EnvTest, UniqueTemporaryFilesAreNewAndNamedLikeWindows) {
  std::string a, b;
  FileHandle h;
  ASSERT_EQ(env->CreateUniqueFile(tmp.dir(), "ITBX", &a, &h), 0);
  std::string dir = env->AbsolutePath(tmp.dir());
  std::smatch m;
  ASSERT_TRUE(std::regex_search(a, m, std::regex("ITB[0-9A-Fa-f]{1,4}\\.tmp$"))) << a;
  EXPECT_EQ(env->WriteFile(h, "x", 1), 1);  // handed out open for writing
  EXPECT_EQ(env->CloseFile(h), 0);
  ASSERT_EQ(env->CreateUniqueFile(tmp.dir(), "IT", &b, nullptr), 0);
  EXPECT_TRUE(std::regex_search(b, std::regex("IT[0-9A-Fa-f]{1,4}\\.tmp$"))) << b;
  EXPECT_NE(a, b);
  FileAttributes at;
  ASSERT_TRUE(env->GetAttributes(b, &at));
  EXPECT_EQ(at.size, 0u);

  std::string c = "unchanged";
  EXPECT_NE(env->CreateUniqueFile(tmp.Path("no/such/"), "ITB", &c, nullptr), 0);
  EXPECT_EQ(c, "unchanged");
}

TEST_F(EnvTest, AttributesRemoveAndRenameWithoutReplacing) {
  FileAttributes at;
  EXPECT_FALSE(env->GetAttributes(tmp.Path("none"), &at));
  tmp.Write("a", "12345");
  ASSERT_TRUE(env->GetAttributes(tmp.Path("a"), &at));
  EXPECT_FALSE(at.is_directory);
  EXPECT_FALSE(at.read_only);
  EXPECT_EQ(at.size, 5u);
  ASSERT_TRUE(env->GetAttributes(tmp.dir(), &at));
  EXPECT_TRUE(at.is_directory);
  std::filesystem::permissions(tmp.Path("a"), std::filesystem::perms::owner_read,
                               std::filesystem::perm_options::replace);
  ASSERT_TRUE(env->GetAttributes(tmp.Path("a"), &at));
  EXPECT_TRUE(at.read_only);
  std::filesystem::permissions(tmp.Path("a"), std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace);

  tmp.Write("b", "bee");
  EXPECT_NE(env->RenameFile(tmp.Path("a"), tmp.Path("b")), 0);
  EXPECT_EQ(tmp.Read("a"), "12345");
  EXPECT_EQ(tmp.Read("b"), "bee");
  EXPECT_EQ(env->RenameFile(tmp.Path("a"), tmp.Path("c")), 0);
  EXPECT_FALSE(tmp.Exists("a"));
  EXPECT_EQ(tmp.Read("c"), "12345");
  EXPECT_NE(env->RenameFile(tmp.Path("a"), tmp.Path("d")), 0);
  EXPECT_EQ(env->RemoveFile(tmp.Path("c")), 0);
  EXPECT_NE(env->RemoveFile(tmp.Path("c")), 0);
}

TEST_F(EnvTest, WildcardSearchKeepsThePatternsDirectory) {
  std::filesystem::create_directories(tmp.Path("tables/sub.fil"));
  tmp.Write("tables/a.fil", "abc");
  tmp.Write("tables/b.fil", "");
  tmp.Write("tables/c.txt", "c");
  tmp.Write("tables/ab.fil", "ab");
  std::string dir = tmp.dir() + "tables/";
  std::vector<FindMatch> found = env->FindFiles(dir + "*.fil");
  std::vector<std::string> names;
  for (const FindMatch& f : found) {
    names.push_back(f.name.substr(dir.size()));
    if (names.back() == "a.fil") {
      EXPECT_EQ(f.size, 3u);
    }
    if (names.back() == "sub.fil") {
      EXPECT_TRUE(f.is_directory);
    }
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.fil", "ab.fil", "b.fil", "sub.fil"}));
  found = env->FindFiles(dir + "?.fil");
  EXPECT_EQ(found.size(), 2u);
  EXPECT_TRUE(env->FindFiles(dir + "*.none").empty());
  EXPECT_TRUE(env->FindFiles(tmp.dir() + "missing/*.fil").empty());
}

TEST_F(EnvTest, OneFileHasOneAbsoluteName) {
  std::filesystem::create_directories(tmp.Path("d"));
  tmp.Write("f.txt", "x");
  EXPECT_EQ(env->AbsolutePath(tmp.Path("d/../f.txt")), env->AbsolutePath(tmp.Path("f.txt")));
  EXPECT_TRUE(env->MakeDirectories(tmp.Path("x/y/z")));
  EXPECT_TRUE(std::filesystem::is_directory(tmp.Path("x/y/z")));
}

TEST_F(EnvTest, PathsSplitAndJoinAgain) {
#ifdef _WIN32
  PathParts p = env->SplitPath("C:\\tables\\rc.x\\new.itr");
  EXPECT_EQ(p.drive, "C:");
  EXPECT_EQ(p.dir, "\\tables\\rc.x\\");
  EXPECT_TRUE(env->IsOptionArgument("/tmp/in.txt"));
#else
  PathParts p = env->SplitPath("/tables/rc.x/new.itr");
  EXPECT_EQ(p.drive, "");
  EXPECT_EQ(p.dir, "/tables/rc.x/");
  EXPECT_FALSE(env->IsOptionArgument("/tmp/in.txt"));
#endif
  EXPECT_EQ(p.base, "new");
  EXPECT_EQ(p.ext, ".itr");
  p.ext = ".itf";
  EXPECT_EQ(env->SplitPath(env->JoinPath(p)).ext, ".itf");
  EXPECT_EQ(env->SplitPath("name").base, "name");
  EXPECT_EQ(env->SplitPath("a.b.c").ext, ".c");
  for (const char* opt : {"/3", "/s", "/help", "/?", "-v"}) EXPECT_TRUE(env->IsOptionArgument(opt));
  EXPECT_FALSE(env->IsOptionArgument("in.txt"));
}

TEST_F(EnvTest, CaseOfPlainText) {
  char s[] = "Mixed Case 123 .TXT";
  env->LowerCase(s);
  EXPECT_STREQ(s, "mixed case 123 .txt");
  env->UpperCase(s);
  EXPECT_STREQ(s, "MIXED CASE 123 .TXT");
  EXPECT_FALSE(env->IsLeadByte('A'));
}

TEST_F(EnvTest, MovableMemoryKeepsContentsAndLockCounts) {
  MemHandle h = env->MemAllocMovable(16);
  ASSERT_NE(h, 0u);
  char* p = static_cast<char*>(env->MemLock(h));
  ASSERT_NE(p, nullptr);
  std::memcpy(p, "0123456789abcdef", 16);
  EXPECT_NE(env->MemLock(h), nullptr);
  EXPECT_EQ(env->MemLockCount(h), 2u);
  EXPECT_TRUE(env->MemUnlock(h));
  EXPECT_TRUE(env->MemUnlock(h));
  EXPECT_FALSE(env->MemUnlock(h));
  MemHandle g = env->MemReAllocMovable(h, 4096);
  ASSERT_NE(g, 0u);
  EXPECT_EQ(std::string(static_cast<char*>(env->MemLock(g)), 16), "0123456789abcdef");
  env->MemUnlock(g);
  env->MemFreeMovable(g);
  EXPECT_EQ(env->MemAllocMovable(0), 0u);
}

TEST_F(EnvTest, ANamedMutexHasOneHolderAtATime) {
  testenv::TestEnv te;  // a temporary directory of this test's own
  Env* e = Env::Get();
  const std::string name = "<Zelm MusicalBackupsToControlLogFileSize Mutex>";
  auto a = e->NewNamedMutex(name, tmp.dir());
  auto b = e->NewNamedMutex(name, tmp.dir());
  auto other = e->NewNamedMutex("other", tmp.dir());
  ASSERT_TRUE(a && b && other);
  // The other holder runs on a thread of its own: a Windows mutex is its
  // holding thread's again for the asking.
  EXPECT_TRUE(a->TryLock());
  std::thread([&] { EXPECT_FALSE(b->TryLock()); }).join();
  EXPECT_TRUE(other->TryLock());  // names are independent
  a->Unlock();
  std::thread([&] {
    EXPECT_TRUE(b->TryLock());
    b.reset();  // going releases it
  }).join();
  EXPECT_TRUE(a->TryLock());
#ifndef _WIN32
  // The lock is a file in the directory asked for, whatever TMPDIR says,
  // and only its owner may open it.
  const std::string lock = tmp.Path("tblconv-_Zelm_MusicalBackupsToControlLogFileSize_Mutex_.lock");
  EXPECT_EQ(std::filesystem::status(lock).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_TRUE(std::filesystem::is_empty(te.dir.dir()));
#endif
}

TEST_F(EnvTest, ProfileFilesKeepEveryOtherKey) {
  const std::string f = tmp.Path("qvoptcfg.cfg");
  EXPECT_EQ(env->ReadProfileString(f, "General", "ErrLogMaxSize", "dflt"), "dflt");
  ASSERT_TRUE(env->WriteProfileString(f, "General", "ErrLogMaxSize", "500000"));
  ASSERT_TRUE(env->WriteProfileString(f, "General", "ErrLogBackups", "0"));
  ASSERT_TRUE(env->WriteProfileString(f, "qvwin", "HeapLogging", "0"));
  ASSERT_TRUE(env->WriteProfileString(f, "GENERAL", "errlogbackups", "3"));
  EXPECT_EQ(env->ReadProfileString(f, "general", "ERRLOGBACKUPS", ""), "3");
  EXPECT_EQ(env->ReadProfileString(f, "General", "ErrLogMaxSize", ""), "500000");
  EXPECT_EQ(env->ReadProfileString(f, "qvwin", "HeapLogging", ""), "0");
  EXPECT_EQ(env->ReadProfileString(f, "qvwin", "Missing", "d"), "d");
  ASSERT_TRUE(env->WriteProfileString(f, "General", "ErrLogMaxSize", "1"));
  EXPECT_EQ(env->ReadProfileString(f, "General", "ErrLogMaxSize", ""), "1");
  EXPECT_EQ(env->ReadProfileString(f, "General", "ErrLogBackups", ""), "3");
}

TEST_F(EnvTest, ModuleResourcesAreReadAsData) {
  std::vector<char> data;
  EXPECT_EQ(env->LoadModuleResource(tmp.Path("none.fil"), "_ZELM_ITB_TABLE_", 10, &data), 9);
  tmp.Write("text.fil", "not a module");
  EXPECT_EQ(env->LoadModuleResource(env->AbsolutePath(tmp.Path("text.fil")), "_ZELM_ITB_TABLE_", 10,
                                    &data),
            4);
  const std::string table("TABLE=4\r\n\0\0", 11);
  pe_testing::BuiltPe pe = pe_testing::BuildPe(true, {{10, "_ZELM_ITB_TABLE_", {table}}});
  tmp.Write("t.fil", std::string(pe.img.begin(), pe.img.end()));
  const std::string path = env->AbsolutePath(tmp.Path("t.fil"));
  ASSERT_EQ(env->LoadModuleResource(path, "_zelm_itb_table_", 10, &data), 0);
  EXPECT_EQ(std::string(data.begin(), data.end()).substr(0, table.size()), table);
  EXPECT_EQ(env->LoadModuleResource(path, "_ZELM_ITB_TABLE_", 6, &data), 4);
  EXPECT_EQ(env->LoadModuleResource(path, "_ZELM_ITB_TABLE_X", 10, &data), 4);
}

}  // namespace
}  // namespace platform
