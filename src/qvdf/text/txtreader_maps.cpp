// Record readers of the field-maps and character-maps blocks. Both replace a
// stored record of the same ID; their IDs must rise within one input.
#include <cstring>

#include "qvdf/store/store.h"
#include "qvdf/text/textstr.h"
#include "qvdf/text/txtreader.h"
#include "qvdf/text/txtreader_internal.h"
#include "qvutil/mem.h"
#include "qvutil/status.h"

using namespace txtread;

namespace {

struct Endpoint {
  int system = 0;
  int list = 0;
  int section = 0;
};

// Splits a SOURCE or TARGET value (system, field list, then the rest of the
// value as the section) and checks that the system and list are stored.
int ReadEndpoint(TableDb* db, const char* value, const char* which, Endpoint* e, MessageFn msg) {
  std::string copy(value);
  char* save = nullptr;
  const char* t = TxtTokenize(copy.data(), ",", &save);
  e->system = ParseDecimal(t ? t : "");
  if (!SystemExists(db, e->system))
    return Fail(msg, std::string("***ERROR: Invalid ") + which + " system ID");
  t = TxtTokenize(nullptr, ",", &save);
  e->list = ParseDecimal(t ? t : "");
  if (!FieldListExists(db, e->list))
    return Fail(msg, std::string("***ERROR: Invalid ") + which + " field list ID");
  t = TxtTokenize(nullptr, "", &save);
  e->section = ParseDecimal(t ? t : "");
  return 0;
}

// Stores entry i, a target field number (0: unmapped), as its index.
inline void StoreMapEntry(FieldMapRecord* rec, int i, int32_t e, int targetCount, MessageFn msg) {
  if (e < 0 || e > targetCount) {
    Send(msg, kLevelWarning, "***WARNING: Invalid map index reset to unmapped");
    e = 0;
  }
  SetMapEntry(rec, i, static_cast<int16_t>(e - 1));
}

// How many of the 8 bytes in w (the first in the lowest byte) are ASCII
// digits before the first one that is not; 8 when all are. A byte from 0xFA
// on carries into the next one, which lies past the first non-digit.
inline unsigned DigitRun(uint64_t w) {
  constexpr uint64_t kTop = 0xF0F0F0F0F0F0F0F0ull, kZeros = 0x3030303030303030ull;
  const uint64_t bad = ((w & kTop) ^ kZeros) | (((w + 0x0606060606060606ull) & kTop) ^ kZeros);
  return bad ? static_cast<unsigned>(__builtin_ctzll(bad)) / 8 : 8;
}

// The number the first n (1 to 7) bytes of w spell, all digits: they are
// moved to the top, the bytes below become leading zeros, and pairs, quads
// and the halves are combined by three multiplications.
inline uint32_t DigitsValue(uint64_t w, unsigned n) {
  uint64_t v = w << (8 * (8 - n));
  v = ((v & 0x0F0F0F0F0F0F0F0Full) * 2561) >> 8;
  v = ((v & 0x00FF00FF00FF00FFull) * 6553601) >> 16;
  return static_cast<uint32_t>(((v & 0x0000FFFF0000FFFFull) * 42949672960001ull) >> 32);
}

// Reads count entries from the MAP value (followed by a NUL, none inside),
// one per subfield. Plain numbers, nearly every entry, are read here, eight
// bytes at a time where eight are left; from the first subfield that holds
// anything else on, the subfield walk and ParseDecimal take over.
void ReadMapEntries(std::string_view value, int count, int targetCount, FieldMapRecord* rec,
                    MessageFn msg) {
  const char* p = value.data();
  const char* const end = p + value.size();
  int i = 0;
  for (; i < count; ++i) {
    if (end - p >= 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      const unsigned n = DigitRun(w);
      if (n < 8 && p[n] == ',') {
        StoreMapEntry(rec, i, n ? static_cast<int32_t>(DigitsValue(w, n)) : 0, targetCount, msg);
        p += n + 1;
        continue;
      }
    }
    const char* q = p;
    uint32_t e = 0;
    // The NUL ends the run.
    for (uint32_t d; (d = static_cast<unsigned char>(*q) - 48u) < 10; ++q) e = e * 10u + d;
    if (*q == ',') {
      ++q;
    } else if (*q != '\0') {
      break;
    }
    StoreMapEntry(rec, i, static_cast<int32_t>(e), targetCount, msg);
    p = q;
  }
  if (i == count) return;
  Subfields sf(std::string_view(p, static_cast<size_t>(end - p)));
  for (; i < count; ++i) StoreMapEntry(rec, i, ParseDecimal(sf.Next()), targetCount, msg);
}

}  // namespace

