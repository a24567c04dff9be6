// The resource-script reader: skips to the table resource's data, takes the
// resource-name suffix into the carry, and turns each string literal back
// into a text-table line for ReadTxtTable.
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "qvdf/resource/linevalue.h"
#include "qvdf/resource/rc2.h"
#include "qvdf/resource/rc2line.h"
#include "qvdf/text/lineahead.h"
#include "qvdf/text/lineread.h"
#include "qvdf/text/textstr.h"
#include "qvutil/options.h"

namespace {

constexpr char kModule[] = "qvdf\\rc2reader";
constexpr char kNameMarker[] = "_zelm_itb_table_";
constexpr size_t kNameMarkerLength = sizeof(kNameMarker) - 1;
constexpr int kErrBadFormat = 4;
constexpr int kErrPrematureEnd = 6;
constexpr int kErrNotFound = 9;
constexpr char kPremature[] = "Premature end of source rc2 file ";
constexpr char kTooLong[] = "***ERROR: Line too long";
// A line result of the decoding source: the end-of-data line.
constexpr int kLineEndOfData = 2;

// One script input at a time.
struct ReaderState {
  platform::FileHandle handle = platform::kInvalidHandle;
  // The worker reads `in` while the reader uses the rest: apart, so that
  // neither's stores stall the other.
  alignas(64) TextInput in;
  alignas(64) LineAhead ahead;  // the resource data's lines, decoded
  LineCursor cursor;
  bool ended = false;  // end of data seen; nothing more is read
  int failure = 0;     // what CloseRc2Input reports
};
ReaderState& Reader() {
  static ReaderState state;
  return state;
}

void Send(MessageFn msg, const std::string& text) { SendMessage(msg, kLevelError, text.c_str()); }

void CloseQuietly(ReaderState& r) {
  r.ahead.Stop();
  if (r.handle != platform::kInvalidHandle) CloseFileHandle(r.handle, kModule, __LINE__);
  r.handle = platform::kInvalidHandle;
  r.in.Reset(platform::kInvalidHandle);
}

// Lower-cased copy without leading white space.
std::string TestCopy(const std::string& line) {
  std::vector<char> copy(line.begin(), line.end());
  copy.push_back('\0');
  TrimLeading(copy.data());
  platform::Env::Get()->LowerCase(copy.data());
  return std::string(copy.data());
}

// Reads up to the line that opens the resource data. 0, 4 or 6.
int ScanHeader(ReaderState& r, const char* name, MessageFn msg, Rc2Carry* carry) {
  bool sawRcdata = false;
  std::string line;
  for (;;) {
    int got = ReadTextLine(&r.in, &line);
    if (got == kLineNone) {
      Send(msg, kPremature);
      return kErrPrematureEnd;
    }
    if (got == kLineTooLong) {
      Send(msg, kTooLong);
      return kErrBadFormat;
    }
    std::string test = TestCopy(line);
    if (test.compare(0, 2, "\\\\") == 0) continue;
    if (const char* at = TxtFindSubstring(test.c_str(), kNameMarker)) {
      const char* suffix = at + kNameMarkerLength;
      size_t len = std::strcspn(suffix, " \t\r\n");
      if (len >= sizeof(carry->szSuffix)) {
        Send(msg, std::string("Invalid resource name in rc2 file ") + name);
        return kErrBadFormat;
      }
      std::memcpy(carry->szSuffix, suffix, len);
      carry->szSuffix[len] = '\0';
    }
    if (TxtFindSubstring(test.c_str(), "rcdata")) sawRcdata = true;
    if (sawRcdata && TxtFindSubstring(test.c_str(), "begin")) return 0;
  }
}

// The resource data's lines, decoded into text lines; the tag says that a
// line is plain: no NUL, no byte above 0x7F and no CR before its line end,
// which the line reader already knows.
LineAhead::Source DecodedLines(TextInput* in) {
  return [in](std::string* out, size_t* tag) {
    std::string_view raw;  // in the reader's buffer until the next read
    int got = ReadTextView(in, &raw);
    if (got != kLineRead) return got;
    size_t end = raw.size();
    while (end > 0 && (raw[end - 1] == '\n' || raw[end - 1] == '\r')) --end;
    const bool plain = in->stop() >= end;
    *tag = plain ? 1 : 0;
    return DecodeRc2ScriptLine(raw, out, plain) ? kLineRead : kLineEndOfData;
  };
}

}  // namespace

int OpenRc2Input(int version, const char* name, GetValueFn* getter, MessageFn msg,
                 Rc2Carry* carry) {
  ReaderState& r = Reader();
  Rc2Carry unused;
  if (!carry) carry = &unused;
  std::memset(carry->szSuffix, 0, sizeof(carry->szSuffix));
  CloseQuietly(r);
  r.cursor = LineCursor();
  r.ended = false;
  r.failure = 0;
  BeginTxtInput(version);

  platform::FileAttributes attrs;
  if (!platform::Env::Get()->GetAttributes(name, &attrs)) {
    Send(msg, std::string("File \"") + name + "\" not found.");
    return kErrNotFound;
  }
  int status = 0;
  if (OpenFileMode(name, kModeRead, &status, &r.handle, kModule, __LINE__) != 0) {
    r.handle = platform::kInvalidHandle;
    Send(msg, std::string("Unable to open file ") + name);
    return kErrNotFound;
  }
  r.in.Reset(r.handle);
  int rc = ScanHeader(r, name, msg, carry);
  if (rc != 0) {
    CloseQuietly(r);
    return rc;
  }
  r.ahead.Start(DecodedLines(&r.in), LineAhead::WorthAThread(r.handle));
  *getter = GetRc2Value;
  return 0;
}

namespace {

// The line source of the value getter: views into the lines read ahead.
int NextRc2Line(std::string_view* line, bool* plain, MessageFn msg) {
  ReaderState& r = Reader();
  if (r.ended || r.handle == platform::kInvalidHandle) return 0;
  LineAhead::Line got = r.ahead.Next();
  if (got.result == kLineNone) {
    // The file stays at its end: every later read meets it and says so.
    Send(msg, kPremature);
    r.failure = kErrPrematureEnd;
    return 0;
  }
  if (got.result == kLineTooLong) {
    Send(msg, kTooLong);
    r.ended = true;
    r.failure = kErrBadFormat;
    return -1;
  }
  if (got.result == kLineEndOfData) {
    r.ended = true;
    return 0;
  }
  *line = got.text;
  *plain = got.tag != 0;
  return 1;
}

}  // namespace

int ReadRc2Line(std::string* line, MessageFn msg) {
  std::string_view view;
  bool plain = false;
  int got = NextRc2Line(&view, &plain, msg);
  if (got == 1) line->assign(view);
  return got;
}

int GetRc2Value(const char* key, char* buf, int size, MessageFn msg) {
  return GetLineValue(&Reader().cursor, NextRc2Line, key, buf, size, msg);
}

int CloseRc2Input(const char* name, MessageFn msg) {
  ReaderState& r = Reader();
  r.ahead.Stop();
  if (r.handle != platform::kInvalidHandle) {
    int rc = CloseFileHandle(r.handle, kModule, __LINE__);
    if (rc != 0) {
      std::ostringstream text;
      text << "Error " << rc << " closing " << name;
      Send(msg, text.str());
    }
  }
  r.handle = platform::kInvalidHandle;
  r.in.Reset(platform::kInvalidHandle);
  r.cursor = LineCursor();
  int failure = r.failure;
  r.failure = 0;
  r.ended = false;
  return failure;
}
