// Tests of the line reader and the .txt value getter: line ends, Ctrl-Z,
// the 64 KiB line limit, key matching, skipped lines, the kept line, and
// the open and close messages.
#include "qvdf/text/lineread.h"

#include "qvdf/text/txtreader_test_util.h"

namespace {

using txttest::Collect;
using txttest::Messages;
using txttest::Msg;

class LineReadTest : public txttest::ReaderTest {
 protected:
  // Every line ReadTextLine (or ReadTextView) returns for the bytes, then
  // the final result.
  std::vector<std::string> Lines(const std::string& bytes, int* last = nullptr, bool views = false) {
    WriteFile("lines.txt", bytes);
    platform::FileHandle h;
    EXPECT_EQ(platform::Env::Get()->OpenFile(Path("lines.txt"), platform::Access::kRead,
                                             platform::Disposition::kOpenExisting, &h),
              0);
    TextInput in(h);
    std::vector<std::string> out;
    std::string line;
    int r;
    std::string_view view;
    if (views) {
      while ((r = ReadTextView(&in, &view)) == kLineRead) out.emplace_back(view);
    } else {
      while ((r = ReadTextLine(&in, &line)) == kLineRead) out.push_back(line);
    }
    if (last) *last = r;
    platform::Env::Get()->CloseFile(h);
    return out;
  }

  // Opens text as a .txt input; the getter is GetTxtValue.
  void Open(const std::string& text, int version = 4) {
    WriteFile("in.txt", text);
    GetValueFn getter = nullptr;
    ASSERT_EQ(OpenTxtInput(version, Path("in.txt").c_str(), &getter, Collect), 0);
    ASSERT_EQ(getter, &GetTxtValue);
  }
  // Result of GetTxtValue and the value, as "r:value".
  std::string Get(const char* key, int size = 512) {
    std::string buf(static_cast<size_t>(size) + 8, '#');
    int r = GetTxtValue(key, buf.data(), size, Collect);
    if (r != kValueFound) return std::to_string(r);
    return "0:" + std::string(buf.c_str());
  }
  void TearDown() override {
    CloseTxtInput(Path("in.txt").c_str(), Collect);
    ReaderTest::TearDown();
  }
};

TEST_F(LineReadTest, LineEndsAndCtrlZ) {
  int last = 0;
  EXPECT_EQ(Lines("a\r\nb\nc", &last), (std::vector<std::string>{"a\r\n", "b\n", "c"}));
  EXPECT_EQ(last, kLineNone);
  // 0x1A ends its line unstored; what follows is the next line.
  EXPECT_EQ(Lines("ab\x1A" "cd\n"), (std::vector<std::string>{"ab", "cd\n"}));
  // At the start of the input it gives no line at all.
  EXPECT_EQ(Lines("\x1A" "SYSTEM=1\n", &last), std::vector<std::string>{});
  EXPECT_EQ(last, kLineNone);
  EXPECT_EQ(Lines(""), std::vector<std::string>{});
  EXPECT_EQ(Lines("\n\n"), (std::vector<std::string>{"\n", "\n"}));
  // A NUL byte is stored like any other.
  EXPECT_EQ(Lines(std::string("a\0b\n", 4)), (std::vector<std::string>{std::string("a\0b\n", 4)}));
}

TEST_F(LineReadTest, LongLinesComeBackWhole) {
  // Lines that span the reader's chunks and exceed any old line buffer.
  std::string a(600, 'a'), b(70000, 'b'), c(kMaxLineLength - 1, 'c');
  std::vector<std::string> got = Lines(a + "\n" + c + "\n" + "x\n");
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], a + "\n");
  EXPECT_EQ(got[1].size(), kMaxLineLength);
  EXPECT_EQ(got[1], c + "\n");
  EXPECT_EQ(got[2], "x\n");

  int last = 0;
  got = Lines("x\n" + std::string(kMaxLineLength, 'd') + "\n", &last);
  EXPECT_EQ(got, std::vector<std::string>{"x\n"});
  EXPECT_EQ(last, kLineTooLong);
  got = Lines(b, &last);
  EXPECT_EQ(last, kLineTooLong);
}

