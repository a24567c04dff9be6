// The value getter over a source of lines: finds the next record line and
// hands out the value of the expected key. Lines are views that need no
// terminator; every scan is bounded by the line's length and still stops
// at a NUL inside it, as the line would read as a string.
#include "qvdf/text/getvalue.h"

#include <cstring>

#include "platform/platform.h"
#include "qvdf/text/textstr.h"

namespace {

bool IsSkipped(std::string_view line) {
  if (line.empty()) return true;
  char c = line[0];
  return c == '#' || c == '\r' || c == '\n' || c == ' ' || c == ';';
}

unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Whether the line's key (n bytes, no NUL among them) matches `key` without
// regard to case, over the line key's length: a key that the expected one
// begins with matches too. Plain ASCII is compared here; a byte from 0x80 on
// either side leaves the comparison to the double-byte aware one.
bool KeyMatches(const char* line, size_t n, const char* key) {
  // Keys are nearly always written as asked: plain ASCII, same case.
  size_t same = 0;
  while (same < n && line[same] == key[same] && static_cast<unsigned char>(line[same]) < 0x80)
    ++same;
  if (same == n) return true;
  for (size_t i = same; i < n; ++i) {
    auto a = static_cast<unsigned char>(line[i]);
    auto b = static_cast<unsigned char>(key[i]);
    if (a >= 0x80 || b >= 0x80) return TxtCompareNoCaseN(line, key, n) == 0;
    // A key that ends early meets a non-NUL byte of the line here.
    if (FoldAscii(a) != FoldAscii(b)) return false;
  }
  return true;
}

// The length of text cut to at most max bytes, never inside a character.
size_t CutLength(const char* text, size_t len, size_t max) {
  if (len <= max) return len;
  size_t i = 0;
  while (i < max) {
    auto c = static_cast<unsigned char>(text[i]);
    size_t l = (c >= 0x80 && i + 1 < len && platform::Env::Get()->IsLeadByte(c)) ? 2 : 1;
    if (i + l > max) break;
    i += l;
  }
  return i;
}

}  // namespace

int LineSource::Fetch(MessageFn msg) {
  int got = NextLine(&line_, msg);
  if (got == 1)
    ++fetched_;
  else
    ended_ = true;
  return got;
}

int LineSource::GetValue(const char* key, char* buf, int size, MessageFn msg) {
  if (!current_) {
    int got = Fetch(msg);
    if (got != 1) return got < 0 ? kValueError : kValueEnd;
    current_ = true;
  }
  while (IsSkipped(line_)) {
    int got = Fetch(msg);
    if (got != 1) {
      current_ = false;
      return got < 0 ? kValueError : kValueEnd;
    }
  }
  const char* line = line_.data();
  const size_t lineLen = line_.size();
  const char* value = line;
  size_t rest = lineLen;
  if (key && *key) {
    size_t k = TxtSpanN(line, lineLen, '=');
    if (k == lineLen || line[k] != '=') return kValueOtherKey;
    if (!KeyMatches(line, k, key)) return kValueOtherKey;
    value = line + k + 1;
    rest = lineLen - k - 1;
  }
  size_t len = TxtSpanN(value, rest, '\r');
  if (buf && size > 0) {
    len = CutLength(value, len, static_cast<size_t>(size - 1));
    if (len) std::memcpy(buf, value, len);
    buf[len] = '\0';
  }
  current_ = false;
  return kValueFound;
}
