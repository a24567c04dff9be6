// Tests of the string primitives and number conversions, in a single-byte
// and in a double-byte code page.
#include "qvdf/text/textstr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "testenv.h"

namespace {

// The shared test environment in code page 932.
class DoubleByteTest : public ::testing::Test {
 protected:
  void SetUp() override { env_.SetCodePage(932); }
  testenv::TestEnv env_;
};

// Lead byte 0x81 with trail bytes that equal "," and "^".
const char kLeadComma[] = "\x81,";
const char kLeadCaret[] = "\x81^";

// Bytes drawn mostly from those the scans stop at or step over: the
// delimiters, NUL, lead bytes of code page 932 and high bytes that are not.
std::string RandomBytes(std::mt19937& rng, size_t n) {
  static const unsigned char kPick[] = {'a',  'Z',  ',',  ',',  '\r', '=', ' ',
                                        0x81, 0x9F, 0xE0, 0x80, 0xFF, 0x00};
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(kPick[rng() % sizeof kPick]);
  return s;
}

// TxtSpanN over n bytes gives what TxtSpan gives over the same bytes with a
// NUL after them, for every length around the 8- and 16-byte steps.
void ExpectBoundedSpansAgree() {
  std::mt19937 rng(7);
  for (int round = 0; round < 5000; ++round) {
    std::string s = RandomBytes(rng, rng() % 70);
    if (round % 2 == 0)  // long plain runs reach the word-wide steps
      for (size_t i = 0; i < s.size(); ++i)
        if (rng() % 8 != 0) s[i] = 'p';
    for (char d : {',', '\r', '='}) {
      const char delims[2] = {d, '\0'};
      ASSERT_EQ(TxtSpanN(s.data(), s.size(), d), TxtSpan(s.c_str(), delims))
          << "round " << round << ", delimiter " << static_cast<int>(d);
    }
  }
}

std::string Take(SubfieldCursor c) {
  char work[64];
  return TakeSubfield(c, work, sizeof work);
}

TEST(ParseDecimalTest, FoldsEveryByteWithoutDigitCheck) {
  EXPECT_EQ(ParseDecimal("12"), 12);
  EXPECT_EQ(ParseDecimal("+12"), 12);
  EXPECT_EQ(ParseDecimal(" \t-12"), -12);
  EXPECT_EQ(ParseDecimal("-0"), 0);
  EXPECT_EQ(ParseDecimal(""), 0);
  EXPECT_EQ(ParseDecimal("-"), 0);
  // A trailing blank folds in: 2*10 + (32-48).
  EXPECT_EQ(ParseDecimal("2 "), 4);
  EXPECT_EQ(ParseDecimal("3 "), 14);
  // Blanks are skipped only before the sign.
  EXPECT_EQ(ParseDecimal("- 1"), -((32 - 48) * 10 + 1));
  EXPECT_EQ(ParseDecimal("a"), 49);
}

TEST(ParseDecimalTest, WrapsIn32Bits) {
  EXPECT_EQ(ParseDecimal("2147483647"), 2147483647);
  EXPECT_EQ(ParseDecimal("2147483648"), INT32_MIN);
  EXPECT_EQ(ParseDecimal("4294967295"), -1);
  EXPECT_EQ(ParseDecimal("4294967297"), 1);
  // Longer than the 15 characters a work buffer once held: converted whole.
  EXPECT_EQ(ParseDecimal("0000000000000000000042"), 42);
  EXPECT_EQ(ParseDecimal("18446744073709551617"), 1);
  // A high byte counts as a negative number.
  EXPECT_EQ(ParseDecimal("1\xff"), 10 + (-1 - 48));
}

TEST(ParseDecimalTest, MeasuredTextEndsAtItsLength) {
  const char digits[] = "123456";
  EXPECT_EQ(ParseDecimal(std::string_view(digits, 3)), 123);
  EXPECT_EQ(ParseDecimal(std::string_view(digits, 0)), 0);
  EXPECT_EQ(ParseDecimal(std::string_view(" -42,7", 4)), -42);
  EXPECT_EQ(ParseDecimal(std::string_view("2 ,", 2)), 4);  // the blank folds in
  EXPECT_EQ(ParseDecimal(std::string_view("12\0"
                                          "34",
                                          5)),
            12);  // a NUL ends it
  EXPECT_EQ(ParseDecimal(std::string_view("4294967297,", 10)), 1);
  EXPECT_EQ(ParseHex(std::string_view("0x1f", 1)), 0);
  EXPECT_EQ(ParseHex(std::string_view("0x1f", 2)), 0);  // the prefix alone
  EXPECT_EQ(ParseHex(std::string_view("0x1f,9", 4)), 31);
  EXPECT_EQ(ParseHex(std::string_view("-0Xff", 5)), -255);
  EXPECT_EQ(ParseHex(std::string_view("8 ", 2)), 8 * 16 + (32 - 87));
  // Any byte folds in by the same arithmetic: letters past f in either
  // case, punctuation, and bytes from 0x80 taken as negative.
  EXPECT_EQ(ParseHex("Gz"), 16 * 16 + 35);
  EXPECT_EQ(ParseHex("1:"), 16 + (58 - 87));
  EXPECT_EQ(ParseHex("\xFF"
                     "0"),
            (-1 - 87) * 16);
  EXPECT_EQ(ParseHex("0XdeadBEEF"), static_cast<int32_t>(0xDEADBEEFu));
}

TEST(ParseHexTest, PrefixCaseAndSign) {
  EXPECT_EQ(ParseHex("0X1f"), 31);
  EXPECT_EQ(ParseHex("0x1F"), 31);
  EXPECT_EQ(ParseHex("1f"), 31);
  EXPECT_EQ(ParseHex("-10"), -16);
  EXPECT_EQ(ParseHex(" +ff"), 255);
  EXPECT_EQ(ParseHex("FFFFFFFF"), -1);
  EXPECT_EQ(ParseHex("100000001"), 1);
  EXPECT_EQ(ParseHex(""), 0);
  EXPECT_EQ(ParseHex("0x"), 0);
  // No digit check: "g" is 103 - 87 = 16.
  EXPECT_EQ(ParseHex("g"), 16);
  EXPECT_EQ(ParseHex("8 "), 8 * 16 + (32 - 87));
}

TEST(ParseStandardTest, StopsAtFirstNonDigit) {
  EXPECT_EQ(ParseStandard("12x"), 12);
  EXPECT_EQ(ParseStandard(" \r\n-7 "), -7);
  EXPECT_EQ(ParseStandard("+3\n"), 3);
  EXPECT_EQ(ParseStandard("x1"), 0);
  EXPECT_EQ(ParseStandard(""), 0);
  EXPECT_EQ(ParseStandard("99999999999"), INT32_MAX);
  EXPECT_EQ(ParseStandard("-99999999999"), INT32_MIN);
}

TEST(CopyUnquotedTest, Quotes) {
  char out[32];
  EXPECT_STREQ(CopyUnquoted(out, "\"", 1), "");
  EXPECT_STREQ(CopyUnquoted(out, "\"\"", 2), "");
  EXPECT_STREQ(CopyUnquoted(out, "\"abc\"", 5), "abc");
  EXPECT_STREQ(CopyUnquoted(out, "\"abc", 4), "abc");
  EXPECT_STREQ(CopyUnquoted(out, "abc\"", 4), "abc\"");
  EXPECT_STREQ(CopyUnquoted(out, "a\"b", 3), "a\"b");
  // Only the subfield's bytes are taken, not what follows it.
  EXPECT_STREQ(CopyUnquoted(out, "\"ab\",x", 4), "ab");
  EXPECT_STREQ(CopyUnquoted(out, "xyz", 0), "");
}

TEST(SubfieldTest, WalkPastTheEndGivesEmptySubfields) {
  const char* v = "1,,abc";
  SubfieldCursor c = FirstSubfield(v);
  EXPECT_EQ(Take(c), "1");
  c = NextSubfield(c);
  EXPECT_EQ(Take(c), "");
  c = NextSubfield(c);
  EXPECT_EQ(Take(c), "abc");
  c = NextSubfield(c);
  EXPECT_EQ(Take(c), "");
  EXPECT_EQ(c.start, v + 6);
  c = NextSubfield(c);
  EXPECT_EQ(Take(c), "");
  // A trailing comma gives one empty subfield, then the end.
  c = NextSubfield(FirstSubfield("x,"));
  EXPECT_EQ(c.len, 0u);
  EXPECT_EQ(*c.start, '\0');
}

TEST(SubfieldTest, TakeCutsToCapacity) {
  char work[4];
  EXPECT_STREQ(TakeSubfield(FirstSubfield("abcdef,g"), work, sizeof work), "abc");
  EXPECT_STREQ(TakeSubfield(FirstSubfield("ab,g"), work, sizeof work), "ab");
}

TEST(StringPrimitivesTest, SingleByte) {
  const char* s = "abcabc";
  EXPECT_EQ(TxtFindSubstring(s, "ca"), s + 2);
  EXPECT_EQ(TxtFindSubstring(s, "cx"), nullptr);
  EXPECT_EQ(TxtFindSubstring(s, ""), s);
  EXPECT_EQ(TxtFindChar(s, 'c'), s + 2);
  EXPECT_EQ(TxtFindChar(s, 'z'), nullptr);
  EXPECT_EQ(TxtFindChar(s, 0), s + 6);
  EXPECT_EQ(TxtSpan("ab,c", ","), 2u);
  EXPECT_EQ(TxtSpan("abc", ","), 3u);
  EXPECT_EQ(TxtSpan("abc", ""), 3u);

  EXPECT_EQ(TxtCompareN("abc", "abd", 2), 0);
  EXPECT_LT(TxtCompareN("abc", "abd", 3), 0);
  EXPECT_GT(TxtCompareN("b", "a", 5), 0);
  EXPECT_LT(TxtCompareN("ab", "abc", 5), 0);
  EXPECT_NE(TxtCompareN("ABC", "abc", 3), 0);
  EXPECT_EQ(TxtCompareNoCaseN("count=3", "COUNT", 5), 0);
  EXPECT_NE(TxtCompareNoCaseN("COUNTER=3", "COUNT", 7), 0);
  EXPECT_EQ(TxtCompareNoCaseN("SYSTEM=1", "SYSTEMEX1", 6), 0);
  EXPECT_EQ(TxtCompareNoCaseN("=1", "MAP", 0), 0);
  EXPECT_GT(TxtCompareNoCaseN("\xe4", "\xc4", 1), 0);  // no folding beyond ASCII
}

TEST(StringPrimitivesTest, BoundedSpan) {
  ExpectBoundedSpansAgree();
  const std::string s = std::string(20, 'a') + ",b";
  EXPECT_EQ(TxtSpanN(s.data(), s.size(), ','), 20u);
  EXPECT_EQ(TxtSpanN(s.data(), 19, ','), 19u);  // the range ends first
  EXPECT_EQ(TxtSpanN(s.data(), 0, ','), 0u);
  EXPECT_EQ(TxtSpanN("ab\0,", 4, ','), 2u);
  EXPECT_EQ(TxtSpanN("x\r\n", 3, '\r'), 1u);
  // A high byte that no code page here leads with is one character.
  EXPECT_EQ(TxtSpanN("\x81,\x81,", 4, ','), 1u);
}

TEST(StringPrimitivesTest, TokenizeOverwritesDelimiter) {
  char s[] = ",,12,34,,5 6";
  char* save = nullptr;
  char* t = TxtTokenize(s, ",", &save);
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t, "12");
  EXPECT_STREQ(TxtTokenize(nullptr, ",", &save), "34");
  EXPECT_STREQ(TxtTokenize(nullptr, "", &save), ",5 6");
  EXPECT_EQ(TxtTokenize(nullptr, ",", &save), nullptr);
  char cr[] = "abc\r\n";
  EXPECT_STREQ(TxtTokenize(cr, "\r", &save), "abc");
  char empty[] = ",,";
  EXPECT_EQ(TxtTokenize(empty, ",", &save), nullptr);
}

