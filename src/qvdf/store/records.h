// Record layouts of a table, exactly as they lie in a table file: packed,
// little-endian, text fields NUL-padded. Variable parts (sections, fields,
// map entries) follow the fixed part in the same caller-owned buffer; reach
// them through the accessors below, never by indexing past the struct.
//
//   SystemRecord    1260 + 276 * nSections     (reported size 1536)
//   SectionRecord    276
//   FieldListRecord   76 + 164 * nFields       (reported size 240)
//   FieldRecord      164
//   FieldMapRecord    72 + 2 * nFields(source) (reported size 76)
//   ConfigRecord      20  (caller's view of a field-map index entry)
//   CharMapRecord    325
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "records are little-endian");

#pragma pack(push, 1)

struct SectionRecord {
  int16_t nSectionID;
  int16_t nSecType;
  int16_t nSubSection;
  int16_t nAccessType;
  char szSecText1[32];
  char szName[64];
  char szSecText2[64];
  char szSecText3[64];
  int32_t nSecValue;
  uint32_t dwAttributes;
  uint8_t reserved1[4];
  char cSecChar;
  uint8_t reserved2[31];
};

struct SystemRecord {
  int16_t nClass;
  uint16_t nSystemID;
  int16_t nType;
  int16_t nAccessType;
  char szName[64];
  char szSectionTitle[64];
  char szTranslator[12];
  char szSysText2[260];
  int16_t nReconcile;
  int16_t nApptRange;
  int16_t nTodoRange;
  int16_t nSysValue;
  int16_t nCharMap1;
  int16_t nCharMap2;
  uint32_t dwAttributes;
  uint8_t reserved1[4];
  int16_t nSections;
  int16_t anSectionFlags[10];
  int16_t nIDofSavedCopy;
  char szSysText1[32];
  int32_t nTBD1;
  int32_t nTBD2;
  int32_t nTBD3;
  int32_t nTBD4;
  uint32_t adwProductFlags[8];
  char szEx2Text1[40];
  char szEx2Text2[40];
  char szEx3Text1[40];
  char szEx3Text2[40];
  char szEx3Text3[40];
  char szEx3Text4[64];
  char szEx3Text5[464];
  // SectionRecord asSections[nSections] follows.
};

struct FieldRecord {
  char szName[64];
  int16_t nItem;
  int16_t nAux;
  char szLabel[32];
  int32_t nFieldValue;
  uint16_t cType;
  int16_t nTerminator;
  char szFieldText1[20];
  char szFieldText2[22];
  int16_t nAssocField;
  uint32_t dwMapCode;
  uint32_t dwAttributes;
  uint8_t reserved[4];
};

struct FieldListRecord {
  int16_t nFields;
  uint16_t nAppID;
  uint16_t nSectionID;
  uint16_t nSecType;
  char szName[68];
  // FieldRecord asFields[nFields] follows.
};

struct FieldMapRecord {
  int16_t nSourceList;
  int16_t nTargetList;
  char szName[64];
  uint32_t dwAttribs;
  // int16_t anMap[nFields of the source list] follows.
};

struct ConfigRecord {
  uint16_t nConfigID;
  uint16_t nSecType;
  uint32_t dwSource;
  uint32_t dwTarget;
  uint16_t nMapID;
  int16_t nAux1;
  uint32_t nAux2;
};

struct CharMapRecord {
  uint16_t nChars;
  uint16_t wFlags;
  char szName[64];
  uint8_t abMap[256];
  uint8_t reserved;
};

#pragma pack(pop)

// Sizes.
constexpr int kSectionSize = 276;
constexpr int kSystemFixedSize = 1260;
constexpr int kSystemReportedSize = 1536;
constexpr int kMaxSections = 113;  // keeps a system record below 32768 bytes
constexpr int kFieldSize = 164;
constexpr int kFieldListFixedSize = 76;
constexpr int kFieldListReportedSize = 240;
constexpr int kFieldMapFixedSize = 72;
constexpr int kFieldMapReportedSize = 76;
constexpr int kConfigSize = 20;
constexpr int kCharMapSize = 325;
constexpr int kDummyMapSize = 76;

constexpr int SystemRecordSize(int nSections) {
  return kSystemFixedSize + kSectionSize * nSections;
}
constexpr int FieldListRecordSize(int nFields) {
  return kFieldListFixedSize + kFieldSize * nFields;
}
constexpr int FieldMapRecordSize(int nFields) { return kFieldMapFixedSize + 2 * nFields; }

// Variable parts. The buffer must hold the whole record.
inline SectionRecord* SystemSections(SystemRecord* r) {
  return reinterpret_cast<SectionRecord*>(reinterpret_cast<char*>(r) + kSystemFixedSize);
}
inline const SectionRecord* SystemSections(const SystemRecord* r) {
  return reinterpret_cast<const SectionRecord*>(reinterpret_cast<const char*>(r) +
                                                kSystemFixedSize);
}
inline FieldRecord* ListFields(FieldListRecord* r) {
  return reinterpret_cast<FieldRecord*>(reinterpret_cast<char*>(r) + kFieldListFixedSize);
}
inline const FieldRecord* ListFields(const FieldListRecord* r) {
  return reinterpret_cast<const FieldRecord*>(reinterpret_cast<const char*>(r) +
                                              kFieldListFixedSize);
}
// anMap entries, read and written by value (the buffer may be unaligned).
inline int16_t GetMapEntry(const FieldMapRecord* r, int i) {
  int16_t v;
  std::memcpy(&v, reinterpret_cast<const char*>(r) + kFieldMapFixedSize + 2 * i, 2);
  return v;
}
inline void SetMapEntry(FieldMapRecord* r, int i, int16_t v) {
  std::memcpy(reinterpret_cast<char*>(r) + kFieldMapFixedSize + 2 * i, &v, 2);
}

