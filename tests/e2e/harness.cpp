// Process runner and scratch directories for the end-to-end tests.
#include "harness.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace e2e {
namespace {

std::string Env(const char* name, const std::string& def = "") {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : def;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Split(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> v;
  for (std::string w; in >> w;) v.push_back(w);
  return v;
}

// The Windows build under Wine takes its environment differently; this is
// the one place that knows how:
// - Wine sets the program's TMP and TEMP from its prefix's registry, which
//   scripts/windows-test points at TBLCONV_WINE_TMP; TMPDIR stays as it is,
//   since Wine keeps its server's socket there and one server serves all.
// - The code page is the system's: Wine derives it from the locale name.
void ForWine(std::map<std::string, std::string>* vars) {
  auto& v = *vars;
  v["TBLCONV_WINE_TMP"] = v["TMP"];
  v.erase("TMP");
  v.erase("TEMP");
  std::string outer = Env("TMPDIR");
  if (outer.empty())
    v.erase("TMPDIR");
  else
    v["TMPDIR"] = outer;
  static const std::map<std::string, std::string> kLocales = {{"932", "ja_JP.UTF-8"},
                                                              {"936", "zh_CN.UTF-8"},
                                                              {"949", "ko_KR.UTF-8"},
                                                              {"950", "zh_TW.UTF-8"}};
  auto cp = v.find("TBLCONV_CODEPAGE");
  if (cp != v.end() && kLocales.count(cp->second)) v["LC_ALL"] = kLocales.at(cp->second);
}

// Every CR LF as LF.
std::string Unix(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i)
    if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
  return out;
}

}  // namespace

// Defaults the build bakes in (see tests/CMakeLists.txt).
#ifndef TBLCONV_BUILD_BIN
#define TBLCONV_BUILD_BIN "tblconv"
#endif
#ifndef TBLTOOL_BUILD_BIN
#define TBLTOOL_BUILD_BIN "tbltool"
#endif
#ifndef TBLCONV_BUILD_SOURCE_DIR
#define TBLCONV_BUILD_SOURCE_DIR "."
#endif

std::string SourceDir() { return Env("TBLCONV_SOURCE_DIR", TBLCONV_BUILD_SOURCE_DIR); }
std::string SourceFile(const std::string& rel) { return Slurp(SourceDir() + "/" + rel); }
bool IsWindowsBuild() {
  std::string bin = Env("TBLCONV_BIN");
  return bin.size() > 4 && bin.compare(bin.size() - 4, 4, ".exe") == 0;
}

std::vector<std::string> ListFiles(const std::string& path) {
  std::vector<std::string> v;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(path, ec))
    v.push_back(e.path().filename());
  std::sort(v.begin(), v.end());
  return v;
}

// Shows where two texts part: the line number and both lines, with control
// characters visible.
std::string Difference(const std::string& got, const std::string& want) {
  size_t at = 0, line = 1;
  while (at < got.size() && at < want.size() && got[at] == want[at]) line += got[at++] == '\n';
  size_t from = at == 0 ? 0 : got.rfind('\n', at - 1);
  from = from == std::string::npos || at == 0 ? 0 : from + 1;
  auto show = [&](const std::string& s) {
    std::string out;
    for (size_t i = from; i < s.size() && out.size() < 300; ++i) {
      unsigned char c = static_cast<unsigned char>(s[i]);
      if (c == '\n') break;
      if (c < 32 || c >= 127) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += hex;
      } else
        out += static_cast<char>(c);
    }
    return from >= s.size() ? std::string("(end of text)") : "\"" + out + "\"";
  };
  std::ostringstream m;
  m << "line " << line << " differs (" << got.size() << " bytes, expected " << want.size()
    << ")\n  got:      " << show(got) << "\n  expected: " << show(want);
  if (got.size() < 3000) m << "\n--- got in full:\n" << got;
  return m.str();
}

std::string Body(const std::string& text) {
  size_t eol = text.find('\n');
  return eol == std::string::npos ? std::string() : text.substr(eol + 1);
}

void ToolTest::SetUp() {
  std::string base = Env("TMPDIR", "/tmp");
  std::string templ = base + "/tblconv-e2e-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  ASSERT_NE(mkdtemp(buf.data()), nullptr);
  root_ = buf.data();
  dir_ = root_ + "/work";
  tmp_ = root_ + "/tmp";
  ASSERT_EQ(mkdir(dir_.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(tmp_.c_str(), 0700), 0);
}

void ToolTest::TearDown() {
  namespace fs = std::filesystem;
  if (root_.empty() || !Env("TBLCONV_KEEP_TEST_DIRS").empty()) return;
  // A test may have taken the write permission from a directory.
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(root_, ec))
    if (e.is_directory(ec))
      fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(root_, ec);
}

std::string ToolTest::Path(const std::string& rel) const { return dir_ + "/" + rel; }

