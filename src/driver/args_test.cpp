// Parser tests over a simulated file system: which list each name lands in,
// with which kind, and what the end-to-end tests cannot arrange: files that
// change between the passes, and the exact levels of the messages.
#include "driver/args.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace {

// Files and wildcard results the parser sees; everything else is the real
// platform (case mapping, path splitting, the option rule).
class FakeFs : public platform::EnvWrapper {
 public:
  FakeFs() : EnvWrapper(platform::DefaultEnv()) {}
  std::map<std::string, uint64_t> files;
  std::map<std::string, std::vector<platform::FindMatch>> patterns;
  // Matches that appear from the second search of a pattern on.
  std::map<std::string, std::vector<platform::FindMatch>> later;
  std::map<std::string, int> searches;
  std::vector<std::string> removed;

  bool GetAttributes(const std::string& p, platform::FileAttributes* a) override {
    auto it = files.find(p);
    if (it == files.end()) return false;
    a->size = it->second;
    return true;
  }
  std::vector<platform::FindMatch> FindFiles(const std::string& p) override {
    std::vector<platform::FindMatch> v = patterns[p];
    if (searches[p]++ > 0) v.insert(v.end(), later[p].begin(), later[p].end());
    return v;
  }
  int RemoveFile(const std::string& p) override {
    removed.push_back(p);
    files.erase(p);
    return 0;
  }
  std::string AbsolutePath(const std::string& p) override {
    std::string s = p;
    while (s.rfind("./", 0) == 0) s.erase(0, 2);
    return s[0] == '/' ? s : "/work/" + s;
  }
};

std::vector<std::pair<int, std::string>> g_messages;
int g_usage = 0;
std::string g_usageProgram;

void Collect(int level, const char* text) { g_messages.emplace_back(level, text); }
void Usage(const char* program) {
  ++g_usage;
  g_usageProgram = program;
}

using Messages = std::vector<std::pair<int, std::string>>;
using Entries = std::vector<std::pair<FileKind, std::string>>;

Entries Contents(const FileList& l) {
  Entries v;
  for (int i = 0; i < l.count; ++i) v.emplace_back(l.entries[i]->kind, l.entries[i]->szName);
  return v;
}

const std::pair<int, std::string> kParsing{40, "Parsing Args....\n"};

class ParseArgsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Env::SetForTesting(&fs);
    g_messages.clear();
    g_usage = 0;
  }
  void TearDown() override {
    ReleaseArgs(&in, &mod, &out, &log);
    platform::Env::SetForTesting(nullptr);
  }
  int Parse(std::vector<std::string> args) {
    ReleaseArgs(&in, &mod, &out, &log);
    flags = 0;
    storage = std::move(args);
    storage.insert(storage.begin(), "/opt/bin/tblconv");
    argv.clear();
    for (auto& a : storage) argv.push_back(a.data());
    argv.push_back(nullptr);
    return ParseArgs(static_cast<int>(storage.size()), argv.data(), Collect, Usage, &in, &mod,
                     &out, &log, &flags);
  }
  static platform::FindMatch Match(std::string name, uint64_t size, bool dir = false) {
    platform::FindMatch m;
    m.name = std::move(name);
    m.size = size;
    m.is_directory = dir;
    return m;
  }

  FakeFs fs;
  FileList in, mod, out, log;
  uint32_t flags = 0;
  std::vector<std::string> storage;
  std::vector<char*> argv;
};

TEST(ClassifyFileTest, ExtensionAndForcedVersionPickTheKind) {
  EXPECT_EQ(ClassifyFile("a.txt", 0), FileKind::TxtV4);
  EXPECT_EQ(ClassifyFile("a.txt", 2), FileKind::TxtV2);
  EXPECT_EQ(ClassifyFile("a.txt", 3), FileKind::TxtV3);
  EXPECT_EQ(ClassifyFile("a.txt", 4), FileKind::TxtV4);
  EXPECT_EQ(ClassifyFile("A.TXT", 0), FileKind::TxtV4);
  EXPECT_EQ(ClassifyFile("t.itb", 0), FileKind::ItbV4);
  EXPECT_EQ(ClassifyFile("t.itb", 2), FileKind::ItbV2);
  EXPECT_EQ(ClassifyFile("t.ItB", 3), FileKind::ItbV3);
  EXPECT_EQ(ClassifyFile("t.rc2", 2), FileKind::Rc2V4);
  EXPECT_EQ(ClassifyFile("t.rc2", 3), FileKind::Rc2V3);
  EXPECT_EQ(ClassifyFile("t.fil", 0), FileKind::FilV4);
  EXPECT_EQ(ClassifyFile("t.fil", 3), FileKind::FilV3);
  EXPECT_EQ(ClassifyFile("t.itr", 2), FileKind::ItrV4);
  EXPECT_EQ(ClassifyFile("t.ITR", 3), FileKind::ItrV3);
  EXPECT_EQ(ClassifyFile("t.text", 0), FileKind::Unknown);
  EXPECT_EQ(ClassifyFile("t.tx", 0), FileKind::Unknown);
  EXPECT_EQ(ClassifyFile("table", 0), FileKind::Unknown);
  EXPECT_EQ(ClassifyFile("dir.txt/table", 0), FileKind::Unknown);
  EXPECT_EQ(ClassifyFile("t.doc", 3), FileKind::Unknown);
}

