// The record checks. Every record is read once through the record
// operations; the few facts a later check needs of an earlier kind (field
// counts of lists, which systems and charmaps exist) are kept small.
#include "tbltool/tablechecks.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string_view>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "qvdf/store/store.h"
#include "tbltool/fields.h"
#include "tbltool/source.h"
#include "tbltool/tables.h"

namespace tbltool {

namespace {

std::string N(long long v) { return std::to_string(v); }
std::string Quote(std::string_view s) { return "\"" + std::string(s) + "\""; }
std::string Hex(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%x", v);
  return b;
}

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

// The bytes a text check looks at; everything else passes unseen.
enum : uint8_t { kLineEnd = 1, kComma = 2, kCaret = 4, kQuote = 8, kKeyStart = 16 };
struct ByteClasses {
  uint8_t of[256] = {};
  constexpr ByteClasses() {
    of[static_cast<uint8_t>('\r')] = of[static_cast<uint8_t>('\n')] = kLineEnd;
    of[static_cast<uint8_t>(',')] = kComma;
    of[static_cast<uint8_t>('^')] = kCaret;
    of[static_cast<uint8_t>('"')] = kQuote;
    of[static_cast<uint8_t>('L')] = kKeyStart;
  }
};
constexpr ByteClasses kClasses;

// The text of a field up to its NUL, and the classes of the bytes in it.
// Sixteen bytes at a time where the field has them: a table holds a few
// texts per field and a hundred thousand fields.
std::string_view ScanText(const void* rec, const FieldDesc& f, uint8_t* classes) {
  const unsigned char* p = static_cast<const unsigned char*>(rec) + f.offset;
  uint8_t m = 0;
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'), comma = _mm_set1_epi8(',');
  const __m128i caret = _mm_set1_epi8('^'), quote = _mm_set1_epi8('"'), ell = _mm_set1_epi8('L');
  for (; i + 16 <= f.size; i += 16) {
    __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    unsigned nul = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(w, zero)));
    __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(w, cr), _mm_cmpeq_epi8(w, lf)),
                               _mm_or_si128(_mm_cmpeq_epi8(w, comma), _mm_cmpeq_epi8(w, caret)));
    hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(w, quote), _mm_cmpeq_epi8(w, ell)));
    unsigned special = static_cast<unsigned>(_mm_movemask_epi8(hit));
    size_t n = nul ? static_cast<size_t>(__builtin_ctz(nul)) : 16;
    if (n < 16) special &= (1u << n) - 1;
    // Only the few texts that hold such a byte are looked at byte by byte.
    for (; special; special &= special - 1)
      m |= kClasses.of[p[i + static_cast<size_t>(__builtin_ctz(special))]];
    if (n < 16) {
      *classes = m;
      return std::string_view(reinterpret_cast<const char*>(p), i + n);
    }
  }
#endif
  for (; i < f.size && p[i] != 0; ++i) m |= kClasses.of[p[i]];
  *classes = m;
  return std::string_view(reinterpret_cast<const char*>(p), i);
}

// What the text form, or the split pair, cannot carry of one text, given
// the classes of its bytes.
void CheckText(Sink& sink, RecKind kind, int id, int sub, std::string_view what, std::string_view t,
               uint8_t classes, Carry carry) {
  if (classes == 0 || classes == kKeyStart) {
    if (classes == 0 || carry == Carry::kSubfield || carry == Carry::kWholeValue ||
        t.find("LOCALIZED_") == std::string_view::npos)
      return;
  }
  const std::string w(what);
  if (classes & kLineEnd) {
    sink.Error(kind, id, sub, w + " holds a line end, which the text form cannot carry");
    return;
  }
  if (carry == Carry::kWholeValue) return;
  if (carry == Carry::kFieldName) {
    if (classes & kCaret)
      sink.Error(kind, id, sub,
                 w + " " + Quote(t) + " holds \"^\", which the text form reads back as \",\"");
  } else if (classes & kComma) {
    sink.Error(kind, id, sub,
               w + " " + Quote(t) + " holds a comma, which the text form cannot carry");
  }
  if (carry == Carry::kSubfield) return;
  if (!t.empty() && t[0] == '"')
    sink.Error(kind, id, sub,
               w + " " + Quote(t) + " begins with a double quote, which the text reader takes off");
  else if (classes & kQuote)
    sink.Warn(kind, id, sub,
              w + " " + Quote(t) + " holds a double quote; the split pair leaves it untranslated");
  if ((classes & kKeyStart) && t.find("LOCALIZED_") != std::string_view::npos)
    sink.Error(kind, id, sub,
               w + " " + Quote(t) + " holds \"LOCALIZED_\", which the split pair takes for a key");
}

