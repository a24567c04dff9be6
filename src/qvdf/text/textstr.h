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
// strtok with explicit state: s, or null to go on in *save.
char* TxtTokenize(char* s, const char* delims, char** save);
// Bytes before the first byte of delims (whole length when none).
size_t TxtSpan(const char* s, const char* delims);
// Moves the string to its first non-white-space character, in place.
void TrimLeading(char* s);

// Conversions that never fail (see the text format's number rules).
int32_t ParseDecimal(const char* s);
int32_t ParseHex(const char* s);
int32_t ParseStandard(const char* s);  // atoi-like: stops at a non-digit

// Copies a subfield of `len` bytes without its surrounding double quotes.
char* CopyUnquoted(char* dst, const char* start, int len);

// Subfield walk over a comma-separated value.
struct SubfieldCursor {
  const char* start;
  size_t len;
};
SubfieldCursor FirstSubfield(const char* value);
SubfieldCursor NextSubfield(SubfieldCursor c);
// Copies the subfield into work (capacity cap) with a NUL; returns work.
char* TakeSubfield(SubfieldCursor c, char* work, size_t cap);
