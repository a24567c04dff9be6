// The script reader: the header scan with its suffix, decoding through the
// value getter, the end-of-data line, and truncated or hostile scripts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "qvdf/resource/rc2.h"
#include "qvdf/resource/resource_test_support.h"

namespace {

using rctest::Recorded;

class Rc2ReaderTest : public rctest::ScratchTest {
 protected:
  void TearDown() override {
    CloseRc2Input("x", nullptr);
    ScratchTest::TearDown();
  }
  int Open(const std::string& script, int version = 4) {
    rctest::WriteAll(Path("in.rc2"), script);
    std::strcpy(carry_.szSuffix, "stale");
    getter_ = nullptr;
    return OpenRc2Input(version, Path("in.rc2").c_str(), &getter_, rctest::Record, &carry_);
  }
  // Value for key, "<other>" or "<end>".
  std::string Get(const char* key, int size = 256) {
    std::string buf(static_cast<size_t>(size), '\x7f');
    int rc = GetRc2Value(key, buf.data(), size, rctest::Record);
    if (rc == 1) return "<other>";
    if (rc == 2) return "<end>";
    if (rc == -1) return "<error>";
    EXPECT_EQ(rc, 0);
    return std::string(buf.c_str());
  }

  Rc2Carry carry_{};
  GetValueFn getter_ = nullptr;
};

TEST_F(Rc2ReaderTest, ReadsValuesUpToEndOfData) {
  ASSERT_EQ(Open("// header comment\r\n"
                 "_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n"
                 "//skipped comment\r\n"
                 "\"TYPE=SYSTEM\\r\\n\",\r\n"
                 "  \"NAME=\"\"A\"\" \\\\x\\r\\n\",\r\n"
                 "\"COUNT=2\\r\\n\",\r\n"
                 "0,\r\n"
                 "END\r\n"
                 "_ZELM_ITB_ENABLED_PRODUCTS_ RCDATA BEGIN\r\n"
                 "8L,0X0L\r\n0,0,0,0\r\nEND\r\n"),
            0);
  EXPECT_EQ(getter_, &GetRc2Value);
  EXPECT_STREQ(carry_.szSuffix, "");
  EXPECT_EQ(Get("COUNT"), "<other>");
  EXPECT_EQ(Get("type"), "SYSTEM");
  // An indented line keeps its blanks and is passed over like a blank line.
  EXPECT_EQ(Get("COUNT"), "2");
  EXPECT_EQ(Get(""), "<end>");
  EXPECT_EQ(Get(""), "<end>");
  EXPECT_EQ(CloseRc2Input("in.rc2", rctest::Record), 0);
  EXPECT_TRUE(Recorded().empty());
}

TEST_F(Rc2ReaderTest, DecodesQuotesAndBackslashes) {
  ASSERT_EQ(Open("x RCDATA\r\nBEGIN\r\n\t\"NAME=\"\"A\"\" \\\\x\\\\\\r\\n\",\r\n0,\r\n"), 0);
  std::string line;
  ASSERT_EQ(ReadRc2Line(&line, nullptr), 1);
  EXPECT_EQ(line, "\tNAME=\"A\" \\x\\\r\n");
  EXPECT_EQ(ReadRc2Line(&line, nullptr), 0);
  EXPECT_EQ(ReadRc2Line(&line, nullptr), 0);
  EXPECT_EQ(CloseRc2Input("in.rc2", rctest::Record), 0);
}

TEST_F(Rc2ReaderTest, ValuesEndAtTheirFirstCrWhateverTheLineHolds) {
  // Plain lines take a shorter road through the getter than lines with a
  // raw CR, a NUL or a high byte; every value must come out the same.
  std::string script = "_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n";
  script += "\"A=plain\\r\\n\",\r\n";
  script += "\"B=\\r\\n\",\r\n";                       // empty value
  script += "\"C=x\ry\\r\\n\",\r\n";                  // a raw CR inside the literal
  script += "\"D=n" + std::string(1, '\0') + "ul\\r\\n\",\r\n";  // a NUL ends the value
  script += "\"E=h\xE9igh=\\r\\n\",\r\n";             // a high byte, a second "="
  script += "\"F=lf only\\r\\n\",\n";                  // the script line ends in LF alone
  script += "\"G\\r\\n\",\r\n";                        // no "=": another key
  script += "0,\r\n";
  ASSERT_EQ(Open(script), 0);
  EXPECT_EQ(Get("A"), "plain");
  EXPECT_EQ(Get("B"), "");
  EXPECT_EQ(Get("C"), "x");
  EXPECT_EQ(Get("D"), "n");
  EXPECT_EQ(Get("E"), "h\xE9igh=");
  EXPECT_EQ(Get("F"), "lf only");
  EXPECT_EQ(Get("G"), "<other>");
  EXPECT_EQ(Get(""), "G");
  EXPECT_EQ(Get(""), "<end>");
}

TEST_F(Rc2ReaderTest, CommentReadsBackAsHashLine) {
  ASSERT_EQ(Open("_zelm_itb_table_ rcdata begin\r\n//abc\r\n0,\r\n"), 0);
  std::string line;
  ASSERT_EQ(ReadRc2Line(&line, nullptr), 1);
  EXPECT_EQ(line, "#abc\r\n");
}

TEST_F(Rc2ReaderTest, SuffixEndsAtWhiteSpaceAndIsLowerCase) {
  ASSERT_EQ(Open("  _ZELM_ITB_TABLE_Ab9\tRCDATA BEGIN\r\n0,\r\n"), 0);
  EXPECT_STREQ(carry_.szSuffix, "ab9");
  CloseRc2Input("in.rc2", nullptr);
  // Name alone on its line, RCDATA and BEGIN later.
  ASSERT_EQ(Open("_ZELM_ITB_TABLE_XY\r\nRCDATA\r\n\r\nBEGIN\r\n0,\r\n"), 0);
  EXPECT_STREQ(carry_.szSuffix, "xy");
  CloseRc2Input("in.rc2", nullptr);
  // A BEGIN before any RCDATA does not open the data.
  ASSERT_EQ(Open("BEGIN\r\n_ZELM_ITB_TABLE_ RCDATA\r\n\"A=1\\r\\n\",\r\nbegin\r\n\"B=2\\r\\n\",\r\n0,\r\n"), 0);
  EXPECT_EQ(Get("B"), "2");
}

TEST_F(Rc2ReaderTest, SuffixLimit) {
  std::string name127(127, 'q');
  ASSERT_EQ(Open("_ZELM_ITB_TABLE_" + name127 + " RCDATA BEGIN\r\n0,\r\n"), 0);
  EXPECT_EQ(std::string(carry_.szSuffix), name127);
  CloseRc2Input("in.rc2", nullptr);
  Recorded().clear();
  EXPECT_EQ(Open("_ZELM_ITB_TABLE_" + name127 + "q RCDATA BEGIN\r\n0,\r\n"), 4);
  ASSERT_EQ(Recorded().size(), 1u);
  EXPECT_EQ(Recorded()[0], std::make_pair(100, "Invalid resource name in rc2 file " + Path("in.rc2")));
  EXPECT_STREQ(carry_.szSuffix, "");
}

TEST_F(Rc2ReaderTest, LinesStartingWithTwoBackslashesAreIgnoredInHeader) {
  ASSERT_EQ(Open("\\\\ _ZELM_ITB_TABLE_no RCDATA BEGIN\r\n_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n"
                 "\"A=1\\r\\n\",\r\n0,\r\n"),
            0);
  EXPECT_STREQ(carry_.szSuffix, "");
  EXPECT_EQ(Get("A"), "1");
}

TEST_F(Rc2ReaderTest, MissingFileAndMissingHeader) {
  Rc2Carry carry{};
  std::strcpy(carry.szSuffix, "old");
  std::string missing = Path("nope.rc2");
  EXPECT_EQ(OpenRc2Input(3, missing.c_str(), &getter_, rctest::Record, &carry), 9);
  EXPECT_STREQ(carry.szSuffix, "");
  ASSERT_EQ(Recorded().size(), 1u);
  EXPECT_EQ(Recorded()[0], std::make_pair(100, "File \"" + missing + "\" not found."));

  Recorded().clear();
  EXPECT_EQ(Open("_ZELM_ITB_TABLE_ RCDATA\r\n\"A=1\\r\\n\",\r\n"), 6);
  ASSERT_EQ(Recorded().size(), 1u);
  EXPECT_EQ(Recorded()[0], std::make_pair(100, std::string("Premature end of source rc2 file ")));
}

TEST_F(Rc2ReaderTest, TruncatedScriptFailsAtClose) {
  ASSERT_EQ(Open("_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n\"A=1\\r\\n\",\r\n\"B=2"), 0);
  EXPECT_EQ(Get("A"), "1");
  EXPECT_EQ(Get("B"), "2");
  EXPECT_EQ(Get("C"), "<end>");
  EXPECT_EQ(Get("C"), "<end>");
  // Every read that meets the end of the file says so.
  const std::pair<int, std::string> premature(100, "Premature end of source rc2 file ");
  EXPECT_EQ(Recorded(), (std::vector<std::pair<int, std::string>>{premature, premature}));
  EXPECT_EQ(CloseRc2Input("in.rc2", nullptr), 6);
  // The next input starts clean.
  ASSERT_EQ(Open("_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n0,\r\n"), 0);
  EXPECT_EQ(Get("C"), "<end>");
  EXPECT_EQ(CloseRc2Input("in.rc2", nullptr), 0);
}

TEST_F(Rc2ReaderTest, LongLinesUpToTheLimit) {
  std::string big(60000, 'b');
  ASSERT_EQ(Open("_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n\"A=" + big + "\\r\\n\",\r\n\"B=0,\\r\\n\",\r\n0,\r\n"), 0);
  EXPECT_EQ(Get("A", 70000), big);
  EXPECT_EQ(Get("B"), "0,");
  EXPECT_EQ(CloseRc2Input("in.rc2", nullptr), 0);

  std::string huge(70 * 1024, 'h');
  Recorded().clear();
  ASSERT_EQ(Open("_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n\"A=1\\r\\n\",\r\n\"B=" + huge +
                 "\\r\\n\",\r\n\"C=0,\\r\\n\",\r\n0,\r\n"),
            0);
  EXPECT_EQ(Get("A"), "1");
  EXPECT_EQ(Get("B"), "<error>");
  EXPECT_EQ(Get("C"), "<end>");
  ASSERT_EQ(Recorded().size(), 1u);
  EXPECT_EQ(Recorded()[0], std::make_pair(100, std::string("***ERROR: Line too long")));
  EXPECT_EQ(CloseRc2Input("in.rc2", nullptr), 4);
}

// A script of several MiB is decoded ahead of the reader: every value and
// every way of ending must come out as they do for a small one.
TEST_F(Rc2ReaderTest, LargeScriptsEndAsSmallOnesDo) {
  constexpr int kLines = 60000;
  std::string body;
  for (int i = 0; i < kLines; ++i)
    body += "\"K=" + std::to_string(i) + ",\"\"q\"\"\\\\" + std::string(static_cast<size_t>(i % 50), 'v') +
            "\\r\\n\",\r\n";
  const std::string head = "_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n";
  auto expect = [](int i) {
    return std::to_string(i) + ",\"q\"\\" + std::string(static_cast<size_t>(i % 50), 'v');
  };

  ASSERT_EQ(Open(head + body + "0,\r\nEND\r\n"), 0);
  for (int i = 0; i < kLines; ++i) ASSERT_EQ(Get("K"), expect(i)) << i;
  EXPECT_EQ(Get("K"), "<end>");
  EXPECT_EQ(Get("K"), "<end>");
  EXPECT_EQ(CloseRc2Input("in.rc2", rctest::Record), 0);
  EXPECT_TRUE(Recorded().empty());

  // No end-of-data line: the end of the file, said at every read.
  ASSERT_EQ(Open(head + body), 0);
  for (int i = 0; i < kLines; ++i) ASSERT_EQ(Get("K"), expect(i)) << i;
  EXPECT_EQ(Get("K"), "<end>");
  EXPECT_EQ(Get("K"), "<end>");
  const std::pair<int, std::string> premature(100, "Premature end of source rc2 file ");
  EXPECT_EQ(Recorded(), (std::vector<std::pair<int, std::string>>{premature, premature}));
  EXPECT_EQ(CloseRc2Input("in.rc2", nullptr), 6);

  // A line too long deep inside: the values before it, then the failure.
  Recorded().clear();
  ASSERT_EQ(Open(head + body + "\"X=" + std::string(70 * 1024, 'h') + "\\r\\n\",\r\n" + body), 0);
  for (int i = 0; i < kLines; ++i) ASSERT_EQ(Get("K"), expect(i)) << i;
  EXPECT_EQ(Get("X"), "<error>");
  EXPECT_EQ(Get("K"), "<end>");
  EXPECT_EQ(Recorded(), (std::vector<std::pair<int, std::string>>{
                            {100, "***ERROR: Line too long"}}));
  EXPECT_EQ(CloseRc2Input("in.rc2", nullptr), 4);

  // Closed after a few values, with the rest still being read: the next
  // input starts clean.
  ASSERT_EQ(Open(head + body + "0,\r\n"), 0);
  EXPECT_EQ(Get("K"), expect(0));
  EXPECT_EQ(CloseRc2Input("in.rc2", nullptr), 0);
  ASSERT_EQ(Open(head + "\"Z=1\\r\\n\",\r\n0,\r\n"), 0);
  EXPECT_EQ(Get("Z"), "1");
  EXPECT_EQ(Get("Z"), "<end>");
}

TEST_F(Rc2ReaderTest, ValueCopyIsBoundedAndKeysNeedAnEqualsSign) {
  ASSERT_EQ(Open("_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n"
                 "\"NAME=abcdef\\r\\n\",\r\n"
                 "\"NOEQUALS\\r\\n\",\r\n"
                 "0,\r\n"),
            0);
  EXPECT_EQ(Get("NAME", 4), "abc");
  // No "=": no key, whatever is asked; the line stays.
  EXPECT_EQ(Get("NOEQUALS"), "<other>");
  EXPECT_EQ(Get("N"), "<other>");
  EXPECT_EQ(Get(""), "NOEQUALS");
  EXPECT_EQ(Get(""), "<end>");
}

TEST_F(Rc2ReaderTest, KeyComparedOverTheLinesKeyLength) {
  ASSERT_EQ(Open("_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n"
                 "\"map=1\\r\\n\",\r\n\"COUNTER=2\\r\\n\",\r\n\"=3\\r\\n\",\r\n0,\r\n"),
            0);
  EXPECT_EQ(Get("MAPID"), "1");
  EXPECT_EQ(Get("COUNT"), "<other>");
  EXPECT_EQ(Get("COUNTER"), "2");
  EXPECT_EQ(Get("ANY"), "3");
}

TEST_F(Rc2ReaderTest, ValueEndsAtItsFirstCarriageReturnOrNul) {
  // A CR or NUL at every position of a value longer than two words.
  const std::string value = "0123456789abcdefghij";
  std::string script = "_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n";
  for (size_t pos = 0; pos < value.size(); ++pos) {
    for (char stop : {'\r', '\0'}) {
      std::string v = value;
      v[pos] = stop;
      script += "\"V=" + v + "\\r\\n\",\r\n";
    }
  }
  ASSERT_EQ(Open(script + "0,\r\n"), 0);
  for (size_t pos = 0; pos < value.size(); ++pos) {
    ASSERT_EQ(Get("V"), value.substr(0, pos)) << pos;
    ASSERT_EQ(Get("V"), value.substr(0, pos)) << pos;
  }
  EXPECT_EQ(Get("V"), "<end>");
}

TEST_F(Rc2ReaderTest, NulBeforeTheEqualsSignLeavesNoKey) {
  std::string line = "\"KX=1\\r\\n\",\r\n";
  line[2] = '\0';
  ASSERT_EQ(Open("_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n" + line + "0,\r\n"), 0);
  EXPECT_EQ(Get("K"), "<other>");
  EXPECT_EQ(Get(""), "K");
}

// Shift-JIS lead bytes for the value getter.
class LeadEnv : public platform::EnvWrapper {
 public:
  LeadEnv() : EnvWrapper(platform::DefaultEnv()) {}
  bool IsLeadByte(unsigned char c) override { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
};

TEST_F(Rc2ReaderTest, DoubleByteValuesAreNeitherCutAtATrailByteNorSplit) {
  LeadEnv env;
  rctest::ScopedEnv scoped(&env);
  // 0x83 0x0D is one character: its trail byte does not end the value.
  ASSERT_EQ(Open("_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n"
                 "\"A=xy\x83\rz\rw\\r\\n\",\r\n"
                 "\"B=ab\x83\x41" "cd\\r\\n\",\r\n"
                 "\"B=ab\x83\x41" "cd\\r\\n\",\r\n"
                 "\"\x83=1\\r\\n\",\r\n"
                 "0,\r\n"),
            0);
  EXPECT_EQ(Get("A"), "xy\x83\rz");
  // Room for three bytes cuts before the double-byte character, not inside.
  EXPECT_EQ(Get("B", 4), "ab");
  EXPECT_EQ(Get("B", 5), "ab\x83\x41");
  // The "=" is the trail byte of the line's first character: no key.
  EXPECT_EQ(Get("X"), "<other>");
  EXPECT_EQ(Get(""), "\x83=1");
}

TEST_F(Rc2ReaderTest, KeysWithHighBytesInASingleByteCodePage) {
  ASSERT_EQ(Open("_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n"
                 "\"\xC4X=1\\r\\n\",\r\n\"\xC4X=2\\r\\n\",\r\n\"Key=3\\r\\n\",\r\n0,\r\n"),
            0);
  // Case folds ASCII letters only.
  EXPECT_EQ(Get("\xE4X"), "<other>");
  EXPECT_EQ(Get("\xC4x"), "1");
  EXPECT_EQ(Get("\xC4"), "<other>");
  EXPECT_EQ(Get("\xC4XY"), "2");
  EXPECT_EQ(Get("KEY"), "3");
}

}  // namespace

