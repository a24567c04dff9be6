// Record readers of the systems block: one SYSTEM line with, in version 4,
// its SYSTEMEX lines, then its SECTION lines; the system replaces a stored
// system of the same ID whole.
#include <cstring>

#include "qvdf/store/store.h"
#include "qvdf/text/textstr.h"
#include "qvdf/text/txtreader.h"
#include "qvdf/text/txtreader_internal.h"
#include "qvutil/status.h"

using namespace txtread;

namespace {

// Buffer of a system record before and after its sections are known. The
// store takes records below 32768 bytes.
constexpr size_t kSystemBufferSize = 1536;
constexpr size_t SystemBufferSize(int nSections) {
  return kSystemBufferSize + kSectionSize * static_cast<size_t>(nSections);
}

const char kNoSystemMemory[] = "***ERROR: Insufficient memory to hold SYSTEM record";

int16_t Dec16(std::string_view s) { return static_cast<int16_t>(ParseDecimal(s)); }

// The walk over the SYSTEM value, subfields 1 to 18. -1 after a failure.
int ReadSystemLine(std::string_view value, SystemRecord* r, MessageFn msg) {
  Subfields sf(value);
  std::string_view s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing system ID");
  r->nSystemID = static_cast<uint16_t>(ParseDecimal(s));
  if (r->nSystemID == 0) return Fail(msg, "***ERROR: Invalid system ID");

  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing system class");
  r->nClass = Dec16(s);
  if (r->nClass < 0) return Fail(msg, "***ERROR: Invalid system class");

  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing system type");
  r->nType = Dec16(s);
  if (r->nType > 23) return Fail(msg, "***ERROR: Invalid system type");

  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing system name");
  std::string_view name = Unquoted(s);
  if (CopyText(r->szName, sizeof r->szName, name))
    Send(msg, kLevelWarning, "***ERROR: System name " + std::string(name) + " truncated");
  Send(msg, kLevelStep, "   System " + Num(r->nSystemID) + ": " + r->szName);

  s = sf.Next();
  if (s.empty()) Send(msg, kLevelWarning, "***ERROR: Missing translator name");
  CopyTextChecked(r->szTranslator, sizeof r->szTranslator, s, "Translator name", msg);
  CopyTextChecked(r->szSysText1, sizeof r->szSysText1, sf.Next(), "System text 1", msg);

  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing reconciliation option");
  r->nReconcile = Dec16(s);
  if (r->nReconcile > 8) return Fail(msg, "***ERROR: Invalid reconciliation option");
  r->nApptRange = Dec16(sf.Next());
  if (r->nApptRange > 2) return Fail(msg, "***ERROR: Invalid appointment range");
  r->nTodoRange = Dec16(sf.Next());
  if (r->nTodoRange > 2) return Fail(msg, "***ERROR: Invalid to-do range");
  CopyTextChecked(r->szSysText2, sizeof r->szSysText2, sf.Next(), "System text 2", msg);
  r->nSysValue = Dec16(sf.Next());

  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing section title");
  CopyTextChecked(r->szSectionTitle, sizeof r->szSectionTitle, s, "Section title", msg);

  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing system access type");
  r->nAccessType = Dec16(s);
  if (r->nAccessType > 8) return Fail(msg, "***ERROR: Invalid system access type");

  // One flag per character; the record holds ten.
  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing section flags");
  for (size_t k = 0; k < s.size() && k < 10; ++k)
    r->anSectionFlags[k] = static_cast<int16_t>(static_cast<signed char>(s[k]) - '0');

  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing system attributes");
  r->dwAttributes = static_cast<uint32_t>(ParseHex(s));

  r->nCharMap1 = Dec16(sf.Next());
  r->nCharMap2 = Dec16(sf.Next());
  r->nSections = Dec16(sf.Next());
  if (r->nSections < 0) return Fail(msg, "***ERROR: Invalid section count");
  return 0;
}

int ReadSystemEx1(std::string_view value, SystemRecord* r, MessageFn msg) {
  Subfields sf(value);
  std::string_view s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing product flag");
  if (ParseHex(s) != 8) return Fail(msg, "***ERROR: Invalid Product Flag count");
  for (int k = 0; k < 8; ++k) {
    s = sf.Next();
    if (s.empty()) return Fail(msg, "***ERROR: Missing product flag");
    r->adwProductFlags[k] = static_cast<uint32_t>(ParseHex(s));
  }
  return 0;
}

int ReadSystemEx2(std::string_view value, SystemRecord* r, MessageFn msg) {
  static const char* const kMissing[5] = {"***ERROR: Missing nIDofSavedCopy",
                                          "***ERROR: Missing nTBD1", "***ERROR: Missing nTBD2",
                                          "***ERROR: Missing nTBD3", "***ERROR: Missing nTBD4"};
  Subfields sf(value);
  int32_t n[5];
  for (int k = 0; k < 5; ++k) {
    std::string_view s = sf.Next();
    if (s.empty()) return Fail(msg, kMissing[k]);
    n[k] = ParseDecimal(s);
  }
  r->nIDofSavedCopy = static_cast<int16_t>(n[0]);
  r->nTBD1 = n[1];
  r->nTBD2 = n[2];
  r->nTBD3 = n[3];
  r->nTBD4 = n[4];
  CopyTextChecked(r->szEx2Text1, sizeof r->szEx2Text1, sf.Next(), "SYSTEMEX2 text 1", msg);
  CopyTextChecked(r->szEx2Text2, sizeof r->szEx2Text2, sf.Next(), "SYSTEMEX2 text 2", msg);
  return 0;
}

void ReadSystemEx3(std::string_view value, SystemRecord* r, MessageFn msg) {
  Subfields sf(value);
  CopyTextChecked(r->szEx3Text1, sizeof r->szEx3Text1, sf.Next(), "SYSTEMEX3 text 1", msg);
  CopyTextChecked(r->szEx3Text2, sizeof r->szEx3Text2, sf.Next(), "SYSTEMEX3 text 2", msg);
  CopyTextChecked(r->szEx3Text3, sizeof r->szEx3Text3, sf.Next(), "SYSTEMEX3 text 3", msg);
  CopyTextChecked(r->szEx3Text4, sizeof r->szEx3Text4, sf.Next(), "SYSTEMEX3 text 4", msg);
  CopyTextChecked(r->szEx3Text5, sizeof r->szEx3Text5, sf.Next(), "SYSTEMEX3 text 5", msg);
}

// The three optional SYSTEMEX lines of a version-4 system. -1 after a failure.
int ReadSystemEx(SystemRecord* r, ValueSource& getter, MessageFn msg) {
  ValueBuffer v;
  Fetch got = FetchValue(getter, "SYSTEMEX1", &v, msg);
  if (got == Fetch::kFailed) return kFailed;
  if (got == Fetch::kAbsent)
    Send(msg, kLevelWarning, "***WARNING: Expected SYSTEMEX1 record in a version 4 file");
  else if (ReadSystemEx1(v.view(), r, msg) != 0)
    return kFailed;

  got = FetchValue(getter, "SYSTEMEX2", &v, msg);
  if (got == Fetch::kFailed) return kFailed;
  if (got == Fetch::kAbsent)
    Send(msg, kLevelWarning, "***WARNING: Expected SYSTEMEX2 record in a version 4 file");
  else if (ReadSystemEx2(v.view(), r, msg) != 0)
    return kFailed;

  got = FetchValue(getter, "SYSTEMEX3", &v, msg);
  if (got == Fetch::kFailed) return kFailed;
  if (got == Fetch::kAbsent)
    Send(msg, kLevelWarning, "***WARNING: Expected SYSTEMEX3 record in a version 4 file");
  else
    ReadSystemEx3(v.view(), r, msg);
  return 0;
}

}  // namespace