void CheckText(Sink& sink, RecKind kind, int id, int sub, std::string_view what, std::string_view t,
               Carry carry) {
  uint8_t m = 0;
  for (char c : t) m |= kClasses.of[static_cast<uint8_t>(c)];
  CheckText(sink, kind, id, sub, what, t, m, carry);
}

// The text fields of a record other than its names, which travel as plain
// subfields.
struct OtherTexts {
  const FieldDesc* f[16];
  int n = 0;
  OtherTexts(const RecordDesc& d, std::initializer_list<const char*> skip) {
    for (size_t i = 0; i < d.count && n < 16; ++i) {
      if (d.fields[i].kind != FieldKind::kText) continue;
      bool skipped = false;
      for (const char* s : skip) skipped = skipped || std::string_view(s) == d.fields[i].name;
      if (!skipped) f[n++] = &d.fields[i];
    }
  }
  void Check(Sink& sink, RecKind kind, int id, int sub, const void* rec) const {
    for (int i = 0; i < n; ++i) {
      uint8_t m;
      std::string_view t = ScanText(rec, *f[i], &m);
      if (m & (kLineEnd | kComma))
        CheckText(sink, kind, id, sub, f[i]->name, t, m, Carry::kSubfield);
    }
  }
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
  FieldKeys() {
    for (int c = 0; c < 256; ++c) {
      char m = '_';
      if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == '_') m = static_cast<char>(c);
      if (c >= 'a' && c <= 'z') m = static_cast<char>(c - 'a' + 'A');
      map_[c] = m;
    }
  }
  // The mapped start of a list's keys.
  void Start(const ListFacts& l, const char* type) {
    prefix_.clear();
    Add(&prefix_, "LOCALIZED_" + N(l.app) + "_" + type + "_" + N(l.section) + "_");
    start_ = HashText(prefix_);
  }
  // A text as it stands in a key.
  std::string MapText(std::string_view s) const {
    std::string out;
    Add(&out, s);
    return out;
  }
  std::string Key(std::string_view label, int item) const {
    std::string k = prefix_;
    Add(&k, label);
    Add(&k, N(item));
    k += "_FLD_NAME";
    return k;
  }
  // A hash of the key's mapped bytes after the list's prefix, mixed with
  // the prefix's; the common "_FLD_NAME" at its end changes nothing.
  // `field` is the label's whole field, which holds at least 16 bytes.
  uint64_t Hash(std::string_view label, const FieldDesc& field, const void* rec, int item) const {
    char buf[96];
    size_t n = 0;
    const char* whole = static_cast<const char*>(rec) + field.offset;
    if (!MapPlain(whole, field.size, label.size(), buf)) {
      for (size_t i = 0; i < label.size() && n < 80; ++i) {
        unsigned char c = static_cast<unsigned char>(label[i]);
        if (c >= 0x80 && i + 1 < label.size() && IsLeadByte(c)) ++i;
        buf[n++] = map_[c];
      }
    } else {
      n = label.size();
    }
    // Item numbers are digits, which map to themselves.
    n = static_cast<size_t>(std::to_chars(buf + n, buf + sizeof buf - 8, item).ptr - buf);
    // Zeros after the end let the last word be read whole.
    std::memset(buf + n, 0, 8);
    uint64_t h = 0x9E3779B97F4A7C15ull ^ n ^ start_;
    for (size_t i = 0; i < n; i += 8) {
      uint64_t w;
      std::memcpy(&w, buf + i, 8);
      h = Step(h, w);
    }
    return Mix(h);
  }
  // Maps the first len bytes of a field of size bytes (a multiple of 16
  // read whole) into out, sixteen at a time; false when a byte above 0x7F
  // asks for the code page.
  static bool MapPlain(const char* p, size_t size, size_t len, char* out) {
#if defined(__SSE2__)
    if (size % 16 != 0 || size > 64) return false;
    const __m128i d0 = _mm_set1_epi8('0' - 1), d9 = _mm_set1_epi8('9' + 1);
    const __m128i uA = _mm_set1_epi8('A' - 1), uZ = _mm_set1_epi8('Z' + 1);
    const __m128i la = _mm_set1_epi8('a' - 1), lz = _mm_set1_epi8('z' + 1);
    const __m128i und = _mm_set1_epi8('_'), up = _mm_set1_epi8(0x20);
    for (size_t i = 0; i < len; i += 16) {
      __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      unsigned high = static_cast<unsigned>(_mm_movemask_epi8(w));
      size_t here = len - i < 16 ? len - i : 16;
      if (high & ((here == 16 ? 0x10000u : (1u << here)) - 1)) return false;
      __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(w, d0), _mm_cmplt_epi8(w, d9));
      __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(w, uA), _mm_cmplt_epi8(w, uZ));
      __m128i lower = _mm_and_si128(_mm_cmpgt_epi8(w, la), _mm_cmplt_epi8(w, lz));
      __m128i keep = _mm_or_si128(_mm_or_si128(digit, upper), _mm_cmpeq_epi8(w, und));
      __m128i r = _mm_or_si128(_mm_and_si128(keep, w), _mm_and_si128(lower, _mm_sub_epi8(w, up)));
      r = _mm_or_si128(r, _mm_andnot_si128(_mm_or_si128(keep, lower), und));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), r);
    }
    return true;
