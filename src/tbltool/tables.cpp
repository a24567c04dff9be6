// Record reading for the commands: each kind through its store operations,
// sized by the store, never past what the store says the record holds.
#include "tbltool/tables.h"

namespace tbltool {

namespace {

template <typename Exists>
std::vector<int> Ids(int first, int last, int count, Exists exists) {
  std::vector<int> ids;
  for (int id = first; id <= last && static_cast<int>(ids.size()) < count; ++id)
    if (exists(id)) ids.push_back(id);
  return ids;
}

}  // namespace

std::vector<int> SystemIds(TableDb* db) {
  return Ids(1, SystemSlots(db), CountSystems(db), [db](int id) { return SystemExists(db, id); });
}
std::vector<int> ListIds(TableDb* db) {
  return Ids(0, FieldListSlots(db) - 1, CountFieldLists(db),
             [db](int id) { return FieldListExists(db, id); });
}
std::vector<int> MapIds(TableDb* db) {
  return Ids(1, FieldMapSlots(db), CountFieldMaps(db),
             [db](int id) { return FieldMapExists(db, id); });
}
std::vector<int> CharMapIds(TableDb* db) {
  return Ids(1, CharMapSlots(db), CountCharMaps(db),
             [db](int id) { return CharMapExists(db, id); });
}

int ReadSystemRec(TableDb* db, int id, RecordBuf* rec) {
  int size = GetSystemSize(db, id);
  if (size < kSystemFixedSize) return GetError(db) ? GetError(db) : kErrBadFormat;
  rec->bytes.resize(static_cast<size_t>(size));
  return ReadSystem(db, id, rec->bytes.data(), size);
}

int ReadListRec(TableDb* db, int id, RecordBuf* rec) {
  int size = GetFieldListSize(db, id);
  if (size < kFieldListFixedSize) return GetError(db) ? GetError(db) : kErrBadFormat;
  rec->bytes.resize(static_cast<size_t>(size));
  return ReadFieldList(db, id, rec->bytes.data(), size);
}

int ReadCharMapRec(TableDb* db, int id, RecordBuf* rec) {
  int size = GetCharMapSize(db, id);
  if (size < kCharMapSize) return GetError(db) ? GetError(db) : kErrBadFormat;
  rec->bytes.resize(static_cast<size_t>(size));
  return ReadCharMap(db, id, rec->bytes.data(), size);
}

int ReadMapRec(TableDb* db, int id, ConfigRecord* config, RecordBuf* rec, bool* own) {
  int size = GetFieldMapSize(db, id);
  if (size < kFieldMapFixedSize) return GetError(db) ? GetError(db) : kErrBadFormat;
  rec->bytes.resize(static_cast<size_t>(size));
  int rc = ReadFieldMap(db, id, config, rec->bytes.data(), size);
  *own = ResolveFieldMap(db, id) == id;
  return rc;
}

const char* SectionTypeKeyName(int type) {
  static const char* const kNames[] = {"APPT",   "DB",      "DOCUMENT", "PHONE",  "TODO",
                                       "GROUPS", "OUTLINE", "EMAIL",    "SPREAD", "EXPENSE"};
  return type >= 0 && type <= 9 ? kNames[type] : nullptr;
}

}  // namespace tbltool
