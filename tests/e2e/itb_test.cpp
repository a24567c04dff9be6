// End-to-end runs with .itb files: merging one binary table into another
// (a replaced system loses its old lists and maps, colliding field-list IDs
// stop the run, table-wide values, charmaps), compacted output, and a corpus
// of damaged tables made from a small valid one, each refused with its
// message and exit code and without output.
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cli_tables.h"
#include "harness.h"

namespace {

using e2e::Contains;
using e2e::RunResult;

// ---- text tables to start from

std::string System(int id, const std::string& name, int sections, int charMap = 0) {
  std::string s = "SYSTEM=" + std::to_string(id) + ",0,0,\"" + name +
                  "\",TR,,0,0,0,,0,Sections,0," + "0000000000,0X0," + std::to_string(charMap) +
                  ",0," + std::to_string(sections) +
                  "\r\nSYSTEMEX1=8,0X0,0X0,0X0,0X0,0X0,0X0,0X0,0X0\r\nSYSTEMEX2=0,0,0,0,0,,\r\n"
                  "SYSTEMEX3=,,,,\r\n";
  for (int k = 1; k <= sections; ++k)
    s += "SECTION=" + std::to_string(k) + ",3,\"S" + std::to_string(k) + "\",,0,,,0X2,0,,0\r\n";
  return s;
}

std::string List(int id, int app, int sec, int fields) {
  std::string s = "LISTID=" + std::to_string(id) + "\r\nAPP=" + std::to_string(app) +
                  "\r\nSECID=" + std::to_string(sec) + "\r\nSECTYPE=3\r\nNAME=L" +
                  std::to_string(id) + "\r\nCOUNT=" + std::to_string(fields) + "\r\n";
  for (int i = 1; i <= fields; ++i) {
    std::string n = std::to_string(i);
    s += "FIELD=" + n + ",\"F" + n + "\",\"Field " + n + "\"," + n + ",S,0,0,,,0X0,0,0\r\n";
  }
  return s;
}

// From system/list/section to system/list/section, field i to field i.
std::string Map(int id, const std::string& source, const std::string& target, int fields) {
  std::string s = "MAPID=" + std::to_string(id) + "\r\nSECTYPE=3\r\nNAME=M" + std::to_string(id) +
                  "\r\nATTRIBS=16\r\nSOURCE=" + source + "\r\nTARGET=" + target +
                  "\r\nCOUNT=" + std::to_string(fields) + "\r\nMAP=";
  for (int i = 1; i <= fields; ++i) s += (i > 1 ? "," : "") + std::to_string(i);
  return s + "\r\n";
}

std::string CharMap(int id, const std::string& name) {
  std::string s = "CHARMAP=" + std::to_string(id) + "," + name + ",0X1,256\r\n";
  const char* hex = "0123456789abcdef";
  for (int r = 0; r < 16; ++r) {
    s += "COL=" + std::string(1, hex[r]);
    for (int c = 0; c < 16; ++c) s += "," + std::string(1, hex[r]) + hex[c];
    s += "\r\n";
  }
  return s;
}

struct Table {
  std::vector<std::string> systems, lists, maps, charMaps;
  std::string values = "0,0,0,0";  // main system, main class, product ID, bundled flag

  std::string Text() const {
    auto block = [](const char* type, const std::vector<std::string>& groups) {
      std::string s =
          std::string("TYPE=") + type + "\r\nCOUNT=" + std::to_string(groups.size()) + "\r\n";
      for (const std::string& g : groups) s += g;
      return s;
    };
    std::string s = block("SYSTEM", systems) + block("FIELDS", lists) + block("MAPS", maps);
    if (!charMaps.empty()) s += block("CHARMAP", charMaps);
    std::string v[4];
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
      size_t comma = values.find(',', at);
      v[i] = values.substr(at, comma - at);
      at = comma + 1;
    }
    return s + "TYPE=TABLE\r\nMAINSYSTEM=" + v[0] + "\r\nMAINCLASS=" + v[1] +
           "\r\nPRODUCTID=" + v[2] + "\r\nBUNDLEDFLAG=" + v[3] + "\r\nENABLEDPRODUCTS=0\r\n";
  }
};

// Systems 1 and 5, a list of each, maps between them both ways, charmap 1.
Table BaseTable() {
  Table t;
  t.systems = {System(1, "One", 1), System(5, "Five", 1)};
  t.lists = {List(0, 1, 1, 2), List(1, 5, 1, 2)};
  t.maps = {Map(1, "1,0,1", "5,1,1", 2), Map(2, "5,1,1", "1,0,1", 2)};
  t.charMaps = {CharMap(1, "Old")};
  t.values = "1,0,1234,1";
  return t;
}

