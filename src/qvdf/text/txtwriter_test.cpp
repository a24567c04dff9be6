// Unit tests of the text writer over tables built with the store's record
// operations: the cases a text input cannot produce (keys that disagree with
// their records, shared and short map records, damaged index entries, values
// no text line can carry), the name tables' reach, long lines, and every
// failure of the output file.
#include "qvdf/text/txtwriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "qvdf/store/store.h"
#include "qvdf/text/txtwriter_impl.h"
#include "qvutil/errlog.h"
#include "qvutil/options.h"

namespace {

struct Msg {
  int level;
  std::string text;
  bool operator==(const Msg& o) const { return level == o.level && text == o.text; }
};
void PrintTo(const Msg& m, std::ostream* os) { *os << "{" << m.level << ", \"" << m.text << "\"}"; }
std::vector<Msg> g_msgs;
void Capture(int level, const char* text) { g_msgs.push_back({level, text}); }

// Fails the stream writes or the close of the text output on request.
class FaultEnv : public platform::EnvWrapper {
 public:
  FaultEnv() : EnvWrapper(platform::DefaultEnv()) {}
  bool fail_writes = false;
  bool fail_close = false;
  bool lead_81 = false;  // byte 0x81 opens a double-byte character
  bool fail_alloc = false;
  platform::MemHandle MemAllocMovable(size_t n) override {
    return fail_alloc ? 0 : target()->MemAllocMovable(n);
  }
  bool IsLeadByte(unsigned char c) override {
    return lead_81 ? c == 0x81 : target()->IsLeadByte(c);
  }
  long WriteFile(platform::FileHandle h, const void* b, size_t n) override {
    if (fail_writes) return -1;
    return target()->WriteFile(h, b, n);
  }
  int CloseFile(platform::FileHandle h) override {
    int rc = target()->CloseFile(h);
    return fail_close ? -1 : rc;
  }
};

template <size_t N>
void Put(char (&field)[N], const std::string& s) {
  std::memset(field, 0, N);
  std::memcpy(field, s.data(), std::min(N, s.size()));
}

SectionRecord Section(int16_t id, int16_t type, const std::string& name) {
  SectionRecord s{};
  s.nSectionID = id;
  s.nSecType = type;
  Put(s.szName, name);
  return s;
}

std::vector<char> SystemBuf(uint16_t id, const std::string& name,
                            const std::vector<SectionRecord>& secs = {}) {
  std::vector<char> b(SystemRecordSize(static_cast<int>(secs.size())), 0);
  auto* r = reinterpret_cast<SystemRecord*>(b.data());
  r->nSystemID = id;
  r->nSections = static_cast<int16_t>(secs.size());
  Put(r->szName, name);
  Put(r->szSectionTitle, "T");
  if (!secs.empty())
    std::memcpy(SystemSections(r), secs.data(), secs.size() * sizeof(SectionRecord));
  return b;
}
const SystemRecord* Sys(const std::vector<char>& b) {
  return reinterpret_cast<const SystemRecord*>(b.data());
}

std::vector<char> ListBuf(uint16_t app, uint16_t section, int fields) {
  std::vector<char> b(FieldListRecordSize(fields), 0);
  auto* r = reinterpret_cast<FieldListRecord*>(b.data());
  r->nFields = static_cast<int16_t>(fields);
  r->nAppID = app;
  r->nSectionID = section;
  Put(r->szName, "L");
  for (int j = 0; j < fields; ++j) {
    FieldRecord& f = ListFields(r)[j];
    Put(f.szName, "f" + std::to_string(j + 1));
    Put(f.szLabel, "F");
    f.nItem = static_cast<int16_t>(j + 1);
    f.cType = 'C';
  }
  return b;
}
const FieldListRecord* List(const std::vector<char>& b) {
  return reinterpret_cast<const FieldListRecord*>(b.data());
}

std::vector<char> MapBuf(int16_t source, int16_t target, const std::vector<int16_t>& entries) {
  std::vector<char> b(FieldMapRecordSize(static_cast<int>(entries.size())), 0);
  auto* r = reinterpret_cast<FieldMapRecord*>(b.data());
  r->nSourceList = source;
  r->nTargetList = target;
  Put(r->szName, "M");
  for (size_t j = 0; j < entries.size(); ++j) SetMapEntry(r, static_cast<int>(j), entries[j]);
  return b;
}
const FieldMapRecord* Map(const std::vector<char>& b) {
  return reinterpret_cast<const FieldMapRecord*>(b.data());
}

ConfigRecord Config(uint16_t id, uint32_t source, uint32_t target, uint16_t mapId = 0) {
  ConfigRecord c{};
  c.nConfigID = id;
  c.nMapID = mapId ? mapId : id;
  c.dwSource = source;
  c.dwTarget = target;
  return c;
}

const char kSep[] =
    "#------------------------------------------------------------------------------";

class TxtWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("txtwriter_test_" + std::to_string(std::random_device{}()) + "_" +
            std::to_string(serial++));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    platform::Env::SetForTesting(&env_);
    ErrorLogResetForTesting();
    OptionsResetForTesting();
    ErrorLogSetPath(Path("ZmTrace.log"));
    ASSERT_EQ(CreateTable(Path("t.itb").c_str()), 0);
    ASSERT_EQ(OpenTable(Path("t.itb").c_str(), &db_, 1), 0);
    g_msgs.clear();
  }
  void TearDown() override {
    env_.fail_writes = env_.fail_close = env_.lead_81 = env_.fail_alloc = false;
    CloseTable(&db_);
    platform::Env::SetForTesting(nullptr);
    std::filesystem::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // The three steps as the dispatcher runs them; the first nonzero code.
  int Write(int version, const std::string& name) {
    int rc = OpenTxtOutput(version, name.c_str(), Capture);
    if (rc != 0) return rc;
    rc = WriteTxtTable(&db_, Capture);
    if (rc != 0) {
      AbandonTxtOutput();
      return rc;
    }
    return FinishTxtOutput(name.c_str(), Capture);
  }
  // The file's lines; every line must end in CR LF.
  std::vector<std::string> Lines(const std::string& path) {
    std::string text = Read(path);
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find("\r\n", pos);
      EXPECT_NE(end, std::string::npos) << "unterminated line at " << pos;
      if (end == std::string::npos) break;
      out.push_back(text.substr(pos, end - pos));
      pos = end + 2;
    }
    return out;
  }
  // The lines from the first that begins with `from` up to (without) the
  // next separator line, after passing `skip` separators.
  std::vector<std::string> Group(const std::vector<std::string>& lines, const std::string& from,
                                 int skip = 0) {
    std::vector<std::string> out;
    bool in = false;
    for (const std::string& l : lines) {
      if (!in && l.rfind(from, 0) == 0) in = true;
      if (in && l == kSep && skip-- == 0) break;
      if (in) out.push_back(l);
    }
    return out;
  }
  bool Sent(const Msg& m) const {
    return std::find(g_msgs.begin(), g_msgs.end(), m) != g_msgs.end();
  }
  std::vector<Msg> MessagesAt(int level) const {
    std::vector<Msg> out;
    for (const Msg& m : g_msgs)
      if (m.level == level) out.push_back(m);
    return out;
  }

  FaultEnv env_;
  std::filesystem::path dir_;
  TableDb db_;
};

}  // namespace

