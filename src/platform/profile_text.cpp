// Line-by-line profile parsing. Lines are kept with their own terminators so
// that an update can splice one line and copy the rest byte for byte.
#include "platform/profile_text.h"

#include <vector>

namespace platform {

namespace {

struct Line {
  std::string body;  // without its terminator
  std::string eol;   // "\r\n", "\n" or "" (last line without one)
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  size_t i = 0;
  while (i < text.size()) {
    size_t lf = text.find('\n', i);
    Line l;
    if (lf == std::string::npos) {
      l.body = text.substr(i);
      i = text.size();
    } else {
      size_t end = (lf > i && text[lf - 1] == '\r') ? lf - 1 : lf;
      l.body = text.substr(i, end - i);
      l.eol = text.substr(end, lf + 1 - end);
      i = lf + 1;
    }
    lines.push_back(std::move(l));
  }
  return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && (IsBlank(s[e - 1]) || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// The section name of a "[name]" line, or nullopt for other lines.
std::optional<std::string> SectionOf(const std::string& body) {
  std::string t = Trim(body);
  if (t.empty() || t[0] != '[') return std::nullopt;
  size_t close = t.find(']');
  return Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

// Splits a "key=value" line; false for lines without "=".
bool KeyValueOf(const std::string& body, std::string* key, std::string* value) {
  size_t eq = body.find('=');
  if (eq == std::string::npos) return false;
  *key = Trim(body.substr(0, eq));
  *value = Trim(body.substr(eq + 1));
  return true;
}

// Index range [begin, end) of the lines inside the first matching section
// (after its header); begin is 0 when the section is missing.
bool FindSection(const std::vector<Line>& lines, const std::string& section, size_t* begin,
                 size_t* end) {
  for (size_t i = 0; i < lines.size(); ++i) {
    auto name = SectionOf(lines[i].body);
    if (!name || !SameText(*name, section)) continue;
    size_t j = i + 1;
    while (j < lines.size() && !SectionOf(lines[j].body)) ++j;
    *begin = i + 1;
    *end = j;
    return true;
  }
  return false;
}

std::string Join(const std::vector<Line>& lines) {
  std::string out;
  for (const auto& l : lines) out += l.body + l.eol;
  return out;
}

}  // namespace

std::optional<std::string> ProfileLookup(const std::string& text, const std::string& section,
                                         const std::string& key) {
  std::vector<Line> lines = SplitLines(text);
  size_t b, e;
  if (!FindSection(lines, section, &b, &e)) return std::nullopt;
  std::string k, v;
  for (size_t i = b; i < e; ++i) {
    if (KeyValueOf(lines[i].body, &k, &v) && SameText(k, key)) {
      // A value in matching quotes is read without them, as Windows reads it.
      if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
        v = v.substr(1, v.size() - 2);
      return v;
    }
  }
  return std::nullopt;
}

std::string ProfileUpdate(const std::string& text, const std::string& section,
                          const std::string& key, const std::string& value) {
  const std::string eol =
      text.find("\r\n") != std::string::npos || text.find('\n') == std::string::npos ? "\r\n"
                                                                                     : "\n";
  std::vector<Line> lines = SplitLines(text);
  Line entry{key + "=" + value, eol};
  size_t b, e;
  if (!FindSection(lines, section, &b, &e)) {
    if (!lines.empty()) {
      if (lines.back().eol.empty()) lines.back().eol = eol;
      lines.push_back(Line{"", eol});
    }
    lines.push_back(Line{"[" + section + "]", eol});
    lines.push_back(entry);
    return Join(lines);
  }
  std::string k, v;
  for (size_t i = b; i < e; ++i) {
    if (KeyValueOf(lines[i].body, &k, &v) && SameText(k, key)) {
      lines[i].body = entry.body;
      return Join(lines);
    }
  }
  size_t at = e;  // after the last non-blank line of the section
  while (at > b && Trim(lines[at - 1].body).empty()) --at;
  if (lines[at - 1].eol.empty()) lines[at - 1].eol = eol;
  lines.insert(lines.begin() + static_cast<long>(at), entry);
  return Join(lines);
}

}  // namespace platform
