// CreateSubset: reads a subset file and builds the new table from the
// working one: the generic system, the named systems with their attribute
// and translator changes and dropped sections, their field lists and maps,
// the aliases, and the table-wide values. AddAliasRecord stores one alias.
#include "qvdf/subset/subset.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "qvdf/store/itb.h"
#include "qvdf/store/store.h"
#include "qvdf/subset/subsetfile.h"
#include "qvdf/text/textstr.h"
#include "qvutil/status.h"

namespace {

constexpr int kMaxSectionIds = 20;
// A section-ID field this long cannot be an ID and is passed over.
constexpr size_t kSkippedSectionIdLength = 10;
constexpr size_t kAliasNameLength = 64;

void Send(MessageFn msg, int level, const std::string& text) {
  SendMessage(msg, level, text.c_str());
}

std::string Take(SubfieldCursor c) { return std::string(c.start, c.len); }

// Fetches a required record into value (kSubsetValueSize bytes): 0, or the
// fetch result after sending `missing` (a too-long line has its own message).
int Expect(SubsetInput* in, const char* key, char* value, const char* missing, MessageFn msg) {
  int r = GetSubsetValue(in, key, value, kSubsetValueSize, msg);
  if (r > 0) Send(msg, kLevelError, missing);
  return r;
}

// One SYSTEM record, parsed.
struct SystemSpec {
  int32_t id = 0;
  uint32_t addBits = 0;
  uint32_t removeBits = 0;
  std::string dll;  // empty: keep the old translator name
  std::vector<int> sectionIds;
};

// Parses a SYSTEM value. Returns true, or false after sending the error.
bool ParseSystem(const char* value, SystemSpec* out, MessageFn msg) {
  SubfieldCursor c = FirstSubfield(value);
  std::string field = Take(c);
  if (field.empty()) {
    Send(msg, kLevelError, "***ERROR: Missing system ID");
    return false;
  }
  if (!ParseSigned32(field.c_str(), &out->id) || out->id == 0) {
    Send(msg, kLevelError, "***ERROR: Invalid system ID");
    return false;
  }
  c = NextSubfield(c);
  field = Take(c);
  if (field.empty()) {
    Send(msg, kLevelError, "***ERROR: Missing ADD attributes");
    return false;
  }
  if (!ParseUnsigned32(field.c_str(), &out->addBits)) {
    Send(msg, kLevelError, "***ERROR: Invalid ADD attributes");
    return false;
  }
  c = NextSubfield(c);
  field = Take(c);
  if (field.empty()) {
    Send(msg, kLevelError, "***ERROR: Missing REMOVE attributes");
    return false;
  }
  if (!ParseUnsigned32(field.c_str(), &out->removeBits)) {
    Send(msg, kLevelError, "***ERROR: Invalid REMOVE attributes");
    return false;
  }
  c = NextSubfield(c);
  out->dll = Take(c);
  if (out->dll.empty()) Send(msg, kLevelWarning, "Missing system DLL name. Using old name.");
  for (c = NextSubfield(c); c.len != 0; c = NextSubfield(c)) {
    if (c.len >= kSkippedSectionIdLength) continue;
    if (static_cast<int>(out->sectionIds.size()) == kMaxSectionIds) {
      Send(msg, kLevelError, "***ERROR: Too many section IDs");
      return false;
    }
    // At most nine characters: always within 32 bits.
    out->sectionIds.push_back(ParseStandard(Take(c).c_str()));
  }
  return true;
}

// One ALIAS value, parsed. Returns true, or false after sending the error.
bool ParseAlias(const char* value, int32_t* id, std::string* name, MessageFn msg) {
  SubfieldCursor c = FirstSubfield(value);
  std::string field = Take(c);
  if (field.empty()) {
    Send(msg, kLevelError, "***ERROR: Missing ALIAS system ID");
    return false;
  }
  if (!ParseSigned32(field.c_str(), id) || *id == 0) {
    Send(msg, kLevelError, "***ERROR: Invalid ALIAS system ID");
    return false;
  }
  *name = Take(NextSubfield(c));
  if (name->empty()) {
    Send(msg, kLevelError, "***ERROR: Missing ALIAS name");
    return false;
  }
  return true;
}

// The steps of CreateSubset after the file is open. 0, or the code the
// abort message carries (a failure has been reported already); a value that
// failed its checks carries 0, so *failed tells the outcome.
int BuildSubset(SubsetInput* in, TableDb* src, TableDb* dst, const char* name, MessageFn msg,
                bool* failed) {
  *failed = true;
  char value[kSubsetValueSize];

  int32_t number = 0;
  // A number too large for 32 bits fails its record rather than being cut
  // to the largest one.
  auto number32 = [&](const char* invalid) {
    if (ParseSigned32(value, &number)) return true;
    Send(msg, kLevelError, invalid);
    return false;
  };

  int r = Expect(in, "MAIN_CLASS", value, "***ERROR: Expected MAIN_CLASS record", msg);
  if (r != 0) return r;
  if (!number32("***ERROR: Invalid MAIN_CLASS record")) return 0;
  int16_t mainClass = static_cast<int16_t>(number);
  Send(msg, kLevelStep, "Main System Class is " + std::to_string(mainClass));

  r = Expect(in, "MAIN_SYSTEM", value, "***ERROR: Expected MAIN_SYSTEM record", msg);
  if (r != 0) return r;
  if (!number32("***ERROR: Invalid MAIN_SYSTEM record")) return 0;
  int16_t mainSystem = static_cast<int16_t>(number);
  Send(msg, kLevelStep, "Main System ID is " + std::to_string(mainSystem));

  uint32_t productId = 0;
  r = GetSubsetValue(in, "PRODUCT_ID", value, kSubsetValueSize, msg);
  if (r < 0) return r;
  if (r == 0 && !ParseUnsigned32(value, &productId)) {
    Send(msg, kLevelError, "***ERROR: Invalid PRODUCT_ID record");
    return 0;
  }
  int16_t bundled = 0;
  r = GetSubsetValue(in, "BUNDLED", value, kSubsetValueSize, msg);
  if (r < 0) return r;
  if (r == 0) {
    if (!number32("***ERROR: Invalid BUNDLED record")) return 0;
    bundled = static_cast<int16_t>(number);
  }
  Send(msg, kLevelStep,
       "Product ID is " + std::to_string(productId) +
           (bundled != 0 ? " (bundled)" : " (not bundled)"));

  r = Expect(in, "COUNT", value, "***ERROR: Expected COUNT record", msg);
  if (r != 0) return r;
  int32_t count = 0;
  if (!ParseSigned32(value, &count) || count == 0) {
    Send(msg, kLevelError, "***ERROR: Invalid COUNT record");
    return 0;
  }

  int rc;
  if (SystemExists(src, 1)) {
    rc = CopySystem(src, dst, 1, 0, 0, msg, nullptr, 0, nullptr);
    if (rc != 0) {
      Send(msg, kLevelError, "***ERROR: Unable to copy generic system record");
      return rc;
    }
  }

  for (int i = 0; i < count; ++i) {
    r = Expect(in, "SYSTEM", value, "***ERROR: Expected SYSTEM record", msg);
    if (r != 0) return r;
    SystemSpec spec;
    if (!ParseSystem(value, &spec, msg)) return 0;
    rc = CopySystem(src, dst, spec.id, spec.addBits, spec.removeBits, msg,
                    spec.dll.empty() ? nullptr : spec.dll.c_str(),
                    static_cast<int>(spec.sectionIds.size()),
                    spec.sectionIds.empty() ? nullptr : spec.sectionIds.data());
    if (rc != 0) {
      Send(msg, kLevelError, "***ERROR: Unable to copy system record");
      return rc;
    }
  }

  rc = CopyFieldLists(src, dst, true, msg);
  if (rc != 0) {
    Send(msg, kLevelError, "***ERROR: Unable to copy field list records");
    return rc;
  }
  rc = CopyFieldMaps(src, dst, true, msg);
  if (rc != 0) {
    Send(msg, kLevelError, "***ERROR: Unable to copy field map records");
    return rc;
  }

  // The aliases may only be left out at the end of the file.
  r = GetSubsetValue(in, "ALIASES", value, kSubsetValueSize, msg);
  if (r < 0 || r == 1) {
    if (r == 1) Send(msg, kLevelError, "***ERROR: Expected ALIASES record");
    return r;
  }
  if (r == 0) {
    int32_t aliases = 0;
    if (!ParseSigned32(value, &aliases) || aliases == 0) {
      Send(msg, kLevelError, "***ERROR: Invalid ALIASES record");
      return 0;
    }
    for (int i = 0; i < aliases; ++i) {
      r = Expect(in, "ALIAS", value, "***ERROR: Expected ALIAS record", msg);
      if (r != 0) return r;
      int32_t id = 0;
      std::string aliasName;
      if (!ParseAlias(value, &id, &aliasName, msg)) return 0;
      // An alias of a system the new table lacks would make a table that
      // the text reader refuses when it is read back.
      if (!SystemExists(dst, id)) {
        Send(msg, kLevelError, "***ERROR: Invalid ALIAS system ID");
        return 0;
      }
      rc = AddAliasRecord(dst, id, aliasName.c_str(), msg);
      if (rc != 0) {
        Send(msg, kLevelError, "***ERROR: Cannot create ALIAS record");
        return rc;
      }
    }
  }

  rc = SetMainClass(dst, mainClass);
  if (rc != 0) {
    Send(msg, kLevelError, "Error " + std::to_string(rc) + " writing main class to new table file");
    return rc;
  }
  rc = SetMainSystem(dst, mainSystem);
  if (rc != 0) {
    Send(msg, kLevelError,
         "Error " + std::to_string(rc) + " writing main system to new table file");
    return rc;
  }
  rc = SetProductID(dst, productId);
  if (rc != 0) {
    Send(msg, kLevelError, "Error " + std::to_string(rc) + " writing product ID to new table file");
    return rc;
  }
  rc = SetBundledFlag(dst, bundled);
  if (rc != 0) {
    Send(msg, kLevelError,
         "Error " + std::to_string(rc) + " writing bundled bit to new table file");
    return rc;
  }

  rc = CloseSubsetInput(in);
  if (rc != 0) {
    Send(msg, kLevelError, "Error " + std::to_string(rc) + " closing " + name);
    return rc;
  }
  *failed = false;
  return 0;
}

}  // namespace