TEST_F(TxtWriterTest, EmptyTableGivesEveryBlockWithZeroCounts) {
  std::string out = Path("e4.txt");
  ASSERT_EQ(Write(4, out), 0);
  const std::string head =
      "# QVTB file version:  4\r\n"
      "# QVTB last base map:  0\r\n"
      "# Number of systems:  0\r\n"
      "# Number of field lists:  0\r\n"
      "# Number of field maps:  0\r\n"
      "# Number of CharMaps:  0\r\n"
      "# System record size: 1536\r\n"
      "# Section record size: 276\r\n"
      "# Field list record size: 240\r\n"
      "# Field record size: 164\r\n"
      "# Config. record size: 20\r\n"
      "# Field map record size: 76\r\n"
      "# CharMap record size: 325\r\n";
  const std::string sep = std::string(kSep) + "\r\n";
  const std::string blocks = sep + "TYPE=SYSTEM\r\nCOUNT=0\r\n" + sep +
                             "TYPE=FIELDS\r\nCOUNT=0\r\n" + sep + "TYPE=MAPS\r\nCOUNT=0\r\n" + sep +
                             "TYPE=CHARMAP\r\nCOUNT=0\r\n";
  EXPECT_EQ(Read(out), "# QVTB file name:  " + out + "\r\n" + head + blocks + sep +
                           "TYPE=TABLE\r\nMAINSYSTEM=0\r\nMAINCLASS=0\r\nPRODUCTID=0\r\n"
                           "BUNDLEDFLAG=0\r\n"
                           "ENABLEDPRODUCTS=8L,0X0L,0X0L,0X0L,0X0L,0X0L,0X0L,0X0L,0X0L\r\n"
                           "# Processing completed successfully\r\n");
  std::vector<Msg> want = {
      {60, "QVTB file name:  " + out},
      {60, "QVTB file version:  4"},
      {40, "QVTB last base map:  0"},
      {20,
       "# System record size: 1536\n# Section record size: 276\n# Field list record size: 240\n"
       "# Field record size: 164\n# Config. record size: 20\n# Field map record size: 76\n"
       "# CharMap record size: 325"},
      {100, " Number of systems:  0"},
      {100, " Number of field lists:  0"},
      {100, " Number of field maps:  0"},
      {100, " Number of CharMaps:  0"},
      {60, "Processing completed successfully"},
  };
  EXPECT_EQ(g_msgs, want);

  // Version 2 (and 3) end after the character maps.
  std::string out2 = Path("e2.txt");
  ASSERT_EQ(Write(2, out2), 0);
  std::string v2head = head;
  v2head.replace(v2head.find("  4"), 3, "  2");
  EXPECT_EQ(Read(out2), "# QVTB file name:  " + out2 + "\r\n" + v2head + blocks +
                            "# Processing completed successfully\r\n");
}

