// The text writer's field-lists block: the consistency warnings against the
// field-list index, the list lines and one FIELD line per field, with every
// comma of a field name written as a caret and item numbers that the reader
// takes in the order they are written.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "qvdf/store/store.h"
#include "qvdf/text/txtwriter_impl.h"
#include "qvutil/status.h"

namespace txtw {
namespace {

// A field type must be one character that can stand in its own subfield.
bool TypeWritable(uint16_t cType) {
  char c = static_cast<char>(cType & 0xFF);
  return c != '\0' && c != '\r' && c != '\n' && c != '\x1a';
}

bool ListWritable(const FieldListRecord& r, const FieldRecord* f, int n) {
  if (!Writable(TXTW_FIELD(r, szName))) return false;
  for (int j = 0; j < n; ++j) {
    if (!Writable(TXTW_FIELD(f[j], szName)) || !Writable(TXTW_FIELD(f[j], szLabel)) ||
        !Writable(TXTW_FIELD(f[j], szFieldText1)) || !Writable(TXTW_FIELD(f[j], szFieldText2)) ||
        !TypeWritable(f[j].cType))
      return false;
  }
  return true;
}

// Commas of a field name become carets; the trail byte of a double-byte
// character is left alone. No code page has a lead byte below 0x80, so
// plain ASCII skips the lookup.
void CaretName(char* name, size_t width) {
  platform::Env* env = nullptr;
  for (size_t i = 0; i < width && name[i] != '\0'; ++i) {
    auto b = static_cast<unsigned char>(name[i]);
    if (b == ',') {
      name[i] = '^';
    } else if (b >= 0x80) {
      if (!env) env = platform::Env::Get();
      if (env->IsLeadByte(b) && i + 1 < width && name[i + 1] != '\0') ++i;
    }
  }
}

void CheckIndex(Writer& w, TableDb* db, int key, const FieldListRecord& r, int len) {
  std::string rec = " record= " + std::to_string(key) + ".";
  uint16_t app = GetFieldListApp(db, key);
  if (r.nAppID != app) {
    w.Note(kLevelWarning,
           "## WARNING -- field list appID = " + std::to_string(static_cast<int16_t>(r.nAppID)) +
               " field index appID = " + std::to_string(static_cast<int16_t>(app)) + rec);
  }
  uint16_t type = GetFieldListSecType(db, key);
  if (r.nSecType != type) {
    w.Note(kLevelWarning,
           "## WARNING -- field sectionID = " + std::to_string(static_cast<int16_t>(r.nSecType)) +
               " index sectionID = " + std::to_string(static_cast<int16_t>(type)) + rec);
  }
  if (FieldListChecksum(&r, len) != static_cast<uint16_t>(GetFieldListChecksum(db, key)))
    w.Note(kLevelError, "## WARNING -- checksums do not match, field list" + rec);
}

// Room for a field line: the record's texts, nine numbers and the commas
// and quotes between them.
constexpr size_t kFieldLineRoom = sizeof(FieldRecord) + 9 * kIntRoom + 32;

// The reader takes an item number of 1 or one above the item before it, in
// the order of the file (across lists): a stored number it would refuse is
// written as one it takes, with a note. *last is the item written last.
int16_t ItemToWrite(Writer& w, int key, int j, const FieldRecord& f, int16_t* last) {
  int16_t item = f.nItem;
  if (item != 1 && item != *last + 1) {
    item = j == 0 || *last == INT16_MAX ? int16_t{1} : static_cast<int16_t>(*last + 1);
    w.Note(kLevelWarning, "## WARNING -- item number " + std::to_string(f.nItem) + " of field " +
                              std::to_string(j + 1) + " in field list " + std::to_string(key) +
                              " written as " + std::to_string(item));
  }
  *last = item;
  return item;
}

void WriteFieldLine(Writer& w, int j, FieldRecord& f, int16_t item) {
  CaretName(TXTW_FIELD(f, szName));
  Writer& o = w;
  o.StartLine();
  char* d = o.Room(kFieldLineRoom);
  d = PutLit(d, "FIELD=");
  d = PutInt(d, j + 1);
  d = PutLit(d, ",\"");
  d = PutText(d, TXTW_FIELD(f, szLabel));
  d = PutLit(d, "\",\"");
  d = PutText(d, TXTW_FIELD(f, szName));
  d = PutLit(d, "\",");
  d = PutInt(d, item);
  *d++ = ',';
  *d++ = static_cast<char>(f.cType & 0xFF);
  *d++ = ',';
  d = PutInt(d, f.nFieldValue);
  *d++ = ',';
  d = PutInt(d, f.nTerminator);
  *d++ = ',';
  d = PutText(d, TXTW_FIELD(f, szFieldText1));
  *d++ = ',';
  d = PutText(d, TXTW_FIELD(f, szFieldText2));
  d = PutLit(d, ",0X");
  d = PutHex(d, f.dwAttributes);
  *d++ = ',';
  d = PutInt(d, f.nAssocField);
  if (w.version > 2) {
    *d++ = ',';
    d = PutInt(d, static_cast<int32_t>(f.dwMapCode));
  }
  o.Commit(d);
  w.Emit();
}

}  // namespace

int WriteFieldLists(TableDb* db, Writer& w) {
  int count = CountFieldLists(db);
  w.Separator();
  w.Line("TYPE=FIELDS");
  w.Begin("COUNT=");
  w.AddInt(count);
  w.Emit();

  int slots = FieldListSlots(db);
  RecordBuffer buf(FieldListRecordSize(76));
  int remaining = count;
  int16_t lastItem = 0;  // as a reader of this file starts
  for (int key = 0; remaining > 0 && key < slots; ++key) {
    if (!FieldListExists(db, key)) continue;
    int len = GetFieldListSize(db, key);
    if (len <= 0) return LengthFailure(db);
    if (len < kFieldListFixedSize) return kErrBadFormat;
    if (!buf.Reserve(len)) return kErrNoMemory;
    int rc = ReadFieldList(db, key, buf.get(), len);
    if (rc != 0) return rc;

    auto* rec = static_cast<FieldListRecord*>(buf.get());
    FieldRecord* fields = ListFields(rec);
    int n = std::clamp<int>(rec->nFields, 0, (len - kFieldListFixedSize) / kFieldSize);
    if (!ListWritable(*rec, fields, n)) return w.Unwritable("field list", key);

    CheckIndex(w, db, key, *rec, len);
    w.Separator();
    w.Begin("# Record length: ");
    w.AddInt(len);
    w.Emit();
    w.Begin("LISTID=");
    w.AddInt(key);
    w.Emit();
    w.Begin("APP=");
    w.AddInt(static_cast<int16_t>(rec->nAppID));
    w.Emit();
    if (w.version > 2) {
      w.Begin("SECID=");
      w.AddInt(static_cast<int16_t>(rec->nSectionID));
      w.Emit();
    }
    w.Begin("SECTYPE=");
    w.AddInt(static_cast<int16_t>(rec->nSecType));
    w.Emit();
    w.Begin("NAME=");
    w.AddText(TXTW_FIELD(*rec, szName));
    w.Emit();
    w.Begin("COUNT=");
    w.AddInt(rec->nFields);
    w.Emit();
    for (int j = 0; j < n; ++j)
      WriteFieldLine(w, j, fields[j], ItemToWrite(w, key, j, fields[j], &lastItem));
    --remaining;
  }
  return 0;
}

}  // namespace txtw
