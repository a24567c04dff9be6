// The script writer: exact bytes of converted text tables, the carry's
// suffix, write failures, and the temporary text table's lifetime.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "qvdf/resource/rc2.h"
#include "qvdf/resource/resource_test_support.h"

namespace {

using platform::Env;
using rctest::Recorded;

constexpr char kTableV4[] =
    "# QVTB file name:  x.tmp\r\n"
    "#------------\r\n"
    "TYPE=SYSTEM\r\n"
    "COUNT=1\r\n"
    "NAME=\"Org \"\"A\"\"\",C:\\dir\\\r\n"
    "\r\n"
    ";semi\r\n"
    "TYPE=TABLE\r\n"
    "ENABLEDPRODUCTS=8L,0X1L,0X0L,0X0L,0X0L,0X0L,0X0L,0X0L,0Xffffffffl\r\n"
    "# Processing completed successfully\r\n";

constexpr char kBodyV4[] =
    "// QVTB file name:  x.tmp\r\n"
    "//------------\r\n"
    "\"TYPE=SYSTEM\\r\\n\",\r\n"
    "\"COUNT=1\\r\\n\",\r\n"
    "\"NAME=\"\"Org \"\"\"\"A\"\"\"\"\"\",C:\\\\dir\\\\\\r\\n\",\r\n"
    "//semi\r\n"
    "\"TYPE=TABLE\\r\\n\",\r\n"
    "\"ENABLEDPRODUCTS=8L,0X1L,0X0L,0X0L,0X0L,0X0L,0X0L,0X0L,0Xffffffffl\\r\\n\",\r\n"
    "// Processing completed successfully\r\n"
    "0,\r\n"
    "END\r\n";

class Rc2WriterTest : public rctest::ScratchTest {
 protected:
  // Converts `txt` and returns the script, or "<rc N>" on failure.
  std::string Convert(const std::string& txt, int version, const char* suffix) {
    rctest::WriteAll(Path("in.txt"), txt);
    Env* env = Env::Get();
    platform::FileHandle src, dst;
    EXPECT_EQ(env->OpenFile(Path("in.txt"), platform::Access::kRead,
                            platform::Disposition::kOpenExisting, &src), 0);
    EXPECT_EQ(env->OpenFile(Path("out.rc2"), platform::Access::kWrite,
                            platform::Disposition::kCreateAlways, &dst), 0);
    Rc2Carry carry{};
    std::strcpy(carry.szSuffix, suffix);
    int rc = ConvertTxtToRc2(src, dst, version, rctest::Record, &carry);
    env->CloseFile(src);
    env->CloseFile(dst);
    if (rc != 0) return "<rc " + std::to_string(rc) + ">";
    return rctest::ReadAll(Path("out.rc2"));
  }
};

TEST_F(Rc2WriterTest, Version4AddsEnabledProductsResource) {
  EXPECT_EQ(Convert(kTableV4, 4, ""),
            std::string("_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n") + kBodyV4 +
                "_ZELM_ITB_ENABLED_PRODUCTS_ RCDATA BEGIN\r\n"
                "8L,0X1L,0X0L,0X0L,0X0L,0X0L,0X0L,0X0L,0Xffffffffl\r\n"
                "0,0,0,0\r\n"
                "END\r\n");
  EXPECT_TRUE(Recorded().empty());
}

TEST_F(Rc2WriterTest, Version3HasTableResourceOnly) {
  EXPECT_EQ(Convert(kTableV4, 3, ""), std::string("_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n") + kBodyV4);
}

TEST_F(Rc2WriterTest, SuffixIsUpperCasedIntoBothNames) {
  std::string out = Convert("ENABLEDPRODUCTS=8L,0X0L\r\n", 4, "abc_1");
  EXPECT_EQ(out,
            "_ZELM_ITB_TABLE_ABC_1 RCDATA BEGIN\r\n"
            "\"ENABLEDPRODUCTS=8L,0X0L\\r\\n\",\r\n"
            "0,\r\nEND\r\n"
            "_ZELM_ITB_ENABLED_PRODUCTS_ABC_1 RCDATA BEGIN\r\n"
            "8L,0X0L\r\n"
            "0,0,0,0\r\nEND\r\n");
}

TEST_F(Rc2WriterTest, LongLinesAreWrittenWhole) {
  // Far past any line buffer, short of the line limit.
  std::string value(60000, 'v');
  std::string out = Convert("A=" + value + "\r\n", 3, "");
  EXPECT_TRUE(out == "_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n\"A=" + value + "\\r\\n\",\r\n0,\r\nEND\r\n")
      << out.substr(0, 80);
}

// Lets every write through short by one byte.
class ShortWriteEnv : public platform::EnvWrapper {
 public:
  ShortWriteEnv() : EnvWrapper(platform::DefaultEnv()) {}
  long WriteFile(platform::FileHandle h, const void* b, size_t n) override {
    return target()->WriteFile(h, b, n > 0 ? n - 1 : 0);
  }
};

TEST_F(Rc2WriterTest, ShortWriteFails) {
  ShortWriteEnv env;
  rctest::ScopedEnv scoped(&env);
  EXPECT_EQ(Convert("X=1\r\n", 4, ""), "<rc 4006>");
  ASSERT_EQ(Recorded().size(), 1u);
  EXPECT_EQ(Recorded()[0], std::make_pair(100, std::string("Failure writing target rc2 file ")));
}

// Puts temporary files into the test's directory, optionally refusing them.
class TempDirEnv : public platform::EnvWrapper {
 public:
  TempDirEnv(std::string dir, bool refuse) : EnvWrapper(platform::DefaultEnv()), dir_(dir), refuse_(refuse) {}
  std::string TempDirectory() override { return dir_; }
  int CreateUniqueFile(const std::string& d, const std::string& p, std::string* path,
                       platform::FileHandle* h) override {
    if (refuse_) return 28;
    return target()->CreateUniqueFile(d, p, path, h);
  }

