// The text writer's field-maps and character-maps blocks. A map's "# Map"
// comment names its systems and sections from the name tables that the
// systems block filled; entries past a map's stored record, and entries
// past the end of its target list, are unmapped.
#include <cstring>
#include <string>
#include <string_view>

#include "qvdf/store/store.h"
#include "qvdf/text/txtwriter_impl.h"
#include "qvutil/status.h"

namespace txtw {
namespace {

struct Names {
  std::string_view system;
  std::string_view section = "<Unspecified>";
  bool found = false;
};

// The system's name and the name of its first section with that ID; a
// system or section the tables do not hold gives "<Unspecified>".
Names Lookup(const Writer& w, uint16_t system, uint16_t section) {
  Names out;
  const auto& tables = w.names;
  if (system < tables.size() && tables[system].set) {
    const SystemNames& sys = tables[system];
    out.system = sys.name;
    for (const SectionName& s : sys.sections) {
      if (static_cast<uint16_t>(s.id) == section) {
        out.section = s.name;
        out.found = true;
        break;
      }
    }
  }
  return out;
}

void AddEnd(Writer& w, uint32_t end, int16_t list) {
  w.AddInt(end >> 16);
  w.AddChar(',');
  w.AddInt(list);
  w.AddChar(',');
  w.AddInt(end & 0xFFFF);
  w.Emit();
}

void WriteMap(Writer& w, TableDb* db, int key, const ConfigRecord& cfg, const FieldMapRecord& rec,
              int len) {
  w.Separator();
  if (key != cfg.nConfigID || key != cfg.nMapID) {
    w.Note(kLevelError, "## Warning -- Map Key= " + std::to_string(key) +
                            " MapID= " + std::to_string(static_cast<int16_t>(cfg.nMapID)) +
                            " ConfigID= " + std::to_string(static_cast<int16_t>(cfg.nConfigID)));
  }
  Names src = Lookup(w, cfg.dwSource >> 16, cfg.dwSource & 0xFFFF);
  if (!src.found) w.Note(kLevelWarning, "## Warning -- Unspecified Source Section detected");
  Names dst = Lookup(w, cfg.dwTarget >> 16, cfg.dwTarget & 0xFFFF);
  if (!dst.found) w.Note(kLevelWarning, "## Warning -- Unspecified Target Section detected");
  w.Begin("# Map ");
  w.Add(src.system);
  w.AddChar(' ');
  w.Add(src.section);
  w.Add(" to ");
  w.Add(dst.system);
  w.AddChar(' ');
  w.Add(dst.section);
  w.Emit();

  w.Begin("MAPID=");
  w.AddInt(static_cast<int16_t>(cfg.nMapID));
  w.Emit();
  w.Begin("SECTYPE=");
  w.AddInt(static_cast<int16_t>(cfg.nSecType));
  w.Emit();
  w.Begin("NAME=");
  w.AddText(rec.szName, sizeof rec.szName);
  w.Emit();
  w.Begin("ATTRIBS=");
  w.AddInt(static_cast<int32_t>(rec.dwAttribs));
  w.Emit();
  w.Begin("SOURCE=");
  AddEnd(w, cfg.dwSource, rec.nSourceList);
  w.Begin("TARGET=");
  AddEnd(w, cfg.dwTarget, rec.nTargetList);

  int n = GetFieldListCount(db, rec.nSourceList);
  w.Begin("COUNT=");
  w.AddInt(n);
  w.Emit();
  // A list replaced by a longer one leaves the map's record short: the
  // entries it lacks are unmapped.
  int stored = (len - kFieldMapFixedSize) / 2;
  // A target list replaced by a shorter one leaves entries pointing past
  // its end: they are written unmapped. (A missing list is refused by the
  // reader whatever the entries say.)
  const int targetCount = GetFieldListCount(db, rec.nTargetList);
  int pastEnd = 0;
  if (targetCount >= 0) {
    for (int j = 0; j < n && j < stored; ++j)
      if (GetMapEntry(&rec, j) >= targetCount) ++pastEnd;
  }
  if (pastEnd > 0) {
    w.Note(kLevelWarning, "## WARNING -- field map " + std::to_string(key) +
                              " maps past the end of target field list " +
                              std::to_string(rec.nTargetList) + ": " + std::to_string(pastEnd) +
                              (pastEnd == 1 ? " entry" : " entries") + " written as unmapped");
  }
  w.Begin("MAP=");
  if (n > 0) {
    // Each entry is a comma and at most six characters.
    Writer& o = w;
    char* d = o.Room(static_cast<size_t>(n) * 7 + kIntRoom);
    for (int j = 0; j < n; ++j) {
      if (j > 0) *d++ = ',';
      int16_t e = j < stored ? GetMapEntry(&rec, j) : int16_t{-1};
      if (pastEnd > 0 && e >= targetCount) e = -1;
      d = PutInt(d, e == -1 ? 0 : e + 1);
    }
    o.Commit(d);
  }
  w.Emit();
}

}  // namespace

int WriteFieldMaps(TableDb* db, Writer& w) {
  int count = CountFieldMaps(db);
  w.Separator();
  w.Line("TYPE=MAPS");
  w.Begin("COUNT=");
  w.AddInt(count);
  w.Emit();

  int slots = FieldMapSlots(db);
  RecordBuffer buf(FieldMapRecordSize(150));
  int remaining = count;
  for (int key = 0; remaining > 0 && key <= slots; ++key) {
    if (!FieldMapExists(db, key)) continue;
    int len = GetFieldMapSize(db, key);
    if (len <= 0) return LengthFailure(db);
    if (len < kFieldMapFixedSize) return kErrBadFormat;
    if (!buf.Reserve(len)) return kErrNoMemory;
    ConfigRecord cfg{};
    int rc = ReadFieldMap(db, key, &cfg, buf.get(), len);
    if (rc != 0) return rc;
    const auto* rec = static_cast<const FieldMapRecord*>(buf.get());
    if (!Writable(rec->szName, sizeof rec->szName)) return w.Unwritable("field map", key);
    WriteMap(w, db, key, cfg, *rec, len);
    --remaining;
  }
  return 0;
}

int WriteCharMaps(TableDb* db, Writer& w) {
  int count = CountCharMaps(db);
  w.Separator();
  w.Line("TYPE=CHARMAP");
  w.Begin("COUNT=");
  w.AddInt(count);
  w.Emit();

  int slots = CharMapSlots(db);
  RecordBuffer buf(kCharMapSize);
  int remaining = count;
  for (int key = 0; remaining > 0 && key <= slots; ++key) {
    if (!CharMapExists(db, key)) continue;
    int len = GetCharMapSize(db, key);
    if (len <= 0) return LengthFailure(db);
    if (len < kCharMapSize) return kErrBadFormat;
    if (!buf.Reserve(len)) return kErrNoMemory;
    int rc = ReadCharMap(db, key, buf.get(), len);
    if (rc != 0) return rc;
    const auto* rec = static_cast<const CharMapRecord*>(buf.get());
    if (!Writable(rec->szName, sizeof rec->szName)) return w.Unwritable("CharMap", key);

    w.Separator();
    w.Begin("CHARMAP=");
    w.AddInt(key);
    w.AddChar(',');
    w.AddText(rec->szName, sizeof rec->szName);
    w.Add(",0X");
    w.AddHex(rec->wFlags);
    w.AddChar(',');
    w.AddInt(rec->nChars);
    w.Emit();
    for (int r = 0; r < 16; ++r) {
      w.Begin("COL=");
      w.AddHex(r);
      for (int c = 0; c < 16; ++c) {
        w.AddChar(',');
        w.AddHex(rec->abMap[16 * r + c]);
      }
      w.Emit();
    }
    --remaining;
  }
  return 0;
}

}  // namespace txtw
