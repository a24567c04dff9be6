// The diff. Both tables are walked by ID in step, a record of each at a
// time; records whose bytes agree are passed at once, the others compared
// field by field through the record field tables. Each difference is
// printed as soon as its record is done, so a diff of two large tables
// holds no more than one record of each.
#include "tbltool/diff.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>

#include "tbltool/bytes.h"
#include "tbltool/cli.h"
#include "tbltool/fields.h"
#include "tbltool/findings.h"
#include "tbltool/source.h"
#include "tbltool/tables.h"

namespace tbltool {

namespace {

using nlohmann::json;

const char kHelp[] =
    "Usage: tbltool diff [--json] [-2|-3|-4] A [-2|-3|-4] B\n"
    "Shows what differs between tables A and B, in any forms: systems and\n"
    "their sections, field lists field by field, field maps entry by entry,\n"
    "charmaps and the table-wide values, grouped by kind; + added in B,\n"
    "- removed from A, ~ changed, with each changed field as A -> B.\n"
    "  --json     the differences as one JSON object\n"
    "Exit: 0 the same, 1 different, 2 trouble.\n";

struct Change {
  std::string field;
  std::string from, to;
  json jfrom, jto;
};

struct Item {
  char op = '~';
  std::string kind;
  int id = 0;
  std::string name;
  std::vector<Change> changes;
  std::vector<Item> parts;
  bool empty() const { return changes.empty() && parts.empty(); }
};

std::string Quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }
std::string HexNum(int64_t v) {
  char b[24];
  std::snprintf(b, sizeof b, "0x%llx", static_cast<unsigned long long>(v));
  return b;
}
std::string CharText(char c) { return c ? Quoted(std::string_view(&c, 1)) : std::string("\"\""); }

// Every field of d that differs between a and b.
void FieldChanges(const RecordDesc& d, const void* a, const void* b, std::vector<Change>* out) {
  const char* pa = static_cast<const char*>(a);
  const char* pb = static_cast<const char*>(b);
  for (size_t i = 0; i < d.count; ++i) {
    const FieldDesc& f = d.fields[i];
    if (SameField(a, b, f)) continue;
    const std::string name(f.name);
    switch (f.kind) {
      case FieldKind::kI16:
      case FieldKind::kU16:
      case FieldKind::kI32:
      case FieldKind::kU32: {
        int64_t x = GetNumber(a, f), y = GetNumber(b, f);
        // Attribute words read best in hexadecimal.
        bool hex = f.kind == FieldKind::kU32 && name.compare(0, 2, "dw") == 0;
        out->push_back(
            {name, hex ? HexNum(x) : std::to_string(x), hex ? HexNum(y) : std::to_string(y), x, y});
        break;
      }
      case FieldKind::kText: {
        std::string_view x = TextOf(a, f), y = TextOf(b, f);
        if (x != y) out->push_back({name, Quoted(x), Quoted(y), Utf8(x), Utf8(y)});
        std::string_view tx = TailOf(a, f), ty = TailOf(b, f);
        if (tx != ty) out->push_back({name + "Tail", ToHex(tx), ToHex(ty), ToHex(tx), ToHex(ty)});
        break;
      }
      case FieldKind::kChar:
        out->push_back({name, CharText(pa[f.offset]), CharText(pb[f.offset]),
                        Utf8(std::string(pa[f.offset] ? 1 : 0, pa[f.offset])),
                        Utf8(std::string(pb[f.offset] ? 1 : 0, pb[f.offset]))});
        break;
      case FieldKind::kCType: {
        char x = pa[f.offset], y = pb[f.offset];
        if (x != y)
          out->push_back({name, CharText(x), CharText(y), Utf8(std::string(x ? 1 : 0, x)),
                          Utf8(std::string(y ? 1 : 0, y))});
        int hx = static_cast<unsigned char>(pa[f.offset + 1]),
            hy = static_cast<unsigned char>(pb[f.offset + 1]);
        if (hx != hy)
          out->push_back({name + "High", std::to_string(hx), std::to_string(hy), hx, hy});
        break;
      }
      case FieldKind::kReserved: {
        std::string x = ToHex(std::string_view(pa + f.offset, f.size)),
                    y = ToHex(std::string_view(pb + f.offset, f.size));
        out->push_back({name, x, y, x, y});
        break;
      }
      case FieldKind::kI16Array:
      case FieldKind::kU32Array:
        for (size_t k = 0; k < ArrayCount(f); ++k) {
          int64_t x = GetNumber(a, f, k), y = GetNumber(b, f, k);
          if (x == y) continue;
          bool hex = f.kind == FieldKind::kU32Array;
          out->push_back({name + "[" + std::to_string(k) + "]", hex ? HexNum(x) : std::to_string(x),
                          hex ? HexNum(y) : std::to_string(y), x, y});
        }
        break;
      case FieldKind::kBytes:
        for (size_t k = 0; k < f.size; ++k) {
          int x = static_cast<unsigned char>(pa[f.offset + k]),
              y = static_cast<unsigned char>(pb[f.offset + k]);
          if (x != y)
            out->push_back(
                {name + "[" + HexNum(static_cast<int64_t>(k)) + "]", HexNum(x), HexNum(y), x, y});
        }
        break;
    }
  }
}

json ItemJson(const Item& it) {
  json j = {{"kind", it.kind},
            {"change", it.op == '+'   ? "added"
                       : it.op == '-' ? "removed"
                                      : "changed"}};
  if (it.kind != "table") j["id"] = it.id;
  if (!it.name.empty()) j["name"] = Utf8(it.name);
  if (!it.changes.empty()) {
    json f = json::array();
    for (const Change& c : it.changes)
      f.push_back({{"field", c.field}, {"from", c.jfrom}, {"to", c.jto}});
    j["fields"] = std::move(f);
  }
  if (!it.parts.empty()) {
    json p = json::array();
    for (const Item& part : it.parts) p.push_back(ItemJson(part));
    j["parts"] = std::move(p);
  }
  return j;
}

void PrintItem(const Item& it, int indent) {
  std::string pad(static_cast<size_t>(indent), ' ');
  if (it.kind == "table") {
    // The table is one: its values stand under the heading themselves.
    for (const Change& c : it.changes)
      std::printf("%s~ %s: %s -> %s\n", pad.c_str(), c.field.c_str(), c.from.c_str(), c.to.c_str());
    return;
  }
  std::string head = pad + it.op + " " + it.kind;
  if (it.kind != "table") head += " " + std::to_string(it.id);
  if (!it.name.empty()) head += " " + Quoted(it.name);
  std::printf("%s\n", head.c_str());
  for (const Change& c : it.changes)
    std::printf("%s    %s: %s -> %s\n", pad.c_str(), c.field.c_str(), c.from.c_str(), c.to.c_str());
  for (const Item& p : it.parts) PrintItem(p, indent + 4);
}

// Writes the items as they come, under a heading per kind.
class Report {
 public:
  Report(bool json, const std::string& a, const std::string& b) : json_(json) {
    if (json_)
      std::printf("{\"a\":%s,\"b\":%s,\"changes\":[", nlohmann::json(Utf8(a)).dump().c_str(),
                  nlohmann::json(Utf8(b)).dump().c_str());
    else
      header_ = "--- " + a + "\n+++ " + b + "\n";
  }
  void Group(const char* title) {
    group_ = title;
    groupShown_ = false;
  }
  void Add(const Item& it) {
    ++count_;
    if (json_) {
      std::printf("%s\n%s", count_ > 1 ? "," : "", ItemJson(it).dump().c_str());
      return;
    }
    if (!header_.empty()) {
      std::fputs(header_.c_str(), stdout);
      header_.clear();
    }
    if (!groupShown_) {
      std::printf("%s:\n", group_);
      groupShown_ = true;
    }
    PrintItem(it, 2);
  }
  int Finish() {
    if (json_) std::printf("%s],\"same\":%s}\n", count_ ? "\n" : "", count_ ? "false" : "true");
    std::fflush(stdout);
    return count_ ? kExitFindings : kExitOk;
  }

