// Record readers of the field-lists block: the LISTID group with its FIELD
// lines. A list replaces a stored list of the same ID only when both belong
// to the same application, section type and section.
#include <cstring>
#include <new>
#include <vector>

#include "platform/platform.h"
#include "qvdf/store/store.h"
#include "qvdf/text/textstr.h"
#include "qvdf/text/txtreader.h"
#include "qvdf/text/txtreader_internal.h"
#include "qvutil/status.h"

using namespace txtread;

namespace {

constexpr int kMaxFields = 32767;

// The stored list's section ID, or -1 when it cannot be read.
int StoredSectionId(TableDb* db, int id) {
  int size = GetFieldListSize(db, id);
  if (size < kFieldListFixedSize) return kFailed;
  std::vector<char> buf(static_cast<size_t>(size));
  if (ReadFieldList(db, id, buf.data(), size) != 0) return kFailed;
  FieldListRecord head;
  std::memcpy(&head, buf.data(), sizeof head);
  return head.nSectionID;
}

// Turns every "^" that is a whole character into ",".
void CaretsToCommas(char* s) {
  // Nearly every name has no "^": one library scan settles it.
  if (!std::strchr(s, '^')) return;
  platform::Env* env = platform::Env::Get();
  for (char* p = s; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 0x80 && p[1] != '\0' && env->IsLeadByte(c)) {
      ++p;
      continue;
    }
    if (*p == '^') *p = ',';
  }
}

}  // namespace

int QVTBUGetText3FieldList(TableDb* db, ValueSource& getter, MessageFn msg) {
  TxtReaderState& st = getter.state;
  ValueBuffer v;
  if (Require(getter, "LISTID", "field list LISTID", &v, msg) != 0) return kFailed;
  const int id = ParseDecimal(v.view());
  const int before = st.fieldListOrdinal++;
  if (!(id > before)) return Fail(msg, "***ERROR: Field list ID out of sequence");

  if (Require(getter, "APP", "APP", &v, msg) != 0) return kFailed;
  const uint16_t app = static_cast<uint16_t>(ParseDecimal(v.view()));
  if (app == 0) return Fail(msg, "***ERROR: Invalid application ID");
  if (!SystemExists(db, app)) return Fail(msg, "***Error: System " + Num(app) + " is undefined");

  uint16_t secId = 0;
  Fetch got = FetchValue(getter, "SECID", &v, msg);
  if (got == Fetch::kFailed) return kFailed;
  if (got == Fetch::kFound) secId = static_cast<uint16_t>(ParseDecimal(v.view()));

  if (Require(getter, "SECTYPE", "SECTYPE", &v, msg) != 0) return kFailed;
  const uint16_t secType = static_cast<uint16_t>(ParseDecimal(v.view()));
  if (Require(getter, "NAME", "NAME", &v, msg) != 0) return kFailed;
  FieldListRecord head{};
  CopyTextChecked(head.szName, 65, v.view(), "Field list name", msg);

  if (Require(getter, "COUNT", "COUNT", &v, msg) != 0) return kFailed;
  // A list without fields is what an alias is; it reads back as written.
  const int32_t count = ParseDecimal(v.view());
  if (count < 0 || count > kMaxFields) return Fail(msg, "***ERROR: Invalid COUNT record");

  size_t size = static_cast<size_t>(FieldListRecordSize(count));
  if (size < kFieldListReportedSize) size = kFieldListReportedSize;
  // Every field record is cleared whole by its reader before a byte is
  // written, so only the head and any room after the fields start zeroed.
  std::unique_ptr<char[]> buf(new (std::nothrow) char[size]);
  if (!buf) return Fail(msg, "***ERROR: Insufficient memory for field list");
  const size_t fieldsEnd = static_cast<size_t>(FieldListRecordSize(count));
  std::memset(buf.get(), 0, kFieldListFixedSize);
  std::memset(buf.get() + fieldsEnd, 0, size - fieldsEnd);
  auto* rec = reinterpret_cast<FieldListRecord*>(buf.get());
  rec->nFields = static_cast<int16_t>(count);
  rec->nAppID = app;
  rec->nSecType = secType;
  rec->nSectionID = secId;
  std::memcpy(rec->szName, head.szName, sizeof rec->szName);

  for (int j = 0; j < count; ++j)
    if (QVTBUGetText3Field(j, ListFields(rec) + j, getter, msg) != 0) return kFailed;

  if (FieldListExists(db, id)) {
    if (GetFieldListApp(db, id) != app || GetFieldListSecType(db, id) != secType ||
        StoredSectionId(db, id) != secId)
      return Fail(msg, "***ERROR: code -1 duplicate field list index " + Num(id));
    int c = DeleteFieldList(db, id);
    if (c != 0) {
      Send(msg, kLevelError,
           "***ERROR: code " + Num(c) + " deleting old field list record" + Num(app));
      return c;
    }
  }
  if (MessageWanted(msg, kLevelProgress)) {
    (Msg("   Add Field LIST ") << id << ": " << rec->szName).Send(msg, kLevelProgress);
    if (st.version >= 3 && secId == 0)
      (Msg("Missing section ID for field list ") << id).Send(msg, kLevelProgress);
  }
  int c = AddFieldList(db, id, rec);
  if (c == 0) c = MarkFieldList(db, id);
  if (c != 0) {
    Send(msg, kLevelError, "***ERROR: code " + Num(c) + " adding new field list record" + Num(app));
    return c;
  }
  return 0;
}