#define TBL_PIN(T, f, off) static_assert(offsetof(T, f) == off, #T "." #f)
TBL_PIN(SectionRecord, nSecType, 2);
TBL_PIN(SectionRecord, szSecText1, 8);
TBL_PIN(SectionRecord, szName, 40);
TBL_PIN(SectionRecord, szSecText2, 104);
TBL_PIN(SectionRecord, szSecText3, 168);
TBL_PIN(SectionRecord, nSecValue, 232);
TBL_PIN(SectionRecord, dwAttributes, 236);
TBL_PIN(SectionRecord, cSecChar, 244);
static_assert(sizeof(SectionRecord) == kSectionSize);
TBL_PIN(SystemRecord, nSystemID, 2);
TBL_PIN(SystemRecord, nType, 4);
TBL_PIN(SystemRecord, nAccessType, 6);
TBL_PIN(SystemRecord, szName, 8);
TBL_PIN(SystemRecord, szSectionTitle, 72);
TBL_PIN(SystemRecord, szTranslator, 136);
TBL_PIN(SystemRecord, szSysText2, 148);
TBL_PIN(SystemRecord, nReconcile, 408);
TBL_PIN(SystemRecord, nApptRange, 410);
TBL_PIN(SystemRecord, nTodoRange, 412);
TBL_PIN(SystemRecord, nSysValue, 414);
TBL_PIN(SystemRecord, nCharMap1, 416);
TBL_PIN(SystemRecord, nCharMap2, 418);
TBL_PIN(SystemRecord, dwAttributes, 420);
TBL_PIN(SystemRecord, nSections, 428);
TBL_PIN(SystemRecord, anSectionFlags, 430);
TBL_PIN(SystemRecord, nIDofSavedCopy, 450);
TBL_PIN(SystemRecord, szSysText1, 452);
TBL_PIN(SystemRecord, nTBD1, 484);
TBL_PIN(SystemRecord, nTBD2, 488);
TBL_PIN(SystemRecord, nTBD3, 492);
TBL_PIN(SystemRecord, nTBD4, 496);
TBL_PIN(SystemRecord, adwProductFlags, 500);
TBL_PIN(SystemRecord, szEx2Text1, 532);
TBL_PIN(SystemRecord, szEx2Text2, 572);
TBL_PIN(SystemRecord, szEx3Text1, 612);
TBL_PIN(SystemRecord, szEx3Text2, 652);
TBL_PIN(SystemRecord, szEx3Text3, 692);
TBL_PIN(SystemRecord, szEx3Text4, 732);
TBL_PIN(SystemRecord, szEx3Text5, 796);
static_assert(sizeof(SystemRecord) == kSystemFixedSize);
static_assert(kSystemFixedSize + kSectionSize == kSystemReportedSize);
TBL_PIN(FieldRecord, nItem, 64);
TBL_PIN(FieldRecord, nAux, 66);
TBL_PIN(FieldRecord, szLabel, 68);
TBL_PIN(FieldRecord, nFieldValue, 100);
TBL_PIN(FieldRecord, cType, 104);
TBL_PIN(FieldRecord, nTerminator, 106);
TBL_PIN(FieldRecord, szFieldText1, 108);
TBL_PIN(FieldRecord, szFieldText2, 128);
TBL_PIN(FieldRecord, nAssocField, 150);
TBL_PIN(FieldRecord, dwMapCode, 152);
TBL_PIN(FieldRecord, dwAttributes, 156);
static_assert(sizeof(FieldRecord) == kFieldSize);
TBL_PIN(FieldListRecord, nAppID, 2);
TBL_PIN(FieldListRecord, nSectionID, 4);
TBL_PIN(FieldListRecord, nSecType, 6);
TBL_PIN(FieldListRecord, szName, 8);
static_assert(sizeof(FieldListRecord) == kFieldListFixedSize);
static_assert(kFieldListFixedSize + kFieldSize == kFieldListReportedSize);
TBL_PIN(FieldMapRecord, nTargetList, 2);
TBL_PIN(FieldMapRecord, szName, 4);
TBL_PIN(FieldMapRecord, dwAttribs, 68);
static_assert(sizeof(FieldMapRecord) == kFieldMapFixedSize);
TBL_PIN(ConfigRecord, nSecType, 2);
TBL_PIN(ConfigRecord, dwSource, 4);
TBL_PIN(ConfigRecord, dwTarget, 8);
TBL_PIN(ConfigRecord, nMapID, 12);
TBL_PIN(ConfigRecord, nAux1, 14);
TBL_PIN(ConfigRecord, nAux2, 16);
static_assert(sizeof(ConfigRecord) == kConfigSize);
TBL_PIN(CharMapRecord, wFlags, 2);
TBL_PIN(CharMapRecord, szName, 4);
TBL_PIN(CharMapRecord, abMap, 68);
static_assert(sizeof(CharMapRecord) == kCharMapSize);
#undef TBL_PIN
