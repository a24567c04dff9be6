// tblgen: writes a random but valid table as a version-4 text table, in
// exactly the form tblconv writes text, so that reading it into a binary
// table and writing that back as text gives the same bytes (apart from the
// file-name line). Seeded and deterministic on every platform.
//
//   tblgen <seed> <profile> <out.txt>     profile: small | max | edge
//
// "small" mixes the corner cases a table can hold (empty optional texts,
// texts at their longest, negative numbers, all-ones words, commas in field
// names, key gaps, unmapped entries, base maps, sections a map names but its
// system lacks); "max" approaches the format's limits in size; "edge" is a
// small table whose texts are at their longest (or empty), hold double-byte
// characters of code page 932, whose fields use every type character in turn
// and whose IDs include the highest each kind of record takes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// splitmix64: the same numbers from the same seed everywhere.
class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed) {}
  uint64_t Next() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [lo, hi].
  int64_t Range(int64_t lo, int64_t hi) {
    return lo + static_cast<int64_t>(Next() % static_cast<uint64_t>(hi - lo + 1));
  }
  bool Chance(int percent) { return Range(0, 99) < percent; }
  uint32_t Word() {
    switch (Range(0, 5)) {
      case 0:
        return 0;
      case 1:
        return 0xFFFFFFFFu;
      case 2:
        return static_cast<uint32_t>(1u << Range(0, 31));
      default:
        return static_cast<uint32_t>(Next());
    }
  }
  int16_t Short() {
    switch (Range(0, 4)) {
      case 0:
        return 0;
      case 1:
        return static_cast<int16_t>(Range(-32768, 32767));
      default:
        return static_cast<int16_t>(Range(0, 200));
    }
  }
  int32_t Long() { return static_cast<int32_t>(Word()); }

 private:
  uint64_t s_;
};

struct Profile {
  bool max;
  int systems_lo, systems_hi;
  int sections_hi;
  int lists_lo, lists_hi;
  int fields_lo, fields_hi;
  int maps_lo, maps_hi;
  int charmaps_lo, charmaps_hi;
  int edge;                // percent chance of corner-case values
  bool dbcs = false;       // texts hold code page 932 double-byte characters
  bool top_ids = false;    // each kind of record includes its highest ID
  bool all_types = false;  // field type characters in turn, not at random
};

constexpr Profile kSmall = {false, 1, 6, 5, 1, 10, 1, 12, 0, 12, 0, 3, 25};
constexpr Profile kMax = {true, 245, 250, 12, 990, 1000, 100, 190, 8900, 9000, 58, 60, 3};
constexpr Profile kEdge = {false, 1, 6, 5, 1, 10, 1, 12, 0, 12, 0, 3, 100, true, true, true};

// Highest IDs the table takes: systems, field lists, field maps, charmaps.
constexpr int kTopSystemId = 254;
constexpr int kTopListId = 999;
constexpr int kTopMapId = 9999;
constexpr int kTopCharMapId = 999;

// Texts use letters, digits and a little punctuation, never a character the
// format gives a meaning ("," "^" quote) and never a blank at either end.
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_./()&+:";

class Gen {
 public:
  Gen(uint64_t seed, const Profile& p) : r_(seed), p_(p) {}
  std::string Run(const std::string& name);

 private:
  struct Section {
    int id, type;
    std::string name;
  };
  struct System {
    int id;
    std::string name;
    std::vector<Section> sections;
  };
  struct List {
    int id, app, section, type, fields;
  };

