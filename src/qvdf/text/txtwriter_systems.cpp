// The text writer's systems block: one SYSTEM line per system (with its
// SYSTEMEX lines in version 4) and one SECTION line per section, filling the
// name tables that the field-maps block prints its "# Map" lines from.
#include <algorithm>

#include "qvdf/store/store.h"
#include "qvdf/text/txtwriter_impl.h"

namespace txtw {
namespace {

bool SystemWritable(const SystemRecord& r, const SectionRecord* sec, int n, int version) {
  if (!Writable(TXTW_FIELD(r, szName)) || !Writable(TXTW_FIELD(r, szTranslator)) ||
      !Writable(TXTW_FIELD(r, szSysText1)) || !Writable(TXTW_FIELD(r, szSysText2)) ||
      !Writable(TXTW_FIELD(r, szSectionTitle)))
    return false;
  if (version > 3 &&
      (!Writable(TXTW_FIELD(r, szEx2Text1)) || !Writable(TXTW_FIELD(r, szEx2Text2)) ||
       !Writable(TXTW_FIELD(r, szEx3Text1)) || !Writable(TXTW_FIELD(r, szEx3Text2)) ||
       !Writable(TXTW_FIELD(r, szEx3Text3)) || !Writable(TXTW_FIELD(r, szEx3Text4)) ||
       !Writable(TXTW_FIELD(r, szEx3Text5))))
    return false;
  for (int i = 0; i < n; ++i) {
    const SectionRecord& s = sec[i];
    if (!Writable(TXTW_FIELD(s, szName)) || !Writable(TXTW_FIELD(s, szSecText1)) ||
        !Writable(TXTW_FIELD(s, szSecText2)) || !Writable(TXTW_FIELD(s, szSecText3)))
      return false;
  }
  return true;
}

void WriteSystemLines(const SystemRecord& r) {
  Begin("SYSTEM=");
  AddInt(static_cast<int16_t>(r.nSystemID));
  AddChar(',');
  AddInt(r.nClass);
  AddChar(',');
  AddInt(r.nType);
  Add(",\"");
  AddText(TXTW_FIELD(r, szName));
  Add("\",");
  AddText(TXTW_FIELD(r, szTranslator));
  AddChar(',');
  AddText(TXTW_FIELD(r, szSysText1));
  AddChar(',');
  AddInt(r.nReconcile);
  AddChar(',');
  AddInt(r.nApptRange);
  AddChar(',');
  AddInt(r.nTodoRange);
  AddChar(',');
  AddText(TXTW_FIELD(r, szSysText2));
  AddChar(',');
  AddInt(r.nSysValue);
  AddChar(',');
  AddText(TXTW_FIELD(r, szSectionTitle));
  AddChar(',');
  AddInt(r.nAccessType);
  AddChar(',');
  for (int k = 0; k < 10; ++k) AddChar(r.anSectionFlags[k] != 0 ? '1' : '0');
  Add(",0X");
  AddHex(r.dwAttributes);
  AddChar(',');
  AddInt(r.nCharMap1);
  AddChar(',');
  AddInt(r.nCharMap2);
  AddChar(',');
  AddInt(r.nSections);
  Emit();
  if (State().version <= 3) return;

  Begin("SYSTEMEX1=8");
  for (int k = 0; k < 8; ++k) {
    Add(",0X");
    AddHex(r.adwProductFlags[k]);
    State().enabled[k] |= r.adwProductFlags[k];
  }
  Emit();
  Begin("SYSTEMEX2=");
  AddInt(r.nIDofSavedCopy);
  for (int32_t v : {r.nTBD1, r.nTBD2, r.nTBD3, r.nTBD4}) {
    AddChar(',');
    AddInt(v);
  }
  AddChar(',');
  AddText(TXTW_FIELD(r, szEx2Text1));
  AddChar(',');
  AddText(TXTW_FIELD(r, szEx2Text2));
  Emit();
  Begin("SYSTEMEX3=");
  AddText(TXTW_FIELD(r, szEx3Text1));
  AddChar(',');
  AddText(TXTW_FIELD(r, szEx3Text2));
  AddChar(',');
  AddText(TXTW_FIELD(r, szEx3Text3));
  AddChar(',');
  AddText(TXTW_FIELD(r, szEx3Text4));
  AddChar(',');
  AddText(TXTW_FIELD(r, szEx3Text5));
  Emit();
}

void WriteSectionLine(const SectionRecord& s) {
  Begin("SECTION=");
  AddInt(s.nSectionID);
  AddChar(',');
  AddInt(s.nSecType);
  Add(",\"");
  AddText(TXTW_FIELD(s, szName));
  Add("\",");
  AddText(TXTW_FIELD(s, szSecText2));
  AddChar(',');
  AddInt(s.nAccessType);
  AddChar(',');
  AddText(TXTW_FIELD(s, szSecText1));
  AddChar(',');
  unsigned char c = static_cast<unsigned char>(s.cSecChar);
  if (c >= 0x20 && c <= 0x7F) AddChar(s.cSecChar);
  Add(",0X");
  AddHex(s.dwAttributes);
  AddChar(',');
  AddInt(s.nSubSection);
  AddChar(',');
  AddText(TXTW_FIELD(s, szSecText3));
  AddChar(',');
  AddInt(s.nSecValue);
  Emit();
}

}  // namespace

int WriteSystems(TableDb* db) {
  WriterState& st = State();
  int count = CountSystems(db);
  Separator();
  Line("TYPE=SYSTEM");
  Begin("COUNT=");
  AddInt(count);
  Emit();

  int slots = SystemSlots(db);
  st.names.assign(slots > 0 ? slots + 1 : 1, SystemNames());
  RecordBuffer buf(SystemRecordSize(12));
  int remaining = count;
  for (int key = 0; remaining > 0 && key <= slots; ++key) {
    if (!SystemExists(db, key)) continue;
    int len = GetSystemSize(db, key);
    if (len <= 0) return LengthFailure(db);
    if (len < kSystemFixedSize) return 4;
    if (!buf.Reserve(len)) return 12;
    int rc = ReadSystem(db, key, buf.get(), len);
    if (rc != 0) return rc;

    const auto* rec = static_cast<const SystemRecord*>(buf.get());
    const SectionRecord* sections = SystemSections(rec);
    // The store checks the length against nSections; never trust one alone.
    int n = std::clamp<int>(rec->nSections, 0, (len - kSystemFixedSize) / kSectionSize);
    if (!SystemWritable(*rec, sections, n, st.version)) return Unwritable("system", key);

    if (rec->nSystemID != key) {
      Note(kLevelError, "## WARNING -- system ID for key " + std::to_string(key) + " is " +
                            std::to_string(static_cast<int16_t>(rec->nSystemID)));
    }
    Separator();
    WriteSystemLines(*rec);

    SystemNames& names = st.names[key];
    names.set = true;
    names.name.assign(rec->szName, strnlen(rec->szName, sizeof rec->szName));
    names.sections.clear();
    for (int i = 0; i < n; ++i) {
      const SectionRecord& s = sections[i];
      if (i < kMaxSections)
        names.sections.push_back(
            {s.nSectionID, std::string(s.szName, strnlen(s.szName, sizeof s.szName))});
      WriteSectionLine(s);
    }
    --remaining;
  }
  return 0;
}

}  // namespace txtw