TEST_F(TxtWriterTest, SystemLinesPrintSixteenBitFieldsSignedAndKeepOnlyPrintableSectionChars) {
  std::vector<SectionRecord> secs = {Section(2, 1, "Appts"), Section(5, 9, "Todo"),
                                     Section(6, 0, "X"), Section(7, 0, "Y")};
  secs[0].cSecChar = '\x01';
  secs[1].cSecChar = '\x7f';
  secs[2].cSecChar = static_cast<char>(0x80);
  secs[3].cSecChar = ' ';
  std::vector<char> b = SystemBuf(40000, "Cal", secs);
  auto* r = reinterpret_cast<SystemRecord*>(b.data());
  r->nClass = -1;
  r->nType = 23;
  r->nAccessType = 8;
  Put(r->szTranslator, "TR");
  r->anSectionFlags[0] = 1;
  r->anSectionFlags[2] = 2;
  r->dwAttributes = 0xFFFFFFFF;
  ASSERT_EQ(AddSystem(&db_, 3, Sys(b)), 0);

  std::string out = Path("s.txt");
  ASSERT_EQ(Write(3, out), 0);
  std::vector<std::string> want = {
      "## WARNING -- system ID for key 3 is -25536",
      kSep,
      "SYSTEM=-25536,-1,23,\"Cal\",TR,,0,0,0,,0,T,8,1010000000,0Xffffffff,0,0,4",
      "SECTION=2,1,\"Appts\",,0,,,0X0,0,,0",
      "SECTION=5,9,\"Todo\",,0,,\x7f,0X0,0,,0",
      "SECTION=6,0,\"X\",,0,,,0X0,0,,0",
      "SECTION=7,0,\"Y\",,0,, ,0X0,0,,0",
  };
  EXPECT_EQ(Group(Lines(out), "## WARNING", 1), want);
  EXPECT_TRUE(Sent({100, "## WARNING -- system ID for key 3 is -25536"}));
}

TEST_F(TxtWriterTest, FieldLinesCaretCommasAndCarryTheMappingCodeFromVersion3) {
  env_.lead_81 = true;
  ASSERT_EQ(AddSystem(&db_, 1, Sys(SystemBuf(1, "A"))), 0);
  std::vector<char> b = ListBuf(1, 0, 2);
  auto* r = reinterpret_cast<FieldListRecord*>(b.data());
  FieldRecord& f = ListFields(r)[0];
  Put(f.szName, "a,b");
  f.cType = 0x4142;  // the type is the low byte
  f.dwMapCode = 0xFFFFFFFF;
  f.nFieldValue = -5;
  f.nTerminator = 9;
  Put(f.szFieldText1, "t1");
  f.dwAttributes = 0xA0;
  f.nAssocField = -3;
  Put(ListFields(r)[1].szName, "\x81,x,y");  // the first comma is a trail byte
  ASSERT_EQ(AddFieldList(&db_, 0, List(b)), 0);

  std::string v3 = Path("v3.txt"), v2 = Path("v2.txt");
  ASSERT_EQ(Write(3, v3), 0);
  ASSERT_EQ(Write(2, v2), 0);
  std::vector<std::string> want3 = {
      "# Record length: 404",
      "LISTID=0",
      "APP=1",
      "SECID=0",
      "SECTYPE=0",
      "NAME=L",
      "COUNT=2",
      "FIELD=1,\"F\",\"a^b\",1,B,-5,9,t1,,0Xa0,-3,-1",
      "FIELD=2,\"F\",\"\x81,x^y\",2,C,0,0,,,0X0,0,0",
  };
  EXPECT_EQ(Group(Lines(v3), "# Record length"), want3);
  std::vector<std::string> want2 = {
      "# Record length: 404",
      "LISTID=0",
      "APP=1",
      "SECTYPE=0",
      "NAME=L",
      "COUNT=2",
      "FIELD=1,\"F\",\"a^b\",1,B,-5,9,t1,,0Xa0,-3",
      "FIELD=2,\"F\",\"\x81,x^y\",2,C,0,0,,,0X0,0",
  };
  EXPECT_EQ(Group(Lines(v2), "# Record length"), want2);
}

