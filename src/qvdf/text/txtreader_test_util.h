// Test support for the text reader: a private directory with a fresh open
// table, a message collector, a valid version-4 table text built from
// editable lines, and record access by value.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "qvdf/store/store.h"
#include "qvdf/text/txtreader.h"
#include "qvutil/errlog.h"
#include "qvutil/options.h"

namespace txttest {

struct Msg {
  int level;
  std::string text;
  bool operator==(const Msg& o) const { return level == o.level && text == o.text; }
};
inline std::ostream& operator<<(std::ostream& os, const Msg& m) {
  return os << "(" << m.level << ", \"" << m.text << "\")";
}

inline std::vector<Msg>& Messages() {
  static std::vector<Msg> m;
  return m;
}
inline void Collect(int level, const char* text) { Messages().push_back({level, text}); }

// Joins lines with CR LF, each line ended.
inline std::string Crlf(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\r\n";
  return s;
}

inline std::string Join(const std::vector<std::string>& f) {
  std::string s;
  for (size_t i = 0; i < f.size(); ++i) s += (i ? "," : "") + f[i];
  return s;
}

// The 16 COL lines of an identity character map.
inline std::vector<std::string> IdentityCols() {
  std::vector<std::string> cols;
  static const char* hex = "0123456789abcdef";
  for (int r = 0; r < 16; ++r) {
    std::string l = "COL=";
    l += hex[r];
    for (int c = 0; c < 16; ++c) l += std::string(",") + hex[r] + hex[c];
    cols.push_back(l);
  }
  return cols;
}

// A valid version-4 table whose lines the tests edit before joining.
struct Table {
  std::vector<std::string> sys1 = {"1", "0", "1", "\"Address Book\"", "ADDRTR", "text1", "0", "0", "0",
                                   "text2", "5", "Contacts", "1", "0123456789", "1F", "3", "4", "2"};
  std::vector<std::string> sec1 = {"1", "3", "\"Phone book\"", "s2", "1", "s1", "P", "10", "0", "s3", "77"};
  std::vector<std::string> sec2 = {"2", "4", "To-dos", "", "2", "", "", "0", "1", "", ""};
  std::vector<std::string> sys2 = {"2", "1", "2", "Calendar", "CALTR", "", "1", "1", "2",
                                   "", "0", "Entries", "2", "1", "0", "0", "0", "1"};
  std::vector<std::string> sec3 = {"1", "0", "Appointments", "", "0", "", "", "0", "0", "", "0"};
  std::vector<std::string> field1 = {"1", "Name", "\"Last^First\"", "1", "T", "0", "44", "ft1", "ft2", "3", "0", "7"};
  std::vector<std::string> field2 = {"2", "Tel", "Phone", "2", "N", "5", "13", "", "", "0", "-1", "0"};
  std::vector<std::string> charmap = {"1", "Latin", "1F", "256"};
  std::vector<std::string> cols = IdentityCols();
  std::string map = "MAP=3,0";
  std::vector<std::string> table = {"TYPE=TABLE", "MAINSYSTEM=1", "MAINCLASS=2", "PRODUCTID=-5",
                                    "BUNDLEDFLAG=1",
                                    "ENABLEDPRODUCTS=8L,0X0L,0X0L,0X0L,0X0L,0X0L,0X0L,0X0L,0X0L"};