TEST_F(ParseArgsTest, OptionsByLetterCaseAndPrefix) {
  fs.files["a.txt"] = 10;
  ASSERT_EQ(Parse({"-V", "/O", "x.itb", "/Input", "a.txt", "/log", "l.txt", "/e", "m.txt"}), 0);
  EXPECT_EQ(flags, kFlagVerbose);
  EXPECT_EQ(Contents(in), (Entries{{FileKind::TxtV4, "a.txt"}}));
  EXPECT_EQ(Contents(out), (Entries{{FileKind::ItbV4, "x.itb"}}));
  EXPECT_EQ(Contents(log), (Entries{{FileKind::LogFile, "l.txt"}, {FileKind::LogFile, "m.txt"}}));

  ASSERT_EQ(Parse({"/v", "/quiet", "a.txt", "b.txt"}), 0);
  EXPECT_EQ(flags, 0u);
}

TEST_F(ParseArgsTest, OptionWithoutItsFileName) {
  fs.files["a.txt"] = 10;
  EXPECT_EQ(Parse({"a.txt", "b.txt", "/o"}), -1);
  EXPECT_EQ(g_messages,
            (Messages{kParsing, {100, "Error: Option 3 (/o) expected filename to follow\n"}}));
  EXPECT_EQ(g_usage, 1);

  // A role and a version for one file: the second option finds its place taken.
  g_messages.clear();
  EXPECT_EQ(Parse({"a.txt", "/o", "/3", "b.txt"}), -1);
  EXPECT_EQ(g_messages,
            (Messages{kParsing, {100, "Error: Option 2 (/o) expected filename to follow\n"}}));

  // With Force the option is still handled: b.txt becomes a modifier.
  g_messages.clear();
  fs.files["b.txt"] = 10;
  ASSERT_EQ(Parse({"/f", "a.txt", "/o", "/s", "b.txt", "c.txt"}), 0);
  EXPECT_EQ(g_messages,
            (Messages{kParsing, {100, "Error: Option 3 (/o) expected filename to follow\n"}}));
  EXPECT_EQ(Contents(mod), (Entries{{FileKind::Subset, "b.txt"}}));
  EXPECT_EQ(Contents(out), (Entries{{FileKind::TxtV4, "c.txt"}}));
}

TEST_F(ParseArgsTest, ForcedOutputIsDeletedAfterAWarning) {
  fs.files["a.txt"] = 10;
  fs.files["b.itb"] = 10;
  ASSERT_EQ(Parse({"/f", "a.txt", "b.itb"}), 0);
  EXPECT_EQ(g_messages,
            (Messages{kParsing,
                      {100, "Error: argument 3 (b.itb) Output File already exists.\n"},
                      {80, "Forcing output.  Deleting pre-existing output file b.itb.\n"}}));
  EXPECT_EQ(fs.removed, (std::vector<std::string>{"b.itb"}));
  EXPECT_EQ(g_usage, 0);
}

TEST_F(ParseArgsTest, WildcardInputsKeepTheirDirectoryAndSkipEmptyFiles) {
  fs.files["old.itb"] = 10;
  fs.patterns["tables/*.fil"] = {Match("tables/a.fil", 5), Match("tables/empty.fil", 0),
                                 Match("tables/sub.fil", 4096, true), Match("tables/b.FIL", 7),
                                 Match("tables/c.fil", 1)};
  ASSERT_EQ(Parse({"old.itb", "/3", "tables/*.fil", "new.itb"}), 0);
  EXPECT_EQ(Contents(in), (Entries{{FileKind::ItbV4, "old.itb"},
                                   {FileKind::FilV3, "tables/a.fil"},
                                   {FileKind::FilV3, "tables/b.FIL"},
                                   {FileKind::FilV3, "tables/c.fil"}}));
  EXPECT_EQ(Contents(out), (Entries{{FileKind::ItbV4, "new.itb"}}));
  EXPECT_EQ(g_messages, (Messages{kParsing}));
}