TEST_F(TxtWriterTest, SharedMapShowsItsBaseMapAndShortRecordsReadAsUnmapped) {
  ASSERT_EQ(AddSystem(&db_, 1, Sys(SystemBuf(1, "A", {Section(1, 2, "S1")}))), 0);
  ASSERT_EQ(AddSystem(&db_, 2, Sys(SystemBuf(2, "B", {Section(4, 2, "S4")}))), 0);
  ASSERT_EQ(AddFieldList(&db_, 0, List(ListBuf(1, 1, 2))), 0);
  ASSERT_EQ(AddFieldList(&db_, 1, List(ListBuf(2, 4, 3))), 0);
  std::vector<char> m = MapBuf(0, 1, {2, -1});
  reinterpret_cast<FieldMapRecord*>(m.data())->dwAttribs = 0x10;
  ConfigRecord c1 = Config(1, 1u << 16 | 1, 2u << 16 | 4);
  ASSERT_EQ(AddFieldMap(&db_, 1, &c1, Map(m)), 0);
  ConfigRecord c2 = Config(2, 1u << 16 | 1, 2u << 16 | 4, 1);
  ASSERT_EQ(AddFieldMap(&db_, 2, &c2, nullptr), 0);
  // The source list grows after the map was stored.
  ASSERT_EQ(DeleteFieldList(&db_, 0), 0);
  ASSERT_EQ(AddFieldList(&db_, 0, List(ListBuf(1, 1, 4))), 0);

  std::string out = Path("m.txt");
  ASSERT_EQ(Write(3, out), 0);
  std::vector<std::string> lines = Lines(out);
  EXPECT_EQ(lines[2], "# QVTB last base map:  1");
  std::vector<std::string> body = {"# Map A S1 to B S4", "MAPID=1",      "SECTYPE=0",    "NAME=M",
                                   "ATTRIBS=16",         "SOURCE=1,0,1", "TARGET=2,1,4", "COUNT=4",
                                   "MAP=3,0,0,0"};
  EXPECT_EQ(Group(lines, "# Map A"), body);
  body.insert(body.begin(), "## Warning -- Map Key= 2 MapID= 1 ConfigID= 2");
  EXPECT_EQ(Group(lines, "## Warning -- Map Key"), body);
  EXPECT_TRUE(Sent({100, "## Warning -- Map Key= 2 MapID= 1 ConfigID= 2"}));
}

TEST_F(TxtWriterTest, NameTablesReachTheIndexCapacityAndUnknownsAreUnspecified) {
  ASSERT_EQ(AddSystem(&db_, 254, Sys(SystemBuf(254, "Edge", {Section(1, 0, "E1")}))), 0);
  std::vector<SectionRecord> many;
  for (int16_t i = 1; i <= 30; ++i) many.push_back(Section(i, 0, "S" + std::to_string(i)));
  ASSERT_EQ(AddSystem(&db_, 280, Sys(SystemBuf(280, "Big", many))), 0);
  ASSERT_EQ(AddFieldList(&db_, 0, List(ListBuf(280, 30, 1))), 0);
  ASSERT_EQ(AddFieldList(&db_, 1, List(ListBuf(254, 1, 1))), 0);
  ConfigRecord c1 = Config(1, 280u << 16 | 30, 254u << 16 | 99);
  ASSERT_EQ(AddFieldMap(&db_, 1, &c1, Map(MapBuf(0, 1, {0}))), 0);
  ConfigRecord c2 = Config(2, 999u << 16 | 1, 254u << 16 | 1);
  ASSERT_EQ(AddFieldMap(&db_, 2, &c2, Map(MapBuf(0, 1, {-1}))), 0);

  std::string out = Path("n.txt");
  ASSERT_EQ(Write(4, out), 0);
  std::vector<std::string> lines = Lines(out);
  std::vector<std::string> map1 = {"## Warning -- Unspecified Target Section detected",
                                   "# Map Big S30 to Edge <Unspecified>", "MAPID=1"};
  std::vector<std::string> map2 = {"## Warning -- Unspecified Source Section detected",
                                   "# Map  <Unspecified> to Edge E1", "MAPID=2"};
  std::vector<std::string> g1 = Group(lines, "## Warning -- Unspecified Target");
  std::vector<std::string> g2 = Group(lines, "## Warning -- Unspecified Source");
  ASSERT_GE(g1.size(), 3u);
  ASSERT_GE(g2.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(g1.begin(), g1.begin() + 3), map1);
  EXPECT_EQ(std::vector<std::string>(g2.begin(), g2.begin() + 3), map2);
  EXPECT_EQ(g1.back(), "MAP=1");
  EXPECT_EQ(g2.back(), "MAP=0");
  std::vector<Msg> want = {{80, "## Warning -- Unspecified Target Section detected"},
                           {80, "## Warning -- Unspecified Source Section detected"}};
  EXPECT_EQ(MessagesAt(80), want);
}