#else
    (void)p, (void)size, (void)len, (void)out;
    return false;
#endif
  }
  // A text of a field whose size is a multiple of 8, by whole words.
  static uint64_t HashField(const void* rec, const FieldDesc& field, size_t len) {
    const char* p = static_cast<const char*>(rec) + field.offset;
    if (field.size % 8 != 0) return HashText(std::string_view(p, len));
    uint64_t h = 0x9E3779B97F4A7C15ull ^ len;
    for (size_t i = 0; i < len; i += 8) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      if (len - i < 8) w &= (uint64_t{1} << (8 * (len - i))) - 1;
      h = Step(h, w);
    }
    return Mix(h);
  }
  // Eight bytes at a time, then the rest, with the length folded in.
  static uint64_t HashText(std::string_view s) {
    uint64_t h = 0x9E3779B97F4A7C15ull ^ s.size();
    size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
      uint64_t w;
      std::memcpy(&w, s.data() + i, 8);
      h = Step(h, w);
    }
    uint64_t w = 0;
    std::memcpy(&w, s.data() + i, s.size() - i);
    return Mix(Step(h, w ^ (uint64_t{0xFF} << 56)));
  }
  // One multiply per word; the words of a key are few, and Mix at the end
  // spreads them.
  static uint64_t Step(uint64_t h, uint64_t w) {
    h = (h ^ w) * 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 29);
  }
  static uint64_t Mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

 private:
  void Add(std::string* out, std::string_view s) const {
    for (size_t i = 0; i < s.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(s[i]);
      // A double-byte character becomes one "_".
      if (c >= 0x80 && i + 1 < s.size() && IsLeadByte(c)) ++i;
      out->push_back(map_[c]);
    }
  }
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

