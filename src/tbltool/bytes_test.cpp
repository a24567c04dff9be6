// The byte mapping is a bijection on all 256 bytes, through the JSON text
// export writes and nlohmann reads back; characters outside it are refused.
#include "tbltool/bytes.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace tbltool {
namespace {

TEST(BytesTest, EveryByteHasOneCharacterAndComesBack) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::string body;
  AppendJsonText(&body, all);
  // What export writes is what a JSON reader reads.
  std::string text = nlohmann::json::parse("\"" + body + "\"").get<std::string>();
  std::string back;
  char32_t bad = 0;
  ASSERT_TRUE(TextToBytes(text, &back, &bad)) << CharName(bad);
  EXPECT_EQ(back, all);

  char buf[6 * 256];
  EXPECT_EQ(std::string(buf, PutJsonText(buf, all)), body);
  for (int b = 0; b < 256; ++b) {
    unsigned char again = 0;
    ASSERT_TRUE(CharToByte(ByteToChar(static_cast<unsigned char>(b)), &again));
    EXPECT_EQ(again, b);
  }
}

TEST(BytesTest, WindowsCodePageAndItsUndefinedBytes) {
  EXPECT_EQ(ByteToChar(0x80), U'\u20AC');
  EXPECT_EQ(ByteToChar(0x9F), U'\u0178');
  EXPECT_EQ(ByteToChar(0xE9), U'\u00E9');
  for (unsigned char b : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
    EXPECT_EQ(ByteToChar(b), static_cast<char32_t>(b));
  std::string s;
  AppendJsonText(&s, "a\"b\\c\x01\x7f\x81\x80\xe9");
  EXPECT_EQ(s, "a\\\"b\\\\c\\u0001\\u007f\\u0081\xE2\x82\xAC\xC3\xA9");
}

TEST(BytesTest, TextOutsideTheMappingIsRefused) {
  std::string out;
  char32_t bad = 0;
  EXPECT_FALSE(TextToBytes("a\xE4\xB8\xAD", &out, &bad));  // U+4E2D
  EXPECT_EQ(CharName(bad), "U+4E2D");
  EXPECT_FALSE(TextToBytes("\xC2\x80", &out, &bad));  // U+0080: 0x80 is the euro sign
  EXPECT_EQ(bad, U'\u0080');
  EXPECT_FALSE(TextToBytes("\xE2\x82", &out, &bad));  // cut short
  EXPECT_EQ(bad, 0xFFFFFFFFu);
  EXPECT_FALSE(TextToBytes("\xF0\x9F\x98\x80", &out, &bad));
  EXPECT_EQ(CharName(bad), "U+1F600");
}

TEST(BytesTest, Hexadecimal) {
  EXPECT_EQ(ToHex(std::string("\x00\xff\x1a", 3)), "00ff1a");
  std::string b;
  EXPECT_TRUE(FromHex("00FFa1", &b));
  EXPECT_EQ(b, std::string("\x00\xff\xa1", 3));
  EXPECT_FALSE(FromHex("abc", &b));
  EXPECT_FALSE(FromHex("zz", &b));
}

}  // namespace
}  // namespace tbltool
