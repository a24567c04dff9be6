// The text writer's systems block: one SYSTEM line per system (with its
// SYSTEMEX lines in version 4) and one SECTION line per section, filling the
// name tables that the field-maps block prints its "# Map" lines from.
#include <algorithm>

#include "qvdf/store/store.h"
#include "qvdf/text/txtwriter_impl.h"
#include "qvutil/status.h"

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

void WriteSystemLines(Writer& w, const SystemRecord& r) {
  w.Begin("SYSTEM=");
  w.AddInt(static_cast<int16_t>(r.nSystemID));
  w.AddChar(',');
  w.AddInt(r.nClass);
  w.AddChar(',');
  w.AddInt(r.nType);
  w.Add(",\"");
  w.AddText(TXTW_FIELD(r, szName));
  w.Add("\",");
  w.AddText(TXTW_FIELD(r, szTranslator));
  w.AddChar(',');
  w.AddText(TXTW_FIELD(r, szSysText1));
  w.AddChar(',');
  w.AddInt(r.nReconcile);
  w.AddChar(',');
  w.AddInt(r.nApptRange);
  w.AddChar(',');
  w.AddInt(r.nTodoRange);
  w.AddChar(',');
  w.AddText(TXTW_FIELD(r, szSysText2));
  w.AddChar(',');
  w.AddInt(r.nSysValue);
  w.AddChar(',');
  w.AddText(TXTW_FIELD(r, szSectionTitle));
  w.AddChar(',');
  w.AddInt(r.nAccessType);
  w.AddChar(',');
  for (int k = 0; k < 10; ++k) w.AddChar(r.anSectionFlags[k] != 0 ? '1' : '0');
  w.Add(",0X");
  w.AddHex(r.dwAttributes);
  w.AddChar(',');
  w.AddInt(r.nCharMap1);
  w.AddChar(',');
  w.AddInt(r.nCharMap2);
  w.AddChar(',');
  w.AddInt(r.nSections);
  w.Emit();
  if (w.version <= 3) return;

  w.Begin("SYSTEMEX1=8");
  for (int k = 0; k < 8; ++k) {
    w.Add(",0X");
    w.AddHex(r.adwProductFlags[k]);
    w.enabled[k] |= r.adwProductFlags[k];
  }
  w.Emit();
  w.Begin("SYSTEMEX2=");
  w.AddInt(r.nIDofSavedCopy);
  for (int32_t v : {r.nTBD1, r.nTBD2, r.nTBD3, r.nTBD4}) {
    w.AddChar(',');
    w.AddInt(v);
  }
  w.AddChar(',');
  w.AddText(TXTW_FIELD(r, szEx2Text1));
  w.AddChar(',');
  w.AddText(TXTW_FIELD(r, szEx2Text2));
  w.Emit();
  w.Begin("SYSTEMEX3=");
  w.AddText(TXTW_FIELD(r, szEx3Text1));
  w.AddChar(',');
  w.AddText(TXTW_FIELD(r, szEx3Text2));
  w.AddChar(',');
  w.AddText(TXTW_FIELD(r, szEx3Text3));
  w.AddChar(',');
  w.AddText(TXTW_FIELD(r, szEx3Text4));
  w.AddChar(',');
  w.AddText(TXTW_FIELD(r, szEx3Text5));
  w.Emit();
}

void WriteSectionLine(Writer& w, const SectionRecord& s) {
  w.Begin("SECTION=");
  w.AddInt(s.nSectionID);
  w.AddChar(',');
  w.AddInt(s.nSecType);
  w.Add(",\"");
  w.AddText(TXTW_FIELD(s, szName));
  w.Add("\",");
  w.AddText(TXTW_FIELD(s, szSecText2));
  w.AddChar(',');
  w.AddInt(s.nAccessType);
  w.AddChar(',');
  w.AddText(TXTW_FIELD(s, szSecText1));
  w.AddChar(',');
  unsigned char c = static_cast<unsigned char>(s.cSecChar);
  if (c >= 0x20 && c <= 0x7F) w.AddChar(s.cSecChar);
  w.Add(",0X");
  w.AddHex(s.dwAttributes);
  w.AddChar(',');
  w.AddInt(s.nSubSection);
  w.AddChar(',');
  w.AddText(TXTW_FIELD(s, szSecText3));
  w.AddChar(',');
  w.AddInt(s.nSecValue);
  w.Emit();
}

}  // namespace

int WriteSystems(TableDb* db, Writer& w) {
  Writer& st = w;
  int count = CountSystems(db);
  w.Separator();
  w.Line("TYPE=SYSTEM");
  w.Begin("COUNT=");
  w.AddInt(count);
  w.Emit();

  int slots = SystemSlots(db);
  st.names.assign(slots > 0 ? slots + 1 : 1, SystemNames());
  RecordBuffer buf(SystemRecordSize(12));
  int remaining = count;
  for (int key = 0; remaining > 0 && key <= slots; ++key) {
    if (!SystemExists(db, key)) continue;
    int len = GetSystemSize(db, key);
    if (len <= 0) return LengthFailure(db);
    if (len < kSystemFixedSize) return kErrBadFormat;
    if (!buf.Reserve(len)) return kErrNoMemory;
    int rc = ReadSystem(db, key, buf.get(), len);
    if (rc != 0) return rc;

    const auto* rec = static_cast<const SystemRecord*>(buf.get());
    const SectionRecord* sections = SystemSections(rec);
    // The store checks the length against nSections; never trust one alone.
    int n = std::clamp<int>(rec->nSections, 0, (len - kSystemFixedSize) / kSectionSize);
    if (!SystemWritable(*rec, sections, n, st.version)) return w.Unwritable("system", key);

    if (rec->nSystemID != key) {
      w.Note(kLevelError, "## WARNING -- system ID for key " + std::to_string(key) + " is " +
                              std::to_string(static_cast<int16_t>(rec->nSystemID)));
    }
    w.Separator();
    WriteSystemLines(w, *rec);

    SystemNames& names = st.names[key];
    names.set = true;
    names.name.assign(rec->szName, strnlen(rec->szName, sizeof rec->szName));
    names.sections.clear();
    for (int i = 0; i < n; ++i) {
      const SectionRecord& s = sections[i];
      if (i < kMaxSections)
        names.sections.push_back(
            {s.nSectionID, std::string(s.szName, strnlen(s.szName, sizeof s.szName))});
      WriteSectionLine(w, s);
    }
    --remaining;
  }
  return 0;
}

}  // namespace txtw