const FieldDesc& Field(const RecordDesc& d, const char* name) { return *FindField(d, name); }

class Checks {
 public:
  Checks(TableDb* db, bool storeChecks) : db_(db), storeChecks_(storeChecks) {}
  // With a second open copy of the table, the later half of the field
  // lists is checked through it on a thread of its own.
  void Run(TableDb* helper, const Placer& placer, std::vector<Finding>* out) {
    Systems();
    const std::vector<int> ids = ListIds(db_);
    size_t half = ids.size();
    if (helper && ids.size() > 1) {
      // The helper also checks the maps: it takes the later 40% of the
      // fields, this thread the rest.
      long total = 0, seen = 0;
      for (int id : ids) total += std::max(0, GetFieldListCount(db_, id));
      for (half = 0; half < ids.size() && 10 * seen < 6 * total; ++half)
        seen += std::max(0, GetFieldListCount(db_, ids[half]));
    }
    if (half < ids.size()) {
      Checks other(helper, storeChecks_);
      std::thread later([&] {
        other.Lists(ids, half, ids.size());
        other.Maps();
      });
      Lists(ids, 0, half);
      later.join();
      Take(&other);
    } else {
      Lists(ids, 0, ids.size());
      Maps();
    }
    CharMaps();
    Table();
    Keys();
    sink_.PlaceAll(placer, out);
  }

