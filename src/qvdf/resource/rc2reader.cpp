// The resource-script reader: skips to the table resource's data, takes the
// resource-name suffix into the carry, and turns each string literal back
// into a text-table line for ReadTxtTable.
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "qvdf/resource/rc2.h"
#include "qvdf/resource/rc2line.h"
#include "qvdf/text/textstr.h"
#include "qvutil/options.h"
#include "qvutil/status.h"

namespace {

constexpr char kModule[] = "qvdf\\rc2reader";
constexpr char kNameMarker[] = "_zelm_itb_table_";
constexpr size_t kNameMarkerLength = sizeof(kNameMarker) - 1;
constexpr char kPremature[] = "Premature end of source rc2 file ";
constexpr char kTooLong[] = "***ERROR: Line too long";

void Send(MessageFn msg, const std::string& text) { SendMessage(msg, kLevelError, text.c_str()); }

// Lower-cased copy without leading white space.
std::string TestCopy(std::string_view line) {
  std::vector<char> copy(line.begin(), line.end());
  copy.push_back('\0');
  TrimLeading(copy.data());
  platform::Env::Get()->LowerCase(copy.data());
  return std::string(copy.data());
}

}  // namespace

// Reads up to the line that opens the resource data. 0, 4 or 6.
int Rc2Input::ScanHeader(const char* name, MessageFn msg, Rc2Carry* carry) {
  bool sawRcdata = false;
  std::string_view line;
  for (;;) {
    int got = in_.Next(&line);
    if (got == kLineNone) {
      Send(msg, kPremature);
      return kPrematureEnd;
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

int OpenRc2Input(Rc2Input* r, int version, const char* name, MessageFn msg, Rc2Carry* carry) {
  Rc2Carry unused;
  if (!carry) carry = &unused;
  std::memset(carry->szSuffix, 0, sizeof(carry->szSuffix));
  CloseRc2Input(r, name, nullptr);
  r->Begin(version);

  platform::FileAttributes attrs;
  if (!platform::Env::Get()->GetAttributes(name, &attrs)) {
    Send(msg, std::string("File \"") + name + "\" not found.");
    return kErrNotFound;
  }
  int status = 0;
  platform::FileHandle h = platform::kInvalidHandle;
  if (OpenFileMode(name, kModeRead, &status, &h, kModule, __LINE__) != 0) {
    Send(msg, std::string("Unable to open file ") + name);
    return kErrNotFound;
  }
  r->file_ = platform::File(h);
  r->in_.Reset(h);
  int rc = r->ScanHeader(name, msg, carry);
  if (rc != 0) {
    r->file_.Close();
    r->in_.Reset(platform::kInvalidHandle);
    return rc;
  }
  return 0;
}

int Rc2Input::NextLine(std::string_view* line, MessageFn msg) {
  if (ended_ || !file_.is_open()) return 0;
  std::string_view raw;
  int got = atEnd_ ? kLineNone : in_.Next(&raw);
  if (got == kLineNone) {
    // The data stays at its end: every later read meets it and says so.
    atEnd_ = true;
    Send(msg, kPremature);
    failure_ = kPrematureEnd;
    return 0;
  }
  if (got == kLineTooLong) {
    Send(msg, kTooLong);
    ended_ = true;
    failure_ = kErrBadFormat;
    return -1;
  }
  line_.clear();
  if (!DecodeRc2ScriptLine(raw, &line_)) {
    ended_ = true;  // the "0," line
    return 0;
  }
  *line = line_;
  return 1;
}

int CloseRc2Input(Rc2Input* r, const char* name, MessageFn msg) {
  if (r->file_.is_open()) {
    int rc = CloseFileHandle(r->file_.release(), kModule, __LINE__);
    if (rc != 0) {
      std::ostringstream text;
      text << "Error " << rc << " closing " << name;
      Send(msg, text.str());
    }
  }
  r->in_.Reset(platform::kInvalidHandle);
  r->ResetLines();
  int failure = r->failure_;
  r->failure_ = 0;
  r->ended_ = r->atEnd_ = false;
  return failure;
}