TEST_F(TxtWriterTest, LinesPastTheReadersLimitAreWrittenWholeWithOneWarningEach) {
  std::vector<char> a = SystemBuf(1, "A"), b = SystemBuf(2, "B");
  auto* ra = reinterpret_cast<SystemRecord*>(a.data());
  auto* rb = reinterpret_cast<SystemRecord*>(b.data());
  Put(ra->szEx3Text4, std::string(32, 'd'));
  Put(ra->szEx3Text5, std::string(463, 'e'));
  Put(rb->szEx3Text4, std::string(33, 'd'));
  Put(rb->szEx3Text5, std::string(463, 'e'));
  ASSERT_EQ(AddSystem(&db_, 1, ra), 0);
  ASSERT_EQ(AddSystem(&db_, 2, rb), 0);

  std::string out = Path("l.txt");
  ASSERT_EQ(Write(4, out), 0);
  std::vector<std::string> ex3;
  for (const std::string& l : Lines(out))
    if (l.rfind("SYSTEMEX3=", 0) == 0) ex3.push_back(l);
  ASSERT_EQ(ex3.size(), 2u);
  EXPECT_EQ(ex3[0], "SYSTEMEX3=,,," + std::string(32, 'd') + "," + std::string(463, 'e'));
  EXPECT_EQ(ex3[0].size(), 509u);
  EXPECT_EQ(ex3[1], "SYSTEMEX3=,,," + std::string(33, 'd') + "," + std::string(463, 'e'));
  std::vector<Msg> want = {{80, "***WARNING: Line longer than 509 characters: SYSTEMEX3"}};
  EXPECT_EQ(MessagesAt(80), want);
}

struct BadValue {
  const char* name;
  int version;
  void (*spoil)(TableDb* db);
  const char* error;    // the value message
  const char* failure;  // the block's failure line
};

void SpoilSystemName(TableDb* db) {
  std::vector<char> b = SystemBuf(1, "Bad\nName");
  AddSystem(db, 1, Sys(b));
}
void SpoilSectionText(TableDb* db) {
  std::vector<SectionRecord> s = {Section(1, 0, "S")};
  Put(s[0].szSecText3, "x\x1ay");
  AddSystem(db, 1, Sys(SystemBuf(1, "A", s)));
}
void SpoilExtraText(TableDb* db) {
  std::vector<char> b = SystemBuf(1, "A");
  Put(reinterpret_cast<SystemRecord*>(b.data())->szEx3Text5, "a\rb");
  AddSystem(db, 1, Sys(b));
}
void SpoilFieldType(TableDb* db) {
  AddSystem(db, 1, Sys(SystemBuf(1, "A")));
  std::vector<char> b = ListBuf(1, 0, 2);
  ListFields(reinterpret_cast<FieldListRecord*>(b.data()))[1].cType = 0;
  AddFieldList(db, 4, List(b));
}
void SpoilFieldLabel(TableDb* db) {
  AddSystem(db, 1, Sys(SystemBuf(1, "A")));
  std::vector<char> b = ListBuf(1, 0, 1);
  Put(ListFields(reinterpret_cast<FieldListRecord*>(b.data()))[0].szLabel, "L\r\n");
  AddFieldList(db, 0, List(b));
}
void SpoilMapName(TableDb* db) {
  AddSystem(db, 1, Sys(SystemBuf(1, "A")));
  AddFieldList(db, 0, List(ListBuf(1, 0, 1)));
  std::vector<char> m = MapBuf(0, 0, {0});
  Put(reinterpret_cast<FieldMapRecord*>(m.data())->szName, "two\nlines");
  ConfigRecord c = Config(3, 1u << 16, 1u << 16);
  AddFieldMap(db, 3, &c, Map(m));
}
void SpoilCharMapName(TableDb* db) {
  CharMapRecord c{};
  Put(c.szName, "cm\n");
  AddCharMap(db, 2, &c);
}

class TxtWriterBadValueTest : public TxtWriterTest,
                              public ::testing::WithParamInterface<BadValue> {};