 private:
  void Systems();
  // The lists ids[from, to), the sharing of keys reckoned over all ids.
  void Lists(const std::vector<int>& ids, size_t from, size_t to);
  // Takes over what another checked.
  void Take(Checks* other) {
    sink_.Take(&other->sink_);
    for (const auto& [id, facts] : other->lists_) lists_[id] = facts;
    const size_t offset = keys_.size();
    keys_.insert(keys_.end(), other->keys_.begin(), other->keys_.end());
    for (ListKeys l : other->listKeys_) {
      l.begin += offset;
      l.end += offset;
      listKeys_.push_back(l);
    }
  }
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

void Checks::Systems() {
  static const FieldDesc& kName = Field(kSystemDesc, "szName");
  static const FieldDesc& kTitle = Field(kSystemDesc, "szSectionTitle");
  static const FieldDesc& kSecName = Field(kSectionDesc, "szName");
  static const OtherTexts kOther(kSystemDesc, {"szName"});
  static const OtherTexts kSecOther(kSectionDesc, {"szName"});
  for (int id : SystemIds(db_)) {
    if (int rc = ReadSystemRec(db_, id, &rec_)) {
      Unreadable(RecKind::kSystem, id, rc);
      continue;
    }
    const SystemRecord* s = rec_.as<SystemRecord>();
    const std::string sys = "system " + N(id);
    for (int16_t cm : {s->nCharMap1, s->nCharMap2})
      if (cm != 0 && !CharMapExists(db_, cm))
        sink_.Error(RecKind::kSystem, id, -1,
                    sys + " uses charmap " + N(cm) + ", which is not in the table");
    uint8_t m;
    std::string_view name = ScanText(s, kName, &m);
    if (name.empty())
      sink_.Error(RecKind::kSystem, id, -1, sys + " has no name, which the text form requires");
    else
      CheckText(sink_, RecKind::kSystem, id, -1, "system name", name, m, Carry::kQuoted);
    if (TextOf(s, kTitle).empty())
      sink_.Error(RecKind::kSystem, id, -1,
                  sys + " has no section title, which the text form requires");
    kOther.Check(sink_, RecKind::kSystem, id, -1, s);

    const int n = SectionCount(rec_);
    const SectionRecord* secs = SystemSections(s);
    std::map<int, int> seen;  // section ID -> index
    for (int i = 0; i < n; ++i) {
      const SectionRecord& sec = secs[i];
      auto [it, added] = seen.emplace(sec.nSectionID, i);
      if (!added)
        sink_.Error(RecKind::kSection, id, i,
                    "section ID " + N(sec.nSectionID) + " appears twice in " + sys + " (sections " +
                        N(it->second + 1) + " and " + N(i + 1) +
                        "); the split pair keys both alike");
      std::string_view sname = ScanText(&sec, kSecName, &m);
      if (sname.empty())
        sink_.Warn(RecKind::kSection, id, i,
                   "section " + N(sec.nSectionID) + " of " + sys +
                       " has no name; the text form reads it back as \"MISSING\"");
      else
        CheckText(sink_, RecKind::kSection, id, i, "section name", sname, m, Carry::kQuoted);
      kSecOther.Check(sink_, RecKind::kSection, id, i, &sec);
      if (sec.cSecChar == ',')
        sink_.Error(RecKind::kSection, id, i,
                    "section character \",\" cannot be carried by the text form");
    }
  }
}

void Checks::Lists(const std::vector<int>& ids, size_t from, size_t to) {
  static const FieldDesc& kListName = Field(kListDesc, "szName");
  static const FieldDesc& kLabel = Field(kFieldDesc, "szLabel");
  static const FieldDesc& kName = Field(kFieldDesc, "szName");
  static const OtherTexts kOther(kFieldDesc, {"szName", "szLabel"});
  // Only lists of one system and section type can share keys; most lists
  // are alone in theirs, and their keys need no hashing.
  std::map<uint32_t, int> sharing;
  for (int id : ids)
    ++sharing[(uint32_t{GetFieldListApp(db_, id)} << 16) | GetFieldListSecType(db_, id)];
  std::vector<int> digitEnds;
  for (size_t at = from; at < to; ++at) {
    const int id = ids[at];
    if (int rc = ReadListRec(db_, id, &rec_)) {
      Unreadable(RecKind::kList, id, rc);
      continue;
    }
    const FieldListRecord* l = rec_.as<FieldListRecord>();
    const int n = FieldCount(rec_);
    ListFacts facts{l->nAppID, l->nSectionID, l->nSecType, n};
    if (storeChecks_) {
      // A binary table keeps copies of these in its index.
      uint16_t sum = FieldListChecksum(rec_.bytes.data(), static_cast<int>(rec_.bytes.size()));
      int stored = GetFieldListChecksum(db_, id);
      if (stored != sum)
        sink_.Error(RecKind::kList, id, -1,
                    "checksum " + Hex(sum) + " does not match the index (" +
                        Hex(static_cast<uint32_t>(stored)) + ")");
      if (GetFieldListApp(db_, id) != l->nAppID || GetFieldListSecType(db_, id) != l->nSecType)
        sink_.Error(RecKind::kList, id, -1,
                    "the index says system " + N(GetFieldListApp(db_, id)) + ", section type " +
                        N(GetFieldListSecType(db_, id)) + "; the record says " + N(l->nAppID) +
                        ", " + N(l->nSecType));
    }
    lists_[id] = facts;
    std::string_view lname = TextOf(l, kListName);
    if (!SystemExists(db_, l->nAppID)) {
      if (n == 0)
        sink_.Error(RecKind::kList, id, -1,
                    "alias " + Quote(lname) + " (field list " + N(id) + ") names system " +
                        N(l->nAppID) + ", which is not in the table");
      else
        sink_.Error(RecKind::kList, id, -1,
                    "field list " + N(id) + " belongs to system " + N(l->nAppID) +
                        ", which is not in the table");
    }
    CheckText(sink_, RecKind::kList, id, -1, "field list name", lname, Carry::kWholeValue);

    const FieldRecord* fields = ListFields(l);
    const char* type = SectionTypeKeyName(l->nSecType);
    if (type) fieldKeys_.Start(facts, type);
    bool itemsReported = false;
    const size_t keysBegin = keys_.size();
    bool digitEnd = false;
    const bool hashed = type && sharing[(uint32_t{l->nAppID} << 16) | l->nSecType] > 1;
    digitEnds.clear();
    for (int j = 0; j < n; ++j) {
      const FieldRecord& f = fields[j];
      if (f.nItem != j + 1 && !itemsReported) {
        sink_.Error(RecKind::kField, id, j,
                    "field " + N(j + 1) + " of field list " + N(id) + " has item number " +
                        N(f.nItem) + "; the fields of a list are numbered 1, 2, 3, ...");
        itemsReported = true;
      }
      uint8_t lm, nm;
      std::string_view label = ScanText(&f, kLabel, &lm);
      std::string_view name = ScanText(&f, kName, &nm);
      if (label.empty())
        sink_.Error(RecKind::kField, id, j,
                    "field " + N(j + 1) + " has no label, which the text form requires");
      else
        CheckText(sink_, RecKind::kField, id, j, "field label", label, lm, Carry::kQuoted);
      if (name.empty())
        sink_.Error(RecKind::kField, id, j,
                    "field " + N(j + 1) + " has no name, which the text form requires");
      else
        CheckText(sink_, RecKind::kField, id, j, "field name", name, nm, Carry::kFieldName);
      kOther.Check(sink_, RecKind::kField, id, j, &f);
      if ((f.cType & 0xFF) == ',' || (f.cType & 0xFF) == 0)
        sink_.Error(
            RecKind::kField, id, j,
            "field " + N(j + 1) + " has a type the text form cannot carry (" + N(f.cType) + ")");
      // Names the split passes by are never keyed.
      if (type && Keyed(label, name)) {
        const bool digit = label.back() >= '0' && label.back() <= '9';
        if (hashed)
          keys_.push_back({fieldKeys_.Hash(label, kLabel, &f, f.nItem),
                           FieldKeys::HashField(&f, kName, name.size()), id, j});
        else if (digit)
          digitEnds.push_back(j);
        digitEnd = digitEnd || digit;
      }
    }
    if (!hashed && !digitEnds.empty()) {
      if (itemsReported) {
        // Items out of order: every key may meet another.
        for (int j = 0; j < n; ++j) {
          const FieldRecord& f = fields[j];
          std::string_view label = TextOf(&f, kLabel), name = TextOf(&f, kName);
          if (Keyed(label, name))
            keys_.push_back({fieldKeys_.Hash(label, kLabel, &f, f.nItem),
                             FieldKeys::HashField(&f, kName, name.size()), id, j});
        }
      } else {
        WithinList(id, fields, n, digitEnds);
      }
    }
    if (keys_.size() > keysBegin)
      listKeys_.push_back(
          {(uint64_t{facts.app} << 32) | (uint64_t{facts.type} << 16) | facts.section, keysBegin,
           keys_.size(), digitEnd});
  }
}

void Checks::Clash(int list, const FieldRecord& first, int firstIndex, const FieldRecord& later,
                   int laterIndex, int firstList, const std::string& key) {
  static const FieldDesc& kName = Field(kFieldDesc, "szName");
  sink_.Warn(RecKind::kField, list, laterIndex,
             "field " + N(laterIndex + 1) + " " + Quote(TextOf(&later, kName)) + " of field list " +
                 N(list) + " gets the split key " + key + " of field " + N(firstIndex + 1) +
                 " of field list " + N(firstList) + "; the split pair reads it back as " +
                 Quote(TextOf(&first, kName)));
}

void Checks::WithinList(int id, const FieldRecord* fields, int n,
                        const std::vector<int>& digitEnds) {
  static const FieldDesc& kLabel = Field(kFieldDesc, "szLabel");
  static const FieldDesc& kName = Field(kFieldDesc, "szName");
  std::vector<std::pair<int, int>> seen;
  for (int i : digitEnds) {
    const std::string mapped = fieldKeys_.MapText(TextOf(&fields[i], kLabel));
    const std::string item = N(fields[i].nItem);
    size_t digits = 0;
    while (digits < mapped.size() &&
           std::isdigit(static_cast<unsigned char>(mapped[mapped.size() - 1 - digits])))
      ++digits;
    for (size_t k = 1; k <= digits; ++k) {
      // Field i's key read as a shorter label and a longer item number.
      std::string other = mapped.substr(mapped.size() - k) + item;
      if (other[0] == '0' || other.size() > 5) continue;
      int j = std::stoi(other) - 1;
      if (j < 0 || j >= n || j == i) continue;
      std::string_view label = TextOf(&fields[j], kLabel);
      if (!Keyed(label, TextOf(&fields[j], kName)) ||
          fieldKeys_.MapText(label) != mapped.substr(0, mapped.size() - k))
        continue;
      int a = std::min(i, j), b = std::max(i, j);
      if (std::find(seen.begin(), seen.end(), std::make_pair(a, b)) != seen.end()) continue;
      seen.emplace_back(a, b);
      if (TextOf(&fields[a], kName) == TextOf(&fields[b], kName)) continue;
      Clash(id, fields[a], a, fields[b], b, id,
            fieldKeys_.Key(TextOf(&fields[a], kLabel), fields[a].nItem));
    }
  }
}

void Checks::Maps() {
  ConfigRecord c;
  bool own = false;
  for (int id : MapIds(db_)) {
    const std::string map = "field map " + N(id);
    // An entry that shares the record of one that is gone has no record to read.
    if (int shared = ResolveFieldMap(db_, id); shared != id && !FieldMapExists(db_, shared)) {
      sink_.Error(
          RecKind::kMap, id, -1,
          map + " shares the record of field map " + N(shared) + ", which is not in the table");
      continue;
    }
    if (int rc = ReadMapRec(db_, id, &c, &rec_, &own)) {
      Unreadable(RecKind::kMap, id, rc);
      continue;
    }
    const int srcSys = static_cast<int>(c.dwSource >> 16),
              dstSys = static_cast<int>(c.dwTarget >> 16);
    if (!SystemExists(db_, srcSys))
      sink_.Error(RecKind::kMap, id, -1,
                  map + " reads system " + N(srcSys) + ", which is not in the table");
    if (!SystemExists(db_, dstSys))
      sink_.Error(RecKind::kMap, id, -1,
                  map + " writes system " + N(dstSys) + ", which is not in the table");
    if (!own) continue;  // its record is checked with its own entry
    const FieldMapRecord* m = rec_.as<FieldMapRecord>();
    // From the index, so that the maps need not wait for the lists.
    const ListFact src = Fact(m->nSourceList), dst = Fact(m->nTargetList);
    if (!src.exists)
      sink_.Error(RecKind::kMap, id, -1,
                  map + ": its source list " + N(m->nSourceList) + " is not in the table");
    if (!dst.exists)
      sink_.Error(RecKind::kMap, id, -1,
                  map + ": its target list " + N(m->nTargetList) + " is not in the table");
    if (src.exists && src.app != srcSys)
      sink_.Warn(RecKind::kMap, id, -1,
                 map + ": source list " + N(m->nSourceList) + " belongs to system " + N(src.app) +
                     ", not to the map's source system " + N(srcSys));
    if (dst.exists && dst.app != dstSys)
      sink_.Warn(RecKind::kMap, id, -1,
                 map + ": target list " + N(m->nTargetList) + " belongs to system " + N(dst.app) +
                     ", not to the map's target system " + N(dstSys));
    const int entries = MapEntries(rec_);
    if (src.exists && entries != src.fields)
      sink_.Error(RecKind::kMap, id, -1,
                  map + " holds " + N(entries) + " entries for the " + N(src.fields) +
                      " fields of its source list " + N(m->nSourceList));
    if (dst.exists) {
      const int limit = dst.fields;
      for (int e = 0; e < entries; ++e) {
        int16_t v = GetMapEntry(m, e);
        if (v >= limit || v < -1) {
          sink_.Error(RecKind::kMap, id, -1,
                      map + ": entry " + N(e + 1) + " maps to field " + N(v + 1) +
                          ", past the end of target list " + N(m->nTargetList) + " (" + N(limit) +
                          " fields)");
          break;  // one is enough to find the map
        }
      }
    }
    static const FieldDesc& kMapName = Field(kMapDesc, "szName");
    CheckText(sink_, RecKind::kMap, id, -1, "field map name", TextOf(m, kMapName),
              Carry::kWholeValue);
  }
}

void Checks::CharMaps() {
  for (int id : CharMapIds(db_)) {
    if (int rc = ReadCharMapRec(db_, id, &rec_)) {
      Unreadable(RecKind::kCharMap, id, rc);
      continue;
    }
    std::string_view name = TextOf(rec_.bytes.data(), *FindField(kCharMapDesc, "szName"));
    if (name.empty())
      sink_.Error(RecKind::kCharMap, id, -1,
                  "charmap " + N(id) + " has no name, which the text form requires");
    CheckText(sink_, RecKind::kCharMap, id, -1, "charmap name", name, Carry::kSubfield);
  }
}

void Checks::Table() {
  int16_t main = GetMainSystem(db_);
  if (main != 0 && !SystemExists(db_, main))
    sink_.Warn(RecKind::kTable, 0, -1, "main system " + N(main) + " is not in the table");
}

void Checks::Keys() {
  // The split writes fields in list order and the merge takes a key's first
  // text, so a later field with the same key reads back the earlier name.
  // Only a group of two lists or more, or a list whose label ends in a
  // digit ("A1" item 2 meets "A" item 12), can key two fields alike.
  std::map<uint64_t, std::vector<const ListKeys*>> groups;
  for (const ListKeys& l : listKeys_) groups[l.group].push_back(&l);
  static const FieldDesc& kLabel = Field(kFieldDesc, "szLabel");
  RecordBuf a, b;
  std::vector<int32_t> slot;
  std::vector<size_t> uses;  // indexes into keys_, in list order
  for (const auto& [group, lists] : groups) {
    if (lists.size() == 1 && !lists[0]->digitEnd) continue;
    uses.clear();
    for (const ListKeys* l : lists)
      for (size_t i = l->begin; i < l->end; ++i) uses.push_back(i);
    // An open-addressing table of the first use of each key.
    size_t cap = 16;
    while (cap < 2 * uses.size()) cap *= 2;
    slot.assign(cap, -1);
    for (size_t i : uses) {
      size_t at = keys_[i].key & (cap - 1);
      while (slot[at] >= 0 && keys_[static_cast<size_t>(slot[at])].key != keys_[i].key)
        at = (at + 1) & (cap - 1);
      if (slot[at] < 0) {
        slot[at] = static_cast<int32_t>(i);
        continue;
      }
      size_t head = static_cast<size_t>(slot[at]);
      const KeyUse& first = keys_[head];
      const KeyUse& later = keys_[i];
      if (later.name == first.name) continue;
      if (ReadListRec(db_, first.list, &a) || ReadListRec(db_, later.list, &b)) continue;
      const FieldRecord& fa = ListFields(a.as<FieldListRecord>())[first.field];
      const FieldRecord& fb = ListFields(b.as<FieldListRecord>())[later.field];
      const ListFacts& facts = lists_[first.list];
      fieldKeys_.Start(facts, SectionTypeKeyName(facts.type));
      Clash(later.list, fa, first.field, fb, later.field, first.list,
            fieldKeys_.Key(TextOf(&fa, kLabel), fa.nItem));
    }
  }
}

}  // namespace

void CheckRecords(TableDb* db, const Placer& placer, std::vector<Finding>* out, bool storeChecks,
                  TableDb* helper) {
  Checks(db, storeChecks).Run(helper, placer, out);
}

}  // namespace tbltool