  std::string Text(int max, bool may_be_empty) {
    if (max <= 0) return "";
    int len;
    if (may_be_empty && r_.Chance(20)) return "";
    if (r_.Chance(p_.edge)) {
      len = max;
    } else {
      len = static_cast<int>(r_.Range(1, std::min(max, 24)));
    }
    std::string s;
    for (int i = 0; i < len; ++i) {
      if (p_.dbcs && i + 1 < len && r_.Chance(30)) {
        // Lead 81-9F or E0-FC; trail 40-7E or 80-FC (5C and 5E among them).
        int lead = static_cast<int>(r_.Range(0, 59));
        int trail = static_cast<int>(r_.Range(0, 187));
        s.push_back(static_cast<char>(lead < 31 ? 0x81 + lead : 0xE0 + lead - 31));
        s.push_back(static_cast<char>(trail < 63 ? 0x40 + trail : 0x80 + trail - 63));
        ++i;
      } else if (i > 0 && i + 1 < len && r_.Chance(12) && s.back() != ' ') {
        s.push_back(' ');
      } else {
        s.push_back(kAlphabet[r_.Range(0, sizeof kAlphabet - 2)]);
      }
    }
    return s;
  }
  // A field name may hold commas; the file shows them as carets. A comma
  // goes only where a single-byte character stood.
  std::string FieldName() {
    std::string s = Text(63, false);
    if (s.size() > 2 && r_.Chance(p_.edge)) {
      size_t at = 1 + r_.Range(0, s.size() - 3);
      size_t k = 0;
      while (k < at) k += (static_cast<unsigned char>(s[k]) >= 0x81) ? 2 : 1;
      if (k == at && static_cast<unsigned char>(s[at]) < 0x80) s[at] = ',';
    }
    for (size_t k = 0; k < s.size(); k += (static_cast<unsigned char>(s[k]) >= 0x81) ? 2 : 1)
      if (s[k] == ',') s[k] = '^';
    return s;
  }
  // IDs of one kind; with top_ids the last is the highest the table takes.
  std::vector<int> Ids(int count, int lo, int hi, int top) {
    if (!p_.top_ids || count == 0) return PickIds(count, lo, hi);
    std::vector<int> ids = PickIds(count - 1, lo, hi);
    ids.push_back(top);
    return ids;
  }
  char FieldType() {
    char type;
    if (p_.all_types) {
      type = static_cast<char>(0x21 + type_++ % 94);
      if (type == ',') type = static_cast<char>(0x21 + type_++ % 94);
      return type;
    }
    do type = static_cast<char>(r_.Range(0x21, 0x7E));
    while (type == ',');
    return type;
  }
  void Line(const std::string& s) {
    out_ += s;
    out_ += "\r\n";
  }
  void Separator() {
    Line("#------------------------------------------------------------------------------");
  }
  static std::string Hex(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "%x", v);
    return b;
  }
  static std::string N(int64_t v) { return std::to_string(v); }
  std::vector<int> PickIds(int count, int lo, int hi);

  void Systems();
  void FieldLists();
  void Maps();
  void CharMaps();
  void Table();
  const System* FindSystem(int id) const {
    for (const System& s : systems_)
      if (s.id == id) return &s;
    return nullptr;
  }
  // "# Map" names of one end; an unknown section gives its warning line.
  std::string EndNames(int system, int section, const char* which);

  Rng r_;
  Profile p_;
  std::string out_;
  std::vector<System> systems_;
  std::vector<List> lists_;
  std::vector<int> charmaps_;
  uint32_t enabled_[8] = {};
  int last_base_map_ = 0;
  size_t maps_ = 0;
  int type_ = 0;
  std::string body_;  // the blocks, written after the header counts are known
};

std::vector<int> Gen::PickIds(int count, int lo, int hi) {
  std::vector<int> ids;
  int span = hi - lo + 1;
  if (count >= span) {
    for (int i = lo; i <= hi; ++i) ids.push_back(i);
    return ids;
  }
  // Walk the range and take each ID with the probability still needed.
  int need = count;
  for (int id = lo; id <= hi && need > 0; ++id) {
    int left = hi - id + 1;
    if (r_.Range(1, left) <= need) {
      ids.push_back(id);
      --need;
    }
  }
  return ids;
}

void Gen::CharMaps() {
  int n = static_cast<int>(r_.Range(p_.charmaps_lo, p_.charmaps_hi));
  charmaps_ = Ids(n, 1, p_.max ? 70 : 6, kTopCharMapId);
}