TEST_P(TxtWriterBadValueTest, FailsTheBlockWithCode4AndWritesNoPartOfTheRecord) {
  const BadValue& p = GetParam();
  p.spoil(&db_);
  std::string out = Path("bad.txt");
  EXPECT_EQ(Write(p.version, out), 4);
  std::vector<std::string> lines = Lines(out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), p.failure);
  // The failing record left no line of its own before the failure line.
  EXPECT_NE(lines[lines.size() - 2].rfind("COUNT=", 0), std::string::npos);
  ASSERT_GE(g_msgs.size(), 2u);
  EXPECT_EQ(g_msgs[g_msgs.size() - 2], (Msg{100, p.error}));
  EXPECT_EQ(g_msgs.back(), (Msg{100, p.failure}));

  // The abandoned output leaves the next one whole.
  g_msgs.clear();
  std::string next = Path("next.txt");
  OpenTxtOutput(p.version, next.c_str(), Capture);
  FinishTxtOutput(next.c_str(), Capture);
  EXPECT_EQ(Read(next),
            "# QVTB file name:  " + next + "\r\n# Processing completed successfully\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Values, TxtWriterBadValueTest,
    ::testing::Values(BadValue{"SystemName", 2, SpoilSystemName,
                               "***ERROR: Value cannot be written as text in system 1",
                               "## Error 4 logging system records"},
                      BadValue{"SectionText", 3, SpoilSectionText,
                               "***ERROR: Value cannot be written as text in system 1",
                               "## Error 4 logging system records"},
                      BadValue{"ExtraTextInVersion4", 4, SpoilExtraText,
                               "***ERROR: Value cannot be written as text in system 1",
                               "## Error 4 logging system records"},
                      BadValue{"FieldTypeZero", 4, SpoilFieldType,
                               "***ERROR: Value cannot be written as text in field list 4",
                               "## Error 4 logging field list records"},
                      BadValue{"FieldLabel", 3, SpoilFieldLabel,
                               "***ERROR: Value cannot be written as text in field list 0",
                               "## Error 4 logging field list records"},
                      BadValue{"MapName", 4, SpoilMapName,
                               "***ERROR: Value cannot be written as text in field map 3",
                               "## Error 4 logging map/config records"},
                      BadValue{"CharMapName", 2, SpoilCharMapName,
                               "***ERROR: Value cannot be written as text in CharMap 2",
                               "## Error 4 logging CharMap records"}),
    [](const ::testing::TestParamInfo<BadValue>& i) { return std::string(i.param.name); });

TEST_F(TxtWriterTest, TextsThatOnlyVersion4WritesDoNotFailOlderVersions) {
  SpoilExtraText(&db_);
  EXPECT_EQ(Write(3, Path("v3.txt")), 0);
}