int QVTBUGetText3System(TableDb* db, ValueSource& getter, MessageFn msg) {
  ValueBuffer v;
  Fetch got = FetchValue(getter, "SYSTEM", &v, msg);
  if (got == Fetch::kFailed) return kFailed;
  if (got == Fetch::kAbsent) return Fail(msg, "***ERROR: Expected SYSTEM record");

  std::unique_ptr<char[]> buf = ZeroedBuffer(kSystemBufferSize);
  if (!buf) return Fail(msg, kNoSystemMemory);
  auto* rec = reinterpret_cast<SystemRecord*>(buf.get());
  if (ReadSystemLine(v.view(), rec, msg) != 0) return kFailed;
  if (getter.state.version >= 4 && ReadSystemEx(rec, getter, msg) != 0) return kFailed;

  // One count sizes the buffer, drives the loop and is stored.
  const int nSections = rec->nSections;
  if (nSections > kMaxSections) return Fail(msg, kNoSystemMemory);
  std::unique_ptr<char[]> grown = ZeroedBuffer(SystemBufferSize(nSections));
  if (!grown) return Fail(msg, kNoSystemMemory);
  std::memcpy(grown.get(), buf.get(), kSystemFixedSize);
  buf = std::move(grown);
  rec = reinterpret_cast<SystemRecord*>(buf.get());

  for (int i = 0; i < nSections; ++i)
    if (QVTBUGetText3Section(rec, i, getter, msg) != 0) return kFailed;

  const int id = rec->nSystemID;
  if (SystemExists(db, id)) {
    int c = DeleteSystem(db, id);
    if (c != 0) {
      Send(msg, kLevelError, "***ERROR: code " + Num(c) + " deleting old system record" + Num(id));
      return c;
    }
  }
  int c = AddSystem(db, id, rec);
  if (c != 0) {
    Send(msg, kLevelError, "***ERROR: code " + Num(c) + " adding new system record" + Num(id));
    return c;
  }
  return 0;
}