 private:
  bool json_;
  std::string header_;
  const char* group_ = "";
  bool groupShown_ = false;
  int count_ = 0;
};

// IDs in either list, ascending, with where each is.
template <typename F>
void Merge(const std::vector<int>& a, const std::vector<int>& b, F f) {
  size_t i = 0, k = 0;
  while (i < a.size() || k < b.size()) {
    if (k == b.size() || (i < a.size() && a[i] < b[k])) {
      f(a[i++], true, false);
    } else if (i == a.size() || b[k] < a[i]) {
      f(b[k++], false, true);
    } else {
      f(a[i], true, true);
      ++i, ++k;
    }
  }
}

struct Trouble {
  std::string text;
};

void Need(int rc, const std::string& what) {
  if (rc != 0) throw Trouble{what + " cannot be read (code " + std::to_string(rc) + ")"};
}

const FieldDesc& Named(const RecordDesc& d, const char* name) { return *FindField(d, name); }

class Differ {
 public:
  Differ(TableDb* a, TableDb* b, Report* r) : a_(a), b_(b), r_(r) {}

  // Reads the record of each table that has it (read(db, buf)); true when
  // both have it, otherwise reports it added or removed.
  template <typename Read>
  bool InBoth(Item& it, bool inA, bool inB, const FieldDesc& name, Read read) {
    const std::string what = it.kind + " " + std::to_string(it.id);
    if (inA) Need(read(a_, &ra_), what + " of A");
    if (inB) Need(read(b_, &rb_), what + " of B");
    if (inA && inB) return true;
    it.op = inA ? '-' : '+';
    it.name = TextOf((inA ? ra_ : rb_).bytes.data(), name);
    r_->Add(it);
    return false;
  }

