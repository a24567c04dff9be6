// Tests of the record readers' helpers: the windowed subfield walk against
// the cursor walk, in a single-byte and a double-byte code page, the
// composed messages, and the lent value buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "qvdf/text/textstr.h"
#include "qvdf/text/txtreader_internal.h"
#include "qvdf/text/txtreader_test_util.h"

namespace {

using txtread::Subfields;

class Cp932Env : public platform::EnvWrapper {
 public:
  Cp932Env() : EnvWrapper(platform::Env::Get()) {}
  bool IsLeadByte(unsigned char c) override { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
};

// Every subfield of the walk as a string, with "|" after one that ended at
// a comma, until and including the first empty one at the end.
std::string Walk(std::string_view value) {
  Subfields sf(value);
  std::string out;
  for (size_t k = 0; k <= value.size() + 1; ++k) {
    std::string_view s = sf.Next();
    out += "[" + std::string(s) + "]";
    if (sf.EndedAtComma()) out += "|";
    if (s.data() + s.size() == value.data() + value.size()) break;
  }
  return out;
}

// The windowed walk hands out what the cursor walk over the terminated value
// finds, with the same end-at-comma answer and rest, past the end as well.
void ExpectWalksAgree() {
  static const unsigned char kPick[] = {'a', ',', ',', ' ', 0x81, 0xE0, 0x80, 0xFF};
  std::mt19937 rng(3);
  for (int round = 0; round < 3000; ++round) {
    std::string v(rng() % 200, 'a');
    const unsigned plain = rng() % 4;  // some values are mostly plain
    for (char& c : v)
      if (rng() % 4 >= plain) c = static_cast<char>(kPick[rng() % sizeof kPick]);
    Subfields sf(v);
    SubfieldCursor c = FirstSubfield(v.c_str());
    for (size_t k = 0; k < v.size() + 3; ++k, c = NextSubfield(c)) {
      std::string_view got = sf.Next();
      ASSERT_EQ(got.data(), c.start) << "round " << round << ", subfield " << k;
      ASSERT_EQ(got.size(), c.len) << "round " << round << ", subfield " << k;
      bool comma = c.start[c.len] == ',';
      ASSERT_EQ(sf.EndedAtComma(), comma);
      ASSERT_EQ(sf.Rest(), std::string_view(c.start + c.len + (comma ? 1 : 0)));
    }
  }
}

TEST(SubfieldsTest, AgreesWithTheCursorWalk) { ExpectWalksAgree(); }

TEST(SubfieldsTest, SeparatorsAroundTheWindowEdges) {
  EXPECT_EQ(Walk(""), "[]");
  EXPECT_EQ(Walk("a,,b,"), "[a]|[]|[b]|[]");
  const std::string a63(63, 'a');
  EXPECT_EQ(Walk(a63 + ",x"), "[" + a63 + "]|[x]");
  EXPECT_EQ(Walk(a63 + "b,x"), "[" + a63 + "b]|[x]");
  EXPECT_EQ(Walk(a63 + ",,x"), "[" + a63 + "]|[]|[x]");
  // Three windows, the middle one without a separator.
  const std::string b(150, 'b');
  EXPECT_EQ(Walk("1," + b + ",2"), "[1]|[" + b + "]|[2]");

  Subfields sf("12,34,5,6");
  sf.Next();
  EXPECT_EQ(sf.Rest(), "34,5,6");
  sf.Next();
  EXPECT_EQ(sf.Rest(), "5,6");
}

class SubfieldsDoubleByteTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::Env::SetForTesting(&env_); }
  void TearDown() override { platform::Env::SetForTesting(nullptr); }
  Cp932Env env_;
};

TEST_F(SubfieldsDoubleByteTest, AgreesWithTheCursorWalk) { ExpectWalksAgree(); }

TEST_F(SubfieldsDoubleByteTest, TrailBytesAcrossTheWindowEdge) {
  // The lead byte closes the first window and its trail "," opens the next.
  const std::string a63(63, 'a');
  EXPECT_EQ(Walk(a63 + "\x81,b,c"), "[" + a63 + "\x81,b]|[c]");
  // A plain window after a double-byte character still separates.
  const std::string c80(80, 'c');
  EXPECT_EQ(Walk("\x81," + c80 + ",d"), "[\x81," + c80 + "]|[d]");
  // A lead byte in the last place stands alone.
  EXPECT_EQ(Walk("x,\x81"), "[x]|[\x81]");
  EXPECT_EQ(Walk(a63 + "\x81"), "[" + a63 + "\x81]");
}

TEST(MsgTest, ComposesNumbersAndLongTexts) {
  txttest::Messages().clear();
  (txtread::Msg("   Add Field LIST ") << 12 << ": " << "NAME").Send(txttest::Collect, kLevelProgress);
  (txtread::Msg("n ") << 2147483647LL << " " << -2147483648LL << " " << 0).Send(txttest::Collect, kLevelDetail);
  // Longer than the stack buffer: the whole text, not a cut one.
  const std::string name(300, 'n');
  (txtread::Msg("      Field ") << 7 << ": " << name << "!").Send(txttest::Collect, kLevelDetail);
  (txtread::Msg("none") << 1).Send(nullptr, kLevelError);
  EXPECT_EQ(txttest::Messages(),
            (std::vector<txttest::Msg>{{40, "   Add Field LIST 12: NAME"},
                                       {20, "n 2147483647 -2147483648 0"},
                                       {20, "      Field 7: " + name + "!"}}));
}

TEST(ValueBufferTest, EveryLentBufferStartsEmpty) {
  {
    txtread::ValueBuffer a;
    std::strcpy(a.data(), "COUNT=9");
    EXPECT_EQ(a.view(), "COUNT=9");
  }
  txtread::ValueBuffer b;
  EXPECT_STREQ(b.c_str(), "");
  std::strcpy(b.data(), "held");
  // A nested buffer is another one: the outer value stays.
  txtread::ValueBuffer c;
  EXPECT_NE(c.data(), b.data());
  EXPECT_STREQ(c.c_str(), "");
  EXPECT_STREQ(b.c_str(), "held");
  EXPECT_EQ(b.size(), static_cast<int>(kMaxLineLength) + 1);
}

}  // namespace