TEST_F(TxtWriterTest, OutputThatCannotBeCreatedFailsWith9) {
  std::string out = Path("missing/dir/out.txt");
  EXPECT_EQ(OpenTxtOutput(4, out.c_str(), Capture), 9);
  std::vector<Msg> want = {{100, "Unable to open file " + out}};
  EXPECT_EQ(g_msgs, want);
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(TxtWriterTest, FailedWritesAndClosesAreReportedByFinishWith6) {
  ASSERT_EQ(AddSystem(&db_, 1, Sys(SystemBuf(1, "A"))), 0);
  for (int which = 0; which < 2; ++which) {
    SCOPED_TRACE(which == 0 ? "write" : "close");
    g_msgs.clear();
    std::string out = Path("f" + std::to_string(which) + ".txt");
    ASSERT_EQ(OpenTxtOutput(4, out.c_str(), Capture), 0);
    (which == 0 ? env_.fail_writes : env_.fail_close) = true;
    EXPECT_EQ(WriteTxtTable(&db_, Capture), 0);
    EXPECT_EQ(FinishTxtOutput(out.c_str(), Capture), 6);
    env_.fail_writes = env_.fail_close = false;
    EXPECT_EQ(g_msgs.back(), (Msg{100, "Error writing " + out}));
    for (const Msg& m : g_msgs) EXPECT_NE(m.text, "Processing completed successfully");
  }
  // A later output of the run is unaffected.
  EXPECT_EQ(Write(4, Path("ok.txt")), 0);
}

TEST_F(TxtWriterTest, ExhaustedMemoryEndsTheBlockWith12) {
  ASSERT_EQ(AddSystem(&db_, 1, Sys(SystemBuf(1, "A"))), 0);
  std::string out = Path("mem.txt");
  ASSERT_EQ(OpenTxtOutput(4, out.c_str(), Capture), 0);
  env_.fail_alloc = true;
  EXPECT_EQ(WriteTxtTable(&db_, Capture), 12);
  env_.fail_alloc = false;
  AbandonTxtOutput();
  EXPECT_EQ(g_msgs.back(), (Msg{100, "## Error 12 logging system records"}));
  std::vector<std::string> lines = Lines(out);
  EXPECT_EQ(lines.back(), "## Error 12 logging system records");
}

TEST_F(TxtWriterTest, ScanStopsAtTheIndexCapacityWhenTheCountClaimsMore) {
  ASSERT_EQ(AddSystem(&db_, 1, Sys(SystemBuf(1, "A"))), 0);
  ASSERT_EQ(AddSystem(&db_, 64, Sys(SystemBuf(64, "B"))), 0);
  db_.header.nSystems = 5;
  std::string out = Path("c.txt");
  EXPECT_EQ(Write(2, out), 0);
  db_.header.nSystems = 2;
  std::vector<std::string> lines = Lines(out);
  std::vector<std::string> systems;
  for (const std::string& l : lines)
    if (l.rfind("SYSTEM=", 0) == 0) systems.push_back(l.substr(0, 9));
  EXPECT_EQ(systems, (std::vector<std::string>{"SYSTEM=1,", "SYSTEM=64"}));
  EXPECT_EQ(Group(lines, "TYPE=SYSTEM"), (std::vector<std::string>{"TYPE=SYSTEM", "COUNT=5"}));
}

TEST_F(TxtWriterTest, ListsThatDisagreeWithTheirIndexEntryAreWrittenAfterWarnings) {
  ASSERT_EQ(AddSystem(&db_, 1, Sys(SystemBuf(1, "A"))), 0);
  ASSERT_EQ(AddFieldList(&db_, 0, List(ListBuf(1, 0, 1))), 0);
  FieldListIndexEntry& e = db_.fieldListIndex.as<FieldListIndexEntry>()[0];
  e.nAppID = 9;
  e.nSecType = 3;
  e.wChecksum = static_cast<uint16_t>(e.wChecksum ^ 1);
  std::string out = Path("w.txt");
  EXPECT_EQ(Write(3, out), 0);
  std::vector<std::string> g = Group(Lines(out), "## WARNING -- field list");
  std::vector<std::string> want = {
      "## WARNING -- field list appID = 1 field index appID = 9 record= 0.",
      "## WARNING -- field sectionID = 0 index sectionID = 3 record= 0.",
      "## WARNING -- checksums do not match, field list record= 0.",
  };
  EXPECT_EQ(g, want);
  std::vector<Msg> msgs;
  for (const Msg& m : g_msgs)
    if (m.text.rfind("## WARNING", 0) == 0) msgs.push_back(m);
  EXPECT_EQ(msgs, (std::vector<Msg>{{80, want[0]}, {80, want[1]}, {100, want[2]}}));
  EXPECT_EQ(Group(Lines(out), "# Record length")[1], "LISTID=0");
}

TEST_F(TxtWriterTest, EnabledProductsAreTheOrOfEverySystemForEachOutput) {
  std::vector<char> a = SystemBuf(1, "A"), b = SystemBuf(2, "B");
  auto* ra = reinterpret_cast<SystemRecord*>(a.data());
  auto* rb = reinterpret_cast<SystemRecord*>(b.data());
  ra->adwProductFlags[0] = 1;
  ra->adwProductFlags[1] = 0xFFFFFFFF;
  rb->adwProductFlags[0] = 2;
  rb->adwProductFlags[7] = 0x80000000;
  ASSERT_EQ(AddSystem(&db_, 1, ra), 0);
  ASSERT_EQ(AddSystem(&db_, 2, rb), 0);
  const std::string want =
      "ENABLEDPRODUCTS=8L,0X3L,0XffffffffL,0X0L,0X0L,0X0L,0X0L,0X0L,0X80000000L";
  for (const char* name : {"p1.txt", "p2.txt"}) {
    ASSERT_EQ(Write(4, Path(name)), 0);
    std::vector<std::string> lines = Lines(Path(name));
    EXPECT_EQ(lines[lines.size() - 2], want) << name;
  }
  std::vector<std::string> ex1;
  for (const std::string& l : Lines(Path("p1.txt")))
    if (l.rfind("SYSTEMEX1=", 0) == 0) ex1.push_back(l);
  EXPECT_EQ(ex1, (std::vector<std::string>{"SYSTEMEX1=8,0X1,0Xffffffff,0X0,0X0,0X0,0X0,0X0,0X0",
                                           "SYSTEMEX1=8,0X2,0X0,0X0,0X0,0X0,0X0,0X0,0X80000000"}));
}

TEST_F(TxtWriterTest, NumbersOfEveryLengthAndSignAreWrittenInFull) {
  ASSERT_EQ(AddSystem(&db_, 1, Sys(SystemBuf(1, "A"))), 0);
  const std::vector<int32_t> values = {0,         9,          10,        99,        100,
                                       999,       1000,       65535,     99999,     100000,
                                       999999999, 1000000000, INT32_MAX, -1,        -9,
                                       -10,       -100,       -99999,    -1000000000, INT32_MIN,
                                       9999,      10000,      999999,    1000000,   9999999,
                                       10000000,  99999999,   100000000, -12345678, 1023,
                                       1024,      -2147483647};
  const int n = static_cast<int>(values.size());
  std::vector<char> b = ListBuf(1, 0, n);
  auto* r = reinterpret_cast<FieldListRecord*>(b.data());
  for (int j = 0; j < n; ++j) {
    FieldRecord& f = ListFields(r)[j];
    f.nFieldValue = values[j];
    f.dwMapCode = static_cast<uint32_t>(values[n - 1 - j]);
    f.dwAttributes = static_cast<uint32_t>(values[j]);
  }
  ASSERT_EQ(AddFieldList(&db_, 0, List(b)), 0);

  std::string out = Path("n.txt");
  ASSERT_EQ(Write(3, out), 0);
  std::vector<std::string> fields;
  for (const std::string& l : Lines(out))
    if (l.rfind("FIELD=", 0) == 0) fields.push_back(l);
  ASSERT_EQ(fields.size(), values.size());
  for (int j = 0; j < n; ++j) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", static_cast<uint32_t>(values[j]));
    EXPECT_EQ(fields[j], "FIELD=" + std::to_string(j + 1) + ",\"F\",\"f" + std::to_string(j + 1) +
                             "\"," + std::to_string(j + 1) + ",C," + std::to_string(values[j]) +
                             ",0,,,0X" + hex + ",0," + std::to_string(values[n - 1 - j]));
  }
}

