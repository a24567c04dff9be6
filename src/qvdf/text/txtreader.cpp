// The .txt input (open, its lines, close) and ReadTxtTable, which reads the
// blocks of a text table through any value source and hands each record
// group to its record reader.
#include "qvdf/text/txtreader.h"

#include <cstring>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "qvdf/store/store.h"
#include "qvdf/text/textstr.h"
#include "qvdf/text/txtreader_internal.h"
#include "qvutil/options.h"
#include "qvutil/status.h"

using namespace txtread;

namespace {
const char kModule[] = "qvdf\\tbreadtxt3";
}  // namespace

int TxtInput::NextLine(std::string_view* line, MessageFn msg) {
  if (failed_) return kValueError;
  if (ended_) return 0;
  int r = in_.Next(line);
  if (r == kLineTooLong) {
    SendMessage(msg, kLevelError, "***ERROR: Line too long");
    failed_ = true;
    return kValueError;
  }
  if (r == kLineNone) {
    // A 0x1A at the start of a line ends the input: it stays ended.
    ended_ = true;
    return 0;
  }
  if (!line->empty() && line->back() == '\n') {
    const bool crlf = line->size() >= 2 && (*line)[line->size() - 2] == '\r';
    if (ends_ == LineEnds::kUnknown) {
      ends_ = crlf ? LineEnds::kCrLf : LineEnds::kLf;
      if (!crlf) SendMessage(msg, kLevelWarning, kLfWarning);
    } else if (ends_ == LineEnds::kCrLf && !crlf) {
      // A stray LF in a CR LF file ends its line as CR LF would; kept, it
      // would become part of the value.
      line->remove_suffix(1);
    }
  }
  return 1;
}

int OpenTxtInput(TxtInput* in, int version, const char* name, MessageFn msg) {
  in->Begin(version);
  CloseTxtInput(in, name, nullptr);
  platform::FileAttributes attrs;
  if (!platform::Env::Get()->GetAttributes(name, &attrs)) {
    Send(msg, kLevelError, std::string("File \"") + name + "\" not found.");
    return kErrNotFound;
  }
  int status = 0;
  platform::FileHandle h = platform::kInvalidHandle;
  if (OpenFileMode(name, kModeRead, &status, &h, kModule, __LINE__) != 0) {
    Send(msg, kLevelError, std::string("Unable to open file ") + name);
    return kErrNotFound;
  }
  in->file_ = platform::File(h);
  in->in_.Reset(h);
  return 0;
}

int CloseTxtInput(TxtInput* in, const char* name, MessageFn msg) {
  if (in->file_.is_open()) {
    int c = CloseFileHandle(in->file_.release(), kModule, __LINE__);
    if (c != 0) Send(msg, kLevelError, "Error " + Num(c) + " closing " + name);
  }
  in->in_.Reset(platform::kInvalidHandle);
  in->ResetLines();
  in->ended_ = in->failed_ = false;
  in->ends_ = TxtInput::LineEnds::kUnknown;
  return 0;
}

namespace {

using RecordReader = int (*)(TableDb*, ValueSource&, MessageFn);

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
    {"FIELDS", "***ERROR: Expected TYPE=FIELDS record",
     "***ERROR: Expected field list COUNT record",
     "Number of Field list records: ", "QVTBUGetText3FieldList", QVTBUGetText3FieldList},
    {"MAPS", "***ERROR: Expected TYPE=MAPS record", "***ERROR: Expected field map COUNT record",
     "Number of field map records: ", "QVTBUGetText3FieldMap", QVTBUGetText3FieldMap},
};

// Calls the reader n times; 0, or its first nonzero result after the
// "Code = " message.
int ReadGroups(TableDb* db, ValueSource& getter, MessageFn msg, int n, const char* readerName,
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
  return status != 0 ? status : kErrBadFormat;
}

}  // namespace

int ReadTxtTable(TableDb* db, ValueSource& getter, MessageFn msg) {
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
  status = static_cast<int16_t>(
      ReadGroups(db, getter, msg, n, "QVTBUGetText3CharMap", QVTBUGetText3CharMap));
  if (status != 0) return Abort(msg, status);

  if (getter.state.version < 4) return 0;

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

int ReadTxtTable(TableDb* db, GetValueFn getter, int version, MessageFn msg) {
  FunctionSource src(getter, version);
  return ReadTxtTable(db, src, msg);
}
