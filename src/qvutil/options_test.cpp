// The options file (defaults written back, what reads as a number) and the
// file routines over numeric handles.
#include "qvutil/options.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "qvutil/qvutil_test_util.h"

namespace {

using qvutil_testing::kProfileKeepsLines;
using qvutil_testing::kSectionGap;
using qvutil_testing::LogDirTest;

using OptionsFile = LogDirTest;

TEST_F(OptionsFile, LivesBesideTheLogAndIsKept) {
  EXPECT_EQ(GetOptionsPath(), tmp.Path("qvoptcfg.cfg"));
  ErrorLogSetPath("/elsewhere/ZmTrace.log");
  EXPECT_EQ(GetOptionsPath(), tmp.Path("qvoptcfg.cfg"));
  OptionsResetForTesting();
  EXPECT_EQ(GetOptionsPath(), "/elsewhere/qvoptcfg.cfg");
}

TEST_F(OptionsFile, MissingKeysGetTheirDefaultsWrittenBack) {
  EXPECT_EQ(ReadOptionInt("General", "ErrLogMaxSize", 500000), 500000);
  EXPECT_EQ(ReadOptionInt("qvwin", "HeapLogging", 0), 0);
  EXPECT_EQ(ReadOptionInt("General", "ErrLogBackups", 0), 0);
  EXPECT_EQ(Options(), "[General]\r\nErrLogMaxSize=500000\r\nErrLogBackups=0\r\n" + kSectionGap +
                           "[qvwin]\r\nHeapLogging=0\r\n");
  EXPECT_EQ(ReadOptionInt("general", "errlogmaxsize", 7), 500000);  // now present
}

TEST_F(OptionsFile, ValuesReadAsTheirLeadingNumber) {
  const std::string file =
      "[General]\r\nErrLogMaxSize=abc\r\nErrLogBackups=\r\nA=42xyz\r\nB= -17 \r\nC=+5\r\n"
      "D=99999999999\r\n";
  tmp.Write("qvoptcfg.cfg", file);
  EXPECT_EQ(ReadOptionInt("General", "ErrLogMaxSize", 500000), 0);
  EXPECT_EQ(ReadOptionInt("General", "A", 1), 42);
  EXPECT_EQ(ReadOptionInt("General", "B", 1), -17);
  EXPECT_EQ(ReadOptionInt("General", "C", 1), 5);
  EXPECT_EQ(ReadOptionInt("General", "D", 1), 2147483647);
  EXPECT_EQ(Options(), file);  // nothing written for keys that have a value
  // An empty value counts as missing: the default replaces it in place.
  EXPECT_EQ(ReadOptionInt("General", "ErrLogBackups", 3), 3);
  const std::string b = kProfileKeepsLines ? "B= -17 " : "B=-17";
  EXPECT_EQ(Options(), "[General]\r\nErrLogMaxSize=abc\r\nErrLogBackups=3\r\nA=42xyz\r\n" + b +
                           "\r\nC=+5\r\nD=99999999999\r\n");
  WriteOptionString("General", "A", "text");
  WriteOptionInt("General", "B", -4);
  EXPECT_EQ(ReadOptionInt("General", "B", 0), -4);
  EXPECT_EQ(ReadOptionInt("General", "A", 9), 0);
}

TEST_F(OptionsFile, OpenModes) {
  int status = 0x1234;
  FileHandle h = 77;
  EXPECT_EQ(OpenFileMode(tmp.Path("none").c_str(), kModeRead, &status, &h, "m", 1), -1);
  EXPECT_EQ(h, -1);
  EXPECT_EQ(status, (ENOENT << 16) | 0x1234);
  EXPECT_EQ(OpenFileMode(tmp.Path("none").c_str(), kModeReadWrite, &status, &h, "m", 1), -1);
  status = 0x55;
  h = 77;
  EXPECT_EQ(OpenFileMode(tmp.Path("f").c_str(), 5, &status, &h, "m", 1), -1);
  EXPECT_EQ(h, -1);
  EXPECT_EQ(status, 0x55);
  EXPECT_EQ(OpenFileMode(tmp.Path("f").c_str(), 0, &status, &h, "m", 1), -1);
  EXPECT_FALSE(tmp.Exists("f"));

  ASSERT_EQ(OpenFileMode(tmp.Path("f").c_str(), kModeWrite, &status, &h, "m", 1), 0);
  EXPECT_EQ(WriteText("first line\r\n", h), 0);
  EXPECT_EQ(CloseFileHandle(h, "m", 2), 0);
  ASSERT_EQ(OpenFileMode(tmp.Path("f").c_str(), kModeAppend, &status, &h, "m", 1), 0);
  EXPECT_EQ(WriteText("second\r\n", h), 0);
  EXPECT_EQ(WriteText("", h), 0);
  EXPECT_EQ(CloseFileHandle(h, "m", 2), 0);
  EXPECT_EQ(tmp.Read("f"), "first line\r\nsecond\r\n");

  ASSERT_EQ(OpenFileMode(tmp.Path("f").c_str(), kModeRead, &status, &h, "m", 1), 0);
  EXPECT_EQ(WriteText("no", h), -1);  // read-only handle
  char buf[6] = {};
  EXPECT_EQ(platform::Env::Get()->ReadFile(h, buf, 5), 5);
  EXPECT_STREQ(buf, "first");
  EXPECT_EQ(CloseFileHandle(h, "m", 2), 0);

  ASSERT_EQ(OpenFileMode(tmp.Path("f").c_str(), kModeReadWrite, &status, &h, "m", 1), 0);
  EXPECT_EQ(WriteText("FIRST", h), 0);  // at the start, overwriting
  EXPECT_EQ(CloseFileHandle(h, "m", 2), 0);
  EXPECT_EQ(tmp.Read("f"), "FIRST line\r\nsecond\r\n");

  ASSERT_EQ(OpenFileMode(tmp.Path("f").c_str(), kModeWrite, &status, &h, "m", 1), 0);
  EXPECT_EQ(CloseFileHandle(h, "m", 2), 0);
  EXPECT_EQ(tmp.Read("f"), "");  // truncated
  ASSERT_EQ(OpenFileMode(tmp.Path("g").c_str(), kModeAppend, &status, &h, "m", 1), 0);
  EXPECT_EQ(CloseFileHandle(h, "m", 2), 0);
  EXPECT_TRUE(tmp.Exists("g"));
  EXPECT_EQ(CloseFileHandle(-1, "m", 3), -1);
}

}  // namespace

namespace {

// An administrator's options file comes first; the user's own file holds
// the rest and the defaults written back, never the system's.
TEST_F(OptionsFile, TheSystemsSettingsComeFirst) {
  std::filesystem::create_directories(tmp.Path("etc"));
  tmp.Write("etc/qvoptcfg.cfg", "[General]\r\nErrLogMaxSize=7000\r\n");
  tmp.Write("qvoptcfg.cfg", "[General]\r\nErrLogMaxSize=9\r\nErrLogBackups=3\r\n");
  EXPECT_EQ(ReadOptionInt("General", "ErrLogMaxSize", 500000), 7000);
  EXPECT_EQ(ReadOptionInt("General", "ErrLogBackups", 0), 3);
  EXPECT_EQ(ReadOptionInt("qvwin", "HeapLogging", 0), 0);
  EXPECT_EQ(tmp.Read("etc/qvoptcfg.cfg"), "[General]\r\nErrLogMaxSize=7000\r\n");
  EXPECT_NE(Options().find("HeapLogging=0"), std::string::npos) << Options();
}

}  // namespace
