// tbltool export and import end to end: round trips over generated tables,
// which must come back byte for byte as tblconv writes them, every byte
// value through a binary table, and the exact refusals of what import
// cannot carry.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tbltool_fixture.h"

namespace tbltool_e2e {
namespace {

// Each generated table through export and import comes back exactly as
// tblconv writes it, as text, as a binary table and as a split pair, and
// exporting the result again gives the same JSON.
TEST_F(TbltoolTest, ExportAndImportRoundTripGeneratedTables) {
  struct Run {
    const char* profile;
    unsigned from, to;
    const char* codepage;
  };
  for (const Run& run :
       {Run{"small", 1, 12, ""}, Run{"edge", 1, 4, "932"}, Run{"edge", 41, 43, ""}}) {
    if (*run.codepage) env_["TBLCONV_CODEPAGE"] = run.codepage;
    for (unsigned seed = run.from; seed <= run.to; ++seed) {
      SCOPED_TRACE(std::string(run.profile) + " seed " + std::to_string(seed));
      ASSERT_TRUE(Generate(seed, run.profile, "g.txt"));
      Conv({"/f", "g.txt", "/o", "ref.txt", "/o", "ref.itb"});
      Conv({"/f", "ref.itb", "ref2.itb"});
      ASSERT_EQ(Tool({"export", "g.txt", "-o", "g.json", "-f"}).exit_code, 0);
      ASSERT_EQ(Tool({"export", "ref.itb", "-o", "i.json", "-f"}).exit_code, 0);
      EXPECT_EQ(ReadFile("g.json"), ReadFile("i.json")) << "text and binary export alike";
      ASSERT_EQ(Tool({"import", "g.json", "out.txt", "-f"}).exit_code, 0);
      ASSERT_EQ(Tool({"import", "i.json", "out.itb", "-f"}).exit_code, 0);
      EXPECT_EQ(Body(ReadFile("out.txt")), Body(ReadFile("ref.txt")));
      EXPECT_TRUE(ReadFile("out.itb") == ReadFile("ref2.itb")) << "binary table differs";
      RunResult again = Tool({"export", "out.itb"});
      EXPECT_TRUE(again.out == ReadFile("i.json")) << "export of the import differs";
      RunResult same = Tool({"diff", "g.txt", "out.itb"});
      EXPECT_EQ(same.out, "");
      EXPECT_EQ(same.exit_code, 0);
      if (seed % 4 == 0) {
        // A split pair, and a script whose resource name has a suffix.
        Conv({"/f", "g.txt", "/o", "ref.itr"});
        std::string script = ReadFile("ref.itr");
        ASSERT_EQ(Tool({"export", "ref.itr", "-o", "p.json", "-f"}).exit_code, 0);
        EXPECT_EQ(ReadFile("p.json"), ReadFile("g.json"));
        ASSERT_EQ(Tool({"import", "p.json", "out.itr", "-f"}).exit_code, 0);
        EXPECT_TRUE(ReadFile("out.itr") == ReadFile("ref.itr")) << "string table differs";
        EXPECT_TRUE(Script(ReadFile("out.itf")) == Script(ReadFile("ref.itf")))
            << "keyed script differs";
        Conv({"/f", "g.txt", "/o", "plain.rc2"});
        std::string rc2 = ReadFile("plain.rc2");
        rc2.replace(0, rc2.find(' '), "_ZELM_ITB_TABLE_abc");
        WriteFile("abc.rc2", rc2);
        Conv({"/f", "abc.rc2", "/o", "ref.rc2"});
        ASSERT_EQ(Tool({"export", "abc.rc2", "-o", "s.json", "-f"}).exit_code, 0);
        ASSERT_EQ(Tool({"import", "s.json", "out.rc2", "-f"}).exit_code, 0);
        EXPECT_EQ(ReadFile("ref.rc2").substr(0, 34), "_ZELM_ITB_TABLE_ABC RCDATA BEGIN\r\n");
        EXPECT_TRUE(Script(ReadFile("out.rc2")) == Script(ReadFile("ref.rc2"))) << "script differs";
      }
      if (HasFailure()) return;
    }
    env_.erase("TBLCONV_CODEPAGE");
  }
}

TEST_F(TbltoolTest, ImportCarriesEveryByteAndRefusesWhatItCannot) {
  WriteFile("t.txt", Table());
  ASSERT_EQ(Tool({"export", "t.txt", "-o", "t.json"}).exit_code, 0);
  const std::string json = ReadFile("t.json");
  const std::string text2 = "\"szSysText2\":\"\"";
  ASSERT_NE(json.find(text2), std::string::npos);

  // Every byte value but NUL, as export writes them, through a binary table
  // and out again unchanged.
  std::string all;
  for (int b = 1; b < 256; ++b) {
    static const char* const kC1 = "\\u00";
    if (b == '"' || b == '\\') {
      all += '\\';
      all += static_cast<char>(b);
    } else if (b < 0x20 || b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 ||
               b == 0x9D) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "%s%02x", kC1, b);
      all += buf;
    } else if (b < 0x80) {
      all += static_cast<char>(b);
    } else {
      static const char32_t kHigh[32] = {
          0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
          0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
          0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
      char32_t c = b < 0xA0 ? kHigh[b - 0x80] : static_cast<char32_t>(b);
      if (c < 0x800) {
        all += static_cast<char>(0xC0 | (c >> 6));
        all += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        all += static_cast<char>(0xE0 | (c >> 12));
        all += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        all += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
  }
  std::string bytes = json;
  bytes.replace(bytes.find(text2), text2.size(),
                "\"szSysText2\":\"" + all + "\",\"szSysText2Tail\":\"00ff\"");
  WriteFile("all.json", bytes);
  RunResult r = Tool({"import", "all.json", "all.itb"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Tool({"export", "all.itb"}).out == bytes);

  struct Case {
    std::string from, to, err;
  };
  const Case cases[] = {
      {"\"szName\":\"Generic\"", "\"szName\":\"Gen\xE4\xB8\xADric\"",
       "tbltool: bad.json: systems[0].szName: character U+4E2D has no byte in the mapping (see "
       "docs/json.md)\n"},
      {"\"nClass\":0", "\"nClass\":40000",
       "tbltool: bad.json: systems[0].nClass: must be an integer from -32768 to 32767\n"},
      {"\"nClass\":0", "\"nKlass\":0",
       "tbltool: bad.json: systems[0]: unknown member \"nKlass\"\n"},
      {"\"szTranslator\":\"GEN\"", "\"szTranslator\":\"GENERICTRANSL\"",
       "tbltool: bad.json: systems[0].szTranslator: 13 bytes do not fit in 12\n"},
      {"\"format\":", "\"fromat\":", "tbltool: bad.json: fromat: is no member of a table export\n"},
      {"\"systems\":[", "\"systems\":[}",
       "tbltool: bad.json: parse error at line 4, column 12: syntax error while parsing value - "
       "unexpected '}'; expected '[', '{', or a literal\n"},
  };
  for (const Case& c : cases) {
    std::string j = json;
    ASSERT_NE(j.find(c.from), std::string::npos) << c.from;
    j.replace(j.find(c.from), c.from.size(), c.to);
    WriteFile("bad.json", j);
    r = Tool({"import", "bad.json", "bad.itb", "-f"});
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_FALSE(Exists("bad.itb"));
  }
  r = Tool({"import", "t.json", "all.itb"});
  EXPECT_EQ(r.err, "tbltool: all.itb exists; -f replaces it\n");
  EXPECT_EQ(r.exit_code, 2);

  // What only a binary table holds: an alias of a missing system and a name
  // the text form cannot carry, found by check.
  std::string odd = json;
  const std::string list1 = "{\"id\":1,\"nAppID\":2,";
  odd.replace(odd.find(list1), list1.size(),
              "{\"id\":5,\"nAppID\":9,\"nSectionID\":0,\"nSecType\":0,\"szName\":\"Lost\","
              "\"cMark\":\"\",\"fields\":[]},\n" +
                  list1);
  odd.replace(odd.find("\"Generic\""), 9, "\"Gen,eric\"");
  WriteFile("odd.json", odd);
  ASSERT_EQ(Tool({"import", "odd.json", "odd.itb"}).exit_code, 0);
  r = Tool({"check", "odd.itb"});
  EXPECT_EQ(r.out,
            "odd.itb: block 0x32c4 (system 1): error: system name \"Gen,eric\" holds a comma, "
            "which the text form cannot carry\n"
            "odd.itb: block 0x43c4 (field list 5): error: alias \"Lost\" (field list 5) names "
            "system 9, which is not in the table\n");
  EXPECT_EQ(r.exit_code, 1);
}

}  // namespace
}  // namespace tbltool_e2e
