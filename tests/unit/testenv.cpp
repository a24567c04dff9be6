// The unit tests' environment: private directory, fault injection, code
// page and message capture.
#include "testenv.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

#include "qvutil/errlog.h"
#include "qvutil/mem.h"

namespace testenv {

TempDir::TempDir() {
  static std::atomic<int> serial{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("tblconv-unit-" + std::to_string(stamp) + "-" + std::to_string(serial++));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::dir() const { return (path_ / "").string(); }
std::string TempDir::Path(const std::string& rel) const { return (path_ / rel).string(); }

void TempDir::Write(const std::string& rel, const std::string& bytes) const {
  std::ofstream(Path(rel), std::ios::binary | std::ios::trunc) << bytes;
}

std::string TempDir::Read(const std::string& rel) const {
  std::ifstream f(Path(rel), std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool TempDir::Exists(const std::string& rel) const { return std::filesystem::exists(Path(rel)); }

TestEnv::TestEnv() : EnvWrapper(platform::DefaultEnv()) {
  platform::Env::SetForTesting(this);
  ErrorLogResetForTesting();
  MemResetForTesting();
  ErrorLogSetPath(dir.Path("ZmTrace.log"));
}

TestEnv::~TestEnv() {
  platform::Env::SetForTesting(nullptr);
  ErrorLogResetForTesting();
  MemResetForTesting();
  ErrorLogSetPath("");
}

bool Fault::Take() {
  if (pass < 0) return false;
  if (pass > 0) {
    --pass;
    return false;
  }
  if (times <= 0) return false;
  if (times != INT_MAX) --times;
  return true;
}

void TestEnv::SetCodePage(int codePage) { codePage_ = codePage; }

int TestEnv::OpenFile(const std::string& p, platform::Access a, platform::Disposition d,
                      platform::FileHandle* o) {
  if ((fail.openPath.empty() || p == fail.openPath) && fail.opens.Take()) {
    *o = platform::kInvalidHandle;
    return 5;  // access denied
  }
  int rc = target()->OpenFile(p, a, d, o);
  if (rc == 0) ++openFiles;
  return rc;
}

int TestEnv::CloseFile(platform::FileHandle h) {
  --openFiles;
  int rc = target()->CloseFile(h);
  return fail.closes.Take() ? -1 : rc;
}

long TestEnv::ReadFile(platform::FileHandle h, void* b, size_t n) {
  return fail.reads.Take() ? -1 : target()->ReadFile(h, b, n);
}

long TestEnv::WriteFile(platform::FileHandle h, const void* b, size_t n) {
  return fail.writes.Take() ? -1 : target()->WriteFile(h, b, n);
}

long TestEnv::ReadAt(platform::FileHandle h, uint64_t off, void* b, size_t n) {
  return fail.reads.Take() ? -1 : target()->ReadAt(h, off, b, n);
}

long TestEnv::WriteAt(platform::FileHandle h, uint64_t off, const void* b, size_t n) {
  return fail.writes.Take() ? -1 : target()->WriteAt(h, off, b, n);
}

int TestEnv::RenameFile(const std::string& from, const std::string& to) {
  if (fail.renames.Take()) return 5;
  int rc = target()->RenameFile(from, to);
  if (rc == 0 && afterRename) afterRename(from);
  return rc;
}

int TestEnv::ReplaceFile(const std::string& from, const std::string& to) {
  if (fail.renames.Take()) return 5;
  int rc = target()->ReplaceFile(from, to);
  if (rc == 0 && afterRename) afterRename(from);
  return rc;
}

platform::MemHandle TestEnv::MemAllocMovable(size_t n) {
  return fail.allocs.Take() ? 0 : target()->MemAllocMovable(n);
}

namespace {
// A mutex that another process holds, or that runs a hook when taken.
class TestMutex : public platform::NamedMutex {
 public:
  TestMutex(std::unique_ptr<platform::NamedMutex> real, TestEnv* env)
      : real_(std::move(real)), env_(env) {}
  bool TryLock() override {
    if (env_->mutexHeldElsewhere || !real_->TryLock()) return false;
    if (env_->onMutexTaken) env_->onMutexTaken();
    return true;
  }
  void Unlock() override { real_->Unlock(); }

 private:
  std::unique_ptr<platform::NamedMutex> real_;
  TestEnv* env_;
};
}  // namespace

std::unique_ptr<platform::NamedMutex> TestEnv::NewNamedMutex(const std::string& name,
                                                             const std::string& dir) {
  mutexNames.push_back(name);
  mutexDirs.push_back(dir);
  auto real = target()->NewNamedMutex(name, dir);
  if (!real) return nullptr;
  return std::make_unique<TestMutex>(std::move(real), this);
}

// Code page 932: lead bytes 0x81-0x9F and 0xE0-0xFC; 1252: none.
bool TestEnv::IsLeadByte(unsigned char c) {
  if (codePage_ == 1252) return false;
  if (codePage_ != 932) return target()->IsLeadByte(c);
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

void TestEnv::LowerCase(char* s) {
  if (codePage_ != 932) return target()->LowerCase(s);
  for (; *s; ++s) {
    if (IsLeadByte(static_cast<unsigned char>(*s)) && s[1]) {
      ++s;
    } else if (*s >= 'A' && *s <= 'Z') {
      *s = static_cast<char>(*s + ('a' - 'A'));
    }
  }
}

void TestEnv::UpperCase(char* s) {
  if (codePage_ != 932) return target()->UpperCase(s);
  for (; *s; ++s) {
    if (IsLeadByte(static_cast<unsigned char>(*s)) && s[1]) {
      ++s;
    } else if (*s >= 'a' && *s <= 'z') {
      *s = static_cast<char>(*s - ('a' - 'A'));
    }
  }
}

namespace {
Messages* g_capture = nullptr;
}  // namespace

Messages::Messages() { g_capture = this; }
Messages::~Messages() { g_capture = nullptr; }

void Messages::Fn(int level, const char* text) {
  if (g_capture) g_capture->all.emplace_back(level, text ? text : "");
}

std::string Messages::Text(int level) const {
  std::string s;
  for (const auto& m : all)
    if (m.first >= level) s += m.second + "\n";
  return s;
}

}  // namespace testenv