// ---- reading a table file's bytes

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

class ItbRunTest : public e2e::ToolTest {
 protected:
  // Writes t as name.txt and converts it to name.itb.
  void MakeItb(const std::string& name, const Table& t) {
    WriteFile(name + ".txt", t.Text());
    RunResult r = Run({name + ".txt", name + ".itb"});
    ASSERT_EQ(r.exit_code, 0) << r.out;
  }
};

TEST_F(ItbRunTest, ReplacedSystemLosesItsOldListsAndMaps) {
  MakeItb("base", BaseTable());
  Table update;
  update.systems = {System(5, "Five New", 2)};
  update.lists = {List(7, 5, 2, 3)};
  update.maps = {Map(3, "5,7,2", "5,7,2", 3)};
  MakeItb("update", update);

  RunResult r = Run({"base.itb", "update.itb", "merged.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out,
                       "\nReading Version 4 ITB table file update.itb\n\n"
                       "SystemID: 5 Is being overwritten, all components being deleted.\n"
                       "SystemID: 5 Name: Five New\n"
                       "Processing ITB file completed successfully\n"))
      << r.out;
  std::string merged = ReadFile("merged.txt");
  EXPECT_TRUE(Contains(merged, "# Number of systems:  2\r\n"));
  EXPECT_TRUE(Contains(merged, "# Number of field lists:  2\r\n"));
  EXPECT_TRUE(Contains(merged, "# Number of field maps:  1\r\n"));
  EXPECT_TRUE(Contains(merged, "\"Five New\""));
  EXPECT_TRUE(Contains(merged, "LISTID=0\r\n"));
  EXPECT_FALSE(Contains(merged, "LISTID=1\r\n"));
  EXPECT_TRUE(Contains(merged, "LISTID=7\r\n"));
  EXPECT_FALSE(Contains(merged, "MAPID=1\r\n"));
  EXPECT_FALSE(Contains(merged, "MAPID=2\r\n"));
  EXPECT_TRUE(Contains(merged, "MAPID=3\r\n"));
  // The update's table-wide values are all 0: the earlier ones stay.
  EXPECT_TRUE(
      Contains(merged, "MAINSYSTEM=1\r\nMAINCLASS=0\r\nPRODUCTID=1234\r\nBUNDLEDFLAG=1\r\n"))
      << merged;
}

