// The subset file reader: the open file, its current line and the value
// getter over it, plus the unsigned number conversion of the attribute and
// product-ID fields. One subset file is open at a time.
#include "qvdf/subset/subsetfile.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <string>

#include "qvdf/text/getvalue.h"
#include "qvdf/text/textstr.h"
#include "qvutil/options.h"
#include "qvutil/status.h"

namespace {

bool IsPassedOver(const std::string& line) {
  if (line.empty()) return true;
  char c = line[0];
  return c == '#' || c == '\r' || c == '\n' || c == ' ' || c == ';';
}

bool IsWhite(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

}  // namespace

int SubsetInput::NextLine(MessageFn msg) {
  std::string_view v;
  int r = in_.Next(&v);
  if (r == kLineRead) {
    line_.assign(v);
    return kValueFound;
  }
  line_.clear();
  if (r == kLineTooLong) {
    SendMessage(msg, kLevelError, "***ERROR: Line too long");
    return kValueError;
  }
  return kValueEnd;
}

int OpenSubsetInput(SubsetInput* s, const char* name) {
  CloseSubsetInput(s);
  int status = 0;
  platform::FileHandle h = platform::kInvalidHandle;
  int rc = OpenFileMode(name, kModeRead, &status, &h, "qvdf\\TbModSubset", __LINE__);
  if (rc != 0) return rc;
  s->file_ = platform::File(h);
  s->in_.Reset(h);
  s->line_.clear();
  s->current_ = false;
  return 0;
}

int CloseSubsetInput(SubsetInput* s) {
  if (!s->IsOpen()) return 0;
  int rc = CloseFileHandle(s->file_.release(), "qvdf\\TbModSubset", __LINE__);
  s->in_.Reset(platform::kInvalidHandle);
  s->line_.clear();
  s->current_ = false;
  return rc;
}

int GetSubsetValue(SubsetInput* in, const char* key, char* buf, int size, MessageFn msg) {
  SubsetInput& s = *in;
  if (!s.IsOpen()) return kValueEnd;
  if (!s.current_) {
    int r = s.NextLine(msg);
    if (r != 0) return r;
    s.current_ = true;
  }
  while (IsPassedOver(s.line_)) {
    int r = s.NextLine(msg);
    if (r != 0) {
      s.current_ = false;
      return r;
    }
  }

  // The key is the text before the first "=" (the whole line when there is
  // none), compared over its own length: a line whose key is a leading part
  // of the expected one still matches, as in the text tables.
  size_t valueStart = 0;
  if (key != nullptr && key[0] != '\0') {
    size_t eq = s.line_.find('=');
    size_t n = eq == std::string::npos ? s.line_.size() : eq;
    if (TxtCompareNoCaseN(s.line_.c_str(), key, n) != 0) return kValueOtherKey;
    valueStart = eq == std::string::npos ? s.line_.size() : eq + 1;
  }

  // Files with LF line ends are as good as those with CR LF.
  size_t end = s.line_.find_first_of("\r\n", valueStart);
  if (end == std::string::npos) end = s.line_.size();
  size_t len = end - valueStart;
  if (size > 0) {
    if (len > static_cast<size_t>(size - 1)) len = static_cast<size_t>(size - 1);
    std::memcpy(buf, s.line_.data() + valueStart, len);
    buf[len] = '\0';
  }
  s.current_ = false;
  return 0;
}

namespace {
// Past leading white space and an optional sign, which *negative says.
const char* AfterSign(const char* p, bool* negative) {
  while (IsWhite(*p)) ++p;
  *negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  return p;
}
}  // namespace

bool ParseUnsigned32(const char* s, uint32_t* v) {
  bool negative;
  const char* p = AfterSign(s, &negative);
  int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16) {
    base = 16;
    p += 2;
  } else if (p[0] == '0') {
    base = 8;
  }
  uint64_t value = 0;
  for (; DigitValue(*p) < base; ++p) {
    value = value * base + DigitValue(*p);
    if (value > 0xFFFFFFFFu) return false;
  }
  uint32_t u = static_cast<uint32_t>(value);
  *v = negative ? 0u - u : u;
  return true;
}

bool ParseSigned32(const char* s, int32_t* v) {
  bool negative;
  const char* p = AfterSign(s, &negative);
  int64_t value = 0;
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > limit) return false;
  }
  *v = static_cast<int32_t>(negative ? -value : value);
  return true;
}
