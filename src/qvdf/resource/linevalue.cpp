// Value getter shared by the resource-script and module readers: finds the
// next record line and hands out the value of the expected key.
#include "qvdf/resource/linevalue.h"

#include <algorithm>
#include <cstring>

#include "qvdf/text/lineread.h"
#include "qvdf/text/textstr.h"

namespace {

// Lines that hold no record: comments, blanks, and empty lines.
bool IsSkipped(const std::string& line) {
  if (line.empty()) return true;
  char c = line[0];
  return c == '#' || c == '\r' || c == '\n' || c == ' ' || c == ';';
}

}  // namespace

int GetLineValue(LineCursor* cur, LineSourceFn next, const char* key, char* buf, int size,
                 MessageFn msg) {
  if (!cur->current) {
    int got = next(&cur->line, msg);
    if (got != 1) return got < 0 ? kValueError : kValueEnd;
    cur->current = true;
  }
  while (IsSkipped(cur->line)) {
    int got = next(&cur->line, msg);
    if (got != 1) {
      cur->current = false;
      return got < 0 ? kValueError : kValueEnd;
    }
  }

  // The line may hold a NUL from a damaged input; everything is measured up
  // to it, as the text reader sees the line.
  const char* line = cur->line.c_str();
  const char* value = line;
  if (key && *key) {
    const char* eq = TxtFindChar(line, '=');
    if (!eq) return kValueOtherKey;
    size_t n = static_cast<size_t>(eq - line);
    // Over n bytes only: a key that the line's key begins is accepted, as
    // the text reader does.
    if (TxtCompareNoCaseN(line, key, n) != 0) return kValueOtherKey;
    value = eq + 1;
  }
  size_t len = std::strlen(value);
  if (const char* cr = TxtFindChar(value, '\r')) len = static_cast<size_t>(cr - value);

  if (buf && size > 0) {
    // Only as far as the value goes: callers hand in buffers of a line's
    // full size, and filling all of them for every value would be slow.
    size_t n = std::min(len, static_cast<size_t>(size - 1));
    std::string cut(value, len);
    TxtCopyN(buf, cut.c_str(), n);
    buf[n] = '\0';
  }
  cur->current = false;
  return kValueFound;
}