// A map may read or write a list of a system it does not name: replacing
// that system takes the map with the list, so the merged table reads back.
TEST_F(ItbRunTest, MapsThatUseAReplacedSystemsListsGoWithIt) {
  Table base = BaseTable();
  base.systems.push_back(System(6, "Six", 1));
  base.lists.push_back(List(2, 6, 1, 2));
  base.maps.push_back(Map(3, "1,1,1", "6,2,1", 2));  // reads list 1, of system 5
  base.maps.push_back(Map(4, "6,2,1", "1,1,1", 2));  // writes list 1
  base.maps.push_back(Map(5, "6,2,1", "1,0,1", 2));
  MakeItb("base", base);
  Table update;
  update.systems = {System(5, "Five New", 1)};
  MakeItb("update", update);

  RunResult r = Run({"base.itb", "update.itb", "merged.itb"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  r = Run({"merged.itb", "merged.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  std::string merged = ReadFile("merged.txt");
  EXPECT_TRUE(Contains(merged, "# Number of field lists:  2\r\n")) << merged;
  EXPECT_TRUE(Contains(merged, "# Number of field maps:  1\r\n")) << merged;
  EXPECT_TRUE(Contains(merged, "MAPID=5\r\n"));
  EXPECT_FALSE(Contains(merged, "LISTID=1\r\n"));
}

TEST_F(ItbRunTest, CollidingFieldListStopsTheRun) {
  MakeItb("base", BaseTable());
  Table other;
  other.systems = {System(9, "Nine", 1)};
  other.lists = {List(0, 9, 1, 2)};
  MakeItb("other", other);

  RunResult r = Run({"base.itb", "other.itb", "out.txt"});
  EXPECT_EQ(r.exit_code, e2e::kExitFail);
  EXPECT_TRUE(Contains(r.out,
                       "SystemID: 9 Name: Nine\n"
                       "***ERROR: Unable to copy field list records\n"
                       "Processing ITB File aborted due to error code 13\n"
                       "Error: Exit\n"))
      << r.out;
  EXPECT_FALSE(Exists("out.txt"));
}

TEST_F(ItbRunTest, ValuesAndCharMapsOfTheLaterTableWin) {
  MakeItb("base", BaseTable());
  Table later;
  later.charMaps = {CharMap(1, "New")};
  later.values = "0,0,0,1";
  MakeItb("later", later);

  RunResult r = Run({"base.itb", "later.itb", "merged.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  std::string merged = ReadFile("merged.txt");
  EXPECT_TRUE(Contains(merged, "CHARMAP=1,New,0X1,256\r\n")) << merged;
  EXPECT_FALSE(Contains(merged, ",Old,"));
  EXPECT_TRUE(Contains(merged, "MAINSYSTEM=0\r\nMAINCLASS=0\r\nPRODUCTID=0\r\nBUNDLEDFLAG=1\r\n"))
      << merged;
}

TEST_F(ItbRunTest, OutputIsCompactAndReadsBackTheSame) {
  Table base = BaseTable();
  WriteFile("base.txt", base.Text());
  Table update;
  update.systems = {System(5, "Five New", 2)};
  WriteFile("update.txt", update.Text());
  // Replacing system 5 from text leaves dead bytes in the working table.
  RunResult r = Run({"base.txt", "update.txt", "/o", "out.itb", "/o", "direct.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  Itb out{ReadFile("out.itb")};
  ASSERT_GT(out.b.size(), 28u);
  EXPECT_EQ(out.U32(24), 0u);  // no wasted bytes
  EXPECT_EQ(out.U32(20) + 4 * out.U32(4), out.b.size());
  EXPECT_EQ(out.Root(0), 28u);

  RunResult back = Run({"out.itb", "back.txt"});
  ASSERT_EQ(back.exit_code, 0) << back.out;
  std::string direct = ReadFile("direct.txt"), again = ReadFile("back.txt");
  EXPECT_EQ(again.substr(again.find('\n')), direct.substr(direct.find('\n')));
  RunResult twice = Run({"out.itb", "twice.itb"});
  ASSERT_EQ(twice.exit_code, 0) << twice.out;
  EXPECT_EQ(ReadFile("twice.itb"), out.b);
}

// ---- the damaged corpus

struct Damage {
  const char* what;
  std::function<void(Itb&)> apply;
  int code;
  std::string detail;  // the line in front of the abort line, if any
};

TEST_F(ItbRunTest, DamagedTablesAreRefused) {
  Table t;
  t.systems = {System(1, "One", 1, 1)};
  t.lists = {List(0, 1, 1, 2)};
  t.maps = {Map(1, "1,0,1", "1,0,1", 2)};
  t.charMaps = {CharMap(1, "Map")};
  MakeItb("good", t);
  const Itb good{ReadFile("good.itb")};
  ASSERT_GT(good.b.size(), 15048u);

  const std::string kOpen = "open";  // detail: "Error <code> trying to open bad.itb"
  std::vector<Damage> corpus = {
      {"bad file magic", [](Itb& f) { f.Put16(0, 0x0F0E); }, 4, kOpen},
      {"file version 2", [](Itb& f) { f.Put16(2, 2); }, 4, kOpen},
      {"file version 5", [](Itb& f) { f.Put16(2, 5); }, 4, kOpen},
      {"too many root slots", [](Itb& f) { f.Put32(4, 40000); }, 4, kOpen},
      {"root slots past the end", [](Itb& f) { f.Put32(4, f.U32(4) + 1); }, 6, kOpen},
      {"root array in the header", [](Itb& f) { f.Put32(20, 12); }, 4, kOpen},
      {"root array past the end", [](Itb& f) { f.Put32(20, 0x7FFFFFF0); }, 4, kOpen},
      {"header slot past the end", [](Itb& f) { f.Put32(f.U32(20), 0x7FFFFFF0); }, 4, kOpen},
      {"header slot empty", [](Itb& f) { f.Put32(f.U32(20), 0); }, 4, kOpen},
      {"header block of 127", [](Itb& f) { f.Put32(f.Root(0), 127); }, 4, kOpen},
      {"table magic", [](Itb& f) { f.Put16(f.Hdr(), 0xB0BE); }, 4, kOpen},
      {"table version 3", [](Itb& f) { f.Put16(f.Hdr() + 2, 3); }, 4, kOpen},
      {"negative capacity", [](Itb& f) { f.Put16(f.Hdr() + 8, 0xFFFF); }, 4, kOpen},
      {"zero capacity", [](Itb& f) { f.Put16(f.Hdr() + 38, 0); }, 12, kOpen},
      {"capacity above its block", [](Itb& f) { f.Put16(f.Hdr() + 16, 32000); }, 50, kOpen},
      {"negative count", [](Itb& f) { f.Put16(f.Hdr() + 6, 0x8000); }, 4, kOpen},
      {"index past the end", [](Itb& f) { f.Put32(f.Hdr() + 20, 0x7FFFFFF0); }, 4, kOpen},
      {"system count disagrees with its block", [](Itb& f) { f.Put16(f.System1() + 8 + 428, 2); },
       4, "***ERROR: Unable to copy system record, error 4"},
      {"system filed under another ID", [](Itb& f) { f.Put16(f.System1() + 8 + 2, 2); }, 4,
       "***ERROR: Unable to copy system record, error 4"},
      {"system block runs past the end", [](Itb& f) { f.Put32(f.System1(), 0x7FFFFF00); }, 4,
       "***ERROR: Unable to copy system record, error 4"},
      {"system overlapping an index", [](Itb& f) { f.Put32(f.SysIndex() + 8, f.ListIndex()); }, 4,
       "***ERROR: Unable to copy system record, error 4"},
      {"field count disagrees with the index", [](Itb& f) { f.Put16(f.List0() + 8, 3); }, 4,
       "***ERROR: Unable to copy field list records"},
      {"negative field count", [](Itb& f) { f.Put16(f.ListIndex() + 8 + 4, 0xFFFF); }, 4,
       "***ERROR: Unable to copy field list records"},
      {"odd map record", [](Itb& f) { f.Put32(f.Root(1), 73); }, 4,
       "***ERROR: Unable to copy field map records"},
      {"map record below its fixed part", [](Itb& f) { f.Put32(f.Root(1), 70); }, 4,
       "***ERROR: Unable to copy field map records"},
      {"charmap of 324 bytes", [](Itb& f) { f.Put32(f.CharMap1(), 324); }, 4,
       "***ERROR: Unable to copy system record, error 4"},
  };
  // Cut at every structure boundary.
  std::vector<size_t> cuts = {0,
                              27,
                              28,
                              36,
                              good.Root(0) + 8 + 64,
                              good.SysIndex(),
                              good.ListIndex() + 8,
                              good.MapIndex() + 100,
                              good.CharIndex(),
                              good.System1(),
                              good.List0() + 8,
                              good.CharMap1() + 200,
                              good.Root(1),
                              good.U32(20),
                              good.U32(20) + 4,
                              good.b.size() - 1};
  // A short header or a short root array is a failed read (6); a root array
  // that starts past the end is a bad format (4).
  for (size_t cut : cuts) {
    int code = cut < 28 || cut >= good.U32(20) ? 6 : 4;
    corpus.push_back({"truncated", [cut](Itb& f) { f.b.resize(cut); }, code, kOpen});
  }

  for (const Damage& d : corpus) {
    SCOPED_TRACE(d.what + std::string(" ") + std::to_string(&d - corpus.data()));
    Itb bad = good;
    d.apply(bad);
    WriteFile("bad.itb", bad.b);
    RunResult r = Run({"bad.itb", "out.txt"});
    EXPECT_EQ(r.exit_code, e2e::kExitFail) << r.out;
    std::string code = std::to_string(d.code);
    std::string detail = d.detail == kOpen ? "Error " + code + " trying to open bad.itb" : d.detail;
    std::string last =
        d.code == 4 ? "Error: Bad file format or a resource missing.\n" : "Error: Exit\n";
    EXPECT_TRUE(e2e::EndsWith(
        r.out, detail + "\nProcessing ITB File aborted due to error code " + code + "\n" + last))
        << r.out;
    EXPECT_FALSE(Exists("out.txt"));
  }
}

TEST_F(ItbRunTest, CountsAboveTheRecordsPresentEndTheScan) {
  MakeItb("good", BaseTable());
  Itb f{ReadFile("good.itb")};
  for (size_t count : {6, 10, 14, 36}) f.Put16(f.Hdr() + count, 32767);
  WriteFile("counts.itb", f.b);
  RunResult r = Run({"counts.itb", "out.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(Contains(ReadFile("out.txt"), "# Number of systems:  2\r\n"));
}

}  // namespace
