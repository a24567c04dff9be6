// A private directory for one test, removed with everything in it when the
// test ends. Used by the unit tests of the platform layer and the modules
// above it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace platform_testing {

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> serial{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("tblconv-test-" + std::to_string(stamp) + "-" + std::to_string(serial++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory with a trailing "/".
  std::string dir() const { return path_.string() + "/"; }
  std::string Path(const std::string& rel) const { return (path_ / rel).string(); }

  void Write(const std::string& rel, const std::string& bytes) const {
    std::ofstream f(Path(rel), std::ios::binary | std::ios::trunc);
    f << bytes;
  }
  // "" when missing.
  std::string Read(const std::string& rel) const {
    std::ifstream f(Path(rel), std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
  }
  bool Exists(const std::string& rel) const { return std::filesystem::exists(Path(rel)); }

 private:
  std::filesystem::path path_;
};

}  // namespace platform_testing
