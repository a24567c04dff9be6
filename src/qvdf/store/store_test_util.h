// Test support for the store's unit tests: a private directory per test with
// the error log pointed into it, whole-file byte access, little-endian field
// access, and an Env that counts open files and fails chosen operations.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "qvutil/errlog.h"
#include "qvutil/options.h"

namespace storetest {

using Bytes = std::vector<unsigned char>;

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const Bytes& b) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline uint32_t U32(const Bytes& b, size_t off) {
  uint32_t v = 0;
  std::memcpy(&v, b.data() + off, 4);
  return v;
}
inline uint16_t U16(const Bytes& b, size_t off) {
  uint16_t v = 0;
  std::memcpy(&v, b.data() + off, 2);
  return v;
}
inline void PutU32(Bytes& b, size_t off, uint32_t v) { std::memcpy(b.data() + off, &v, 4); }
inline void PutU16(Bytes& b, size_t off, uint16_t v) { std::memcpy(b.data() + off, &v, 2); }

// Counts files held open and fails operations on request: positional
// writes (the table store's) but not the error log's sequential ones. A countdown of -1
// never fails; 0 fails every call from now on; n lets n calls through first.
class FaultEnv : public platform::EnvWrapper {
 public:
  FaultEnv() : EnvWrapper(platform::DefaultEnv()) {}
  int openFiles = 0;
  int writesLeft = -1;
  int allocsLeft = -1;
  int readsLeft = -1;
  bool reportReadOnly = false;
  long readCalls = 0;   // positional reads that reached the file
  long writeCalls = 0;  // positional writes that reached the file

  int OpenFile(const std::string& p, platform::Access a, platform::Disposition d,
               platform::FileHandle* o) override {
    int rc = target()->OpenFile(p, a, d, o);
    if (rc == 0) ++openFiles;
    return rc;
  }
  int CloseFile(platform::FileHandle h) override {
    --openFiles;
    return target()->CloseFile(h);
  }
  long ReadAt(platform::FileHandle h, uint64_t off, void* b, size_t n) override {
    if (Take(&readsLeft)) return -1;
    ++readCalls;
    return target()->ReadAt(h, off, b, n);
  }
  long WriteAt(platform::FileHandle h, uint64_t off, const void* b, size_t n) override {
    if (Take(&writesLeft)) return -1;
    ++writeCalls;
    return target()->WriteAt(h, off, b, n);
  }
  platform::MemHandle MemAllocMovable(size_t n) override {
    if (Take(&allocsLeft)) return 0;
    return target()->MemAllocMovable(n);
  }
  bool GetAttributes(const std::string& p, platform::FileAttributes* a) override {
    bool ok = target()->GetAttributes(p, a);
    if (ok && reportReadOnly) a->read_only = true;
    return ok;
  }

 private:
  static bool Take(int* left) {
    if (*left == 0) return true;
    if (*left > 0) --*left;
    return false;
  }
};

// A private directory for one test, with the error log (and so the options
// file) inside it; the FaultEnv is installed for the test's duration.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Each test is its own process under ctest, and with a sanitizer every
    // process gets the same addresses: a random part keeps the names apart.
    static const unsigned nonce = std::random_device{}();
    static int serial = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("store_test_" + std::to_string(nonce) + "_" +
            std::to_string(reinterpret_cast<uintptr_t>(this)) + "_" + std::to_string(serial++));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    platform::Env::SetForTesting(&env_);
    ErrorLogResetForTesting();
    OptionsResetForTesting();
    ErrorLogSetPath(Path("ZmTrace.log"));
  }
  void TearDown() override {
    platform::Env::SetForTesting(nullptr);
    std::filesystem::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Log() const { return ReadText(Path("ZmTrace.log")); }

  FaultEnv env_;
  std::filesystem::path dir_;
};

}  // namespace storetest
