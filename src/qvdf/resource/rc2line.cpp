// Conversion of single lines between the text-table form and the string
// literals of a resource script. Both directions copy runs of plain bytes
// many at a time; only quotes, backslashes, line ends and bytes from 0x80
// (which may open a double-byte character) are handled one by one.
#include "qvdf/resource/rc2line.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"
#include "qvutil/wordscan.h"

namespace {

constexpr size_t kTerminatorLength = sizeof(kRc2LineTerminator) - 1;

// Whether b opens a double-byte character. No code page has a lead byte
// below 0x80, so plain ASCII never asks; the platform is looked up once.
inline bool IsLead(unsigned char b, platform::Env** env) {
  if (b < 0x80) return false;
  if (!*env) *env = platform::Env::Get();
  return (*env)->IsLeadByte(b);
}

inline bool IsIndent(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// Bytes before the first CR or LF (all of them when there is none).
size_t LineEnd(const char* p, size_t n) {
  if (const void* cr = std::memchr(p, '\r', n))
    n = static_cast<size_t>(static_cast<const char*>(cr) - p);
  if (const void* lf = std::memchr(p, '\n', n))
    n = static_cast<size_t>(static_cast<const char*>(lf) - p);
  return n;
}

// Start of the last terminator before `end`, or npos. A plain search is
// safe: inside a literal every real backslash is doubled, so a trail byte
// can never complete a terminator.
size_t FindLastTerminator(std::string_view s, size_t end) {
  if (end < kTerminatorLength) return std::string_view::npos;
  return s.rfind(kRc2LineTerminator, end - kTerminatorLength);
}

}  // namespace

bool IsRc2Space(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

char* EncodeRc2ScriptLine(std::string_view line, char* d) {
  const char* p = line.data();
  const size_t n = line.size();
  if (n == 0 || p[0] == '\r' || p[0] == '\n') return d;

  if (p[0] == '#' || p[0] == ';') {
    size_t end = LineEnd(p, n);
    *d++ = '/';
    *d++ = '/';
    std::memcpy(d, p + 1, end - 1);
    d += end - 1;
    *d++ = '\r';
    *d++ = '\n';
    return d;
  }

  size_t i = 0;
  while (i < n && IsIndent(p[i])) *d++ = p[i++];
  *d++ = '"';
  platform::Env* env = nullptr;
  while (i < n) {
    // The plain run, then the byte that ended it.
    size_t run = wordscan::PlainBytes(p + i, n - i, '"', '\\', '\r', '\n', d);
    d += run;
    i += run;
    if (i == n) break;
    char c = p[i];
    if (c == '\r' || c == '\n') break;
    if (IsLead(static_cast<unsigned char>(c), &env) && i + 1 < n && p[i + 1] != '\r' &&
        p[i + 1] != '\n') {
      *d++ = c;
      *d++ = p[i + 1];
      i += 2;
      continue;
    }
    if (c == '"' || c == '\\') *d++ = c;
    *d++ = c;
    ++i;
  }
  std::memcpy(d, kRc2LineTerminator, kTerminatorLength);
  d += kTerminatorLength;
  *d++ = '\r';
  *d++ = '\n';
  return d;
}

void AppendRc2ScriptLine(std::string_view txtLine, std::string* out) {
  size_t old = out->size();
  out->resize(old + Rc2ScriptRoom(txtLine.size()));
  char* end = EncodeRc2ScriptLine(txtLine, out->data() + old);
  out->resize(static_cast<size_t>(end - out->data()));
}

bool DecodeRc2ScriptLine(std::string_view raw, std::string* out) {
  const char* p = raw.data();
  size_t end = raw.size();
  while (end > 0 && (p[end - 1] == '\n' || p[end - 1] == '\r')) --end;

  // The part of the line the two tests look at: up to `end` or a NUL byte,
  // leading white space skipped. Neither "//" nor "0," has a letter, so the
  // tests need no lower-case copy.
  size_t to = end;
  if (const void* nul = std::memchr(p, '\0', raw.size()))
    to = std::min(to, static_cast<size_t>(static_cast<const char*>(nul) - p));
  size_t from = 0;
  while (from < to && IsRc2Space(p[from])) ++from;

  if (to - from >= 2 && p[from] == '/' && p[from + 1] == '/') {
    // "#", the characters from the second one up to the first "/" among
    // them, then what follows that "/": for a line that begins with "//"
    // this is "#" and everything after the "//".
    size_t stop = LineEnd(p, raw.size());
    size_t slash = raw.find('/', 1);
    out->push_back('#');
    if (slash != std::string_view::npos && slash < stop) {
      out->append(p + 1, slash - 1);
      out->append(p + slash + 1, stop - slash - 1);
    }
    out->append("\r\n");
    return true;
  }

  size_t upTo = to;
  if (const void* quote = std::memchr(p + from, '"', to - from))
    upTo = static_cast<size_t>(static_cast<const char*>(quote) - p);
  for (size_t k = from; k + 1 < upTo; ++k)
    if (p[k] == '0' && p[k + 1] == ',') return false;

  size_t stop = FindLastTerminator(raw, end);
  if (stop == std::string_view::npos) stop = end;
  // The text is never longer than the literal it came from.
  const size_t base = out->size();
  out->resize(base + stop + 2);
  char* d = out->data() + base;
  size_t i = 0;
  while (i < stop && IsRc2Space(p[i])) *d++ = p[i++];
  if (i < stop && p[i] == '"') ++i;
  platform::Env* env = nullptr;
  while (i < stop) {
    size_t run = wordscan::PlainBytes(p + i, stop - i, '"', '\\', '"', '\\', d);
    d += run;
    i += run;
    if (i == stop) break;
    char c = p[i];
    if (IsLead(static_cast<unsigned char>(c), &env) && i + 1 < stop) {
      *d++ = c;
      *d++ = p[i + 1];
      i += 2;
      continue;
    }
    if ((c == '"' || c == '\\') && i + 1 < stop && p[i + 1] == c) ++i;
    *d++ = c;
    ++i;
  }
  *d++ = '\r';
  *d++ = '\n';
  out->resize(static_cast<size_t>(d - out->data()));
  return true;
}
