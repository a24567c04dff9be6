// Runs the built tblconv the way a user does and looks only at what a user
// sees: exit code, standard output and error, files. Every test gets a fresh
// private directory (also its TMPDIR) that is removed afterwards.
//
// TBLCONV_BIN names the program to run (default: the build's tblconv);
// TBLTOOL_BIN the tbltool that RunTbltool runs (default: the build's);
// TBLCONV_RUNNER, when set, is put in front of it (e.g. "wine" for the
// Windows build). Platform-specific expectations go through the helpers at
// the bottom, never through copies of a test. For the Windows build Run()
// hands over the temporary directory and code page the way Wine takes them
// and turns the console streams' CR LF into LF (ForWine in harness.cpp).
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace e2e {

struct RunResult {
  int exit_code = -1000;  // 255 for the tool's -1 on POSIX
  std::string out;        // standard output
  std::string err;        // standard error
};

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the tool with args in the test directory.
  RunResult Run(const std::vector<std::string>& args,
                const std::map<std::string, std::string>& env = {});
  // Runs tbltool (native only: it has no Windows build) the same way.
  RunResult RunTbltool(const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& env = {});

  std::string dir() const { return dir_; }
  // One run, as Run but never repeated.
  RunResult RunOnce(const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env = {});
  // Starts every run at once, then waits for them all; results in order.
  std::vector<RunResult> RunTogether(const std::vector<std::vector<std::string>>& runs,
                                     const std::map<std::string, std::string>& env = {});
  // From now on runs a copy of the program kept in this test's own
  // directory, so that its error log and options file (which live beside
  // the program) are this test's alone. Returns that directory relative to
  // dir(), for Path, ReadFile and WriteFile.
  std::string UsePrivateProgram();
  // From now on standard error goes to the same file as standard output:
  // RunResult::out holds both streams as they were written, err stays "".
  void MergeStreams() { merge_streams_ = true; }
  std::string Path(const std::string& rel) const;  // dir + "/" + rel
  void WriteFile(const std::string& rel, const std::string& bytes);
  std::string ReadFile(const std::string& rel) const;  // "" when missing
  // A file the tool writes through a text stream (its log): on Windows its
  // lines end in CR LF, read back here as LF. "" when missing.
  std::string ReadText(const std::string& rel) const;
  // The absolute path of rel as an argument of the program under test: on
  // Windows a "/" starts an option, so it is given with its drive (Wine's
  // Z: is the root) and backslashes.
  std::string ArgPath(const std::string& rel) const;
  bool Exists(const std::string& rel) const;
  std::vector<std::string> ListDir(const std::string& rel = ".") const;
  // Files left in the private TMPDIR by the run.
  std::vector<std::string> TempFiles() const;
  // Writes the table tblgen makes from seed and profile (small, max, edge)
  // to rel; false when tblgen failed.
  bool Generate(unsigned long seed, const std::string& profile, const std::string& rel);
  // The program under test (for tests that start it themselves).
  std::string Program() const;
  // The private TMPDIR of the runs.
  std::string TempDir() const { return tmp_; }

 private:
  std::string root_;         // holds work/ (the cwd), tmp/ (TMPDIR) and the captured streams
  std::string private_bin_;  // the copy run instead of the build's program
  bool tbltool_ = false;     // the run in progress is tbltool's
  std::string dir_;
  std::string tmp_;
  bool merge_streams_ = false;
};

// Text of a source-tree file (examples/, tests/data/).
std::string SourceFile(const std::string& rel);
std::string SourceDir();

// Exit code of the tool's -1 as the OS reports it (255 on POSIX and Wine).
constexpr int kExitFail = 255;

// True when the program under test is the Windows build.
bool IsWindowsBuild();

// The names in a directory (absolute path), sorted.
std::vector<std::string> ListFiles(const std::string& dir);

// The text after its first line (the file-name line that every table
// writer puts first and that differs between runs).
std::string Body(const std::string& text);

// Where two texts part: the line number, both lines with control characters
// shown as \xHH, and the text got in full when it is short.
std::string Difference(const std::string& got, const std::string& want);

inline bool Contains(const std::string& s, const std::string& part) {
  return s.find(part) != std::string::npos;
}

}  // namespace e2e