int QVTBUGetText3FieldMap(TableDb* db, ValueSource& getter, MessageFn msg) {
  TxtReaderState& st = getter.state;
  ValueBuffer v;
  if (Require(getter, "MAPID", "MAPID", &v, msg) != 0) return kFailed;
  const int id = ParseDecimal(v.view());
  if (id <= 0) return Fail(msg, "***ERROR: Invalid map ID");
  if (id <= st.lastMapId) return Fail(msg, "***ERROR: Map ID out of sequence");
  st.lastMapId = id;

  if (Require(getter, "SECTYPE", "SECTYPE", &v, msg) != 0) return kFailed;
  const int secType = ParseDecimal(v.view());
  if (secType < 0 || secType > 9) return Fail(msg, "***ERROR: Invalid section type");
  if (Require(getter, "NAME", "NAME", &v, msg) != 0) return kFailed;
  FieldMapRecord head{};
  CopyTextChecked(head.szName, 64, v.view(), "Field map name", msg);
  if (Require(getter, "ATTRIBS", "ATTRIB", &v, msg) != 0) return kFailed;
  const uint32_t attribs = static_cast<uint32_t>(ParseDecimal(v.view()));

  Endpoint src, dst;
  if (Require(getter, "SOURCE", "SOURCE", &v, msg) != 0) return kFailed;
  if (ReadEndpoint(db, v.c_str(), "source", &src, msg) != 0) return kFailed;
  if (Require(getter, "TARGET", "TARGET", &v, msg) != 0) return kFailed;
  if (ReadEndpoint(db, v.c_str(), "target", &dst, msg) != 0) return kFailed;

  if (Require(getter, "COUNT", "COUNT", &v, msg) != 0) return kFailed;
  const int count = GetFieldListCount(db, src.list);
  if (ParseDecimal(v.view()) != count || count < 0)
    return Fail(msg, "***ERROR: Field count conflicts with source field list");
  const int targetCount = GetFieldListCount(db, dst.list);

  size_t size = static_cast<size_t>(FieldMapRecordSize(count));
  if (size < kFieldMapReportedSize) size = kFieldMapReportedSize;
  std::unique_ptr<char[]> buf = ZeroedBuffer(size);
  if (!buf) return Fail(msg, "***ERROR: Insufficient memory for field map record");
  auto* rec = reinterpret_cast<FieldMapRecord*>(buf.get());
  rec->nSourceList = static_cast<int16_t>(src.list);
  rec->nTargetList = static_cast<int16_t>(dst.list);
  std::memcpy(rec->szName, head.szName, sizeof rec->szName);
  rec->dwAttribs = attribs;

  if (Require(getter, "MAP", "MAP", &v, msg) != 0) return kFailed;
  ReadMapEntries(v.view(), count, targetCount, rec, msg);

  ConfigRecord cfg{};
  cfg.nConfigID = static_cast<uint16_t>(id);
  cfg.nSecType = static_cast<uint16_t>(secType);
  cfg.dwSource =
      (static_cast<uint32_t>(src.system) << 16) | (static_cast<uint32_t>(src.section) & 0xFFFF);
  cfg.dwTarget =
      (static_cast<uint32_t>(dst.system) << 16) | (static_cast<uint32_t>(dst.section) & 0xFFFF);
  cfg.nMapID = static_cast<uint16_t>(id);
  cfg.nAux1 = -1;
  cfg.nAux2 = 130;

  if (FieldMapExists(db, id)) {
    int c = DeleteFieldMap(db, id);
    if (c != 0) {
      Send(msg, kLevelError,
           "***ERROR: code " + Num(c) + " deleting old field map record" + Num(id));
      return c;
    }
  }
  if (MessageWanted(msg, kLevelProgress))
    (Msg("   Add field MAP ") << id).Send(msg, kLevelProgress);
  int c = AddFieldMap(db, id, &cfg, rec);
  if (c != 0) {
    Send(msg, kLevelError, "***ERROR: code " + Num(c) + " adding new field map record" + Num(id));
    return c;
  }
  return 0;
}