void Gen::Systems() {
  int n = static_cast<int>(r_.Range(p_.systems_lo, p_.systems_hi));
  std::vector<int> ids = Ids(n, 1, p_.max ? 250 : 12, kTopSystemId);
  Separator();
  Line("TYPE=SYSTEM");
  Line("COUNT=" + N(ids.size()));
  for (int id : ids) {
    System sys{id, Text(63, false), {}};
    int nsec = static_cast<int>(r_.Range(0, p_.sections_hi));
    if (r_.Chance(p_.max ? 1 : 2)) nsec = static_cast<int>(r_.Range(20, 113));
    std::vector<int> secids = PickIds(nsec, 1, nsec + 5);
    for (int sid : secids)
      sys.sections.push_back({sid, static_cast<int>(r_.Range(0, 9)), Text(63, false)});

    auto charmap = [&] {
      if (charmaps_.empty() || r_.Chance(50)) return 0;
      return charmaps_[r_.Range(0, charmaps_.size() - 1)];
    };
    std::string flags;
    for (int k = 0; k < 10; ++k) flags.push_back(r_.Chance(30) ? '1' : '0');
    Separator();
    Line("SYSTEM=" + N(id) + "," + N(r_.Range(0, 40)) + "," + N(r_.Range(0, 23)) + ",\"" +
         sys.name + "\"," + Text(11, true) + "," + Text(31, true) + "," + N(r_.Range(0, 8)) + "," +
         N(r_.Range(0, 2)) + "," + N(r_.Range(0, 2)) + "," + Text(259, true) + "," + N(r_.Short()) +
         "," + Text(63, false) + "," + N(r_.Range(0, 8)) + "," + flags + ",0X" + Hex(r_.Word()) +
         "," + N(charmap()) + "," + N(charmap()) + "," + N(sys.sections.size()));
    std::string ex1 = "SYSTEMEX1=8";
    for (int k = 0; k < 8; ++k) {
      uint32_t w = r_.Chance(30) ? 0 : r_.Word();
      enabled_[k] |= w;
      ex1 += ",0X" + Hex(w);
    }
    Line(ex1);
    Line("SYSTEMEX2=" + N(r_.Short()) + "," + N(r_.Long()) + "," + N(r_.Long()) + "," +
         N(r_.Long()) + "," + N(r_.Long()) + "," + Text(39, true) + "," + Text(39, true));
    Line("SYSTEMEX3=" + Text(39, true) + "," + Text(39, true) + "," + Text(39, true) + "," +
         Text(63, true) + "," + Text(463, true));
    for (const Section& s : sys.sections) {
      std::string ch;
      if (!r_.Chance(30)) {
        char c;
        do c = static_cast<char>(r_.Range(0x21, 0x7E));
        while (c == ',');
        ch.push_back(c);
      }
      Line("SECTION=" + N(s.id) + "," + N(s.type) + ",\"" + s.name + "\"," + Text(63, true) + "," +
           N(r_.Range(0, 8)) + "," + Text(31, true) + "," + ch + ",0X" + Hex(r_.Word()) + "," +
           N(r_.Range(0, 5)) + "," + Text(63, true) + "," + N(r_.Long()));
    }
    systems_.push_back(std::move(sys));
  }
}

void Gen::FieldLists() {
  int n = static_cast<int>(r_.Range(p_.lists_lo, p_.lists_hi));
  std::vector<int> ids = Ids(n, 0, p_.max ? 999 : 15, kTopListId);
  Separator();
  Line("TYPE=FIELDS");
  Line("COUNT=" + N(ids.size()));
  for (int id : ids) {
    const System& sys = systems_[r_.Range(0, systems_.size() - 1)];
    List l{id, sys.id, 0, static_cast<int>(r_.Range(0, 9)),
           static_cast<int>(r_.Range(p_.fields_lo, p_.fields_hi))};
    if (!sys.sections.empty() && !r_.Chance(10)) {
      const Section& s = sys.sections[r_.Range(0, sys.sections.size() - 1)];
      l.section = s.id;
      l.type = s.type;
    }
    if (!p_.max && r_.Chance(3)) l.fields = 0;
    Separator();
    Line("# Record length: " + N(76 + 164 * l.fields));
    Line("LISTID=" + N(id));
    Line("APP=" + N(l.app));
    Line("SECID=" + N(l.section));
    Line("SECTYPE=" + N(l.type));
    Line("NAME=" + Text(64, true));
    Line("COUNT=" + N(l.fields));
    for (int j = 0; j < l.fields; ++j) {
      char type = FieldType();
      Line("FIELD=" + N(j + 1) + ",\"" + Text(31, false) + "\",\"" + FieldName() + "\"," +
           N(j + 1) + "," + std::string(1, type) + "," + N(r_.Long()) + "," + N(r_.Short()) + "," +
           Text(19, true) + "," + Text(21, true) + ",0X" + Hex(r_.Word()) + "," + N(r_.Short()) +
           "," + N(r_.Long()));
    }
    lists_.push_back(l);
  }
}

std::string Gen::EndNames(int system, int section, const char* which) {
  const System* sys = FindSystem(system);
  std::string sysname = sys ? sys->name : "";
  if (sys) {
    for (const Section& s : sys->sections)
      if (s.id == section) return sysname + " " + s.name;
  }
  Line(std::string("## Warning -- Unspecified ") + which + " Section detected");
  return sysname + " <Unspecified>";
}

