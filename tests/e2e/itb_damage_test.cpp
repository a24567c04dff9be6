// Damaged binary tables: a small valid .itb, then one fault at a time at
// the offsets its own structure gives (magic numbers, versions, counts,
// capacities, block sizes, index entries, cuts at every structure
// boundary). Each is refused with its message and exit code and without
// output. Also the compact layout of a written table, which a case file
// cannot read.
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {
namespace {

// One system (charmap 1), a list of two fields, a map, charmap 1.
std::string SmallTable() {
  std::string s =
      "TYPE=SYSTEM\r\nCOUNT=1\r\n"
      "SYSTEM=1,0,0,\"One\",TR,,0,0,0,,0,Sections,0,0000000000,0X0,1,0,1\r\n"
      "SYSTEMEX1=8,0X0,0X0,0X0,0X0,0X0,0X0,0X0,0X0\r\nSYSTEMEX2=0,0,0,0,0,,\r\nSYSTEMEX3=,,,,\r\n"
      "SECTION=1,3,\"S1\",,0,,,0X2,0,,0\r\n"
      "TYPE=FIELDS\r\nCOUNT=1\r\nLISTID=0\r\nAPP=1\r\nSECID=1\r\nSECTYPE=3\r\nNAME=L0\r\nCOUNT="
      "2\r\n"
      "FIELD=1,\"F1\",\"Field 1\",1,S,0,0,,,0X0,0,0\r\nFIELD=2,\"F2\",\"Field "
      "2\",2,S,0,0,,,0X0,0,0\r\n"
      "TYPE=MAPS\r\nCOUNT=1\r\nMAPID=1\r\nSECTYPE=3\r\nNAME=M1\r\nATTRIBS=16\r\nSOURCE=1,0,1\r\n"
      "TARGET=1,0,1\r\nCOUNT=2\r\nMAP=1,2\r\nTYPE=CHARMAP\r\nCOUNT=1\r\nCHARMAP=1,Map,0X1,256\r\n";
  const char* hex = "0123456789abcdef";
  for (int r = 0; r < 16; ++r) {
    s += std::string("COL=") + hex[r];
    for (int c = 0; c < 16; ++c) s += std::string(",") + hex[r] + hex[c];
    s += "\r\n";
  }
  return s + "TYPE=TABLE\r\nMAINSYSTEM=1\r\nMAINCLASS=0\r\nPRODUCTID=0\r\nBUNDLEDFLAG=0\r\n";
}

// The file's bytes and where its structures lie: the root array (offset in
// the file header at 20, slot count at 4), the table header in root slot
// 0, and the indexes the header points to.
struct Itb {
  std::string b;
  uint32_t U32(size_t off) const {
    uint32_t v = 0;
    std::memcpy(&v, b.data() + off, 4);
    return v;
  }
  void Put32(size_t off, uint32_t v) { std::memcpy(&b[off], &v, 4); }
  void Put16(size_t off, uint16_t v) { std::memcpy(&b[off], &v, 2); }
  uint32_t Root(int slot) const { return U32(U32(20) + 4 * slot); }
  uint32_t Hdr() const { return Root(0) + 8; }  // the table header's payload
  uint32_t SysIndex() const { return U32(Hdr() + 20); }
  uint32_t ListIndex() const { return U32(Hdr() + 24); }
  uint32_t MapIndex() const { return U32(Hdr() + 28); }
  uint32_t CharIndex() const { return U32(Hdr() + 32); }
  uint32_t System1() const { return U32(SysIndex() + 8); }
  uint32_t List0() const { return U32(ListIndex() + 8 + 8); }
  uint32_t CharMap1() const { return U32(CharIndex() + 8); }
};

class ItbDamageTest : public ToolTest {
 protected:
  Itb Good() {
    WriteFile("good.txt", SmallTable());
    RunResult r = Run({"good.txt", "good.itb"});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    return Itb{ReadFile("good.itb")};
  }
};

struct Damage {
  const char* what;
  std::function<void(Itb&)> apply;
  int code;
  std::string detail;  // the line before the abort line; "" for the open failure
};

TEST_F(ItbDamageTest, DamagedTablesAreRefused) {
  const Itb good = Good();
  ASSERT_GT(good.b.size(), 15048u);
  const std::string sys = "***ERROR: Unable to copy system record, error 4";
  std::vector<Damage> corpus = {
      {"bad file magic", [](Itb& f) { f.Put16(0, 0x0F0E); }, 4, ""},
      {"file version 2", [](Itb& f) { f.Put16(2, 2); }, 4, ""},
      {"file version 5", [](Itb& f) { f.Put16(2, 5); }, 4, ""},
      {"too many root slots", [](Itb& f) { f.Put32(4, 40000); }, 4, ""},
      {"root slots past the end", [](Itb& f) { f.Put32(4, f.U32(4) + 1); }, 6, ""},
      {"root array in the header", [](Itb& f) { f.Put32(20, 12); }, 4, ""},
      {"root array past the end", [](Itb& f) { f.Put32(20, 0x7FFFFFF0); }, 4, ""},
      {"header slot past the end", [](Itb& f) { f.Put32(f.U32(20), 0x7FFFFFF0); }, 4, ""},
      {"header slot empty", [](Itb& f) { f.Put32(f.U32(20), 0); }, 4, ""},
      {"header block of 127", [](Itb& f) { f.Put32(f.Root(0), 127); }, 4, ""},
      {"table magic", [](Itb& f) { f.Put16(f.Hdr(), 0xB0BE); }, 4, ""},
      {"table version 3", [](Itb& f) { f.Put16(f.Hdr() + 2, 3); }, 4, ""},
      {"negative capacity", [](Itb& f) { f.Put16(f.Hdr() + 8, 0xFFFF); }, 4, ""},
      {"zero capacity", [](Itb& f) { f.Put16(f.Hdr() + 38, 0); }, 12, ""},
      {"capacity above its block", [](Itb& f) { f.Put16(f.Hdr() + 16, 32000); }, 50, ""},
      {"negative count", [](Itb& f) { f.Put16(f.Hdr() + 6, 0x8000); }, 4, ""},
      {"index past the end", [](Itb& f) { f.Put32(f.Hdr() + 20, 0x7FFFFFF0); }, 4, ""},
      {"system count and block disagree", [](Itb& f) { f.Put16(f.System1() + 8 + 428, 2); }, 4,
       sys},
      {"system under another ID", [](Itb& f) { f.Put16(f.System1() + 8 + 2, 2); }, 4, sys},
      {"system block past the end", [](Itb& f) { f.Put32(f.System1(), 0x7FFFFF00); }, 4, sys},
      {"system over an index", [](Itb& f) { f.Put32(f.SysIndex() + 8, f.ListIndex()); }, 4, sys},
      {"field count and index disagree", [](Itb& f) { f.Put16(f.List0() + 8, 3); }, 4,
       "***ERROR: Unable to copy field list records"},
      {"negative field count", [](Itb& f) { f.Put16(f.ListIndex() + 8 + 4, 0xFFFF); }, 4,
       "***ERROR: Unable to copy field list records"},
      {"odd map record", [](Itb& f) { f.Put32(f.Root(1), 73); }, 4,
       "***ERROR: Unable to copy field map records"},
      {"map record below its fixed part", [](Itb& f) { f.Put32(f.Root(1), 70); }, 4,
       "***ERROR: Unable to copy field map records"},
      {"charmap of 324 bytes", [](Itb& f) { f.Put32(f.CharMap1(), 324); }, 4, sys},
  };
  // Cut at every structure boundary: a short header or root array is a
  // failed read (6); a root array that starts past the end a bad format (4).
  for (size_t cut :
       {size_t{0}, size_t{27}, size_t{28}, size_t{36}, size_t{good.Root(0) + 72},
        size_t{good.SysIndex()}, size_t{good.ListIndex() + 8}, size_t{good.MapIndex() + 100},
        size_t{good.CharIndex()}, size_t{good.System1()}, size_t{good.List0() + 8},
        size_t{good.CharMap1() + 200}, size_t{good.Root(1)}, size_t{good.U32(20)},
        size_t{good.U32(20) + 4}, good.b.size() - 1}) {
    int code = cut < 28 || cut >= good.U32(20) ? 6 : 4;
    corpus.push_back({"cut", [cut](Itb& f) { f.b.resize(cut); }, code, ""});
  }

  for (const Damage& d : corpus) {
    SCOPED_TRACE(std::string(d.what) + " (" + std::to_string(&d - corpus.data()) + ")");
    Itb bad = good;
    d.apply(bad);
    WriteFile("bad.itb", bad.b);
    RunResult r = Run({"bad.itb", "out.txt"});
    EXPECT_EQ(r.exit_code, kExitFail);
    std::string code = std::to_string(d.code);
    std::string detail = d.detail.empty() ? "Error " + code + " trying to open bad.itb" : d.detail;
    std::string last =
        d.code == 4 ? "Error: Bad file format or a resource missing.\n" : "Error: Exit\n";
    std::string tail =
        detail + "\nProcessing ITB File aborted due to error code " + code + "\n" + last;
    EXPECT_EQ(r.out.substr(r.out.size() < tail.size() ? 0 : r.out.size() - tail.size()), tail)
        << r.out;
    EXPECT_FALSE(Exists("out.txt"));
    EXPECT_TRUE(TempFiles().empty());
  }
}

TEST_F(ItbDamageTest, CountsAboveTheRecordsPresentEndTheScan) {
  Itb f = Good();
  for (size_t count : {6, 10, 14, 36}) f.Put16(f.Hdr() + count, 32767);
  WriteFile("counts.itb", f.b);
  RunResult r = Run({"counts.itb", "out.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(ReadFile("out.txt"), "\r\n# Number of systems:  1\r\n"));
}

// Replacing a system from text leaves dead space in the working table; the
// written table has none, and its root array ends the file.
TEST_F(ItbDamageTest, WrittenTableIsCompact) {
  WriteFile("good.txt", SmallTable());
  std::string again = SmallTable();
  again.replace(again.find("\"One\""), 5, "\"One again\"");
  WriteFile("again.txt", again);
  RunResult r = Run({"good.txt", "again.txt", "out.itb"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  Itb out{ReadFile("out.itb")};
  ASSERT_GT(out.b.size(), 28u);
  EXPECT_EQ(out.U32(24), 0u);  // no wasted bytes
  EXPECT_EQ(out.U32(20) + 4 * out.U32(4), out.b.size());
  EXPECT_EQ(out.Root(0), 28u);
}

}  // namespace
}  // namespace e2e
