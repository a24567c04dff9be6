// Helpers shared by the subset module's tests: a private temporary
// directory (also TMPDIR for the run), a message collector, and a builder
// of small source tables with systems, sections, field lists, maps and
// charmaps.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "qvdf/store/records.h"
#include "qvdf/store/store.h"
#include "qvdf/store/tabledb.h"
#include "qvutil/types.h"

namespace subset_test {

struct Message {
  int level;
  std::string text;
  bool operator==(const Message& o) const { return level == o.level && text == o.text; }
};
inline std::ostream& operator<<(std::ostream& os, const Message& m) {
  return os << m.level << ":\"" << m.text << "\"";
}

inline std::vector<Message>& Messages() {
  static std::vector<Message> all;
  return all;
}
inline void Collect(int level, const char* text) { Messages().push_back({level, text}); }

// Messages at or above `level`.
inline std::vector<Message> MessagesFrom(int level) {
  std::vector<Message> out;
  for (const Message& m : Messages())
    if (m.level >= level) out.push_back(m);
  return out;
}

inline bool HasMessage(int level, const std::string& text) {
  for (const Message& m : Messages())
    if (m.level == level && m.text == text) return true;
  return false;
}

// Every test gets a fresh directory, made the temporary directory too.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Messages().clear();
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           (std::string("subset_") + info->test_suite_name() + "_" + info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    const char* old = std::getenv("TMPDIR");
    had_tmpdir_ = old != nullptr;
    if (old) old_tmpdir_ = old;
    setenv("TMPDIR", (dir_.string() + "/").c_str(), 1);
  }
  void TearDown() override {
    if (had_tmpdir_)
      setenv("TMPDIR", old_tmpdir_.c_str(), 1);
    else
      unsetenv("TMPDIR");
    std::filesystem::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string WriteFile(const std::string& name, const std::string& bytes) {
    std::ofstream(Path(name), std::ios::binary) << bytes;
    return Path(name);
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::filesystem::path dir_;

 private:
  bool had_tmpdir_ = false;
  std::string old_tmpdir_;
};

// ---- building records

struct SectionSpec {
  int id;
  int type;
  const char* name;
};

inline std::vector<unsigned char> MakeSystem(int id, const char* name, const char* translator,
                                             uint32_t attributes, int charMap1, int charMap2,
                                             const std::vector<SectionSpec>& sections) {
  std::vector<unsigned char> buf(SystemRecordSize(static_cast<int>(sections.size())), 0);
  SystemRecord* r = reinterpret_cast<SystemRecord*>(buf.data());
  r->nSystemID = static_cast<uint16_t>(id);
  std::strncpy(r->szName, name, sizeof r->szName - 1);
  std::strncpy(r->szTranslator, translator, sizeof r->szTranslator - 1);
  r->dwAttributes = attributes;
  r->nCharMap1 = static_cast<int16_t>(charMap1);
  r->nCharMap2 = static_cast<int16_t>(charMap2);
  r->nSections = static_cast<int16_t>(sections.size());
  SectionRecord* s = SystemSections(r);
  for (size_t i = 0; i < sections.size(); ++i) {
    s[i].nSectionID = static_cast<int16_t>(sections[i].id);
    s[i].nSecType = static_cast<int16_t>(sections[i].type);
    s[i].dwAttributes = 0x2;
    std::strncpy(s[i].szName, sections[i].name, sizeof s[i].szName - 1);
    r->anSectionFlags[sections[i].type] = 1;
  }
  return buf;
}

inline std::vector<unsigned char> MakeFieldList(int app, int section, int type, const char* name,
                                                int nFields) {
  std::vector<unsigned char> buf(FieldListRecordSize(nFields), 0);
  FieldListRecord* r = reinterpret_cast<FieldListRecord*>(buf.data());
  r->nFields = static_cast<int16_t>(nFields);
  r->nAppID = static_cast<uint16_t>(app);
  r->nSectionID = static_cast<uint16_t>(section);
  r->nSecType = static_cast<uint16_t>(type);
  std::strncpy(r->szName, name, sizeof r->szName - 1);
  FieldRecord* f = ListFields(r);
  for (int i = 0; i < nFields; ++i) {
    std::snprintf(f[i].szName, sizeof f[i].szName, "Field%d", i + 1);
    f[i].nItem = static_cast<int16_t>(i + 1);
  }
  return buf;
}

inline std::vector<unsigned char> MakeCharMap(const char* name) {
  std::vector<unsigned char> buf(kCharMapSize, 0);
  CharMapRecord* r = reinterpret_cast<CharMapRecord*>(buf.data());
  r->nChars = 256;
  std::strncpy(r->szName, name, sizeof r->szName - 1);
  for (int i = 0; i < 256; ++i) r->abMap[i] = static_cast<uint8_t>(255 - i);
  return buf;
}

// A map from list `src` (nFields fields) to list `dst`, identity mapping.
inline int AddMap(TableDb* db, int id, int srcSystem, int srcSection, int dstSystem, int dstSection,
                  int type, int srcList, int dstList, int nFields) {
  std::vector<unsigned char> buf(FieldMapRecordSize(nFields), 0);
  FieldMapRecord* r = reinterpret_cast<FieldMapRecord*>(buf.data());
  r->nSourceList = static_cast<int16_t>(srcList);
  r->nTargetList = static_cast<int16_t>(dstList);
  std::snprintf(r->szName, sizeof r->szName, "Map%d", id);
  for (int i = 0; i < nFields; ++i) SetMapEntry(r, i, static_cast<int16_t>(i));
  ConfigRecord c{};
  c.nSecType = static_cast<uint16_t>(type);
  c.dwSource = (static_cast<uint32_t>(srcSystem) << 16) | static_cast<uint32_t>(srcSection);
  c.dwTarget = (static_cast<uint32_t>(dstSystem) << 16) | static_cast<uint32_t>(dstSection);
  c.nMapID = static_cast<uint16_t>(id);
  return AddFieldMap(db, id, &c, r);
}

// The master table of the tests, open read-write in *db at path:
//   system 1 "Generic" (sections 1 appointments, 2 to-dos), charmap 1
//   system 5 "Organizer" translator "ORGDLL" attributes 0x0003, charmap 2,
//     sections 1..7 of types 0..6
//   system 7 "Mailer" translator "MAILDLL" attributes 0x80000001, charmaps 3, 4,
//     sections 1 (type 7), 2 (type 0)
//   system 9 "Expenses", section 1 (type 9)
//   field lists: 0 (1/1), 1 (5/1), 2 (5/2), 3 (7/2), 4 (9/1), 5 (5/6)
//   maps: 1 (5/1 -> 1/1), 2 (5/1 -> 7/2), 3 (9/1 -> 1/1), 4 (5/6 -> 1/1)
//   charmaps 1..5 ("Latin1" .. "Spare"); charmap 5 is named by no system.
//   main class 3, main system 5, product ID 77, bundled 1.
inline void BuildMaster(const std::string& path, TableDb* db) {
  ASSERT_EQ(CreateTable(path.c_str()), 0);
  ASSERT_EQ(OpenTable(path.c_str(), db, 1), 0);
  const char* charmaps[] = {"Latin1", "Ansi", "Mac", "Oem", "Spare"};
  for (int i = 0; i < 5; ++i) {
    auto cm = MakeCharMap(charmaps[i]);
    ASSERT_EQ(AddCharMap(db, i + 1, reinterpret_cast<CharMapRecord*>(cm.data())), 0);
  }
  auto add = [&](int id, const std::vector<unsigned char>& rec) {
    ASSERT_EQ(AddSystem(db, id, reinterpret_cast<const SystemRecord*>(rec.data())), 0);
  };
  add(1, MakeSystem(1, "Generic", "", 0, 1, 0, {{1, 0, "Calendar"}, {2, 4, "Tasks"}}));
  add(5, MakeSystem(5, "Organizer", "ORGDLL", 0x0003, 2, 0,
                    {{1, 0, "Appts"},
                     {2, 1, "Memos"},
                     {3, 2, "Docs"},
                     {4, 3, "Phone"},
                     {5, 4, "Todo"},
                     {6, 5, "Groups"},
                     {7, 6, "Outline"}}));
  add(7,
      MakeSystem(7, "Mailer", "MAILDLL", 0x80000001u, 3, 4, {{1, 7, "Inbox"}, {2, 0, "Calendar"}}));
  add(9, MakeSystem(9, "Expenses", "EXPDLL", 0, 0, 0, {{1, 9, "Spending"}}));
  auto list = [&](int id, int app, int section, int type, const char* name, int n) {
    auto rec = MakeFieldList(app, section, type, name, n);
    ASSERT_EQ(AddFieldList(db, id, reinterpret_cast<const FieldListRecord*>(rec.data())), 0);
  };
  list(0, 1, 1, 0, "GenericAppt", 2);
  list(1, 5, 1, 0, "OrgAppt", 3);
  list(2, 5, 2, 1, "OrgMemo", 1);
  list(3, 7, 2, 0, "MailCal", 2);
  list(4, 9, 1, 9, "Spend", 1);
  list(5, 5, 6, 5, "OrgGroups", 2);
  ASSERT_EQ(AddMap(db, 1, 5, 1, 1, 1, 0, 1, 0, 3), 0);
  ASSERT_EQ(AddMap(db, 2, 5, 1, 7, 2, 0, 1, 3, 3), 0);
  ASSERT_EQ(AddMap(db, 3, 9, 1, 1, 1, 9, 4, 0, 1), 0);
  ASSERT_EQ(AddMap(db, 4, 5, 6, 1, 1, 5, 5, 0, 2), 0);
  ASSERT_EQ(SetMainClass(db, 3), 0);
  ASSERT_EQ(SetMainSystem(db, 5), 0);
  ASSERT_EQ(SetProductID(db, 77), 0);
  ASSERT_EQ(SetBundledFlag(db, 1), 0);
}

// The stored system record of id, or an empty vector.
inline std::vector<unsigned char> ReadSystemRecord(TableDb* db, int id) {
  int size = GetSystemSize(db, id);
  if (size <= 0) return {};
  std::vector<unsigned char> buf(size);
  if (ReadSystem(db, id, buf.data(), size) != 0) return {};
  return buf;
}

// IDs of the stored records of each kind.
inline std::vector<int> SystemIds(TableDb* db) {
  std::vector<int> ids;
  for (int id = 1; id <= SystemSlots(db); ++id)
    if (SystemExists(db, id)) ids.push_back(id);
  return ids;
}
inline std::vector<int> FieldListIds(TableDb* db) {
  std::vector<int> ids;
  for (int id = 0; id < FieldListSlots(db); ++id)
    if (FieldListExists(db, id)) ids.push_back(id);
  return ids;
}
inline std::vector<int> FieldMapIds(TableDb* db) {
  std::vector<int> ids;
  for (int id = 1; id <= FieldMapSlots(db); ++id)
    if (FieldMapExists(db, id)) ids.push_back(id);
  return ids;
}
inline std::vector<int> CharMapIds(TableDb* db) {
  std::vector<int> ids;
  for (int id = 1; id <= CharMapSlots(db); ++id)
    if (CharMapExists(db, id)) ids.push_back(id);
  return ids;
}

}  // namespace subset_test
