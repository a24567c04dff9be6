// Helpers shared by the resource readers' and writers' unit tests: a message
// recorder, a scratch directory, whole-file reads and writes, and an Env
// that installs itself for one test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "qvutil/types.h"

namespace rctest {

using Messages = std::vector<std::pair<int, std::string>>;

inline Messages& Recorded() {
  static Messages m;
  return m;
}
inline void Record(int level, const char* text) { Recorded().emplace_back(level, text); }

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Installs an Env for the lifetime of the object.
class ScopedEnv {
 public:
  explicit ScopedEnv(platform::Env* env) { platform::Env::SetForTesting(env); }
  ~ScopedEnv() { platform::Env::SetForTesting(nullptr); }
};

// A fresh directory per test, removed afterwards; messages start empty.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Recorded().clear();
    std::random_device rd;
    dir_ = std::filesystem::temp_directory_path() /
           ("tblconv-rc-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::vector<std::string> Files() const {
    std::vector<std::string> v;
    for (auto& e : std::filesystem::directory_iterator(dir_)) v.push_back(e.path().filename().string());
    return v;
  }

  std::filesystem::path dir_;
};

}  // namespace rctest
