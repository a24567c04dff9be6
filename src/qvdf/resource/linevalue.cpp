// Value getter shared by the resource-script and module readers: finds the
// next record line and hands out the value of the expected key.
#include "qvdf/resource/linevalue.h"

#include <cstring>

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
    if (next(&cur->line, msg) == 0) return 2;
    cur->current = true;
  }
  while (IsSkipped(cur->line)) {
    if (next(&cur->line, msg) == 0) {
      cur->current = false;
      return 2;
    }
  }

  // The line may hold a NUL from a damaged input; everything is measured up
  // to it, as the text reader sees the line.
  const char* line = cur->line.c_str();
  const char* value = line;
  if (key && *key) {
    const char* eq = TxtFindChar(line, '=');
    if (!eq) return 1;
    size_t n = static_cast<size_t>(eq - line);
    // Over n bytes only: a key that the line's key begins is accepted, as
    // the text reader does.
    if (TxtCompareNoCaseN(line, key, n) != 0) return 1;
    value = eq + 1;
  }
  size_t len = std::strlen(value);
  if (const char* cr = TxtFindChar(value, '\r')) len = static_cast<size_t>(cr - value);

  if (buf && size > 0) {
    std::string cut(value, len);
    TxtCopyN(buf, cut.c_str(), static_cast<size_t>(size - 1));
    buf[size - 1] = '\0';
  }
  cur->current = false;
  return 0;
}
