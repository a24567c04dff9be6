// Shared set-up of the utility library's tests: a private directory that
// holds the error log and the options file, with every kept setting
// forgotten before and after, and helpers that blank out time stamps.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <regex>
#include <string>

#include "platform/platform.h"
#include "platform/test_temp_dir.h"
#include "qvutil/errlog.h"
#include "qvutil/mem.h"

namespace qvutil_testing {

// The real environment with the temporary directory moved into the test's
// own and a rotation mutex of the test's own, so that tests running in
// parallel never take it from each other.
class PrivateTempEnv : public platform::EnvWrapper {
 public:
  explicit PrivateTempEnv(std::string dir)
      : EnvWrapper(platform::DefaultEnv()), dir_(std::move(dir)) {}
  std::string TempDirectory() override { return dir_; }
  // The real mutex lives where the real environment puts it, so tests in
  // parallel processes would contend for one lock: give each test its own.
  std::unique_ptr<platform::NamedMutex> NewNamedMutex(const std::string& name) override {
    std::string own = name;
    for (char c : dir_) own += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return EnvWrapper::NewNamedMutex(own);
  }

 private:
  std::string dir_;
};

class LogDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Env::SetForTesting(&private_env);
    ErrorLogResetForTesting();
    MemResetForTesting();
    ErrorLogSetPath(tmp.Path("ZmTrace.log"));
  }
  void TearDown() override {
    platform::Env::SetForTesting(nullptr);
    ErrorLogResetForTesting();
    MemResetForTesting();
    ErrorLogSetPath("");
  }
  std::string Log() const { return tmp.Read("ZmTrace.log"); }
  std::string Options() const { return tmp.Read("qvoptcfg.cfg"); }

  platform_testing::TempDir tmp;
  PrivateTempEnv private_env{tmp.dir()};
};

// The text with "Mon Jan 07 09:05:03 2002" times as <T> and "09:05:03.042"
// trace times as <t>.
inline std::string Untimed(const std::string& text) {
  static const std::regex long_time(
      "(Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
      "[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}");
  static const std::regex trace_time("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\\.[0-9]{3}");
  return std::regex_replace(std::regex_replace(text, long_time, "<T>"), trace_time, "<t>");
}

inline const std::string kBanner = "<T> -- Zelm Technology Corvane Log File --\r\n\r\n";

// How the platform's profile writer lays out the options file: the POSIX
// writer keeps every other line as it was and puts an empty line before a
// section it appends; Wine's WritePrivateProfileStringA writes the whole file
// anew in its own layout, with no empty lines and no blanks around values.
#ifdef _WIN32
inline constexpr bool kProfileKeepsLines = false;
inline const std::string kSectionGap = "";
#else
inline constexpr bool kProfileKeepsLines = true;
inline const std::string kSectionGap = "\r\n";
#endif

}  // namespace qvutil_testing