int QVTBUGetText3Section(SystemRecord* rec, int i, ValueSource& getter, MessageFn msg) {
  SectionRecord* sec = SystemSections(rec) + i;
  std::memset(sec, 0, sizeof *sec);
  ValueBuffer v;
  Fetch got = FetchValue(getter, "SECTION", &v, msg);
  if (got == Fetch::kFailed) return kFailed;
  if (got == Fetch::kAbsent) return Fail(msg, "***ERROR: Expected SECTION record");

  Subfields sf(v.view());
  std::string_view s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing section ID");
  sec->nSectionID = Dec16(s);
  if (sec->nSectionID <= 0) {
    Send(msg, kLevelWarning, "***WARNING: Invalid section ID reset to 1.");
    sec->nSectionID = 1;
  }

  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing section type");
  sec->nSecType = Dec16(s);
  if (sec->nSecType < 0 || sec->nSecType > 9) return Fail(msg, "***ERROR: Invalid section type");

  s = sf.Next();
  if (s.empty()) {
    Send(msg, kLevelWarning, "***WARNING: Missing section name set to \"MISSING\"");
    CopyText(sec->szName, sizeof sec->szName, "MISSING");
  } else {
    std::string_view name = Unquoted(s);
    if (CopyText(sec->szName, sizeof sec->szName, name))
      Send(msg, kLevelWarning, "***ERROR: Section name " + std::string(name) + " truncated");
  }
  if (MessageWanted(msg, kLevelProgress))
    (Msg("      Section ") << sec->nSectionID << ": " << sec->szName).Send(msg, kLevelProgress);

  CopyTextChecked(sec->szSecText2, sizeof sec->szSecText2, sf.Next(), "Section text 2", msg);
  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing access type");
  sec->nAccessType = Dec16(s);
  if (sec->nAccessType > 8) return Fail(msg, "***ERROR: Invalid access type");
  CopyTextChecked(sec->szSecText1, sizeof sec->szSecText1, sf.Next(), "Section text 1", msg);
  s = sf.Next();
  if (!s.empty()) sec->cSecChar = s[0];

  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing section attributes");
  sec->dwAttributes = static_cast<uint32_t>(ParseHex(s));

  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing sub-section code");
  sec->nSubSection = Dec16(s);
  if (sec->nSubSection < 0) return Fail(msg, "***ERROR: Invalid sub-section code");

  CopyTextChecked(sec->szSecText3, sizeof sec->szSecText3, sf.Next(), "Section text 3", msg);
  sec->nSecValue = ParseDecimal(sf.Next());
  return 0;
}
