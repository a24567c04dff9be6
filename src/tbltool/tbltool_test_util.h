// Test support for tbltool's unit tests: builders of whole records in byte
// buffers, a file's bytes by position, and a fixture with a private
// environment (tests/unit/testenv.h) and a table open in it.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "qvdf/store/records.h"
#include "qvdf/store/store.h"
#include "qvdf/store/tabledb.h"
#include "testenv.h"

namespace rectest {

struct Sec {
  int16_t id;
  int16_t type;
  uint32_t attrs = 0;
};

using Buf = std::vector<char>;

inline Buf SystemBuf(uint16_t id, const std::vector<Sec>& secs, const char* name = "Sys") {
  Buf b(SystemRecordSize(static_cast<int>(secs.size())), 0);
  auto* r = reinterpret_cast<SystemRecord*>(b.data());
  r->nSystemID = id;
  std::strncpy(r->szName, name, sizeof r->szName - 1);
  r->nSections = static_cast<int16_t>(secs.size());
  SectionRecord* s = SystemSections(r);
  for (size_t i = 0; i < secs.size(); ++i) {
    s[i].nSectionID = secs[i].id;
    s[i].nSecType = secs[i].type;
    s[i].dwAttributes = secs[i].attrs;
    if (secs[i].attrs & 0x2) r->anSectionFlags[secs[i].type] = 1;
  }
  return b;
}
inline SystemRecord* Sys(Buf& b) { return reinterpret_cast<SystemRecord*>(b.data()); }

// Fields "F1".. with item numbers 1...
inline Buf ListBuf(uint16_t app, uint16_t secId, uint16_t secType, int nFields,
                   const char* name = "List") {
  Buf b(FieldListRecordSize(nFields), 0);
  auto* r = reinterpret_cast<FieldListRecord*>(b.data());
  r->nFields = static_cast<int16_t>(nFields);
  r->nAppID = app;
  r->nSectionID = secId;
  r->nSecType = secType;
  std::strncpy(r->szName, name, sizeof r->szName - 1);
  for (int i = 0; i < nFields; ++i) {
    FieldRecord& f = ListFields(r)[i];
    std::snprintf(f.szName, sizeof f.szName, "F%d", i + 1);
    f.nItem = static_cast<int16_t>(i + 1);
    f.nAux = -1;
  }
  return b;
}
inline FieldListRecord* List(Buf& b) { return reinterpret_cast<FieldListRecord*>(b.data()); }

// Entry i maps to target field i.
inline Buf MapBuf(int16_t srcList, int16_t tgtList, int n, uint32_t attribs = 0,
                  const char* name = "Map") {
  Buf b(FieldMapRecordSize(n), 0);
  auto* r = reinterpret_cast<FieldMapRecord*>(b.data());
  r->nSourceList = srcList;
  r->nTargetList = tgtList;
  r->dwAttribs = attribs;
  std::strncpy(r->szName, name, sizeof r->szName - 1);
  for (int i = 0; i < n; ++i) SetMapEntry(r, i, static_cast<int16_t>(i));
  return b;
}
inline FieldMapRecord* Map(Buf& b) { return reinterpret_cast<FieldMapRecord*>(b.data()); }

inline ConfigRecord Config(uint16_t srcSys, uint16_t srcSec, uint16_t tgtSys, uint16_t tgtSec,
                           uint16_t secType = 1, uint16_t mapId = 0) {
  ConfigRecord c{};
  c.nSecType = secType;
  c.dwSource = (static_cast<uint32_t>(srcSys) << 16) | srcSec;
  c.dwTarget = (static_cast<uint32_t>(tgtSys) << 16) | tgtSec;
  c.nMapID = mapId;
  c.nAux1 = -1;
  c.nAux2 = 130;
  return c;
}

inline CharMapRecord CharMap(const char* name, uint8_t shift = 0) {
  CharMapRecord c{};
  std::strncpy(c.szName, name, sizeof c.szName - 1);
  for (int i = 0; i < 256; ++i) c.abMap[i] = static_cast<uint8_t>(i + shift);
  return c;
}

// A file's bytes, and little-endian numbers within them.
using Bytes = std::string;
inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}
inline void WriteBytes(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << b;
}
inline uint32_t U32(const Bytes& b, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
inline void PutU32(Bytes& b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }
inline void PutU16(Bytes& b, size_t at, uint16_t v) { std::memcpy(b.data() + at, &v, 2); }

class RecTest : public ::testing::Test {
 protected:
  void TearDown() override { CloseTable(&db_); }
  std::string Path(const std::string& rel) const { return env.dir.Path(rel); }
  // Creates a table file and opens it read-write in *db.
  void OpenNew(const std::string& name, TableDb* db) {
    ASSERT_EQ(CreateTable(Path(name).c_str()), 0);
    ASSERT_EQ(OpenTable(Path(name).c_str(), db, 1), 0);
  }

  testenv::TestEnv env;
  TableDb db_;
};

}  // namespace rectest
