// Conversion of single lines between the text-table form and the string
// literals of a resource script.
#include "qvdf/resource/rc2line.h"

#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "qvdf/text/textstr.h"

namespace {

constexpr size_t kTerminatorLength = sizeof(kRc2LineTerminator) - 1;

// No code page has a lead byte below 0x80, so plain ASCII skips the lookup.
bool IsLead(char c) {
  auto b = static_cast<unsigned char>(c);
  return b >= 0x80 && platform::Env::Get()->IsLeadByte(b);
}

// Bytes the literal loops copy as they are, in runs.
bool IsPlain(char c) {
  return static_cast<unsigned char>(c) < 0x80 && c != '"' && c != '\\';
}

// Start of the last terminator before `end`, or npos. A plain search is
// safe: inside a literal every real backslash is doubled, so a trail byte
// can never complete a terminator.
size_t FindLastTerminator(const std::string& s, size_t end) {
  if (end < kTerminatorLength) return std::string::npos;
  return s.rfind(kRc2LineTerminator, end - kTerminatorLength);
}

// The part of the line the two tests look at: up to `end` or a NUL byte,
// leading white space skipped. Neither "//" nor "0," has a letter, so the
// tests need no lower-case copy.
void TestRange(const std::string& raw, size_t end, size_t* from, size_t* to) {
  size_t nul = raw.find('\0');
  *to = nul < end ? nul : end;
  *from = 0;
  while (*from < *to && IsRc2Space(raw[*from])) ++*from;
}

}  // namespace

bool IsRc2Space(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

void AppendRc2ScriptLine(const std::string& txtLine, std::string* out) {
  size_t end = txtLine.find_first_of("\r\n");
  if (end == std::string::npos) end = txtLine.size();
  if (end == 0) return;

  if (txtLine[0] == '#' || txtLine[0] == ';') {
    out->append("//");
    out->append(txtLine, 1, end - 1);
    out->append("\r\n");
    return;
  }

  size_t i = 0;
  while (i < end && IsRc2Space(txtLine[i])) ++i;
  out->append(txtLine, 0, i);
  out->push_back('"');
  while (i < end) {
    size_t run = i;
    while (run < end && IsPlain(txtLine[run])) ++run;
    if (run > i) {
      out->append(txtLine, i, run - i);
      i = run;
      continue;
    }
    char c = txtLine[i];
    if (IsLead(c) && i + 1 < end) {
      out->append(txtLine, i, 2);
      i += 2;
      continue;
    }
    if (c == '"' || c == '\\') out->push_back(c);
    out->push_back(c);
    ++i;
  }
  out->append(kRc2LineTerminator);
  out->append("\r\n");
}

bool DecodeRc2ScriptLine(const std::string& raw, std::string* out) {
  size_t end = raw.size();
  while (end > 0 && (raw[end - 1] == '\n' || raw[end - 1] == '\r')) --end;

  size_t from = 0, to = 0;
  TestRange(raw, end, &from, &to);
  if (to - from >= 2 && raw[from] == '/' && raw[from + 1] == '/') {
    // "#", the characters from the second one up to the first "/" among
    // them, then what follows that "/": for a line that begins with "//"
    // this is "#" and everything after the "//".
    size_t stop = raw.find_first_of("\r\n");
    if (stop == std::string::npos) stop = raw.size();
    size_t slash = raw.find('/', 1);
    std::string text("#");
    if (slash != std::string::npos && slash < stop) {
      text.append(raw, 1, slash - 1);
      text.append(raw, slash + 1, stop - slash - 1);
    }
    text.append("\r\n");
    *out = std::move(text);
    return true;
  }

  size_t quote = raw.find('"', from);
  size_t upTo = quote < to ? quote : to;
  for (size_t k = from; k + 1 < upTo; ++k)
    if (raw[k] == '0' && raw[k + 1] == ',') return false;

  size_t stop = FindLastTerminator(raw, end);
  if (stop == std::string::npos) stop = end;
  std::string text;
  text.reserve(stop + 2);
  size_t i = 0;
  while (i < stop && IsRc2Space(raw[i])) text.push_back(raw[i++]);
  if (i < stop && raw[i] == '"') ++i;
  while (i < stop) {
    size_t run = i;
    while (run < stop && IsPlain(raw[run])) ++run;
    if (run > i) {
      text.append(raw, i, run - i);
      i = run;
      continue;
    }
    char c = raw[i];
    if (IsLead(c) && i + 1 < stop) {
      text.append(raw, i, 2);
      i += 2;
      continue;
    }
    if ((c == '"' || c == '\\') && i + 1 < stop && raw[i + 1] == c) ++i;
    text.push_back(c);
    ++i;
  }
  text.append("\r\n");
  *out = std::move(text);
  return true;
}