  void Systems() {
    static const FieldDesc& kName = Named(kSystemDesc, "szName");
    r_->Group("systems");
    Merge(SystemIds(a_), SystemIds(b_), [&](int id, bool inA, bool inB) {
      Item it;
      it.kind = "system";
      it.id = id;
      if (!InBoth(it, inA, inB, kName,
                  [&](TableDb* db, RecordBuf* r) { return ReadSystemRec(db, id, r); }))
        return;
      if (ra_.bytes == rb_.bytes) return;
      it.name = TextOf(rb_.bytes.data(), kName);
      FieldChanges(kSystemDesc, ra_.bytes.data(), rb_.bytes.data(), &it.changes);
      Sections(&it);
      if (!it.empty()) r_->Add(it);
    });
  }

  void Lists() {
    static const FieldDesc& kName = Named(kListDesc, "szName");
    static const FieldDesc& kFieldName = Named(kFieldDesc, "szName");
    r_->Group("field lists");
    Merge(ListIds(a_), ListIds(b_), [&](int id, bool inA, bool inB) {
      Item it;
      it.kind = "field list";
      it.id = id;
      if (!InBoth(it, inA, inB, kName,
                  [&](TableDb* db, RecordBuf* r) { return ReadListRec(db, id, r); }))
        return;
      int ma = GetFieldListMark(a_, id), mb = GetFieldListMark(b_, id);
      if (ra_.bytes == rb_.bytes && ma == mb) return;
      it.name = TextOf(rb_.bytes.data(), kName);
      FieldChanges(kListDesc, ra_.bytes.data(), rb_.bytes.data(), &it.changes);
      if (ma != mb)
        it.changes.push_back({"cMark", CharText(static_cast<char>(ma)),
                              CharText(static_cast<char>(mb)),
                              Utf8(std::string(ma ? 1 : 0, static_cast<char>(ma))),
                              Utf8(std::string(mb ? 1 : 0, static_cast<char>(mb)))});
      const FieldRecord* fa = ListFields(ra_.as<FieldListRecord>());
      const FieldRecord* fb = ListFields(rb_.as<FieldListRecord>());
      const int na = FieldCount(ra_), nb = FieldCount(rb_);
      for (int k = 0; k < std::max(na, nb); ++k) {
        Item part;
        part.kind = "field";
        part.id = k + 1;
        if (k >= na || k >= nb) {
          part.op = k >= na ? '+' : '-';
          part.name = TextOf(k >= na ? &fb[k] : &fa[k], kFieldName);
          it.parts.push_back(std::move(part));
          continue;
        }
        if (std::memcmp(&fa[k], &fb[k], sizeof(FieldRecord)) == 0) continue;
        part.name = TextOf(&fb[k], kFieldName);
        FieldChanges(kFieldDesc, &fa[k], &fb[k], &part.changes);
        it.parts.push_back(std::move(part));
      }
      if (!it.empty()) r_->Add(it);
    });
  }