TEST(StringPrimitivesTest, CopyNFillsWithNul) {
  char d[6];
  std::memset(d, 'x', sizeof d);
  TxtCopyN(d, "ab", 5);
  EXPECT_EQ(std::string(d, 6), std::string("ab\0\0\0x", 6));
  TxtCopyN(d, "abcdefg", 5);
  EXPECT_EQ(std::string(d, 6), std::string("abcdex", 6));
}

TEST(StringPrimitivesTest, TrimLeading) {
  char a[] = " \t\r\n\v\fx y ";
  TrimLeading(a);
  EXPECT_STREQ(a, "x y ");
  char b[] = "   ";
  TrimLeading(b);
  EXPECT_STREQ(b, "   ");  // nothing remains: left as it was
  char c[] = "x";
  TrimLeading(c);
  EXPECT_STREQ(c, "x");
}

TEST_F(DoubleByteTest, TrailBytesAreNotSeparators) {
  std::string v = std::string("a") + kLeadComma + "b,c";
  SubfieldCursor c = FirstSubfield(v.c_str());
  EXPECT_EQ(Take(c), std::string("a") + kLeadComma + "b");
  EXPECT_EQ(Take(NextSubfield(c)), "c");
  EXPECT_EQ(TxtSpan(v.c_str(), ","), 4u);
  EXPECT_EQ(TxtSpan(v.c_str(), ";,"), 4u);
  EXPECT_EQ(TxtSpan(v.c_str(), "b"), 3u);

  std::string caret = std::string(kLeadCaret) + "^";
  EXPECT_EQ(TxtFindChar(caret.c_str(), '^'), caret.c_str() + 2);
  EXPECT_EQ(TxtFindChar(kLeadCaret, '^'), nullptr);
  EXPECT_EQ(TxtFindSubstring(kLeadCaret, "^"), nullptr);
  EXPECT_EQ(TxtFindSubstring(caret.c_str(), "^"), caret.c_str() + 2);

  std::string tok = std::string(kLeadComma) + ",x";
  char* save = nullptr;
  EXPECT_STREQ(TxtTokenize(tok.data(), ",", &save), kLeadComma);
  EXPECT_STREQ(TxtTokenize(nullptr, ",", &save), "x");
}

