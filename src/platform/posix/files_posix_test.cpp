// The POSIX file services: handles, temporary names, attributes, rename
// without replacing, wildcard search, and a fault injected through
// EnvWrapper reaching callers of Env::Get().
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "platform/platform.h"
#include "platform/test_temp_dir.h"

namespace platform {
namespace {

using platform_testing::TempDir;

class PosixFiles : public ::testing::Test {
 protected:
  Env* env = DefaultEnv();
  TempDir tmp;
};

TEST_F(PosixFiles, OpenDispositionsAndTransfers) {
  FileHandle h;
  EXPECT_EQ(env->OpenFile(tmp.Path("missing"), Access::kRead, Disposition::kOpenExisting, &h),
            ENOENT);
  EXPECT_EQ(h, kInvalidHandle);
  EXPECT_EQ(env->OpenFile(tmp.dir(), Access::kRead, Disposition::kOpenExisting, &h), EISDIR);

  tmp.Write("f", "old contents");
  ASSERT_EQ(env->OpenFile(tmp.Path("f"), Access::kReadWrite, Disposition::kOpenAlways, &h), 0);
  EXPECT_EQ(env->FileSize(h), 12);
  EXPECT_EQ(env->WriteAt(h, 4, "NEW", 3), 3);
  char buf[32] = {};
  EXPECT_EQ(env->ReadFile(h, buf, sizeof buf), 12);  // positional writes leave the position
  EXPECT_STREQ(buf, "old NEWtents");
  EXPECT_EQ(env->ReadFile(h, buf, 4), 0);  // at the end
  EXPECT_EQ(env->Seek(h, -3, SeekFrom::kEnd), 9);
  EXPECT_EQ(env->ReadAt(h, 100, buf, 4), 0);
  EXPECT_EQ(env->CloseFile(h), 0);

  ASSERT_EQ(env->OpenFile(tmp.Path("f"), Access::kWrite, Disposition::kCreateAlways, &h), 0);
  EXPECT_EQ(env->FileSize(h), 0);           // truncated
  EXPECT_EQ(env->ReadFile(h, buf, 4), -1);  // write-only
  EXPECT_EQ(env->LastError(), EBADF);
  EXPECT_EQ(env->WriteFile(h, "abc", 3), 3);
  EXPECT_EQ(env->CloseFile(h), 0);

  // Appends go to the end whatever the position.
  ASSERT_EQ(env->OpenFile(tmp.Path("f"), Access::kWrite, Disposition::kAppend, &h), 0);
  EXPECT_EQ(env->Seek(h, 0, SeekFrom::kBegin), 0);
  EXPECT_EQ(env->WriteFile(h, "def", 3), 3);
  EXPECT_EQ(env->CloseFile(h), 0);
  EXPECT_EQ(tmp.Read("f"), "abcdef");
  ASSERT_EQ(env->OpenFile(tmp.Path("new"), Access::kWrite, Disposition::kAppend, &h), 0);
  EXPECT_EQ(env->CloseFile(h), 0);
  EXPECT_TRUE(tmp.Exists("new"));

  EXPECT_EQ(env->CloseFile(kInvalidHandle), -1);
}

TEST_F(PosixFiles, TempDirectoryFollowsTmpdirThenTmp) {
  const char* saved = getenv("TMPDIR");
  std::string keep = saved ? saved : "";
  setenv("TMPDIR", "/var/x", 1);
  setenv("TMP", "/var/y/", 1);
  EXPECT_EQ(env->TempDirectory(), "/var/x/");
  setenv("TMPDIR", "", 1);
  EXPECT_EQ(env->TempDirectory(), "/var/y/");
  unsetenv("TMPDIR");
  unsetenv("TMP");
  EXPECT_EQ(env->TempDirectory(), "/tmp/");
  if (saved) setenv("TMPDIR", keep.c_str(), 1);
}

TEST_F(PosixFiles, UniqueFilesAreNewPrivateAndNamedLikeWindows) {
  std::string a, b;
  FileHandle h;
  ASSERT_EQ(env->CreateUniqueFile(tmp.dir(), "ITBX", &a, &h), 0);
  EXPECT_TRUE(std::regex_match(a, std::regex(tmp.dir() + "ITB[0-9A-F]{1,4}\\.tmp")));
  EXPECT_EQ(env->WriteFile(h, "x", 1), 1);  // handed out open for writing
  EXPECT_EQ(env->CloseFile(h), 0);
  struct stat st;
  ASSERT_EQ(stat(a.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A directory without the trailing separator, and no handle wanted.
  ASSERT_EQ(env->CreateUniqueFile(tmp.dir().substr(0, tmp.dir().size() - 1), "IT", &b, nullptr), 0);
  EXPECT_TRUE(std::regex_match(b, std::regex(tmp.dir() + "IT[0-9A-F]{1,4}\\.tmp")));
  EXPECT_NE(a, b);
  EXPECT_EQ(tmp.Read(b.substr(tmp.dir().size())), "");

  std::string c = "unchanged";
  EXPECT_EQ(env->CreateUniqueFile(tmp.Path("no/such"), "ITB", &c, nullptr), ENOENT);
  EXPECT_EQ(c, "unchanged");
}

TEST_F(PosixFiles, AttributesRemoveAndRenameWithoutReplacing) {
  FileAttributes at;
  EXPECT_FALSE(env->GetAttributes(tmp.Path("none"), &at));
  EXPECT_FALSE(env->GetAttributes("", &at));
  tmp.Write("a", "12345");
  ASSERT_TRUE(env->GetAttributes(tmp.Path("a"), &at));
  EXPECT_FALSE(at.is_directory);
  EXPECT_FALSE(at.read_only);
  EXPECT_EQ(at.size, 5u);
  ASSERT_TRUE(env->GetAttributes(tmp.dir(), &at));
  EXPECT_TRUE(at.is_directory);
  EXPECT_EQ(at.size, 0u);
  chmod(tmp.Path("a").c_str(), 0444);
  ASSERT_TRUE(env->GetAttributes(tmp.Path("a"), &at));
  EXPECT_TRUE(at.read_only);
  chmod(tmp.Path("a").c_str(), 0644);

  tmp.Write("b", "bee");
  EXPECT_EQ(env->RenameFile(tmp.Path("a"), tmp.Path("b")), EEXIST);
  EXPECT_EQ(tmp.Read("a"), "12345");
  EXPECT_EQ(tmp.Read("b"), "bee");
  EXPECT_EQ(env->RenameFile(tmp.Path("a"), tmp.Path("c")), 0);
  EXPECT_FALSE(tmp.Exists("a"));
  EXPECT_EQ(tmp.Read("c"), "12345");
  EXPECT_EQ(env->RenameFile(tmp.Path("a"), tmp.Path("d")), ENOENT);

  EXPECT_EQ(env->RemoveFile(tmp.Path("c")), 0);
  EXPECT_FALSE(tmp.Exists("c"));
  EXPECT_EQ(env->RemoveFile(tmp.Path("c")), ENOENT);
  EXPECT_NE(env->RemoveFile(tmp.dir()), 0);  // directories are not files
}

TEST_F(PosixFiles, FindFilesKeepsThePatternsDirectory) {
  std::filesystem::create_directories(tmp.Path("tables/sub.fil"));
  tmp.Write("tables/a.fil", "abc");
  tmp.Write("tables/b.fil", "");
  tmp.Write("tables/c.txt", "c");
  tmp.Write("tables/ab.fil", "ab");
  std::string dir = tmp.dir() + "tables/";

  std::vector<FindMatch> m = env->FindFiles(dir + "*.fil");
  // Directory order, as readdir gives it.
  std::vector<std::string> expected;
  for (const auto& e : std::filesystem::directory_iterator(tmp.Path("tables"))) {
    std::string n = e.path().filename().string();
    if (n.size() > 4 && n.substr(n.size() - 4) == ".fil") expected.push_back(dir + n);
  }
  ASSERT_EQ(m.size(), 4u);
  for (size_t i = 0; i < m.size(); ++i) {
    EXPECT_EQ(m[i].name, expected[i]);
    const std::string leaf = m[i].name.substr(dir.size());
    EXPECT_EQ(m[i].size, leaf == "a.fil" ? 3u : leaf == "ab.fil" ? 2u : 0u) << leaf;
    EXPECT_EQ(m[i].is_directory, leaf == "sub.fil") << leaf;
  }

  m = env->FindFiles(dir + "?.fil");
  std::vector<std::string> names;
  for (const auto& f : m) names.push_back(f.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{dir + "a.fil", dir + "b.fil"}));
  EXPECT_TRUE(env->FindFiles(dir + "*.itb").empty());
  EXPECT_TRUE(env->FindFiles(tmp.dir() + "none/*.fil").empty());
  EXPECT_TRUE(env->FindFiles(dir).empty());
  ASSERT_EQ(env->FindFiles(dir + "c.txt").size(), 1u);  // a plain name matches itself

  // A pattern without a directory part searches the current directory and
  // names the matches without one.
  std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(tmp.Path("tables"));
  m = env->FindFiles("*.txt");
  std::filesystem::current_path(cwd);
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].name, "c.txt");
}

TEST_F(PosixFiles, AbsolutePathsAndDirectories) {
  std::filesystem::create_directories(tmp.Path("d"));
  tmp.Write("d/f.txt", "x");
  std::string real = std::filesystem::canonical(tmp.Path("d")).string();
  EXPECT_EQ(env->AbsolutePath(tmp.dir() + "d/./../d//f.txt"), real + "/f.txt");
  EXPECT_EQ(env->AbsolutePath(tmp.dir() + "d/new.txt"), real + "/new.txt");
  std::filesystem::create_symlink(tmp.Path("d/f.txt"), tmp.Path("link.txt"));
  EXPECT_EQ(env->AbsolutePath(tmp.Path("link.txt")), real + "/f.txt");
  EXPECT_EQ(env->AbsolutePath("/no/such/../dir/x"), "/no/dir/x");

  EXPECT_TRUE(env->MakeDirectories(tmp.dir() + "p/q/r/"));
  EXPECT_TRUE(std::filesystem::is_directory(tmp.Path("p/q/r")));
  EXPECT_TRUE(env->MakeDirectories(tmp.dir() + "p/q"));
  EXPECT_FALSE(env->MakeDirectories(tmp.dir() + "d/f.txt/sub"));
}

// Fails renames on purpose; everything else goes to the real environment.
class FailingRename : public EnvWrapper {
 public:
  FailingRename() : EnvWrapper(DefaultEnv()) {}
  int RenameFile(const std::string&, const std::string&) override {
    ++calls;
    return EACCES;
  }
  int calls = 0;
};

TEST_F(PosixFiles, WrapperInjectsFaultsForEveryCallerOfGet) {
  FailingRename failing;
  Env::SetForTesting(&failing);
  tmp.Write("a", "x");
  EXPECT_EQ(Env::Get()->RenameFile(tmp.Path("a"), tmp.Path("b")), EACCES);
  EXPECT_EQ(failing.calls, 1);
  FileAttributes at;
  EXPECT_TRUE(Env::Get()->GetAttributes(tmp.Path("a"), &at));  // forwarded
  EXPECT_FALSE(Env::Get()->GetAttributes(tmp.Path("b"), &at));
  Env::SetForTesting(nullptr);
  EXPECT_EQ(Env::Get(), DefaultEnv());
  EXPECT_EQ(Env::Get()->RenameFile(tmp.Path("a"), tmp.Path("b")), 0);
}

}  // namespace
}  // namespace platform
