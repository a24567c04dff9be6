// String primitives and number conversions of the text formats. Every walk
// steps one character at a time through the platform's lead-byte test, so a
// trail byte that happens to equal "," "^" or a delimiter is never matched
// and a double-byte character is never split.
#include "qvdf/text/textstr.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace {

// Bytes of the character at p: 0 at the NUL, 2 for a lead byte followed by
// a trail byte, else 1. A lead byte right before the NUL stands alone. No
// code page has a lead byte below 0x80, so plain ASCII skips the lookup.
inline size_t CharLen(const char* p) {
  unsigned char c = static_cast<unsigned char>(*p);
  if (c < 0x80) return c == 0 ? 0 : 1;
  if (p[1] != '\0' && platform::Env::Get()->IsLeadByte(c)) return 2;
  return 1;
}

inline int FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

// True when the single-byte character c is one of delims.
inline bool IsDelim(char c, const char* delims) {
  for (const char* d = delims; *d; ++d)
    if (*d == c) return true;
  return false;
}

// Compares at most n bytes, character by character; a double-byte character
// that does not fit entirely within n is left out of the comparison.
int CompareChars(const char* a, const char* b, size_t n, bool fold) {
  size_t i = 0;
  while (i < n) {
    size_t la = CharLen(a + i);
    size_t lb = CharLen(b + i);
    size_t l = la > lb ? la : lb;
    if (l == 0) return 0;  // both ended
    if (l == 2 && i + 2 > n) return 0;
    for (size_t k = 0; k < l; ++k) {
      unsigned char ca = static_cast<unsigned char>(a[i + k]);
      unsigned char cb = static_cast<unsigned char>(b[i + k]);
      int x = (fold && l == 1) ? FoldAscii(ca) : ca;
      int y = (fold && l == 1) ? FoldAscii(cb) : cb;
      if (x != y) return x < y ? -1 : 1;
      if (ca == 0) return 0;
    }
    i += l;
  }
  return 0;
}

inline bool IsWhite(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

const char* TxtFindSubstring(const char* s, const char* pat) {
  size_t n = std::strlen(pat);
  for (const char* p = s;; p += CharLen(p)) {
    if (std::strncmp(p, pat, n) == 0) return p;
    if (*p == '\0') return nullptr;
  }
}

int TxtCompareN(const char* a, const char* b, size_t n) { return CompareChars(a, b, n, false); }

int TxtCompareNoCaseN(const char* a, const char* b, size_t n) {
  return CompareChars(a, b, n, true);
}

const char* TxtFindChar(const char* s, int c) {
  char ch = static_cast<char>(c);
  for (const char* p = s;; p += CharLen(p)) {
    if (*p == ch && CharLen(p) <= 1) return p;
    if (*p == '\0') return nullptr;
  }
}

char* TxtCopyN(char* dst, const char* src, size_t n) {
  size_t i = 0;
  while (i < n) {
    size_t l = CharLen(src + i);
    if (l == 0 || i + l > n) break;
    std::memcpy(dst + i, src + i, l);
    i += l;
  }
  if (i < n) std::memset(dst + i, 0, n - i);
  return dst;
}

char* TxtTokenize(char* s, const char* delims, char** save) {
  char* p = s ? s : *save;
  if (p == nullptr) return nullptr;
  while (*p && CharLen(p) == 1 && IsDelim(*p, delims)) ++p;
  if (*p == '\0') {
    *save = p;
    return nullptr;
  }
  char* tok = p;
  while (*p) {
    size_t l = CharLen(p);
    if (l == 1 && IsDelim(*p, delims)) {
      *p = '\0';
      *save = p + 1;
      return tok;
    }
    p += l;
  }
  *save = p;
  return tok;
}

namespace {

// TxtSpan for one ASCII delimiter, which is what every caller passes: an
// ASCII byte costs two compares and no table.
size_t SpanOne(const char* s, unsigned char d) {
  const char* p = s;
  for (;;) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x80) {
      if (c == d || c == 0) break;
      ++p;
    } else {
      p += CharLen(p);
    }
  }
  return static_cast<size_t>(p - s);
}

}  // namespace

size_t TxtSpan(const char* s, const char* delims) {
  unsigned char d0 = static_cast<unsigned char>(delims[0]);
  if (d0 != 0 && d0 < 0x80 && delims[1] == '\0') return SpanOne(s, d0);
  // Several delimiters: a bit set keeps it to one test a byte.
  uint64_t set[4] = {0, 0, 0, 0};
  for (const char* d = delims; *d; ++d) {
    unsigned char c = static_cast<unsigned char>(*d);
    set[c >> 6] |= uint64_t{1} << (c & 63);
  }
  auto in_set = [&set](unsigned char c) { return (set[c >> 6] >> (c & 63)) & 1; };
  const char* p = s;
  for (;;) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == 0) break;
    size_t l = c < 0x80 ? 1 : CharLen(p);
    if (l == 1 && in_set(c)) break;
    p += l;
  }
  return static_cast<size_t>(p - s);
}

size_t TxtSpanFrom(const char* s, size_t n, size_t i, char delim) {
  const unsigned char d = static_cast<unsigned char>(delim);
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      if (c == d || c == 0) return i;
      ++i;
    } else if (i + 1 < n && s[i + 1] != '\0' && platform::Env::Get()->IsLeadByte(c)) {
      i += 2;
    } else {
      ++i;
    }
  }
  return n;
}

void TrimLeading(char* s) {
  char* p = s;
  while (*p && CharLen(p) == 1 && IsWhite(*p)) ++p;
  if (p != s && *p) std::memmove(s, p, std::strlen(p) + 1);
}

int32_t ParseDecimal(const char* s) { return textstr_inline::Decimal(s, SIZE_MAX); }
int32_t ParseHex(const char* s) { return textstr_inline::Hex(s, SIZE_MAX); }

int32_t ParseStandard(const char* s) {
  while (IsWhite(*s)) ++s;
  bool neg = false;
  if (*s == '-' || *s == '+') {
    neg = *s == '-';
    ++s;
  }
  // Saturates on overflow, as the C library's conversion does.
  int64_t v = 0;
  for (; *s >= '0' && *s <= '9'; ++s) {
    v = v * 10 + (*s - '0');
    if (v > static_cast<int64_t>(INT32_MAX) + 1) v = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (neg) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  return static_cast<int32_t>(v);
}

char* CopyUnquoted(char* dst, const char* start, int len) {
  if (len > 0 && start[0] == '"') {
    ++start;
    --len;
    if (len > 0 && start[len - 1] == '"') --len;
  }
  if (len < 0) len = 0;
  std::memcpy(dst, start, static_cast<size_t>(len));
  dst[len] = '\0';
  return dst;
}

SubfieldCursor FirstSubfield(const char* value) { return {value, TxtSpan(value, ",")}; }

SubfieldCursor NextSubfield(SubfieldCursor c) {
  const char* p = c.start + c.len;
  if (*p == ',') ++p;
  return {p, TxtSpan(p, ",")};
}

char* TakeSubfield(SubfieldCursor c, char* work, size_t cap) {
  if (cap == 0) return work;
  // Cut at a character boundary when the subfield does not fit.
  size_t i = 0;
  while (i < c.len) {
    size_t l = CharLen(c.start + i);
    if (l == 0 || i + l > c.len || i + l > cap - 1) break;
    i += l;
  }
  std::memcpy(work, c.start, i);
  work[i] = '\0';
  return work;
}