TEST_F(LineReadTest, ViewsAcrossChunkBoundaries) {
  // Lines placed so that their ends, a CR LF pair and a 0x1A fall on the
  // boundary of the reader's 64 KiB chunks.
  const size_t chunk = 64 * 1024;
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  };
  const std::string pad(chunk - 3, 'p');
  std::vector<Case> cases = {
      {pad + "\r\n" + "\nab\n", {pad + "\r\n", "\n", "ab\n"}},     // LF is the last byte
      {pad + "x\r\n" + "cd", {pad + "x\r\n", "cd"}},              // LF is the first byte after
      {pad + "xy\x1A" "ef\n", {pad + "xy", "ef\n"}},               // 0x1A is the last byte
      {pad + "xy" + std::string(chunk, 'q') + "\n", {}},          // too long, over two boundaries
      {pad + "\n" + std::string(chunk - 1, 'r'), {pad + "\n", std::string(chunk - 1, 'r')}},
  };
  for (size_t k = 0; k < cases.size(); ++k) {
    SCOPED_TRACE(k);
    int lastCopy = 0, lastView = 0;
    std::vector<std::string> copied = Lines(cases[k].bytes, &lastCopy);
    std::vector<std::string> viewed = Lines(cases[k].bytes, &lastView, true);
    EXPECT_EQ(viewed, copied);
    EXPECT_EQ(lastView, lastCopy);
    if (k == 3) {
      EXPECT_TRUE(copied.empty());
      EXPECT_EQ(lastCopy, kLineTooLong);
    } else {
      EXPECT_TRUE(copied == cases[k].lines);
      EXPECT_EQ(lastCopy, kLineNone);
    }
  }
}

TEST_F(LineReadTest, KeptLineSurvivesUntilTheNextRead) {
  // The kept line ends on the chunk boundary and a later one crosses it.
  std::string first = "A=" + std::string(64 * 1024 - 9, 'a') + "\r\n";  // 64 KiB - 5 bytes
  Open(first + "B=2\n" + "C=3\r\n");
  EXPECT_EQ(Get("A", 8), "0:aaaaaaa");
  EXPECT_EQ(Get("C"), "1");
  EXPECT_EQ(Get("X"), "1");
  EXPECT_EQ(Get("B"), "0:2\n");
  EXPECT_EQ(Get("X"), "1");
  EXPECT_EQ(Get("C"), "0:3");
  EXPECT_EQ(Get("C"), "2");
}

// Fails every read of a file handle.
class FailingReadEnv : public platform::EnvWrapper {
 public:
  FailingReadEnv() : EnvWrapper(platform::Env::Get()) {}
  long ReadFile(platform::FileHandle, void*, size_t) override { return -1; }
};

TEST_F(LineReadTest, FailedReadIsTheEndOfInput) {
  WriteFile("f.txt", "TYPE=SYSTEM\r\n");
  FailingReadEnv env;
  platform::Env::SetForTesting(&env);
  GetValueFn getter = nullptr;
  ASSERT_EQ(OpenTxtInput(4, Path("f.txt").c_str(), &getter, Collect), 0);
  EXPECT_EQ(getter("TYPE", nullptr, 0, Collect), kValueEnd);
  EXPECT_EQ(CloseTxtInput(Path("f.txt").c_str(), Collect), 0);
  platform::Env::SetForTesting(nullptr);
}

TEST_F(LineReadTest, KeyMatching) {
  Open(txttest::Crlf({"SYSTEM=1,2", "count=3", "COUNTER=4", "=5", "noequals", "MAP=6", "X=7"}));
  EXPECT_EQ(Get("COUNT"), "1");              // the line stays current
  EXPECT_EQ(Get("SYSTEMEX1"), "0:1,2");      // a leading part of the key matches
  EXPECT_EQ(Get("COUNT"), "0:3");            // any case
  EXPECT_EQ(Get("COUNT"), "1");              // COUNTER is not COUNT
  EXPECT_EQ(Get("COUNTER"), "0:4");
  EXPECT_EQ(Get("MAPID"), "0:5");            // an empty key matches anything
  EXPECT_EQ(Get("MAPID"), "1");              // no "=": no key
  EXPECT_EQ(Get(""), "0:noequals");          // the empty key takes the whole line
  EXPECT_EQ(Get("MAPID"), "0:6");
  EXPECT_EQ(Get("X"), "0:7");
  EXPECT_EQ(Get("X"), "2");
  EXPECT_EQ(Get("X"), "2");
}

