// Merging an .itb input into the intermediate table: every system (a system
// already there is replaced with its dependents), every field list, field
// map and charmap, and the table-wide values unless the input's are all 0.
// What was merged before a failure stays merged.
#include <algorithm>
#include <string>

#include "platform/platform.h"
#include "qvdf/store/itb.h"
#include "qvdf/store/store.h"

namespace {

// System IDs from here on are not merged; charmap IDs up to the last one.
constexpr int kLastMergedSystem = 254;
constexpr int kLastMergedCharMap = 999;

void Say(MessageFn msg, int level, const std::string& text) {
  SendMessage(msg, level, text.c_str());
}

int MergeSystems(TableDb* src, TableDb* dst, MessageFn msg) {
  int count = CountSystems(src), met = 0;
  int last = std::min(kLastMergedSystem, SystemSlots(src));
  for (int id = 1; id <= last && met < count; ++id) {
    if (!SystemExists(src, id)) continue;
    ++met;
    if (int rc = CopySystem(src, dst, id, 0, 0, msg, nullptr, 0, nullptr)) {
      Say(msg, kLevelError, "***ERROR: Unable to copy system record, error " + std::to_string(rc));
      return rc;
    }
  }
  return kOk;
}

int MergeCharMaps(TableDb* src, TableDb* dst, MessageFn msg) {
  int count = CountCharMaps(src), met = 0;
  int last = std::min(kLastMergedCharMap, CharMapSlots(src));
  for (int id = 1; id <= last && met < count; ++id) {
    if (!CharMapExists(src, id)) continue;
    ++met;
    if (CharMapExists(dst, id)) {
      if (int rc = DeleteCharMap(dst, id)) return rc;
    }
    if (int rc = CopyCharMap(src, dst, id, msg)) return rc;
  }
  return kOk;
}

int MergeTableValues(TableDb* src, TableDb* dst, MessageFn msg) {
  int16_t mainClass = GetMainClass(src), mainSystem = GetMainSystem(src);
  uint32_t product = GetProductID(src);
  int16_t bundled = GetBundledFlag(src);
  if (!mainClass && !mainSystem && !product && !bundled) return kOk;
  const char* what = nullptr;
  int rc = kOk;
  if ((rc = SetMainClass(dst, mainClass)))
    what = " writing main class to new table";
  else if ((rc = SetMainSystem(dst, mainSystem)))
    what = " writing main system to new table";
  else if ((rc = SetProductID(dst, product)))
    what = " writing product ID to new table";
  else if ((rc = SetBundledFlag(dst, bundled)))
    what = " writing bundled bit to new table";
  if (rc) Say(msg, kLevelError, "Error " + std::to_string(rc) + what);
  return rc;
}

int Merge(TableDb* src, TableDb* dst, MessageFn msg) {
  if (int rc = MergeSystems(src, dst, msg)) return rc;
  if (int rc = CopyFieldLists(src, dst, false, msg)) {
    Say(msg, kLevelError, "***ERROR: Unable to copy field list records");
    return rc;
  }
  if (int rc = CopyFieldMaps(src, dst, false, msg)) {
    Say(msg, kLevelError, "***ERROR: Unable to copy field map records");
    return rc;
  }
  if (int rc = MergeCharMaps(src, dst, msg)) return rc;
  return MergeTableValues(src, dst, msg);
}

}  // namespace

int ReadItb(TableDb* db, const char* inPath, MessageFn msg) {
  platform::FileAttributes attrs;
  if (!platform::Env::Get()->GetAttributes(inPath, &attrs)) {
    Say(msg, kLevelError, std::string("File \"") + inPath + "\" not found.");
    return kErrNotFound;
  }
  TableDb src;
  int rc = OpenTable(inPath, &src, 0);
  if (rc) {
    Say(msg, kLevelError, "Error " + std::to_string(rc) + " trying to open " + inPath);
  } else {
    rc = Merge(&src, db, msg);
  }
  if (rc) {
    Say(msg, kLevelError, "Processing ITB File aborted due to error code " + std::to_string(rc));
  } else {
    Say(msg, kLevelStep, "Processing ITB file completed successfully");
  }
  CloseTable(&src);
  return rc;
}
