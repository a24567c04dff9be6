// String primitives and number conversions shared by every text reader and
// writer. All are double-byte aware through the platform code page: a lead
// byte and its trail byte form one character and are never split or
// matched separately.
#pragma once

#include <cstddef>
#include <cstdint>

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
