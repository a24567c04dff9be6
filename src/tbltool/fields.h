// The fields of every record, by name, offset, width and kind: one table
// that export, import and diff all walk, so that the three can never
// disagree about a record's layout. Counts that follow from an array
// (nSections, nFields) are not listed: they are the arrays' lengths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tbltool {

enum class FieldKind : uint8_t {
  kI16,
  kU16,
  kI32,
  kU32,
  kText,      // char[size]: the text up to its NUL; bytes after it are its tail
  kChar,      // one byte, shown as a one-character string ("" for 0)
  kCType,     // u16 whose low byte is the type character
  kReserved,  // bytes carried only when not all zero
  kI16Array,  // size / 2 values
  kU32Array,  // size / 4 values
  kBytes,     // always carried, as hexadecimal
};

struct FieldDesc {
  std::string_view name;
  uint16_t offset;
  uint16_t size;
  FieldKind kind;
};

struct RecordDesc {
  const char* what;  // "system", "section", ...
  const FieldDesc* fields;
  size_t count;
  size_t size;  // bytes of the fixed part
};

extern const RecordDesc kSystemDesc;   // SystemRecord without nSections
extern const RecordDesc kSectionDesc;  // SectionRecord
extern const RecordDesc kListDesc;     // FieldListRecord without nFields
extern const RecordDesc kFieldDesc;    // FieldRecord
extern const RecordDesc kConfigDesc;   // ConfigRecord
extern const RecordDesc kMapDesc;      // FieldMapRecord without anMap
extern const RecordDesc kCharMapDesc;  // CharMapRecord

// Reads a number field of kind kI16 .. kU32 (or one element of an array
// field, by index) as a 64-bit value.
int64_t GetNumber(const void* rec, const FieldDesc& f, size_t index = 0);
// Range of a number kind.
bool FitsNumber(FieldKind kind, int64_t v);
void SetNumber(void* rec, const FieldDesc& f, int64_t v, size_t index = 0);
// Bytes of a text field up to its NUL (or the whole field).
std::string_view TextOf(const void* rec, const FieldDesc& f);
// The bytes after a text's NUL, without the zeros at their end; empty when
// the field has no more than its text.
std::string_view TailOf(const void* rec, const FieldDesc& f);
// True when the text field holds bytes after its NUL.
bool HasTail(const void* rec, const FieldDesc& f, size_t textLen);
// True when every byte of the field is zero.
bool AllZero(const void* rec, const FieldDesc& f);
// Element count of an array field.
inline size_t ArrayCount(const FieldDesc& f) {
  return f.kind == FieldKind::kI16Array   ? f.size / 2u
         : f.kind == FieldKind::kU32Array ? f.size / 4u
                                          : 1u;
}
// True when the field's bytes are the same in both records.
bool SameField(const void* a, const void* b, const FieldDesc& f);
// The field of a descriptor by name, or null.
const FieldDesc* FindField(const RecordDesc& d, std::string_view name);

}  // namespace tbltool
