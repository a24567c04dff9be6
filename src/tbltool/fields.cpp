// The record field tables. Offsets come from the record structs themselves,
// so a layout change in records.h cannot leave them behind.
#include "tbltool/fields.h"

#include <cstring>

#include "qvdf/store/records.h"

namespace tbltool {

#define F(T, f, kind) \
  { #f, offsetof(T, f), sizeof(T::f), FieldKind::kind }
#define R(T, f, name) \
  { name, offsetof(T, f), sizeof(T::f), FieldKind::kReserved }

namespace {

const FieldDesc kSystemFields[] = {
    F(SystemRecord, nSystemID, kU16),
    F(SystemRecord, nClass, kI16),
    F(SystemRecord, nType, kI16),
    F(SystemRecord, nAccessType, kI16),
    F(SystemRecord, szName, kText),
    F(SystemRecord, szSectionTitle, kText),
    F(SystemRecord, szTranslator, kText),
    F(SystemRecord, szSysText2, kText),
    F(SystemRecord, nReconcile, kI16),
    F(SystemRecord, nApptRange, kI16),
    F(SystemRecord, nTodoRange, kI16),
    F(SystemRecord, nSysValue, kI16),
    F(SystemRecord, nCharMap1, kI16),
    F(SystemRecord, nCharMap2, kI16),
    F(SystemRecord, dwAttributes, kU32),
    R(SystemRecord, reserved1, "reserved1"),
    F(SystemRecord, anSectionFlags, kI16Array),
    F(SystemRecord, nIDofSavedCopy, kI16),
    F(SystemRecord, szSysText1, kText),
    F(SystemRecord, nTBD1, kI32),
    F(SystemRecord, nTBD2, kI32),
    F(SystemRecord, nTBD3, kI32),
    F(SystemRecord, nTBD4, kI32),
    F(SystemRecord, adwProductFlags, kU32Array),
    F(SystemRecord, szEx2Text1, kText),
    F(SystemRecord, szEx2Text2, kText),
    F(SystemRecord, szEx3Text1, kText),
    F(SystemRecord, szEx3Text2, kText),
    F(SystemRecord, szEx3Text3, kText),
    F(SystemRecord, szEx3Text4, kText),
    F(SystemRecord, szEx3Text5, kText),
};

const FieldDesc kSectionFields[] = {
    F(SectionRecord, nSectionID, kI16),       F(SectionRecord, nSecType, kI16),
    F(SectionRecord, nSubSection, kI16),      F(SectionRecord, nAccessType, kI16),
    F(SectionRecord, szSecText1, kText),      F(SectionRecord, szName, kText),
    F(SectionRecord, szSecText2, kText),      F(SectionRecord, szSecText3, kText),
    F(SectionRecord, nSecValue, kI32),        F(SectionRecord, dwAttributes, kU32),
    R(SectionRecord, reserved1, "reserved1"), F(SectionRecord, cSecChar, kChar),
    R(SectionRecord, reserved2, "reserved2"),
};

const FieldDesc kListFields[] = {
    F(FieldListRecord, nAppID, kU16),
    F(FieldListRecord, nSectionID, kU16),
    F(FieldListRecord, nSecType, kU16),
    F(FieldListRecord, szName, kText),
};

const FieldDesc kFieldFields[] = {
    F(FieldRecord, szName, kText),        F(FieldRecord, nItem, kI16),
    F(FieldRecord, nAux, kI16),           F(FieldRecord, szLabel, kText),
    F(FieldRecord, nFieldValue, kI32),    F(FieldRecord, cType, kCType),
    F(FieldRecord, nTerminator, kI16),    F(FieldRecord, szFieldText1, kText),
    F(FieldRecord, szFieldText2, kText),  F(FieldRecord, nAssocField, kI16),
    F(FieldRecord, dwMapCode, kU32),      F(FieldRecord, dwAttributes, kU32),
    R(FieldRecord, reserved, "reserved"),
};

const FieldDesc kConfigFields[] = {
    F(ConfigRecord, nConfigID, kU16), F(ConfigRecord, nSecType, kU16),
    F(ConfigRecord, dwSource, kU32),  F(ConfigRecord, dwTarget, kU32),
    F(ConfigRecord, nMapID, kU16),    F(ConfigRecord, nAux1, kI16),
    F(ConfigRecord, nAux2, kU32),
};

const FieldDesc kMapFields[] = {
    F(FieldMapRecord, nSourceList, kI16),
    F(FieldMapRecord, nTargetList, kI16),
    F(FieldMapRecord, szName, kText),
    F(FieldMapRecord, dwAttribs, kU32),
};

const FieldDesc kCharMapFields[] = {
    F(CharMapRecord, nChars, kU16),
    F(CharMapRecord, wFlags, kU16),
    F(CharMapRecord, szName, kText),
    {"abMap", offsetof(CharMapRecord, abMap), 256, FieldKind::kBytes},
    R(CharMapRecord, reserved, "reserved"),
};

#undef F
#undef R

template <size_t N>
constexpr RecordDesc Desc(const char* what, const FieldDesc (&f)[N], size_t size) {
  return RecordDesc{what, f, N, size};
}

}  // namespace

const RecordDesc kSystemDesc = Desc("system", kSystemFields, sizeof(SystemRecord));
const RecordDesc kSectionDesc = Desc("section", kSectionFields, sizeof(SectionRecord));
const RecordDesc kListDesc = Desc("field list", kListFields, sizeof(FieldListRecord));
const RecordDesc kFieldDesc = Desc("field", kFieldFields, sizeof(FieldRecord));
const RecordDesc kConfigDesc = Desc("field map", kConfigFields, sizeof(ConfigRecord));
const RecordDesc kMapDesc = Desc("field map", kMapFields, sizeof(FieldMapRecord));
const RecordDesc kCharMapDesc = Desc("charmap", kCharMapFields, sizeof(CharMapRecord));

int64_t GetNumber(const void* rec, const FieldDesc& f, size_t index) {
  const char* p = static_cast<const char*>(rec) + f.offset;
  switch (f.kind) {
    case FieldKind::kI16:
    case FieldKind::kI16Array: {
      int16_t v;
      std::memcpy(&v, p + 2 * index, 2);
      return v;
    }
    case FieldKind::kU16:
    case FieldKind::kCType: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case FieldKind::kI32: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case FieldKind::kU32:
    case FieldKind::kU32Array: {
      uint32_t v;
      std::memcpy(&v, p + 4 * index, 4);
      return v;
    }
    case FieldKind::kChar:
      return static_cast<unsigned char>(*p);
    default:
      return 0;
  }
}

bool FitsNumber(FieldKind kind, int64_t v) {
  switch (kind) {
    case FieldKind::kI16:
    case FieldKind::kI16Array:
      return v >= -32768 && v <= 32767;
    case FieldKind::kU16:
    case FieldKind::kCType:
      return v >= 0 && v <= 65535;
    case FieldKind::kI32:
      return v >= INT32_MIN && v <= INT32_MAX;
    case FieldKind::kU32:
    case FieldKind::kU32Array:
      return v >= 0 && v <= UINT32_MAX;
    case FieldKind::kChar:
      return v >= 0 && v <= 255;
    default:
      return false;
  }
}

void SetNumber(void* rec, const FieldDesc& f, int64_t v, size_t index) {
  char* p = static_cast<char*>(rec) + f.offset;
  switch (f.kind) {
    case FieldKind::kI16:
    case FieldKind::kI16Array:
    case FieldKind::kU16:
    case FieldKind::kCType: {
      uint16_t w = static_cast<uint16_t>(v);
      std::memcpy(p + 2 * index, &w, 2);
      break;
    }
    case FieldKind::kI32:
    case FieldKind::kU32:
    case FieldKind::kU32Array: {
      uint32_t w = static_cast<uint32_t>(v);
      std::memcpy(p + 4 * index, &w, 4);
      break;
    }
    case FieldKind::kChar:
      *p = static_cast<char>(v);
      break;
    default:
      break;
  }
}

std::string_view TextOf(const void* rec, const FieldDesc& f) {
  const char* p = static_cast<const char*>(rec) + f.offset;
  const void* nul = std::memchr(p, '\0', f.size);
  return std::string_view(p, nul ? static_cast<size_t>(static_cast<const char*>(nul) - p) : f.size);
}

std::string_view TailOf(const void* rec, const FieldDesc& f) {
  std::string_view text = TextOf(rec, f);
  if (text.size() + 1 >= f.size) return std::string_view();
  const char* p = static_cast<const char*>(rec) + f.offset + text.size() + 1;
  size_t n = f.size - text.size() - 1;
  while (n > 0 && p[n - 1] == '\0') --n;
  return std::string_view(p, n);
}

namespace {
// Eight bytes at a time: most reserved areas and text tails are all zero.
bool ZeroBytes(const char* p, size_t n) {
  uint64_t any = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    any |= w;
  }
  for (; i < n; ++i) any |= static_cast<unsigned char>(p[i]);
  return any == 0;
}
}  // namespace

bool AllZero(const void* rec, const FieldDesc& f) {
  return ZeroBytes(static_cast<const char*>(rec) + f.offset, f.size);
}

bool HasTail(const void* rec, const FieldDesc& f, size_t textLen) {
  if (textLen + 1 >= f.size) return false;
  return !ZeroBytes(static_cast<const char*>(rec) + f.offset + textLen + 1, f.size - textLen - 1);
}

bool SameField(const void* a, const void* b, const FieldDesc& f) {
  return std::memcmp(static_cast<const char*>(a) + f.offset, static_cast<const char*>(b) + f.offset,
                     f.size) == 0;
}

const FieldDesc* FindField(const RecordDesc& d, std::string_view name) {
  for (size_t i = 0; i < d.count; ++i)
    if (name == d.fields[i].name) return &d.fields[i];
  return nullptr;
}

}  // namespace tbltool