TEST_F(ParseArgsTest, FilesAppearingBetweenThePassesAreNeverStoredPastTheList) {
  fs.patterns["*.txt"] = {Match("a.txt", 3), Match("b.txt", 3)};
  fs.later["*.txt"] = {Match("c.txt", 3), Match("d.txt", 3)};
  EXPECT_EQ(Parse({"*.txt", "/o", "out.itb"}), -1);
  EXPECT_EQ(g_messages, (Messages{kParsing,
                                  {100,
                                   "Error: more input files found than originally detected.  "
                                   "Rerun when files are stable\n"}}));
  EXPECT_EQ(g_usage, 0);
  EXPECT_EQ(in.count, 0);
}

TEST_F(ParseArgsTest, FewerFilesThanCountedIsFine) {
  // Pattern counted two files; one of them vanished before the second pass.
  fs.files["a.txt"] = 3;
  fs.patterns["t*.txt"] = {Match("t1.txt", 3)};
  ASSERT_EQ(Parse({"a.txt", "t*.txt", "/o", "out.itb"}), 0);
  EXPECT_EQ(Contents(in), (Entries{{FileKind::TxtV4, "a.txt"}, {FileKind::TxtV4, "t1.txt"}}));
  EXPECT_EQ(in.capacity, 2);
}

TEST_F(ParseArgsTest, NamesThatDoNotFitAreRefusedEvenWithForce) {
  std::string longName(255, 'n');
  longName += ".txt";  // 259 characters fit
  fs.files["a.txt"] = 10;
  fs.files[longName] = 10;
  ASSERT_EQ(Parse({longName, "b.txt"}), 0);
  EXPECT_EQ(Contents(in), (Entries{{FileKind::TxtV4, longName}}));

  std::string tooLong = "x" + longName;  // 260
  g_messages.clear();
  EXPECT_EQ(Parse({"/f", "a.txt", tooLong}), -1);
  EXPECT_EQ(g_messages,
            (Messages{kParsing, {100, "Error: argument 3 (" + tooLong.substr(0, 80) +
                                          ") file name too long\n"}}));
  EXPECT_EQ(g_usage, 1);

  // A pattern that fits whose match does not.
  g_messages.clear();
  fs.patterns["d/*.txt"] = {Match("d/" + tooLong, 10)};
  EXPECT_EQ(Parse({"/f", "d/*.txt", "b.txt"}), -1);
  EXPECT_EQ(g_messages, (Messages{kParsing, {100, "Error: argument 2 (d/*.txt) file name too long\n"}}));
}

TEST_F(ParseArgsTest, OutputOrLogThatIsAnInputIsRefusedEvenWithForce) {
  fs.files["a.txt"] = 10;
  EXPECT_EQ(Parse({"/f", "a.txt", "./a.txt"}), -1);
  EXPECT_EQ(g_messages,
            (Messages{kParsing, {100, "Error: argument 3 (./a.txt) is also an input file\n"}}));
  EXPECT_EQ(g_usage, 0);
  EXPECT_TRUE(fs.removed.empty());

  // The input is matched by a later pattern; the output comes first.
  g_messages.clear();
  fs.patterns["*.txt"] = {Match("a.txt", 10)};
  EXPECT_EQ(Parse({"/f", "/o", "a.txt", "*.txt"}), -1);
  EXPECT_EQ(g_messages,
            (Messages{kParsing, {100, "Error: argument 3 (a.txt) is also an input file\n"}}));
  EXPECT_TRUE(fs.removed.empty());

  g_messages.clear();
  fs.files["s.txt"] = 10;
  EXPECT_EQ(Parse({"a.txt", "/s", "s.txt", "/l", "s.txt", "out.txt"}), -1);
  EXPECT_EQ(g_messages,
            (Messages{kParsing, {100, "Error: argument 5 (s.txt) is also an input file\n"}}));
}

TEST_F(ParseArgsTest, FirstArgumentNeverBecomesTheOutput) {
  fs.patterns["*.txt"] = {Match("a.txt", 3), Match("b.txt", 3)};
  EXPECT_EQ(Parse({"*.txt"}), -1);
  EXPECT_EQ(g_messages,
            (Messages{kParsing,
                      {100, "Error: Option 1 (*.txt) expected filename to follow\n"},
                      {100, "Can not continue without a valid input file, and an output filename"}}));
}

}  // namespace
