// Profile-file rules: what a read finds, and that a write changes exactly
// one line (or adds one) and leaves every other byte alone.
#include "platform/profile_text.h"

#include <gtest/gtest.h>

#include "platform/wildcard.h"

namespace platform {
namespace {

const std::string kFile =
    "; settings\r\n"
    "[General]\r\n"
    "  ErrLogMaxSize =  1200  \r\n"
    "ErrLogBackups=\r\n"
    "not a key line\r\n"
    "\r\n"
    "[ qvwin ]\r\n"
    "HeapLogging=1\r\n"
    "[general]\r\n"
    "ErrLogMaxSize=99\r\n";

TEST(ProfileText, LookupMatchesWithoutCaseAndTrimsValues) {
  EXPECT_EQ(ProfileLookup(kFile, "GENERAL", "errlogmaxsize"), "1200");
  EXPECT_EQ(ProfileLookup(kFile, "General", "ErrLogBackups"), "");  // present, empty
  EXPECT_EQ(ProfileLookup(kFile, "QVWIN", "heaplogging"), "1");
  // The first section of a name is the one that counts.
  EXPECT_EQ(ProfileLookup(kFile, "general", "ErrLogMaxSize"), "1200");
  EXPECT_EQ(ProfileLookup(kFile, "General", "HeapLogging"), std::nullopt);
  EXPECT_EQ(ProfileLookup(kFile, "Missing", "ErrLogMaxSize"), std::nullopt);
  EXPECT_EQ(ProfileLookup(kFile, "General", "not a key line"), std::nullopt);
  EXPECT_EQ(ProfileLookup("", "General", "x"), std::nullopt);
  EXPECT_EQ(ProfileLookup("k=1\n[s]\n", "s", "k"), std::nullopt);  // before any section
  EXPECT_EQ(ProfileLookup("[s]\nk=a=b\n", "s", "k"), "a=b");
}

TEST(ProfileText, LookupDropsOnePairOfMatchingQuotes) {
  const std::string f =
      "[General]\r\nA=\"600\"\r\nB= '7' \r\nC=\"8'\r\nD=\"\r\nE=\"\"\r\n"
      "F=\"\"9\"\"\r\nG=1\"\r\n";
  EXPECT_EQ(ProfileLookup(f, "General", "A"), "600");
  EXPECT_EQ(ProfileLookup(f, "General", "B"), "7");      // blanks go first
  EXPECT_EQ(ProfileLookup(f, "General", "C"), "\"8'");   // quotes that do not match stay
  EXPECT_EQ(ProfileLookup(f, "General", "D"), "\"");     // one quote is no pair
  EXPECT_EQ(ProfileLookup(f, "General", "E"), "");       // an empty quoted value
  EXPECT_EQ(ProfileLookup(f, "General", "F"), "\"9\"");  // only the outer pair
  EXPECT_EQ(ProfileLookup(f, "General", "G"), "1\"");
}

TEST(ProfileText, UpdateReplacesTheKeyLineInPlace) {
  EXPECT_EQ(ProfileUpdate(kFile, "general", "ERRLOGMAXSIZE", "500000"),
            "; settings\r\n"
            "[General]\r\n"
            "ERRLOGMAXSIZE=500000\r\n"
            "ErrLogBackups=\r\n"
            "not a key line\r\n"
            "\r\n"
            "[ qvwin ]\r\n"
            "HeapLogging=1\r\n"
            "[general]\r\n"
            "ErrLogMaxSize=99\r\n");
  // The last line without a terminator keeps going without one.
  EXPECT_EQ(ProfileUpdate("[s]\nk=1", "S", "k", "2"), "[s]\nk=2");
}

TEST(ProfileText, UpdateAddsKeysAtTheEndOfTheirSection) {
  EXPECT_EQ(ProfileUpdate(kFile, "General", "New", "7"),
            "; settings\r\n"
            "[General]\r\n"
            "  ErrLogMaxSize =  1200  \r\n"
            "ErrLogBackups=\r\n"
            "not a key line\r\n"
            "New=7\r\n"
            "\r\n"
            "[ qvwin ]\r\n"
            "HeapLogging=1\r\n"
            "[general]\r\n"
            "ErrLogMaxSize=99\r\n");
  EXPECT_EQ(ProfileUpdate("[a]\n[b]\nx=1\n", "a", "k", "v"), "[a]\nk=v\n[b]\nx=1\n");
  EXPECT_EQ(ProfileUpdate("[a]\r\nx=1", "a", "k", "v"), "[a]\r\nx=1\r\nk=v\r\n");
}

TEST(ProfileText, UpdateAddsMissingSectionsAtTheEnd) {
  EXPECT_EQ(ProfileUpdate("", "General", "ErrLogMaxSize", "500000"),
            "[General]\r\nErrLogMaxSize=500000\r\n");
  EXPECT_EQ(ProfileUpdate("[General]\r\nA=1\r\n", "qvwin", "HeapLogging", "0"),
            "[General]\r\nA=1\r\n\r\n[qvwin]\r\nHeapLogging=0\r\n");
  // Bare LF files stay bare LF; a missing final terminator is supplied.
  EXPECT_EQ(ProfileUpdate("[a]\nx=1", "b", "k", "v"), "[a]\nx=1\n\n[b]\nk=v\n");
}

TEST(Wildcard, StarAndQuestionMarkOnly) {
  EXPECT_TRUE(WildcardMatch("*.fil", "a.fil"));
  EXPECT_TRUE(WildcardMatch("*.fil", ".fil"));
  EXPECT_FALSE(WildcardMatch("*.fil", "a.fil2"));
  EXPECT_TRUE(WildcardMatch("t?b*.*", "tab.x.y"));
  EXPECT_FALSE(WildcardMatch("t?b", "tb"));
  EXPECT_TRUE(WildcardMatch("*", ""));
  EXPECT_TRUE(WildcardMatch("[ab].txt", "[ab].txt"));  // brackets are plain characters
  EXPECT_FALSE(WildcardMatch("[ab].txt", "a.txt"));
  EXPECT_TRUE(WildcardMatch("a*b*c", "aXbYbZc"));
  EXPECT_FALSE(WildcardMatch("a*b*c", "aXbYbZ"));
  EXPECT_FALSE(WildcardMatch("A.TXT", "a.txt"));
  // Many stars against a long miss finish quickly (no exponential backtracking).
  EXPECT_FALSE(WildcardMatch("*a*a*a*a*a*a*a*a*b", std::string(200, 'a')));
}

}  // namespace
}  // namespace platform
