// The .txt front end (open, value getter, close) and ReadTxtTable, which
// reads the blocks of a text table through any value getter and hands each
// record group to its record reader.
#include "qvdf/text/txtreader.h"

#include <cstring>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "qvdf/store/store.h"
#include "qvdf/text/textstr.h"
#include "qvdf/text/txtreader_internal.h"
#include "qvutil/options.h"

using namespace txtread;

namespace {

// The open .txt input. One text input is read at a time.
struct TxtFile {
  platform::FileHandle handle = platform::kInvalidHandle;
  TextInput in;
  std::string_view line;  // into in's buffer: valid until the next read
  bool pending = true;  // the line has been used; the next call reads anew
  bool ended = false;   // no line left: the input stays ended
  bool failed = false;  // a line was too long: every later call fails
};

TxtFile& File() {
  static TxtFile f;
  return f;
}

const char kModule[] = "qvdf\\tbreadtxt3";

// Reads the next line; kValueFound when there is one.
int NextLine(TxtFile& f, MessageFn msg) {
  if (f.ended) return kValueEnd;
  int r = ReadTextView(&f.in, &f.line);
  if (r == kLineTooLong) {
    SendMessage(msg, kLevelError, kLineTooLongMessage);
    f.failed = true;
    return kValueError;
  }
  if (r == kLineNone) {
    f.ended = true;
    return kValueEnd;
  }
  return kValueFound;
}

unsigned char FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

// TxtCompareNoCaseN(line, key, n) == 0 for a line key of n bytes that holds
// no NUL; plain ASCII on both sides is compared here, anything else there.
bool KeyMatches(const char* line, const char* key, size_t n) {
  // Keys are nearly always written as asked: plain ASCII, same case.
  size_t same = 0;
  while (same < n && line[same] == key[same] && static_cast<unsigned char>(line[same]) < 0x80) ++same;
  if (same == n) return true;
  for (size_t i = 0; i < n; ++i) {
    unsigned char a = static_cast<unsigned char>(line[i]);
    unsigned char b = static_cast<unsigned char>(key[i]);
    if (a >= 0x80 || b >= 0x80) return TxtCompareNoCaseN(line, key, n) == 0;
    if (FoldAscii(a) != FoldAscii(b)) return false;
  }
  return true;
}

bool IsSkipped(char c) { return c == '#' || c == '\r' || c == '\n' || c == ' ' || c == ';'; }

}  // namespace

int GetTxtValue(const char* key, char* buf, int size, MessageFn msg) {
  TxtFile& f = File();
  if (f.failed) return kValueError;
  if (f.pending) {
    int r = NextLine(f, msg);
    if (r != kValueFound) return r;
    f.pending = false;
  }
  while (IsSkipped(f.line[0])) {
    int r = NextLine(f, msg);
    if (r != kValueFound) {
      f.pending = true;
      return r;
    }
  }
  // Every scan below is bounded by the line's length and still stops at a
  // NUL inside it.
  const char* line = f.line.data();
  const size_t lineLen = f.line.size();
  const char* value = line;
  size_t rest = lineLen;
  if (*key) {
    // Prefix match over the length of the line's key, as the format has it.
    size_t k = TxtSpanN(line, lineLen, '=');
    if (k == lineLen || line[k] != '=') return kValueOtherKey;
    if (!KeyMatches(line, key, k)) return kValueOtherKey;
    value = line + k + 1;
    rest = lineLen - k - 1;
  }
  // The value ends at its first CR (or NUL). The line reader has found the
  // first CR, NUL or high byte already: when it lies in the value and is a
  // CR, or there is none, nothing before it can hide a CR.
  const size_t stop = f.in.stop();
  const size_t from = lineLen - rest;
  size_t len;
  if (stop >= from && (stop == lineLen || line[stop] == '\r')) {
    len = stop - from;
  } else {
    len = TxtSpanN(value, rest, '\r');
  }
  if (size > 0) {
    // Only a value longer than the buffer is cut, and never inside a character.
    if (len > static_cast<size_t>(size - 1)) len = CutLength(std::string_view(value, len), static_cast<size_t>(size - 1));
    std::memcpy(buf, value, len);
    buf[len] = '\0';
  }
  f.pending = true;
  return kValueFound;
}

int OpenTxtInput(int version, const char* name, GetValueFn* getter, MessageFn msg) {
  BeginTxtInput(version);
  TxtFile& f = File();
  // A read that failed left its file open: the dispatcher does not close it.
  if (f.handle != platform::kInvalidHandle) CloseFileHandle(f.handle, kModule, __LINE__);
  f = TxtFile();

  platform::FileAttributes attrs;
  if (!platform::Env::Get()->GetAttributes(name, &attrs)) {
    Send(msg, kLevelError, std::string("File \"") + name + "\" not found.");
    return 9;
  }
  int status = 0;
  platform::FileHandle h = platform::kInvalidHandle;
  if (OpenFileMode(name, kModeRead, &status, &h, kModule, __LINE__) != 0) {
    Send(msg, kLevelError, std::string("Unable to open file ") + name);
    return 9;
  }
  f.handle = h;
  f.in.Reset(h);
  *getter = GetTxtValue;
  return 0;
}

int CloseTxtInput(const char* name, MessageFn msg) {
  TxtFile& f = File();
  if (f.handle != platform::kInvalidHandle) {
    int c = CloseFileHandle(f.handle, kModule, __LINE__);
    if (c != 0) Send(msg, kLevelError, "Error " + Num(c) + " closing " + name);
  }
  f = TxtFile();
  return 0;
}