int QVTBUGetText3Field(int j, FieldRecord* f, ValueSource& getter, MessageFn msg) {
  // Cleared whole here, so the texts below are copied without their padding.
  ZeroRecord(f, sizeof *f);
  f->nAux = -1;
  ValueBuffer v;
  if (Require(getter, "FIELD", "FIELD", &v, msg) != 0) return kFailed;

  Subfields sf(v.view());
  const int32_t number = ParseDecimal(sf.Next());
  if (number != j + 1) return Fail(msg, "***ERROR: Field out of sequence");

  std::string_view s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing field label");
  std::string_view text = Unquoted(s);
  if (CopyTextToZeroed(f->szLabel, sizeof f->szLabel, text))
    Send(msg, kLevelWarning, "***ERROR: Field label " + std::string(text) + " truncated");

  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing field name");
  text = Unquoted(s);
  if (CopyTextToZeroed(f->szName, sizeof f->szName, text))
    Send(msg, kLevelWarning, "***ERROR: Field name " + std::string(text) + " truncated");
  CaretsToCommas(f->szName);
  if (MessageWanted(msg, kLevelDetail))
    (Msg("      Field ") << number << ": " << f->szName).Send(msg, kLevelDetail);

  TxtReaderState& st = getter.state;
  const int16_t item = static_cast<int16_t>(ParseDecimal(sf.Next()));
  if (item != 1 && item != TxtReaderState::lastItem + 1)
    return Fail(msg, "***ERROR: Item number out of sequence");
  TxtReaderState::lastItem = item;
  f->nItem = item;

  s = sf.Next();
  if (s.size() != 1) return Fail(msg, "***ERROR: Invalid field type");
  f->cType = static_cast<unsigned char>(s[0]);
  f->nFieldValue = ParseDecimal(sf.Next());

  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing field terminator character");
  f->nTerminator = static_cast<int16_t>(ParseDecimal(s));
  if (CopyTextToZeroed(f->szFieldText1, sizeof f->szFieldText1, sf.Next()))
    Send(msg, kLevelWarning, "***WARNING: Field text 1 truncated");
  if (CopyTextToZeroed(f->szFieldText2, sizeof f->szFieldText2, sf.Next()))
    Send(msg, kLevelWarning, "***WARNING: Field text 2 truncated");

  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing field attributes");
  f->dwAttributes = static_cast<uint32_t>(ParseHex(s));
  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing associated field index");
  f->nAssocField = static_cast<int16_t>(ParseDecimal(s));

  if (st.version >= 3) {
    if (sf.EndedAtComma()) {
      f->dwMapCode = static_cast<uint32_t>(ParseDecimal(sf.Rest()));
    } else {
      Send(msg, kLevelWarning, "Missing field mapping code, using zero.");
      f->dwMapCode = 0;
    }
  }
  return 0;
}
