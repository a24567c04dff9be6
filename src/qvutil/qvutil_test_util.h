// Shared set-up of the utility library's tests: the fixture over the shared
// test environment, and helpers that blank out time stamps.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "platform/platform.h"
#include "qvutil/errlog.h"
#include "qvutil/mem.h"
#include "testenv.h"

namespace qvutil_testing {

// The shared test environment, with the error log and options file in its
// private directory.
class LogDirTest : public ::testing::Test {
 protected:
  std::string Log() const { return tmp.Read("ZmTrace.log"); }
  std::string Options() const { return tmp.Read("qvoptcfg.cfg"); }

  testenv::TestEnv env;
  testenv::TempDir& tmp = env.dir;
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
