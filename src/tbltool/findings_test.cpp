// Reader messages made findings, and findings printed and ordered.
#include "tbltool/findings.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace tbltool {
namespace {

std::string From(int level, const std::string& text, bool current = false,
                 const std::string& line = "", bool atEnd = false) {
  ReaderMessage m;
  m.level = level;
  m.text = text;
  m.file = "t.txt";
  m.line = 12;
  m.hasCurrent = current;
  m.current = line;
  m.atEnd = atEnd;
  return FormatFinding(FromReaderMessage(m));
}

TEST(FindingsTest, ReaderMessagesReadAsFindings) {
  EXPECT_EQ(From(100, "***ERROR: Expected SYSTEM record", true, "SYSTME=1"),
            "t.txt:12: error: expected SYSTEM record, found \"SYSTME=1\"");
  EXPECT_EQ(From(100, "***ERROR: Expected MAP record", false, "", true),
            "t.txt:12: error: expected MAP record, found the end of the data");
  EXPECT_EQ(From(80, "***WARNING: Invalid section ID reset to 1."),
            "t.txt:12: warning: invalid section ID reset to 1");
  EXPECT_EQ(From(80, "***ERROR: System name ABC truncated"),
            "t.txt:12: warning: system name ABC truncated");
  EXPECT_EQ(From(100, "***ERROR: CharMap ID out of sequence"),
            "t.txt:12: error: CharMap ID out of sequence");
  EXPECT_EQ(From(100, "***Error: System 7 is undefined"), "t.txt:12: error: system 7 is undefined");
  EXPECT_EQ(From(80, "Missing field mapping code, using zero."),
            "t.txt:12: warning: missing field mapping code, using zero");
  EXPECT_EQ(From(100, "Premature end of source rc2 file "),
            "t.txt:12: error: the script ends before the \"0,\" line that ends its table data");
  EXPECT_EQ(From(100, "***ERROR: Line too long"),
            "t.txt:12: error: line too long (the readers take at most 65536 bytes)");
}

TEST(FindingsTest, PlacesPrintAndOrder) {
  Finding line{"t.txt", 3, false, 0, "", Severity::kWarning, "w"};
  Finding block{"t.itb", 0, true, 0x1c4, "field list 7", Severity::kError, "e"};
  Finding head{"t.itb", 0, false, 0, "file header", Severity::kError, "h"};
  Finding whole{"t.itb", 0, false, 0, "", Severity::kError, "x"};
  EXPECT_EQ(FormatFinding(line), "t.txt:3: warning: w");
  EXPECT_EQ(FormatFinding(block), "t.itb: block 0x1c4 (field list 7): error: e");
  EXPECT_EQ(FormatFinding(head), "t.itb: file header: error: h");
  EXPECT_EQ(FormatFinding(whole), "t.itb: error: x");
  EXPECT_EQ(FindingJson(block).dump(),
            "{\"block\":452,\"file\":\"t.itb\",\"message\":\"e\",\"severity\":\"error\",\"where\":"
            "\"field list 7\"}");

  Finding later = block;
  later.block = 0x100;
  std::vector<Finding> v = {block, line, later, head};
  SortFindings(&v);
  EXPECT_EQ(FormatFinding(v[0]), "t.itb: file header: error: h");
  EXPECT_EQ(v[1].block, 0x100u);
  EXPECT_EQ(v[2].block, 0x1c4u);
  EXPECT_EQ(v[3].file, "t.txt");
}

}  // namespace
}  // namespace tbltool
