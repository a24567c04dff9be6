// The record checks. Every record is read once through the record
// operations; the few facts a later check needs of an earlier kind (field
// counts of lists, which systems and charmaps exist) are kept small.
// The checks of names and split keys are in namechecks.cpp.
#include "tbltool/tablechecks.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string_view>
#include <thread>

#include "qvdf/store/store.h"
#include "tbltool/fields.h"
#include "tbltool/tablechecks_internal.h"
#include "tbltool/tables.h"

namespace tbltool {

namespace tablechecks {

namespace {

std::string Hex(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%x", v);
  return b;
}

}  // namespace

void Checks::Run(TableDb* helper, const Placer& placer, std::vector<Finding>* out) {
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

void Checks::Take(Checks* other) {
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

}  // namespace tablechecks

void CheckRecords(TableDb* db, const Placer& placer, std::vector<Finding>* out, bool storeChecks,
                  TableDb* helper) {
  tablechecks::Checks(db, storeChecks).Run(helper, placer, out);
}

}  // namespace tbltool
