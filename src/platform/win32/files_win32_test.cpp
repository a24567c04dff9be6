// The Windows file services as the tool relies on them: open files shared
// for reading only, appends that always land at the end, temporary names,
// renames that never replace, attributes, wildcard search and the absolute
// form used to recognise one file under two names.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/test_temp_dir.h"
#include "platform/win32/env_win32.h"

namespace platform {
namespace {

using platform_testing::TempDir;

// The file's bytes as another program reads them: sharing the file with
// whoever writes it.
std::string ReadShared(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<none>";
  char buf[256];
  DWORD n = 0;
  BOOL ok = ::ReadFile(h, buf, sizeof buf, &n, nullptr);
  CloseHandle(h);
  return ok ? std::string(buf, n) : "<error>";
}

TEST(Win32Files, OthersMayReadAnOpenFileButNotWriteOrDeleteIt) {
  TempDir tmp;
  Env* env = DefaultEnv();
  const std::string f = tmp.Path("table.itb");
  FileHandle w;
  ASSERT_EQ(env->OpenFile(f, Access::kReadWrite, Disposition::kCreateAlways, &w), 0);
  EXPECT_GE(w, 3);
  EXPECT_EQ(env->WriteFile(w, "0123456789", 10), 10);
  EXPECT_EQ(ReadShared(f), "0123456789");

  // Our own opens deny writing to others, so they meet the writer's access.
  FileHandle other = 77;
  EXPECT_EQ(env->OpenFile(f, Access::kRead, Disposition::kOpenExisting, &other),
            ERROR_SHARING_VIOLATION);
  EXPECT_EQ(other, kInvalidHandle);
  EXPECT_EQ(env->OpenFile(f, Access::kWrite, Disposition::kOpenExisting, &other),
            ERROR_SHARING_VIOLATION);
  EXPECT_EQ(other, kInvalidHandle);
  EXPECT_EQ(env->OpenFile(f, Access::kWrite, Disposition::kAppend, &other),
            ERROR_SHARING_VIOLATION);
  EXPECT_NE(env->RemoveFile(f), 0);

  // Positional and sequential transfers on one handle.
  char buf[4] = {};
  EXPECT_EQ(env->ReadAt(w, 6, buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "6789");
  EXPECT_EQ(env->ReadAt(w, 8, buf, 4), 2);  // short only at the end
  EXPECT_EQ(env->ReadAt(w, 20, buf, 4), 0);
  EXPECT_EQ(env->WriteAt(w, 12, "xy", 2), 2);  // past the end: the gap is filled
  EXPECT_EQ(env->FileSize(w), 14);
  EXPECT_EQ(env->Seek(w, 2, SeekFrom::kBegin), 2);
  EXPECT_EQ(env->ReadFile(w, buf, 3), 3);
  EXPECT_EQ(std::string(buf, 3), "234");
  EXPECT_EQ(env->Seek(w, -1, SeekFrom::kEnd), 13);
  EXPECT_EQ(env->Seek(w, -100, SeekFrom::kCurrent), -1);
  EXPECT_EQ(env->CloseFile(w), 0);
  EXPECT_EQ(env->CloseFile(w), -1);  // the number is free again
  EXPECT_EQ(env->LastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(env->ReadFile(w, buf, 1), -1);
  EXPECT_EQ(env->RemoveFile(f), 0);
  EXPECT_EQ(env->OpenFile(f, Access::kRead, Disposition::kOpenExisting, &other),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(env->LastError(), ERROR_FILE_NOT_FOUND);
  // A directory is no file.
  EXPECT_NE(env->OpenFile(tmp.dir(), Access::kRead, Disposition::kOpenExisting, &other), 0);
  EXPECT_EQ(other, kInvalidHandle);
}

TEST(Win32Files, AppendsLandAtTheEndWhereverThePositionIs) {
  TempDir tmp;
  Env* env = DefaultEnv();
  tmp.Write("ZmTrace.log", "first\r\n");
  FileHandle h;
  ASSERT_EQ(env->OpenFile(tmp.Path("ZmTrace.log"), Access::kWrite, Disposition::kAppend, &h), 0);
  EXPECT_EQ(env->WriteFile(h, "second\r\n", 8), 8);
  env->Seek(h, 0, SeekFrom::kBegin);
  EXPECT_EQ(env->WriteFile(h, "third\r\n", 7), 7);
  EXPECT_EQ(env->FileSize(h), 22);
  env->CloseFile(h);
  EXPECT_EQ(tmp.Read("ZmTrace.log"), "first\r\nsecond\r\nthird\r\n");
  // A missing file is created; a truncating open empties an existing one.
  ASSERT_EQ(env->OpenFile(tmp.Path("new.log"), Access::kWrite, Disposition::kAppend, &h), 0);
  env->CloseFile(h);
  EXPECT_TRUE(tmp.Exists("new.log"));
  ASSERT_EQ(env->OpenFile(tmp.Path("ZmTrace.log"), Access::kWrite, Disposition::kCreateAlways, &h),
            0);
  env->CloseFile(h);
  EXPECT_EQ(tmp.Read("ZmTrace.log"), "");
}

TEST(Win32Files, UniqueTemporaryFilesAreCreatedOpenAndDistinct) {
  TempDir tmp;
  Env* env = DefaultEnv();
  std::string a, b;
  FileHandle h;
  ASSERT_EQ(env->CreateUniqueFile(tmp.dir(), "ITBX", &a, &h), 0);
  EXPECT_EQ(env->WriteFile(h, "abc", 3), 3);
  env->CloseFile(h);
  ASSERT_EQ(env->CreateUniqueFile(tmp.dir(), "ITB", &b, nullptr), 0);
  EXPECT_NE(a, b);
  for (const std::string& p : {a, b}) {
    PathParts parts = env->SplitPath(p);
    EXPECT_EQ(parts.base.substr(0, 3), "ITB") << p;  // three characters of the prefix
    EXPECT_LE(parts.base.size(), 7u) << p;             // and up to four hex digits
    EXPECT_TRUE(parts.ext == ".TMP" || parts.ext == ".tmp") << p;  // Wine writes it small
  }
  EXPECT_EQ(ReadShared(a), "abc");
  EXPECT_EQ(ReadShared(b), "");
  std::string none = "unchanged";
  EXPECT_NE(env->CreateUniqueFile(tmp.Path("missing\\"), "TXT", &none, &h), 0);
  EXPECT_EQ(none, "unchanged");
  // The temporary directory is an existing one, with its separator.
  std::string dir = env->TempDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '\\');
  FileAttributes attrs;
  ASSERT_TRUE(env->GetAttributes(dir, &attrs));
  EXPECT_TRUE(attrs.is_directory);
}

TEST(Win32Files, RenameNeverReplacesAndAttributesTellWhatIsThere) {
  TempDir tmp;
  Env* env = DefaultEnv();
  tmp.Write("ZmTrace.log", "log");
  tmp.Write("ZmTrace.bk0", "old");
  EXPECT_EQ(env->RenameFile(tmp.Path("ZmTrace.log"), tmp.Path("ZmTrace.bk0")),
            ERROR_ALREADY_EXISTS);
  EXPECT_EQ(tmp.Read("ZmTrace.bk0"), "old");
  EXPECT_EQ(env->RemoveFile(tmp.Path("ZmTrace.bk0")), 0);
  EXPECT_EQ(env->RenameFile(tmp.Path("ZmTrace.log"), tmp.Path("ZmTrace.bk0")), 0);
  EXPECT_EQ(tmp.Read("ZmTrace.bk0"), "log");
  EXPECT_FALSE(tmp.Exists("ZmTrace.log"));
  EXPECT_EQ(env->RemoveFile(tmp.Path("ZmTrace.log")), ERROR_FILE_NOT_FOUND);

  FileAttributes a;
  ASSERT_TRUE(env->GetAttributes(tmp.Path("ZmTrace.bk0"), &a));
  EXPECT_FALSE(a.is_directory);
  EXPECT_FALSE(a.read_only);
  EXPECT_EQ(a.size, 3u);
  ASSERT_TRUE(SetFileAttributesA(tmp.Path("ZmTrace.bk0").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(env->GetAttributes(tmp.Path("ZmTrace.bk0"), &a));
  EXPECT_TRUE(a.read_only);
  SetFileAttributesA(tmp.Path("ZmTrace.bk0").c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(env->GetAttributes(tmp.dir(), &a));
  EXPECT_TRUE(a.is_directory);
  EXPECT_EQ(a.size, 0u);
  EXPECT_FALSE(env->GetAttributes(tmp.Path("none"), &a));
  EXPECT_FALSE(env->GetAttributes(tmp.Path("*.bk0"), &a));  // a pattern is no name
  EXPECT_FALSE(env->GetAttributes("", &a));
}

TEST(Win32Files, WildcardSearchKeepsThePatternsDirectory) {
  TempDir tmp;
  Env* env = DefaultEnv();
  tmp.Write("a.txt", "aa");
  tmp.Write("B.TXT", "bbb");
  tmp.Write("empty.txt", "");
  tmp.Write("c.itb", "c");
  ASSERT_TRUE(env->MakeDirectories(tmp.Path("d.txt\\deeper\\still")));
  std::vector<FindMatch> found = env->FindFiles(tmp.dir() + "*.txt");
  std::sort(found.begin(), found.end(),
            [](const FindMatch& x, const FindMatch& y) { return x.name < y.name; });
  ASSERT_EQ(found.size(), 4u);
  const char* names[] = {"B.TXT", "a.txt", "d.txt", "empty.txt"};
  const uint64_t sizes[] = {3, 2, 0, 0};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(found[i].name, tmp.dir() + names[i]);
    EXPECT_EQ(found[i].size, sizes[i]) << names[i];
    EXPECT_EQ(found[i].is_directory, i == 2) << names[i];
  }
  ASSERT_EQ(env->FindFiles(tmp.dir() + "?.itb").size(), 1u);
  EXPECT_EQ(env->FindFiles(tmp.dir() + "?.itb")[0].name, tmp.dir() + "c.itb");
  EXPECT_TRUE(env->FindFiles(tmp.dir() + "*.rc2").empty());
  EXPECT_TRUE(env->FindFiles(tmp.dir()).empty());  // no name part to match
  EXPECT_TRUE(env->FindFiles(tmp.Path("missing\\*.txt")).empty());
  EXPECT_TRUE(env->MakeDirectories(tmp.Path("d.txt")));  // already there
  EXPECT_FALSE(env->MakeDirectories(tmp.Path("a.txt\\sub")));
}

TEST(Win32Files, OneFileHasOneAbsoluteName) {
  TempDir tmp;
  Env* env = DefaultEnv();
  tmp.Write("In.Txt", "x");
  std::string abs = env->AbsolutePath(tmp.Path("In.Txt"));
  EXPECT_EQ(abs.find('/'), std::string::npos) << abs;
  EXPECT_EQ(abs[1], ':') << abs;
  EXPECT_EQ(env->AbsolutePath(tmp.Path("IN.TXT")), abs);
  EXPECT_EQ(env->AbsolutePath(tmp.dir() + "sub\\..\\.\\in.txt"), abs);
  EXPECT_NE(env->AbsolutePath(tmp.Path("in2.txt")), abs);
  // A relative name is taken from the current directory.
  char cwd[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, cwd), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(tmp.dir().c_str()));
  EXPECT_EQ(env->AbsolutePath("in.txt"), abs);
  SetCurrentDirectoryA(cwd);
}

}  // namespace
}  // namespace platform