  std::vector<std::string> Lines() const {
    std::vector<std::string> l = {
        "# Test table", "TYPE=SYSTEM", "COUNT=2",
        "SYSTEM=" + Join(sys1), "SYSTEMEX1=8,1,2,3,4,5,6,7,FFFFFFFF", "SYSTEMEX2=9,10,11,12,13,ex2a,ex2b",
        "SYSTEMEX3=a,b,c,d,e", "SECTION=" + Join(sec1), "SECTION=" + Join(sec2),
        "SYSTEM=" + Join(sys2), "SYSTEMEX1=8,0,0,0,0,0,0,0,0", "SYSTEMEX2=0,0,0,0,0,,", "SYSTEMEX3=,,,,",
        "SECTION=" + Join(sec3),
        "TYPE=FIELDS", "COUNT=2",
        "LISTID=0", "APP=1", "SECID=1", "SECTYPE=3", "NAME=Phone list", "COUNT=2",
        "FIELD=" + Join(field1), "FIELD=" + Join(field2),
        "LISTID=1", "APP=2", "SECID=1", "SECTYPE=0", "NAME=Appt list", "COUNT=3",
        "FIELD=1,Start,Start,1,D,0,0,,,0,0,0", "FIELD=2,End,End,2,D,0,0,,,0,0,0",
        "FIELD=3,Text,Text,3,T,0,0,,,0,0,0",
        "TYPE=MAPS", "COUNT=1",
        "MAPID=1", "SECTYPE=3", "NAME=Book to appts", "ATTRIBS=16", "SOURCE=1,0,1", "TARGET=2,1,1",
        "COUNT=2", map,
        "TYPE=CHARMAP", "COUNT=1", "CHARMAP=" + Join(charmap)};
    l.insert(l.end(), cols.begin(), cols.end());
    l.insert(l.end(), table.begin(), table.end());
    return l;
  }
  std::string Text() const { return Crlf(Lines()); }
};

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Each test is its own process under ctest, and with a sanitizer every
    // process gets the same addresses: a random part keeps the names apart.
    static const unsigned nonce = std::random_device{}();
    static int serial = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("txtreader_test_" + std::to_string(nonce) + "_" +
            std::to_string(reinterpret_cast<uintptr_t>(this)) + "_" + std::to_string(serial++));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    ErrorLogResetForTesting();
    OptionsResetForTesting();
    ErrorLogSetPath(Path("ZmTrace.log"));
    table_ = Path("work.itb");
    ASSERT_EQ(CreateTable(table_.c_str()), 0);
    ASSERT_EQ(OpenTable(table_.c_str(), &db_, 1), 0);
    Messages().clear();
    TxtState().lastItem = 0;
  }
  void TearDown() override {
    CloseTable(&db_);
    std::filesystem::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  // Starts again from an empty table.
  void Fresh() {
    ASSERT_EQ(CloseTable(&db_), 0);
    ASSERT_EQ(CreateTable(table_.c_str()), 0);
    ASSERT_EQ(OpenTable(table_.c_str(), &db_, 1), 0);
    Messages().clear();
  }
  void WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  // Runs the three steps of a .txt input; returns ReadTxtTable's result.
  int Read(const std::string& text, int version = 4, const std::string& name = "in.txt") {
    WriteFile(name, text);
    GetValueFn getter = nullptr;
    int rc = OpenTxtInput(version, Path(name).c_str(), &getter, Collect);
    if (rc != 0) return 1000 + rc;
    rc = ReadTxtTable(&db_, getter, Collect);
    CloseTxtInput(Path(name).c_str(), Collect);
    return rc;
  }

  // Messages at one level, or all with level 0.
  std::vector<std::string> Texts(int level = 0) const {
    std::vector<std::string> out;
    for (const Msg& m : Messages())
      if (level == 0 || m.level == level) out.push_back(m.text);
    return out;
  }
  std::vector<Msg> LastMessages(size_t n) const {
    const std::vector<Msg>& m = Messages();
    return std::vector<Msg>(m.end() - static_cast<long>(std::min(n, m.size())), m.end());
  }

  std::vector<char> System(int id) {
    std::vector<char> b(static_cast<size_t>(GetSystemSize(&db_, id)));
    EXPECT_EQ(ReadSystem(&db_, id, b.data(), static_cast<int>(b.size())), 0);
    return b;
  }
  SystemRecord SystemHead(int id) {
    std::vector<char> b = System(id);
    SystemRecord r{};
    if (b.size() >= sizeof r) std::memcpy(&r, b.data(), sizeof r);
    return r;
  }
  SectionRecord Section(int id, int i) {
    std::vector<char> b = System(id);
    SectionRecord s{};
    size_t off = kSystemFixedSize + kSectionSize * static_cast<size_t>(i);
    if (b.size() >= off + sizeof s) std::memcpy(&s, b.data() + off, sizeof s);
    return s;
  }
  std::vector<char> List(int id) {
    std::vector<char> b(static_cast<size_t>(GetFieldListSize(&db_, id)));
    EXPECT_EQ(ReadFieldList(&db_, id, b.data(), static_cast<int>(b.size())), 0);
    return b;
  }
  FieldListRecord ListHead(int id) {
    std::vector<char> b = List(id);
    FieldListRecord r{};
    if (b.size() >= sizeof r) std::memcpy(&r, b.data(), sizeof r);
    return r;
  }
  FieldRecord Field(int id, int j) {
    std::vector<char> b = List(id);
    FieldRecord f{};
    size_t off = kFieldListFixedSize + kFieldSize * static_cast<size_t>(j);
    if (b.size() >= off + sizeof f) std::memcpy(&f, b.data() + off, sizeof f);
    return f;
  }

  std::filesystem::path dir_;
  std::string table_;
  TableDb db_;
};

}  // namespace txttest