void ToolTest::WriteFile(const std::string& rel, const std::string& bytes) {
  std::ofstream out(Path(rel), std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string ToolTest::ReadFile(const std::string& rel) const { return Slurp(Path(rel)); }

std::string ToolTest::ReadText(const std::string& rel) const {
  std::string text = Slurp(Path(rel));
  return IsWindowsBuild() ? Unix(text) : text;
}

std::string ToolTest::ArgPath(const std::string& rel) const {
  std::string p = Path(rel);
  if (!IsWindowsBuild()) return p;
  for (char& c : p)
    if (c == '/') c = '\\';
  return "Z:" + p;
}

bool ToolTest::Exists(const std::string& rel) const {
  struct stat st;
  return stat(Path(rel).c_str(), &st) == 0;
}

std::vector<std::string> ToolTest::ListDir(const std::string& rel) const {
  return ListFiles(Path(rel));
}

std::vector<std::string> ToolTest::TempFiles() const { return ListDir("../tmp"); }

bool ToolTest::Generate(unsigned long seed, const std::string& profile, const std::string& rel) {
  std::string gen = Env("TBLCONV_TBLGEN");
  if (gen.empty()) {
    ADD_FAILURE() << "TBLCONV_TBLGEN is not set";
    return false;
  }
  std::string cmd =
      "'" + gen + "' " + std::to_string(seed) + " " + profile + " '" + Path(rel) + "'";
  return std::system(cmd.c_str()) == 0;
}

RunResult ToolTest::Run(const std::vector<std::string>& args,
                        const std::map<std::string, std::string>& env) {
  RunResult r = RunOnce(args, env);
  // The tool ends with 0 or 255 and always says why. Exit code 1 with no
  // word at all is Wine failing to start it, which it rarely does on a busy
  // machine: that run is made once more.
  if (IsWindowsBuild() && r.exit_code == 1 && r.out.empty() && r.err.empty()) {
    std::fprintf(stderr, "note: Wine did not start the program; running it again\n");
    r = RunOnce(args, env);
  }
  return r;
}

RunResult ToolTest::RunOnce(const std::vector<std::string>& args,
                            const std::map<std::string, std::string>& env) {
  return RunTogether({args}, env)[0];
}

RunResult ToolTest::RunTbltool(const std::vector<std::string>& args,
                               const std::map<std::string, std::string>& env) {
  tbltool_ = true;
  RunResult r = RunTogether({args}, env)[0];
  tbltool_ = false;
  return r;
}

std::string ToolTest::Program() const {
  if (tbltool_) return Env("TBLTOOL_BIN", TBLTOOL_BUILD_BIN);
  if (!private_bin_.empty()) return private_bin_;
  return Env("TBLCONV_BIN", Env("TBLCONV_DEFAULT_BIN", TBLCONV_BUILD_BIN));
}

std::string ToolTest::UsePrivateProgram() {
  std::string from = Program();
  std::string dir = root_ + "/bin";
  mkdir(dir.c_str(), 0700);
  std::string to = dir + "/" + from.substr(from.rfind('/') + 1);
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  out.close();
  EXPECT_TRUE(in && out) << "cannot copy " << from << " to " << to;
  chmod(to.c_str(), 0700);
  private_bin_ = to;
  return "../bin";
}

std::vector<RunResult> ToolTest::RunTogether(const std::vector<std::vector<std::string>>& runs,
                                             const std::map<std::string, std::string>& env) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    size_t eq = kv.find('=');
    if (eq != std::string::npos) vars[kv.substr(0, eq)] = kv.substr(eq + 1);
  }
  vars["TMPDIR"] = tmp_;
  vars["TMP"] = tmp_;
  vars["TEMP"] = tmp_;
  for (auto& [k, v] : env) vars[k] = v;
  if (IsWindowsBuild()) ForWine(&vars);
  std::vector<std::string> envs;
  for (auto& [k, v] : vars) envs.push_back(k + "=" + v);
  std::vector<char*> cenv;
  for (auto& e : envs) cenv.push_back(e.data());
  cenv.push_back(nullptr);

  std::vector<RunResult> results(runs.size());
  std::vector<pid_t> pids(runs.size(), -1);
  for (size_t i = 0; i < runs.size(); ++i) {
    std::vector<std::string> argv =
        tbltool_ ? std::vector<std::string>() : Split(Env("TBLCONV_RUNNER"));
    argv.push_back(Program());
    argv.insert(argv.end(), runs[i].begin(), runs[i].end());
    // The tool runs in the test directory, as a user's shell would.
    std::vector<std::string> shArgv = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", dir_};
    shArgv.insert(shArgv.end(), argv.begin(), argv.end());
    std::vector<char*> sh;
    for (auto& a : shArgv) sh.push_back(a.data());
    sh.push_back(nullptr);

    std::string n = std::to_string(i);
    std::string outPath = root_ + "/stdout" + n, errPath = root_ + "/stderr" + n;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (merge_streams_)
      posix_spawn_file_actions_adddup2(&fa, 1, 2);
    else
      posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&pids[i], "/bin/sh", &fa, nullptr, sh.data(), cenv.data()) != 0) pids[i] = -1;
    posix_spawn_file_actions_destroy(&fa);
  }
  for (size_t i = 0; i < runs.size(); ++i) {
    RunResult& r = results[i];
    if (pids[i] > 0) {
      int status = 0;
      waitpid(pids[i], &status, 0);
      r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string n = std::to_string(i);
    std::string outPath = root_ + "/stdout" + n, errPath = root_ + "/stderr" + n;
    r.out = Slurp(outPath);
    r.err = Slurp(errPath);
    if (IsWindowsBuild()) {
      // The console streams are in text mode on Windows: "\n" goes out as CR LF.
      r.out = Unix(r.out);
      r.err = Unix(r.err);
    }
    unlink(outPath.c_str());
    unlink(errPath.c_str());
  }
  return results;
}

}  // namespace e2e
