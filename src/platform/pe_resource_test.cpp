// The PE resource reader against module images built here byte by byte:
// lookups that must succeed in PE32 and PE32+, lookups that must miss, and a
// damaged corpus (truncations, offsets past the end, a directory that points
// to itself, every byte flipped) that must give 4 and never read outside the
// image.
#include "platform/pe_resource.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/pe_test_builder.h"

namespace platform {
namespace {

using namespace pe_testing;

const std::string kTable = "TABLE=4\r\nSYSTEM=1,Address Book\r\n";
const std::string kName = "_ZELM_ITB_TABLE_";

int Find(const Bytes& img, const std::string& name, std::string* text, int type = 10) {
  std::vector<char> data;
  int rc = FindPeResource(img.data(), img.size(), name, type, &data);
  if (text) text->assign(data.begin(), data.end());
  return rc;
}

BuiltPe TableModule(bool plus = false) {
  return BuildPe(plus,
                 {{6, "STRINGS", {"strings"}},
                  {10, "OTHER", {"other data"}},
                  {10, kName, {kTable, "second language"}},
                  {10, "#7", {"by number"}}},
                 2);
}

TEST(PeResource, FindsResourcesInPe32AndPe32Plus) {
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    BuiltPe pe = TableModule(plus);
    std::string text;
    ASSERT_EQ(Find(pe.img, kName, &text), 0);
    EXPECT_EQ(text, kTable);  // the first language, exactly its bytes
    ASSERT_EQ(Find(pe.img, "other", &text), 0);
    EXPECT_EQ(text, "other data");
    ASSERT_EQ(Find(pe.img, "#7", &text), 0);
    EXPECT_EQ(text, "by number");
    ASSERT_EQ(Find(pe.img, "STRINGS", &text, 6), 0);
    EXPECT_EQ(text, "strings");
  }
}

TEST(PeResource, NamesMatchWithoutRegardToCaseButWholly) {
  BuiltPe pe = BuildPe(false, {{10, "_zelm_Itb_table_", {kTable}}});
  std::string text;
  EXPECT_EQ(Find(pe.img, kName, &text), 0);
  EXPECT_EQ(text, kTable);
  // A resource named with a suffix is another resource.
  BuiltPe suffixed = BuildPe(false, {{10, kName + "EN", {kTable}}});
  EXPECT_EQ(Find(suffixed.img, kName, nullptr), 4);
  EXPECT_EQ(Find(pe.img, "_ZELM_ITB_TABLE", nullptr), 4);
  // Right name, wrong type; and a numeric name that is not there.
  BuiltPe strings = BuildPe(false, {{6, kName, {kTable}}});
  EXPECT_EQ(Find(strings.img, kName, nullptr), 4);
  EXPECT_EQ(Find(pe.img, "#1", nullptr), 4);
}

TEST(PeResource, EmptyAndNonModuleImagesAreRefused) {
  std::vector<char> data;
  EXPECT_EQ(FindPeResource(nullptr, 0, kName, 10, &data), 4);
  Bytes text(kTable.begin(), kTable.end());
  EXPECT_EQ(Find(text, kName, nullptr), 4);
  Bytes mz_only(0x40, 0);
  mz_only[0] = 'M';
  mz_only[1] = 'Z';
  EXPECT_EQ(Find(mz_only, kName, nullptr), 4);
}

TEST(PeResource, EveryTruncationIsRefused) {
  for (bool plus : {false, true}) {
    BuiltPe pe = TableModule(plus);
    for (size_t n = 0; n < pe.img.size(); ++n) {
      Bytes cut(pe.img.begin(), pe.img.begin() + static_cast<long>(n));
      // The wanted data is not the last resource, so only cuts before its
      // end must fail; the rest may still find it intact.
      int rc = Find(cut, kName, nullptr);
      if (n < pe.data + kTable.size())
        EXPECT_EQ(rc, 4) << "cut at " << n;
      else
        EXPECT_EQ(rc, 0) << "cut at " << n;
    }
  }
}

struct Damage {
  const char* what;
  void (*apply)(BuiltPe& pe, bool plus);
};

const Damage kDamages[] = {
    {"e_lfanew past the end", [](BuiltPe& pe, bool) { Put32(pe.img, 0x3C, 0xFFFFFFF0u); }},
    {"no PE signature", [](BuiltPe& pe, bool) { pe.img[0x41] = 'X'; }},
    {"unknown optional header magic", [](BuiltPe& pe, bool) { Put16(pe.img, pe.opt, 0x107); }},
    {"optional header larger than the file",
     [](BuiltPe& pe, bool) { Put16(pe.img, 0x44 + 16, 0xFFFF); }},
    {"optional header too small for the directories",
     [](BuiltPe& pe, bool plus) { Put16(pe.img, 0x44 + 16, plus ? 112 + 16 : 96 + 16); }},
    {"two data directories only",
     [](BuiltPe& pe, bool plus) { Put32(pe.img, pe.opt + (plus ? 108 : 92), 2); }},
    {"no resource directory",
     [](BuiltPe& pe, bool plus) { Put32(pe.img, pe.opt + (plus ? 112 : 96) + 16, 0); }},
    {"65535 sections", [](BuiltPe& pe, bool) { Put16(pe.img, 0x44 + 2, 0xFFFF); }},
    {"no sections", [](BuiltPe& pe, bool) { Put16(pe.img, 0x44 + 2, 0); }},
    {"section data past the end",
     [](BuiltPe& pe, bool) { Put32(pe.img, pe.sections + 20, 0x7FFFFFF0u); }},
    {"section raw size larger than the file",
     [](BuiltPe& pe, bool) {
       Put32(pe.img, pe.sections + 16, 0xFFFFFFFFu);
       Put32(pe.img, pe.sections + 20, 0xFFFFFF00u);
     }},
    {"huge entry count in the root",
     [](BuiltPe& pe, bool) { Put16(pe.img, pe.rsrc + 14, 0xFFFF); }},
    {"huge named count in the name directory",
     [](BuiltPe& pe, bool) { Put16(pe.img, pe.name_dir + 12, 0xFFFF); }},
    {"root entry pointing to the root itself",
     [](BuiltPe& pe, bool) {
       for (size_t e = 0; e < 2; ++e) Put32(pe.img, pe.rsrc + 20 + 8 * e, 0x80000000u);
     }},
    {"language directory pointing to itself",
     [](BuiltPe& pe, bool) {
       Put32(pe.img, pe.lang_dir + 20, 0x80000000u | static_cast<uint32_t>(pe.lang_dir - pe.rsrc));
     }},
    {"name string past the end",
     [](BuiltPe& pe, bool) {
       // The first named entry of the name directory is "OTHER"; ours is next.
       Put32(pe.img, pe.name_dir + 16, 0x80000000u | 0x7FFFFFF0u);
     }},
    {"name string length past the end",
     [](BuiltPe& pe, bool) { Put16(pe.img, pe.name_str, 0xFFFF); }},
    {"subdirectory past the end",
     [](BuiltPe& pe, bool) { Put32(pe.img, pe.name_dir + 20 + 8, 0x80000000u | 0x7FFFFFF0u); }},
    {"data entry past the end",
     [](BuiltPe& pe, bool) { Put32(pe.img, pe.lang_dir + 20, 0x7FFFFFF0u); }},
    {"data size past the section",
     [](BuiltPe& pe, bool) { Put32(pe.img, pe.data_entry + 4, 0xFFFFFFFFu); }},
    {"data RVA outside every section",
     [](BuiltPe& pe, bool) { Put32(pe.img, pe.data_entry, 0x50); }},
    {"data RVA wrapping around",
     [](BuiltPe& pe, bool) { Put32(pe.img, pe.data_entry, 0xFFFFFFFFu); }},
};

TEST(PeResource, DamagedImagesAreRefused) {
  for (bool plus : {false, true}) {
    for (const Damage& d : kDamages) {
      SCOPED_TRACE(std::string(d.what) + (plus ? " (PE32+)" : " (PE32)"));
      BuiltPe pe = TableModule(plus);
      ASSERT_EQ(Find(pe.img, kName, nullptr), 0);
      d.apply(pe, plus);
      EXPECT_EQ(Find(pe.img, kName, nullptr), 4);
    }
  }
}

TEST(PeResource, FlippedBytesNeverReadOutsideTheImage) {
  BuiltPe pe = TableModule(false);
  for (size_t i = 0; i < pe.img.size(); ++i) {
    Bytes bad = pe.img;
    bad[i] ^= 0xFF;
    std::vector<char> data;
    int rc = FindPeResource(bad.data(), bad.size(), kName, 10, &data);
    ASSERT_TRUE(rc == 0 || rc == 4) << "byte " << i;
    if (rc == 0) {
      EXPECT_LE(data.size(), bad.size()) << "byte " << i;
    }
  }
}

}  // namespace
}  // namespace platform
