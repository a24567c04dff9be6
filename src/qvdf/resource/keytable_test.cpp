// The in-memory string table: first text wins, lookups survive growth, and
// keys differing only in length or a late byte stay apart.
#include "qvdf/resource/keytable.h"

#include <gtest/gtest.h>

#include <string>

TEST(KeyTable, FirstTextWinsAndLaterAddsReportIt) {
  KeyTable t;
  auto [a, addedA] = t.Add("LOCALIZED_SYSTEM_NAME_X", "First");
  EXPECT_TRUE(addedA);
  auto [b, addedB] = t.Add("LOCALIZED_SYSTEM_NAME_X", "Second");
  EXPECT_FALSE(addedB);
  EXPECT_EQ(a, b);
  EXPECT_EQ(t.Text(b), "First");
  EXPECT_EQ(t.Key(b), "LOCALIZED_SYSTEM_NAME_X");
  EXPECT_EQ(t.size(), 1u);
}

TEST(KeyTable, AppendedRepeatsAreNeverFound) {
  KeyTable t;
  t.Append("LOCALIZED_SYSTEM_NAME_X", "First");
  t.Append("LOCALIZED_SYSTEM_NAME_Y", "Other");
  t.Append("LOCALIZED_SYSTEM_NAME_X", "Second");
  size_t x = t.Find("LOCALIZED_SYSTEM_NAME_X");
  ASSERT_NE(x, KeyTable::npos);
  EXPECT_EQ(t.Text(x), "First");
  EXPECT_EQ(t.Key(x), "LOCALIZED_SYSTEM_NAME_X");
  EXPECT_EQ(t.size(), 2u);
  // In order, the entry after X is Y, and after Y the repeat of X, which
  // must not be taken for X.
  EXPECT_EQ(t.Text(t.Find("LOCALIZED_SYSTEM_NAME_Y")), "Other");
  EXPECT_EQ(t.Text(t.Find("LOCALIZED_SYSTEM_NAME_X")), "First");
  // Appends after a lookup are indexed at the next one, first text still
  // first; an Add sees the appends before it.
  t.Append("LOCALIZED_SYSTEM_NAME_Y", "Third");
  t.Append("LOCALIZED_SYSTEM_NAME_Z", "New");
  EXPECT_EQ(t.Text(t.Find("LOCALIZED_SYSTEM_NAME_Y")), "Other");
  EXPECT_EQ(t.Text(t.Find("LOCALIZED_SYSTEM_NAME_Z")), "New");
  t.Append("LOCALIZED_SYSTEM_NAME_W", "Appended");
  auto [w, added] = t.Add("LOCALIZED_SYSTEM_NAME_W", "Added");
  EXPECT_FALSE(added);
  EXPECT_EQ(t.Text(w), "Appended");
  EXPECT_EQ(t.size(), 4u);
}

TEST(KeyTable, FindsEveryKeyAfterManyGrowths) {
  KeyTable t;
  for (int i = 0; i < 5000; ++i)
    // Both ways of adding, through every growth of the index.
    if (i % 3 == 0) {
      t.Add("LOCALIZED_S_FIELDS_" + std::to_string(i) + "_FLD_NAME", "name " + std::to_string(i));
    } else {
      t.Append("LOCALIZED_S_FIELDS_" + std::to_string(i) + "_FLD_NAME",
               "name " + std::to_string(i));
    }
  ASSERT_EQ(t.size(), 5000u);
  // Every seventh, then all in the order added, then all backwards.
  for (int i = 0; i < 5000; i += 7) {
    size_t e = t.Find("LOCALIZED_S_FIELDS_" + std::to_string(i) + "_FLD_NAME");
    ASSERT_NE(e, KeyTable::npos) << i;
    EXPECT_EQ(t.Text(e), "name " + std::to_string(i));
  }
  for (int i = 0; i < 5000; ++i) {
    size_t e = t.Find("LOCALIZED_S_FIELDS_" + std::to_string(i) + "_FLD_NAME");
    ASSERT_NE(e, KeyTable::npos) << i;
    EXPECT_EQ(t.Text(e), "name " + std::to_string(i));
  }
  for (int i = 4999; i >= 0; --i) {
    size_t e = t.Find("LOCALIZED_S_FIELDS_" + std::to_string(i) + "_FLD_NAME");
    ASSERT_NE(e, KeyTable::npos) << i;
    EXPECT_EQ(t.Text(e), "name " + std::to_string(i));
  }
  EXPECT_EQ(t.Find("LOCALIZED_S_FIELDS_5000_FLD_NAME"), KeyTable::npos);
}

TEST(KeyTable, PrefixesEmptyTextsAndEmbeddedNulsStayDistinct) {
  KeyTable t;
  t.Add("AB", "");
  t.Add("A", "x");
  t.Add(std::string_view("A\0B", 3), "nul");
  EXPECT_EQ(t.Text(t.Find("AB")), "");
  EXPECT_EQ(t.Text(t.Find("A")), "x");
  EXPECT_EQ(t.Text(t.Find(std::string_view("A\0B", 3))), "nul");
  EXPECT_EQ(t.Find("ABx"), KeyTable::npos);
  EXPECT_EQ(t.Find(""), KeyTable::npos);
  t.Clear();
  EXPECT_EQ(t.size(), 0u);
  EXPECT_EQ(t.Find("AB"), KeyTable::npos);
}
