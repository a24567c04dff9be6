// Value getter shared by the resource-script and module readers: finds the
// next record line and hands out the value of the expected key.
#include "qvdf/resource/linevalue.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "qvdf/text/wordscan.h"
#include "qvdf/text/lineread.h"
#include "qvdf/text/textstr.h"

namespace {

// Lines that hold no record: comments, blanks, and empty lines.
bool IsSkipped(std::string_view line) {
  if (line.empty()) return true;
  char c = line[0];
  return c == '#' || c == '\r' || c == '\n' || c == ' ' || c == ';';
}

// Bytes of the value before its NUL or its first CR that is a character of
// its own; *lead is set when a double-byte character comes before that.
// `limit` is where the line's own NUL terminator sits.
size_t ValueLength(const char* value, const char* limit, bool* lead) {
  platform::Env* env = nullptr;
  const char* p = value;
  for (;;) {
    p += wordscan::PlainBytes(p, static_cast<size_t>(limit - p), '\0', '\r', '\0', '\r');
    auto c = static_cast<unsigned char>(*p);
    if (c == '\0' || c == '\r') break;
    // No code page has a lead byte below 0x80.
    if (c >= 0x80 && p[1] != '\0') {
      if (!env) env = platform::Env::Get();
      if (env->IsLeadByte(c)) {
        *lead = true;
        p += 2;
        continue;
      }
    }
    ++p;
  }
  return static_cast<size_t>(p - value);
}

inline unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Whether the line's key (n bytes, no NUL among them) matches `key` without
// regard to case. Plain ASCII is compared here; a byte from 0x80 on either
// side leaves the whole comparison to the double-byte aware one.
bool KeyMatches(const char* line, size_t n, const char* key) {
  for (size_t i = 0; i < n; ++i) {
    auto a = static_cast<unsigned char>(line[i]);
    auto b = static_cast<unsigned char>(key[i]);
    if (a >= 0x80 || b >= 0x80) return TxtCompareNoCaseN(line, key, n) == 0;
    // A key that ends early meets a non-NUL byte of the line here.
    if (FoldAscii(a) != FoldAscii(b)) return false;
  }
  return true;
}

}  // namespace

int GetLineValue(LineCursor* cur, LineSourceFn next, const char* key, char* buf, int size,
                 MessageFn msg) {
  if (!cur->current) {
    int got = next(&cur->line, &cur->plain, msg);
    if (got != 1) return got < 0 ? kValueError : kValueEnd;
    cur->current = true;
  }
  while (IsSkipped(cur->line)) {
    int got = next(&cur->line, &cur->plain, msg);
    if (got != 1) {
      cur->current = false;
      return got < 0 ? kValueError : kValueEnd;
    }
  }

  // The line may hold a NUL from a damaged input; everything is measured up
  // to it, as the text reader sees the line.
  const char* line = cur->line.data();
  const size_t lineLen = cur->line.size();
  const bool plain = cur->plain && lineLen >= 2 && line[lineLen - 2] == '\r';
  const char* value = line;
  if (key && *key) {
    // No double-byte character in a plain line: the first "=" is the one.
    const char* eq = plain ? static_cast<const char*>(std::memchr(line, '=', lineLen))
                           : TxtFindChar(line, '=');
    if (!eq) return kValueOtherKey;
    size_t n = static_cast<size_t>(eq - line);
    // Over n bytes only: a key that the line's key begins is accepted, as
    // the text reader does.
    if (!KeyMatches(line, n, key)) return kValueOtherKey;
    value = eq + 1;
  }
  bool lead = false;
  // A plain line's only CR is the one before its final LF.
  size_t len = plain ? static_cast<size_t>(line + lineLen - 2 - value)
                     : ValueLength(value, line + lineLen, &lead);

  if (buf && size > 0) {
    // Only as far as the value goes: callers hand in buffers of a line's
    // full size, and filling all of them for every value would be slow.
    size_t n = std::min(len, static_cast<size_t>(size - 1));
    // Without a double-byte character no cut can split one.
    if (lead)
      TxtCopyN(buf, value, n);
    else
      std::memcpy(buf, value, n);
    buf[n] = '\0';
  }
  cur->current = false;
  return kValueFound;
}
