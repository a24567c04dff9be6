// What the record checks (tablechecks.cpp) and the checks of names and
// split keys (namechecks.cpp) share: the findings as they are gathered, how
// a text travels in the text form, the facts kept of each list, the split
// keys of fields, and the checker that holds them all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "qvdf/store/records.h"
#include "qvdf/store/tabledb.h"
#include "tbltool/fields.h"
#include "tbltool/findings.h"
#include "tbltool/tablechecks.h"
#include "tbltool/tables.h"

namespace tbltool::tablechecks {

inline std::string N(long long v) { return std::to_string(v); }
inline std::string Quote(std::string_view s) { return "\"" + std::string(s) + "\""; }
inline const FieldDesc& Field(const RecordDesc& d, const char* name) { return *FindField(d, name); }

// Findings with the record each is about; placed once all are in, so that
// the lists can be checked on two threads.
class Sink {
 public:
  void Add(Severity s, RecKind kind, int id, int sub, std::string text) {
    Finding f;
    f.severity = s;
    f.text = std::move(text);
    found_.push_back({std::move(f), kind, id, sub});
  }
  void Error(RecKind k, int id, int sub, std::string t) {
    Add(Severity::kError, k, id, sub, std::move(t));
  }
  void Warn(RecKind k, int id, int sub, std::string t) {
    Add(Severity::kWarning, k, id, sub, std::move(t));
  }
  void Take(Sink* other) {
    for (auto& f : other->found_) found_.push_back(std::move(f));
    other->found_.clear();
  }
  void PlaceAll(const Placer& p, std::vector<Finding>* out) {
    for (auto& f : found_) {
      p.Place(&f.finding, f.kind, f.id, f.sub);
      out->push_back(std::move(f.finding));
    }
    found_.clear();
  }

 private:
  struct Found {
    Finding finding;
    RecKind kind;
    int id, sub;
  };
  std::vector<Found> found_;
};

// How a text travels in the text form: as a subfield of a line, perhaps in
// double quotes that the reader takes off, or as a whole value.
enum class Carry { kSubfield, kQuoted, kFieldName, kWholeValue };

// The text of a field up to its NUL, and the classes of the bytes in it,
// which CheckText takes.
std::string_view ScanText(const void* rec, const FieldDesc& f, uint8_t* classes);

// What the text form, or the split pair, cannot carry of one text, given
// the classes of its bytes; the second finds them itself.
void CheckText(Sink& sink, RecKind kind, int id, int sub, std::string_view what, std::string_view t,
               uint8_t classes, Carry carry);
void CheckText(Sink& sink, RecKind kind, int id, int sub, std::string_view what, std::string_view t,
               Carry carry);

// The text fields of a record other than its names, which travel as plain
// subfields.
struct OtherTexts {
  const FieldDesc* f[16];
  int n = 0;
  OtherTexts(const RecordDesc& d, std::initializer_list<const char*> skip);
  void Check(Sink& sink, RecKind kind, int id, int sub, const void* rec) const;
};

struct ListFacts {
  uint16_t app;
  uint16_t section;
  uint16_t type;
  int fields;
};

// The split pair's key of a field: "LOCALIZED_<system>_<type>_<section>_"
// + label + item + "_FLD_NAME", upper case, every other character "_".
// Hashed as it is made: a table has a key for each of its fields, and only
// a clash needs the key itself.
class FieldKeys {
 public:
  FieldKeys();
  // The mapped start of a list's keys.
  void Start(const ListFacts& l, const char* type);
  // A text as it stands in a key.
  std::string MapText(std::string_view s) const;
  std::string Key(std::string_view label, int item) const;
  // A hash of the key's mapped bytes after the list's prefix, mixed with
  // the prefix's; the common "_FLD_NAME" at its end changes nothing.
  // `field` is the label's whole field, which holds at least 16 bytes.
  uint64_t Hash(std::string_view label, const FieldDesc& field, const void* rec, int item) const;
  // A text of a field whose size is a multiple of 8, by whole words.
  static uint64_t HashField(const void* rec, const FieldDesc& field, size_t len);
  // Eight bytes at a time, then the rest, with the length folded in.
  static uint64_t HashText(std::string_view s);

 private:
  void Add(std::string* out, std::string_view s) const;
  char map_[256];
  std::string prefix_;
  uint64_t start_ = 0;
};

struct KeyUse {
  uint64_t key;
  uint64_t name;
  int list;
  int field;
};

class Checks {
 public:
  Checks(TableDb* db, bool storeChecks) : db_(db), storeChecks_(storeChecks) {}
  // With a second open copy of the table, the later half of the field
  // lists is checked through it on a thread of its own.
  void Run(TableDb* helper, const Placer& placer, std::vector<Finding>* out);

 private:
  void Systems();
  // The lists ids[from, to), the sharing of keys reckoned over all ids.
  void Lists(const std::vector<int>& ids, size_t from, size_t to);
  // Takes over what another checked.
  void Take(Checks* other);
  void Maps();
  struct ListFact {
    bool exists;
    int app;
    int fields;
  };
  ListFact Fact(int id) {
    if (!FieldListExists(db_, id)) return {false, 0, 0};
    return {true, GetFieldListApp(db_, id), GetFieldListCount(db_, id)};
  }
  void CharMaps();
  void Table();
  void Keys();
  // The split keys a lone list gives its fields alike: with items 1, 2, 3,
  // ... only a label that ends in digits ("A1", item 2) can make the key of
  // a shorter one ("A", item 12). `digitEnds` are those fields.
  void WithinList(int id, const FieldRecord* fields, int n, const std::vector<int>& digitEnds);
  // The split keys a field: it has a name, and neither it nor its label
  // begins with "_".
  static bool Keyed(std::string_view label, std::string_view name) {
    return !name.empty() && name[0] != '_' && !label.empty() && label[0] != '_';
  }
  void Clash(int list, const FieldRecord& first, int firstIndex, const FieldRecord& later,
             int laterIndex, int firstList, const std::string& key);
  void Unreadable(RecKind k, int id, int rc) {
    sink_.Error(k, id, -1, "the record cannot be read (code " + N(rc) + ")");
  }

  TableDb* db_;
  Sink sink_;
  bool storeChecks_;
  std::map<int, ListFacts> lists_;
  std::vector<KeyUse> keys_;
  // The keys of each list, by its (system, section type, section): keys of
  // different such groups differ in their prefix already.
  struct ListKeys {
    uint64_t group;
    size_t begin, end;
    bool digitEnd;  // a label ends in a digit: its key may meet another item's
  };
  std::vector<ListKeys> listKeys_;
  FieldKeys fieldKeys_;
  RecordBuf rec_;
};

}  // namespace tbltool::tablechecks