void Gen::Maps() {
  int n = static_cast<int>(r_.Range(p_.maps_lo, p_.maps_hi));
  std::vector<int> ids = Ids(n, 1, p_.max ? 9500 : 20, kTopMapId);
  maps_ = ids.size();
  Separator();
  Line("TYPE=MAPS");
  Line("COUNT=" + N(ids.size()));
  for (int id : ids) {
    const List& src = lists_[r_.Range(0, lists_.size() - 1)];
    const List& dst = lists_[r_.Range(0, lists_.size() - 1)];
    // Mostly the list's own section; now and then one its system lacks.
    int src_sec = r_.Chance(5) ? static_cast<int>(r_.Range(0, 200)) : src.section;
    int dst_sec = r_.Chance(5) ? static_cast<int>(r_.Range(0, 200)) : dst.section;
    uint32_t attribs = r_.Word();
    if (attribs & 0x10) last_base_map_ = id;
    Separator();
    std::string from = EndNames(src.app, src_sec, "Source");
    std::string to = EndNames(dst.app, dst_sec, "Target");
    Line("# Map " + from + " to " + to);
    Line("MAPID=" + N(id));
    Line("SECTYPE=" + N(r_.Range(0, 9)));
    Line("NAME=" + Text(63, true));
    Line("ATTRIBS=" + N(static_cast<int32_t>(attribs)));
    Line("SOURCE=" + N(src.app) + "," + N(src.id) + "," + N(src_sec));
    Line("TARGET=" + N(dst.app) + "," + N(dst.id) + "," + N(dst_sec));
    Line("COUNT=" + N(src.fields));
    std::string map = "MAP=";
    for (int j = 0; j < src.fields; ++j) {
      if (j > 0) map += ",";
      map += N(r_.Chance(25) ? 0 : r_.Range(0, dst.fields));
    }
    Line(map);
  }
}

void Gen::Table() {
  Separator();
  Line("TYPE=CHARMAP");
  Line("COUNT=" + N(charmaps_.size()));
  for (int id : charmaps_) {
    Separator();
    Line("CHARMAP=" + N(id) + "," + Text(63, false) + ",0X" + Hex(r_.Range(0, 0xFFFF)) + ",256");
    for (int row = 0; row < 16; ++row) {
      std::string col = "COL=" + Hex(row);
      for (int c = 0; c < 16; ++c)
        col += "," + Hex(r_.Chance(70) ? (16 * row + c) : static_cast<uint32_t>(r_.Range(0, 255)));
      Line(col);
    }
  }
  bool zero = r_.Chance(20);
  Separator();
  Line("TYPE=TABLE");
  Line("MAINSYSTEM=" + N(zero ? 0 : systems_[r_.Range(0, systems_.size() - 1)].id));
  Line("MAINCLASS=" + N(zero ? 0 : r_.Range(0, 40)));
  Line("PRODUCTID=" + N(zero ? 0 : r_.Long()));
  Line("BUNDLEDFLAG=" + N(zero ? 0 : r_.Range(0, 1)));
  std::string ep = "ENABLEDPRODUCTS=8";
  for (uint32_t w : enabled_) ep += "L,0X" + Hex(w);
  Line(ep + "L");
}

std::string Gen::Run(const std::string& name) {
  CharMaps();
  Systems();
  FieldLists();
  Maps();
  Table();
  body_.swap(out_);
  Line("# QVTB file name:  " + name);
  Line("# QVTB file version:  4");
  Line("# QVTB last base map:  " + N(last_base_map_));
  Line("# Number of systems:  " + N(systems_.size()));
  Line("# Number of field lists:  " + N(lists_.size()));
  Line("# Number of field maps:  " + N(maps_));
  Line("# Number of CharMaps:  " + N(charmaps_.size()));
  Line("# System record size: 1536");
  Line("# Section record size: 276");
  Line("# Field list record size: 240");
  Line("# Field record size: 164");
  Line("# Config. record size: 20");
  Line("# Field map record size: 76");
  Line("# CharMap record size: 325");
  out_ += body_;
  Line("# Processing completed successfully");
  return out_;
}

}  // namespace

int main(int argc, char** argv) {
  const Profile* p = nullptr;
  if (argc == 4) {
    if (std::strcmp(argv[2], "small") == 0) p = &kSmall;
    if (std::strcmp(argv[2], "max") == 0) p = &kMax;
    if (std::strcmp(argv[2], "edge") == 0) p = &kEdge;
  }
  if (!p) {
    std::fprintf(stderr, "usage: tblgen <seed> <small|max|edge> <out.txt>\n");
    return 2;
  }
  char* end = nullptr;
  unsigned long long seed = std::strtoull(argv[1], &end, 10);
  if (end == argv[1] || *end != '\0') {
    std::fprintf(stderr, "tblgen: seed must be a decimal number\n");
    return 2;
  }
  std::string text = Gen(seed, *p).Run(argv[3]);
  std::FILE* f = std::fopen(argv[3], "wb");
  if (!f) {
    std::fprintf(stderr, "tblgen: cannot create %s\n", argv[3]);
    return 1;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "tblgen: error writing %s\n", argv[3]);
    return 1;
  }
  return 0;
}
