// Conversion of single lines between the text-table form and the string
// literals of a resource script.
#include "qvdf/resource/rc2line.h"

#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "qvdf/text/textstr.h"

namespace {

constexpr size_t kTerminatorLength = sizeof(kRc2LineTerminator) - 1;

bool IsLead(char c) {
  return platform::Env::Get()->IsLeadByte(static_cast<unsigned char>(c));
}

// Start of the last terminator before `end`, or npos. A plain search is
// safe: inside a literal every real backslash is doubled, so a trail byte
// can never complete a terminator.
size_t FindLastTerminator(const std::string& s, size_t end) {
  if (end < kTerminatorLength) return std::string::npos;
  return s.rfind(kRc2LineTerminator, end - kTerminatorLength);
}

// The comparison copy: leading white space gone, lower case.
std::string TestCopy(const std::string& raw, size_t end) {
  std::vector<char> copy(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(end));
  copy.push_back('\0');
  TrimLeading(copy.data());
  platform::Env::Get()->LowerCase(copy.data());
  return std::string(copy.data());
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

  std::string test = TestCopy(raw, end);
  if (test.compare(0, 2, "//") == 0) {
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

  std::string beforeQuote = test.substr(0, test.find('"'));
  if (beforeQuote.find("0,") != std::string::npos) return false;

  size_t stop = FindLastTerminator(raw, end);
  if (stop == std::string::npos) stop = end;
  std::string text;
  text.reserve(stop + 2);
  size_t i = 0;
  while (i < stop && IsRc2Space(raw[i])) text.push_back(raw[i++]);
  if (i < stop && raw[i] == '"') ++i;
  while (i < stop) {
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