  void Maps() {
    static const FieldDesc& kName = Named(kMapDesc, "szName");
    r_->Group("field maps");
    Merge(MapIds(a_), MapIds(b_), [&](int id, bool inA, bool inB) {
      Item it;
      it.kind = "field map";
      it.id = id;
      ConfigRecord ca{}, cb{};
      bool ownA = false, ownB = false;
      if (!InBoth(it, inA, inB, kName, [&](TableDb* db, RecordBuf* r) {
            return db == a_ ? ReadMapRec(db, id, &ca, r, &ownA) : ReadMapRec(db, id, &cb, r, &ownB);
          }))
        return;
      if (std::memcmp(&ca, &cb, sizeof ca) == 0 && ownA == ownB && ra_.bytes == rb_.bytes) return;
      it.name = TextOf(rb_.bytes.data(), kName);
      FieldChanges(kConfigDesc, &ca, &cb, &it.changes);
      if (ownA != ownB) {
        auto whose = [](bool own, const ConfigRecord& c) {
          return own ? std::string("its own") : "that of field map " + std::to_string(c.nMapID);
        };
        it.changes.push_back(
            {"record", whose(ownA, ca), whose(ownB, cb), whose(ownA, ca), whose(ownB, cb)});
      } else if (ownA) {
        FieldChanges(kMapDesc, ra_.bytes.data(), rb_.bytes.data(), &it.changes);
        const int na = MapEntries(ra_), nb = MapEntries(rb_);
        auto entry = [](const RecordBuf& r, int n, int e) -> std::pair<std::string, json> {
          if (e >= n) return {"none", nullptr};
          int v = GetMapEntry(r.as<FieldMapRecord>(), e);
          return {v < 0 ? std::string("unmapped") : "field " + std::to_string(v + 1), v};
        };
        for (int e = 0; e < std::max(na, nb); ++e) {
          auto x = entry(ra_, na, e), y = entry(rb_, nb, e);
          if (x.second != y.second)
            it.changes.push_back(
                {"entry " + std::to_string(e + 1), x.first, y.first, x.second, y.second});
        }
      }
      if (!it.empty()) r_->Add(it);
    });
  }

  void CharMaps() {
    static const FieldDesc& kName = Named(kCharMapDesc, "szName");
    r_->Group("charmaps");
    Merge(CharMapIds(a_), CharMapIds(b_), [&](int id, bool inA, bool inB) {
      Item it;
      it.kind = "charmap";
      it.id = id;
      if (!InBoth(it, inA, inB, kName,
                  [&](TableDb* db, RecordBuf* r) { return ReadCharMapRec(db, id, r); }))
        return;
      if (ra_.bytes == rb_.bytes) return;
      it.name = TextOf(rb_.bytes.data(), kName);
      FieldChanges(kCharMapDesc, ra_.bytes.data(), rb_.bytes.data(), &it.changes);
      if (!it.empty()) r_->Add(it);
    });
  }