int CreateSubset(TableDb* src, TableDb* dst, const char* subsetName, MessageFn msg) {
  int code;
  SubsetInput in;
  platform::FileAttributes attrs;
  if (!platform::Env::Get()->GetAttributes(subsetName, &attrs)) {
    Send(msg, kLevelError, std::string("Subset File ") + subsetName + " not found.");
    code = kErrNotFound;
  } else if ((code = OpenSubsetInput(&in, subsetName)) != 0) {
    Send(msg, kLevelError, std::string("Unable to open file ") + subsetName);
  } else {
    bool failed;
    code = BuildSubset(&in, src, dst, subsetName, msg, &failed);
    if (!failed) {
      Send(msg, kLevelProgress, "CreateSubset Processing completed successfully");
      return 0;
    }
  }
  Send(msg, kLevelError, "Processing aborted due to error code " + std::to_string(code));
  if (IsTableOpen(dst)) CloseTable(dst);
  CloseSubsetInput(&in);
  return kFailed;
}

int AddAliasRecord(TableDb* dst, int systemId, const char* alias, MessageFn msg) {
  // A field list of no fields: only the application and the name count.
  unsigned char buf[kFieldListReportedSize] = {};
  FieldListRecord* rec = reinterpret_cast<FieldListRecord*>(buf);  // packed: alignment 1
  rec->nAppID = static_cast<uint16_t>(systemId);
  if (std::strlen(alias) > kAliasNameLength) {
    SendMessage(msg, kLevelWarning, "***WARNING: ALIAS name truncated");
  }
  TxtCopyN(rec->szName, alias, kAliasNameLength);

  int id = FirstFreeFieldListID(dst);
  if (id < 0) return GetError(dst);
  // A higher ID reads back only into a table whose index some lower ID
  // has grown far enough.
  if (id >= kFieldListGrowLimit) return kErrRange;
  return AddFieldList(dst, id, rec);
}
