// Single-line conversions between text-table lines and script literals.
#include "qvdf/resource/rc2line.h"

#include <gtest/gtest.h>

#include <string>

#include "testenv.h"

namespace {

std::string Script(const std::string& txt) {
  std::string out;
  AppendRc2ScriptLine(txt, &out);
  return out;
}

// Decoded text, or "<end>" for the end-of-data line.
// The line is appended: what the buffer held stays in front of it.
std::string Text(const std::string& raw) {
  const std::string kept = "<kept>";
  std::string out = kept;
  if (!DecodeRc2ScriptLine(raw, &out)) return out == kept ? "<end>" : "<end, buffer changed>";
  return out.compare(0, kept.size(), kept) == 0 ? out.substr(kept.size()) : "<buffer lost>";
}

TEST(Rc2ScriptLine, DataLinesBecomeEscapedLiterals) {
  EXPECT_EQ(Script("TYPE=SYSTEM\r\n"), "\"TYPE=SYSTEM\\r\\n\",\r\n");
  EXPECT_EQ(Script("NAME=a\"b\\c\r\n"), "\"NAME=a\"\"b\\\\c\\r\\n\",\r\n");
  EXPECT_EQ(Script("X=1"), "\"X=1\\r\\n\",\r\n");
  EXPECT_EQ(Script("X=1\n"), "\"X=1\\r\\n\",\r\n");
  EXPECT_EQ(Script("  \tX=1\r\n"), "  \t\"X=1\\r\\n\",\r\n");
  EXPECT_EQ(Script("\"\"\r\n"), "\"\"\"\"\"\\r\\n\",\r\n");
}

TEST(Rc2ScriptLine, CommentsAndEmptyLines) {
  EXPECT_EQ(Script("#---\r\n"), "//---\r\n");
  EXPECT_EQ(Script(";note\n"), "//note\r\n");
  EXPECT_EQ(Script("#\r\n"), "//\r\n");
  EXPECT_EQ(Script("\r\n"), "");
  EXPECT_EQ(Script("\n"), "");
  EXPECT_EQ(Script(""), "");
  // Only a first "#" or ";" makes a comment.
  EXPECT_EQ(Script(" #x\r\n"), " \"#x\\r\\n\",\r\n");
}

TEST(Rc2ScriptLine, DecodesLiteralsAndComments) {
  EXPECT_EQ(Text("\"TYPE=SYSTEM\\r\\n\",\r\n"), "TYPE=SYSTEM\r\n");
  EXPECT_EQ(Text("\"NAME=a\"\"b\\\\c\\r\\n\",\r\n"), "NAME=a\"b\\c\r\n");
  EXPECT_EQ(Text("\t \"X=1\\r\\n\",\n"), "\t X=1\r\n");
  EXPECT_EQ(Text("//abc\r\n"), "#abc\r\n");
  EXPECT_EQ(Text("//\r\n"), "#\r\n");
  EXPECT_EQ(Text("  //x/y\r\n"), "# /x/y\r\n");
  // Without a terminator the line is taken whole.
  EXPECT_EQ(Text("\"X=1\r\n"), "X=1\r\n");
  EXPECT_EQ(Text("END\r\n"), "END\r\n");
  EXPECT_EQ(Text("\r\n"), "\r\n");
}

TEST(Rc2ScriptLine, EndOfDataLine) {
  EXPECT_EQ(Text("0,\r\n"), "<end>");
  EXPECT_EQ(Text("   0,"), "<end>");
  EXPECT_EQ(Text("0,0,0,0\r\n"), "<end>");
  // A "0," inside the literal is data.
  EXPECT_EQ(Text("\"MAP=0,0,1\\r\\n\",\r\n"), "MAP=0,0,1\r\n");
  EXPECT_EQ(Text("//0,\r\n"), "#0,\r\n");
}

TEST(Rc2ScriptLine, RoundTripsTrickyText) {
  const char* lines[] = {
      "NAME=\"quoted\"", "PATH=C:\\dir\\", "A=\\r\\n\",",   "B=\"\",\"\"", "C=0,",
      "\\\\server",      "D=\\\"",         "E=x\\r\\n\",y", "=",           "\tTAB=1",
      "F=//not comment", "G=\"",
  };
  for (const char* line : lines) {
    std::string txt = std::string(line) + "\r\n";
    EXPECT_EQ(Text(Script(txt)), txt) << line;
  }
}

TEST(Rc2ScriptLine, DoubleByteCharactersPassWhole) {
  testenv::TestEnv env;
  env.SetCodePage(932);
  // 0x83 0x5C is one character; the backslash after it is a real one.
  const std::string txt = "A=\x83\x5C\x5C\r\n";
  const std::string script = "\"A=\x83\x5C\x5C\x5C\\r\\n\",\r\n";
  EXPECT_EQ(Script(txt), script);
  EXPECT_EQ(Text(script), txt);
  // A lead byte at the very end has no trail byte to take.
  EXPECT_EQ(Script("B=\x83\r\n"), "\"B=\x83\\r\\n\",\r\n");
  EXPECT_EQ(Text("\"B=\x83\\r\\n\",\r\n"), "B=\x83\r\n");
}

// A quote or backslash at every position of lines of every length around
// the eight-byte steps the conversions take.
TEST(Rc2ScriptLine, EscapesAtEveryPositionOfEveryLength) {
  for (size_t len = 1; len <= 26; ++len) {
    for (size_t pos = 0; pos < len; ++pos) {
      for (char c : {'"', '\\'}) {
        std::string text(len, 'a');
        text[pos] = c;
        std::string literal = text;
        literal.insert(pos, 1, c);
        const std::string script = "\"" + literal + "\\r\\n\",\r\n";
        ASSERT_EQ(Script(text + "\r\n"), script) << len << " " << pos;
        ASSERT_EQ(Text(script), text + "\r\n") << len << " " << pos;
      }
    }
  }
  // Two escapes in one step, and a run of them.
  EXPECT_EQ(Script("AB\"C\\D\"EFGH\r\n"), "\"AB\"\"C\\\\D\"\"EFGH\\r\\n\",\r\n");
  EXPECT_EQ(Text(std::string(17, '"') + "\\r\\n\",\r\n"), std::string(8, '"') + "\r\n");
}

TEST(Rc2ScriptLine, TheFirstCarriageReturnOrLineFeedEndsTheLine) {
  for (size_t pos = 0; pos < 20; ++pos) {
    for (char end : {'\r', '\n'}) {
      std::string text = "K=" + std::string(18, 'v');
      std::string line = text;
      line[pos] = end;
      line += "tail\r\n";
      const std::string kept = text.substr(0, pos);
      ASSERT_EQ(Script(line), pos == 0 ? "" : "\"" + kept + "\\r\\n\",\r\n") << pos;
    }
  }
  EXPECT_EQ(Script("#comment\rmore\n"), "//comment\r\n");
  EXPECT_EQ(Script(";x\ny\r\n"), "//x\r\n");
}

TEST(Rc2ScriptLine, NulAndHighBytesAreDataInBothDirections) {
  testenv::TestEnv env;
  env.SetCodePage(1252);
  const std::string text("N=\xE9\xFF\x80quoted\"\xA5\\\0\x01zz\r\n", 20);
  const std::string script("\"N=\xE9\xFF\x80quoted\"\"\xA5\\\\\0\x01zz\\r\\n\",\r\n", 29);
  EXPECT_EQ(Script(text), script);
  EXPECT_EQ(Text(script), text);
  // A NUL ends the part tested for the end-of-data line, not the text.
  EXPECT_EQ(Text(std::string(" \0 0,\r\n", 7)), std::string(" \0 0,\r\n", 7));
  EXPECT_EQ(Text(std::string("0,\0\r\n", 5)), "<end>");
}

// Lead bytes on both sides of an eight-byte step.
TEST(Rc2ScriptLine, DoubleByteCharactersAcrossWordEdges) {
  testenv::TestEnv env;
  env.SetCodePage(932);
  for (size_t pos = 0; pos < 12; ++pos) {
    // 0x83 0x5C then a real backslash and a quote.
    std::string text = "A=" + std::string(pos, 'x') + "\x83\x5C\\\"yyyyyyyy";
    std::string literal = "A=" + std::string(pos, 'x') + "\x83\x5C\\\\\"\"yyyyyyyy";
    const std::string script = "\"" + literal + "\\r\\n\",\r\n";
    ASSERT_EQ(Script(text + "\r\n"), script) << pos;
    ASSERT_EQ(Text(script), text + "\r\n") << pos;
  }
  // A lead byte right before the line end stands alone.
  EXPECT_EQ(Script("C=12345678\x83\rX\r\n"), "\"C=12345678\x83\\r\\n\",\r\n");
}

}  // namespace