TEST_F(TxtWriterTest, OutputLargerThanTheWriteBufferKeepsEveryLineWhole) {
  ASSERT_EQ(AddSystem(&db_, 1, Sys(SystemBuf(1, "A"))), 0);
  // About 140 bytes a line: the field lines alone pass 64 KiB twice.
  const int n = 1000;
  std::vector<char> b = ListBuf(1, 0, n);
  auto* r = reinterpret_cast<FieldListRecord*>(b.data());
  for (int j = 0; j < n; ++j) {
    FieldRecord& f = ListFields(r)[j];
    Put(f.szName, std::string(60, static_cast<char>('a' + j % 26)) + std::to_string(j % 1000));
    Put(f.szLabel, std::string(32, static_cast<char>('A' + j % 26)));
  }
  ASSERT_EQ(AddFieldList(&db_, 0, List(b)), 0);

  std::string out = Path("big.txt");
  ASSERT_EQ(Write(2, out), 0);
  std::vector<std::string> lines = Lines(out);
  std::vector<std::string> fields;
  for (const std::string& l : lines)
    if (l.rfind("FIELD=", 0) == 0) fields.push_back(l);
  ASSERT_EQ(fields.size(), static_cast<size_t>(n));
  for (int j = 0; j < n; ++j) {
    std::string name = std::string(60, static_cast<char>('a' + j % 26)) + std::to_string(j % 1000);
    ASSERT_EQ(fields[j], "FIELD=" + std::to_string(j + 1) + ",\"" +
                             std::string(32, static_cast<char>('A' + j % 26)) + "\",\"" + name +
                             "\"," + std::to_string(static_cast<int16_t>(j + 1)) +
                             ",C,0,0,,,0X0,0")
        << j;
  }
  EXPECT_EQ(lines.back(), "# Processing completed successfully");
}

TEST(TxtWriterText, LineBreakingBytesCountOnlyBeforeTheNul) {
  // Every position of a field as wide as the widest, and the three bytes
  // that would break a line.
  for (size_t pos = 0; pos < 64; ++pos) {
    for (char bad : {'\r', '\n', '\x1a'}) {
      char field[64];
      std::memset(field, 'x', sizeof field);
      field[pos] = bad;
      EXPECT_FALSE(txtw::Writable(field, sizeof field)) << pos << " " << int(bad);
      EXPECT_FALSE(txtw::Writable(field, pos + 1)) << pos << " " << int(bad);
      // Past the field's width it is not looked at.
      EXPECT_TRUE(txtw::Writable(field, pos)) << pos;
      // Other control bytes before it hide nothing.
      char controls[64];
      std::memset(controls, '\x01', sizeof controls);
      controls[pos] = bad;
      EXPECT_FALSE(txtw::Writable(controls, sizeof controls)) << pos << " " << int(bad);
      // Past the NUL it is padding, not text.
      if (pos > 0) {
        field[pos - 1] = '\0';
        EXPECT_TRUE(txtw::Writable(field, sizeof field)) << pos << " " << int(bad);
      }
    }
  }
  // Other control bytes and high bytes are text.
  const char other[22] = "\x01\x1b\x1f\x7f\x80\xff\t\x0b\x0c \x19\x1c\x0e\x0f\x10";
  EXPECT_TRUE(txtw::Writable(other, sizeof other));
}
