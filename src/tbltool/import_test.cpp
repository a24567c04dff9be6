// Import of JSON into a table: members in any order, maps before their
// lists, shared records, and every kind of bad input refused with its place.
#include "tbltool/import.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "tbltool/tables.h"
#include "tbltool/tbltool_test_util.h"

namespace tbltool {
namespace {

class ImportTest : public rectest::RecTest {
 protected:
  void SetUp() override {
    RecTest::SetUp();
    OpenNew("t.itb", &db_);
  }
  // Imports json; the exit code, with what went to stderr in *err.
  int Import(const std::string& json, std::string* err = nullptr) {
    std::FILE* in = std::tmpfile();
    std::fwrite(json.data(), 1, json.size(), in);
    std::rewind(in);
    std::FILE* capture = std::tmpfile();
    int rc = ImportTable(in, "in.json", &db_, &suffix_, capture);
    std::rewind(capture);
    char buf[4096];
    size_t n = std::fread(buf, 1, sizeof buf, capture);
    if (err) err->assign(buf, n);
    std::fclose(capture);
    std::fclose(in);
    return rc;
  }
  std::string suffix_;
};

const char kHead[] = "{\"format\":\"tbltool-table\",\"formatVersion\":1,";

TEST_F(ImportTest, RecordsInAnyOrderWithSharedMapsAndShortRecords) {
  std::string err;
  ASSERT_EQ(
      Import(
          std::string(kHead) +
              "\"fieldMaps\":["
              "{\"nConfigID\":3,\"nSecType\":1,\"dwSource\":65537,\"dwTarget\":131073,\"nMapID\":2}"
              ","
              "{\"nConfigID\":2,\"nSecType\":1,\"dwSource\":65537,\"dwTarget\":131073,\"nMapID\":2,"
              "\"nSourceList\":4,\"nTargetList\":4,\"szName\":\"m\",\"dwAttribs\":16,\"anMap\":[1]}"
              ","
              "{\"nConfigID\":5,\"nSourceList\":4,\"nTargetList\":4,\"anMap\":[0,1,0,1]}],"
              "\"fieldLists\":[{\"fields\":[{\"szName\":\"a\",\"cType\":\"C\",\"cTypeHigh\":2},"
              "{\"szName\":\"b\",\"szNameTail\":\"0001\"}],\"nAppID\":1,\"id\":4,\"cMark\":\"1\"}],"
              "\"systems\":[{\"nSystemID\":300,\"sections\":[]},"
              "{\"sections\":[{\"nSectionID\":1,\"cSecChar\":\"\\u00e9\"}],\"nSystemID\":1,"
              "\"reserved1\":\"01\",\"anSectionFlags\":[0,1,0,0,0,0,0,0,0,0]}],"
              "\"table\":{\"nMainSystem\":1,\"dwProductID\":4294967295},\"rc2Suffix\":\"abc\"}",
          &err),
      0);
  EXPECT_EQ(
      err,
      "tbltool: in.json: systems[0]: system 300 is left out: tables carry system IDs 1 to 254\n"
      "tbltool: in.json: fieldMaps[2]: 2 map entries past the 2 fields of source list 4 are left "
      "out\n");
  EXPECT_EQ(suffix_, "abc");
  EXPECT_EQ(GetMainSystem(&db_), 1);
  EXPECT_EQ(GetProductID(&db_), 4294967295u);
  RecordBuf r;
  ASSERT_EQ(ReadSystemRec(&db_, 1, &r), 0);
  EXPECT_EQ(r.as<SystemRecord>()->reserved1[0], 1);
  EXPECT_EQ(r.as<SystemRecord>()->anSectionFlags[1], 1);
  EXPECT_EQ(static_cast<unsigned char>(SystemSections(r.as<SystemRecord>())[0].cSecChar), 0xE9);
  ASSERT_EQ(ReadListRec(&db_, 4, &r), 0);
  EXPECT_EQ(GetFieldListMark(&db_, 4), '1');
  const FieldRecord* f = ListFields(r.as<FieldListRecord>());
  EXPECT_EQ(f[0].cType, 0x0243);
  EXPECT_EQ(std::string(f[1].szName, 4), std::string("b\0\0\1", 4));
  // Entry 3 shares entry 2's record; entry 2's record is padded unmapped.
  ConfigRecord c;
  bool own = false;
  ASSERT_EQ(ReadMapRec(&db_, 3, &c, &r, &own), 0);
  EXPECT_FALSE(own);
  EXPECT_EQ(c.nMapID, 2);
  ASSERT_EQ(MapEntries(r), 2);
  EXPECT_EQ(GetMapEntry(r.as<FieldMapRecord>(), 0), 1);
  EXPECT_EQ(GetMapEntry(r.as<FieldMapRecord>(), 1), -1);
  EXPECT_EQ(GetLastBaseMap(&db_), 2);
}

TEST_F(ImportTest, BadInputIsRefusedWithItsPlace) {
  struct Case {
    std::string json, err;
  };
  const std::string h = kHead;
  const Case cases[] = {
      {"[]", "tbltool: in.json: (top): must be an object\n"},
      {"{\"table\":{}}", "tbltool: in.json: (top): has no \"format\": not a table export\n"},
      {h + "\"systems\":[]}", "tbltool: in.json: (top): has no \"table\"\n"},
      {"{\"format\":\"json\"}",
       "tbltool: in.json: format: is not \"tbltool-table\": not a table export\n"},
      {"{\"format\":\"tbltool-table\",\"formatVersion\":2}",
       "tbltool: in.json: formatVersion: only version 1 is known\n"},
      {h + "\"systems\":[1]}", "tbltool: in.json: systems: must hold record objects\n"},
      {h + "\"systems\":[{}]}", "tbltool: in.json: systems[0]: has no \"sections\"\n"},
      {h + "\"systems\":[{\"sections\":[]}]}",
       "tbltool: in.json: systems[0]: has no \"nSystemID\"\n"},
      {h + "\"systems\":[{\"nSystemID\":0,\"sections\":[]}]}",
       "tbltool: in.json: systems[0].nSystemID: must be from 1 to 65535\n"},
      {h + "\"systems\":[{\"nSystemID\":1,\"sections\":[],\"nType\":1.5}]}",
       "tbltool: in.json: systems[0].nType: must be an integer\n"},
      {h + "\"systems\":[{\"nSystemID\":1,\"sections\":[],\"dwAttributes\":-1}]}",
       "tbltool: in.json: systems[0].dwAttributes: must be an integer from 0 to 4294967295\n"},
      {h + "\"systems\":[{\"nSystemID\":1,\"sections\":[],\"anSectionFlags\":[1]}]}",
       "tbltool: in.json: systems[0].anSectionFlags: must be an array of 10 integers\n"},
      {h + "\"systems\":[{\"nSystemID\":1,\"sections\":[{\"szName\":\"a\\u0000b\"}]}]}",
       "tbltool: in.json: systems[0].sections[0].szName: holds U+0000; bytes after a text's end go "
       "in szNameTail\n"},
      {h + "\"systems\":[{\"nSystemID\":1,\"sections\":[{\"cSecChar\":\"ab\"}]}]}",
       "tbltool: in.json: systems[0].sections[0].cSecChar: must be one character, or empty for "
       "none\n"},
      {h + "\"systems\":[{\"nSystemID\":1,\"sections\":[]},{\"nSystemID\":1,\"sections\":[]}]}",
       "tbltool: in.json: systems[1]: system 1 is given twice\n"},
      {h + "\"fieldLists\":[{\"id\":0,\"fields\":[],\"szNameTail\":\"zz\"}]}",
       "tbltool: in.json: fieldLists[0].szNameTail: must be pairs of hexadecimal digits\n"},
      {h + "\"fieldLists\":[{\"id\":0,\"fields\":[],\"szName\":\"" + std::string(67, 'x') +
           "\",\"szNameTail\":\"01\"}]}",
       "tbltool: in.json: fieldLists[0].szNameTail: the text and its tail do not fit in 68 "
       "bytes\n"},
      {h + "\"fieldMaps\":[{\"nConfigID\":1,\"nSourceList\":3}],\"table\":{}}",
       "tbltool: in.json: fieldMaps[0]: its source list 3 is not in the table\n"},
      {h + "\"fieldMaps\":[{\"nConfigID\":1,\"nMapID\":4}],\"table\":{}}",
       "tbltool: in.json: fieldMaps[0]: field map 1 cannot be stored (code 13: the ID is outside "
       "what the table "
       "takes, or given twice)\n"},
      {h + "\"charMaps\":[{\"id\":1,\"abMap\":\"00\"}]}",
       "tbltool: in.json: charMaps[0].abMap: must be 256 bytes\n"},
      {h + "\"tables\":{}}", "tbltool: in.json: tables: is no member of a table export\n"},
      {h + "\"systems\":[{\"nSystemID\":1,",
       "tbltool: in.json: parse error at line 1, column 71: syntax error while "
       "parsing object key - unexpected end of input; expected string literal\n"},
  };
  for (const Case& c : cases) {
    // Each case in a table of its own.
    CloseTable(&db_);
    OpenNew("t" + std::to_string(&c - cases) + ".itb", &db_);
    std::string err;
    EXPECT_EQ(Import(c.json, &err), 2) << c.json;
    EXPECT_EQ(err, c.err) << c.json;
  }
}

}  // namespace
}  // namespace tbltool