 private:
  std::string dir_;
  bool refuse_;
};

TEST_F(Rc2WriterTest, NoTemporaryNameFailsQuietly) {
  TempDirEnv env(Path("tmp") + "/", true);
  rctest::ScopedEnv scoped(&env);
  EXPECT_EQ(OpenRc2Output(4, Path("out.rc2").c_str(), rctest::Record), -1);
  EXPECT_TRUE(Recorded().empty());
}

TEST_F(Rc2WriterTest, TemporaryTextTableIsConvertedAndRemoved) {
  std::filesystem::create_directories(Path("tmp"));
  TempDirEnv env(Path("tmp") + "/", false);
  rctest::ScopedEnv scoped(&env);
  ASSERT_EQ(OpenRc2Output(3, Path("out.rc2").c_str(), nullptr), 0);
  std::vector<std::string> temps;
  for (auto& e : std::filesystem::directory_iterator(Path("tmp"))) temps.push_back(e.path().string());
  ASSERT_EQ(temps.size(), 1u);
  EXPECT_EQ(std::filesystem::path(temps[0]).filename().string().substr(0, 3), "TXT");

  Rc2Carry carry{};
  std::strcpy(carry.szSuffix, "x");
  ASSERT_EQ(FinishRc2Output(Path("out.rc2").c_str(), nullptr, &carry), 0);
  EXPECT_TRUE(std::filesystem::is_empty(Path("tmp")));
  EXPECT_EQ(rctest::ReadAll(Path("out.rc2")),
            "_ZELM_ITB_TABLE_X RCDATA BEGIN\r\n"
            "// QVTB file name:  " + temps[0] + "\r\n"
            "// Processing completed successfully\r\n"
            "0,\r\nEND\r\n");
}

TEST_F(Rc2WriterTest, UnopenableOutputAbortsAndRemovesTemporary) {
  std::filesystem::create_directories(Path("tmp"));
  TempDirEnv env(Path("tmp") + "/", false);
  rctest::ScopedEnv scoped(&env);
  std::string out = Path("missing/out.rc2");
  ASSERT_EQ(OpenRc2Output(4, out.c_str(), rctest::Record), 0);
  Recorded().clear();
  Rc2Carry carry{};
  EXPECT_EQ(FinishRc2Output(out.c_str(), rctest::Record, &carry), -1);
  EXPECT_TRUE(std::filesystem::is_empty(Path("tmp")));
  ASSERT_GE(Recorded().size(), 2u);
  EXPECT_EQ(Recorded()[Recorded().size() - 2], std::make_pair(100, "Unable to open file " + out));
  EXPECT_EQ(Recorded().back(),
            std::make_pair(100, std::string("Processing aborted due to error code -1")));
}

TEST_F(Rc2WriterTest, AbandonedOutputLeavesNothing) {
  std::filesystem::create_directories(Path("tmp"));
  TempDirEnv env(Path("tmp") + "/", false);
  rctest::ScopedEnv scoped(&env);
  ASSERT_EQ(OpenRc2Output(4, Path("out.rc2").c_str(), nullptr), 0);
  AbandonRc2Output();
  EXPECT_TRUE(std::filesystem::is_empty(Path("tmp")));
  EXPECT_FALSE(std::filesystem::exists(Path("out.rc2")));
}

TEST_F(Rc2WriterTest, CtrlZEndsALineAndAtALinesStartTheTable) {
  EXPECT_EQ(Convert("A=1\x1a" "B=2\r\nC=3\r\n\x1a" "D=4\r\n", 3, ""),
            "_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n"
            "\"A=1\\r\\n\",\r\n\"B=2\\r\\n\",\r\n\"C=3\\r\\n\",\r\n"
            "0,\r\nEND\r\n");
}

TEST_F(Rc2WriterTest, LinesUpToTheLineLimitAndOneByteMore) {
  // The limit counts the whole line with its CR LF.
  std::string fits = "A=" + std::string(64 * 1024 - 4, 'f');
  EXPECT_EQ(Convert(fits + "\r\n", 3, ""),
            "_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n\"" + fits + "\\r\\n\",\r\n0,\r\nEND\r\n");
  EXPECT_TRUE(Recorded().empty());
  EXPECT_EQ(Convert("B=1\r\n" + fits + "x\r\nC=2\r\n", 3, ""), "<rc 4>");
  ASSERT_EQ(Recorded().size(), 1u);
  EXPECT_EQ(Recorded()[0], std::make_pair(100, std::string("***ERROR: Line too long")));
}

TEST_F(Rc2WriterTest, ScriptLargerThanTheWriteBufferIsWholeAndTheLastProductsLineCounts) {
  // Lines of every kind, together several times the size written at once.
  std::string txt, body;
  for (int i = 0; i < 4000; ++i) {
    std::string n = std::to_string(i);
    txt += "# note " + n + "\r\n";
    body += "// note " + n + "\r\n";
    txt += "  NAME=\"" + n + "\",C:\\d" + n + "\\" + std::string(i % 40, 'p') + "\r\n";
    body += "  \"NAME=\"\"" + n + "\"\",C:\\\\d" + n + "\\\\" + std::string(i % 40, 'p') +
            "\\r\\n\",\r\n";
    txt += "\r\n";
  }
  txt += "ENABLEDPRODUCTS=8L,0X1L\r\nENABLEDPRODUCTS=8L,0X2L\rjunk\r\nEND=1";
  body += "\"ENABLEDPRODUCTS=8L,0X1L\\r\\n\",\r\n\"ENABLEDPRODUCTS=8L,0X2L\\r\\n\",\r\n"
          "\"END=1\\r\\n\",\r\n";
  std::string out = Convert(txt, 4, "");
  ASSERT_GT(out.size(), 4u * 64 * 1024);
  EXPECT_TRUE(out == "_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n" + body +
                         "0,\r\nEND\r\n"
                         "_ZELM_ITB_ENABLED_PRODUCTS_ RCDATA BEGIN\r\n"
                         "8L,0X2L\r\n0,0,0,0\r\nEND\r\n");
}

}  // namespace