  void Table() {
    r_->Group("table");
    Item it;
    it.kind = "table";
    auto value = [&](const char* name, int64_t x, int64_t y) {
      if (x != y) it.changes.push_back({name, std::to_string(x), std::to_string(y), x, y});
    };
    value("nMainSystem", GetMainSystem(a_), GetMainSystem(b_));
    value("nMainClass", GetMainClass(a_), GetMainClass(b_));
    value("dwProductID", GetProductID(a_), GetProductID(b_));
    value("nBundledFlag", GetBundledFlag(a_), GetBundledFlag(b_));
    if (!it.empty()) r_->Add(it);
  }

 private:
  // Sections by their ID, which is unique within a system.
  void Sections(Item* it) {
    static const FieldDesc& kName = Named(kSectionDesc, "szName");
    const SectionRecord* sa = SystemSections(ra_.as<SystemRecord>());
    const SectionRecord* sb = SystemSections(rb_.as<SystemRecord>());
    const int na = SectionCount(ra_), nb = SectionCount(rb_);
    std::map<int, int> ia, ib;
    std::vector<int> order;  // IDs in A's order, then B's new ones
    for (int i = 0; i < na; ++i)
      if (ia.emplace(sa[i].nSectionID, i).second) order.push_back(sa[i].nSectionID);
    for (int i = 0; i < nb; ++i)
      if (ib.emplace(sb[i].nSectionID, i).second && !ia.count(sb[i].nSectionID))
        order.push_back(sb[i].nSectionID);
    std::string orderA, orderB;
    for (int i = 0; i < na; ++i)
      if (ib.count(sa[i].nSectionID))
        orderA += (orderA.empty() ? "" : ", ") + std::to_string(sa[i].nSectionID);
    for (int i = 0; i < nb; ++i)
      if (ia.count(sb[i].nSectionID))
        orderB += (orderB.empty() ? "" : ", ") + std::to_string(sb[i].nSectionID);
    if (orderA != orderB) it->changes.push_back({"section order", orderA, orderB, orderA, orderB});
    for (int id : order) {
      auto x = ia.find(id), y = ib.find(id);
      Item part;
      part.kind = "section";
      part.id = id;
      if (x == ia.end() || y == ib.end()) {
        part.op = x == ia.end() ? '+' : '-';
        part.name = TextOf(x == ia.end() ? &sb[y->second] : &sa[x->second], kName);
        it->parts.push_back(std::move(part));
        continue;
      }
      const SectionRecord& a = sa[x->second];
      const SectionRecord& b = sb[y->second];
      if (std::memcmp(&a, &b, sizeof a) == 0) continue;
      part.name = TextOf(&b, kName);
      FieldChanges(kSectionDesc, &a, &b, &part.changes);
      it->parts.push_back(std::move(part));
    }
  }

  TableDb* a_;
  TableDb* b_;
  Report* r_;
  RecordBuf ra_, rb_;
};

}  // namespace

int RunDiff(int argc, char** argv) {
  CommandLine cl;
  if (int rc = ParseCommandLine("diff", argc, argv, kOptJson, &cl)) return rc;
  if (cl.help) return ShowHelp(kHelp);
  if (cl.version) return ShowVersion();
  if (cl.files.size() != 2) return UsageError("diff", "give two tables");
  LoadedTable a, b;
  if (int rc = LoadReadable(cl.files[0].name, cl.files[0].version, &a)) return rc;
  if (int rc = LoadReadable(cl.files[1].name, cl.files[1].version, &b)) return rc;
  Report report(cl.json, cl.files[0].name, cl.files[1].name);
  Differ d(&a.db, &b.db, &report);
  try {
    d.Systems();
    d.Lists();
    d.Maps();
    d.CharMaps();
    d.Table();
  } catch (const Trouble& t) {
    std::fflush(stdout);
    Complain(t.text);
    return kExitTrouble;
  }
  return report.Finish();
}

}  // namespace tbltool
