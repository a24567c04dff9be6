// The checks of the texts a record holds: what the text form or the split
// pair cannot carry of a name, and the split keys that two fields would
// share, which the split pair reads back as one. The record checks that
// gather them are in tablechecks.cpp.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <map>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "tbltool/source.h"
#include "tbltool/tablechecks_internal.h"

namespace tbltool::tablechecks {

namespace {

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

// Maps the first len bytes of a field of size bytes (a multiple of 16
// read whole) into out, sixteen at a time; false when a byte above 0x7F
// asks for the code page.
bool MapPlain(const char* p, size_t size, size_t len, char* out) {
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

// One multiply per word; the words of a key are few, and Mix at the end
// spreads them.
uint64_t Step(uint64_t h, uint64_t w) {
  h = (h ^ w) * 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 29);
}
uint64_t Mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

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

OtherTexts::OtherTexts(const RecordDesc& d, std::initializer_list<const char*> skip) {
  for (size_t i = 0; i < d.count && n < 16; ++i) {
    if (d.fields[i].kind != FieldKind::kText) continue;
    bool skipped = false;
    for (const char* s : skip) skipped = skipped || std::string_view(s) == d.fields[i].name;
    if (!skipped) f[n++] = &d.fields[i];
  }
}

void OtherTexts::Check(Sink& sink, RecKind kind, int id, int sub, const void* rec) const {
  for (int i = 0; i < n; ++i) {
    uint8_t m;
    std::string_view t = ScanText(rec, *f[i], &m);
    if (m & (kLineEnd | kComma)) CheckText(sink, kind, id, sub, f[i]->name, t, m, Carry::kSubfield);
  }
}

FieldKeys::FieldKeys() {
  for (int c = 0; c < 256; ++c) {
    char m = '_';
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == '_') m = static_cast<char>(c);
    if (c >= 'a' && c <= 'z') m = static_cast<char>(c - 'a' + 'A');
    map_[c] = m;
  }
}

void FieldKeys::Start(const ListFacts& l, const char* type) {
  prefix_.clear();
  Add(&prefix_, "LOCALIZED_" + N(l.app) + "_" + type + "_" + N(l.section) + "_");
  start_ = HashText(prefix_);
}

std::string FieldKeys::MapText(std::string_view s) const {
  std::string out;
  Add(&out, s);
  return out;
}

std::string FieldKeys::Key(std::string_view label, int item) const {
  std::string k = prefix_;
  Add(&k, label);
  Add(&k, N(item));
  k += "_FLD_NAME";
  return k;
}

uint64_t FieldKeys::Hash(std::string_view label, const FieldDesc& field, const void* rec,
                         int item) const {
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

uint64_t FieldKeys::HashField(const void* rec, const FieldDesc& field, size_t len) {
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

uint64_t FieldKeys::HashText(std::string_view s) {
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

void FieldKeys::Add(std::string* out, std::string_view s) const {
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    // A double-byte character becomes one "_".
    if (c >= 0x80 && i + 1 < s.size() && IsLeadByte(c)) ++i;
    out->push_back(map_[c]);
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

}  // namespace tbltool::tablechecks