TEST_F(DoubleByteTest, BoundedSpanSkipsTrailBytes) {
  ExpectBoundedSpansAgree();
  // A trail byte equal to the delimiter where the 8- and 16-byte steps end.
  for (size_t lead : {6u, 7u, 8u, 14u, 15u, 16u, 30u}) {
    std::string s = std::string(lead, 'a') + kLeadComma + std::string(20, 'b') + ",";
    EXPECT_EQ(TxtSpanN(s.data(), s.size(), ','), s.size() - 1) << lead;
  }
  // Plain bytes after a double-byte character are still searched.
  std::string t = std::string(kLeadComma) + std::string(40, 'c') + "=d";
  EXPECT_EQ(TxtSpanN(t.data(), t.size(), '='), 42u);
  // A lead byte in the last place stands alone; one before a NUL too.
  const char u[] = "ab\x81,";
  EXPECT_EQ(TxtSpanN(u, 3, ','), 3u);
  EXPECT_EQ(TxtSpanN(u, 4, ','), 4u);
  EXPECT_EQ(TxtSpanN("\x81\0,", 3, ','), 1u);
}

TEST_F(DoubleByteTest, NeverSplitsACharacter) {
  char work[3];
  std::string v = std::string("a") + kLeadCaret;
  EXPECT_STREQ(TakeSubfield(FirstSubfield(v.c_str()), work, sizeof work), "a");

  char d[4];
  std::memset(d, 'x', sizeof d);
  TxtCopyN(d, v.c_str(), 2);
  EXPECT_EQ(std::string(d, 4), std::string("a\0xx", 4));

  // A lead byte right before the end stands alone.
  EXPECT_EQ(TxtSpan("a\x81", ","), 2u);
  const char lone[] = "\x81";
  EXPECT_EQ(TxtFindChar(lone, 0x81), lone);

  // Upper-case letters inside a double-byte character are not folded, and a
  // character that does not fit within n is not compared.
  EXPECT_NE(TxtCompareNoCaseN("\x81"
                              "A",
                              "\x81"
                              "a",
                              2),
            0);
  EXPECT_EQ(TxtCompareN("x\x81"
                        "A",
                        "x\x81"
                        "B",
                        2),
            0);

  // White space after a lead byte is a trail byte, not white space.
  char t[] = " \x81 x";
  TrimLeading(t);
  EXPECT_STREQ(t, "\x81 x");
}

}  // namespace
