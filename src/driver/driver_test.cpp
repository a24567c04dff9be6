// Whole runs in-process, where a fault can be placed exactly: the close of
// the working table after every output was written.
#include "driver/driver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "testenv.h"

namespace {

int RunTool(std::vector<std::string> args, std::string* out) {
  args.insert(args.begin(), "tblconv");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  testing::internal::CaptureStdout();
  int rc = RunDriver(static_cast<int>(argv.size()), argv.data());
  *out = testing::internal::GetCapturedStdout();
  return rc;
}

std::string SampleTable() {
  const char* dir = std::getenv("TBLCONV_SOURCE_DIR");
  std::ifstream in(std::string(dir ? dir : ".") + "/examples/sample.txt", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Driver, AFailedCloseOfTheWorkingTableFailsTheRun) {
  testenv::TestEnv env;
  env.dir.Write("in.txt", SampleTable());
  // The output is committed last of all files but the working table: the
  // next close is that table's.
  env.afterRename = [&](const std::string&) { env.fail.closes.Next(1); };
  std::string out;
  EXPECT_EQ(RunTool({env.dir.Path("in.txt"), env.dir.Path("out.itb")}, &out), -1);
  EXPECT_NE(out.find("## Error "), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.size() - 12), "Error: Exit\n") << out;
  EXPECT_EQ(out.find("Processing completed successfully"), std::string::npos) << out;
  // The output itself was complete before the table was closed.
  EXPECT_TRUE(env.dir.Exists("out.itb"));
}

}  // namespace
