// String primitives and number conversions shared by every text reader and
// writer. All are double-byte aware through the platform code page: a lead
// byte and its trail byte form one character and are never split or
// matched separately.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "qvutil/wordscan.h"

// First occurrence of pat in s, or null.
const char* TxtFindSubstring(const char* s, const char* pat);
// Sign of comparing at most n bytes.
int TxtCompareN(const char* a, const char* b, size_t n);
// Same, without regard to case.
int TxtCompareNoCaseN(const char* a, const char* b, size_t n);
// First occurrence of c in s, or null.
const char* TxtFindChar(const char* s, int c);
// Copies at most n bytes, stops at src's NUL and NUL-fills the rest of the n
// bytes; never ends on half a double-byte character.
char* TxtCopyN(char* dst, const char* src, size_t n);
// strtok with explicit state: s, or null to go on in *save. Skips leading
// delimiters; returns the next token with the delimiter after it overwritten
// by NUL, or null when no token is left.
char* TxtTokenize(char* s, const char* delims, char** save);
// Bytes before the first byte of delims (whole length when none).
size_t TxtSpan(const char* s, const char* delims);
// TxtSpan for one ASCII delimiter over the n bytes at s, which need no
// terminator: stops at the delimiter or a NUL, else gives n. The end of the
// range counts as a NUL, so a lead byte in the last place stands alone.
inline size_t TxtSpanN(const char* s, size_t n, char delim);
// The same, going on from index i of the range, where a high byte may be a
// lead byte: the part of TxtSpanN that asks the code page.
size_t TxtSpanFrom(const char* s, size_t n, size_t i, char delim);
// Moves the string to its first non-white-space character, in place; a
// string of white space only is left as it is.
void TrimLeading(char* s);

// Conversions that never fail. ParseDecimal and ParseHex fold every byte
// after the optional blanks, sign (and "0x") into the value, digit or not,
// wrapping in 32 bits; ParseStandard skips white space and a sign and stops
// at the first non-digit, saturating on overflow.
int32_t ParseDecimal(const char* s);
int32_t ParseHex(const char* s);
int32_t ParseStandard(const char* s);
// The same over a measured text: its bytes up to the end or a NUL.
inline int32_t ParseDecimal(std::string_view s);
inline int32_t ParseHex(std::string_view s);

// Copies a subfield of `len` bytes into dst (room for len + 1) without a
// leading double quote and, after one, a trailing one; returns dst.
char* CopyUnquoted(char* dst, const char* start, int len);

// Subfield walk over a comma-separated value: every subfield past the end
// of the value is empty.
struct SubfieldCursor {
  const char* start;
  size_t len;
};
SubfieldCursor FirstSubfield(const char* value);
SubfieldCursor NextSubfield(SubfieldCursor c);
// Copies the subfield into work (capacity cap, cut at a character boundary)
// with a NUL; returns work.
char* TakeSubfield(SubfieldCursor c, char* work, size_t cap);

// The scans every record line goes through, inline: they run once or more
// per subfield.
namespace textstr_inline {

// Blanks and tabs, then an optional sign, within n bytes or up to a NUL;
// returns the index after them.
inline size_t SkipSignPrefix(const char* s, size_t n, bool* neg) {
  size_t i = 0;
  while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
  *neg = false;
  if (i < n && (s[i] == '-' || s[i] == '+')) {
    *neg = s[i] == '-';
    ++i;
  }
  return i;
}

// ParseDecimal over n bytes or up to a NUL (SIZE_MAX for a terminated string).
inline int32_t Decimal(const char* s, size_t n) {
  // Most numbers start with a digit: no blank or sign to look for.
  bool neg = false;
  size_t i = (n > 0 && s[0] >= '0' && s[0] <= '9') ? 0 : SkipSignPrefix(s, n, &neg);
  // Every byte folds in, digit or not; unsigned arithmetic wraps like the
  // 32-bit conversion it mirrors.
  uint32_t v = 0;
  for (; i < n && s[i] != '\0'; ++i)
    v = v * 10u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(s[i])) - 48);
  if (neg) v = 0u - v;
  return static_cast<int32_t>(v);
}

// What each byte adds as a hex digit: its value for 0-9, a-f and A-F, and
// for any other byte what the same arithmetic makes of it (letters folded
// to lower case, then the byte as a signed char less 87), so that a table
// look-up replaces the comparisons without changing a result.
struct HexDigits {
  uint32_t add[256];
  constexpr HexDigits() : add() {
    for (int b = 0; b < 256; ++b) {
      int32_t c = b < 128 ? b : b - 256;
      if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
      add[b] = static_cast<uint32_t>((c >= '0' && c <= '9') ? c - 48 : c - 87);
    }
  }
};
inline constexpr HexDigits kHexDigits;

// ParseHex over n bytes or up to a NUL.
inline int32_t Hex(const char* s, size_t n) {
  bool neg;
  size_t i = SkipSignPrefix(s, n, &neg);
  if (i + 1 < n && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) i += 2;
  uint32_t v = 0;
  for (; i < n && s[i] != '\0'; ++i) v = v * 16u + kHexDigits.add[static_cast<unsigned char>(s[i])];
  if (neg) v = 0u - v;
  return static_cast<int32_t>(v);
}

}  // namespace textstr_inline

inline size_t TxtSpanN(const char* s, size_t n, char delim) {
  // Many bytes at a time while they are plain ASCII; the first byte that
  // stops the walk is the delimiter, a NUL, or a high byte.
  size_t i = wordscan::PlainBytes(s, n, delim, '\0', delim, '\0');
  return i < n && static_cast<unsigned char>(s[i]) >= 0x80 ? TxtSpanFrom(s, n, i, delim) : i;
}

inline int32_t ParseDecimal(std::string_view s) {
  return textstr_inline::Decimal(s.data(), s.size());
}
inline int32_t ParseHex(std::string_view s) { return textstr_inline::Hex(s.data(), s.size()); }
