// The subset file reader: the open file, its current line and the value
// getter over it, plus the unsigned number conversion of the attribute and
// product-ID fields. One subset file is open at a time.
#include "qvdf/subset/subsetfile.h"

#include <cctype>
#include <cstring>
#include <string>

#include "qvdf/text/lineread.h"
#include "qvdf/text/textstr.h"
#include "qvutil/options.h"

namespace {

struct SubsetInput {
  platform::FileHandle handle = platform::kInvalidHandle;
  TextInput in;
  std::string line;
  bool current = false;  // `line` holds a record line not yet consumed
};

SubsetInput& Input() {
  static SubsetInput state;
  return state;
}

bool IsPassedOver(const std::string& line) {
  if (line.empty()) return true;
  char c = line[0];
  return c == '#' || c == '\r' || c == '\n' || c == ' ' || c == ';';
}

// Next line into s.line: 0 read, 2 end of input, -1 too long.
int NextLine(SubsetInput& s, MessageFn msg) {
  int r = ReadTextLine(&s.in, &s.line);
  if (r == kLineRead) return 0;
  s.line.clear();
  if (r == kLineTooLong) {
    SendMessage(msg, kLevelError, "***ERROR: Line too long");
    return -1;
  }
  return 2;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

}  // namespace

int OpenSubsetInput(const char* name) {
  SubsetInput& s = Input();
  CloseSubsetInput();
  int status = 0;
  platform::FileHandle h = platform::kInvalidHandle;
  int rc = OpenFileMode(name, kModeRead, &status, &h, "qvdf\\TbModSubset", __LINE__);
  if (rc != 0) return rc;
  s.handle = h;
  s.in.Reset(h);
  s.line.clear();
  s.current = false;
  return 0;
}

int CloseSubsetInput() {
  SubsetInput& s = Input();
  if (s.handle == platform::kInvalidHandle) return 0;
  int rc = CloseFileHandle(s.handle, "qvdf\\TbModSubset", __LINE__);
  s.handle = platform::kInvalidHandle;
  s.in.Reset(platform::kInvalidHandle);
  s.line.clear();
  s.current = false;
  return rc;
}

bool SubsetInputOpen() { return Input().handle != platform::kInvalidHandle; }

int GetSubsetValue(const char* key, char* buf, int size, MessageFn msg) {
  SubsetInput& s = Input();
  if (s.handle == platform::kInvalidHandle) return 2;
  if (!s.current) {
    int r = NextLine(s, msg);
    if (r != 0) return r;
    s.current = true;
  }
  while (IsPassedOver(s.line)) {
    int r = NextLine(s, msg);
    if (r != 0) {
      s.current = false;
      return r;
    }
  }

  // The key is the text before the first "=" (the whole line when there is
  // none), compared over its own length: a line whose key is a leading part
  // of the expected one still matches, as in the text tables.
  size_t valueStart = 0;
  if (key != nullptr && key[0] != '\0') {
    size_t eq = s.line.find('=');
    size_t n = eq == std::string::npos ? s.line.size() : eq;
    if (TxtCompareNoCaseN(s.line.c_str(), key, n) != 0) return 1;
    valueStart = eq == std::string::npos ? s.line.size() : eq + 1;
  }

  // Files with LF line ends are as good as those with CR LF.
  size_t end = s.line.find_first_of("\r\n", valueStart);
  if (end == std::string::npos) end = s.line.size();
  size_t len = end - valueStart;
  if (size > 0) {
    if (len > static_cast<size_t>(size - 1)) len = static_cast<size_t>(size - 1);
    std::memcpy(buf, s.line.data() + valueStart, len);
    buf[len] = '\0';
  }
  s.current = false;
  return 0;
}

uint32_t ParseUnsigned32(const char* s) {
  const char* p = s;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16) {
    base = 16;
    p += 2;
  } else if (p[0] == '0') {
    base = 8;
  }
  uint64_t value = 0;
  bool overflow = false;
  for (; DigitValue(*p) < base; ++p) {
    value = value * base + DigitValue(*p);
    if (value > 0xFFFFFFFFu) {
      overflow = true;
      value = 0xFFFFFFFFu;
    }
  }
  if (overflow) return 0xFFFFFFFFu;
  uint32_t v = static_cast<uint32_t>(value);
  return negative ? 0u - v : v;
}
