// The module reader over a resource handed in by a test Env: where the data
// ends, how lines are cut, what the getter delivers, and the failure codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qvdf/resource/fil.h"
#include "qvdf/resource/resource_test_support.h"

namespace {

using rctest::Recorded;
using namespace std::string_literals;

// Serves `data` as the resource of every module and remembers the request.
class ResourceEnv : public platform::EnvWrapper {
 public:
  ResourceEnv() : EnvWrapper(platform::DefaultEnv()) {}
  int LoadModuleResource(const std::string& path, const std::string& name, int type,
                         std::vector<char>* out) override {
    path_ = path;
    name_ = name;
    type_ = type;
    if (rc_ == 0) *out = data_;
    return rc_;
  }
  std::vector<char> data_;
  int rc_ = 0;
  std::string path_, name_;
  int type_ = 0;
};

class FilReaderTest : public rctest::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    platform::Env::SetForTesting(&env_);
    rctest::WriteAll(Path("t.fil"), "MZ");
  }
  void TearDown() override {
    CloseFilInput("t.fil", nullptr);
    platform::Env::SetForTesting(nullptr);
    ScratchTest::TearDown();
  }
  int Open(const std::string& data, int version = 4) {
    env_.data_.assign(data.begin(), data.end());
    getter_ = nullptr;
    return OpenFilInput(version, Path("t.fil").c_str(), &getter_, rctest::Record);
  }
  std::vector<std::string> ReadAllLines() {
    std::vector<std::string> v;
    std::string line;
    while (ReadFilLine(&line) == 1) v.push_back(line);
    return v;
  }
  std::string Get(const char* key, int size = 256) {
    std::string buf(static_cast<size_t>(size), '\x7f');
    int rc = GetFilValue(key, buf.data(), size, nullptr);
    if (rc == 1) return "<other>";
    if (rc == 2) return "<end>";
    return std::string(buf.c_str());
  }

  ResourceEnv env_;
  GetValueFn getter_ = nullptr;
};

using Lines = std::vector<std::string>;

TEST_F(FilReaderTest, AsksForTheTableResourceByFullPath) {
  ASSERT_EQ(Open("A=1\r\n"), 0);
  EXPECT_EQ(getter_, &GetFilValue);
  EXPECT_EQ(env_.name_, "_ZELM_ITB_TABLE_");
  EXPECT_EQ(env_.type_, 10);
  EXPECT_EQ(env_.path_, platform::DefaultEnv()->AbsolutePath(Path("t.fil")));
  EXPECT_TRUE(Recorded().empty());
}

TEST_F(FilReaderTest, LinesEndAtLineFeedsAndDataAtFirstZero) {
  ASSERT_EQ(Open("A=1\r\nB=\r2\n\r\nC=3\r\n\0\0D=4\r\n"s), 0);
  EXPECT_EQ(ReadAllLines(), (Lines{"A=1", "B=2", "", "C=3"}));
  std::string line;
  EXPECT_EQ(ReadFilLine(&line), 0);
}

TEST_F(FilReaderTest, StopsAtResourceEndWithoutZeroByte) {
  // The tail after the last LF is not a line.
  ASSERT_EQ(Open("A=1\r\nB=2"), 0);
  EXPECT_EQ(ReadAllLines(), (Lines{"A=1"}));
  ASSERT_EQ(Open(""), 0);
  EXPECT_EQ(ReadAllLines(), (Lines{}));
}

TEST_F(FilReaderTest, GetterSkipsCommentsAndBoundsValues) {
  ASSERT_EQ(Open("# c\r\n\r\n ;x\r\nTYPE=SYSTEM\r\nNOKEY\r\nNAME=abcdef\r\nCOUNT=0\r\n\0"s), 0);
  EXPECT_EQ(Get("COUNT"), "<other>");
  EXPECT_EQ(Get("TYPE"), "SYSTEM");
  EXPECT_EQ(Get("NOKEY"), "<other>");
  EXPECT_EQ(Get(""), "NOKEY");
  EXPECT_EQ(Get("name", 5), "abcd");
  EXPECT_EQ(Get("COUNT", 1), "");
  EXPECT_EQ(Get(""), "<end>");
  EXPECT_EQ(CloseFilInput("t.fil", nullptr), 0);
  std::string line;
  EXPECT_EQ(ReadFilLine(&line), 0);
}

TEST_F(FilReaderTest, FailureCodes) {
  env_.rc_ = 4;
  EXPECT_EQ(Open("A=1\r\n"), 4);
  env_.rc_ = 9;  // present but not openable as a module
  EXPECT_EQ(Open("A=1\r\n"), 4);
  EXPECT_TRUE(Recorded().empty());
  std::string line;
  EXPECT_EQ(ReadFilLine(&line), 0);

  env_.rc_ = 0;
  env_.path_.clear();
  std::string missing = Path("none.fil");
  EXPECT_EQ(OpenFilInput(3, missing.c_str(), &getter_, rctest::Record), 9);
  ASSERT_EQ(Recorded().size(), 1u);
  EXPECT_EQ(Recorded()[0], std::make_pair(100, "File \"" + missing + "\" not found."));
  EXPECT_EQ(env_.path_, "");
}

}  // namespace