namespace {

using RecordReader = int (*)(TableDb*, GetValueFn, MessageFn);

struct Block {
  const char* type;
  const char* noType;
  const char* noCount;
  const char* countText;
  const char* readerName;
  RecordReader reader;
};

const Block kBlocks[] = {
    {"SYSTEM", "***ERROR: Expected TYPE=SYSTEM record", "***ERROR: Expected system COUNT record",
     "Number of system records: ", "QVTBUGetText3System", QVTBUGetText3System},
    {"FIELDS", "***ERROR: Expected TYPE=FIELDS record", "***ERROR: Expected field list COUNT record",
     "Number of Field list records: ", "QVTBUGetText3FieldList", QVTBUGetText3FieldList},
    {"MAPS", "***ERROR: Expected TYPE=MAPS record", "***ERROR: Expected field map COUNT record",
     "Number of field map records: ", "QVTBUGetText3FieldMap", QVTBUGetText3FieldMap},
};

// Calls the reader n times; 0, or its first nonzero result after the
// "Code = " message.
int ReadGroups(TableDb* db, GetValueFn getter, MessageFn msg, int n, const char* readerName,
               RecordReader reader) {
  for (int i = 0; i < n; ++i) {
    int16_t rc = static_cast<int16_t>(reader(db, getter, msg));
    if (rc != 0) {
      Send(msg, kLevelError, "***ERROR: Code = " + Num(rc) + " from " + readerName);
      return rc;
    }
  }
  return 0;
}

// Ends a stopped read: status, or 4 when no record reader failed.
int Abort(MessageFn msg, int status) {
  Send(msg, kLevelError, "Processing aborted due to error code " + Num(status));
  return status != 0 ? status : 4;
}

}  // namespace

int ReadTxtTable(TableDb* db, GetValueFn getter, MessageFn msg) {
  ValueBuffer v;
  int16_t status = 0;

  for (const Block& b : kBlocks) {
    Fetch got = FetchValue(getter, "TYPE", &v, msg);
    if (got == Fetch::kFailed) return Abort(msg, -1);
    if (got != Fetch::kFound || std::strcmp(v.c_str(), b.type) != 0) {
      Send(msg, kLevelError, b.noType);
      return Abort(msg, status);
    }
    got = FetchValue(getter, "COUNT", &v, msg);
    if (got == Fetch::kFailed) return Abort(msg, -1);
    if (got != Fetch::kFound) {
      Send(msg, kLevelError, b.noCount);
      return Abort(msg, status);
    }
    int16_t n = static_cast<int16_t>(ParseDecimal(v.c_str()));
    Send(msg, kLevelStep, b.countText + Num(n));
    status = static_cast<int16_t>(ReadGroups(db, getter, msg, n, b.readerName, b.reader));
    if (status != 0) return Abort(msg, status);
  }

  // Character maps are optional; a TYPE line with another value is taken
  // all the same.
  int16_t n = 0;
  Fetch got = FetchValue(getter, "TYPE", &v, msg);
  if (got == Fetch::kFailed) return Abort(msg, -1);
  if (got == Fetch::kFound && std::strcmp(v.c_str(), "CHARMAP") == 0) {
    got = FetchValue(getter, "COUNT", &v, msg);
    if (got == Fetch::kFailed) return Abort(msg, -1);
    if (got != Fetch::kFound) {
      Send(msg, kLevelError, "***ERROR: Expected character map COUNT record");
      return Abort(msg, status);
    }
    n = static_cast<int16_t>(ParseDecimal(v.c_str()));
  }
  Send(msg, kLevelStep, "Number of character map records: " + Num(n));
  status = static_cast<int16_t>(ReadGroups(db, getter, msg, n, "QVTBUGetText3CharMap", QVTBUGetText3CharMap));
  if (status != 0) return Abort(msg, status);

  if (TxtState().version < 4) return 0;

  if (std::strcmp(v.c_str(), "TABLE") != 0) {
    got = FetchValue(getter, "TYPE", &v, msg);
    if (got == Fetch::kFailed) return Abort(msg, -1);
    if (got != Fetch::kFound || std::strcmp(v.c_str(), "TABLE") != 0) {
      Send(msg, kLevelWarning, "***WARNING: No TYPE = TABLE found in V4 table");
      return 0;
    }
  }
  static const char* const kKeys[4] = {"MAINSYSTEM", "MAINCLASS", "PRODUCTID", "BUNDLEDFLAG"};
  int32_t values[4];
  for (int i = 0; i < 4; ++i) {
    got = FetchValue(getter, kKeys[i], &v, msg);
    if (got == Fetch::kFailed) return Abort(msg, -1);
    if (got != Fetch::kFound) {
      Send(msg, kLevelError, std::string("***ERROR: Expected ") + kKeys[i] + " record");
      return Abort(msg, status);
    }
    values[i] = ParseStandard(v.c_str());
  }
  got = FetchValue(getter, "ENABLEDPRODUCTS", &v, msg);
  if (got == Fetch::kFailed) return Abort(msg, -1);
  if (got != Fetch::kFound) Send(msg, kLevelWarning, "***WARNING: Expected ENABLEDPRODUCTS record");
  if (values[0] != 0 || values[1] != 0 || values[2] != 0 || values[3] != 0) {
    SetMainSystem(db, static_cast<int16_t>(values[0]));
    SetMainClass(db, static_cast<int16_t>(values[1]));
    SetProductID(db, static_cast<uint32_t>(values[2]));
    SetBundledFlag(db, static_cast<int16_t>(values[3]));
  }
  return 0;
}
