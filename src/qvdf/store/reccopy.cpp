// Record copies from one open table into another, shared by the .itb merge
// and the subset operation: a system (replacing the target's system with its
// dependents, with attribute changes and dropped sections), all field lists,
// all field maps, one charmap.
#include <cstring>
#include <string>

#include "qvdf/store/itb.h"
#include "qvdf/store/recordops.h"
#include "qvdf/store/store.h"
#include "qvdf/store/tableio.h"

namespace {

// Scratch sizes: a list of 76 fields, a map of 150 entries.
constexpr int kListScratch = 12540;
constexpr int kMapScratch = 372;
constexpr int kTranslatorKept = 11;

void Say(MessageFn msg, int level, const std::string& text) {
  SendMessage(msg, level, text.c_str());
}

// Whether system app of t has a section with the given ID; reads the system
// once per run of lists of the same application.
class SectionProbe {
 public:
  explicit SectionProbe(TableDb* t) : t_(t) {}
  // 0 with *found set; a read code when the system cannot be read.
  int Has(int app, uint16_t sectionId, bool* found) {
    *found = false;
    if (!SystemExists(t_, app)) return kOk;
    if (app != app_) {
      app_ = -1;
      int size = 0;
      if (int rc = ReadWholeSystem(t_, app, &sys_, &size)) return rc;
      app_ = app;
    }
    const SystemRecord* rec = sys_.as<SystemRecord>();
    const SectionRecord* s = SystemSections(rec);
    for (int i = 0; i < rec->nSections; ++i)
      if (static_cast<uint16_t>(s[i].nSectionID) == sectionId) return *found = true, kOk;
    return kOk;
  }

 private:
  TableDb* t_;
  int app_ = -1;
  MemBlock sys_;
};

}  // namespace

int CopySystem(TableDb* src, TableDb* dst, int id, uint32_t setBits, uint32_t clearBits,
               MessageFn msg, const char* translator, int nSectionIds, const int* sectionIds) {
  MemBlock buf;
  int size = 0;
  if (!SystemExists(src, id)) return GetError(src) ? GetError(src) : kErrMode;
  if (int rc = ReadWholeSystem(src, id, &buf, &size)) return rc;
  SystemRecord* rec = buf.as<SystemRecord>();
  // A record filed under another ID would be merged under the wrong key.
  if (rec->nSystemID != static_cast<uint16_t>(id)) return CorruptRecord(src);

  rec->dwAttributes = (rec->dwAttributes | setBits) & ~clearBits;
  if (translator && *translator) {
    std::memset(rec->szTranslator, 0, sizeof rec->szTranslator);
    std::strncpy(rec->szTranslator, translator, kTranslatorKept);
  }
  if (SystemExists(dst, id)) {
    Say(msg, kLevelStep,
        "SystemID: " + std::to_string(id) + " Is being overwritten, all components being deleted.");
    DeleteSystemAll(dst, id);
  }
  if (int rc = AddSystem(dst, id, rec)) return rc;
  Say(msg, kLevelStep, "SystemID: " + std::to_string(id) + " Name: " + FieldText(rec->szName));

  for (int charMap : {static_cast<int>(rec->nCharMap1), static_cast<int>(rec->nCharMap2)}) {
    if (!charMap || CharMapExists(dst, charMap)) continue;
    if (!CharMapExists(src, charMap)) {
      // The text reader accepts a reference to a charmap the table lacks;
      // the system is still merged so that the table stays readable.
      Say(msg, kLevelWarning,
          "***WARNING: CharMap " + std::to_string(charMap) + " not found, reference kept");
      continue;
    }
    if (int rc = CopyCharMap(src, dst, charMap, msg)) return rc;
  }

  if (nSectionIds > 0 && sectionIds) {
    for (int i = 0; i < nSectionIds; ++i) {
      if (int rc = DeleteSection(dst, id, sectionIds[i])) {
        Say(msg, kLevelStep,
            "Could not delete section " + std::to_string(sectionIds[i]) + " Error returned " +
                std::to_string(rc));
        return rc;
      }
    }
    if (int rc = ReadWholeSystem(dst, id, &buf, &size)) return rc;
    rec = buf.as<SystemRecord>();
    RecomputeSectionFlags(rec);
    if (int rc = ReplaceSystem(dst, id, rec)) return rc;
  }
  return kOk;
}

