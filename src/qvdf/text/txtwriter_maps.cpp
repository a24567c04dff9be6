// The text writer's field-maps and character-maps blocks. A map's "# Map"
// comment names its systems and sections from the name tables that the
// systems block filled; entries past a map's stored record are unmapped.
#include <cstring>
#include <string>
#include <string_view>

#include "qvdf/store/store.h"
#include "qvdf/text/txtwriter_impl.h"

namespace txtw {
namespace {

struct Names {
  std::string_view system;
  std::string_view section = "<Unspecified>";
  bool found = false;
};

// The system's name and the name of its first section with that ID; a
// system or section the tables do not hold gives "<Unspecified>".
Names Lookup(uint16_t system, uint16_t section) {
  Names out;
  const auto& tables = State().names;
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

void AddEnd(uint32_t end, int16_t list) {
  AddInt(end >> 16);
  AddChar(',');
  AddInt(list);
  AddChar(',');
  AddInt(end & 0xFFFF);
  Emit();
}

void WriteMap(TableDb* db, int key, const ConfigRecord& cfg, const FieldMapRecord& rec, int len) {
  Separator();
  if (key != cfg.nConfigID || key != cfg.nMapID) {
    Note(kLevelError, "## Warning -- Map Key= " + std::to_string(key) +
                          " MapID= " + std::to_string(static_cast<int16_t>(cfg.nMapID)) +
                          " ConfigID= " + std::to_string(static_cast<int16_t>(cfg.nConfigID)));
  }
  Names src = Lookup(cfg.dwSource >> 16, cfg.dwSource & 0xFFFF);
  if (!src.found) Note(kLevelWarning, "## Warning -- Unspecified Source Section detected");
  Names dst = Lookup(cfg.dwTarget >> 16, cfg.dwTarget & 0xFFFF);
  if (!dst.found) Note(kLevelWarning, "## Warning -- Unspecified Target Section detected");
  Begin("# Map ");
  Add(src.system);
  AddChar(' ');
  Add(src.section);
  Add(" to ");
  Add(dst.system);
  AddChar(' ');
  Add(dst.section);
  Emit();

  Begin("MAPID=");
  AddInt(static_cast<int16_t>(cfg.nMapID));
  Emit();
  Begin("SECTYPE=");
  AddInt(static_cast<int16_t>(cfg.nSecType));
  Emit();
  Begin("NAME=");
  AddText(rec.szName, sizeof rec.szName);
  Emit();
  Begin("ATTRIBS=");
  AddInt(static_cast<int32_t>(rec.dwAttribs));
  Emit();
  Begin("SOURCE=");
  AddEnd(cfg.dwSource, rec.nSourceList);
  Begin("TARGET=");
  AddEnd(cfg.dwTarget, rec.nTargetList);

  int n = GetFieldListCount(db, rec.nSourceList);
  Begin("COUNT=");
  AddInt(n);
  Emit();
  // A list replaced by a longer one leaves the map's record short: the
  // entries it lacks are unmapped.
  int stored = (len - kFieldMapFixedSize) / 2;
  Begin("MAP=");
  if (n > 0) {
    // Each entry is a comma and at most six characters.
    Sink& o = State().out;
    char* d = o.Room(static_cast<size_t>(n) * 7 + kIntRoom);
    for (int j = 0; j < n; ++j) {
      if (j > 0) *d++ = ',';
      int16_t e = j < stored ? GetMapEntry(&rec, j) : int16_t{-1};
      d = PutInt(d, e == -1 ? 0 : e + 1);
    }
    o.Commit(d);
  }
  Emit();
}

}  // namespace

int WriteFieldMaps(TableDb* db) {
  int count = CountFieldMaps(db);
  Separator();
  Line("TYPE=MAPS");
  Begin("COUNT=");
  AddInt(count);
  Emit();

  int slots = FieldMapSlots(db);
  RecordBuffer buf(FieldMapRecordSize(150));
  int remaining = count;
  for (int key = 0; remaining > 0 && key <= slots; ++key) {
    if (!FieldMapExists(db, key)) continue;
    int len = GetFieldMapSize(db, key);
    if (len <= 0) return LengthFailure(db);
    if (len < kFieldMapFixedSize) return 4;
    if (!buf.Reserve(len)) return 12;
    ConfigRecord cfg{};
    int rc = ReadFieldMap(db, key, &cfg, buf.get(), len);
    if (rc != 0) return rc;
    const auto* rec = static_cast<const FieldMapRecord*>(buf.get());
    if (!Writable(rec->szName, sizeof rec->szName)) return Unwritable("field map", key);
    WriteMap(db, key, cfg, *rec, len);
    --remaining;
  }
  return 0;
}

int WriteCharMaps(TableDb* db) {
  int count = CountCharMaps(db);
  Separator();
  Line("TYPE=CHARMAP");
  Begin("COUNT=");
  AddInt(count);
  Emit();

  int slots = CharMapSlots(db);
  RecordBuffer buf(kCharMapSize);
  int remaining = count;
  for (int key = 0; remaining > 0 && key <= slots; ++key) {
    if (!CharMapExists(db, key)) continue;
    int len = GetCharMapSize(db, key);
    if (len <= 0) return LengthFailure(db);
    if (len < kCharMapSize) return 4;
    if (!buf.Reserve(len)) return 12;
    int rc = ReadCharMap(db, key, buf.get(), len);
    if (rc != 0) return rc;
    const auto* rec = static_cast<const CharMapRecord*>(buf.get());
    if (!Writable(rec->szName, sizeof rec->szName)) return Unwritable("CharMap", key);

    Separator();
    Begin("CHARMAP=");
    AddInt(key);
    AddChar(',');
    AddText(rec->szName, sizeof rec->szName);
    Add(",0X");
    AddHex(rec->wFlags);
    AddChar(',');
    AddInt(rec->nChars);
    Emit();
    for (int r = 0; r < 16; ++r) {
      Begin("COL=");
      AddHex(r);
      for (int c = 0; c < 16; ++c) {
        AddChar(',');
        AddHex(rec->abMap[16 * r + c]);
      }
      Emit();
    }
    --remaining;
  }
  return 0;
}

}  // namespace txtw