int QVTBUGetText3CharMap(TableDb* db, ValueSource& getter, MessageFn msg) {
  TxtReaderState& st = getter.state;
  ValueBuffer v;
  if (Require(getter, "CHARMAP", "CHARMAP", &v, msg) != 0) return kFailed;

  Subfields sf(v.view());
  std::string_view s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing CharMap ID");
  const int id = ParseDecimal(s);
  if (id < 1) return Fail(msg, "***ERROR: Invalid CharMap ID");
  if (id <= st.lastCharMapId) return Fail(msg, "***ERROR: CharMap ID out of sequence");
  st.lastCharMapId = id;

  // The name stays a view into v: v is not fetched into again before it is copied.
  const std::string_view name = sf.Next();
  if (name.empty()) return Fail(msg, "***ERROR: Missing CharMap name");
  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing CharMap flags field");
  const uint16_t flags = static_cast<uint16_t>(ParseHex(s));
  s = sf.Next();
  if (s.empty()) return Fail(msg, "***ERROR: Missing CharMap character count");
  // The count is stored in 16 bits and sizes the buffer: both must hold it.
  const int32_t nChars = ParseDecimal(s);
  if (nChars < 256 || nChars > 0xFFFF)
    return Fail(msg, "***ERROR: Invalid CharMap character count");

  MemBlock block;
  const size_t size = static_cast<size_t>(nChars) + 69;
  if (!block.Alloc(size)) return kErrNoMemory;
  std::memset(block.get(), 0, size);
  auto* rec = block.as<CharMapRecord>();
  rec->nChars = static_cast<uint16_t>(nChars);
  rec->wFlags = flags;
  CopyTextChecked(rec->szName, sizeof rec->szName, name, "CharMap name", msg);

  for (int r = 0; r < 16; ++r) {
    if (Require(getter, "COL", "COL", &v, msg) != 0) return kFailed;
    Subfields col(v.view());
    s = col.Next();
    if (s.empty()) return Fail(msg, "***ERROR: Missing column number");
    if (ParseHex(s) != r) return Fail(msg, "***ERROR: Column number invalid or not in sequence");
    for (int c = 0; c < 16; ++c) {
      s = col.Next();
      if (s.empty()) return Fail(msg, "***ERROR: Missing character value");
      const uint32_t ch = static_cast<uint32_t>(ParseHex(s));
      if (ch > 255) return Fail(msg, "***ERROR: Invalid character code");
      rec->abMap[16 * r + c] = static_cast<uint8_t>(ch);
    }
  }

  if (CharMapExists(db, id)) {
    int c = DeleteCharMap(db, id);
    if (c != 0) {
      Send(msg, kLevelError,
           "***ERROR: code " + Num(c) + " deleting old CharMap record " + Num(id));
      return c;
    }
  }
  if (MessageWanted(msg, kLevelProgress))
    Send(msg, kLevelProgress, "   Add character Map: " + Num(id) + " " + rec->szName);
  int c = AddCharMap(db, id, rec);
  if (c != 0) {
    Send(msg, kLevelError, "***ERROR: code " + Num(c) + " adding new CharMap record " + Num(id));
    return c;
  }
  return 0;
}