int CopyFieldLists(TableDb* src, TableDb* dst, bool filter, MessageFn msg) {
  MemBlock buf;
  int have = 0;
  if (!ReserveBlock(&buf, &have, kListScratch)) return kErrNoMemory;
  SectionProbe probe(dst);
  int count = CountFieldLists(src), slots = FieldListSlots(src), met = 0;
  for (int k = 0; k < slots && met < count; ++k) {
    if (!FieldListExists(src, k)) continue;
    ++met;
    if (filter) {
      FieldListRecord head;
      if (int rc = ReadFieldListHead(src, k, &head)) return rc;
      bool found = false;
      if (head.nFields == 0) {
        // An alias names a system, not a section: it goes where its system goes.
        found = SystemExists(dst, head.nAppID);
      } else if (int rc = probe.Has(head.nAppID, head.nSectionID, &found)) {
        return rc;
      }
      if (!found) continue;
    }
    int size = GetFieldListSize(src, k);
    if (size <= 0) return GetError(src) ? GetError(src) : kErrBadFormat;
    if (!ReserveBlock(&buf, &have, size)) return kErrNoMemory;
    if (int rc = ReadFieldList(src, k, buf.get(), size)) return rc;
    const FieldListRecord* rec = buf.as<FieldListRecord>();
    if (int rc = AddFieldList(dst, k, rec)) return rc;
    if (GetFieldListMark(src, k) == '1') {
      if (int rc = MarkFieldList(dst, k)) return rc;
    }
    Say(msg, kLevelProgress,
        "Key: " + std::to_string(k) + " App: " + std::to_string(rec->nAppID) +
            " Type: " + std::to_string(rec->nSecType) + " Name: " + FieldText(rec->szName));
  }
  return kOk;
}

int CopyFieldMaps(TableDb* src, TableDb* dst, bool filter, MessageFn msg) {
  MemBlock buf;
  int have = 0;
  if (!ReserveBlock(&buf, &have, kMapScratch)) return kErrNoMemory;
  int count = CountFieldMaps(src), slots = FieldMapSlots(src), met = 0;
  for (int k = 1; k <= slots && met < count; ++k) {
    if (!FieldMapExists(src, k)) continue;
    ++met;
    ConfigRecord config;
    if (int rc = ReadFieldMap(src, k, &config, nullptr, 0)) return rc;
    uint16_t srcSys = static_cast<uint16_t>(config.dwSource >> 16);
    uint16_t dstSys = static_cast<uint16_t>(config.dwTarget >> 16);
    if (filter && !(SystemExists(dst, srcSys) && SystemExists(dst, dstSys))) continue;
    int size = 0;
    if (int rc = ReadMapRecord(src, k, &buf, &have, &size)) return rc;
    // A kept system may have lost the section a map reads or writes; the
    // filtered list copy then left out its field list, so the map goes too.
    if (filter && !(FieldListExists(dst, buf.as<FieldMapRecord>()->nSourceList) &&
                    FieldListExists(dst, buf.as<FieldMapRecord>()->nTargetList)))
      continue;
    // A record shorter than its source list in the target leaves the
    // remaining fields unmapped; nothing past the stored record is read.
    int stored = (size - kFieldMapFixedSize) / 2;
    int wanted = GetFieldListCount(dst, buf.as<FieldMapRecord>()->nSourceList);
    if (wanted > stored) {
      if (!ReserveBlock(&buf, &have, FieldMapRecordSize(wanted))) return kErrNoMemory;
      for (int i = stored; i < wanted; ++i) SetMapEntry(buf.as<FieldMapRecord>(), i, -1);
    }
    if (int rc = AddFieldMap(dst, k, &config, buf.as<FieldMapRecord>())) return rc;
    Say(msg, kLevelProgress,
        "MapID: " + std::to_string(k) + " Source: " + std::to_string(srcSys) + "/" +
            std::to_string(config.dwSource & 0xFFFF) + " -> Target " + std::to_string(dstSys) +
            "/" + std::to_string(config.dwTarget & 0xFFFF) +
            " Type: " + std::to_string(config.nSecType));
  }
  return kOk;
}

int CopyCharMap(TableDb* src, TableDb* dst, int id, MessageFn msg) {
  if (!CharMapExists(src, id)) return GetError(src) ? GetError(src) : kErrMode;
  MemBlock buf;
  if (!buf.Alloc(kCharMapSize)) return kErrNoMemory;
  if (int rc = ReadCharMap(src, id, buf.get(), kCharMapSize)) return rc;
  const CharMapRecord* rec = buf.as<CharMapRecord>();
  if (int rc = AddCharMap(dst, id, rec)) return rc;
  Say(msg, kLevelProgress,
      "   Import CharMap copied -- ID: " + std::to_string(id) + " Name: " + FieldText(rec->szName));
  return kOk;
}