// Code page 932 lead bytes.
class Cp932Env : public platform::EnvWrapper {
 public:
  Cp932Env() : EnvWrapper(platform::Env::Get()) {}
  bool IsLeadByte(unsigned char c) override { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
};

TEST_F(LineReadTest, KeysAndValuesWithHighBytes) {
  const std::string text = txttest::Crlf({"\x81KEY=1", "\x81KEY=2", "AB=5", "V=ab\x81", "\x81=x=3"});
  // Single-byte: the high byte is a character of its own and the rest folds.
  Open(text);
  EXPECT_EQ(Get("\x81kex"), "1");
  EXPECT_EQ(Get("\x81key"), "0:1");
  EXPECT_EQ(Get("\x81Key"), "0:2");
  EXPECT_EQ(Get("A\x81x"), "1");
  EXPECT_EQ(Get("AB"), "0:5");
  EXPECT_EQ(Get("V"), "0:ab\x81");
  EXPECT_EQ(Get("\x81"), "0:x=3");

  // Double-byte: "\x81K" is one character and is not folded; a character
  // of the key cut by the end of the line's key is left out of the match; a
  // lead byte takes the CR after it, so the value runs on to the LF.
  Cp932Env env;
  platform::Env::SetForTesting(&env);
  Open(text);
  EXPECT_EQ(Get("\x81key"), "1");
  EXPECT_EQ(Get("\x81KEy"), "0:1");
  EXPECT_EQ(Get("\x81Key"), "0:2");
  EXPECT_EQ(Get("A\x81x"), "0:5");
  EXPECT_EQ(Get("V"), "0:ab\x81\r\n");
  // The lead byte takes the "=" too: the key ends at the second one.
  EXPECT_EQ(Get("\x81"), "1");
  EXPECT_EQ(Get("\x81=X"), "0:3");
  platform::Env::SetForTesting(nullptr);
}

TEST_F(LineReadTest, SkippedLinesAndValues) {
  Open("# c\r\n\r\n\n   indented=1\r\n;x=2\r\n\tTAB=3\r\nA= lead and trail \r\nB=x\ry\r\nC=lf only\n");
  EXPECT_EQ(Get("\tTAB"), "0:3");  // a tab does not make a comment
  EXPECT_EQ(Get("A"), "0: lead and trail ");
  EXPECT_EQ(Get("B"), "0:x");
  EXPECT_EQ(Get("C"), "0:lf only\n");
}

TEST_F(LineReadTest, ValueEndsAtItsFirstCrWhereverItLies) {
  // A CR, NUL or high byte at every position of the first 16-byte blocks,
  // one line after another so that lines start at every buffer offset, and
  // then a line across the boundary of the reader's 64 KiB chunks.
  std::string text;
  std::vector<std::string> want;
  const char odd[] = {'\r', '\0', '\x81'};
  for (size_t pos = 0; pos < 40; ++pos) {
    const std::string v(pos, 'v');
    for (char c : odd) {
      text += "K=" + v + c + "w\r\n";
      want.push_back("0:" + (c == '\x81' ? v + "\x81w" : v));
    }
    text += "K=" + v + "\n";
    want.push_back("0:" + v + "\n");
  }
  text += "a\rb=1\r\n";  // a CR in the key: the value is still found
  want.push_back("0:1");
  text += "a\rb=2\r\n";  // no key: the line up to its first CR
  want.push_back("0:a");
  text += "#" + std::string(64 * 1024 - text.size() % (64 * 1024) - 8, 'p') + "\r\n";
  text += "K=abcdef\rgh\r\n";  // the chunk ends inside "abcdef"
  want.push_back("0:abcdef");
  Open(text);
  std::vector<std::string> got;
  for (size_t i = 0; i + 3 < want.size(); ++i) got.push_back(Get("K"));
  got.push_back(Get("a\rb"));
  got.push_back(Get(""));
  got.push_back(Get("K"));
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << "line " << i;
}

TEST_F(LineReadTest, ValueCutToBufferSize) {
  const std::string whole(kMaxLineLength - 4, 'v');  // with "K=" and CR LF: the longest line
  Open(txttest::Crlf({"K=abcdef", "K=abcdef", "K=" + whole}));
  EXPECT_EQ(Get("K", 4), "0:abc");
  EXPECT_EQ(Get("K", 1), "0:");
  std::string big = Get("K", static_cast<int>(kMaxLineLength) + 1);
  EXPECT_EQ(big.size(), whole.size() + 2);
  EXPECT_TRUE(big == "0:" + whole);
}

TEST_F(LineReadTest, CtrlZAtLineStartEndsTheInput) {
  Open("A=1\r\n\x1A" "B=2\r\n");
  EXPECT_EQ(Get("A"), "0:1");
  EXPECT_EQ(Get("B"), "2");
  EXPECT_EQ(Get("B"), "2");
}

TEST_F(LineReadTest, TooLongLineStopsWithMessage) {
  Open("A=1\r\nB=" + std::string(kMaxLineLength, 'x') + "\r\nC=3\r\n");
  EXPECT_EQ(Get("A"), "0:1");
  EXPECT_EQ(Get("B"), "-1");
  EXPECT_EQ(Messages(), (std::vector<Msg>{{100, "***ERROR: Line too long"}}));
  EXPECT_EQ(Get("C"), "-1");
  EXPECT_EQ(Messages().size(), 1u);
}

TEST_F(LineReadTest, OpenResetsStateAndReportsMissingFiles) {
  TxtState().lastItem = 7;
  TxtState().lastMapId = 9;
  Open(txttest::Crlf({"A=1", "B=2"}), 3);
  EXPECT_EQ(TxtState().version, 3);
  EXPECT_EQ(TxtState().fieldListOrdinal, -1);
  EXPECT_EQ(TxtState().lastMapId, 0);
  EXPECT_EQ(TxtState().lastCharMapId, 0);
  EXPECT_EQ(TxtState().lastItem, 7);
  // A line left current by the previous input is not seen by the next.
  EXPECT_EQ(Get("B"), "1");
  Open(txttest::Crlf({"B=new"}));
  EXPECT_EQ(Get("B"), "0:new");

  GetValueFn getter = nullptr;
  std::string missing = Path("missing.txt");
  EXPECT_EQ(OpenTxtInput(4, missing.c_str(), &getter, Collect), 9);
  EXPECT_EQ(OpenTxtInput(4, missing.c_str(), &getter, nullptr), 9);
  EXPECT_EQ(Messages(), (std::vector<Msg>{{100, "File \"" + missing + "\" not found."}}));
  EXPECT_EQ(CloseTxtInput(missing.c_str(), Collect), 0);
  EXPECT_EQ(Messages().size(), 1u);
}

// Opens nothing: the attributes exist but the open fails.
class FailingOpenEnv : public platform::EnvWrapper {
 public:
  FailingOpenEnv() : EnvWrapper(platform::Env::Get()) {}
  int OpenFile(const std::string&, platform::Access, platform::Disposition,
               platform::FileHandle* out) override {
    *out = platform::kInvalidHandle;
    return 5;
  }
};

TEST_F(LineReadTest, OpenFailureIsReported) {
  WriteFile("locked.txt", "A=1\r\n");
  FailingOpenEnv env;
  platform::Env::SetForTesting(&env);
  GetValueFn getter = nullptr;
  int rc = OpenTxtInput(4, Path("locked.txt").c_str(), &getter, Collect);
  platform::Env::SetForTesting(nullptr);
  EXPECT_EQ(rc, 9);
  EXPECT_EQ(Messages(), (std::vector<Msg>{{100, "Unable to open file " + Path("locked.txt")}}));
}

}  // namespace
